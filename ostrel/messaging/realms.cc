// Realms and channel listings: the realms of a server, the channels of a realm and the open
// connections, all answered by the flat client API.
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"

namespace {

// Realms come into being when first used: creating one has nothing to do, and neither has
// deleting one. (The stand-in's own kx_delete_releam removes an empty realm at once: the tool's
// `realm delete`.)
int realmNeedsNothing(const char*, const char*) { return OstrelCode::kOk; }

}  // namespace

int OstrelOrigin::CreateReleam(const char* server, const char* releam) { return realmNeedsNothing(server, releam); }

int OstrelOrigin::DeleteReleam(const char* server, const char* releam) { return realmNeedsNothing(server, releam); }

int OstrelOrigin::GetReleamNames(ObjectNames* names, const char* server) { return kx_releam_seq(names, server); }

int OstrelOrigin::GetCommChennelSeq(ObjectNames* names, const char* server, const char* position) {
  const std::string realm = ostrel::positionOrDefault(server, position);
  return kx_com_chennal_seq(names, server, realm.c_str());
}

int OstrelOrigin::GetConnectSeq(ConnectionSequence* connections, const char* server, const char* position) {
  // The default server's realm, whichever server is named.
  const std::string realm = ostrel::positionOrDefault(nullptr, position);
  return kx_get_connection_info(connections, server, realm.c_str());
}
