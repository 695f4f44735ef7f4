// Test support (Linux, root): separate hosts made of network namespaces, for tests of what a
// client sees when a server's network link is pulled.
//
// A NetworkLab is a hub namespace holding a bridge, and N host namespaces, each joined to the
// bridge by a veth pair: host i is 10.77.0.(i+1)/24 on its eth0, with loopback up. Nothing of it
// touches the machine's own namespace or addresses, and every lab has its own bridge, so tests may
// run in parallel. Pulling a host's cable sets the hub end of its veth pair down: the host keeps
// its address and its processes, and nothing reaches it until the cable is back.
//
// A test runs in one of the hosts: runHere() starts the same test program again inside that host's
// namespace (`ip netns exec`), only for the current test, and reports its outcome; that second
// process attaches to the lab its parent made. The parent removes the lab on scope exit, killing
// whatever still runs in it, also when the test failed; a lab left behind by a killed test program
// is removed by the next lab made on the machine.
//
// Not thread-safe; one lab per test.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

// Prints "[ measured ] WHAT: N.NN s" to the test's output, for the figures of a run.
void printMeasured(const std::string& what, std::chrono::steady_clock::duration took);

class NetworkLab {
 public:
  // Why no lab can be made here (not root, no `ip`, `ip netns add` refused), or empty.
  static std::string unavailable();

  // Makes a lab of `hosts` hosts, or attaches to the one the parent test process made.
  explicit NetworkLab(int hosts);
  ~NetworkLab();
  NetworkLab(const NetworkLab&) = delete;
  NetworkLab& operator=(const NetworkLab&) = delete;

  // True in the process that runs inside host `host`: the test goes on there. In the parent it
  // runs the current test inside that host, adds a failure when it failed, and returns false.
  bool runHere(int host);

  // The namespace of `host` and its address ("10.77.0.1" for host 0).
  std::string ns(int host) const;
  static std::string address(int host);
  // The range of every host's address, for a tarnd's --allow: "10.77.0.0/24".
  static std::string network() { return "10.77.0.0/24"; }
  // The words that run a command inside `host`: {"ip", "netns", "exec", NS}.
  std::vector<std::string> inside(int host) const;

  // Pulls or plugs back the cable of `host`. False when `ip` refused.
  bool unplug(int host);
  bool plug(int host);

 private:
  std::string prefix_;  // "ostrel-PID-": every namespace of the lab starts with it
  int hosts_;
  bool owner_;          // made here (removed here) rather than attached
};

}  // namespace testing_support
