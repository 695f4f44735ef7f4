// tarnd's process on POSIX: signals, RLIMIT_NOFILE, a bind probe and /proc's TCP table.
#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tarn/server/process.h"

namespace tarn {
namespace {

void (*stopRequested)() = nullptr;

void onSignal(int) { stopRequested(); }

// "0100007F:1F90" (the kernel's little-endian IPv4 and hexadecimal port) as "127.0.0.1:8080".
std::string dottedPeer(const std::string& hex) {
  const auto colon = hex.find(':');
  const unsigned long address = std::strtoul(hex.substr(0, colon).c_str(), nullptr, 16);
  const unsigned long port = colon == std::string::npos ? 0 : std::strtoul(hex.c_str() + colon + 1, nullptr, 16);
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu:%lu", address & 255, (address >> 8) & 255, (address >> 16) & 255,
                (address >> 24) & 255, port);
  return text;
}

}  // namespace

void onStopRequest(void (*stop)()) {
  stopRequested = stop;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  // A journal that reaches a file size limit answers kNotKept instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

unsigned long long raiseFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<unsigned long long>(limit.rlim_cur);
}

std::string cannotListen(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
    return "the host name " + host + " does not resolve to an IPv4 address";
  std::string why;
  for (addrinfo* entry = found; entry && why.empty(); entry = entry->ai_next) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) break;
    const int on = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // as the ORB binds
    sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (errno == EADDRINUSE) why = "port " + std::to_string(port) + " is in use on " + host;
      if (errno == EADDRNOTAVAIL) why = host + " is not an address of this host";
    }
    ::close(probe);
  }
  ::freeaddrinfo(found);
  return why;
}

bool heldPeers(std::set<std::string>& peers) {
  // The process's socket descriptors, matched with the kernel's table by inode.
  std::set<std::string> inodes;
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return false;
  while (dirent* entry = ::readdir(fds)) {
    char target[64];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 9 || std::string(target, 8) != "socket:[") continue;
    inodes.insert(std::string(target + 8, static_cast<std::size_t>(n) - 9));
  }
  ::closedir(fds);
  std::ifstream table("/proc/net/tcp");
  if (!table) return false;
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode)) continue;
    if ((state == "01" || state == "08") && inodes.count(inode)) peers.insert(dottedPeer(remote));  // ESTABLISHED, CLOSE_WAIT
  }
  return true;
}

}  // namespace tarn
