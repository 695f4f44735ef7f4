// tarnd under the raw ORB: a reference outlives a restart, stalled calls end at their bound, and
// the naming client resolves type service keys per position.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/server/port_table.h"
#include "tests/support/tarn_fixture.h"

namespace {

using namespace testing_support;

kxTarn::DT_Point_Factory_ptr points(const char* server) {
  return kxReferenceContainer::instance()->GetDptReferenceWithServerName(server, nullptr);
}

class TarndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start()) << "tarnd did not come up on " << server.address();
    settings.reset(new ScopedSettings({{"plant", "own", {server.address()}}}));
  }
  TarndProcess server{"plant", freePort()};
  std::unique_ptr<ScopedSettings> settings;
};

TEST_F(TarndTest, AnswersOverLoopbackAndSurvivesARestart) {
  EXPECT_EQ(0, kx_tarn_connect("plant"));
  EXPECT_EQ(0, kx_tarn_connect(nullptr)) << "plant is the own server now";
  EXPECT_STREQ(server.address().c_str(), kxNaming_Client::GetInstance()->activeServer("plant"));

  kxTarn::DT_Point_Factory_var service = points("plant");
  ASSERT_FALSE(CORBA::is_nil(service));
  kxTarn::STRING_LIST_var names;
  EXPECT_EQ(0, service->get_all_point_names(names.out()));

  server.kill();
  EXPECT_THROW(service->get_all_point_names(names.out()), CORBA::SystemException);
  EXPECT_EQ(2002, kx_tarn_connect("plant"));

  ASSERT_TRUE(server.start());
  try {
    EXPECT_EQ(0, service->get_all_point_names(names.out())) << "the same reference works after a restart";
  } catch (const CORBA::Exception& e) {
    ADD_FAILURE() << "after the restart: " << e._name();
  }
  EXPECT_EQ(0, kx_tarn_connect("plant"));
}

TEST_F(TarndTest, StalledCallEndsWithTimeOutUnderChangeTimeOut) {
  kxTarn::DT_Point_Factory_var service = points("plant");
  planFault("plant", "get_all_point_names", 2, 1, "", 0, 3000);
  CORBA::Object_var shorter = kxNaming_Client::GetInstance()->changeTimeOut(service, 200, "plant", nullptr);
  kxTarn::DT_Point_Factory_var impatient = kxTarn::DT_Point_Factory::_narrow(shorter);
  ASSERT_FALSE(CORBA::is_nil(impatient));
  const auto start = std::chrono::steady_clock::now();
  kxTarn::STRING_LIST_var names;
  EXPECT_THROW(impatient->get_all_point_names(names.out()), CORBA::TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(CORBA::is_nil(kxNaming_Client::GetInstance()->changeTimeOut(CORBA::Object::_nil(), 5, "plant", nullptr)));
}

TEST_F(TarndTest, DefaultCallBoundEndsAStalledCallAndANoLimitReferenceOutlivesIt) {
  setenv("TARN_CALL_TIMEOUT_MS", "300", 1);
  reloadSettings();  // the settings' bounds become the ORB's
  kxTarn::DT_Point_Factory_var service = points("plant");
  planFault("plant", "get_all_point_names", 2, 2, "", 0, 1200);
  kxTarn::STRING_LIST_var names;
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(service->get_all_point_names(names.out()), CORBA::TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1100));

  CORBA::Object_var patient = kxNaming_Client::GetInstance()->changeTimeOut(service, -1, "plant", nullptr);
  kxTarn::DT_Point_Factory_var unlimited = kxTarn::DT_Point_Factory::_narrow(patient);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, unlimited->get_all_point_names(names.out())) << "no limit means no limit";
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1100));
  unsetenv("TARN_CALL_TIMEOUT_MS");
  reloadSettings();
}

TEST_F(TarndTest, StopsCleanlyOnSigterm) { EXPECT_EQ(0, server.stop()); }

// SIGTERM while four clients open and read snapshot files and a receiver waits without limit:
// the stop wakes the waits and lets the calls in flight end before it tears anything down, and
// exits with status 0 every time.
TEST(TarndStop, SigtermUnderLoadEndsCleanly) {
  for (int round = 0; round < 4; ++round) {
    TarndProcess server("plant", freePort());
    ASSERT_TRUE(server.start());
    kxTarn::kxTarnServiceManager_var manager = server.manager();
    CORBA::Object_var dtp = manager->get_service("dtp", "");
    CORBA::Object_var port = manager->get_service("port", "");
    kxTarn::DT_Point_Factory_var points = kxTarn::DT_Point_Factory::_narrow(dtp);
    kxTarn::Port_Factory_var ports = kxTarn::Port_Factory::_narrow(port);
    ASSERT_EQ(0, ports->create_port("quiet", tarn::kBoxKind, 10));
    CORBA::ULong handle = 0, extra = 0;
    ASSERT_EQ(0, ports->connect_port("quiet", tarn::kReceiveDirection, 0, handle, extra));
    std::atomic<bool> done{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i)
      clients.emplace_back([&] {
        while (!done) {
          try {
            kxTarn::FileHandle_var file = points->open_snapshot_file();
            if (CORBA::is_nil(file)) continue;
            CORBA::Long end = 0;
            kxTarn::DATA_BUFFER_var data;
            file->read(4096, end, data.out());
            file->close();
          } catch (const CORBA::Exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }
      });
    clients.emplace_back([&] {
      try {
        kxTarn::DATA_BUFFER_SEQ_var values;
        ports->receive_events(handle, values.out(), 1, -1);
      } catch (const CORBA::Exception&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(0, server.stop()) << "round " << round;
    done = true;
    for (std::thread& client : clients) client.join();
  }
}

// A fault plan makes the server fail for every client: tarnd takes one only when started to.
TEST(TarndFaultPlans, AreRefusedUnlessTheServerWasStartedToTakeThem) {
  TarndProcess server{"plant", freePort()};
  server.faultPlans = false;
  ASSERT_TRUE(server.start());
  kxTarn::kxTarnServiceManager_var manager = server.manager();
  kxTarn::FaultPlan plan;
  plan.operation = "set_point";
  plan.mode = 1;
  plan.skip = 0;
  plan.count = 5;
  plan.code = 2006;
  plan.stallMs = 0;
  EXPECT_THROW(manager->inject_fault(plan), CORBA::NO_PERMISSION);
  EXPECT_THROW(manager->clear_faults(), CORBA::NO_PERMISSION);
  CORBA::Object_var object = manager->get_service("dtp", "");
  kxTarn::DT_Point_Factory_var service = kxTarn::DT_Point_Factory::_narrow(object);
  kxTarn::DATA_BUFFER value(32);
  value.length(32);
  ASSERT_EQ(0, service->create_point("p", "AnalogPoint", true, value));
  EXPECT_EQ(0, service->set_point("p", value)) << "no plan was taken";
}

TEST(Settings, TypeServiceKeysResolvePerPosition) {
  EXPECT_EQ(2001, kx_tarn_connect("nowhere")) << "a server the settings do not name";
  CORBA::Object_var manager = kxNaming_Client::GetInstance()->GetReferenceWithPosition("own", KX_SERVICE_MANAGER_KEY);
  EXPECT_FALSE(CORBA::is_nil(manager));
  CORBA::Object_var types = kxNaming_Client::GetInstance()->GetReferenceWithPosition("own", KX_TYPE_SERVICE_KEY);
  EXPECT_FALSE(CORBA::is_nil(kxTarn::DT_manager::_narrow(types)));
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(
      kxNaming_Client::GetInstance()->GetReferenceWithPosition("parent", KX_TYPE_SERVICE_KEY))));
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(
      kxNaming_Client::GetInstance()->GetReferenceWithPosition("own", "no-such-key"))));
}

}  // namespace
