#include "tarn/client/orb.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <omniORB4/omniORB.h>

#include "ostrel/api/middleware/Scribe80.h"
#include "tarn/client/settings.h"
#include "tarn/client/tls.h"

namespace tarn {
namespace {

std::mutex orbMutex;
CORBA::ORB_var theOrb;                    // GUARDED_BY(orbMutex)
PortableServer::POA_var theInsPoa;        // GUARDED_BY(orbMutex)
bool stopped = false;                     // GUARDED_BY(orbMutex)
std::atomic<unsigned long> messageLimit{kMaxMessageBytes};

// The ORB's log, as omniORB writes it, less the warning that a process without TLS files has its
// SSL transport off: that is how such a process is meant to run.
void orbLog(const char* text) {
  if (std::strstr(text, "SSL transport disabled")) return;
  std::fputs(text, stderr);
}

}  // namespace

CORBA::ORB_ptr startOrb(const std::vector<std::string>& endpoints, const std::vector<std::string>& publish,
                        const ServerOrbLimits& limits) {
  std::lock_guard<std::mutex> hold(orbMutex);
  if (!CORBA::is_nil(theOrb)) return theOrb.in();
  if (stopped) throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
  const std::string maxMessage = std::to_string(limits.maxMessageBytes);
  const std::string threadsUpTo = std::to_string(limits.threadPerConnectionUpTo);
  const std::string threadsDownTo = std::to_string(limits.threadPerConnectionUpTo - limits.threadPerConnectionUpTo / 10);
  const CallBounds bounds = readCallBounds();
  // TLS: the server's files, or the client's; a client whose files cannot be used speaks plain
  // TCP only (its calls to TLS servers fail) and says why.
  const TlsFiles tls = limits.tls ? *limits.tls : clientTlsFiles();
  omniORB::setLogFunction(orbLog);
  if (tls.wanted()) {
    const std::string problem = tlsFilesProblem(tls, false);
    if (problem.empty())
      installTls(tls);
    else
      CScribe::instance()->kx_log("TLS is not used: %s", problem.c_str());
  }
  const std::string callBound = std::to_string(bounds.callMs);
  const std::string connectBound = std::to_string(bounds.connectMs);
  std::string published;
  for (const std::string& point : publish) published += (published.empty() ? "" : ",") + point;
  // No call waits without a bound, and no first call on a reference asks the server whether the
  // object exists (that LocateRequest would wait on a frozen server with no deadline at all).
  std::vector<std::pair<const char*, const char*>> settings = {
      {"giopMaxMsgSize", maxMessage.c_str()},
      {"maxGIOPConnectionPerServer", "64"},  // room for many threads blocked in receives
      {"clientCallTimeOutPeriod", callBound.c_str()},
      {"clientConnectTimeOutPeriod", connectBound.c_str()},
      {"verifyObjectExistsAndType", "0"},
      {"supportBootstrapAgent", "0"}};
  if (limits.threadPerConnectionUpTo) {
    settings.push_back({"threadPerConnectionUpperLimit", threadsUpTo.c_str()});
    settings.push_back({"threadPerConnectionLowerLimit", threadsDownTo.c_str()});
  }
  static const std::string kLoopback = "giop:tcp:127.0.0.1:";
  if (endpoints.empty()) settings.push_back({"endPoint", kLoopback.c_str()});
  for (const std::string& point : endpoints) settings.push_back({"endPoint", point.c_str()});
  if (!published.empty()) settings.push_back({"endPointPublish", published.c_str()});
  const char* options[kMaxEndpoints + 10][2] = {};  // ends with a row of nulls
  const std::size_t rows = std::min<std::size_t>(settings.size(), kMaxEndpoints + 9);
  for (std::size_t i = 0; i < rows; ++i) {
    options[i][0] = settings[i].first;
    options[i][1] = settings[i].second;
  }
  int argc = 0;
  char* argv[] = {nullptr};
  theOrb = CORBA::ORB_init(argc, argv, "omniORB4", options);
  messageLimit = limits.maxMessageBytes;
  CORBA::Object_var poaObject = theOrb->resolve_initial_references("omniINSPOA");
  theInsPoa = PortableServer::POA::_narrow(poaObject);
  theInsPoa->the_POAManager()->activate();
  CORBA::Object_var rootObject = theOrb->resolve_initial_references("RootPOA");
  PortableServer::POA_var root = PortableServer::POA::_narrow(rootObject);
  root->the_POAManager()->activate();
  return theOrb.in();
}

CORBA::ORB_ptr orb() { return startOrb(); }

unsigned long maxMessageBytes() { return messageLimit.load(); }

void applyCallBounds() {
  const CallBounds bounds = readCallBounds();
  omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(bounds.callMs));
  omniORB::setClientConnectTimeout(static_cast<CORBA::ULong>(bounds.connectMs));
}

PortableServer::POA_ptr insPoa() {
  startOrb();
  std::lock_guard<std::mutex> hold(orbMutex);
  return theInsPoa.in();
}

bool quiesceOrb(int boundMs) {
  CORBA::ORB_var orb;
  {
    std::lock_guard<std::mutex> hold(orbMutex);
    if (stopped || CORBA::is_nil(theOrb)) return true;
    orb = CORBA::ORB::_duplicate(theOrb);
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> ended = done->get_future();
  std::thread([orb, done]() mutable {
    try {
      orb->shutdown(true);
    } catch (const CORBA::Exception&) {
    }
    done->set_value();
  }).detach();
  return ended.wait_for(std::chrono::milliseconds(boundMs)) == std::future_status::ready;
}

void stopOrb() {
  CORBA::ORB_var dying;
  {
    std::lock_guard<std::mutex> hold(orbMutex);
    if (stopped || CORBA::is_nil(theOrb)) {
      stopped = true;
      return;
    }
    stopped = true;
    dying = theOrb._retn();
    theInsPoa = PortableServer::POA::_nil();
  }
  try {
    dying->destroy();
  } catch (const CORBA::Exception&) {
  }
}

bool orbStopped() {
  std::lock_guard<std::mutex> hold(orbMutex);
  return stopped;
}

}  // namespace tarn
