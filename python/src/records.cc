// Records from Python: ostrel.Record, values by path converted by the element's declared type.
//
//   element type                        Python value
//   unsigned_int, word, wchar, byte     int within the unsigned range of its width
//   signed_int, signed_word, kx_time,   int within the signed range of its width
//   kx_time2, char
//   float, double                       float (an int is taken too); a float beyond the float
//                                       range is refused, infinities and NaN are kept
//   char[N], wchar[N]                   str (UTF-8, UTF-16 in the record) of at most N units,
//                                       read up to the first NUL
//   other arrays                        list of at most N items (items past the list stay)
//   a type with elements                dict by element name (a Record of the type is taken too)
//
// A value of the wrong kind raises TypeError, one out of range OverflowError, a text too long
// ValueError; the record is then unchanged. Reads and writes stay inside the record's block.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ostrel/api/result_codes.h"
#include "ostrel/data/data_type.h"
#include "ostrel/data/partial_record.h"
#include "ostrel/data/record.h"
#include "ostrel/data/type_mgr.h"
#include "binding.h"

namespace pyostrel {
namespace {

enum class Base { kNone, kU8, kI8, kU16, kI16, kU32, kI32, kI64, kFloat, kDouble };

Base baseOf(const TarnDataType* type) {
  if (type == nullptr || !type->GetAllElement().empty()) return Base::kNone;
  static const struct {
    const char* name;
    Base base;
  } kTable[] = {{"unsigned_int", Base::kU32}, {"signed_int", Base::kI32}, {"char", Base::kI8},
                {"byte", Base::kU8},          {"word", Base::kU16},       {"wchar", Base::kU16},
                {"signed_word", Base::kI16},  {"kx_time", Base::kI32},    {"kx_time2", Base::kI64},
                {"float", Base::kFloat},      {"double", Base::kDouble}};
  for (const auto& row : kTable)
    if (std::strcmp(type->GetTypeName(), row.name) == 0) return row.base;
  return Base::kNone;
}

bool isText(const TarnDataType* type, int count) {
  if (count <= 1 || type == nullptr) return false;
  return std::strcmp(type->GetTypeName(), "char") == 0 || std::strcmp(type->GetTypeName(), "wchar") == 0;
}

[[noreturn]] void fail(PyObject* kind, const std::string& message) {
  PyErr_SetString(kind, message.c_str());
  throw py::error_already_set();
}

template <typename T>
py::object load(const char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return py::cast(value);
}

template <typename T>
void storeInt(const py::handle& value, char* bytes) {
  if (!PyLong_Check(value.ptr())) fail(PyExc_TypeError, "an int is needed, not " + std::string(Py_TYPE(value.ptr())->tp_name));
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || v < static_cast<long long>(std::numeric_limits<T>::min()) ||
      (v > 0 && static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<T>::max())))
    fail(PyExc_OverflowError, py::repr(value).cast<std::string>() + " is out of the element's range");
  const T item = static_cast<T>(v);
  std::memcpy(bytes, &item, sizeof item);
}

double asDouble(const py::handle& value) {
  if (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr()))
    fail(PyExc_TypeError, "a float is needed, not " + std::string(Py_TYPE(value.ptr())->tp_name));
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

void encodeBase(Base base, const py::handle& value, char* bytes) {
  switch (base) {
    case Base::kU8: return storeInt<std::uint8_t>(value, bytes);
    case Base::kI8:
      if (PyUnicode_Check(value.ptr())) {  // a one-character text for a char
        const std::u32string text = value.cast<std::u32string>();
        if (text.size() != 1 || text[0] > 0xFF) fail(PyExc_ValueError, "a char takes one character up to U+00FF");
        bytes[0] = static_cast<char>(text[0]);
        return;
      }
      return storeInt<std::int8_t>(value, bytes);
    case Base::kU16: return storeInt<std::uint16_t>(value, bytes);
    case Base::kI16: return storeInt<std::int16_t>(value, bytes);
    case Base::kU32: return storeInt<std::uint32_t>(value, bytes);
    case Base::kI32: return storeInt<std::int32_t>(value, bytes);
    case Base::kI64: return storeInt<std::int64_t>(value, bytes);
    case Base::kDouble: {
      const double v = asDouble(value);
      std::memcpy(bytes, &v, sizeof v);
      return;
    }
    case Base::kFloat: {
      const double v = asDouble(value);
      if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
        fail(PyExc_OverflowError, py::repr(value).cast<std::string>() + " is out of the float range");
      const float f = static_cast<float>(v);
      std::memcpy(bytes, &f, sizeof f);
      return;
    }
    case Base::kNone: break;
  }
}

py::object decodeBase(Base base, const char* bytes) {
  switch (base) {
    case Base::kU8: return load<std::uint8_t>(bytes);
    case Base::kI8: return load<std::int8_t>(bytes);
    case Base::kU16: return load<std::uint16_t>(bytes);
    case Base::kI16: return load<std::int16_t>(bytes);
    case Base::kU32: return load<std::uint32_t>(bytes);
    case Base::kI32: return load<std::int32_t>(bytes);
    case Base::kI64: return load<std::int64_t>(bytes);
    case Base::kFloat: return load<float>(bytes);
    case Base::kDouble: return load<double>(bytes);
    case Base::kNone: break;
  }
  return py::none();
}

py::object decodeText(const TarnDataType* type, int count, const char* bytes) {
  if (type->GetTypeSize() == 1) {
    const void* nul = std::memchr(bytes, 0, count);
    const Py_ssize_t n = nul ? static_cast<const char*>(nul) - bytes : count;
    return py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(bytes, n, "replace"));
  }
  std::u16string units(count, u'\0');
  std::memcpy(&units[0], bytes, count * 2);
  units.resize(units.find(u'\0') == std::u16string::npos ? units.size() : units.find(u'\0'));
  int order = -1;  // little-endian, as the record holds it
  return py::reinterpret_steal<py::object>(
      PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units.data()), units.size() * 2, "replace", &order));
}

void encodeText(const TarnDataType* type, int count, const py::handle& value, char* bytes) {
  std::string data;
  if (type->GetTypeSize() == 1 && PyBytes_Check(value.ptr())) {
    data = value.cast<std::string>();
  } else if (PyUnicode_Check(value.ptr())) {
    data = type->GetTypeSize() == 1 ? value.cast<std::string>()
                                    : value.attr("encode")("utf-16-le").cast<std::string>();
  } else {
    fail(PyExc_TypeError, "a str is needed, not " + std::string(Py_TYPE(value.ptr())->tp_name));
  }
  const std::size_t capacity = static_cast<std::size_t>(count) * type->GetTypeSize();
  if (data.size() > capacity)
    fail(PyExc_ValueError, "the text needs " + std::to_string(data.size() / type->GetTypeSize()) +
                               " units; the element holds " + std::to_string(count));
  std::memset(bytes, 0, capacity);
  std::memcpy(bytes, data.data(), data.size());
}

}  // namespace

py::object decodeValue(const TarnDataType* type, int count, const char* bytes, std::size_t size) {
  if (type == nullptr) raise(OstrelCode::kUntypedElement, "read");
  const std::size_t item = type->GetTypeSize();
  if (item == 0 || item * count > size) raise(OstrelCode::kInvalidRecord, "read");
  if (isText(type, count)) return decodeText(type, count, bytes);
  if (count != 1) {
    py::list items;
    for (int i = 0; i < count; ++i) items.append(decodeValue(type, 1, bytes + i * item, item));
    return std::move(items);
  }
  const Base base = baseOf(type);
  if (base != Base::kNone) return decodeBase(base, bytes);
  std::vector<const DataVariable*> elements;  // in layout order
  for (const auto& element : type->GetAllElement()) elements.push_back(element.second);
  std::stable_sort(elements.begin(), elements.end(),
                   [](const DataVariable* a, const DataVariable* b) { return a->offset < b->offset; });
  py::dict fields;
  for (const DataVariable* var : elements) {
    const std::string& name = var->name;
    const std::size_t width = var->type ? std::size_t{var->type->GetTypeSize()} * var->count : 0;
    if (var->offset + width > size) raise(OstrelCode::kInvalidRecord, "read " + name);
    fields[py::str(name)] = decodeValue(var->type, var->count, bytes + var->offset, width);
  }
  return std::move(fields);
}

void encodeValue(const TarnDataType* type, int count, const py::handle& value, char* bytes, std::size_t size) {
  if (type == nullptr) raise(OstrelCode::kUntypedElement, "write");
  const std::size_t item = type->GetTypeSize();
  if (item == 0 || item * count > size) raise(OstrelCode::kInvalidRecord, "write");
  if (isText(type, count)) return encodeText(type, count, value, bytes);
  if (count != 1) {
    if (!PySequence_Check(value.ptr()) || PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()))
      fail(PyExc_TypeError, "a list is needed for an array of " + std::to_string(count));
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    if (items.size() > static_cast<std::size_t>(count))
      fail(PyExc_ValueError, std::to_string(items.size()) + " items for an array of " + std::to_string(count));
    for (std::size_t i = 0; i < items.size(); ++i) encodeValue(type, 1, items[i], bytes + i * item, item);
    return;
  }
  const Base base = baseOf(type);
  if (base != Base::kNone) return encodeBase(base, value, bytes);
  if (py::isinstance<BrennicData>(value)) {
    auto& other = value.cast<BrennicData&>();
    if (other.GetTypeName() == nullptr || std::strcmp(other.GetTypeName(), type->GetTypeName()) != 0 ||
        other.GetBufferSize() != item || other.GetRawValue() == nullptr)
      fail(PyExc_TypeError, std::string("a record of type ") + type->GetTypeName() + " is needed");
    std::memcpy(bytes, other.GetRawValue(), item);
    return;
  }
  if (!PyDict_Check(value.ptr())) fail(PyExc_TypeError, std::string("a dict is needed for ") + type->GetTypeName());
  for (const auto& [key, field] : py::reinterpret_borrow<py::dict>(value)) {
    const std::string name = py::str(key);
    const DataVariable* var = type->GetElement(std::string_view(name));
    if (var == nullptr) raise(OstrelCode::kElementNotFound, std::string(type->GetTypeName()) + " has no element " + name);
    const std::size_t width = var->type ? std::size_t{var->type->GetTypeSize()} * var->count : 0;
    if (var->offset + width > size) raise(OstrelCode::kInvalidRecord, "write " + name);
    encodeValue(var->type, var->count, field, bytes + var->offset, width);
  }
}

namespace {

// The field at `path`: where it lies in the block and what it holds.
struct Field {
  DataVariable* element = nullptr;
  char* bytes = nullptr;
  unsigned int size = 0;
  int count() const { return element->type->GetTypeSize() ? size / element->type->GetTypeSize() : 0; }
};

Field locate(BrennicData& record, const std::string& path) {
  Field field;
  unsigned int offset = 0;
  if (record.GetTypeName() == nullptr) raise(OstrelCode::kRecordWithoutType, path);
  if (int rc = record.LocateField(cstr(path), offset, field.size, &field.element)) raise(rc, path);
  if (field.element == nullptr || field.element->type == nullptr) raise(OstrelCode::kUntypedElement, path);
  field.bytes = static_cast<char*>(record.GetValue(path.c_str()));
  if (field.bytes == nullptr || offset + field.size > record.GetBufferSize()) raise(OstrelCode::kInvalidRecord, path);
  return field;
}

py::object get(BrennicData& record, const std::string& path) {
  const Field field = locate(record, path);
  return decodeValue(field.element->type, field.count(), field.bytes, field.size);
}

void set(BrennicData& record, const std::string& path, const py::handle& value) {
  const Field field = locate(record, path);
  // Encoded over a copy of the field, so that a dict or a short list changes only what it names
  // and a failed conversion leaves the record as it was.
  std::vector<char> bytes(field.bytes, field.bytes + field.size);
  encodeValue(field.element->type, field.count(), value, bytes.data(), bytes.size());
  auto* partial = dynamic_cast<BrennicPartialData*>(&record);
  const int rc = partial ? partial->putValue(path.c_str(), bytes.data(), static_cast<int>(bytes.size()))
                         : record.PutValueImpl(path.c_str(), bytes.data(), static_cast<int>(bytes.size()));
  check(rc, path.c_str());
}

std::unique_ptr<BrennicData> makeRecord(const std::string& type, const py::object& values, const py::kwargs& fields) {
  auto record = newRecord<BrennicData>(type);
  if (!values.is_none()) assign(*record, values);
  assign(*record, fields);
  return record;
}

// The record's type as the type manager holds it (types are never removed while it lives).
// The lookup waits for the manager's lock, which a remote type build may hold for long.
const TarnDataType* TarnTypeOf(BrennicData& record) {
  const char* name = record.GetTypeName();
  Unlocked unlocked;
  return TarnTypeMgr::GetInstance()->CheckDataType(name);
}

py::object typeOf(BrennicData& record) {
  const char* name = record.GetTypeName();
  return name ? py::object(py::str(name)) : py::object(py::none());
}

py::bytes rawOf(BrennicData& record) {
  const char* raw = record.GetRawValue();
  return raw ? py::bytes(raw, record.GetBufferSize()) : py::bytes();
}

}  // namespace

namespace {

// A partial record sends only the paths written to it, so a dict or a list given for one is
// written leaf by leaf ("speed.value", "levels[0]"): a whole element would carry zeros for
// everything the caller did not name.
void assignPath(BrennicData& record, BrennicPartialData* partial, const std::string& path, const py::handle& value) {
  if (partial != nullptr && PyDict_Check(value.ptr())) {
    for (const auto& [key, item] : py::reinterpret_borrow<py::dict>(value))
      assignPath(record, partial, path + "." + py::str(key).cast<std::string>(), item);
  } else if (partial != nullptr && PyList_Check(value.ptr()) && !path.empty() && path.back() != ']') {
    const py::list items = py::reinterpret_borrow<py::list>(value);
    for (std::size_t i = 0; i < items.size(); ++i)
      assignPath(record, partial, path + "[" + std::to_string(i) + "]", items[i]);
  } else {
    set(record, path, value);
  }
}

}  // namespace

void assign(BrennicData& record, const py::handle& values) {
  if (!PyDict_Check(values.ptr())) fail(PyExc_TypeError, "field values are given as a dict of path to value");
  auto* partial = dynamic_cast<BrennicPartialData*>(&record);
  for (const auto& [path, value] : py::reinterpret_borrow<py::dict>(values))
    assignPath(record, partial, py::str(path), value);
}

void lookingUpType(const std::string& type, std::function<bool()> make) {
  static std::set<std::string>* found = new std::set<std::string>;  // guarded by the GIL; kept to the end
  if (found->count(type) != 0) {
    Unlocked unlocked;
    make();
    return;
  }
  if (interruptibleAnywhere([make] { return make() ? 1 : 0; }) == 1) found->insert(type);
}

py::object wrap(const BrennicData& record) {
  return py::cast(std::make_unique<BrennicData>(record));
}

py::object adopt(BrennicData* record) {
  // pybind11's cast with take_ownership, step by step (pybind11 2.10's instance layout), less
  // its two lookups of the registered type by name per record: get_many makes thousands.
  static const py::detail::type_info* const type = py::detail::get_type_info(typeid(BrennicData));
  std::unique_ptr<BrennicData> holder(record);
  auto made = py::reinterpret_steal<py::object>(py::detail::make_new_instance(type->type));
  if (!made) throw py::error_already_set();
  auto* instance = reinterpret_cast<py::detail::instance*>(made.ptr());
  py::detail::value_and_holder slot = instance->get_value_and_holder(type);
  slot.value_ptr() = record;
  instance->owned = true;
  py::detail::register_instance(instance, record, type);
  slot.set_instance_registered();
  new (std::addressof(slot.holder<std::unique_ptr<BrennicData>>())) std::unique_ptr<BrennicData>(std::move(holder));
  slot.set_holder_constructed();
  return made;
}

void bindRecords(py::module_& m) {
  py::class_<BrennicData>(m, "Record", "One value of a middleware data type, read and written by field path.")
      .def(py::init(&makeRecord), py::arg("type"), py::arg("values") = py::none(), py::pos_only(),
           "Record(type, values=None, /, **fields): a zero-filled record of the data type, then the\n"
           "given fields written ({'speed.value': 1.5} or value=1.5).\n\n"
           "Raises ostrel.NotFound for an unknown type or field, TypeError, OverflowError or ValueError for\n"
           "a value the field cannot hold.")
      .def_static(
          "from_bytes",
          [](const std::string& type, const py::bytes& data) {
            auto record = newRecord<BrennicData>(type);
            std::string raw = data;
            if (raw.size() != record->GetBufferSize())
              fail(PyExc_ValueError, type + " takes " + std::to_string(record->GetBufferSize()) + " bytes, not " +
                                         std::to_string(raw.size()));
            record->SetRawValue(raw.data(), static_cast<int>(raw.size()));
            return record;
          },
          py::arg("type"), py::arg("data"),
          "A record of `type` holding exactly its size in bytes.\n\n"
          "Raises ostrel.NotFound for an unknown type, ValueError for data of another size.")
      .def("__getitem__", &get, py::arg("path"), "The field's value, converted by its declared type.")
      .def("__setitem__", &set, py::arg("path"), py::arg("value"), "Writes the field; the record is unchanged on error.")
      .def("to_dict",
           [](BrennicData& record) {
             if (record.GetTypeName() == nullptr) raise(OstrelCode::kRecordWithoutType, "to_dict");
             return decodeValue(TarnTypeOf(record), 1, record.GetRawValue(), record.GetBufferSize());
           },
           "Every element by name: nested types as dicts, arrays as lists, texts as str.\n\n"
           "Raises ostrel.NotFound (4000) for a record without type.")
      .def_property_readonly("type", &typeOf, "The data type's name, or None for a record without type.")
      .def_property("name", [](BrennicData& r) { return std::string(r.GetDataName()); },
                    [](BrennicData& r, const std::string& name) {
                      if (name.size() >= BrennicData::kNameCapacity) throw py::value_error("a name has at most 257 bytes");
                      r.SetFullName(cstr(name));
                    },
                    "The data point name the record carries (empty when none).")
      .def("__bytes__", &rawOf, "The raw value: the exact byte image of the type's layout.")
      .def("__eq__", [](BrennicData& a, BrennicData& b) {
             return typeOf(a).equal(typeOf(b)) && rawOf(a).equal(rawOf(b));
           }, py::is_operator())
      .def("__copy__", [](const BrennicData& r) { return std::make_unique<BrennicData>(r); })
      .def("__repr__", [](BrennicData& r) {
        if (r.GetTypeName() == nullptr) return std::string("Record(None)");
        return "Record(" + py::repr(typeOf(r)).cast<std::string>() + ", " +
               py::repr(decodeValue(TarnTypeOf(r), 1, r.GetRawValue(), r.GetBufferSize())).cast<std::string>() + ")";
      });
}

}  // namespace pyostrel
