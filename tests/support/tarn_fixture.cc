#include "tests/support/tarn_fixture.h"

#if defined(_WIN32)
#  include <winsock2.h>
#else
#  include <arpa/inet.h>
#  include <fcntl.h>
#  include <netinet/in.h>
#  include <signal.h>
#  include <spawn.h>
#  include <sys/socket.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <omniORB4/omniORB.h>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/ostrel.h"
#include "tarn/client/orb.h"
#include "tests/support/environment.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace testing_support {

namespace {
#if defined(_WIN32)
using socket_t = SOCKET;
int closeSocket(SOCKET fd) { return ::closesocket(fd); }
#else
using socket_t = int;
int closeSocket(int fd) { return ::close(fd); }
#endif
}  // namespace

int freePort() {
  socket_t fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
#if defined(_WIN32)
  int length = sizeof address;
#else
  socklen_t length = sizeof address;
#endif
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  closeSocket(fd);
  return ntohs(address.sin_port);
}

namespace {

// Whether `tarnd`'s service manager answers a ping within 10 s; false at once when `gone()`
// says the process ended.
bool answersWithin(const TarndProcess& tarnd, const std::function<bool()>& gone) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    try {
      kxTarn::kxTarnServiceManager_var probe = tarnd.manager();
      if (probe->ping() == 0) return true;
    } catch (const CORBA::Exception&) {
    }
    if (gone()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

TarndProcess::TarndProcess(std::string name, int port, std::vector<std::string> extraArgs)
    : name_(std::move(name)), port_(port), extraArgs_(std::move(extraArgs)) {}

TarndProcess::~TarndProcess() {
#if defined(OSTREL_STOP_SERVERS_CLEANLY)
  if (pid_ > 0) stop();
#else
  if (pid_ > 0) kill();
#endif
}

kxTarn::kxTarnServiceManager_ptr TarndProcess::manager() const {
  CORBA::Object_var object =
      tarn::orb()->string_to_object(((tls ? "corbaloc:ssliop:" : "corbaloc::") + address() + "/ServiceManager").c_str());
  omniORB::setClientCallTimeout(object, 2000);
  return kxTarn::kxTarnServiceManager::_unchecked_narrow(object);
}

#if defined(_WIN32)
// A Windows test program cannot start a Linux program: it asks the launcher that the test driver
// runs (scripts/tarnd_launcher.py, at OSTREL_TARND_LAUNCHER = "127.0.0.1:PORT") to start, kill or
// stop tarnd, one tab-separated command line per request.
namespace {
std::string askLauncher(const std::string& command) {
  const char* address = std::getenv("OSTREL_TARND_LAUNCHER");
  const char* colon = address ? std::strrchr(address, ':') : nullptr;
  if (colon == nullptr) return "error OSTREL_TARND_LAUNCHER is not set";
  SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in launcher{};
  launcher.sin_family = AF_INET;
  launcher.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  launcher.sin_port = htons(static_cast<u_short>(std::atoi(colon + 1)));
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&launcher), sizeof launcher) == 0) {
    const std::string line = command + "\n";
    ::send(fd, line.data(), static_cast<int>(line.size()), 0);
    char c;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') reply += c;
  } else {
    reply = "error the launcher does not answer";
  }
  ::closesocket(fd);
  return reply;
}
}  // namespace

bool TarndProcess::start() {
  std::string command = "start\t--port\t" + std::to_string(port_) + "\t--name\t" + name_;
  for (const std::string& arg : extraArgs_) command += "\t" + arg;
  if (faultPlans) command += "\t--allow-fault-plans";
  const std::string reply = askLauncher(command);
  if (reply.compare(0, 4, "pid ") != 0) {
    ADD_FAILURE() << "tarnd was not started: " << reply;
    return false;
  }
  pid_ = std::atoi(reply.c_str() + 4);
  if (answersWithin(*this, [] { return false; })) return true;
  kill();
  return false;
}

void TarndProcess::kill() {
  if (pid_ <= 0) return;
  askLauncher("kill\t" + std::to_string(pid_));
  pid_ = -1;
}

int TarndProcess::stop() {
  if (pid_ <= 0) return -1;
  const std::string reply = askLauncher("stop\t" + std::to_string(pid_));
  pid_ = -1;
  return reply.compare(0, 7, "status ") == 0 ? std::atoi(reply.c_str() + 7) : -1;
}
#else
namespace {
// The words of OSTREL_TARND; empty when it is not set.
std::vector<std::string> tarndOverride() {
  std::vector<std::string> words;
  const char* set = std::getenv("OSTREL_TARND");
  std::istringstream in(set ? set : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}
}  // namespace

std::string tarndCommand() {
  const char* set = std::getenv("OSTREL_TARND");
  return set && *set ? set : TARND_PATH;
}

bool TarndProcess::start() {
  // A first start whose port another process took since freePort() chose it (a test beside this
  // one, or a client's own end of a connection) is tried again on another port; a restart keeps
  // its port, which its clients know.
  for (int attempt = 0;; ++attempt) {
    if (startOnce()) {
      startedOnce_ = true;
      return true;
    }
    if (startedOnce_ || attempt == 2 || pid_ > 0) return false;
    port_ = freePort();
  }
}

bool TarndProcess::startOnce() {
  std::vector<std::string> args = launcher, command = tarndOverride();
  if (command.empty()) command.push_back(TARND_PATH);
  args.insert(args.end(), command.begin(), command.end());
  args.insert(args.end(), {"--port", std::to_string(port_), "--name", name_});
  args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
  if (host != "127.0.0.1") args.insert(args.end(), {"--listen", host});
  if (faultPlans) args.push_back("--allow-fault-plans");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return false;
  }
  return answersWithin(*this, [this] {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  });
}

void TarndProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

int TarndProcess::stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, tarndOverride().empty() ? SIGTERM : SIGINT);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

namespace {
int settingsCounter = 0;
}

ScopedSettings::ScopedSettings(const std::vector<ServerEntry>& servers) {
  const char* previous = std::getenv("TARN_SETTINGS");
  hadPrevious_ = previous != nullptr;
  if (previous) previous_ = previous;
  path_ = scratchPath("ostrel-settings-" + std::to_string(processId()) + "-" + std::to_string(++settingsCounter) + ".xml");
  std::ofstream out(path_);
  out << "<tarn>\n";
  for (const ServerEntry& server : servers) {
    out << "  <server name=\"" << server.name << "\" position=\"" << server.position << "\"";
    if (server.embedded) out << " embedded=\"true\"";
    if (server.tls) out << " tls=\"true\"";
    if (server.addresses.size() > 0) out << " first=\"" << server.addresses[0] << "\"";
    if (server.addresses.size() > 1) out << " second=\"" << server.addresses[1] << "\"";
    out << "/>\n";
  }
  out << "</tarn>\n";
  out.close();
  setEnvironment("TARN_SETTINGS", path_.c_str());
  reloadSettings();
}

ScopedSettings::~ScopedSettings() {
  if (hadPrevious_)
    setEnvironment("TARN_SETTINGS", previous_.c_str());
  else
    unsetEnvironment("TARN_SETTINGS");
  std::remove(path_.c_str());
  reloadSettings();
}

void reloadSettings() {
  kxNaming_Client::GetInstance()->clearServerInfo();
  kxNaming_Client::GetInstance()->InitServerInfo();
  kxReferenceContainer::instance()->BuildSettingData();
}

void planFault(const char* server, const std::string& operation, int mode, int count,
               const std::string& exception, int code, int stallMs, int skip) {
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence(server);
  if (CORBA::is_nil(manager)) throw std::runtime_error("no service manager for the fault plan");
  kxTarn::FaultPlan plan;
  plan.operation = operation.c_str();
  plan.mode = mode;
  plan.skip = skip;
  plan.count = count;
  plan.exceptionName = exception.c_str();
  plan.code = code;
  plan.stallMs = stallMs;
  manager->inject_fault(plan);
}

void clearFaults(const char* server) {
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence(server);
  if (!CORBA::is_nil(manager)) manager->clear_faults();
}

std::vector<std::string> takeNames(int rc, ObjectNames& list) {
  if (rc != 0) return {"<rc " + std::to_string(rc) + ">"};
  std::vector<std::string> names(list.names, list.names + list.count);
  Ostrel::DeatoryNameSeq(&list);
  return names;
}

}  // namespace testing_support
