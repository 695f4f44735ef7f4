// Snapshots from Python: named snapshots of a realm's data points, snapshot files of the own
// server, and downloads of the current snapshot file with a progress callable.
//
// Every call to a server goes through `run` (Ctrl-C ends the wait). A download reads block by
// block; the progress callable runs on the calling thread between blocks, with the GIL.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "binding.h"

namespace pyostrel {
namespace {

using FileOp = int (*)(const char*, const char*);

struct FileOps {
  FileOp make, load;
};

FileOps fileOps(const std::string& what) {
  if (what == "points") return {&Ostrel::MakeDataPointSnapShot, &Ostrel::LoadDataPointSnapShot};
  if (what == "ports") return {&Ostrel::MakePortSnapShot, &Ostrel::LoadPortSnapShot};
  if (what == "types") return {&Ostrel::MakeDataTypeSnapShot, &Ostrel::LoadDataTypeSnapShot};
  throw py::value_error("what is 'points', 'ports' or 'types', not '" + what + "'");
}

// A snapshot file of the own server, made or loaded; `option` is the realm (points, ports) or
// the type service instance (types).
void fileCall(bool make, const std::string& file, const std::string& what, const Text& option) {
  const FileOps ops = fileOps(what);
  const FileOp op = make ? ops.make : ops.load;
  cstr(file);
  const std::string opt = option ? std::string(cstr(*option)) : std::string();
  run(std::nullopt, std::string(make ? "make " : "load ") + what + " snapshot " + file,
      [=] { return op(file.c_str(), opt.c_str()); });
}

[[noreturn]] void osError(const std::string& path) {
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

// The remote file reader, closed when the last owner lets go (the caller or an abandoned read).
using Reader = std::shared_ptr<BrennicRemoteFile>;

Reader openReader(const std::string& what, const Text& server, const Text& realm) {
  if (what != "points" && what != "ports") throw py::value_error("what is 'points' or 'ports', not '" + what + "'");
  auto opened = std::make_shared<BrennicRemoteFile*>(nullptr);
  const bool points = what == "points";
  run(server, "download " + what + " snapshot", [=] {
    *opened = points ? OstrelExt::openDTPSnapShot(orNull(server), orNull(realm))
                     : OstrelExt::openPortSnapShot(orNull(server), orNull(realm));
    return 0;
  });
  if (*opened == nullptr)
    raise(code::kNoSuchSnapshot, "download: the server gives no " + what + " snapshot file");
  return Reader(*opened, [](BrennicRemoteFile* file) { OstrelExt::closeRemoteFile(&file); });
}

// Copies the server's current snapshot file to `path`; the number of bytes written.
unsigned long long download(const std::string& path, const std::string& what, const py::object& progress,
                            unsigned int block, const Text& server, const Text& realm) {
  if (block == 0) throw py::value_error("block is at least 1 byte");
  cstr(path);
  Reader reader = openReader(what, server, realm);
  auto length = std::make_shared<unsigned int>(0);
  run(server, "download: length", [=] { return reader->getLength(length.get()) == 0 ? 0 : OstrelCode::kRemoteCallFailed; });
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) osError(path);
  struct Block {
    std::vector<char> bytes;
    int n = 0;
    bool end = false;
  };
  auto buffer = std::make_shared<Block>();
  buffer->bytes.resize(block);
  unsigned long long done = 0;
  int empty = 0;
  if (!progress.is_none()) progress(done, *length);
  while (!buffer->end) {
    run(server, "download: read", [=] {
      buffer->n = reader->read(buffer->bytes.data(), static_cast<unsigned int>(buffer->bytes.size()), &buffer->end);
      return buffer->n < 0 ? OstrelCode::kRemoteCallFailed : 0;
    });
    // A server that keeps answering nothing without the end flag would hold us here forever.
    if (buffer->n == 0 && !buffer->end && ++empty > 3) raise(OstrelCode::kRemoteCallFailed, "download: the server stopped sending");
    out.write(buffer->bytes.data(), buffer->n);
    if (!out) osError(path);
    done += static_cast<unsigned long long>(buffer->n);
    if (!progress.is_none()) progress(done, *length);
  }
  out.flush();
  if (!out) osError(path);
  return done;
}

}  // namespace

void bindSnapshots(py::module_& m) {
  const auto server = py::arg("server") = py::none();
  const auto realm = py::arg("realm") = py::none();
  using Named = int (*)(const char*, const char*, const char*);
  const struct {
    const char* name;
    Named op;
    const char* doc;
  } named[] = {
      {"create_snapshot", &Ostrel::CreateDTPSnapShut,
       "Takes the named snapshot of the realm's data points (name, type, value of each).\n\nRaises " OSTREL_RAISES_REMOTE},
      {"load_snapshot", &Ostrel::LoadDTPSnapShut,
       "Puts the realm's data points back exactly as the named snapshot holds them.\n\n"
       "Raises ostrel.NotFound (2013) for an unknown snapshot; " OSTREL_RAISES_REMOTE},
      {"delete_snapshot", &Ostrel::DeleteDTPSnapShut,
       "Forgets the named snapshot.\n\nRaises ostrel.NotFound (2013) for an unknown snapshot; " OSTREL_RAISES_REMOTE},
  };
  for (const auto& entry : named) {
    const Named op = entry.op;
    const std::string verb = entry.name;
    m.def(entry.name, [op, verb](const std::string& name, const Text& s, const Text& r) {
          cstr(name);
          run(s, verb + " " + name, [=] { return op(name.c_str(), orNull(s), orNull(r)); });
        }, py::arg("name"), py::kw_only(), server, realm, entry.doc);
  }
  m.def("make_snapshot", [](const std::string& file, const std::string& what, const Text& option) {
        fileCall(true, file, what, option);
      }, py::arg("file"), py::arg("what") = "points", py::arg("option") = py::none(),
      "Writes a snapshot file of the own server's 'points', 'ports' or 'types' into its data folder;\n"
      "`option` is the realm (points, ports) or the type service instance (types).\n\n"
      "Raises ValueError for another `what`, ostrel.Error 2050 for a name that leaves the data folder; "
      OSTREL_RAISES_REMOTE);
  m.def("load_snapshot_file", [](const std::string& file, const std::string& what, const Text& option) {
        fileCall(false, file, what, option);
      }, py::arg("file"), py::arg("what") = "points", py::arg("option") = py::none(),
      "Loads a snapshot file of the own server's data folder back into its 'points', 'ports' or 'types'.\n\n"
      "Raises ValueError for another `what`, ostrel.Error 2014 for a missing file, 2051 for a damaged\n"
      "one, 2052 for one of a newer format, 2050 for a name that leaves the data folder; " OSTREL_RAISES_REMOTE);
  m.def("_download", &download, py::arg("path"), py::arg("what"), py::arg("progress"), py::arg("block"), server,
        realm);
}

}  // namespace pyostrel
