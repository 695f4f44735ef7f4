// Library start and end, and the operations that pass straight through to outside libraries.
#include <atomic>

#include <ace/Init_ACE.h>

#include "ostrel/api/middleware/Scriptel.h"
#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/connector.h"
#include "ostrel/data/type_mgr.h"
#include "ostrel/messaging/channels.h"
#include "ostrel/redundancy/dispatcher_contender.h"

namespace {
std::atomic<bool> exited{false};
}

void OstrelOrigin::BuildOstrel() {
  if (TarnTypeMgr* types = TarnTypeMgr::GetInstance()) types->BuildTarnDataType();
}

void OstrelOrigin::ExitOstrel() {
  if (exited.exchange(true)) return;
  ostrel::markLibraryEnded();  // first: waits in flight give up while the rest winds down
  kxNaming_Client::PrepareExit();  // the leaves and closes below end within the end's bound
  TarnConnector::instance()->stop();
  DispatcherContender::instance()->leaveAll();
  ostrel::closeKeptReceivers();  // what they hold in flight goes back to its queues now
  kxNaming_Client::ExitInstance();
  ACE::fini();
}

const wchar_t* OstrelOrigin::GetErrorString(int code) { return get_error_string(code); }

int OstrelOrigin::Interprete(const char* file, const char* args) { return runscript(file, args); }

int OstrelOrigin::ShutInterpreter() {
  shutScript();
  return 0;
}
