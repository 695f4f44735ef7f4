// Address ranges of tarnd's --allow and rights file: which hosts each takes, at the prefix edges.
#include <string>

#include <gtest/gtest.h>

#include "tarn/server/address_range.h"
#include "tarn/server/connection_gate.h"

namespace {

TEST(AddressRange, TakesExactlyTheHostsOfItsPrefix) {
  struct Case {
    const char* range;
    const char* host;
    bool inside;
  } cases[] = {
      {"10.77.0.0/24", "10.77.0.9", true},      {"10.77.0.0/24", "10.77.1.9", false},
      {"10.77.0.2", "10.77.0.2", true},          {"10.77.0.2", "10.77.0.3", false},
      {"10.77.0.2/32", "[::ffff:10.77.0.2]", true},
      {"192.168.0.128/25", "192.168.0.127", false}, {"192.168.0.128/25", "192.168.0.128", true},
      {"172.16.0.0/12", "172.31.255.255", true}, {"172.16.0.0/12", "172.32.0.0", false},
      {"0.0.0.0/0", "203.0.113.4", true},        {"0.0.0.0/0", "::1", false},
      {"fd00:77::/32", "fd00:77:1::5", true},    {"fd00:77::/32", "fd00:78::5", false},
      {"::1", "[::1]", true},                    {"::/0", "10.0.0.1", false},
      {"10.0.0.0/8", "plant", false},            {"10.0.0.0/8", "", false},
  };
  for (const Case& c : cases) {
    tarn::AddressRange range;
    std::string error;
    ASSERT_TRUE(tarn::AddressRange::parse(c.range, range, error)) << c.range << ": " << error;
    EXPECT_EQ(c.inside, range.contains(c.host)) << c.range << " and " << c.host;
  }
  for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "10.0.0.0/8x", "::/129", "10.0.0", "host/8", "", "/8", "10.0.0.0/-1"}) {
    tarn::AddressRange range;
    std::string error;
    EXPECT_FALSE(tarn::AddressRange::parse(bad, range, error)) << bad;
    EXPECT_NE(std::string::npos, error.find(bad)) << "the error names what was given: " << error;
  }
  EXPECT_TRUE(tarn::loopbackHost("127.0.0.2"));
  EXPECT_TRUE(tarn::loopbackHost("[::1]"));
  EXPECT_FALSE(tarn::loopbackHost("10.77.0.1"));
}

// The gate judges the host of the ORB's peer address, written as each platform's ORB writes it.
TEST(AddressRange, TheGateReadsTheHostOfEveryFormOfPeerAddress) {
  const std::pair<const char*, const char*> cases[] = {
      {"giop:tcp:10.0.0.7:40112", "10.0.0.7"},  {"giop:ssl:10.0.0.7:40112", "10.0.0.7"},
      {"giop:tcp:[::1]:40112", "[::1]"},        {"giop:tcp127.0.0.1:39232", "127.0.0.1"},  // Windows
      {"giop:unix:/tmp/x", "giop:unix:/tmp/x"}, {"giop:tcp", "giop:tcp"},
      {"plain", "plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(tarn::peerHost(c.first), c.second) << c.first;
}

}  // namespace
