// tarnd: one middleware server in a process of its own, listening on loopback or on the
// addresses --listen names.
//
// With --data, every data point change, and every change of a port or event box marked
// persistent, is journaled in DIR before it is acknowledged and comes back after a restart; one
// tarnd holds a folder at a time (a lock). The service manager is reachable as
// corbaloc::127.0.0.1:PORT/ServiceManager (corbaloc::ADDR:PORT/... with --listen); every object
// key is persistent, so references survive a restart on the same port. SIGINT and SIGTERM stop it
// (on Windows Ctrl+C, Ctrl+Break and the console closing; process.h).
// `tarnd --help` lists every option, budget and environment variable; the table below is the one
// place they are described.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <semaphore.h>

#include "tarn/client/orb.h"
#include "tarn/client/settings.h"
#include "tarn/client/tls.h"
#include "tarn/server/connection_gate.h"
#include "tarn/server/host.h"
#include "tarn/server/process.h"
#include "tarn/server/rights.h"
#include "tarn/server/type_service.h"

namespace {

sem_t stopSignal;

void onStop() { sem_post(&stopSignal); }  // async-signal-safe

// How long a stop waits for the calls in flight.
constexpr int kStopBoundMs = 10000;

// The request size limit's bounds: below 1 MiB the ORB's own requests would not fit, and the
// ORB counts a message's size in 32 bits.
constexpr unsigned long long kMinRequestBytes = 1ull << 20, kMaxRequestBytes = 2ull << 30;

// Connections up to which the ORB gives each its own thread: more than the file descriptors of
// any process, so it never switches to a shared pool that would take connections unseen.
constexpr unsigned long kThreadPerConnectionAlways = 1000000;

// Descriptors kept for the listening sockets, the journal, snapshot files being written and the
// like, beyond the network connections and the snapshot readers.
constexpr unsigned long long kSpareDescriptors = 64;

// Raises the process's descriptor limit to its hard limit, and lowers the network connection
// budget when the connections, the snapshot readers and a spare would still not fit in it; what
// it lowered, for the log (empty when nothing).
std::string fitDescriptors(tarn::Budgets& budgets) {
  const unsigned long long files = tarn::raiseFileLimit();
  if (files == 0) return {};
  const unsigned long long others = budgets.fileReaders + kSpareDescriptors;
  const unsigned long long room = files > others ? files - others : 1;
  if (budgets.tcpConnections != 0 && budgets.tcpConnections <= room) return {};
  const std::string was = budgets.tcpConnections ? std::to_string(budgets.tcpConnections) : "no limit";
  budgets.tcpConnections = static_cast<std::size_t>(room);
  if (budgets.tcpPerHost == 0 || budgets.tcpPerHost > room) budgets.tcpPerHost = static_cast<std::size_t>(room);
  return "network connections limited to " + std::to_string(room) + " (not " + was + "): the process may open " +
         std::to_string(files) + " files, " + std::to_string(others) + " of them kept for snapshot readers and the server's own";
}

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
    "  TARN_IDLE_CONNECTION_S  seconds before an unused port or box connection is closed, and a realm\n"
    "                          that held nothing is reclaimed (600)\n"
    "  TARN_IDLE_FILE_S        seconds before an unused snapshot file reader is closed (600)\n"
    "  TMPDIR                  where snapshot files go without --data (a folder of its own, made there; /tmp)\n"
    "The clients' variables (TARN_SETTINGS, TARN_CALL_TIMEOUT_MS, ...) do not change tarnd.\n";

void printHelp(const std::vector<Option>& options) {
  std::printf("usage: tarnd [--listen ADDR[:PORT]]... [--port PORT] [options]\n\noptions:\n");
  for (const Option& option : options) {
    const std::string head = std::string(option.flag) + (option.value ? std::string(" ") + option.value : "");
    std::printf("  %-28s %s\n", head.c_str(), option.help.c_str());
  }
  std::printf("\nAddresses: without --listen tarnd listens on 127.0.0.1:PORT. Each --listen adds an address (a\n"
              "second network, a host's own address for clients on other hosts); a port that is in use, or an\n"
              "address that is not this host's, stops tarnd at start (status 1). The references tarnd hands out\n"
              "name every address, the non-loopback ones first in the order given: a client tries them in turn.\n"
              "\nBudgets: 0 means no limit. Past a count budget a call answers 2022 (a new realm past its count\n"
              "has no service), past the queued bytes 2019; nothing changes and other clients are served as before.\n"
              "A request past --max-request-bytes is refused before it is read (the caller's call fails); a connection\n"
              "past a connection limit is closed as it comes, while those already open are served. Names of points,\n"
              "ports, boxes, realms, contenders and client processes are at most 4096 bytes (2010; a longer realm\n"
              "name gets no service), a contender's record at most 64 KiB (2022). The network connection limit is\n"
              "lowered to fit the process's file limit.\n"
              "\nWho may connect: loopback always. Listening on any other address needs --allow CIDR (clients from\n"
              "other addresses are refused as they connect), --tls-only (clients must show a certificate of the\n"
              "--tls-ca) or --allow-any; without one of them tarnd does not start.\n"
              "With --rights FILE each call needs its right (none, read, write, admin) in its realm, as the first\n"
              "rule IDENTITY REALM RIGHT of FILE that matches says (# comments; IDENTITY *, an address range or\n"
              "CN=NAME of a TLS client; REALM a name, - for the default realm or *); a refused call answers 2026.\n"
              "A second tarnd on a locked data folder exits with status 1. The journal holds one unit per request,\n"
              "applied whole or not at all; only an incomplete last unit is cut at start. Damage anywhere, units out\n"
              "of sequence, or a journal shorter than its manifest records are refused (status 1) unless --salvage.\n\n%s",
              kEnvironment);
}

int usage(const std::string& why) {
  std::fprintf(stderr, "tarnd: %s\nusage: tarnd [--listen ADDR[:PORT]]... [--port PORT] [options]; tarnd --help lists them\n", why.c_str());
  return 2;
}

// One address to listen on: a host name or IPv4 address, and a port (0: the one --port gives).
struct Listen {
  std::string host;
  int port = 0;
  std::string text() const { return host + ":" + std::to_string(port); }
  std::string endpoint() const { return "giop:tcp:" + text(); }
};

// Adds the address of one --listen value to `out`; an error text when it is not ADDR[:PORT].
std::string parseListen(const char* text, std::vector<Listen>& out) {
  const std::string value = text;
  Listen listen;
  const auto colon = value.find(':');
  listen.host = value.substr(0, colon);
  if (!tarn::validHost(listen.host))
    return "--listen takes a host name or IPv4 address, with :PORT or without, not '" + value + "'";
  if (colon != std::string::npos) {
    const std::string error = number("--listen's port", value.c_str() + colon + 1, 1, 65535, listen.port);
    if (!error.empty()) return error;
  }
  if (out.size() == tarn::kMaxEndpoints) return "--listen is given more than " + std::to_string(tarn::kMaxEndpoints) + " times";
  out.push_back(listen);
  return {};
}

bool loopback(const std::string& host) { return host == "localhost" || host.compare(0, 4, "127.") == 0; }

}  // namespace

int main(int argc, char** argv) {
  tarn::HostOptions options;
  options.name = "tarnd";
  options.typeFiles.clear();
  options.allowFaultPlans = false;
  int port = 0;
  std::vector<Listen> listens;
  bool journalSyncGiven = false;
  bool allowAny = false;
  tarn::TlsFiles tls;
  int tlsPort = 0;
  bool tlsOnly = false;
  std::string rightsFile;
  tarn::GatePolicy gate;
  tarn::Budgets& budgets = options.budgets;
  const tarn::Budgets defaults;
  auto fmt = [](unsigned long long n) { return std::to_string(n); };
  const unsigned long long kMany = 1ull << 40;
  const std::vector<Option> table = {
      {"--port", "PORT", "the port of every address without one (required unless each --listen names one)",
       [&](const char* v) { return number("--port", v, 1, 65535, port); }},
      {"--listen", "ADDR[:PORT]",
       "listen on ADDR, a host name or IPv4 address (repeatable; 127.0.0.1 without any)",
       [&](const char* v) { return parseListen(v, listens); }},
      {"--allow", "CIDR",
       "serve clients from this address range too, IPv4 or IPv6 (10.0.0.0/8, 192.168.1.7, fd00::/8; repeatable);"
       " others are refused as they connect, loopback never",
       [&](const char* v) {
         tarn::AddressRange range;
         std::string error;
         if (!tarn::AddressRange::parse(v, range, error)) return "--allow: " + error;
         gate.allowed.push_back(range);
         return std::string();
       }},
      {"--allow-any", nullptr, "serve clients from any address (every one of them may do everything without --rights)",
       [&](const char*) { allowAny = true; return std::string(); }},
      {"--tls-cert", "FILE", "TLS: this server's certificate (PEM; with --tls-key and --tls-ca)",
       [&](const char* v) { tls.cert = v; return std::string(); }},
      {"--tls-key", "FILE", "TLS: its private key (PEM)", [&](const char* v) { tls.key = v; return std::string(); }},
      {"--tls-ca", "FILE", "TLS: the CA certificates (PEM) that sign the clients'; a client without one is refused",
       [&](const char* v) { tls.ca = v; return std::string(); }},
      {"--tls-port", "PORT", "TLS endpoints on this port of every address, beside the plain ones",
       [&](const char* v) { return number("--tls-port", v, 1, 65535, tlsPort); }},
      {"--tls-only", nullptr, "TLS endpoints only, on the addresses' own ports: no plain endpoint at all",
       [&](const char*) { tlsOnly = true; return std::string(); }},
      {"--allow-subject", "NAME",
       "serve only TLS clients whose certificate subject's common name is NAME (repeatable; the CN= names"
       " of --rights count too, and alone name the subjects served)",
       [&](const char* v) { gate.subjects.push_back(v); return std::string(); }},
      {"--rights", "FILE",
       "what each client may do in each realm: lines IDENTITY REALM RIGHT (none, read, write, admin), checked"
       " at start; without it every client served may do everything",
       [&](const char* v) { rightsFile = v; return std::string(); }},
      {"--name", "NAME", "the server's name (tarnd)", [&](const char* v) { options.name = v; return std::string(); }},
      {"--types", "FILE",
       "type definitions of the default type service (built-in plant types); types nest at most " +
           fmt(tarn::TypeBook::kMaxNesting) + " levels deep",
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
      {"--salvage", nullptr, "start from a damaged or short journal: keep every whole unit, set the file aside",
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
      {"--max-client-connections", "N",
       "open port and box connections of one client process (" + fmt(defaults.connectionsPerClient) + ")",
       [&](const char* v) { return number("--max-client-connections", v, 0, kMany, budgets.connectionsPerClient); }},
      {"--max-box-size", "EVENTS", "the size a box may be created with (" + fmt(defaults.boxSize) + ")",
       [&](const char* v) { return number("--max-box-size", v, 0, kMany, budgets.boxSize); }},
      {"--max-box-codes", "N", "event codes one box takes (" + fmt(defaults.codesPerBox) + ")",
       [&](const char* v) { return number("--max-box-codes", v, 0, kMany, budgets.codesPerBox); }},
      {"--max-points", "N", "data points, in all realms (" + fmt(defaults.points) + ")",
       [&](const char* v) { return number("--max-points", v, 0, kMany, budgets.points); }},
      {"--max-point-bytes", "BYTES",
       "data points' names and values, " + fmt(tarn::kPointCost) + " more per point (" + fmt(defaults.pointBytes) +
           " = " + fmt(defaults.pointBytes >> 20) + " MiB)",
       [&](const char* v) { return number("--max-point-bytes", v, 0, kMany, budgets.pointBytes); }},
      {"--max-request-bytes", "BYTES",
       "the largest request or answer; a larger request is refused unread (" + fmt(defaults.requestBytes) + " = " +
           fmt(defaults.requestBytes >> 20) + " MiB; 1 MiB to 2 GiB)",
       [&](const char* v) {
         return number("--max-request-bytes", v, kMinRequestBytes, kMaxRequestBytes, budgets.requestBytes);
       }},
      {"--max-tcp-connections", "N",
       "network connections open at once; more are closed as they come (" + fmt(defaults.tcpConnections) + ")",
       [&](const char* v) { return number("--max-tcp-connections", v, 0, kMany, budgets.tcpConnections); }},
      {"--max-host-tcp-connections", "N",
       "network connections from one client host (address) (" + fmt(defaults.tcpPerHost) + ")",
       [&](const char* v) { return number("--max-host-tcp-connections", v, 0, kMany, budgets.tcpPerHost); }},
      {"--max-file-readers", "N", "open snapshot file readers in all (" + fmt(defaults.fileReaders) + ")",
       [&](const char* v) { return number("--max-file-readers", v, 0, kMany, budgets.fileReaders); }},
      {"--max-client-readers", "N",
       "open snapshot file readers per client process (" + fmt(defaults.fileReadersPerClient) + ")",
       [&](const char* v) { return number("--max-client-readers", v, 0, kMany, budgets.fileReadersPerClient); }},
      {"--max-contenders", "N", "contender registrations, in all realms (" + fmt(defaults.contenders) + ")",
       [&](const char* v) { return number("--max-contenders", v, 0, kMany, budgets.contenders); }},
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
  if (listens.empty()) listens.push_back({"127.0.0.1", 0});
  for (Listen& listen : listens) {
    if (listen.port == 0 && port == 0) return usage("--port PORT (1-65535) is required for --listen " + listen.host);
    if (listen.port == 0) listen.port = port;
    if (&listen != &listens.front() &&
        std::any_of(&listens.front(), &listen, [&](const Listen& other) { return other.text() == listen.text(); }))
      return usage("--listen names " + listen.text() + " twice");
  }
  if (allowAny && !gate.allowed.empty()) return usage("--allow-any and --allow exclude each other");
  if (tls.wanted()) {
    const std::string problem = tarn::tlsFilesProblem(tls, true);
    if (!problem.empty()) return usage(problem + " (--tls-cert, --tls-key, --tls-ca)");
    if (!tlsOnly && tlsPort == 0) return usage("TLS needs --tls-port PORT for its endpoints, or --tls-only");
  } else if (tlsOnly || tlsPort || !gate.subjects.empty()) {
    return usage("--tls-only, --tls-port and --allow-subject need --tls-cert, --tls-key and --tls-ca");
  }
  if (tlsOnly && tlsPort) return usage("--tls-only uses the addresses' own ports: no --tls-port");
  // Anyone who reaches a network address may do everything the server does: not without a policy.
  const auto open = std::find_if(listens.begin(), listens.end(), [](const Listen& l) { return !loopback(l.host); });
  if (open != listens.end() && !allowAny && gate.allowed.empty() && !tlsOnly) {
    std::fprintf(stderr,
                 "tarnd: not listening on %s: every client that reaches it could read, write and delete everything;\n"
                 "       name the clients with --allow CIDR (repeatable), take TLS clients only (--tls-only),\n"
                 "       or serve everyone with --allow-any\n",
                 open->text().c_str());
    return 2;
  }
  if (allowAny && open != listens.end())
    std::fprintf(stderr, "tarnd: WARNING: --allow-any: every client that reaches %s is served%s\n", open->text().c_str(),
                 " and may read, write and delete everything");
  std::shared_ptr<tarn::RightsTable> rights;
  if (!rightsFile.empty()) {
    rights = std::make_shared<tarn::RightsTable>();
    std::string error;
    if (!rights->load(rightsFile, error)) {
      std::fprintf(stderr, "tarnd: %s\n", error.c_str());
      return 2;
    }
  }
  if (rights && tls.wanted())
    for (const std::string& name : rights->identities()) gate.subjects.push_back(name);
  const std::string fdNote = fitDescriptors(budgets);
  if (!fdNote.empty()) std::fprintf(stderr, "tarnd: %s\n", fdNote.c_str());
  if (journalSyncGiven && options.dataDir.empty())
    return usage("--journal-sync needs --data DIR: without it nothing is journaled");
  std::vector<std::string> endpoints, published, publishedLast;
  std::string where;
  for (const Listen& listen : listens) {
    Listen secure = listen;
    if (tlsPort) secure.port = tlsPort;
    for (const Listen* one : {&listen, static_cast<const Listen*>(&secure)}) {
      if (one == &secure && (!tls.wanted() || tlsOnly)) continue;  // with --tls-only `listen` is the TLS one
      if (one == &secure && secure.port == listen.port) return usage("--tls-port is the port of " + listen.text());
      const std::string why = tarn::cannotListen(one->host, one->port);
      if (!why.empty()) {
        std::fprintf(stderr, "tarnd: %s\n", why.c_str());
        return 1;
      }
    }
    std::vector<std::string> points;
    if (!tlsOnly) points.push_back(listen.endpoint());
    if (tls.wanted()) points.push_back("giop:ssl:" + secure.text());
    for (const std::string& point : points) {
      endpoints.push_back(point);
      // A client on another host that tried a loopback address first would reach its own host.
      (loopback(listen.host) ? publishedLast : published).push_back(point);
    }
    where += (where.empty() ? "" : ", ") + (tlsOnly ? "TLS " + listen.text() : listen.text()) +
             (tls.wanted() && !tlsOnly ? " (TLS " + secure.text() + ")" : "");
  }
  published.insert(published.end(), publishedLast.begin(), publishedLast.end());

  sem_init(&stopSignal, 0, 0);
  tarn::onStopRequest(onStop);
  try {
    tarn::ServerOrbLimits orbLimits;
    orbLimits.maxMessageBytes = static_cast<unsigned long>(budgets.requestBytes);
    gate.total = budgets.tcpConnections;
    gate.perHost = budgets.tcpPerHost;
    gate.anyHost = allowAny;
    orbLimits.tls = tls;  // never the clients' TLS variables
    // One thread per connection always, so that the gate sees every connection as it is accepted.
    orbLimits.threadPerConnectionUpTo = kThreadPerConnectionAlways;
    tarn::enforceRights(rights);  // before the first call can arrive
    tarn::startOrb(endpoints, published, orbLimits);
    tarn::gateConnections(gate);
    tarn::ServerHost* host = new tarn::ServerHost(options);
    const std::string note = host->startNote();
    if (!note.empty()) std::fprintf(stderr, "tarnd: %s\n", note.c_str());
    std::printf("tarnd: server %s ready on %s\n", options.name.c_str(), where.c_str());
    std::fflush(stdout);
    while (sem_wait(&stopSignal) != 0) {
    }
    // Stop taking calls and let those in flight end (waits are woken first) before anything they
    // use goes. Calls still running past the bound (a disk that does not answer) are left to
    // the process's end: every acknowledged change is on disk already.
    host->stopWaits();
    if (!tarn::quiesceOrb(kStopBoundMs)) {
      std::printf("tarnd: stopped with calls still running after %d ms\n", kStopBoundMs);
      std::fflush(stdout);
      std::_Exit(0);
    }
    delete host;
    tarn::stopOrb();
  } catch (const CORBA::Exception& e) {
    std::fprintf(stderr, "tarnd: cannot serve on %s: %s\n", where.c_str(), e._name());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnd: %s\n", e.what());
    return 1;
  }
  std::printf("tarnd: stopped\n");
  return 0;
}
