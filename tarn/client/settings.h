// The middleware's settings file: which servers this host knows, the position each holds from
// here, and their addresses.
//
//   <tarn>
//     <server name="plant" position="own" first="127.0.0.1:7001" second="127.0.0.1:7002"/>
//     <server name="local" position="others" embedded="true"/>
//     <server name="secure" position="others" first="10.0.0.1:7443" tls="true"/>
//   </tarn>
//
// A server with tls="true" is reached over TLS with the certificate, key and CA that the root's
// attributes tls-cert, tls-key and tls-ca name, or the environment (tls.h).
// The file's path comes from the environment variable TARN_SETTINGS. Without it the host knows
// one server, "local", at "own", served inside the calling process; with it, that file alone is
// the configuration (a file that cannot be used gives no server, never the embedded one). Writes replace the file atomically: a temporary file beside it is written, flushed
// and renamed over it, so a reader or a crash never sees half a file.
#pragma once

#include <string>
#include <vector>

namespace tarn {

struct ServerSetting {
  std::string name;
  std::string position;                 // "own", "parent", "child", "others"
  std::vector<std::string> addresses;   // "host:port": first, then second
  bool embedded = false;                // served inside this process
  bool tls = false;                     // reached over TLS (tls="true"; tls.h)
};

// How long a remote call may take, in milliseconds. Every reference the stand-in hands out
// carries the call bound; a new network connection may take the connect bound. Each value comes
// from its environment variable (TARN_CALL_TIMEOUT_MS, TARN_CONNECT_TIMEOUT_MS), else from the
// settings file's root attribute (call-timeout-ms, connect-timeout-ms), else the default here.
// A value that is not a whole number from 1 to kMaxBoundMs is ignored.
struct CallBounds {
  int callMs = 10000;
  int connectMs = 1000;
};
constexpr int kMaxBoundMs = 3600 * 1000;

// Whether `host` can name a server's host: a host name or an IPv4 address (letters, digits, dots
// and hyphens, not starting with a dot or hyphen), so that nothing of it is read as a port or as
// part of an object key.
bool validHost(const std::string& host);
// Whether `address` is HOST:PORT with a valid host and a port from 1 to 65535.
bool validAddress(const std::string& address);
// The path of the settings file, or empty when TARN_SETTINGS is not set.
std::string settingsPath();
// The call bounds that hold now (environment, then settings file, then defaults).
CallBounds readCallBounds();
// The attribute `name` of the settings file's root element; empty when there is none, or no
// settings file that can be read.
std::string settingsAttribute(const char* name);
// Reads the settings: the embedded default when TARN_SETTINGS is not set. When it is set, the
// file is the configuration: a file that is missing, unreadable, not XML, or holds a server
// without a name or address, a duplicate name, a second "own" server, an unknown position or an
// address that is not HOST:PORT (a valid host, port 1-65535) gives no server at all, and `error` names the
// file, the line and the cause.
std::vector<ServerSetting> readSettings(std::string* error = nullptr);
// Writes `servers` to `path` atomically. 0 on success, else a middleware code.
int writeSettings(const std::string& path, const std::vector<ServerSetting>& servers);

}  // namespace tarn
