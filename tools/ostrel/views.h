// What the commands and `ostrel web` both show or do, one home each: each function lives in the
// command file of its area and is called from any thread (it holds no state of its own).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/ostrel/tool.h"

class BrennicData;
class BrennicRemoteFile;
struct ContenderInHostSequence;

namespace tool {

// points_cmd.cc: shell-style matching of a whole name: '*' any run of characters, '?' any one,
// '[...]' one of a set ("[a-c]" ranges, "[!x]" or "[^x]" negated).
bool globMatch(const char* pattern, const char* name);

// points_cmd.cc: writes the `path=value` assignments to point `name`, reading it before (into
// `before`, for its type) and after (into `after`). Returns 0, a library code, or one of the two
// below with `error` saying why; nothing is written unless every assignment parses.
constexpr int kTypeUnknownHere = -2;   // the point's type is not known to this process
constexpr int kBadAssignment = -3;     // a path or value was refused (a usage error)
int writeFields(const std::string& name, const std::vector<std::string>& assignments, const ServerTarget& target,
                BrennicData& before, BrennicData& after, std::string& error);

// contention_cmd.cc: the contenders as one JSON array of {host, name, started, last_beat,
// started_at, last_beat_at, active, record}, followed by a newline.
std::string contendersJson(const ContenderInHostSequence& list);

// connection_cmd.cc: every server of the settings with its state. With `connect`, each is
// connected first (a down server costs its connect time-out).
struct ServerState {
  std::string name;
  std::string position;  // own, parent, child or others ("" when none names it)
  std::vector<std::string> addresses;
  std::string active;    // the address that answered last
  int state = 0;         // IsConnect: 0 connected
  std::string text;      // "connected", "not connected" or "failed: CODE TEXT"
};
std::vector<ServerState> serverStates(bool connect);

// messaging_cmd.cc: opens a receive connection to port or box `name` into `handle`; a refusal for
// a passing reason (2004) is tried once more, as the receives by name do.
int openReceiving(const std::string& name, unsigned int& handle, const ServerTarget& target);

// messaging_cmd.cc: looks at the queue of box (or port) `name` without taking anything: calls
// `each(position, value, note)` for up to `count` (1 to 1000) values from queue position `from`
// on; a value is shown as `type` when one is given and the value is its size, raw otherwise
// (`note` then says why). `held` is how many the queue holds. Returns the look's code.
int peekChannel(const std::string& name, bool box, unsigned int from, int count, const std::string& type,
                const ServerTarget& target, unsigned int& held,
                const std::function<void(unsigned int, BrennicData&, const std::string&)>& each);
// messaging_cmd.cc: the same look as one JSON object {"channel", "kind", "held", "from",
// "values": [{"position", "name", "type", "fields"[, "hex"][, "note"]}]}; its code in `rc`.
std::string peekJson(const std::string& name, bool box, unsigned int from, int count, const std::string& type,
                     const ServerTarget& target, int& rc);

// snapshots_cmd.cc: the realm's named snapshots and the server's snapshot files.
int snapshotLists(const ServerTarget& target, std::vector<std::string>& named, std::vector<std::string>& files);
// snapshots_cmd.cc: reads `file` to its end in blocks of `block` bytes, giving each to `sink`
// (which returns false to stop); `progress(done, total, end)` after each block. False with `error`
// when the server failed, stalled or the sink stopped.
bool readRemoteFile(BrennicRemoteFile& file, unsigned int block, const std::function<bool(const char*, unsigned)>& sink,
                    const std::function<void(unsigned long long, unsigned, bool)>& progress, std::string& error);

}  // namespace tool
