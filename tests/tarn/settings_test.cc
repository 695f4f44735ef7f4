// Call bounds from the settings file and the environment, and a rewrite of the file that keeps
// them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxServerInfoXmlImpl.h"
#include "tarn/client/settings.h"

namespace {

TEST(CallBounds, EnvironmentBeatsTheFileAndNonsenseFallsBackToTheDefault) {
  const std::string path = "/tmp/settings_test." + std::to_string(::getpid()) + ".xml";
  setenv("TARN_SETTINGS", path.c_str(), 1);
  struct Case {
    const char* attribute;  // call-timeout-ms in the file; null: absent
    const char* variable;   // TARN_CALL_TIMEOUT_MS; null: unset
    int expected;
  } cases[] = {{nullptr, nullptr, 10000}, {"1234", nullptr, 1234}, {"1234", "999", 999},
               {"abc", nullptr, 10000},   {"0", "-5", 10000},      {"3600001", nullptr, 10000},
               {nullptr, "42x", 10000},   {"1234", "", 1234}};
  for (const Case& c : cases) {
    std::ofstream(path) << "<tarn" << (c.attribute ? std::string(" call-timeout-ms=\"") + c.attribute + "\"" : "")
                        << " connect-timeout-ms=\"250\"><server name=\"plant\" position=\"own\" first=\"127.0.0.1:1\"/></tarn>";
    if (c.variable) setenv("TARN_CALL_TIMEOUT_MS", c.variable, 1);
    else unsetenv("TARN_CALL_TIMEOUT_MS");
    const tarn::CallBounds bounds = tarn::readCallBounds();
    EXPECT_EQ(bounds.callMs, c.expected) << (c.attribute ? c.attribute : "-") << " / " << (c.variable ? c.variable : "-");
    EXPECT_EQ(bounds.connectMs, 250);
  }
  unsetenv("TARN_CALL_TIMEOUT_MS");

  // Storing a server rewrites the servers and keeps the file's own settings.
  _ServerInfoData record{};
  std::snprintf(record.serverName, sizeof record.serverName, "mill");
  std::snprintf(record.firstAddress, sizeof record.firstAddress, "127.0.0.1:2");
  ASSERT_EQ(kxServerInfoXmlImpl().SetServerInfo("own", record), 0);
  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("call-timeout-ms=\"1234\""), std::string::npos) << text;
  EXPECT_NE(text.find("mill"), std::string::npos) << text;
  std::remove(path.c_str());
  unsetenv("TARN_SETTINGS");
}

}  // namespace
