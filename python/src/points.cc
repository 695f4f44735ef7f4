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
#include "ostrel/datapoints/query_names.h"
#include "binding.h"

namespace pyostrel {
namespace {

// Owns a filled list until it goes.
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

// The records of a filled list as Python Records. Each record changes hands rather than being
// copied: its entry is cleared, so the list's release skips it and Python deletes it.
py::list records(BrennicDataList& list) {
  py::list out;
  for (int i = 0; i < list.count; ++i) {
    BrennicData* record = list.items[i];
    list.items[i] = nullptr;
    if (record != nullptr) out.append(adopt(record));
  }
  return out;
}

py::list names(const ObjectNames& list) {
  py::list out;
  for (int i = 0; i < list.count; ++i) out.append(py::str(list.names[i] ? list.names[i] : ""));
  return out;
}

void create(const std::string& name, const py::object& value, const Text& server, const Text& realm) {
  cstr(name);
  if (py::isinstance<py::str>(value)) {
    const std::string type = value.cast<std::string>();
    cstr(type);
    return run(server, "create " + name, [=] {
      return Ostrel::CreateDataPoint(name.c_str(), type.c_str(), orNull(server), orNull(realm));
    });
  }
  auto record = std::make_shared<BrennicData>(value.cast<BrennicData&>());
  run(server, "create " + name, [=] { return Ostrel::CreateDataPoint(name.c_str(), *record, orNull(server), orNull(realm)); });
}

std::unique_ptr<BrennicData> get(const std::string& name, const Text& server, const Text& realm) {
  cstr(name);
  auto record = std::make_shared<std::unique_ptr<BrennicData>>(std::make_unique<BrennicData>());
  run(server, "get " + name, [=] { return Ostrel::GetDataPoint(name.c_str(), **record, orNull(server), orNull(realm)); });
  return std::move(*record);
}

using Names = std::shared_ptr<const std::vector<std::string>>;

// The names of `keys` for the library. The last list converted is kept with the str objects it
// came from, so that reading the same names again (a polling loop) skips the conversion: str
// objects never change, so the same objects mean the same names. Guarded by the GIL; never
// released (it may outlive the interpreter's teardown).
Names convert(const py::tuple& keys) {
  static PyObject* lastKeys = nullptr;
  static Names* lastNames = new Names;
  if (lastKeys != nullptr && PyTuple_GET_SIZE(lastKeys) == PyTuple_GET_SIZE(keys.ptr())) {
    bool same = true;
    for (Py_ssize_t i = 0; same && i < PyTuple_GET_SIZE(lastKeys); ++i)
      same = PyTuple_GET_ITEM(lastKeys, i) == PyTuple_GET_ITEM(keys.ptr(), i);
    if (same) return *lastNames;
  }
  auto names = std::make_shared<std::vector<std::string>>();
  names->reserve(keys.size());
  for (py::handle item : keys) {
    if (!PyUnicode_Check(item.ptr())) throw py::type_error("names are str, not " + std::string(Py_TYPE(item.ptr())->tp_name));
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item.ptr(), &size);
    if (text == nullptr) throw py::error_already_set();
    names->emplace_back(text, static_cast<std::size_t>(size));
    cstr(names->back());
  }
  Py_XDECREF(lastKeys);
  lastKeys = keys.inc_ref().ptr();
  *lastNames = names;
  return names;
}

py::dict getMany(const py::iterable& wanted, const Text& server, const Text& realm) {
  // The caller's own str objects become the keys where the answer comes back in their order.
  const py::tuple keys = py::reinterpret_steal<py::tuple>(PySequence_Tuple(wanted.ptr()));
  if (!keys) throw py::error_already_set();
  auto list = std::make_shared<DataList>();
  const Names request = convert(keys);
  const int rc = interruptible(server, [=] { return Ostrel::GetDataPointN(*request, *list, orNull(server), orNull(realm)); });
  if (rc == code::kNoSuchObject) {
    // The library says only that one is missing: name them (the first few), one read each.
    auto missing = std::make_shared<std::vector<std::string>>();
    const int found = interruptible(server, [=] {
      for (const std::string& name : *request) {
        BrennicData record;
        const int one = Ostrel::GetDataPoint(name.c_str(), record, orNull(server), orNull(realm));
        if (one == code::kNoSuchObject) missing->push_back(name);
        if ((one != 0 && one != code::kNoSuchObject) || missing->size() > 3) return one;
      }
      return 0;
    });
    std::string named;
    for (std::size_t i = 0; i < missing->size() && i < 3; ++i) named += (i ? ", " : " ") + (*missing)[i];
    if (missing->size() > 3) named += " and more";
    raise(rc, "get_many" + (found == 0 && !missing->empty() ? std::string(": no point") + named : std::string()));
  }
  check(rc, "get_many");
  py::dict out;
  const std::size_t asked = keys.size();
  for (int i = 0; i < list->count; ++i) {
    BrennicData* record = list->items[i];
    if (record == nullptr) continue;
    list->items[i] = nullptr;
    py::object value = adopt(record);
    const std::size_t at = static_cast<std::size_t>(i);
    const char* name = record->GetDataName();
    const int rc = at < asked && (*request)[at] == name
                       ? PyDict_SetItem(out.ptr(), PyTuple_GET_ITEM(keys.ptr(), i), value.ptr())
                       : PyDict_SetItem(out.ptr(), py::str(name).ptr(), value.ptr());
    if (rc != 0) throw py::error_already_set();
  }
  return out;
}

void putFields(const std::string& name, const py::dict& fields, const Text& type, const Text& server,
               const Text& realm) {
  cstr(name);
  std::string typeName;
  if (type) {
    typeName = *type;
  } else {  // the point's own type, as the server has it
    auto point = std::make_shared<BrennicData>();
    run(server, "put_fields " + name, [=] { return Ostrel::GetDataPoint(name.c_str(), *point, orNull(server), orNull(realm)); });
    if (point->GetTypeName() != nullptr) typeName = point->GetTypeName();
  }
  std::shared_ptr<BrennicPartialData> record = newRecord<BrennicPartialData>(typeName);
  assign(*record, fields);
  run(server, "put_fields " + name, [=] { return Ostrel::PutPartialDataPoint(name.c_str(), *record, orNull(server), orNull(realm)); });
}

py::list query(const std::string& type, const py::dict& fields, const Text& server, const Text& realm) {
  std::shared_ptr<BrennicPartialData> filter = newRecord<BrennicPartialData>(type);
  assign(*filter, fields);
  auto list = std::make_shared<DataList>();
  run(server, "query", [=] {
    std::vector<char> typeName(type.begin(), type.end());
    typeName.push_back('\0');
    const int rc = Ostrel::QueryDataPoint(*filter, typeName.data(), *list, orNull(server), orNull(realm));
    // The answer holds values only: each record is named after the point that holds its value.
    if (rc == 0) OstrelExt::nameQueryAnswer(*list, typeName.data(), orNull(server), orNull(realm));
    return rc;
  });
  return records(*list);
}

py::list points(const Text& type, const Text& server, const Text& realm) {
  if (type) cstr(*type);
  auto list = std::make_shared<NameList>();
  run(server, "points", [=] {
    return type ? Ostrel::GetAllPointNameByType(list.get(), type->c_str(), orNull(server), orNull(realm))
                : Ostrel::GetAllPointName(list.get(), orNull(server), orNull(realm));
  });
  return names(*list);
}

}  // namespace

void bindPoints(py::module_& m) {
  const auto server = py::arg("server") = py::none();
  const auto realm = py::arg("realm") = py::none();
  m.def("create", &create, py::arg("name"), py::arg("value"), py::kw_only(), server, realm,
        "Creates the data point `name` holding the Record `value`, or zero-filled of the type named by a str.\n\n"
        "Raises ostrel.Error 2005 when it exists, 2007 for an unknown type; " OSTREL_RAISES_REMOTE);
  m.def("get", &get, py::arg("name"), py::kw_only(), server, realm,
        "The data point's value as a new Record.\n\nRaises ostrel.NotFound (2003) when there is no such point; "
        OSTREL_RAISES_REMOTE);
  m.def("get_many", &getMany, py::arg("names"), py::kw_only(), server, realm,
        "The named data points as a dict of name to Record (in the order asked), in one remote call.\n\n"
        "Raises ostrel.NotFound (2003) when any name is missing, TypeError for a name that is not a str, "
        "ValueError for one with NUL; " OSTREL_RAISES_REMOTE);
  m.def("put", [](const std::string& name, BrennicData& record, const Text& s, const Text& r) {
        cstr(name);
        auto copy = std::make_shared<BrennicData>(record);
        run(s, "put " + name, [=] { return Ostrel::PutDataPoint(name.c_str(), *copy, orNull(s), orNull(r)); });
      }, py::arg("name"), py::arg("record"), py::kw_only(), server, realm,
      "Writes the whole Record to the data point.\n\nRaises ostrel.NotFound (2003) when there is no such point; "
      OSTREL_RAISES_REMOTE);
  m.def("_put_fields", &putFields, py::arg("name"), py::arg("fields"), py::arg("type"), server, realm);
  m.def("_query", &query, py::arg("type"), py::arg("fields"), server, realm);
  m.def("points", &points, py::arg("type") = py::none(), py::kw_only(), server, realm,
        "Names of the data points (of one type when given).\n\nRaises " OSTREL_RAISES_REMOTE);
  m.def("nulls", [](const Text& s, const Text& r) {
        auto list = std::make_shared<NameList>();
        run(s, "nulls", [=] { return Ostrel::CheckNullData(list.get(), orNull(s), orNull(r)); });
        return names(*list);
      }, py::kw_only(), server, realm,
      "Names of the data points that were created but never written.\n\nRaises " OSTREL_RAISES_REMOTE);
  m.def("delete", [](const std::string& name, const Text& s, const Text& r) {
        cstr(name);
        run(s, "delete " + name, [=] { return Ostrel::DeleteDataPoint(name.c_str(), orNull(s), orNull(r)); });
      }, py::arg("name"), py::kw_only(), server, realm,
      "Deletes the data point.\n\nRaises ostrel.NotFound (2003) when there is no such point; " OSTREL_RAISES_REMOTE);
  m.def("types", [](const Text& s, const Text& r) {
        auto list = std::make_shared<NameList>();
        run(s, "types", [=] { return Ostrel::GetTarnTypes(list.get(), orNull(s), orNull(r)); });
        return names(*list);
      }, py::kw_only(), server, realm, "Names of the data types the server knows.\n\nRaises " OSTREL_RAISES_REMOTE);
}

}  // namespace pyostrel
