// tarnd: one middleware server in a process of its own, listening on a loopback endpoint.
//
//   tarnd --port PORT [--name NAME] [--types FILE] [--type-instance NAME=FILE]...
//         [--data DIR [--journal-sync disk|os]] [--no-type-stream] [--contender-expiry SECONDS]
//
// With --data, every data point change, and every change of a port or event box marked
// persistent, is journaled in DIR before it is acknowledged and comes back after a restart; --journal-sync os acknowledges once the operating system has the change
// (it then survives a crash of tarnd, not of the host) instead of once it is on the disk.
// The service manager is reachable as corbaloc::127.0.0.1:PORT/ServiceManager; every object key
// is persistent, so references survive a restart on the same port. SIGINT and SIGTERM stop it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tarn/client/orb.h"
#include "tarn/server/host.h"

namespace {

sem_t stopSignal;

void onSignal(int) { sem_post(&stopSignal); }  // async-signal-safe

int usage(const char* why) {
  std::fprintf(stderr, "tarnd: %s\nusage: tarnd --port PORT [--name NAME] [--types FILE] "
                       "[--type-instance NAME=FILE]... [--data DIR [--journal-sync disk|os]] "
                       "[--no-type-stream] [--contender-expiry SECONDS]\n", why);
  return 2;
}

// True when another process listens on 127.0.0.1:PORT: the ORB would only say INITIALIZE.
bool portInUse(int port) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return false;
  const int on = 1;
  ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // as the ORB binds
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool inUse = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
  ::close(probe);
  return inUse;
}

}  // namespace

int main(int argc, char** argv) {
  tarn::HostOptions options;
  options.name = "tarnd";
  options.typeFiles.clear();
  int port = 0;
  bool journalSyncGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    const char* v = nullptr;
    if (arg == "--port" && (v = value("port"))) {
      char* end = nullptr;
      const long number = std::strtol(v, &end, 10);
      if (*v == '\0' || *end != '\0' || number < 1 || number > 65535)
        return usage((std::string("--port takes a number from 1 to 65535, not '") + v + "'").c_str());
      port = static_cast<int>(number);
    } else if (arg == "--name" && (v = value("name"))) {
      options.name = v;
    } else if (arg == "--types" && (v = value("types"))) {
      options.typeFiles.emplace_back("", v);
    } else if (arg == "--type-instance" && (v = value("type-instance"))) {
      const char* equals = std::strchr(v, '=');
      if (!equals) return usage("--type-instance takes NAME=FILE");
      options.typeFiles.emplace_back(std::string(v, equals), std::string(equals + 1));
    } else if (arg == "--data" && (v = value("data"))) {
      options.dataDir = v;
    } else if (arg == "--journal-sync" && (v = value("journal-sync"))) {
      if (std::strcmp(v, "disk") != 0 && std::strcmp(v, "os") != 0) return usage("--journal-sync takes disk or os");
      options.journalToDisk = std::strcmp(v, "disk") == 0;
      journalSyncGiven = true;
    } else if (arg == "--contender-expiry" && (v = value("contender-expiry"))) {
      char* end = nullptr;
      const long seconds = std::strtol(v, &end, 10);
      if (*v == '\0' || *end != '\0' || seconds <= 0 || seconds > 86400)
        return usage((std::string("--contender-expiry takes whole seconds from 1 to 86400, not '") + v + "'").c_str());
      options.contenderExpiry = std::chrono::seconds(seconds);
    } else if (arg == "--no-type-stream") {
      options.refuseTypeStream = true;
    } else if (arg == "--version") {
      std::printf("tarnd " TARN_VERSION "\n");
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      usage("help");
      return 0;
    } else {
      return usage(("unknown or incomplete option " + arg).c_str());
    }
  }
  if (port == 0) return usage("--port PORT (1-65535) is required");
  if (journalSyncGiven && options.dataDir.empty())
    return usage("--journal-sync needs --data DIR: without it nothing is journaled");
  if (portInUse(port)) {
    std::fprintf(stderr, "tarnd: port %d is in use\n", port);
    return 1;
  }

  sem_init(&stopSignal, 0, 0);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  try {
    tarn::startOrb("giop:tcp:127.0.0.1:" + std::to_string(port));
    tarn::ServerHost* host = new tarn::ServerHost(options);
    std::printf("tarnd: server %s ready on 127.0.0.1:%d\n", options.name.c_str(), port);
    std::fflush(stdout);
    while (sem_wait(&stopSignal) != 0) {
    }
    delete host;
    tarn::stopOrb();
  } catch (const CORBA::Exception& e) {
    std::fprintf(stderr, "tarnd: cannot serve on port %d: %s\n", port, e._name());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnd: %s\n", e.what());
    return 1;
  }
  std::printf("tarnd: stopped\n");
  return 0;
}
