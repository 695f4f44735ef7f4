// Types every fuzz target registers: the plant types and the record test types (which include
// an element whose type is unknown). The process's type manager is cut off from servers, so a
// lookup miss runs a build that finds nothing.
#pragma once

#include <omniORB4/CORBA.h>

#include "ostrel/data/type_mgr.h"
#include "tarn/server/type_service.h"
#include "tests/data/type_fixture.h"

namespace fuzz {

inline TarnTypeMgr* types() {
  static TarnTypeMgr* manager = [] {
    TarnTypeMgr* m = data_test::registeredTypes();
    auto book = tarn::TypeBook::fromXml(tarn::defaultTypesXml());
    m->loadFromStream(book->stream().data(), book->stream().size());
    return m;
  }();
  return manager;
}

}  // namespace fuzz
