#include "ostrel/data/type_mgr.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include <ace/Guard_T.h>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn.h"

namespace {

const char* const kPositions[] = {"own", "parent", "child", "others"};

struct BaseType {
  const char* name;
  unsigned short size;
};
const BaseType kBaseTypes[] = {
    {"unsigned_int", 4}, {"signed_int", 4}, {"char", 1},   {"word", 2},
    {"signed_word", 2},  {"kx_time", 4},    {"double", 8}, {"float", 4},
    {"byte", 1},         {"wchar", 2},      {"kx_time2", 8},
};

// Byte layout of the type definition stream.
constexpr std::size_t kStreamHeader = 8;
constexpr std::size_t kStreamCountAt = 4;
constexpr std::size_t kNameField = 128;
constexpr std::size_t kTypeHeader = 140;
constexpr std::size_t kTypeElementCountAt = 128;
constexpr std::size_t kTypeSizeAt = 136;
constexpr std::size_t kElementRecord = 264;
constexpr std::size_t kElementNameAt = 128;
constexpr std::size_t kElementOffsetAt = 256;
constexpr std::size_t kElementCountAt = 260;

std::uint32_t readU32(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint16_t readU16(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

// A name stored in a fixed field: up to its NUL, or the whole field when it has none.
std::string fieldText(const char* field) {
  const void* nul = std::memchr(field, 0, kNameField);
  std::size_t n = nul != nullptr ? static_cast<const char*>(nul) - field : kNameField;
  return std::string(field, n);
}

// Walks the stream's records. With `length` known, returns false as soon as a count or record
// would reach past it; `visit(record, name, elementCount, size)` sees every type record.
template <typename Visit>
bool walkStream(const char* stream, std::size_t length, bool bounded, Visit visit) {
  if (bounded && length < kStreamHeader) return false;
  std::uint32_t typeCount = readU32(stream + kStreamCountAt);
  std::size_t at = kStreamHeader;
  for (std::uint32_t t = 0; t < typeCount; ++t) {
    if (bounded && length - at < kTypeHeader) return false;
    const char* record = stream + at;
    std::uint32_t elementCount = readU32(record + kTypeElementCountAt);
    std::uint64_t elementBytes = static_cast<std::uint64_t>(elementCount) * kElementRecord;
    if (bounded && elementBytes > length - at - kTypeHeader) return false;
    visit(record, elementCount, static_cast<unsigned short>(readU32(record + kTypeSizeAt)));
    at += kTypeHeader + static_cast<std::size_t>(elementBytes);
  }
  return true;
}

}  // namespace

// State of one running build.
struct TarnTypeMgr::Build {
  bool full = true;  // false: the build from one position
};

TarnTypeMgr* TarnTypeMgr::GetInstance() {
  return ostrel::platform::Singleton<TarnTypeMgr>::instance();
}

TarnTypeMgr::TarnTypeMgr() { registerBaseTypes(); }

TarnTypeMgr::~TarnTypeMgr() {
  ostrel::platform::Singleton<TarnTypeMgr>::retire();
  for (auto& entry : types_) delete entry.second;
}

void TarnTypeMgr::registerBaseTypes() {
  for (const BaseType& base : kBaseTypes) {
    types_.emplace(base.name, new TarnDataType(base.name, base.size));
  }
}

TarnDataType* TarnTypeMgr::getTarnTypeImpl(const char* name) {
  if (name == nullptr) return nullptr;
  auto it = types_.find(std::string_view(name));
  return it != types_.end() ? it->second : nullptr;
}

TarnDataType* TarnTypeMgr::GetDataType(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  if (!hold.locked()) return nullptr;
  if (TarnDataType* type = getTarnTypeImpl(name)) return type;
  BuildTarnDataType();
  return getTarnTypeImpl(name);
}

TarnDataType* TarnTypeMgr::CheckDataType(const char* name) {
  if (name == nullptr) return nullptr;
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  if (!hold.locked()) return nullptr;
  return getTarnTypeImpl(name);
}

void TarnTypeMgr::BuildType() {
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  if (!hold.locked()) return;
  if (!built_) BuildTarnDataType();
}

bool TarnTypeMgr::isBuilt() {
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  return built_;
}

void TarnTypeMgr::setReferenceResolver(ReferenceResolver resolver) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  resolver_ = std::move(resolver);
}

CORBA::Object* TarnTypeMgr::resolve(const char* position, const char* key) {
  if (resolver_) return resolver_(position, key);
  return kxNaming_Client::GetInstance()->GetReferenceWithPosition(position, key);
}

void TarnTypeMgr::BuildTarnDataType() {
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  if (!hold.locked()) return;
  Build build;
  build.full = true;
  try {
    for (int i = 0; i < 4; ++i) buildPosition(build, kPositions[i], i);
    built_ = true;
  } catch (const CORBA::Exception&) {
    built_ = false;
  }
}

void TarnTypeMgr::BuildTarnDataType(const char* position) {
  ACE_Guard<ACE_Recursive_Thread_Mutex> hold(lock_);
  if (!hold.locked()) return;
  Build build;
  build.full = false;
  int index = 0;
  for (int i = 0; i < 4; ++i) {
    if (position != nullptr && std::strcmp(position, kPositions[i]) == 0) index = i;
  }
  try {
    buildPosition(build, position, index);
    built_ = true;
  } catch (const CORBA::Exception&) {
    built_ = false;
  }
}

void TarnTypeMgr::buildPosition(Build& build, const char* position, int index) {
  CORBA::Object_var managerObject = resolve(position, KX_SERVICE_MANAGER_KEY);
  if (CORBA::is_nil(managerObject.in())) {
    CORBA::Object_var service = resolve(position, KX_TYPE_SERVICE_KEY);
    loadFromReference(build, service.in(), index);
    return;
  }
  kxTarn::kxTarnServiceManager_var manager =
      kxTarn::kxTarnServiceManager::_narrow(managerObject.in());
  if (CORBA::is_nil(manager.in())) return;
  kxTarn::STRING_LIST_var names = manager->get_service_names();
  for (CORBA::ULong s = 0; s < names->length(); ++s) {
    const char* instance = names[s];
    std::string key = (instance == nullptr || *instance == '\0')
                          ? std::string(KX_TYPE_SERVICE_KEY)
                          : "/" + std::string(instance) + "/" KX_TYPE_SERVICE_KEY;
    CORBA::Object_var service = resolve(position, key.c_str());
    loadFromReference(build, service.in(), index);
  }
}

void TarnTypeMgr::loadFromReference(Build& build, CORBA::Object* reference, int index) {
  if (CORBA::is_nil(reference)) return;
  kxTarn::DT_manager_var service = kxTarn::DT_manager::_narrow(reference);
  if (CORBA::is_nil(service.in())) return;

  if (build.full) {
    try {
      kxTarn::DATA_BUFFER_var stream;
      CORBA::Long rc = service->get_type_stream(stream.out());
      if (rc == 0 && stream->length() > 0 &&
          loadFromStream(reinterpret_cast<const char*>(stream->get_buffer()), stream->length())) {
        return;
      }
      // A refused, empty or malformed stream: read the same service type by type.
    } catch (const CORBA::Exception&) {
    }
  }

  kxTarn::STRING_LIST_var names = service->get_type_names();
  for (CORBA::ULong n = 0; n < names->length(); ++n) {
    const char* name = names[n];
    if (name == nullptr) continue;
    if (TarnDataType* known = getTarnTypeImpl(name)) {
      if (build.full && index != 0) known->loaded = 1;
      continue;
    }
    CORBA::ULong size = service->get_type_size(name);
    types_.emplace(name, new TarnDataType(name, static_cast<unsigned short>(size)));
  }

  for (auto& entry : types_) {
    TarnDataType* type = entry.second;
    if (build.full && type->loaded != 0) continue;
    kxTarn::DT_INFO_SEQ_var infos;
    if (service->get_type_elements(type->GetTypeName(), infos.out()) != 0) continue;
    for (CORBA::ULong e = 0; e < infos->length(); ++e) {
      const kxTarn::DT_INFO& info = infos[e];
      const char* elementName = info.name.in();
      if (elementName == nullptr) continue;
      DataVariable* var = new DataVariable;
      var->type = getTarnTypeImpl(info.typeName.in());
      var->name = elementName;
      var->count = info.count;
      var->offset = info.offset;
      type->PushElement(elementName, var);
    }
  }
}

void TarnTypeMgr::loadFromStream(char* stream) {
  if (stream == nullptr) return;
  std::vector<std::pair<TarnDataType*, std::vector<StreamDT_INFO>>> pending;
  walkStream(stream, 0, false, [&](const char* record, std::uint32_t elementCount,
                                   unsigned short size) {
    std::string name = fieldText(record);
    if (getTarnTypeImpl(name.c_str()) != nullptr) return;
    std::vector<StreamDT_INFO> infos;
    infos.reserve(elementCount);
    for (std::uint32_t e = 0; e < elementCount; ++e) {
      const char* element = record + kTypeHeader + e * kElementRecord;
      StreamDT_INFO info;
      info.typeName = fieldText(element);
      info.name = fieldText(element + kElementNameAt);
      info.offset = readU16(element + kElementOffsetAt);
      info.count = readU16(element + kElementCountAt);
      infos.push_back(std::move(info));
    }
    pending.emplace_back(createDataTypeFromStream(name, size), std::move(infos));
  });
  for (auto& entry : pending) createFromStream(entry.first, entry.second);
}

bool TarnTypeMgr::loadFromStream(const char* stream, std::size_t length) {
  if (stream == nullptr) return false;
  if (!walkStream(stream, length, true, [](const char*, std::uint32_t, unsigned short) {})) {
    return false;
  }
  loadFromStream(const_cast<char*>(stream));
  return true;
}

TarnDataType* TarnTypeMgr::createDataTypeFromStream(const std::string& name, int size) {
  TarnDataType* type = new TarnDataType(name.c_str(), static_cast<unsigned short>(size));
  auto inserted = types_.emplace(name, type);
  if (!inserted.second) {
    retired_.emplace_back(inserted.first->second);
    inserted.first->second = type;
  }
  return type;
}

int TarnTypeMgr::createFromStream(TarnDataType* type, const std::vector<StreamDT_INFO>& infos) {
  if (type == nullptr) return 0;
  for (auto it = infos.rbegin(); it != infos.rend(); ++it) {
    DataVariable* var = new DataVariable;
    var->type = getTarnTypeImpl(it->typeName.c_str());
    var->name = it->name;
    var->count = it->count;
    var->offset = it->offset;
    type->PushElement(it->name.c_str(), var);
  }
  return 0;
}

std::vector<std::string> TarnTypeMgr::typeList() {
  std::vector<std::string> names;
  names.reserve(types_.size());
  for (const auto& entry : types_) names.push_back(entry.first);
  return names;
}
