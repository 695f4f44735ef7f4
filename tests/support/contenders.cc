#include "tests/support/contenders.h"

#include <thread>

#include "ostrel/api/ostrel.h"
#include "ostrel/redundancy/contender_lists.h"

namespace testing_support {

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
