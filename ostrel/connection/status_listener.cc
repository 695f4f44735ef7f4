#include "ostrel/connection/status_listener.h"

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/connector.h"

BrennicStatusListenerBase::~BrennicStatusListenerBase() = default;

int BrennicStatusListenerBase::getNamingServerState(const char*) { return 0; }
int BrennicStatusListenerBase::getDataServerState(const char*, const char*) { return 0; }
int BrennicStatusListenerBase::getEventServerState(const char*, const char*) { return 0; }

void OstrelOrigin::InstallListener(BrennicStatusListenerBase& listener) {
  TarnConnector::instance()->installListener(listener);
}

void OstrelOrigin::RemoveListener(BrennicStatusListenerBase& listener) {
  TarnConnector::instance()->removeListener(listener);
}
