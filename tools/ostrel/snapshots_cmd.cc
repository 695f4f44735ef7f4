// Snapshot commands:
//   ostrel snapshot create|load|delete NAME            named data point snapshots (--server, --realm)
//   ostrel snapshot make|restore points|types|ports FILE [OPTION]
//                                                      snapshot files of the own server
//   ostrel snapshot download points|ports FILE         the server's current snapshot file to FILE
//   ostrel snapshot list [--json]                      named snapshots of the realm, snapshot files
// A download reads the remote file in blocks (--block BYTES) and shows its progress on standard
// error: a bar with bytes, rate and time left on a terminal, a plain line per tenth otherwise.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "tools/ostrel/records.h"
#include "tools/ostrel/tool.h"
#include "tools/ostrel/views.h"

namespace tool {

bool readRemoteFile(BrennicRemoteFile& file, unsigned int block, const std::function<bool(const char*, unsigned)>& sink,
                    const std::function<void(unsigned long long, unsigned, bool)>& progress, std::string& error) {
  unsigned int length = 0;
  if (file.getLength(&length) != 0) {
    error = "the server does not give the file's length";
    return false;
  }
  std::vector<char> buffer(block);
  unsigned long long done = 0;
  bool end = false;
  int empty = 0;
  while (!end) {
    const int n = file.read(buffer.data(), block, &end);
    if (n < 0) {
      error = "reading the remote file failed after " + std::to_string(done) + " bytes";
      return false;
    }
    // A server that keeps answering nothing without the end flag would hold us here forever.
    if (n == 0 && !end && ++empty > 3) {
      error = "the server stopped sending after " + std::to_string(done) + " bytes";
      return false;
    }
    if (n > 0 && !sink(buffer.data(), static_cast<unsigned>(n))) {
      error = "the copy stopped after " + std::to_string(done) + " bytes";
      return false;
    }
    done += static_cast<unsigned>(n);
    if (progress) progress(done, length, end);
  }
  return true;
}

int snapshotLists(const ServerTarget& target, std::vector<std::string>& named, std::vector<std::string>& files) {
  ObjectNames namedList, fileList;
  const int rc = kx_list_snapshots(&namedList, &fileList, target.serverOrNull(), target.realmOrNull());
  if (rc != 0) return rc;
  named.assign(namedList.names, namedList.names + namedList.count);
  files.assign(fileList.names, fileList.names + fileList.count);
  Ostrel::DeatoryNameSeq(&namedList);
  Ostrel::DeatoryNameSeq(&fileList);
  return 0;
}

namespace {

// The middleware's code for a file the server could not write or read.
constexpr int kFileError = 2014;

struct Args {
  ServerTarget target;
  std::string kind;
  std::string name;
  std::string option;
  unsigned int block = 1u << 20;
  bool json = false;
};

std::string bytesText(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  std::ostringstream text;
  text << std::fixed << std::setprecision(unit ? 1 : 0) << bytes << " " << units[unit];
  return text.str();
}

std::string durationText(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  std::ostringstream text;
  text << s / 60 << ":" << std::setw(2) << std::setfill('0') << s % 60;
  return text.str();
}

// Progress of a download: a bar redrawn in place on a terminal (at most ten times a second),
// plain lines at each tenth otherwise.
class Progress {
 public:
  Progress(std::ostream& err, unsigned total) : err_(err), total_(total), terminal_(isatty(STDERR_FILENO)) {}

  void update(unsigned long long done, bool last) {
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const int tenth = total_ ? static_cast<int>(done * 10 / total_) : 10;
    if (terminal_ ? (!last && now - drawn_ < std::chrono::milliseconds(100)) : (!last && tenth == lastTenth_)) return;
    drawn_ = now;
    lastTenth_ = tenth;
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const double left = rate > 0 && total_ > done ? (total_ - done) / rate : 0;
    std::ostringstream line;
    line << bytesText(static_cast<double>(done)) << " / " << bytesText(total_) << "  " << bytesText(rate) << "/s  "
         << (last ? durationText(elapsed) + " total" : durationText(left) + " left");
    if (terminal_) {
      const int width = 30;
      const int filled = total_ ? static_cast<int>(done * width / total_) : width;
      err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] " << line.str() << "\033[K"
           << (last ? "\n" : "") << std::flush;
    } else {
      err_ << "downloaded " << line.str() << "\n";
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  const unsigned total_;
  const bool terminal_;
  const Clock::time_point start_ = Clock::now();
  Clock::time_point drawn_{};
  int lastTenth_ = -1;
};

// Reads `file` to the end into `path`; true when every byte arrived and was written.
bool download(Tool& tool, BrennicRemoteFile& file, const std::string& path, unsigned int block) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    tool.err << "ostrel: cannot write " << shortened(path) << ": " << std::strerror(errno ? errno : EIO) << "\n";
    return false;
  }
  std::unique_ptr<Progress> progress;
  std::string error;
  const bool read = readRemoteFile(
      file, block,
      [&out](const char* bytes, unsigned n) {
        out.write(bytes, n);
        return true;
      },
      [&](unsigned long long done, unsigned total, bool end) {
        if (!progress) progress = std::make_unique<Progress>(tool.err, total);
        progress->update(done, end);
      },
      error);
  if (!read) {
    tool.err << (progress ? "\n" : "") << "ostrel: " << error << "\n";
    return false;
  }
  errno = 0;
  if (!out.flush()) {
    tool.err << "ostrel: cannot write " << shortened(path) << ": " << std::strerror(errno ? errno : EIO) << "\n";
    return false;
  }
  return true;
}

// The names of `list` as one JSON array, or as lines "KIND  NAME".
void printSnapshotNames(Tool& tool, const char* kind, const std::vector<std::string>& list, bool json) {
  if (json) {
    tool.out << "[";
    for (std::size_t i = 0; i < list.size(); ++i) tool.out << (i ? ", " : "") << jsonString(list[i]);
    tool.out << "]";
    return;
  }
  for (const std::string& name : list) tool.out << kind << "  " << name << "\n";
}

void addSnapshotListing(CLI::App* snapshot, Tool& tool) {
  auto a = std::make_shared<Args>();
  auto* list = snapshot->add_subcommand("list", "List the realm's named snapshots and the snapshot files on the server");
  addServerOptions(list, a->target);
  list->add_flag("--json", a->json, "print {\"named\": [...], \"files\": [...]}");
  list->callback([&tool, a] {
    if (!connectServer(tool, a->target)) return;
    std::vector<std::string> named, files;
    if (!check(tool, "snapshot list", snapshotLists(a->target, named, files))) return;
    if (a->json) tool.out << "{\"named\": ";
    printSnapshotNames(tool, "named", named, a->json);
    if (a->json) tool.out << ", \"files\": ";
    printSnapshotNames(tool, "file ", files, a->json);
    if (a->json) tool.out << "}\n";
    if (!a->json && named.size() + files.size() == 0) tool.out << "(no snapshots)\n";
  });
}

void addSnapshotCommands(CLI::App& app, Tool& tool) {
  auto a = std::make_shared<Args>();
  auto* snapshot = app.add_subcommand("snapshot", "Snapshots: create, load, delete, make, restore, download, list");
  snapshot->require_subcommand(1);

  using Named = int (*)(const char*, const char*, const char*);
  const std::vector<std::tuple<const char*, const char*, Named>> named = {
      {"create", "Take a named snapshot of the realm's data points", &Ostrel::CreateDTPSnapShut},
      {"load", "Put the realm's data points back as a named snapshot holds them", &Ostrel::LoadDTPSnapShut},
      {"delete", "Delete a named snapshot", &Ostrel::DeleteDTPSnapShut}};
  for (const auto& entry : named) {
    const std::string verb = std::get<0>(entry);
    const Named operation = std::get<2>(entry);
    auto* command = snapshot->add_subcommand(verb, std::get<1>(entry));
    command->add_option("NAME", a->name, "snapshot name")->required();
    addServerOptions(command, a->target);
    command->callback([&tool, a, verb, operation] {
      if (!connectServer(tool, a->target)) return;
      // A create over an existing name replaces that snapshot: say so rather than "created".
      std::vector<std::string> before, files;
      const bool existed = verb == "create" && snapshotLists(a->target, before, files) == 0 &&
                           std::find(before.begin(), before.end(), a->name) != before.end();
      if (check(tool, "snapshot " + verb + " " + shortened(a->name),
                operation(a->name.c_str(), a->target.serverOrNull(), a->target.realmOrNull())))
        tool.out << "snapshot " << shortened(a->name) << ": "
                 << (existed ? "replaced (the earlier one is gone)" : verb + (verb == "load" ? "ed" : "d")) << "\n";
    });
  }

  using FileOp = int (*)(const char*, const char*);
  const std::map<std::string, std::pair<FileOp, FileOp>> files = {
      {"points", {&Ostrel::MakeDataPointSnapShot, &Ostrel::LoadDataPointSnapShot}},
      {"types", {&Ostrel::MakeDataTypeSnapShot, &Ostrel::LoadDataTypeSnapShot}},
      {"ports", {&Ostrel::MakePortSnapShot, &Ostrel::LoadPortSnapShot}}};
  for (const bool make : {true, false}) {
    const std::string verb = make ? "make" : "restore";
    auto* command = snapshot->add_subcommand(
        verb, make ? "Write a snapshot file of the own server's points, types or ports (FILE in its data folder)"
                   : "Load a snapshot file into the own server's points, types or ports");
    command->add_option("WHAT", a->kind, "points, types or ports")->required()->check(CLI::IsMember({"points", "types", "ports"}));
    command->add_option("FILE", a->name, "file name in the server's data folder")->required();
    command->add_option("OPTION", a->option, "the realm (points, ports) or type service instance (types)");
    command->callback([&tool, a, files, make, verb] {
      const auto& pair = files.at(a->kind);
      const int rc = (make ? pair.first : pair.second)(a->name.c_str(), a->option.c_str());
      if (check(tool, "snapshot " + verb + " " + a->kind + " " + shortened(a->name), rc)) {
        tool.out << (make ? "made " : "restored ") << a->kind << (make ? " snapshot " : " from ") << shortened(a->name) << "\n";
      } else if (rc == kFileError && a->name.find('/') != std::string::npos) {
        // The server makes no folders for a file: the usual cause of a failed write into one.
        tool.err << "ostrel: is there a folder '" << shortened(a->name.substr(0, a->name.rfind('/')))
                 << "' in the server's data folder? A snapshot file goes into a folder that exists\n";
      }
    });
  }

  auto* get = snapshot->add_subcommand("download", "Copy the server's current points or ports snapshot file to FILE");
  get->add_option("WHAT", a->kind, "points or ports")->required()->check(CLI::IsMember({"points", "ports"}));
  get->add_option("FILE", a->name, "local file to write")->required();
  get->add_option("-b,--block", a->block, "bytes per read (default 1048576)")->check(CLI::Range(1u, 1u << 24));
  addServerOptions(get, a->target);
  get->callback([&tool, a] {
    if (!connectServer(tool, a->target)) return;
    BrennicRemoteFile* file = a->kind == "points"
                                  ? OstrelExt::openDTPSnapShot(a->target.serverOrNull(), a->target.realmOrNull())
                                  : OstrelExt::openPortSnapShot(a->target.serverOrNull(), a->target.realmOrNull());
    if (!file) {
      tool.err << "ostrel: the server gives no " << a->kind << " snapshot file\n";
      tool.rc = 1;
      return;
    }
    const bool ok = download(tool, *file, a->name, a->block);
    OstrelExt::closeRemoteFile(&file);
    if (ok) tool.out << "wrote the " << a->kind << " snapshot to " << shortened(a->name) << "\n";
    if (!ok) tool.rc = 1;
  });
  addSnapshotListing(snapshot, tool);
}

OSTREL_TOOL_COMMANDS(addSnapshotCommands);

}  // namespace
}  // namespace tool
