#include "tests/support/contenders.h"

#if !defined(_WIN32)
#  include <signal.h>
#  include <spawn.h>
#  include <sys/wait.h>
#endif

#include <thread>

#include "ostrel/api/ostrel.h"
#include "ostrel/redundancy/contender_lists.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace testing_support {

#if !defined(_WIN32)
Contender::Contender(const std::string& host, std::vector<std::string> launcher) {
  std::string command = std::string("exec ") + OSTREL_TOOL_PATH + " contend pump --period 1 >/dev/null 2>&1";
  if (!host.empty()) command = "hostname " + host + " && " + command;
  std::vector<std::string> args = std::move(launcher);
  if (!host.empty()) args.insert(args.end(), {"unshare", "--uts"});
  args.insert(args.end(), {"/bin/sh", "-c", command});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) pid_ = pid;
}

void Contender::signal(int sig) {
  if (pid_ <= 0) return;
  ::kill(static_cast<pid_t>(pid_), sig);
  ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  pid_ = -1;
}
#endif

namespace {

// Calls `visit(host, program)` for every listed program; false when the listing fails.
template <typename Visit>
bool eachProgram(const char* server, Visit visit) {
  ContenderInHostSequence list;
  if (Ostrel::GetContenderList(list, server, nullptr) != 0) return false;
  for (int i = 0; i < list.count; ++i) {
    const ContenderInHost* host = list.items[i];
    for (int j = 0; host->programs && j < host->programs->count; ++j) visit(*host, *host->programs->items[j]);
  }
  Ostrel::DestoryContenderInHostSequence(&list);
  return true;
}

}  // namespace

std::string contenderRole(const char* server, const std::string& host, const std::string& name) {
  std::string role = "absent";
  const bool listed = eachProgram(server, [&](const ContenderInHost& h, const ProgramStatus& p) {
    if (host == h.hostName && name == p.name) role = p.value3 ? "active" : "standby";
  });
  return listed ? role : "no listing";
}

int contenderCount(const char* server) {
  int count = 0;
  return eachProgram(server, [&](const ContenderInHost&, const ProgramStatus&) { ++count; }) ? count : -1;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace testing_support
