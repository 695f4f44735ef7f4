// The service manager of one server: pings, the master flag, service references per realm,
// the names of the type service instances, and fault plans for tests.
#pragma once

#include "ostrel/api/middleware/kxTarn.h"

namespace tarn {

class ServerHost;

class ServiceManager : public POA_kxTarn::kxTarnServiceManager {
 public:
  explicit ServiceManager(ServerHost& host) : host_(host) {}

  kxTarn::STRING_LIST* get_service_names() override;
  CORBA::Long set_master(CORBA::Boolean master) override;
  CORBA::Boolean is_master() override;
  char* server_name() override;
  CORBA::Long ping() override;
  CORBA::Object_ptr get_service(const char* kind, const char* realm) override;
  kxTarn::STRING_LIST* realm_names() override;
  void inject_fault(const kxTarn::FaultPlan& plan) override;
  void clear_faults() override;
  CORBA::Long delete_realm(const char* realm) override;

 private:
  ServerHost& host_;
};

}  // namespace tarn
