// Feeds arbitrary bytes to the type definition stream reader of a fresh manager, then walks
// every type it registered and every element's type.
#include <cstdint>
#include <string>

#include <omniORB4/CORBA.h>

#include "ostrel/data/data_type.h"
#include "ostrel/data/type_mgr.h"

namespace {

class FreshTypes : public TarnTypeMgr {
 public:
  FreshTypes() {
    setReferenceResolver(
        [](const char*, const char*) -> CORBA::Object* { return CORBA::Object::_nil(); });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FreshTypes types;
  std::size_t before = types.typeList().size();
  bool accepted = types.loadFromStream(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names = types.typeList();
  if (!accepted && names.size() != before) __builtin_trap();
  std::size_t total = 0;
  for (const std::string& name : names) {
    TarnDataType* type = types.CheckDataType(name.c_str());
    if (type == nullptr) __builtin_trap();
    for (const auto& element : type->GetAllElement()) {
      if (element.second->type != nullptr) total += element.second->type->GetTypeSize();
      total += element.second->name.size();
    }
  }
  return total == 0xFFFFFFFF ? 1 : 0;
}
