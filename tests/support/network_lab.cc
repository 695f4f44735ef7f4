#include "tests/support/network_lab.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/environment.h"

extern char** environ;

namespace testing_support {

namespace {

// The lab a parent test process made, for the process it runs inside one of the hosts.
const char* const kLabVariable = "OSTREL_NETWORK_LAB";
const char* const kNamePrefix = "ostrel-";

// Runs `command` through the shell; its exit status, with what it printed in `output`.
int shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Kills what runs in namespace `name` and removes it.
void removeNamespace(const std::string& name) {
  shell("for p in $(ip netns pids " + name + "); do kill -9 $p; done; ip netns del " + name);
}

// Removes the labs of test programs that ended without removing theirs (killed at a time-out).
void removeAbandonedLabs() {
  std::string list;
  if (shell("ip netns list", &list) != 0) return;
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string name = line.substr(0, line.find(' '));
    if (name.compare(0, std::strlen(kNamePrefix), kNamePrefix) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(kNamePrefix), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) removeNamespace(name);
  }
}

}  // namespace

void printMeasured(const std::string& what, std::chrono::steady_clock::duration took) {
  std::printf("[ measured ] %s: %.2f s\n", what.c_str(), std::chrono::duration<double>(took).count());
  std::fflush(stdout);
}

std::string NetworkLab::unavailable() {
  static const std::string why = [] {
    if (std::getenv(kLabVariable)) return std::string();
    if (::geteuid() != 0) return std::string("network namespaces need root (this test runs as uid ") +
                                 std::to_string(::geteuid()) + ")";
    if (shell("command -v ip") != 0) return std::string("`ip` (iproute2) is not installed");
    const std::string probe = kNamePrefix + std::to_string(::getpid()) + "-probe";
    std::string output;
    if (shell("ip netns add " + probe, &output) != 0)
      return "`ip netns add` is refused here (no CAP_NET_ADMIN, or no namespaces): " + output;
    removeNamespace(probe);
    return std::string();
  }();
  return why;
}

NetworkLab::NetworkLab(int hosts) : hosts_(hosts), owner_(std::getenv(kLabVariable) == nullptr) {
  if (!owner_) {
    prefix_ = std::getenv(kLabVariable);
    return;
  }
  removeAbandonedLabs();
  prefix_ = kNamePrefix + std::to_string(::getpid()) + "-";
  const std::string hub = prefix_ + "hub";
  std::string script = "set -e; ip netns add " + hub + "; ip -n " + hub + " link add br0 type bridge; ip -n " + hub +
                       " link set br0 up; ";
  for (int i = 0; i < hosts; ++i) {
    const std::string host = ns(i), port = "p" + std::to_string(i);
    script += "ip netns add " + host + "; ip -n " + hub + " link add " + port + " type veth peer name eth0 netns " +
              host + "; ip -n " + hub + " link set " + port + " master br0 up; ip -n " + host + " addr add " +
              address(i) + "/24 dev eth0; ip -n " + host + " link set eth0 up; ip -n " + host + " link set lo up; ";
  }
  std::string output;
  if (shell(script, &output) != 0) ADD_FAILURE() << "the network lab was not made: " << output;
}

NetworkLab::~NetworkLab() {
  if (!owner_) return;
  for (int i = 0; i < hosts_; ++i) removeNamespace(ns(i));
  removeNamespace(prefix_ + "hub");
}

bool NetworkLab::runHere(int host) {
  if (!owner_) return true;
  char self[PATH_MAX] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    ADD_FAILURE() << "cannot find this test program";
    return false;
  }
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::vector<std::string> args = inside(host);
  args.push_back(self);
  args.push_back(std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  setEnvironment(kLabVariable, prefix_.c_str());
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  unsetEnvironment(kLabVariable);
  int status = 0;
  if (rc != 0 || ::waitpid(pid, &status, 0) != pid) {
    ADD_FAILURE() << "cannot run the test inside " << ns(host);
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    ADD_FAILURE() << "the test failed inside " << ns(host) << " (its output is above)";
  return false;
}

std::string NetworkLab::ns(int host) const { return prefix_ + "h" + std::to_string(host); }

std::string NetworkLab::address(int host) { return "10.77.0." + std::to_string(host + 1); }

std::vector<std::string> NetworkLab::inside(int host) const { return {"ip", "netns", "exec", ns(host)}; }

bool NetworkLab::unplug(int host) {
  return shell("ip -n " + prefix_ + "hub link set p" + std::to_string(host) + " down") == 0;
}

bool NetworkLab::plug(int host) {
  return shell("ip -n " + prefix_ + "hub link set p" + std::to_string(host) + " up") == 0;
}

}  // namespace testing_support
