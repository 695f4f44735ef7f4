// tarnd: one middleware server in a process of its own, listening on a loopback endpoint.
//
// With --data, every data point change, and every change of a port or event box marked
// persistent, is journaled in DIR before it is acknowledged and comes back after a restart; one
// tarnd holds a folder at a time (a lock). The service manager is reachable as
// corbaloc::127.0.0.1:PORT/ServiceManager; every object key is persistent, so references survive
// a restart on the same port. SIGINT and SIGTERM stop it. `tarnd --help` lists every option,
// budget and environment variable; the table below is the one place they are described.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tarn/client/orb.h"
#include "tarn/server/host.h"

namespace {

sem_t stopSignal;

void onSignal(int) { sem_post(&stopSignal); }  // async-signal-safe

// One command line option: its flag, the name of its value (null: a switch), its help text,
// and what it sets (an error text, or empty when the value is good).
struct Option {
  const char* flag;
  const char* value;
  std::string help;
  std::function<std::string(const char*)> set;
};

// A whole number from `low` to `high` in `out`; an error text otherwise.
template <typename Number>
std::string number(const char* flag, const char* text, unsigned long long low, unsigned long long high, Number& out) {
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text, &end, 10);
  if (*text == '\0' || *text == '-' || *end != '\0' || n < low || n > high)
    return std::string(flag) + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
           ", not '" + text + "'";
  out = static_cast<Number>(n);
  return {};
}

const char* const kEnvironment =
    "environment:\n"
    "  TARN_IDLE_CONNECTION_S  seconds before an unused port or box connection is closed (600)\n"
    "  TARN_IDLE_FILE_S        seconds before an unused snapshot file reader is closed (600)\n"
    "  TMPDIR                  where snapshot files go without --data (a folder of its own, made there; /tmp)\n"
    "The clients' variables (TARN_SETTINGS, TARN_CALL_TIMEOUT_MS, ...) do not change tarnd.\n";

void printHelp(const std::vector<Option>& options) {
  std::printf("usage: tarnd --port PORT [options]\n\noptions:\n");
  for (const Option& option : options) {
    const std::string head = std::string(option.flag) + (option.value ? std::string(" ") + option.value : "");
    std::printf("  %-28s %s\n", head.c_str(), option.help.c_str());
  }
  std::printf("\nBudgets: 0 means no limit. Past a count budget a call answers 2022 (a new realm past its count\n"
              "has no service), past the queued bytes 2019; nothing changes and other clients are served as before.\n"
              "A second tarnd on a locked data folder exits with status 1; a journal damaged before its last\n"
              "record is refused at start (status 1) unless --salvage is given.\n\n%s", kEnvironment);
}

int usage(const std::string& why) {
  std::fprintf(stderr, "tarnd: %s\nusage: tarnd --port PORT [options]; tarnd --help lists them\n", why.c_str());
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
  options.allowFaultPlans = false;
  int port = 0;
  bool journalSyncGiven = false;
  tarn::Budgets& budgets = options.budgets;
  const tarn::Budgets defaults;
  auto fmt = [](unsigned long long n) { return std::to_string(n); };
  const unsigned long long kMany = 1ull << 40;
  const std::vector<Option> table = {
      {"--port", "PORT", "listen on 127.0.0.1:PORT (required)",
       [&](const char* v) { return number("--port", v, 1, 65535, port); }},
      {"--name", "NAME", "the server's name (tarnd)", [&](const char* v) { options.name = v; return std::string(); }},
      {"--types", "FILE", "type definitions of the default type service (built-in plant types)",
       [&](const char* v) { options.typeFiles.emplace_back("", v); return std::string(); }},
      {"--type-instance", "NAME=FILE", "another type service instance, NAME, with the types of FILE (repeatable)",
       [&](const char* v) {
         const char* equals = std::strchr(v, '=');
         if (!equals) return std::string("--type-instance takes NAME=FILE");
         options.typeFiles.emplace_back(std::string(v, equals), std::string(equals + 1));
         return std::string();
       }},
      {"--data", "DIR", "keep data points and persistent channels in DIR (journal, snapshot files); locked",
       [&](const char* v) { options.dataDir = v; return std::string(); }},
      {"--journal-sync", "disk|os", "acknowledge a change once on the disk (disk, the default) or with the OS",
       [&](const char* v) {
         if (std::strcmp(v, "disk") != 0 && std::strcmp(v, "os") != 0) return std::string("--journal-sync takes disk or os");
         options.journalToDisk = std::strcmp(v, "disk") == 0;
         journalSyncGiven = true;
         return std::string();
       }},
      {"--salvage", nullptr, "start from a journal damaged in the middle: keep every whole record, set the file aside",
       [&](const char*) { options.salvage = true; return std::string(); }},
      {"--no-type-stream", nullptr, "refuse the packed type stream (as an older server does)",
       [&](const char*) { options.refuseTypeStream = true; return std::string(); }},
      {"--contender-expiry", "SECONDS", "drop a contender silent this long, or twice its beat interval if longer (15)",
       [&](const char* v) {
         unsigned seconds = 0;
         std::string error = number("--contender-expiry", v, 1, 86400, seconds);
         options.contenderExpiry = std::chrono::seconds(seconds);
         return error;
       }},
      {"--allow-fault-plans", nullptr, "accept fault plans from clients (for tests only; refused otherwise)",
       [&](const char*) { options.allowFaultPlans = true; return std::string(); }},
      {"--max-queued-bytes", "BYTES",
       "bytes queued in all ports and boxes, 64 more per queued message (" + fmt(defaults.queuedBytes) + " = " +
           fmt(defaults.queuedBytes >> 20) + " MiB)",
       [&](const char* v) { return number("--max-queued-bytes", v, 0, kMany, budgets.queuedBytes); }},
      {"--max-ports", "N", "packet ports (" + fmt(defaults.ports) + ")",
       [&](const char* v) { return number("--max-ports", v, 0, kMany, budgets.ports); }},
      {"--max-boxes", "N", "event boxes (" + fmt(defaults.boxes) + ")",
       [&](const char* v) { return number("--max-boxes", v, 0, kMany, budgets.boxes); }},
      {"--max-realms", "N", "realms, the default one included (" + fmt(defaults.realms) + ")",
       [&](const char* v) { return number("--max-realms", v, 0, kMany, budgets.realms); }},
      {"--max-connections", "N", "open port and box connections (" + fmt(defaults.connections) + ")",
       [&](const char* v) { return number("--max-connections", v, 0, kMany, budgets.connections); }},
      {"--max-box-size", "EVENTS", "the size a box may be created with (" + fmt(defaults.boxSize) + ")",
       [&](const char* v) { return number("--max-box-size", v, 0, kMany, budgets.boxSize); }},
      {"--max-file-readers", "N", "open snapshot file readers in all (" + fmt(defaults.fileReaders) + ")",
       [&](const char* v) { return number("--max-file-readers", v, 0, kMany, budgets.fileReaders); }},
      {"--max-client-readers", "N",
       "open snapshot file readers per client connection (" + fmt(defaults.fileReadersPerClient) + ")",
       [&](const char* v) { return number("--max-client-readers", v, 0, kMany, budgets.fileReadersPerClient); }},
      {"--version", nullptr, "print the version and stop", nullptr},
      {"--help", nullptr, "print this help and stop (also -h)", nullptr},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version") {
      std::printf("tarnd " TARN_VERSION "\n");
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      printHelp(table);
      return 0;
    }
    const Option* found = nullptr;
    for (const Option& option : table)
      if (arg == option.flag && option.set) found = &option;
    if (!found || (found->value && i + 1 >= argc)) return usage("unknown or incomplete option " + arg);
    const std::string error = found->set(found->value ? argv[++i] : nullptr);
    if (!error.empty()) return usage(error);
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
  // A journal that reaches a file size limit answers kNotKept instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    tarn::startOrb("giop:tcp:127.0.0.1:" + std::to_string(port));
    tarn::ServerHost* host = new tarn::ServerHost(options);
    const std::string note = host->startNote();
    if (!note.empty()) std::fprintf(stderr, "tarnd: %s\n", note.c_str());
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
