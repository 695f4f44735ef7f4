// tarnd's process on Windows: console control events, a Winsock bind probe and the TCP table of
// the IP helper.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <vector>

#include "tarn/server/process.h"

namespace tarn {
namespace {

void (*stopRequested)() = nullptr;

void onSignal(int) { stopRequested(); }

BOOL WINAPI onConsoleEvent(DWORD) {
  stopRequested();
  return TRUE;  // tarnd stops on its own; for closing and shut-down Windows waits for it a while
}

}  // namespace

void onStopRequest(void (*stop)()) {
  stopRequested = stop;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

unsigned long long raiseFileLimit() { return 0; }

std::string cannotListen(const std::string& host, int port) {
  WSADATA version;
  if (::WSAStartup(MAKEWORD(2, 2), &version) != 0) return "the network cannot be used (WSAStartup)";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string why;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    why = "the host name " + host + " does not resolve to an IPv4 address";
    found = nullptr;
  }
  for (addrinfo* entry = found; entry && why.empty(); entry = entry->ai_next) {
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) break;
    // As the ORB binds: exclusively, so that a port another process listens on is refused.
    const BOOL on = TRUE;
    ::setsockopt(probe, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    address.sin_port = htons(static_cast<u_short>(port));
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int error = ::WSAGetLastError();
      if (error == WSAEADDRINUSE || error == WSAEACCES) why = "port " + std::to_string(port) + " is in use on " + host;
      if (error == WSAEADDRNOTAVAIL) why = host + " is not an address of this host";
    }
    ::closesocket(probe);
  }
  if (found) ::freeaddrinfo(found);
  ::WSACleanup();
  return why;
}

bool heldPeers(std::set<std::string>& peers) {
  std::vector<char> table(64 * 1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(table.size());
    const DWORD rc = ::GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (rc == ERROR_INSUFFICIENT_BUFFER) {
      table.resize(size + 4096);  // connections come meanwhile
      continue;
    }
    if (rc != NO_ERROR) return false;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    const DWORD self = ::GetCurrentProcessId();
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = rows->table[i];
      if (row.dwOwningPid != self || (row.dwState != MIB_TCP_STATE_ESTAB && row.dwState != MIB_TCP_STATE_CLOSE_WAIT))
        continue;
      const unsigned long address = row.dwRemoteAddr;  // network order, as the kernel's
      char text[64];
      std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu:%u", address & 255, (address >> 8) & 255, (address >> 16) & 255,
                    (address >> 24) & 255, ntohs(static_cast<u_short>(row.dwRemotePort)));
      peers.insert(text);
    }
    return true;
  }
  return false;
}

}  // namespace tarn
