// Snapshots end to end, on the embedded server and on tarnd.

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#  include <direct.h>
#endif

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tests/support/each_server.h"
#include "tests/support/tarn_fixture.h"
#include "tarn/client/orb.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;
using Image = std::map<std::string, std::string>;

constexpr unsigned kCell = 64;
constexpr unsigned kSlab = 65000;  // the largest type size is 65535

std::string makeFolder() {
#if defined(_WIN32)
  static int counter = 0;
  const std::string folder =
      scratchPath("ostrel-snapshots-" + std::to_string(processId()) + "-" + std::to_string(++counter));
  ::_mkdir(folder.c_str());
  return folder;
#else
  char pattern[] = "/tmp/ostrel-snapshots-XXXXXX";
  return ::mkdtemp(pattern);
#endif
}

// The types of both servers, and the embedded server's snapshot folder, set before it starts.
const std::string& typesFile() {
  static const std::string path = [] {
    const std::string file = makeFolder() + "/types.xml";
    std::ofstream(file) << "<types><type name=\"Cell\" size=\"64\"><element name=\"b\" type=\"byte\" offset=\"0\" count=\"64\"/></type>"
                           "<type name=\"Slab\" size=\"65000\"><element name=\"b\" type=\"byte\" offset=\"0\" count=\"65000\"/></type></types>";
    return file;
  }();
  return path;
}
const std::string kEmbeddedFolder = [] {
  const std::string folder = makeFolder();
  setEnvironment("TARN_TYPES", typesFile().c_str());
  setEnvironment("TARN_EMBEDDED_DATA", folder.c_str());
  return folder;
}();

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class Snapshots : public OnEachServer {
 protected:
  Snapshots() {
    if (GetParam()) tarndArgs = {"--types", typesFile(), "--data", folder = makeFolder()};
  }

  // Starts tarnd again and makes the first call, which fails on the stale reference and drops it.
  void restart() {
    ASSERT_TRUE(tarnd->start());
    ASSERT_EQ(0, Ostrel::ConnectTarn(server));
    ObjectNames names;
    if (kx_get_all_point_name(&names, server, realm.c_str()) == 0) Ostrel::DeatoryNameSeq(&names);
  }

  int put(const std::string& name, char fill, const char* type = "Cell", unsigned size = kCell) {
    const std::string value(size, fill);
    kx_remove_template_point(name.c_str(), server, realm.c_str());
    return kx_create_set(name.c_str(), type, value.data(), size, server, realm.c_str());
  }
  // Every Cell point of the realm with its bytes.
  Image image() {
    Image points;
    ObjectNames names;
    EXPECT_EQ(0, kx_get_all_point_name(&names, server, realm.c_str()));
    for (int i = 0; i < names.count; ++i) {
      std::string value(kCell, '\0');
      EXPECT_EQ(0, kx_get_data_template_point(names.names[i], &value[0], kCell, server, realm.c_str()));
      points[names.names[i]] = value;
    }
    Ostrel::DeatoryNameSeq(&names);
    return points;
  }
  // Reads `file` to its end in blocks of `block`; checks every read's size and the end flag.
  std::string drain(BrennicRemoteFile& file, unsigned block) {
    unsigned length = 0;
    EXPECT_EQ(0, file.getLength(&length));
    std::string bytes;
    std::vector<char> buffer(block + 1, '\x7f');
    bool end = false;
    while (!end) {
      const int n = file.read(buffer.data(), block, &end);
      EXPECT_GE(n, 0);
      EXPECT_LE(n, static_cast<int>(block));
      if (n <= 0 && !end) break;
      EXPECT_EQ('\x7f', buffer[block]) << "written past the block";
      bytes.append(buffer.data(), n);
      EXPECT_EQ(end, bytes.size() == length) << "end flag at byte " << bytes.size() << " of " << length;
    }
    EXPECT_EQ(length, bytes.size());
    return bytes;
  }

  // Each test works in a realm of its own, so tests on the one embedded server do not meet.
  const std::string realm = unique("snap");
  std::string folder = kEmbeddedFolder;
};

TEST_P(Snapshots, LoadPutsTheRealmBackByteForByte) {
  struct Way {
    const char* what;
    std::function<int()> take, load;
  };
  const std::vector<Way> ways = {
      {"named", [&] { return Ostrel::CreateDTPSnapShut("before", server, realm.c_str()); },
       [&] { return Ostrel::LoadDTPSnapShut("before", server, realm.c_str()); }},
      {"file", [&] { return Ostrel::MakeDataPointSnapShot("before.snapshot", realm.c_str()); },
       [&] { return Ostrel::LoadDataPointSnapShot("before.snapshot", realm.c_str()); }}};
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    for (char c = 'a'; c < 'f'; ++c) ASSERT_EQ(0, put(std::string("p") + c, c));
    const Image before = image();
    ASSERT_EQ(0, way.take());
    ASSERT_EQ(0, put("pa", 'Z'));                                            // changed
    ASSERT_EQ(0, kx_remove_template_point("pb", server, realm.c_str()));     // deleted
    ASSERT_EQ(0, put("pz", 'z'));                                            // added
    ASSERT_EQ(0, way.load());
    EXPECT_EQ(before, image());
  }
  EXPECT_EQ(0, Ostrel::DeleteDTPSnapShut("before", server, realm.c_str()));
  for (auto op : {&Ostrel::LoadDTPSnapShut, &Ostrel::DeleteDTPSnapShut})
    EXPECT_EQ(2013, op("before", server, realm.c_str())) << "a deleted or unknown name";
  for (auto op : {&Ostrel::CreateDTPSnapShut, &Ostrel::LoadDTPSnapShut, &Ostrel::DeleteDTPSnapShut})
    EXPECT_EQ(2010, op(nullptr, server, realm.c_str())) << "a null name";
}

TEST_P(Snapshots, DamagedFilesAndNamesOutsideTheFolderAreRefusedAndChangeNothing) {
  ASSERT_EQ(0, put("p", 'p'));
  ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("good.snapshot", realm.c_str()));
  ASSERT_EQ(0, put("p", 'q'));
  const Image now = image();
  const std::string good = readFile(folder + "/good.snapshot");
  ASSERT_GT(good.size(), 24u);
  struct Damage {
    const char* what;
    std::string bytes;
    int code;
  };
  std::string flipped = good, newer = good, tag = good;
  flipped[good.size() - 3] ^= 0x10;
  newer[4] = 2;
  tag[0] = 'X';
  for (const Damage& d : std::vector<Damage>{{"one byte flipped", flipped, 2051},
                                             {"cut short", good.substr(0, good.size() - 1), 2051},
                                             {"header only, cut", good.substr(0, 20), 2051},
                                             {"other tag", tag, 2051},
                                             {"newer format", newer, 2052}}) {
    writeFile(folder + "/bad.snapshot", d.bytes);
    EXPECT_EQ(d.code, Ostrel::LoadDataPointSnapShot("bad.snapshot", realm.c_str())) << d.what;
  }
  for (const char* name : {"../escape.snapshot", "/tmp/abs.snapshot", "", "a/../../b", "./x"})
    EXPECT_EQ(2050, Ostrel::MakeDataPointSnapShot(name, realm.c_str())) << name;
  EXPECT_EQ(2050, Ostrel::LoadDataPointSnapShot(nullptr, realm.c_str()));

  // The server's own files (the journal, its compaction, the lock, aside files that the start-up
  // sweep removes) are no client's to name, in any of the three forms.
  for (const char* name : {"points.journal", "points.journal.compact", "sub/points.journal.damaged-1", "tarnd.lock",
                           "keep.part-999999-1", "sub/x.snapshot.part-12-3", "x.snapshot.replaced-12-3"}) {
    EXPECT_EQ(2050, Ostrel::MakeDataPointSnapShot(name, realm.c_str())) << name;
    EXPECT_EQ(2050, Ostrel::MakePortSnapShot(name, realm.c_str())) << name;
    EXPECT_EQ(2050, Ostrel::MakeDataTypeSnapShot(name, nullptr)) << name;
    EXPECT_EQ(2050, Ostrel::LoadDataPointSnapShot(name, realm.c_str())) << name;
  }
  // A link inside the folder leads out of it: neither followed to write nor to read.
  const std::string outside = makeFolder();
  writeFile(outside + "/target.snapshot", good);
  const std::string link = realm + ".link", fileLink = realm + ".snapshot.link";
  std::filesystem::create_directory_symlink(outside, folder + "/" + link);
  std::filesystem::create_symlink(outside + "/target.snapshot", folder + "/" + fileLink);
  EXPECT_EQ(2050, Ostrel::MakeDataPointSnapShot((link + "/x.snapshot").c_str(), realm.c_str()));
  // Wine shows a link to a file as the file itself (on Windows a link is a reparse point, which
  // the server refuses): against the Windows server under wine only the folder link is checked.
#if defined(_WIN32)
  const bool nativeLinks = true;
#else
  const bool nativeLinks = !GetParam() || testing_support::tarndCommand() == TARND_PATH;
#endif
  if (nativeLinks) {
    EXPECT_EQ(2050, Ostrel::MakeDataPointSnapShot(fileLink.c_str(), realm.c_str()));
    EXPECT_EQ(2050, Ostrel::LoadDataPointSnapShot(fileLink.c_str(), realm.c_str()));
  }
  EXPECT_FALSE(std::ifstream(outside + "/x.snapshot").good()) << "written outside the folder";
  EXPECT_EQ(good, readFile(outside + "/target.snapshot"));
  EXPECT_EQ(now, image());
}

TEST_P(Snapshots, RemoteFileReadsInAnyBlockSizeAndKeepsItsVersion) {
  // Before a file is made in the realm, each open reads the realm as it is then.
  std::size_t sizes[2] = {0, 0};
  for (std::size_t& size : sizes) {
    ASSERT_EQ(0, put("p" + std::to_string(&size - sizes), 'x'));
    BrennicRemoteFile* remote = OstrelExt::openDTPSnapShot(server, realm.c_str());
    ASSERT_NE(nullptr, remote);
    size = drain(*remote, 4096).size();
    OstrelExt::closeRemoteFile(&remote);
  }
  EXPECT_LT(sizes[0], sizes[1]) << "the second open sees the second point";

  for (int i = 0; i < 40; ++i) ASSERT_EQ(0, put("p" + std::to_string(i), static_cast<char>(i)));
  ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("blocks.snapshot", realm.c_str()));
  const std::string file = readFile(folder + "/blocks.snapshot");
  for (unsigned block : {1u, 7u, 4096u, 1u << 20}) {
    BrennicRemoteFile* remote = OstrelExt::openDTPSnapShot(server, realm.c_str());
    ASSERT_NE(nullptr, remote);
    // Another realm's snapshot renamed over the file while it is open: the reader keeps its own.
    if (block == 7) {
      ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("blocks.snapshot", ""));
    }
    EXPECT_EQ(file, drain(*remote, block)) << "block " << block;
    OstrelExt::closeRemoteFile(&remote);
    if (block == 7) {
      ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("blocks.snapshot", realm.c_str()));
    }
  }
}

TEST_P(Snapshots, PortAndTypeSnapshots) {
  ASSERT_EQ(0, Ostrel::CreateEventBox("box", 7, 10, server, realm.c_str()));
  ASSERT_EQ(0, kx_send_event("box", "abcd", 4, server, realm.c_str()));
  ASSERT_EQ(0, Ostrel::MakePortSnapShot("ports.snapshot", realm.c_str()));
  ASSERT_EQ(0, Ostrel::ClearEventBox("box", server, realm.c_str()));
  ASSERT_EQ(0, Ostrel::LoadPortSnapShot("ports.snapshot", realm.c_str()));
  unsigned count = 0;
  EXPECT_EQ(0, Ostrel::EventCount("box", count, server, realm.c_str()));
  EXPECT_EQ(1u, count);
  BrennicRemoteFile* remote = OstrelExt::openPortSnapShot(server, realm.c_str());
  ASSERT_NE(nullptr, remote);
  EXPECT_EQ(readFile(folder + "/ports.snapshot"), drain(*remote, 4096));
  OstrelExt::closeRemoteFile(&remote);

  ASSERT_EQ(0, Ostrel::MakeDataTypeSnapShot("types.snapshot", nullptr));
  EXPECT_EQ(0, Ostrel::LoadDataTypeSnapShot("types.snapshot", nullptr));
  EXPECT_EQ(2051, Ostrel::LoadDataTypeSnapShot("ports.snapshot", nullptr)) << "a port file is not a type file";
}

TEST_P(Snapshots, RemoteFailuresGiveTheirCodes) {
  const std::vector<std::pair<const char*, int (*)(const char*, const char*, const char*)>> named = {
      {"create_snapshot", &Ostrel::CreateDTPSnapShut},
      {"load_snapshot", &Ostrel::LoadDTPSnapShut},
      {"delete_snapshot", &Ostrel::DeleteDTPSnapShut}};
  ASSERT_EQ(0, Ostrel::CreateDTPSnapShut("s", server, realm.c_str()));
  for (const auto& op : named) {
    planFault(server, op.first, 0, 1, "COMM_FAILURE");
    EXPECT_EQ(123, op.second("s", server, realm.c_str())) << op.first;
    EXPECT_EQ(0, op.second("s", server, realm.c_str())) << op.first << ": a fresh reference next time";
  }
  BrennicRemoteFile* remote = OstrelExt::openDTPSnapShot(server, realm.c_str());
  ASSERT_NE(nullptr, remote);
  char buffer[8];
  bool end = false;
  unsigned length = 5;
  planFault(server, "file_read", 0, 1, "TRANSIENT");
  EXPECT_EQ(-1, remote->read(buffer, sizeof buffer, &end));
  planFault(server, "file_get_length", 0, 1, "TRANSIENT");
  EXPECT_EQ(-1, remote->getLength(&length));
  EXPECT_EQ(5u, length);
  EXPECT_EQ(-1, remote->read(nullptr, 4, &end)) << "a null buffer";
  planFault(server, "file_close", 0, 1, "TRANSIENT");
  EXPECT_EQ(-1, remote->close());
  OstrelExt::closeRemoteFile(&remote);

  // A file cut short under an open reader ends the reader with -1; a loop to the end stops.
  ASSERT_EQ(0, put("p", 'x'));
  ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("shrinking.snapshot", realm.c_str()));
  BrennicRemoteFile* shrinking = OstrelExt::openDTPSnapShot(server, realm.c_str());
  ASSERT_NE(nullptr, shrinking);
  std::filesystem::resize_file(folder + "/shrinking.snapshot", 4);
  int n = 0, reads = 0;
  for (end = false; !end && reads < 100; ++reads)
    if ((n = shrinking->read(buffer, sizeof buffer, &end)) < 0) break;
  EXPECT_EQ(-1, n) << "after " << reads << " reads";
  OstrelExt::closeRemoteFile(&shrinking);
  BrennicRemoteFile* none = nullptr;
  OstrelExt::closeRemoteFile(&none);
  OstrelExt::closeRemoteFile(nullptr);
  planFault(server, "open_snapshot_file", 0, 1, "TRANSIENT");
  EXPECT_EQ(nullptr, OstrelExt::openDTPSnapShot(server, realm.c_str()));
  Ostrel::DisConnectTarn(server);
  EXPECT_EQ(nullptr, OstrelExt::openDTPSnapShot(server, realm.c_str())) << "not connected";
}

OSTREL_ON_EACH_SERVER(Snapshots);

class SnapshotsOnTarnd : public Snapshots {};

TEST_P(SnapshotsOnTarnd, NamedSnapshotSurvivesARestart) {
  ASSERT_EQ(0, put("p", 'p'));
  const Image before = image();
  ASSERT_EQ(0, Ostrel::CreateDTPSnapShut("kept", server, realm.c_str()));
  ASSERT_EQ(0, put("p", 'q'));
  ASSERT_EQ(0, tarnd->stop());
  restart();
  ASSERT_EQ(0, Ostrel::LoadDTPSnapShut("kept", server, realm.c_str()));
  EXPECT_EQ(before, image());
}

TEST_P(SnapshotsOnTarnd, KilledWhileWritingLeavesTheOldFileOrTheNewOne) {
  std::mt19937 random(42);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(0, put("p" + std::to_string(i), 'a'));
  ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("k.snapshot", realm.c_str()));
  char last = 'a';
  for (char next = 'b'; next < 'g'; ++next) {
    ASSERT_EQ(0, put("p0", next));
    planFault(server, "snapshot_write", 2, 1, "", 0, 300);
    std::thread writer([&] { Ostrel::MakeDataPointSnapShot("k.snapshot", realm.c_str()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 400)(random)));
    tarnd->kill();
    writer.join();
    restart();
    ASSERT_EQ(0, Ostrel::LoadDataPointSnapShot("k.snapshot", realm.c_str()));
    std::string value(kCell, '\0');
    ASSERT_EQ(0, kx_get_data_template_point("p0", &value[0], kCell, server, realm.c_str()));
    EXPECT_TRUE(value == std::string(kCell, last) || value == std::string(kCell, next)) << value[0];
    last = value[0];
  }
}

long residentKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, std::strlen(field), field) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

TEST_P(SnapshotsOnTarnd, A64MegabyteDownloadKeepsTheClientsMemoryBounded) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "writing 64 MiB of snapshot outlasts the call's bound under ThreadSanitizer";
#endif
  for (int i = 0; i < 1040; ++i) ASSERT_EQ(0, put("slab" + std::to_string(i), 's', "Slab", kSlab));
  ASSERT_EQ(0, Ostrel::MakeDataPointSnapShot("big.snapshot", realm.c_str()));
  BrennicRemoteFile* remote = OstrelExt::openDTPSnapShot(server, realm.c_str());
  ASSERT_NE(nullptr, remote);
  unsigned length = 0;
  ASSERT_EQ(0, remote->getLength(&length));
  ASSERT_GT(length, 64u << 20);
  writeFile("/proc/self/clear_refs", "5");  // the peak resident size starts again from here
  const long before = residentKiB("VmRSS:");
  std::vector<char> block(1 << 20);
  unsigned long long total = 0;
  for (bool end = false; !end;) {
    const int n = remote->read(block.data(), block.size(), &end);
    ASSERT_GT(n, 0);
    total += n;
  }
  EXPECT_EQ(length, total);
#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer keeps freed blocks in quarantine
  EXPECT_LT(residentKiB("VmHWM:") - before, 16 * 1024) << "KiB above the resident size before the download";
#else
  (void)before;
#endif
  OstrelExt::closeRemoteFile(&remote);
}

INSTANTIATE_TEST_SUITE_P(Servers, SnapshotsOnTarnd, ::testing::Values(true),
                         [](const ::testing::TestParamInfo<bool>&) { return "tarnd"; });

// Readers that are never closed meet the per-process budget, however many connections the
// process's threads use, so the server keeps descriptors for everyone else; and no client can
// reach another's reader by guessing its key.
TEST(SnapshotReaders, NeverClosedReadersMeetTheirBudgetAndOtherClientsAreServed) {
  TarndProcess server{"plant", freePort(), {"--max-client-readers", "3", "--max-file-readers", "5"}};
  ASSERT_TRUE(server.start());
  ScopedSettings settings({{"plant", "own", {server.address()}}});
  ASSERT_EQ(0, Ostrel::ConnectTarn("plant"));
  std::vector<BrennicRemoteFile*> readers;
  std::mutex readersMutex;
  std::vector<std::thread> openers;
  for (int t = 0; t < 6; ++t)
    openers.emplace_back([&] {
      for (int i = 0; i < 2; ++i)
        if (BrennicRemoteFile* reader = OstrelExt::openDTPSnapShot("plant", nullptr)) {
          std::lock_guard<std::mutex> hold(readersMutex);
          readers.push_back(reader);
        }
    });
  for (std::thread& opener : openers) opener.join();
  EXPECT_EQ(readers.size(), 3u) << "this process's budget";

  // Each process that names itself has its own share, within the total.
  kxTarn::kxTarnServiceManager_var manager = server.manager();
  CORBA::Object_var object = manager->get_service("dtp", "");
  kxTarn::DT_Point_Factory_var points = kxTarn::DT_Point_Factory::_narrow(object);
  kxTarn::FileHandle_var first = points->open_snapshot_file_from("elsewhere:7");
  EXPECT_FALSE(CORBA::is_nil(first)) << "another process's share";
  EXPECT_TRUE(CORBA::is_nil(kxTarn::FileHandle_var(points->open_snapshot_file_from(kx_process_name()))))
      << "the same process named over another connection";
  EXPECT_TRUE(CORBA::is_nil(kxTarn::FileHandle_var(points->open_snapshot_file_from(std::string(5000, 'p').c_str()))))
      << "a process name past the name limit";
  first->close();

  const std::string folder = makeFolder();
  const ToolRun other = runTool("snapshot download points " + shellWord(folder + "/copy"));
  EXPECT_EQ(0, other.status) << "another client is served: " << other.output;

  CORBA::Object_var guess = tarn::orb()->string_to_object(
      ("corbaloc::" + server.address() + "/file%2F" + std::to_string(server.pid()) + "-1").c_str());
  kxTarn::FileHandle_var guessed = kxTarn::FileHandle::_unchecked_narrow(guess);
  CORBA::ULong length = 0;
  EXPECT_THROW(guessed->get_length(length), CORBA::OBJECT_NOT_EXIST) << "a reader key that a client can guess";

  OstrelExt::closeRemoteFile(&readers.back());
  readers.pop_back();
  BrennicRemoteFile* again = OstrelExt::openDTPSnapShot("plant", nullptr);
  EXPECT_NE(nullptr, again) << "a closed reader gives its place back";
  readers.push_back(again);
  for (BrennicRemoteFile*& reader : readers) OstrelExt::closeRemoteFile(&reader);
  Ostrel::DisConnectTarn("plant");
}

// Not on a terminal, a download prints plain progress lines.
TEST(SnapshotsTool, CommandsInOneShell) {
  const std::string folder = makeFolder();
  const ToolRun run = runTool("shell",
                              "create cell.1 Cell\nsnapshot create first\nsnapshot load first\nsnapshot delete first\n"
                              "snapshot make points tool.snapshot\nsnapshot restore points tool.snapshot\n"
                              "snapshot download points " + folder + "/copy --block 7\n"
                              "snapshot create second\nsnapshot create second --realm other\nsnapshot list\n"
                              "snapshot list --json --realm other\n",
                              std::string(kEmbeddedServer) + " TARN_TYPES=" + shellWord(typesFile()) +
                                  " TARN_EMBEDDED_DATA=" + shellWord(folder));
  for (const char* text : {"snapshot first: created", "snapshot first: loaded", "snapshot first: deleted",
                           "made points snapshot tool.snapshot", "restored points from tool.snapshot", "downloaded ",
                           "named  second\nfile   copy\n", "file   tool.snapshot\n",
                           "{\"named\": [\"second\"], \"files\": [\"copy\", "})
    EXPECT_TRUE(has(run, text)) << text << " in\n" << run.output;
  EXPECT_EQ(readFile(folder + "/tool.snapshot"), readFile(folder + "/copy"));
  for (const char* usage : {"snapshot", "snapshot create", "snapshot make rows f", "snapshot download points"})
    EXPECT_EQ(2, runTool(usage).status) << usage;
}

}  // namespace
