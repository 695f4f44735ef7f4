// tarnd's data folder: one server per folder, a journal damaged in the middle, and a journal that
// cannot grow (a file size limit standing in for a full disk).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tarn/client/codes.h"
#include "tests/support/tarn_fixture.h"

namespace {

using testing_support::freePort;
using testing_support::TarndProcess;

struct TarndRun {
  int status;
  std::string output;
};

// tarnd with `args`, to its end (at most 10 s), with its standard output and error.
TarndRun runTarnd(const std::string& args) {
  const std::string command = "timeout 10 " + testing_support::tarndCommand() + " " + args + " 2>&1; echo \"status=$?\"";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  ::pclose(pipe);
  const std::size_t mark = output.rfind("status=");
  return {std::atoi(output.c_str() + mark + 7), output.substr(0, mark)};
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/data_folder_test.XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  void TearDown() override {
    tarnd_.reset();
    std::filesystem::remove_all(folder_);
  }
  bool start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--data", folder_, "--journal-sync", "os"};
    args.insert(args.end(), extra.begin(), extra.end());
    tarnd_.reset(new TarndProcess("plant", port_, args));
    if (!tarnd_->start()) return false;
    // The first calls after a restart may meet connections of the killed server and fail.
    for (int attempt = 0; attempt < 5; ++attempt) {
      try {
        kxTarn::STRING_LIST_var names;
        points()->get_all_point_names(names.out());
        return true;
      } catch (const CORBA::SystemException&) {
      }
    }
    return false;
  }
  kxTarn::DT_Point_Factory_var points() {
    kxTarn::kxTarnServiceManager_var manager = tarnd_->manager();
    CORBA::Object_var service = manager->get_service("dtp", "");
    kxTarn::DT_Point_Factory_var typed = kxTarn::DT_Point_Factory::_narrow(service);
    omniORB::setClientCallTimeout(typed, 5000);
    return typed;
  }
  // An AnalogPoint value (32 bytes) that starts with `text`.
  static kxTarn::DATA_BUFFER value(const std::string& text) {
    kxTarn::DATA_BUFFER bytes(32);
    bytes.length(32);
    for (CORBA::ULong i = 0; i < 32; ++i) bytes[i] = i < text.size() ? text[i] : 0;
    return bytes;
  }
  // The text a point's value starts with; "<rc N>" when it cannot be read.
  std::string get(kxTarn::DT_Point_Factory_ptr service, const char* name) {
    CORBA::String_var type;
    kxTarn::DATA_BUFFER_var bytes;
    const int rc = service->get_point(name, type.out(), bytes.out());
    if (rc != tarn::kOk) return "<rc " + std::to_string(rc) + ">";
    return std::string(reinterpret_cast<const char*>(bytes->get_buffer()));
  }
  std::string journal() const { return folder_ + "/points.journal"; }

  std::string folder_;
  const int port_ = freePort();
  std::unique_ptr<TarndProcess> tarnd_;
};

TEST_F(DataFolder, ASecondServerOnTheFolderRefusesToStart) {
  ASSERT_TRUE(start());
  ASSERT_EQ(points()->create_point("kept", "AnalogPoint", true, value("first")), tarn::kOk);
  const TarndRun second = runTarnd("--port " + std::to_string(freePort()) + " --data " + folder_);
  EXPECT_EQ(second.status, 1) << second.output;
  // A server under wine names its Windows process id, which this side does not know.
  const std::string owner = testing_support::tarndCommand() == TARND_PATH ? std::to_string(tarnd_->pid()) : "";
  EXPECT_NE(second.output.find("data folder " + folder_ + " is in use by tarnd " + owner), std::string::npos)
      << second.output;
  EXPECT_EQ(get(points(), "kept"), "first") << "the first server serves on";
  tarnd_->kill();
  ASSERT_TRUE(start()) << "a killed server leaves no lock behind";
  EXPECT_EQ(get(points(), "kept"), "first");
}

TEST_F(DataFolder, ADamagedJournalIsRefusedThenSalvagedOnRequest) {
  ASSERT_TRUE(start());
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(points()->create_point(("p" + std::to_string(i)).c_str(), "AnalogPoint", true, value("v")), tarn::kOk);
  ASSERT_EQ(tarnd_->stop(), 0);
  std::string damaged = readFile(journal());
  damaged[damaged.size() / 2] ^= 0x20;
  std::ofstream(journal(), std::ios::binary | std::ios::trunc) << damaged;

  const TarndRun refused = runTarnd("--port " + std::to_string(port_) + " --data " + folder_);
  EXPECT_EQ(refused.status, 1) << refused.output;
  for (const std::string& text : {journal(), std::string("damaged at offset "), std::string("whole units after")})
    EXPECT_NE(refused.output.find(text), std::string::npos) << text << " in " << refused.output;
  EXPECT_EQ(readFile(journal()), damaged) << "a refused journal is left as it is";

  ASSERT_TRUE(start({"--salvage"}));
  kxTarn::STRING_LIST_var names;
  ASSERT_EQ(points()->get_all_point_names(names.out()), tarn::kOk);
  EXPECT_EQ(names->length(), 19u) << "every point but the one in the damaged record";
  bool aside = false;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    aside = aside || (entry.path().filename().string().rfind("points.journal.damaged-", 0) == 0 &&
                      readFile(entry.path().string()) == damaged);
  EXPECT_TRUE(aside) << "the damaged journal is set aside whole";
}

// A batch of 200,000 points killed at any moment comes back whole or not at all, and a retry
// after the restart then does all of it or answers 2005 for all of it.
TEST_F(DataFolder, ABatchKilledOnItsWayToTheJournalComesBackWholeOrNotAtAll) {
  if (testing_support::tarndCommand() != TARND_PATH)
    GTEST_SKIP() << "wine's server keeps a killed program's connections open: the batch would wait out its call bound";
  constexpr CORBA::ULong kPoints = 200000;
  kxTarn::CreationParameterSeq batch(kPoints);
  batch.length(kPoints);
  for (CORBA::ULong i = 0; i < kPoints; ++i) {
    batch[i].name = ("batch." + std::to_string(i)).c_str();
    batch[i].typeName = "AnalogPoint";
    batch[i].value = value("v");
  }
  for (int delayMs : {40, 120, 300}) {
    SCOPED_TRACE(delayMs);
    ASSERT_TRUE(start());
    // A batch this large takes seconds in the sanitizer builds: the calls here have time.
    auto patient = [this] {
      kxTarn::DT_Point_Factory_var service = points();
      omniORB::setClientCallTimeout(service, 120000);
      return service;
    };
    std::thread creating([&] {
      try {
        patient()->create_points(batch);
      } catch (const CORBA::SystemException&) {  // the kill
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    tarnd_->kill();
    creating.join();
    ASSERT_TRUE(start());
    kxTarn::STRING_LIST_var names;
    ASSERT_EQ(patient()->get_all_point_names(names.out()), tarn::kOk);
    EXPECT_TRUE(names->length() == 0 || names->length() == kPoints) << names->length() << " points came back";
    const int retry = patient()->create_points(batch);
    EXPECT_EQ(retry, names->length() == 0 ? tarn::kOk : tarn::kAlreadyExists);
    tarnd_->kill();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directory(folder_);
  }
}

// With the journal at a file size limit tarnd answers 2035 (no SIGXFSZ), the change is in effect,
// and once the file may grow the next write is kept, with everything answered 2035 before it.
TEST_F(DataFolder, AJournalThatCannotGrowAnswers2035UntilItCanAndThenKeepsAll) {
  if (testing_support::tarndCommand() != TARND_PATH)
    GTEST_SKIP() << "a file size limit ends a program under wine (the Windows server's full disk is tested in-process)";
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool up = start();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_TRUE(up);
  kxTarn::DT_Point_Factory_var service = points();
  ASSERT_EQ(service->create_point("p", "AnalogPoint", true, value("0")), tarn::kOk);
  ASSERT_EQ(service->create_point("q", "AnalogPoint", true, value("q0")), tarn::kOk);
  int rc = tarn::kOk, writes = 0;
  while (rc == tarn::kOk && writes < 10000) rc = service->set_point("p", value(std::to_string(++writes)));
  ASSERT_EQ(rc, tarn::kNotKept) << "after " << writes << " writes";
  ASSERT_EQ(::kill(tarnd_->pid(), 0), 0) << "tarnd survived the limit";
  EXPECT_EQ(service->set_point("q", value("q1")), tarn::kNotKept) << "still full";
  EXPECT_EQ(get(service, "q"), "q1") << "in effect though not kept";

  rlimit room = saved;
  ASSERT_EQ(::prlimit(tarnd_->pid(), RLIMIT_FSIZE, &room, nullptr), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // past the pause between repairs
  EXPECT_EQ(service->set_point("p", value("last")), tarn::kOk) << "kept again once the file may grow";

  tarnd_->kill();
  ASSERT_TRUE(start());
  EXPECT_EQ(get(points(), "p"), "last");
  EXPECT_EQ(get(points(), "q"), "q1") << "answered 2035, kept once the journal caught up";
}

}  // namespace
