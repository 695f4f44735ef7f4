#include "tarn/client/settings.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <pugixml.hpp>

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

// A bound from text: a whole number of milliseconds from 1 to kMaxBoundMs, or `fallback`.
int boundFrom(const char* text, int fallback) {
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > kMaxBoundMs) return fallback;
  return static_cast<int>(value);
}

}  // namespace

std::string settingsPath() {
  const char* path = std::getenv("TARN_SETTINGS");
  return path ? std::string(path) : std::string();
}

CallBounds readCallBounds() {
  CallBounds bounds;
  const std::string path = settingsPath();
  pugi::xml_document doc;
  if (!path.empty() && doc.load_file(path.c_str())) {
    pugi::xml_node root = doc.child("tarn");
    bounds.callMs = boundFrom(root.attribute("call-timeout-ms").value(), bounds.callMs);
    bounds.connectMs = boundFrom(root.attribute("connect-timeout-ms").value(), bounds.connectMs);
  }
  bounds.callMs = boundFrom(std::getenv("TARN_CALL_TIMEOUT_MS"), bounds.callMs);
  bounds.connectMs = boundFrom(std::getenv("TARN_CONNECT_TIMEOUT_MS"), bounds.connectMs);
  return bounds;
}

std::vector<ServerSetting> readSettings(std::string* error) {
  const std::string path = settingsPath();
  if (path.empty()) return embeddedDefault();
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_file(path.c_str());
  if (!parsed) {
    if (error) *error = path + ": " + parsed.description();
    return embeddedDefault();
  }
  std::vector<ServerSetting> servers;
  for (pugi::xml_node node : doc.child("tarn").children("server")) {
    ServerSetting server;
    server.name = node.attribute("name").as_string();
    server.position = node.attribute("position").as_string("others");
    server.embedded = node.attribute("embedded").as_bool(false);
    for (const char* key : {"first", "second"}) {
      std::string address = node.attribute(key).as_string();
      if (!address.empty()) server.addresses.push_back(address);
    }
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
  if (old.load_file(path.c_str()))
    for (pugi::xml_attribute attribute : old.child("tarn").attributes())
      root.append_copy(attribute);
  for (const ServerSetting& server : servers) {
    pugi::xml_node node = root.append_child("server");
    node.append_attribute("name") = server.name.c_str();
    node.append_attribute("position") = server.position.c_str();
    if (server.embedded) node.append_attribute("embedded") = true;
    const char* keys[] = {"first", "second"};
    for (size_t i = 0; i < server.addresses.size() && i < 2; ++i)
      node.append_attribute(keys[i]) = server.addresses[i].c_str();
  }
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  if (!doc.save_file(temporary.c_str(), "  ")) return kSettingsNotWritable;
  // The rename is atomic only once the new bytes are on disk.
  int fd = ::open(temporary.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return kSettingsNotWritable;
  }
  return kOk;
}

}  // namespace tarn
