#include "tarn/client/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include <pugixml.hpp>

#include "ostrel/api/middleware/Scribe80.h"
#include "tarn/client/codes.h"

namespace tarn {
namespace {

std::vector<ServerSetting> embeddedDefault() {
  ServerSetting local;
  local.name = "local";
  local.position = "own";
  local.embedded = true;
  return {local};
}

// A bound from text: a whole number of milliseconds from 1 to kMaxBoundMs, or `fallback`. A
// text that is not one is logged (once per process and source `what`), never silently dropped.
int boundFrom(const char* text, int fallback, const char* what) {
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > kMaxBoundMs) {
    static std::mutex mutex;
    static std::set<std::string> told;  // GUARDED_BY(mutex)
    std::lock_guard<std::mutex> hold(mutex);
    if (told.insert(what).second)
      CScribe::instance()->kx_log("%s: '%s' is not a whole number of milliseconds from 1 to %d; %d ms applies",
                                  what, text, kMaxBoundMs, fallback);
    return fallback;
  }
  return static_cast<int>(value);
}

}  // namespace

bool validHost(const std::string& host) {
  return !host.empty() && host.size() <= 253 && host[0] != '.' && host[0] != '-' &&
         host.find_first_not_of(".-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") == std::string::npos;
}

bool validAddress(const std::string& address) {
  const auto colon = address.rfind(':');
  if (colon == std::string::npos || !validHost(address.substr(0, colon)) || colon + 1 == address.size()) return false;
  const std::string port = address.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const int number = std::stoi(port);
  return number >= 1 && number <= 65535;
}

std::string settingsPath() {
  const char* path = std::getenv("TARN_SETTINGS");
  return path ? std::string(path) : std::string();
}

namespace {

// Reads the settings file at `path` into `text`; empty when it is fine, otherwise why not. Only a
// regular file is read (the XML library would try to read a folder as a file of any length).
std::string readFile(const std::string& path, std::string& text) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "is not a file";
  std::ifstream in(path, std::ios::binary);
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return "cannot be read";
  return std::string();
}

// The settings file's document; false when there is none that parses.
bool loadDocument(const std::string& path, pugi::xml_document& doc) {
  std::string text;
  return !path.empty() && readFile(path, text).empty() && doc.load_buffer(text.data(), text.size());
}

}  // namespace

CallBounds readCallBounds() {
  CallBounds bounds;
  const std::string path = settingsPath();
  pugi::xml_document doc;
  if (loadDocument(path, doc)) {
    pugi::xml_node root = doc.child("tarn");
    bounds.callMs = boundFrom(root.attribute("call-timeout-ms").value(), bounds.callMs, "call-timeout-ms in the settings file");
    bounds.connectMs = boundFrom(root.attribute("connect-timeout-ms").value(), bounds.connectMs, "connect-timeout-ms in the settings file");
  }
  bounds.callMs = boundFrom(std::getenv("TARN_CALL_TIMEOUT_MS"), bounds.callMs, "TARN_CALL_TIMEOUT_MS");
  bounds.connectMs = boundFrom(std::getenv("TARN_CONNECT_TIMEOUT_MS"), bounds.connectMs, "TARN_CONNECT_TIMEOUT_MS");
  return bounds;
}

std::string settingsAttribute(const char* name) {
  pugi::xml_document doc;
  if (!loadDocument(settingsPath(), doc)) return std::string();
  return doc.child("tarn").attribute(name).as_string();
}

namespace {

// The line of byte `offset` in `text`, counting from 1.
int lineAt(const std::string& text, std::ptrdiff_t offset) {
  if (offset < 0) return 0;
  int line = 1;
  for (std::ptrdiff_t i = 0; i < offset && i < static_cast<std::ptrdiff_t>(text.size()); ++i)
    if (text[static_cast<std::size_t>(i)] == '\n') ++line;
  return line;
}

// Checks one <server> element; empty when it is valid, else why not.
std::string checkServer(const ServerSetting& server, const std::vector<ServerSetting>& before) {
  static const char* const positions[] = {"own", "parent", "child", "others"};
  if (server.name.empty()) return "a server without a name";
  if (std::find(std::begin(positions), std::end(positions), server.position) == std::end(positions))
    return "server \"" + server.name + "\": unknown position \"" + server.position + "\" (own, parent, child or others)";
  for (const ServerSetting& earlier : before) {
    if (earlier.name == server.name) return "server \"" + server.name + "\" is named twice";
    if (server.position == "own" && earlier.position == "own")
      return "server \"" + server.name + "\": a second server at \"own\" (\"" + earlier.name + "\" is there already)";
  }
  if (!server.embedded && server.addresses.empty()) return "server \"" + server.name + "\" has no address";
  for (const std::string& address : server.addresses)
    if (!validAddress(address))
      return "server \"" + server.name + "\": address \"" + address + "\" is not host:port with a port from 1 to 65535";
  return std::string();
}

}  // namespace

std::vector<ServerSetting> readSettings(std::string* error) {
  const std::string path = settingsPath();
  if (path.empty()) return embeddedDefault();
  auto refuse = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return std::vector<ServerSetting>();
  };
  std::string text;
  const std::string unreadable = readFile(path, text);
  if (!unreadable.empty()) return refuse(unreadable);
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
  if (!parsed) return refuse("line " + std::to_string(lineAt(text, parsed.offset)) + ": " + parsed.description());
  const pugi::xml_node root = doc.document_element();
  if (std::string(root.name()) != "tarn")
    return refuse("line " + std::to_string(lineAt(text, root.offset_debug())) + ": the root element is <" +
                  root.name() + ">, not <tarn>");
  std::vector<ServerSetting> servers;
  for (pugi::xml_node node : root.children()) {
    if (node.type() != pugi::node_element) continue;
    const std::string line = "line " + std::to_string(lineAt(text, node.offset_debug())) + ": ";
    if (std::string(node.name()) != "server") return refuse(line + "unknown element <" + node.name() + ">");
    ServerSetting server;
    server.name = node.attribute("name").as_string();
    server.position = node.attribute("position").as_string("others");
    server.embedded = node.attribute("embedded").as_bool(false);
    server.tls = node.attribute("tls").as_bool(false);
    for (const char* key : {"first", "second"}) {
      std::string address = node.attribute(key).as_string();
      if (!address.empty()) server.addresses.push_back(address);
    }
    const std::string why = checkServer(server, servers);
    if (!why.empty()) return refuse(line + why);
    servers.push_back(server);
  }
  return servers;
}

int writeSettings(const std::string& path, const std::vector<ServerSetting>& servers) {
  if (path.empty()) return kSettingsNotWritable;
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("tarn");
  // The file's own settings (call bounds) stay as they were; only the servers are rewritten.
  pugi::xml_document old;
  if (loadDocument(path, old))
    for (pugi::xml_attribute attribute : old.child("tarn").attributes())
      root.append_copy(attribute);
  for (const ServerSetting& server : servers) {
    pugi::xml_node node = root.append_child("server");
    node.append_attribute("name") = server.name.c_str();
    node.append_attribute("position") = server.position.c_str();
    if (server.embedded) node.append_attribute("embedded") = true;
    if (server.tls) node.append_attribute("tls") = true;
    const char* keys[] = {"first", "second"};
    for (size_t i = 0; i < server.addresses.size() && i < 2; ++i)
      node.append_attribute(keys[i]) = server.addresses[i].c_str();
  }
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  if (!doc.save_file(temporary.c_str(), "  ")) return kSettingsNotWritable;
  // The rename is atomic only once the new bytes are on disk.
  int fd = ::open(temporary.c_str(), O_RDONLY);
  if (fd >= 0) {
#if defined(_WIN32)
    ::_commit(fd);
#else
    ::fsync(fd);
#endif
    ::close(fd);
  }
#if defined(_WIN32)
  // rename() there refuses to replace an existing file.
  const bool moved = ::MoveFileExA(temporary.c_str(), path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  const bool moved = std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!moved) {
    std::remove(temporary.c_str());
    return kSettingsNotWritable;
  }
  return kOk;
}

}  // namespace tarn
