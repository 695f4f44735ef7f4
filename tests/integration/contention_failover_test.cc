// Failover between two `ostrel contend` processes on two hosts, through tarnd. The second host
// is a UTS namespace of its own with its own host name (`unshare --uts`, which needs root);
// where that is not possible the test is skipped and says why.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/platform/host.h"
#include "tests/support/contenders.h"
#include "tests/support/tarn_fixture.h"

extern char** environ;

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr int kExpirySeconds = 3;
const char* const kOtherHost = "failover-b";

// One `ostrel contend pump --period 1` process, on `host` (empty: this host). SIGKILL on scope exit.
class Contender {
 public:
  explicit Contender(const std::string& host) {
    std::string command = std::string("exec ") + OSTREL_TOOL_PATH + " contend pump --period 1 >/dev/null 2>&1";
    if (!host.empty()) command = "hostname " + host + " && " + command;
    std::vector<std::string> args = {"/bin/sh", "-c", command};
    if (!host.empty()) args.insert(args.begin(), {"unshare", "--uts"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  ~Contender() { signal(SIGKILL); }
  // Sends `sig` and waits for the process to end.
  void signal(int sig) {
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

bool becomes(const std::string& host, const std::string& role, std::chrono::milliseconds limit) {
  return eventually([&] { return contenderRole("plant", host, "pump") == role; }, limit);
}

TEST(ContentionFailover, KilledActiveIsReplacedWithinTheExpiryAndReturnsAsStandby) {
  if (std::system("unshare --uts true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "cannot make a second host here: `unshare --uts` needs root and namespaces";
  TarndProcess tarnd("plant", freePort(), {"--contender-expiry", std::to_string(kExpirySeconds)});
  ASSERT_TRUE(tarnd.start());
  ScopedSettings settings({{"plant", "own", {tarnd.address()}}});  // the children read it too
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  const std::string me = ostrel::platform::hostName();

  auto first = std::make_unique<Contender>("");
  ASSERT_TRUE(becomes(me, "active", 10s)) << "the first contender is active";
  Contender second(kOtherHost);
  ASSERT_TRUE(becomes(kOtherHost, "standby", 10s));

  first->signal(SIGKILL);  // no leave is sent
  EXPECT_TRUE(becomes(kOtherHost, "active", std::chrono::seconds(kExpirySeconds + 2)))
      << "the second takes over once the first's registration expires";

  first = std::make_unique<Contender>("");
  ASSERT_TRUE(becomes(me, "standby", 10s)) << "the first returns as a standby";
  std::this_thread::sleep_for(std::chrono::seconds(kExpirySeconds));
  EXPECT_EQ("active", contenderRole("plant", kOtherHost, "pump")) << "the active one keeps the role while it beats";

  second.signal(SIGINT);  // the tool leaves on Ctrl-C
  EXPECT_EQ("active", contenderRole("plant", me, "pump")) << "a leave hands the role over at once";
  EXPECT_EQ("absent", contenderRole("plant", kOtherHost, "pump"));
}

}  // namespace
