// The flat client API: heartbeat contention. Each function is one call on the contention
// service of (server, realm); the host and contender names must not be null (kBadArgument),
// a null module or type name travels as the empty text.
#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

using namespace tarn;

namespace {

template <typename Call>
int callContenders(const char* server, const char* position, Call call) {
  return callRemote<kxTarn::contender_server>(server, position, call);
}

const char* orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

int kx_regist_contender(const char* hostName, const char* contenderName, const char* buffer, unsigned int length,
                        const char* typeName, int startTime, const char* server, const char* position) {
  if (!hostName || !contenderName || (!buffer && length)) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->regist_contender(hostName, contenderName, wrap(buffer, length), orEmpty(typeName), startTime);
  });
}

int kx_update_contender(const char* hostName, const char* contenderName, const char* moduleName,
                        const char* server, const char* position) {
  if (!hostName || !contenderName) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->update_contender(hostName, contenderName, orEmpty(moduleName));
  });
}

int kx_out_contend(const char* hostName, const char* contenderName, const char* moduleName, const char* server,
                   const char* position) {
  if (!hostName || !contenderName) return kBadArgument;
  return callContenders(server, position, [&](kxTarn::contender_server_ptr service) {
    return service->out_contend(hostName, contenderName, orEmpty(moduleName));
  });
}
