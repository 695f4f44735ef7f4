// Call bounds from the settings file and the environment, and a rewrite of the file that keeps
// them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxServerInfoXmlImpl.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tarn/client/settings.h"
#include "tests/support/environment.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

TEST(CallBounds, EnvironmentBeatsTheFileAndNonsenseFallsBackToTheDefault) {
  const std::string path = scratchPath("settings_test." + std::to_string(processId()) + ".xml");
  setEnvironment("TARN_SETTINGS", path.c_str());
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
    if (c.variable) setEnvironment("TARN_CALL_TIMEOUT_MS", c.variable);
    else unsetEnvironment("TARN_CALL_TIMEOUT_MS");
    const tarn::CallBounds bounds = tarn::readCallBounds();
    EXPECT_EQ(bounds.callMs, c.expected) << (c.attribute ? c.attribute : "-") << " / " << (c.variable ? c.variable : "-");
    EXPECT_EQ(bounds.connectMs, 250);
  }
  unsetEnvironment("TARN_CALL_TIMEOUT_MS");

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
  unsetEnvironment("TARN_SETTINGS");
}

// The cause of an unusable file reaches GetErrorString as wide text with every character the
// file holds, those beyond U+FFFF too (a surrogate pair where wchar_t has 16 bits).
TEST(SettingsError, TheCauseKeepsCharactersBeyondTheBasicPlane) {
  const std::string path = scratchPath("settings_error." + std::to_string(processId()) + ".xml");
  std::ofstream(path) << "<tarn>\n<server name=\"\xCE\xA9\xF0\x9F\x98\x80\" position=\"boss\" first=\"127.0.0.1:7001\"/>\n</tarn>\n";
  setEnvironment("TARN_SETTINGS", path.c_str());
  reloadSettings();
  const std::wstring text = Ostrel::GetErrorString(KX_SETTINGS_UNUSABLE);
  EXPECT_NE(std::wstring::npos, text.find(L"line 2: server \"\u03A9\U0001F600\": unknown position \"boss\""))
      << "a text of " << text.size() << " wide characters";
  unsetEnvironment("TARN_SETTINGS");
  reloadSettings();
  std::remove(path.c_str());
}

}  // namespace
