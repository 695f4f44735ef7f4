// Server name resolution and default positions, the shared first steps of every operation.
#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/connector.h"
#include "tests/connection/library_end.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::deadAddress;
using testing_support::ScopedSettings;

std::string shown(const std::optional<std::string>& name) { return name ? "\"" + *name + "\"" : "none"; }

TEST(CallFrameTest, ResolveServerUsesTheOwnServerForNullAndEmptyOnly) {
  struct Case { const char* server; bool ownExists; std::optional<std::string> expected; };
  const Case cases[] = {
      {"plant", true, "plant"}, {"plant", false, "plant"},
      {nullptr, true, "home"},  {"", true, "home"},
      {nullptr, false, std::nullopt},  // no server: the operation's own code
      {"", false, ""},                 // empty goes on unchanged
  };
  for (bool own : {true, false}) {
    ScopedSettings settings({{"home", own ? "own" : "parent", {deadAddress()}}});
    for (const Case& c : cases) {
      if (c.ownExists != own) continue;
      EXPECT_EQ(ostrel::resolveServer(c.server), c.expected) << "server " << (c.server ? c.server : "null")
          << (own ? " with" : " without") << " own: got " << shown(ostrel::resolveServer(c.server));
    }
  }
}

TEST(CallFrameTest, DefaultPositionPerServerUntilDivertedOrReset) {
  EXPECT_EQ(ostrel::positionOrDefault("s1", nullptr), "") << "never diverted";
  EXPECT_EQ(Ostrel::DivertReleam("s1", "parent"), 0);
  EXPECT_EQ(ostrel::positionOrDefault("s1", nullptr), "parent");
  EXPECT_EQ(ostrel::positionOrDefault("s1", "child"), "child") << "a given position wins";
  EXPECT_EQ(ostrel::positionOrDefault("s2", nullptr), "") << "per server";
  EXPECT_EQ(ostrel::positionOrDefault(nullptr, nullptr), "") << "null server is a key of its own";

  Ostrel::DivertReleam(nullptr, "others");
  EXPECT_EQ(ostrel::positionOrDefault(nullptr, nullptr), "others");
  EXPECT_EQ(ostrel::positionOrDefault("", nullptr), "others") << "null and empty share the key";

  // A text handed out stays readable after the position changes again.
  const char* before = TarnConnector::instance()->defaultPosition("s1");
  Ostrel::DivertReleam("s1", nullptr);
  EXPECT_STREQ(before, "parent");
  EXPECT_EQ(ostrel::positionOrDefault("s1", nullptr), "") << "null resets to the empty text";
  Ostrel::DivertReleam(nullptr, nullptr);
}

}  // namespace
