// A tarnd with a rights file: each call needs its right in its realm, and a refusal answers 2026
// and changes nothing. This test is the client 127.0.0.1; the realms give it different rights.
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"
#include "tarn/client/codes.h"
#include "tarn/server/port_table.h"
#include "tests/support/environment.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;

constexpr int kRefused = tarn::kNotPermitted;

// The first rule that matches decides: 127.0.0.1 reads north (the /8 below never counts there),
// writes east, administers south and the default realm, and has nothing in any other realm.
const char* const kRights =
    "# identity    realm  right\n"
    "127.0.0.1     north  read     # read only\n"
    "127.0.0.0/8   north  admin\n"
    "127.0.0.0/8   east   write\n"
    "CN=operator   *      admin    # a TLS identity: never this plain client\n"
    "*             south  admin\n"
    "::1           -      admin\n"
    "127.0.0.1     -      admin\n";

class Rights : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = scratchPath("rights-" + std::to_string(processId()) + ".txt");
    std::ofstream(path_) << kRights;
    tarnd_ = std::make_unique<TarndProcess>("guarded", freePort(), std::vector<std::string>{"--rights", path_});
    ASSERT_TRUE(tarnd_->start());
    manager_ = tarnd_->manager();
  }
  void TearDown() override { std::remove(path_.c_str()); }

  template <typename Service>
  typename Service::_ptr_type service(const char* kind, const char* realm) {
    CORBA::Object_var object = manager_->get_service(kind, realm);
    return Service::_unchecked_narrow(object);
  }

  std::string path_;
  std::unique_ptr<TarndProcess> tarnd_;
  kxTarn::kxTarnServiceManager_var manager_;
};

TEST_F(Rights, EachCallNeedsItsRightInItsRealm) {
  struct Case {
    const char* realm;
    const char* what;
    int expected;
  };
  // Every realm runs every call, in this order: reads, then writes and takes, then making.
  const std::vector<Case> cases = {
      {"north", "read", 0},           {"north", "read point", 2003}, {"north", "count", 2003},
      {"north", "contenders", 0},     {"north", "write", kRefused},  {"north", "send", kRefused},
      {"north", "take", kRefused},    {"north", "contend", kRefused}, {"north", "create", kRefused},
      {"north", "port", kRefused},    {"north", "snapshot", kRefused}, {"north", "delete realm", kRefused},
      {"east", "read", 0},            {"east", "write", 2003},       {"east", "send", 2003},
      {"east", "take", 2011},         {"east", "contend", 0},        {"east", "create", kRefused},
      {"east", "port", kRefused},     {"east", "snapshot", kRefused},
      {"south", "create", 0},         {"south", "write", 2003},         {"south", "port", 0},
      {"south", "read", 0},
      {"west", "read", kRefused},     {"west", "read point", kRefused}, {"west", "contenders", kRefused},
      {"west", "count", kRefused},
  };
  for (const Case& c : cases) {
    kxTarn::DT_Point_Factory_var points = service<kxTarn::DT_Point_Factory>("dtp", c.realm);
    kxTarn::Port_Factory_var ports = service<kxTarn::Port_Factory>("port", c.realm);
    kxTarn::contender_server_var contenders = service<kxTarn::contender_server>("contender", c.realm);
    kxTarn::DATA_BUFFER value;
    value.length(8);
    for (CORBA::ULong i = 0; i < 8; ++i) value[i] = 0;
    const std::string what = c.what;
    int rc = -1;
    if (what == "read") {
      kxTarn::STRING_LIST_var names;
      rc = points->get_all_point_names(names.out());
    } else if (what == "read point") {
      CORBA::String_var type;
      kxTarn::DATA_BUFFER_var got;
      rc = points->get_point("nowhere", type.out(), got.out());
    } else if (what == "count") {
      CORBA::ULong count = 0;
      rc = ports->event_count("no.box", count);
    } else if (what == "contenders") {
      kxTarn::HEART_RESULT_SEQ_var report;
      rc = contenders->get_contenders(report.out());
    } else if (what == "write") {
      rc = points->set_point("nowhere", value);
    } else if (what == "send") {
      rc = ports->send_event("no.box", value);
    } else if (what == "take") {
      CORBA::ULong sender = 0;
      kxTarn::DATA_BUFFER_var got;
      rc = ports->receive_packet(4242, sender, got.out(), 0);
    } else if (what == "contend") {
      rc = contenders->regist_contender_from("h", "pump", value, "", 1, "1-a");
    } else if (what == "create") {
      rc = points->create_point("p", "AnalogPoint", false, value);
    } else if (what == "port") {
      rc = ports->create_port("q", tarn::kBoxKind, 10);
    } else if (what == "snapshot") {
      rc = points->create_snapshot("s");
    } else if (what == "delete realm") {
      rc = manager_->delete_realm(c.realm);
    }
    EXPECT_EQ(c.expected, rc) << c.what << " in " << c.realm;
  }
  kxTarn::DT_Point_Factory_var west = service<kxTarn::DT_Point_Factory>("dtp", "west");
  EXPECT_THROW(kxTarn::FileHandle_var(west->open_snapshot_file()), CORBA::NO_PERMISSION) << "no reader without the right to read";
  kxTarn::Port_Factory_var westPorts = service<kxTarn::Port_Factory>("port", "west");
  EXPECT_THROW(kxTarn::FileHandle_var(westPorts->open_snapshot_file()), CORBA::NO_PERMISSION);
  kxTarn::DT_Point_Factory_var south = service<kxTarn::DT_Point_Factory>("dtp", "south");
  kxTarn::STRING_LIST_var names;
  ASSERT_EQ(0, south->get_all_point_names(names.out()));
  EXPECT_EQ(1u, names->length()) << "the refused creations made nothing";
  EXPECT_EQ(0, manager_->set_master(true)) << "the default realm's admin switches the master";
}

TEST_F(Rights, TheRefusalHasItsOwnText) {
  const std::wstring text = Ostrel::GetErrorString(kRefused);
  EXPECT_NE(std::wstring::npos, text.find(L"not permitted")) << "2026 has a text of its own";
  EXPECT_NE(std::wstring::npos, text.find(L"--rights"));
}

TEST(RightsFile, IsCheckedAtStartWithItsLineNumber) {
  const std::string path = scratchPath("rights-bad-" + std::to_string(processId()) + ".txt");
  const std::string tarnd = std::string(TARND_PATH) + " --port " + std::to_string(freePort()) + " --rights " + path;
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"# fine\n\n* - admin\n* north rw\n", ":4: the right is none, read, write or admin, not 'rw'"},
      {"10.0.0.0/40 * read\n", ":1: the identity is *, CN=NAME or an address range"},
      {"* north\n", ":1: a rule is IDENTITY REALM RIGHT, three words"},
      {"* north read extra\n", ":1: a rule is IDENTITY REALM RIGHT, three words"},
  };
  for (const Case& c : cases) {
    std::ofstream(path) << c.text;
    expectRuns({{"", 2, {path + c.error}}}, tarnd + " 2>&1 #");
  }
  std::remove(path.c_str());
  expectRuns({{"", 2, {"--rights: cannot read " + path}}}, tarnd + " 2>&1 #");
}

}  // namespace
