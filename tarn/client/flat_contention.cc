// The flat client API: heartbeat contention. Each function is one call on the contention
// service of (server, realm); the host and contender names must not be null (kBadArgument),
// a null module or type name travels as the empty text. Every call names this process (its id
// and a random number drawn once), so that the service keeps two processes that contend under
// one name on one host apart: the second is refused while the first lives (contention.h).
#include <unistd.h>

#include <random>
#include <string>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

using namespace tarn;

namespace {

template <typename Call>
int callContenders(const char* server, const char* position, Call call, int callTimeOutMs = 0) {
  return callRemote<kxTarn::contender_server>(server, position, call, callTimeOutMs);
}

// A beat or a leave that takes longer than this is over: the task registers again at its next
// period, and a process that ends is not held by a server that does not answer.
constexpr int kBeatCallMs = 1000;

const char* orEmpty(const char* text) { return text ? text : ""; }

const char* thisProcess() {
  static const std::string instance = [] {
    std::random_device device;
    return std::to_string(::getpid()) + "-" + std::to_string(device()) + std::to_string(device());
  }();
  return instance.c_str();
}

}  // namespace

int kx_regist_contender(const char* hostName, const char* contenderName, const char* buffer, unsigned int length,
                        const char* typeName, int startTime, const char* server, const char* position) {
  if (!hostName || !contenderName || (!buffer && length)) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->regist_contender_from(hostName, contenderName, wrap(buffer, length), orEmpty(typeName), startTime,
                                          thisProcess());
  });
}

int kx_update_contender(const char* hostName, const char* contenderName, const char* moduleName,
                        const char* server, const char* position) {
  if (!hostName || !contenderName) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->update_contender_from(hostName, contenderName, orEmpty(moduleName), thisProcess());
  }, kBeatCallMs);
}

int kx_out_contend(const char* hostName, const char* contenderName, const char* moduleName, const char* server,
                   const char* position) {
  if (!hostName || !contenderName) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->out_contend_from(hostName, contenderName, orEmpty(moduleName), thisProcess());
  });
}

int kx_leave_contend(const char* hostName, const char* contenderName, const char* moduleName, const char* server,
                     const char* position) {
  if (!hostName || !contenderName) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->out_contend_from(hostName, contenderName, orEmpty(moduleName), thisProcess());
  }, kBeatCallMs);
}
