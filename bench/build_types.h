// A type manager for type-build benchmarks: it reaches the type services through one service
// manager, placed at "own", instead of through the naming client.
#pragma once

#include <cstring>
#include <string>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/data/type_mgr.h"

namespace bench {

class BuildTypes : public TarnTypeMgr {
 public:
  explicit BuildTypes(kxTarn::kxTarnServiceManager_ptr manager) {
    setReferenceResolver([manager](const char* position, const char* key) -> CORBA::Object* {
      if (std::strcmp(position, "own") != 0) return CORBA::Object::_nil();
      if (std::strcmp(key, KX_SERVICE_MANAGER_KEY) == 0) {
        return CORBA::Object::_duplicate(manager);
      }
      std::string k = key;
      std::string kind = k == KX_TYPE_SERVICE_KEY ? "dt" : "dt/" + k.substr(1, k.find('/', 1) - 1);
      return manager->get_service(kind.c_str(), "");
    });
  }
};

}  // namespace bench
