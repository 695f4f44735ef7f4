// Data points from Python: create, get, get_many, put, put_fields, query, points, delete, types.
//
// Each function takes `server` and `realm` keywords (None: the server at position "own" and the
// server's default realm) and makes the library's own call with the GIL released. Records come
// back as new Python Records; lists the library filled are released with their Destory…
// operation on every path, and a nonzero code raises before anything is handed back.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/partial_record.h"
#include "python/src/binding.h"

namespace pyostrel {
namespace {

using Text = std::optional<std::string>;

// Owns a filled list until the end of the scope.
struct DataList : BrennicDataList {
  DataList() = default;
  DataList(const DataList&) = delete;
  DataList& operator=(const DataList&) = delete;
  ~DataList() { Ostrel::DestoryBrennicDataList(this); }
};

struct NameList : ObjectNames {
  NameList() = default;
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;
  ~NameList() { Ostrel::DeatoryNameSeq(this); }
};

py::list records(const BrennicDataList& list) {
  py::list out;
  for (int i = 0; i < list.count; ++i)
    if (list.items[i] != nullptr) out.append(wrap(*list.items[i]));
  return out;
}

py::list names(const ObjectNames& list) {
  py::list out;
  for (int i = 0; i < list.count; ++i) out.append(py::str(list.names[i] ? list.names[i] : ""));
  return out;
}

void create(const std::string& name, const py::object& value, const Text& server, const Text& realm) {
  if (py::isinstance<py::str>(value)) {
    const std::string type = value.cast<std::string>();
    return run("create", [&] { return Ostrel::CreateDataPoint(cstr(name), cstr(type), orNull(server), orNull(realm)); });
  }
  BrennicData& record = value.cast<BrennicData&>();
  run("create", [&] { return Ostrel::CreateDataPoint(cstr(name), record, orNull(server), orNull(realm)); });
}

std::unique_ptr<BrennicData> get(const std::string& name, const Text& server, const Text& realm) {
  auto record = std::make_unique<BrennicData>();
  run("get " + name, [&] { return Ostrel::GetDataPoint(cstr(name), *record, orNull(server), orNull(realm)); });
  return record;
}

py::dict getMany(const std::vector<std::string>& wanted, const Text& server, const Text& realm) {
  for (const std::string& name : wanted) cstr(name);
  DataList list;
  run("get_many", [&] { return Ostrel::GetDataPointN(wanted, list, orNull(server), orNull(realm)); });
  py::dict out;
  for (int i = 0; i < list.count; ++i)
    if (list.items[i] != nullptr) out[py::str(list.items[i]->GetDataName())] = wrap(*list.items[i]);
  return out;
}

void putFields(const std::string& name, const py::dict& fields, const Text& type, const Text& server,
               const Text& realm) {
  std::string typeName;
  if (type) {
    typeName = *type;
  } else {  // the point's own type, as the server has it
    BrennicData point;
    run("put_fields " + name, [&] { return Ostrel::GetDataPoint(cstr(name), point, orNull(server), orNull(realm)); });
    if (point.GetTypeName() != nullptr) typeName = point.GetTypeName();
  }
  auto record = newRecord<BrennicPartialData>(typeName);
  assign(*record, fields);
  run("put_fields " + name, [&] { return Ostrel::PutPartialDataPoint(cstr(name), *record, orNull(server), orNull(realm)); });
}

py::list query(const std::string& type, const py::dict& fields, const Text& server, const Text& realm) {
  auto filter = newRecord<BrennicPartialData>(type);
  assign(*filter, fields);
  std::vector<char> typeName(type.begin(), type.end());
  typeName.push_back('\0');
  DataList list;
  run("query", [&] { return Ostrel::QueryDataPoint(*filter, typeName.data(), list, orNull(server), orNull(realm)); });
  return records(list);
}

py::list points(const Text& type, const Text& server, const Text& realm) {
  NameList list;
  run("points", [&] {
    return type ? Ostrel::GetAllPointNameByType(&list, cstr(*type), orNull(server), orNull(realm))
                : Ostrel::GetAllPointName(&list, orNull(server), orNull(realm));
  });
  return names(list);
}

}  // namespace

void bindPoints(py::module_& m) {
  const auto server = py::arg("server") = py::none();
  const auto realm = py::arg("realm") = py::none();
  m.def("create", &create, py::arg("name"), py::arg("value"), py::kw_only(), server, realm,
        "Creates the data point `name` holding the Record `value`, or zero-filled of the type named by a str.");
  m.def("get", &get, py::arg("name"), py::kw_only(), server, realm, "The data point's value as a new Record.");
  m.def("get_many", &getMany, py::arg("names"), py::kw_only(), server, realm,
        "The named data points as a dict of name to Record, in one remote call; any name missing raises NotFound.");
  m.def("put", [](const std::string& name, BrennicData& record, const Text& s, const Text& r) {
        run("put " + name, [&] { return Ostrel::PutDataPoint(cstr(name), record, orNull(s), orNull(r)); });
      }, py::arg("name"), py::arg("record"), py::kw_only(), server, realm, "Writes the whole Record to the data point.");
  m.def("_put_fields", &putFields, py::arg("name"), py::arg("fields"), py::arg("type"), server, realm);
  m.def("_query", &query, py::arg("type"), py::arg("fields"), server, realm);
  m.def("points", &points, py::arg("type") = py::none(), py::kw_only(), server, realm,
        "Names of the data points (of one type when given).");
  m.def("delete", [](const std::string& name, const Text& s, const Text& r) {
        run("delete " + name, [&] { return Ostrel::DeleteDataPoint(cstr(name), orNull(s), orNull(r)); });
      }, py::arg("name"), py::kw_only(), server, realm, "Deletes the data point.");
  m.def("types", [](const Text& s, const Text& r) {
        NameList list;
        run("types", [&] { return Ostrel::GetTarnTypes(&list, orNull(s), orNull(r)); });
        return names(list);
      }, py::kw_only(), server, realm, "Names of the data types the server knows.");
}

}  // namespace pyostrel
