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
#include "tarn/client/tls.h"
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

// A client's TLS files: each variable over the settings root's attribute; storing a server keeps
// both the files and the server's TLS mark.
TEST(TlsSettings, TheEnvironmentBeatsTheFileAndAStoredServerStaysTls) {
  const std::string path = scratchPath("settings_tls." + std::to_string(processId()) + ".xml");
  std::ofstream(path) << "<tarn tls-cert=\"me.pem\" tls-key=\"me.key\" tls-ca=\"ca.pem\">"
                         "<server name=\"mill\" position=\"own\" first=\"127.0.0.1:1\" tls=\"true\"/></tarn>";
  setEnvironment("TARN_SETTINGS", path.c_str());
  for (const char* name : {"TARN_TLS_CERT", "TARN_TLS_KEY", "TARN_TLS_CA"}) unsetEnvironment(name);
  tarn::TlsFiles files = tarn::clientTlsFiles();
  EXPECT_EQ("me.pem", files.cert);
  EXPECT_EQ("me.key", files.key);
  EXPECT_EQ("ca.pem", files.ca);
  setEnvironment("TARN_TLS_CA", "other.pem");
  setEnvironment("TARN_TLS_KEY", "");  // empty: as if unset
  files = tarn::clientTlsFiles();
  EXPECT_EQ("other.pem", files.ca);
  EXPECT_EQ("me.key", files.key);
  unsetEnvironment("TARN_TLS_CA");
  unsetEnvironment("TARN_TLS_KEY");

  _ServerInfoData record{};
  std::snprintf(record.serverName, sizeof record.serverName, "mill");
  std::snprintf(record.firstAddress, sizeof record.firstAddress, "127.0.0.1:2");
  ASSERT_EQ(kxServerInfoXmlImpl().SetServerInfo("own", record), 0);
  const std::vector<tarn::ServerSetting> servers = tarn::readSettings();
  ASSERT_EQ(1u, servers.size());
  EXPECT_EQ("127.0.0.1:2", servers[0].addresses.at(0));
  EXPECT_TRUE(servers[0].tls) << "a new address of a TLS server is reached over TLS too";
  EXPECT_EQ("ca.pem", tarn::clientTlsFiles().ca) << "the rewrite kept the root's TLS files";
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
