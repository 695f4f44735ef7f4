// Rights per realm: what each client may do in each realm of a tarnd started with --rights FILE.
//
// The file has one rule a line, `IDENTITY REALM RIGHT`, words apart by blanks; `#` starts a
// comment, blank lines are skipped:
//   IDENTITY  `*` (any client), an address or range of the client's host (`10.0.0.0/8`,
//             `192.168.1.7`, `fd00::/8`), or `CN=NAME`: a TLS client whose verified certificate's
//             subject has the common name NAME
//   REALM     a realm's name, `-` for the default realm, or `*` for every realm
//   RIGHT     none, read, write or admin; each holds the ones before it
// The first rule that matches a call's client and realm decides; a call that none matches is
// refused. Reads need read; writes and takes (a receive consumes what it takes) need write;
// making and removing points, ports, boxes, snapshots and realms, and the master switch, need
// admin. Calls that name no realm (the master switch, the type service) count as calls in the
// default realm. Without a rights table (no --rights, the embedded server, in-process calls)
// every call may do everything.
//
// The table is read once at start and never changes; permitted() reads it from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tarn/client/codes.h"
#include "tarn/server/address_range.h"

namespace tarn {

enum class Right { kNone = 0, kRead = 1, kWrite = 2, kAdmin = 3 };

class RightsTable {
 public:
  // Reads `path`. False, with `error` naming the file, the line and the cause, when it cannot be
  // read or a line is not a rule; then nothing is kept.
  bool load(const std::string& path, std::string& error);
  // The right of a client (its host `host`, as "10.0.0.7" or "[::1]", and its TLS identity,
  // empty without one) in `realm` ("" is the default realm).
  Right rightOf(const std::string& host, const std::string& identity, const std::string& realm) const;
  // The TLS identities the rules name (CN=NAME gives NAME).
  std::vector<std::string> identities() const;
  std::size_t size() const { return rules_.size(); }

 private:
  struct Rule {
    enum Kind { kAnyone, kRange, kIdentity } kind = kAnyone;
    AddressRange range;
    std::string identity;
    bool anyRealm = false;
    std::string realm;
    Right right = Right::kNone;
  };
  std::vector<Rule> rules_;
};

// Makes `table` the rights of every remote call from now on (tarnd, once at start).
void enforceRights(std::shared_ptr<const RightsTable> table);
// Whether the current call may act with `needed` in `realm`: true without a table or for an
// in-process call.
bool permitted(Right needed, const std::string& realm);

}  // namespace tarn

// Returns the code of a refused right from the calling operation when the current caller lacks
// `needed` in `realm`.
#define TARN_REQUIRE_RIGHT(needed, realm)                                              \
  do {                                                                                 \
    if (!::tarn::permitted(::tarn::Right::needed, (realm))) return ::tarn::kNotPermitted; \
  } while (0)
