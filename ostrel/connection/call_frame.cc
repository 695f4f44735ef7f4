#include "ostrel/connection/call_frame.h"

#include <atomic>
#include <utility>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/connection/connector.h"

namespace ostrel {

namespace {
std::atomic<bool> ended{false};
}  // namespace

void markLibraryEnded() { ended = true; }
bool libraryEnded() { return ended; }

bool& lastCallTimedOut() {
  thread_local bool timedOut = false;
  return timedOut;
}

std::optional<std::string> ownServerName() {
  const kxServerName own = kx_get_servername("own");
  if (own.found == 0 || own.name == nullptr) return std::nullopt;
  return std::string(own.name);
}

int guardConnection(const char* server) {
  return TarnConnector::instance()->connectState(server) == OstrelCode::kOk
             ? OstrelCode::kOk
             : OstrelCode::kNotConnected;
}

std::string positionOrDefault(const char* server, const char* position) {
  if (position != nullptr) return position;
  return TarnConnector::instance()->defaultPositionCopy(server);
}

std::optional<std::string> resolveServer(const char* server) {
  if (server != nullptr && server[0] != '\0') return std::string(server);
  if (auto own = ownServerName()) return own;
  if (server == nullptr) return std::nullopt;
  return std::string();
}

int targetOf(const char* server, const char* position, Target& target) {
  if (int rc = guardConnection(server)) return rc;
  target.realm = positionOrDefault(server, position);
  auto name = resolveServer(server);
  if (!name) return OstrelCode::kNoServerName;
  target.server = std::move(*name);
  return OstrelCode::kOk;
}

}  // namespace ostrel
