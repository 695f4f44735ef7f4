#include "tarn/server/rights.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "tarn/server/callers.h"
#include "tarn/server/connection_gate.h"

namespace tarn {
namespace {

// Set once at start, before the ORB takes calls; read by every call after.
std::shared_ptr<const RightsTable> enforced;
std::atomic<bool> haveRights{false};

bool parseRight(const std::string& word, Right& out) {
  static const std::pair<const char*, Right> kWords[] = {
      {"none", Right::kNone}, {"read", Right::kRead}, {"write", Right::kWrite}, {"admin", Right::kAdmin}};
  for (const auto& known : kWords)
    if (word == known.first) {
      out = known.second;
      return true;
    }
  return false;
}

bool identityWord(const std::string& word) { return word.size() > 3 && (word.compare(0, 3, "CN=") == 0 || word.compare(0, 3, "cn=") == 0); }

}  // namespace

bool RightsTable::load(const std::string& path, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "--rights: cannot read " + path;
    return false;
  }
  std::vector<Rule> rules;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    const auto hash = line.find('#');
    std::istringstream words(line.substr(0, hash));
    std::string identity, realm, right, extra;
    if (!(words >> identity)) continue;
    if (!(words >> realm >> right) || (words >> extra)) {
      error = where + "a rule is IDENTITY REALM RIGHT, three words, not '" + line + "'";
      return false;
    }
    Rule rule;
    if (identity == "*") {
      rule.kind = Rule::kAnyone;
    } else if (identityWord(identity)) {
      rule.kind = Rule::kIdentity;
      rule.identity = identity.substr(3);
    } else {
      std::string why;
      if (!AddressRange::parse(identity, rule.range, why)) {
        error = where + "the identity is *, CN=NAME or an address range: " + why;
        return false;
      }
      rule.kind = Rule::kRange;
    }
    rule.anyRealm = realm == "*";
    rule.realm = realm == "-" ? std::string() : realm;
    if (!parseRight(right, rule.right)) {
      error = where + "the right is none, read, write or admin, not '" + right + "'";
      return false;
    }
    rules.push_back(rule);
  }
  rules_ = std::move(rules);
  return true;
}

Right RightsTable::rightOf(const std::string& host, const std::string& identity, const std::string& realm) const {
  for (const Rule& rule : rules_) {
    if (!rule.anyRealm && rule.realm != realm) continue;
    const bool who = rule.kind == Rule::kAnyone || (rule.kind == Rule::kRange && rule.range.contains(host)) ||
                     (rule.kind == Rule::kIdentity && !identity.empty() && rule.identity == identity);
    if (who) return rule.right;
  }
  return Right::kNone;
}

std::vector<std::string> RightsTable::identities() const {
  std::vector<std::string> names;
  for (const Rule& rule : rules_)
    if (rule.kind == Rule::kIdentity) names.push_back(rule.identity);
  return names;
}

void enforceRights(std::shared_ptr<const RightsTable> table) {
  enforced = std::move(table);
  haveRights = enforced != nullptr;
}

bool permitted(Right needed, const std::string& realm) {
  if (!haveRights.load() || !remoteCaller()) return true;
  return enforced->rightOf(peerHost(currentCaller()), currentIdentity(), realm) >= needed;
}

}  // namespace tarn
