// The operation frame: façade → slot → default, empty slots, loadDefault, and the operations
// that pass straight through to the interpreter and the error table.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>

#include <boost/function.hpp>
#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::SlotGuard;

std::string writeScript(const std::string& name, const std::string& text) {
  const std::string path = testing_support::scratchPath("ostrel-" + std::to_string(testing_support::processId()) + "-" + name);
  std::ofstream(path) << text;
  return path;
}

TEST(Frame, EveryFacadeCallsItsOwnSlot) {
#define OSTREL_OP(R, Name, Slot, Params, Args) \
  EXPECT_TRUE(static_cast<bool>(OstrelFunc::Slot)) << #Slot " is bound after load";
#include "ostrel/api/operations.def"
#undef OSTREL_OP
  const char* file = "f";
  const char* args = "a b";
  OstrelFunc::Interprete = [&](const char* seenFile, const char* seenArgs) {
    EXPECT_EQ(file, seenFile) << "arguments are forwarded unchanged, pointers included";
    EXPECT_EQ(args, seenArgs);
    return 77;
  };
  EXPECT_EQ(77, Ostrel::Interprete(file, args));
  {
    SlotGuard<const wchar_t*(int)> guard(OstrelFunc::GetErrorString, [&](int code) { return L"x"; });
    EXPECT_STREQ(L"x", Ostrel::GetErrorString(10));
  }
  OstrelFunc::Interprete = {};
  EXPECT_THROW(Ostrel::Interprete("a", "b"), boost::bad_function_call);
  EXPECT_EQ(0, Ostrel::ShutInterpreter()) << "other operations keep working";
  OstrelFunc::loadDefault();
  EXPECT_EQ(2040, Ostrel::Interprete(nullptr, nullptr)) << "the default implementation is back";
}

TEST(Frame, ErrorStringsCoverMiddlewareAndLibraryCodes) {
  for (int code : {0, -1, 123, 2015, 3016, 4004})
    EXPECT_EQ(std::wstring::npos, std::wstring(Ostrel::GetErrorString(code)).find(L"unknown result")) << code;
  EXPECT_EQ(std::wstring(L"unknown result code 123456"), Ostrel::GetErrorString(123456));
  EXPECT_EQ(Ostrel::GetErrorString(-77), Ostrel::GetErrorString(-77)) << "the same text stays put";
}

TEST(Frame, InterpreteReturnsTheInterpretersResultUnchanged) {
  EXPECT_EQ(2040, Ostrel::Interprete(nullptr, "x"));
  EXPECT_EQ(2040, Ostrel::Interprete("", nullptr));
  EXPECT_EQ(2014, Ostrel::Interprete("/nonexistent/script", nullptr));
  const std::string bad = writeScript("bad.tarn", "echo fine\nfrobnicate now\necho never\n");
  EXPECT_EQ(2041, Ostrel::Interprete(bad.c_str(), nullptr));
  const std::string good = writeScript("good.tarn", "# a comment\n\necho $1 and $2\nexpect 2041 frobnicate\n");
  EXPECT_EQ(0, Ostrel::Interprete(good.c_str(), "one two"));
  std::remove(bad.c_str());
  std::remove(good.c_str());
}

TEST(Frame, ShutInterpreterReturnsZeroAndStopsARunningScript) {
  EXPECT_EQ(0, Ostrel::ShutInterpreter()) << "0 even though no script runs";
  const std::string slow = writeScript("slow.tarn", "sleep 20000\necho never\n");
  auto started = std::chrono::steady_clock::now();
  auto run = std::async(std::launch::async, [&] { return Ostrel::Interprete(slow.c_str(), nullptr); });
  // Keep asking until the run has begun its wait; each request stops it if it is running.
  while (run.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) Ostrel::ShutInterpreter();
  EXPECT_EQ(2043, run.get());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  std::remove(slow.c_str());
}

}  // namespace
