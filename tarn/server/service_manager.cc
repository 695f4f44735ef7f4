#include "tarn/server/service_manager.h"

#include "tarn/client/codes.h"
#include "tarn/server/budgets.h"
#include "tarn/server/host.h"
#include "tarn/server/rights.h"

namespace tarn {
namespace {

kxTarn::STRING_LIST* toList(const std::vector<std::string>& names) {
  kxTarn::STRING_LIST_var list = new kxTarn::STRING_LIST;
  list->length(static_cast<CORBA::ULong>(names.size()));
  for (CORBA::ULong i = 0; i < list->length(); ++i) list[i] = names[i].c_str();
  return list._retn();
}

}  // namespace

kxTarn::STRING_LIST* ServiceManager::get_service_names() {
  host_.faults().enter("get_service_names");
  return toList(host_.typeInstances());
}

CORBA::Long ServiceManager::set_master(CORBA::Boolean master) {
  TARN_FAULT_POINT(host_.faults(), "set_master");
  TARN_REQUIRE_RIGHT(kAdmin, "");  // a call of the whole server: the default realm's right
  host_.setMaster(master);
  return kOk;
}

CORBA::Boolean ServiceManager::is_master() { return host_.master(); }

char* ServiceManager::server_name() { return CORBA::string_dup(host_.options().name.c_str()); }

CORBA::Long ServiceManager::ping() {
  TARN_FAULT_POINT(host_.faults(), "ping");
  return kOk;
}

CORBA::Object_ptr ServiceManager::get_service(const char* kind, const char* realm) {
  // A realm name past the name limit gets no service, as a realm past the realm budget.
  if (!kind || nameTooLong(realm)) return CORBA::Object::_nil();
  return host_.service(kind, realm ? realm : "");
}

kxTarn::STRING_LIST* ServiceManager::realm_names() { return toList(host_.realmNames()); }

// A server that was not started to take fault plans refuses them, and the clearing of them, with
// NO_PERMISSION: the operations return nothing that could carry a code.
void ServiceManager::inject_fault(const kxTarn::FaultPlan& plan) {
  if (!host_.options().allowFaultPlans || !permitted(Right::kAdmin, "")) throw CORBA::NO_PERMISSION();
  host_.faults().plan(plan);
}

void ServiceManager::clear_faults() {
  if (!host_.options().allowFaultPlans || !permitted(Right::kAdmin, "")) throw CORBA::NO_PERMISSION();
  host_.faults().clear();
}

CORBA::Long ServiceManager::delete_realm(const char* realm) {
  TARN_FAULT_POINT(host_.faults(), "delete_realm");
  TARN_REQUIRE_RIGHT(kAdmin, realm ? realm : "");
  return host_.deleteRealm(realm ? realm : "");
}

}  // namespace tarn
