// Many threads on the connector at once, with its monitor thread scanning: guards, default
// positions, connects, disconnects, the naming client's news and listener changes. Without the
// connector's locks the maps and the listener list are torn apart (a crash, or reports from the
// sanitizer builds); with them the state afterwards is still consistent.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/connector.h"
#include "tests/connection/library_end.h"
#include "tests/connection/recording_listener.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::RecordingListener;
using testing_support::ScopedSettings;

TEST(ConnectorConcurrencyTest, StateStaysConsistentUnderMixedLoadAndScans) {
  const char* const names[] = {"c0", "c1", "c2", "c3"};
  const char* const positions[] = {"own", "parent", nullptr, "line-2", ""};
  std::vector<testing_support::ServerEntry> entries;
  for (const char* name : names)
    entries.push_back({name, name == names[0] ? "own" : "others",
                       {"127.0.0.1:" + std::to_string(testing_support::freePort())}});
  ScopedSettings settings(entries);
  TarnConnector& connector = *TarnConnector::instance();

  std::atomic<bool> stop{false};
  std::atomic<long> guards{0}, connects{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned i = t; !stop; ++i) {
        const char* name = names[i % 4];
        ostrel::guardConnection(name);
        Ostrel::IsConnect(i % 8 == 0 ? nullptr : name);
        const std::string position = ostrel::positionOrDefault(name, nullptr);
        const char* text = connector.defaultPosition(name);
        ASSERT_LE(std::strlen(text), 6u) << "a position text that was never set";
        ++guards;
      }
    });
  }
  threads.emplace_back([&] {
    for (unsigned i = 0; !stop; ++i) Ostrel::DivertReleam(names[i % 4], positions[i % 5]);
  });
  threads.emplace_back([&] {
    for (unsigned i = 0; !stop; ++i) {
      Ostrel::ConnectTarn(names[i % 4]);
      ++connects;
    }
  });
  threads.emplace_back([&] {
    for (unsigned i = 0; !stop; ++i) {
      Ostrel::DisConnectTarn(names[i % 4]);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  threads.emplace_back([&] {
    for (unsigned i = 0; !stop; ++i) connector.onServerConnection(names[i % 4], i % 3 != 0);
  });
  threads.emplace_back([&] {
    std::vector<std::unique_ptr<RecordingListener>> listeners;
    for (int i = 0; i < 4; ++i) listeners.push_back(std::make_unique<RecordingListener>());
    for (unsigned i = 0; !stop; ++i) {
      Ostrel::InstallListener(*listeners[i % 4]);
      Ostrel::InstallListener(*listeners[(i + 1) % 4]);
      Ostrel::RemoveListener(*listeners[i % 4]);
      Ostrel::RemoveListener(*listeners[(i + 1) % 4]);
    }
    // Everything installed has been removed again: nobody may be called after this.
  });

  // Long enough for the monitor thread to scan at least once (every 5 to 6.5 s).
  std::this_thread::sleep_for(std::chrono::milliseconds(7000));
  stop = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_GT(guards.load(), 1000);
  EXPECT_GT(connects.load(), 10);

  // Afterwards: one disconnect empties every state and reaches exactly the listeners installed.
  RecordingListener last;
  Ostrel::InstallListener(last);
  Ostrel::DisConnectTarn("c1");
  EXPECT_TRUE(connector.knownServers().empty());
  EXPECT_EQ(last.events().size(), 1u);
  Ostrel::RemoveListener(last);
  Ostrel::DivertReleam("c2", "final");
  EXPECT_STREQ(connector.defaultPosition("c2"), "final");
}

}  // namespace
