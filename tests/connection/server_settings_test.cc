// Server settings and name lists without a live server: the settings record's exact bytes, what
// updateServerSetting stores, list capacities and releases.
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxServerInfoXmlImpl.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/connector.h"
#include "ostrel/connection/server_settings.h"
#include "tests/connection/recording_listener.h"
#include "tests/connection/library_end.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::deadAddress;
using testing_support::RecordingListener;
using testing_support::ScopedListener;
using testing_support::ScopedSettings;
using testing_support::ServerEntry;

std::vector<std::string> addressesOf(const char* server) {
  ObjectNames list;
  list.release = true;  // the address strings are copies for the caller to free
  Ostrel::GetServerAddress(server, list);
  return testing_support::takeNames(0, list);
}

// Every byte past the text up to the end of the field is zero.
bool zeroTail(const char* field, std::size_t size) {
  for (std::size_t i = std::strlen(field); i < size; ++i)
    if (field[i] != 0) return false;
  return true;
}

TEST(ServerSettingsTest, RecordStoresAddressesByRuleAndCutsLongTexts) {
  struct Case { const char *first, *second, *storedFirst, *storedSecond; bool two; };
  const Case cases[] = {
      {"a:1", "b:2", "a:1", "b:2", true},
      {"a:1", "", "a:1", "", false},     // an empty second address is not stored
      {"a:1", nullptr, "a:1", "", false},
      {nullptr, "b:2", "", "b:2", false},  // one address only
      {"", "b:2", "", "b:2", true},        // an empty first address still counts as given
  };
  for (const Case& c : cases) {
    _ServerInfoData record;
    std::memset(&record, 0x5a, sizeof record);
    ostrel::fillServerInfo(record, "plant", c.first, c.second);
    EXPECT_STREQ(record.firstAddress, c.storedFirst);
    EXPECT_STREQ(record.secondAddress, c.storedSecond);
    EXPECT_STREQ(record.serverName, "plant");
    EXPECT_EQ(record.twoAddresses, c.two) << (c.first ? c.first : "null") << " / " << (c.second ? c.second : "null");
    EXPECT_TRUE(zeroTail(record.firstAddress, sizeof record.firstAddress) &&
                zeroTail(record.secondAddress, sizeof record.secondAddress) &&
                zeroTail(record.serverName, sizeof record.serverName));
  }

  // Too long: cut to the field with its NUL, and never inside a UTF-8 character.
  _ServerInfoData record;
  const std::string longName(40, 'n');
  const std::string longAddress(200, 'a');
  ostrel::fillServerInfo(record, longName.c_str(), longAddress.c_str(), longAddress.c_str());
  EXPECT_EQ(std::string(record.serverName), std::string(31, 'n'));
  EXPECT_EQ(std::string(record.firstAddress), std::string(127, 'a'));
  EXPECT_EQ(std::string(record.secondAddress), std::string(127, 'a'));
  EXPECT_TRUE(record.twoAddresses);

  const std::string umlauts = std::string(30, 'x') + "\xc3\xbc" + "tail";  // ü straddles byte 31
  ostrel::fillServerInfo(record, umlauts.c_str(), nullptr, nullptr);
  EXPECT_EQ(std::string(record.serverName), std::string(30, 'x'));
}

TEST(ServerSettingsTest, UpdateWithoutOwnServerStoresPlaceholderNameAndDropsStates) {
  ScopedSettings settings({{"spare", "others", {deadAddress()}}});
  Ostrel::ConnectTarn("spare");
  // No scan in between: one during the reload would find "spare" unknown and make news of it.
  TarnConnector::instance()->stop();
  RecordingListener listener;
  ScopedListener installed(listener);

  Ostrel::updateServerSetting(nullptr, "127.0.0.1:7001", "");
  const kxServerName own = kx_get_servername("own");
  ASSERT_TRUE(own.found) << "the record is stored at own";
  EXPECT_STREQ(own.name, "0000");
  EXPECT_EQ(addressesOf(nullptr), std::vector<std::string>{"127.0.0.1:7001"});
  EXPECT_EQ(addressesOf("spare").size(), 1u) << "the other servers stay in the file";
  EXPECT_EQ(Ostrel::IsConnect("spare"), OstrelCode::kNoState) << "every state is dropped";
  EXPECT_EQ(listener.events(), (std::vector<testing_support::StatusEvent>{{"0000", false}}));

  // With a server given, its name is stored, cut to the record's field.
  const std::string longName(40, 'p');
  Ostrel::updateServerSetting(longName.c_str(), "127.0.0.1:7001", "127.0.0.1:7002");
  EXPECT_STREQ(kx_get_servername("own").name, std::string(31, 'p').c_str());
  EXPECT_EQ(addressesOf(nullptr), (std::vector<std::string>{"127.0.0.1:7001", "127.0.0.1:7002"}));

  // A record without a server name or without any address, or with an address the settings
  // reader would refuse, is refused: the file stays as it was, and usable.
  auto fileText = [&] { std::ifstream in(settings.path()); return std::string(std::istreambuf_iterator<char>(in), {}); };
  const std::string before = fileText();
  const char* voids[][3] = {{nullptr, nullptr, nullptr}, {"", "", ""}, {"", "127.0.0.1:1", ""}, {"x", "", ""},
                            {"x", "not-an-address", ""}, {"x", "127.0.0.1:7001", "host:port:9"}};
  for (const auto& v : voids) Ostrel::updateServerSetting(v[0], v[1], v[2]);
  EXPECT_EQ(fileText(), before);
  EXPECT_EQ(addressesOf(nullptr), (std::vector<std::string>{"127.0.0.1:7001", "127.0.0.1:7002"}));
}

TEST(ServerSettingsTest, ServerNamesStopAtTheListCapacity) {
  std::vector<ServerEntry> many;
  for (int i = 0; i < BrennicServerList::kCapacity + 6; ++i)
    many.push_back({"s" + std::to_string(i), "others", {deadAddress()}});
  many.push_back({"home", "own", {deadAddress()}});
  ScopedSettings settings(many);

  struct Guarded {
    BrennicServerList list;
    char canary[64];
  } guarded;
  std::memset(guarded.canary, 0x5a, sizeof guarded.canary);
  Ostrel::GetServerNames("others", guarded.list);
  EXPECT_EQ(guarded.list.count, BrennicServerList::kCapacity);
  EXPECT_STREQ(guarded.list.names[0], "s0");
  EXPECT_STREQ(guarded.list.names[BrennicServerList::kCapacity - 1],
               ("s" + std::to_string(BrennicServerList::kCapacity - 1)).c_str());
  for (char c : guarded.canary) ASSERT_EQ(c, 0x5a) << "written past the list";

  BrennicServerList own;
  Ostrel::GetServerNames("own", own);
  ASSERT_EQ(own.count, 1);
  EXPECT_STREQ(own.names[0], "home");

  BrennicServerList none;
  const char marker[] = "untouched";
  none.names[0] = marker;
  Ostrel::GetServerNames("child", none);
  EXPECT_EQ(none.count, 0);
  EXPECT_EQ(none.names[0], marker) << "no entry written";
}

TEST(ServerSettingsTest, AddressListsAreOwnedCopiesReleasedByDeatoryNameSeq) {
  ScopedSettings settings({{"pair", "own", {"127.0.0.1:1", "127.0.0.1:2"}}});
  EXPECT_EQ(addressesOf("pair"), (std::vector<std::string>{"127.0.0.1:1", "127.0.0.1:2"}));

  ObjectNames none;
  Ostrel::GetServerAddress("ghost", none);
  EXPECT_EQ(none.count, 0);
  EXPECT_NE(none.names, nullptr) << "an empty array, still to be released";
  Ostrel::DeatoryNameSeq(&none);
  EXPECT_EQ(none.names, nullptr);

  Ostrel::SetNewTarget("127.0.0.1:3", "pair");
  EXPECT_EQ(addressesOf("pair").back(), "127.0.0.1:3");
  Ostrel::setFixedAddress("127.0.0.1:9", nullptr);
  EXPECT_EQ(addressesOf("pair"), std::vector<std::string>{"127.0.0.1:9"}) << "pinned to one";
  Ostrel::setFixedAddress("", "pair");
  EXPECT_EQ(addressesOf("pair"), std::vector<std::string>{"127.0.0.1:9"}) << "never pinned to nothing";

  ScopedSettings noOwn({{"pair", "parent", {"127.0.0.1:1"}}});
  ObjectNames untouched;
  untouched.count = 7;
  Ostrel::GetServerAddress(nullptr, untouched);
  EXPECT_EQ(untouched.count, 0);
  EXPECT_EQ(untouched.names, nullptr) << "no server, no array";
  EXPECT_EQ(Ostrel::activeServer(nullptr), nullptr);
}

TEST(NameListTest, DeatoryNameSeqFreesWhatTheListOwnsAndEmptiesIt) {
  ObjectNames owned;
  owned.count = 3;
  owned.names = new char*[3]{CORBA::string_dup("a"), CORBA::string_dup("b"), CORBA::string_dup("c")};
  owned.release = true;
  Ostrel::DeatoryNameSeq(&owned);  // the leak checker of the sanitizer build sees the rest
  EXPECT_EQ(owned.count, 0);
  EXPECT_EQ(owned.names, nullptr);
  EXPECT_TRUE(owned.release) << "left as it was";
  Ostrel::DeatoryNameSeq(&owned);  // a second release finds it empty

  char kept[] = "kept";
  ObjectNames borrowed{};  // a plain new list owns no strings
  borrowed.count = 1;
  borrowed.names = new char*[1]{kept};
  Ostrel::DeatoryNameSeq(&borrowed);  // frees the array only; freeing `kept` would crash
  EXPECT_EQ(borrowed.names, nullptr);
  EXPECT_STREQ(kept, "kept");

  ObjectNames empty;
  Ostrel::DeatoryNameSeq(&empty);
  EXPECT_EQ(empty.count, 0);

  ObjectNames inconsistent;  // a count without an array
  inconsistent.count = 3;
  inconsistent.release = true;
  Ostrel::DeatoryNameSeq(&inconsistent);
  EXPECT_EQ(inconsistent.count, 0);
}

TEST(ServerSettingsTest, MasterWithoutServerOrServiceReportsWhy) {
  ScopedSettings settings({{"plant", "parent", {deadAddress()}}});
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, nullptr), OstrelCode::kNoServerName);
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, ""), OstrelCode::kNoReference)
      << "an empty name is asked for as it is";
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "plant"), OstrelCode::kNoReference) << "not answering";
  EXPECT_EQ(Ostrel::setMasterMiddleware(true, "ghost"), OstrelCode::kNoReference) << "not in the settings";
}

}  // namespace
