#include "ostrel/platform/host.h"

#if defined(_WIN32)
#  include <winsock2.h>
#  include <windows.h>
#else
#  include <unistd.h>
#endif

#include <string>

#include <gtest/gtest.h>

namespace {

using ostrel::platform::hostName;

TEST(HostTest, TheNameIsTheOneTheSystemGives) {
  char expected[256] = {};
#if defined(_WIN32)
  WSADATA data;
  ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
  ASSERT_EQ(0, ::gethostname(expected, sizeof expected));
  ::WSACleanup();
#else
  ASSERT_EQ(0, ::gethostname(expected, sizeof expected));
#endif
  const std::string name = hostName();
  EXPECT_FALSE(name.empty());
  EXPECT_LT(name.size(), 256u);
  EXPECT_EQ(std::string(expected), name);
}

#if defined(_WIN32)
// gethostname needs Winsock started; before that (or after the last WSACleanup) the computer
// name serves. The test stops Winsock for its length and starts it as often as it was started.
TEST(HostTest, WithoutWinsockTheComputerNameServes) {
  char expected[256] = {};
  DWORD expectedSize = sizeof expected;
  ASSERT_TRUE(::GetComputerNameA(expected, &expectedSize));
  EXPECT_EQ(std::string(expected), ostrel::platform::computerName()) << "the fallback reads the computer name";
  int released = 0;
  while (::WSACleanup() == 0) ++released;
  char probe[256];
  if (::gethostname(probe, sizeof probe) == 0) {
    WSADATA data;
    for (int i = 0; i < released; ++i) ::WSAStartup(MAKEWORD(2, 2), &data);
    GTEST_SKIP() << "gethostname works without Winsock here";
  }
  char computer[256] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(::GetComputerNameA(computer, &size));
  const std::string name = hostName();
  WSADATA data;
  for (int i = 0; i < released; ++i) ::WSAStartup(MAKEWORD(2, 2), &data);
  EXPECT_EQ(std::string(computer), name);
}
#endif

}  // namespace
