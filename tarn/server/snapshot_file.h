// Snapshot files of a server: named data point snapshots, and the snapshot files of data points,
// ports and data types made through the flat client API. All live in the server's snapshot
// folder (ServerHost::snapshotFolder).
//
// File: a 24-byte header, then the body. Header: the tag "TSNP", the format version (4 bytes),
// the kind of body (4 bytes: 1 data points, 2 ports, 3 data types, the packed type stream), the
// CRC-32 of the body (4 bytes) and the body's length (8 bytes); numbers little-endian. Data point body: the number of points
// (4 bytes), then per point its name, type, written flag (1 byte) and value, texts and bytes as
// a 4-byte length and the bytes.
//
// A file is written aside (PATH.part-PID-N), synced, renamed over PATH and the folder synced:
// a process killed while writing leaves the previous file whole. A reader refuses a file that
// is cut short, has a wrong tag, kind, length or checksum (kSnapshotDamaged), or was written
// by a newer format (kSnapshotTooNew); it never hands on part of such a file.
//
// Plain functions; any thread may call them. Two writers of one path both succeed and the file
// is then one of the two, whole.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/realm.h"

namespace tarn {

class ServerHost;

enum class SnapshotKind : std::uint32_t { kPoints = 1, kPorts = 2, kTypes = 3 };
constexpr std::uint32_t kSnapshotFormat = 1;
constexpr std::size_t kSnapshotHeaderBytes = 24;

// `folder`/`file` in `path` when `file` is a relative name that stays inside `folder` (no
// empty, "." or ".." part, not absolute, no part that is a symbolic link) and names none of the
// server's own files (data_folder.h); kBadFileName otherwise (null and empty included).
// kFileError when there is no folder.
int snapshotPath(const std::string& folder, const char* file, std::string& path);

// Writes `body` as a snapshot file of `kind` at `path`; `halfway` (when set) runs after half of
// the file is written, so that a fault plan can stall a write in the middle. kOk, or
// kFileError with the previous file untouched.
int writeSnapshotFile(const std::string& path, SnapshotKind kind, const std::string& body,
                      const std::function<void()>& halfway = {});

// The body of the snapshot file of `kind` at `path`: kOk; kNoSuchSnapshot when there is no
// such file; kFileError when it cannot be read; kSnapshotDamaged, kSnapshotTooNew (above).
int readSnapshotFile(const std::string& path, SnapshotKind kind, std::string& body);

std::string encodePoints(const std::map<std::string, Point>& points);
// False (and `points` unspecified) when `body` is not a whole data point body.
bool decodePoints(const std::string& body, std::map<std::string, Point>& points);

// The steps a service's snapshot file operations share. `current` is the realm's last file made
// of the service's kind (RealmState::pointsFile or portsFile); `save(path)` writes the service's
// state as a snapshot file, `restore(path)` loads one; both run with the realm's snapshotMutex
// held.
using SnapshotStep = std::function<int(const std::string& path)>;
// The flat client API's make: `file` in the snapshot folder (kBadFileName when it leaves it).
int makeSnapshotFile(ServerHost& host, RealmState& realm, std::string& current, const char* file,
                     const SnapshotStep& save);
int loadSnapshotFile(ServerHost& host, RealmState& realm, const char* file, const SnapshotStep& restore);
// A reader over `current`; when nothing was made since the server started, over a snapshot of
// the state now, written anew to STEM.REALM.snapshot at every such open. Nil when no file can be opened or written.
// `process` names the caller's process for the readers' shares (FileHandles::readerClient).
kxTarn::FileHandle_ptr openSnapshotFile(ServerHost& host, RealmState& realm, std::string& current,
                                        const char* stem, const SnapshotStep& save, const char* process);

// Removes the aside files (NAME.part-PID-N) under `folder` and its sub-folders that a writer
// killed before its rename left behind: those whose process no longer runs. A file of a process
// that still runs (this one included) may be a write in progress and stays. Returns how many
// were removed; errors (a folder that cannot be read) remove nothing more and are not reported.
std::size_t removeStaleAsideFiles(const std::string& folder);

// A file name made of any text: its bytes in hex (the empty text gives "-").
std::string hexName(const std::string& text);

}  // namespace tarn
