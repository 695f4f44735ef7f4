#include "tarn/server/data_points.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "tarn/client/codes.h"
#include "tarn/server/data_folder.h"
#include "tarn/server/env.h"
#include "tarn/server/field_locator.h"
#include "tarn/server/file_io.h"
#include "tarn/server/host.h"
#include "tarn/server/rights.h"
#include "tarn/server/journal.h"
#include "tarn/server/snapshot_file.h"
#include "tarn/server/type_service.h"

namespace tarn {
namespace {

kxTarn::DATA_BUFFER toBuffer(const std::vector<unsigned char>& bytes) {
  kxTarn::DATA_BUFFER buffer;
  buffer.length(static_cast<CORBA::ULong>(bytes.size()));
  if (!bytes.empty()) std::memcpy(buffer.get_buffer(), bytes.data(), bytes.size());
  return buffer;
}

std::vector<unsigned char> fromBuffer(const kxTarn::DATA_BUFFER& buffer) {
  const CORBA::Octet* bytes = buffer.get_buffer();
  return std::vector<unsigned char>(bytes, bytes + buffer.length());
}

void fill(kxTarn::STRING_LIST& list, const std::vector<std::string>& names) {
  list.length(static_cast<CORBA::ULong>(names.size()));
  for (CORBA::ULong i = 0; i < list.length(); ++i) list[i] = names[i].c_str();
}

}  // namespace

int DataPointService::typeSize(const std::string& type) const { return host_.types().typeSize(type); }

std::uint64_t DataPointService::journal(const std::string& name, const Point* point) {
  Journal* journal = host_.journal();
  if (!journal) return 0;
  JournalRecord record;
  record.kind = point ? JournalRecord::kPoint : JournalRecord::kRemoved;
  record.realm = realm_->name;
  record.name = name;
  if (point) record.point = *point;
  return journal->append(record);
}

int DataPointService::kept(int rc, std::uint64_t ticket) {
  if (ticket == 0 || host_.journal()->sync(ticket)) return rc;
  return kNotKept;
}

bool DataPointService::chargePoints(std::uint64_t count, std::uint64_t bytes) {
  BudgetBook& budget = host_.budget();
  if (!budget.points.take(count)) return false;
  if (budget.pointBytes.take(bytes)) return true;
  budget.points.give(count);
  return false;
}

void DataPointService::refundPoints(std::uint64_t count, std::uint64_t bytes) {
  host_.budget().points.give(count);
  host_.budget().pointBytes.give(bytes);
}

int DataPointService::create(PointTable& table, const char* name, const char* type,
                             const kxTarn::DATA_BUFFER* value, std::uint64_t& ticket, bool charge) {
  if (!name || !*name || !type || nameTooLong(name)) return kBadArgument;
  const int size = typeSize(type);
  if (size < 0) return kUnknownType;
  if (value && value->length() != static_cast<CORBA::ULong>(size)) return kSizeMismatch;
  if (table.points.count(name)) return kAlreadyExists;
  if (charge && !chargePoints(1, pointCost(std::strlen(name), static_cast<std::size_t>(size)))) return kOverBudget;
  Point point;
  point.type = type;
  point.value = value ? fromBuffer(*value) : std::vector<unsigned char>(size, 0);
  point.written = value != nullptr;
  auto made = table.points.emplace(name, std::move(point)).first;
  ticket = journal(made->first, &made->second);
  return kOk;
}

CORBA::Long DataPointService::create_points(const kxTarn::CreationParameterSeq& points) {
  TARN_FAULT_POINT(host_.faults(), "create_points");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    // The batch is checked whole first, so a refused batch creates nothing.
    std::set<std::string> batchNames;
    std::uint64_t cost = 0;
    for (CORBA::ULong i = 0; i < points.length(); ++i) {
      const char* name = points[i].name.in();
      const int size = typeSize(points[i].typeName.in());
      if (!name || !*name || nameTooLong(name)) return kBadArgument;
      if (size < 0) return kUnknownType;
      if (points[i].value.length() != static_cast<CORBA::ULong>(size)) return kSizeMismatch;
      if (table.points.count(name) || !batchNames.insert(name).second) return kAlreadyExists;
      cost += pointCost(std::strlen(name), static_cast<std::size_t>(size));
    }
    if (!chargePoints(points.length(), cost)) return kOverBudget;
    Journal::Unit unit(host_.journal());
    for (CORBA::ULong i = 0; i < points.length(); ++i)
      create(table, points[i].name.in(), points[i].typeName.in(), &points[i].value, ticket, false);
    ticket = unit.commit();
  }
  return kept(kOk, ticket);
}

CORBA::Long DataPointService::get_points(const kxTarn::STRING_LIST& names, kxTarn::STRING_LIST_out foundNames,
                                         kxTarn::STRING_LIST_out typeNames, kxTarn::DATA_BUFFER_SEQ_out values) {
  foundNames = new kxTarn::STRING_LIST;
  typeNames = new kxTarn::STRING_LIST;
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "get_points");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  CORBA::ULong found = 0;
  foundNames->length(names.length());
  typeNames->length(names.length());
  values->length(names.length());
  int result = kOk;
  for (CORBA::ULong i = 0; i < names.length(); ++i) {
    auto it = table.points.find(names[i].in());
    if (it == table.points.end()) {
      result = kNoSuchObject;
      continue;
    }
    foundNames[found] = it->first.c_str();
    typeNames[found] = it->second.type.c_str();
    values[found] = toBuffer(it->second.value);
    ++found;
  }
  foundNames->length(found);
  typeNames->length(found);
  values->length(found);
  return result;
}

CORBA::Long DataPointService::get_points_by_type(const char* typeName, kxTarn::DATA_BUFFER_SEQ_out values) {
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "get_points_by_type");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  if (!typeName) return kBadArgument;
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  for (const auto& entry : table.points) {
    if (entry.second.type != typeName) continue;
    CORBA::ULong n = values->length();
    values->length(n + 1);
    values[n] = toBuffer(entry.second.value);
  }
  return kOk;
}

CORBA::Long DataPointService::query_points(const char* typeName, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                                           const kxTarn::STRING_LIST& fieldNames,
                                           kxTarn::DATA_BUFFER_SEQ_out values) {
  values = new kxTarn::DATA_BUFFER_SEQ;
  TARN_FAULT_POINT(host_.faults(), "query_points");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  if (!typeName || fieldValues.length() != fieldNames.length()) return kBadArgument;
  std::vector<FieldPlace> places(fieldNames.length());
  for (CORBA::ULong i = 0; i < fieldNames.length(); ++i) {
    const int rc = locateField(host_.types(), typeName, fieldNames[i].in(), places[i]);
    if (rc != kOk) return rc;
    if (fieldValues[i].length() != places[i].size) return kSizeMismatch;
  }
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  for (const auto& entry : table.points) {
    const Point& point = entry.second;
    if (point.type != typeName) continue;
    bool match = true;
    for (CORBA::ULong i = 0; i < places.size() && match; ++i)
      match = places[i].offset + places[i].size <= point.value.size() &&
              std::memcmp(point.value.data() + places[i].offset, fieldValues[i].get_buffer(), places[i].size) == 0;
    if (!match) continue;
    CORBA::ULong n = values->length();
    values->length(n + 1);
    values[n] = toBuffer(point.value);
  }
  return kOk;
}

int DataPointService::planPartial(PointTable& table, const char* name, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                                  const kxTarn::STRING_LIST& fieldNames, PartialWrite& plan) {
  if (!name || fieldValues.length() != fieldNames.length()) return kBadArgument;
  auto it = table.points.find(name);
  if (it == table.points.end()) return kNoSuchObject;
  plan.point = &it->second;
  plan.values = &fieldValues;
  plan.places.resize(fieldNames.length());
  for (CORBA::ULong i = 0; i < fieldNames.length(); ++i) {
    FieldPlace& place = plan.places[i];
    const int rc = locateField(host_.types(), plan.point->type, fieldNames[i].in(), place);
    if (rc != kOk) return rc;
    if (fieldValues[i].length() != place.size || place.offset + place.size > plan.point->value.size())
      return kSizeMismatch;
  }
  return kOk;
}

std::uint64_t DataPointService::applyPartial(const char* name, const PartialWrite& plan) {
  for (CORBA::ULong i = 0; i < plan.places.size(); ++i) {
    const FieldPlace& place = plan.places[i];
    if (place.size) std::memcpy(plan.point->value.data() + place.offset, (*plan.values)[i].get_buffer(), place.size);
  }
  plan.point->written = true;
  return journal(name, plan.point);
}

CORBA::Long DataPointService::put_partial_point(const char* name, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                                                const kxTarn::STRING_LIST& fieldNames) {
  TARN_FAULT_POINT(host_.faults(), "put_partial_point");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  int rc = kOk;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    PartialWrite plan;
    rc = planPartial(table, name, fieldValues, fieldNames, plan);
    if (rc == kOk) ticket = applyPartial(name, plan);
  }
  return kept(rc, ticket);
}

CORBA::Long DataPointService::put_partial_points(const kxTarn::PartialParameterSeq& points,
                                                 CORBA::Boolean publish) {
  TARN_FAULT_POINT(host_.faults(), "put_partial_points");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    if (table.batchSizes.size() == kKeptBatchSizes) table.batchSizes.pop_front();
    table.batchSizes.push_back(points.length());
    // The whole batch is checked before anything is written: a refused batch changes nothing.
    std::vector<PartialWrite> plans(points.length());
    for (CORBA::ULong i = 0; i < points.length(); ++i) {
      const int rc = planPartial(table, points[i].name.in(), points[i].fieldValues, points[i].fieldNames, plans[i]);
      if (rc != kOk) return rc;
    }
    Journal::Unit unit(host_.journal());
    for (CORBA::ULong i = 0; i < points.length(); ++i) applyPartial(points[i].name.in(), plans[i]);
    ticket = unit.commit();
    (publish ? table.published : table.unpublished) += points.length();
  }
  return kept(kOk, ticket);
}

int DataPointService::savePoints(const std::string& path) {
  std::string body;
  {
    PointTable& table = realm_->points;
    std::lock_guard<std::mutex> hold(table.mutex);
    body = encodePoints(table.points);
  }
  return writeSnapshotFile(path, SnapshotKind::kPoints, body, host_.faults().halfway("snapshot_write"));
}

int DataPointService::restorePoints(const std::string& path) {
  std::string body;
  if (int rc = readSnapshotFile(path, SnapshotKind::kPoints, body)) return rc;
  std::map<std::string, Point> points;
  if (!decodePoints(body, points)) return kSnapshotDamaged;
  body.clear();
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    // The loaded points replace the realm's: only a growth is charged, and refused past a budget.
    const std::uint64_t oldCost = pointsCost(table.points), newCost = pointsCost(points);
    const std::uint64_t oldCount = table.points.size(), newCount = points.size();
    if (newCount > oldCount || newCost > oldCost) {
      if (!chargePoints(newCount > oldCount ? newCount - oldCount : 0, newCost > oldCost ? newCost - oldCost : 0))
        return kOverBudget;
    }
    refundPoints(newCount < oldCount ? oldCount - newCount : 0, newCost < oldCost ? oldCost - newCost : 0);
    table.points = std::move(points);
    if (Journal* journal = host_.journal()) {
      Journal::Unit unit(journal);
      JournalRecord emptied;
      emptied.kind = JournalRecord::kRealmEmptied;
      emptied.realm = realm_->name;
      journal->append(emptied);
      for (const auto& entry : table.points) this->journal(entry.first, &entry.second);
      ticket = unit.commit();
    }
  }
  return kept(kOk, ticket);
}

int DataPointService::onNamed(const char* name, const std::function<int(const std::string&)>& step) {
  if (!name || !*name) return kBadArgument;
  const std::string folder = host_.snapshotFolder();
  if (folder.empty()) return kFileError;
  const std::string path = folder + "/named-" + hexName(realm_->name) + "-" + hexName(name) + ".snapshot";
  std::lock_guard<std::mutex> hold(realm_->snapshotMutex);
  return step(path);
}

CORBA::Long DataPointService::create_snapshot(const char* name) {
  TARN_FAULT_POINT(host_.faults(), "create_snapshot");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return onNamed(name, [this](const std::string& path) { return savePoints(path); });
}

CORBA::Long DataPointService::load_snapshot(const char* name) {
  TARN_FAULT_POINT(host_.faults(), "load_snapshot");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return onNamed(name, [this](const std::string& path) { return restorePoints(path); });
}

CORBA::Long DataPointService::delete_snapshot(const char* name) {
  TARN_FAULT_POINT(host_.faults(), "delete_snapshot");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return onNamed(name, [](const std::string& path) {
    if (!env().remove(path)) return lastIoError().fault == IoFault::kMissing ? kNoSuchSnapshot : kFileError;
    env().syncFolder(folderOf(path));
    return kOk;
  });
}

namespace {

// The text a hexName() stands for; false when `hex` is not one.
bool fromHexName(const std::string& hex, std::string& text) {
  text.clear();
  if (hex == "-") return true;
  if (hex.empty() || hex.size() % 2) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const std::string pair = hex.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    text.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
  }
  return true;
}

kxTarn::STRING_LIST* toList(const std::set<std::string>& names) {
  kxTarn::STRING_LIST_var list = new kxTarn::STRING_LIST;
  list->length(static_cast<CORBA::ULong>(names.size()));
  CORBA::ULong i = 0;
  for (const std::string& name : names) list[i++] = CORBA::string_dup(name.c_str());
  return list._retn();
}

}  // namespace

CORBA::Long DataPointService::list_snapshots(kxTarn::STRING_LIST_out named, kxTarn::STRING_LIST_out files) {
  named = new kxTarn::STRING_LIST;
  files = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "list_snapshots");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  const std::string folder = host_.snapshotFolder();
  if (folder.empty()) return kFileError;
  const std::string prefix = "named-" + hexName(realm_->name) + "-", suffix = ".snapshot";
  std::set<std::string> names, others;
  std::vector<std::string> listed;
  if (!env().list(folder, true, listed)) return kFileError;
  for (const std::string& relative : listed) {
    if (serverOwnsName(relative)) continue;
    std::string name;
    if (relative.rfind("named-", 0) == 0) {  // a named snapshot, of this realm or another
      if (relative.rfind(prefix, 0) == 0 && relative.size() > prefix.size() + suffix.size() &&
          relative.compare(relative.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          fromHexName(relative.substr(prefix.size(), relative.size() - prefix.size() - suffix.size()), name))
        names.insert(name);
      continue;
    }
    others.insert(relative);
  }
  delete named.ptr();
  named = toList(names);
  delete files.ptr();
  files = toList(others);
  return kOk;
}

kxTarn::FileHandle_ptr DataPointService::open_snapshot_file() { return open_snapshot_file_from(""); }

kxTarn::FileHandle_ptr DataPointService::open_snapshot_file_from(const char* process) {
  host_.faults().enter("open_snapshot_file");
  if (!permitted(Right::kRead, realm_->name)) throw CORBA::NO_PERMISSION();
  return openSnapshotFile(host_, *realm_, realm_->pointsFile, "points",
                          [this](const std::string& path) { return savePoints(path); }, process);
}

CORBA::Long DataPointService::create_point(const char* name, const char* typeName, CORBA::Boolean withValue,
                                           const kxTarn::DATA_BUFFER& value) {
  TARN_FAULT_POINT(host_.faults(), "create_point");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  int rc = kOk;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    rc = create(table, name, typeName, withValue ? &value : nullptr, ticket, true);
  }
  return kept(rc, ticket);
}

CORBA::Long DataPointService::get_point(const char* name, CORBA::String_out typeName,
                                        kxTarn::DATA_BUFFER_out value) {
  value = new kxTarn::DATA_BUFFER;
  std::string type;
  const int rc = [&]() -> int {
    TARN_FAULT_POINT(host_.faults(), "get_point");
    TARN_REQUIRE_RIGHT(kRead, realm_->name);
    if (!name) return kBadArgument;
    PointTable& table = realm_->points;
    std::lock_guard<std::mutex> hold(table.mutex);
    auto it = table.points.find(name);
    if (it == table.points.end()) return kNoSuchObject;
    type = it->second.type;
    *value.ptr() = toBuffer(it->second.value);
    return kOk;
  }();
  typeName = CORBA::string_dup(type.c_str());
  return rc;
}

CORBA::Long DataPointService::set_point(const char* name, const kxTarn::DATA_BUFFER& value) {
  TARN_FAULT_POINT(host_.faults(), "set_point");
  TARN_REQUIRE_RIGHT(kWrite, realm_->name);
  if (!name) return kBadArgument;
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    auto it = table.points.find(name);
    if (it == table.points.end()) return kNoSuchObject;
    if (value.length() != it->second.value.size()) return kSizeMismatch;
    it->second.value = fromBuffer(value);
    it->second.written = true;
    ticket = journal(it->first, &it->second);
  }
  return kept(kOk, ticket);
}

CORBA::Long DataPointService::remove_point(const char* name) {
  TARN_FAULT_POINT(host_.faults(), "remove_point");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  if (!name) return kBadArgument;
  PointTable& table = realm_->points;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> hold(table.mutex);
    auto it = table.points.find(name);
    if (it == table.points.end()) return kNoSuchObject;
    refundPoints(1, pointCost(it->first.size(), it->second.value.size()));
    table.points.erase(it);
    ticket = journal(name, nullptr);
  }
  return kept(kOk, ticket);
}

CORBA::Long DataPointService::check_null_data(kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "check_null_data");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  std::vector<std::string> never;
  for (const auto& entry : table.points)
    if (!entry.second.written) never.push_back(entry.first);
  fill(*names.ptr(), never);
  return kOk;
}

CORBA::Long DataPointService::get_all_point_names(kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "get_all_point_names");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  std::vector<std::string> all;
  for (const auto& entry : table.points) all.push_back(entry.first);
  fill(*names.ptr(), all);
  return kOk;
}

CORBA::Long DataPointService::get_point_names_by_type(const char* typeName, kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "get_point_names_by_type");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  if (!typeName) return kBadArgument;
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  std::vector<std::string> matching;
  for (const auto& entry : table.points)
    if (entry.second.type == typeName) matching.push_back(entry.first);
  fill(*names.ptr(), matching);
  return kOk;
}

CORBA::Long DataPointService::get_point_type_names(kxTarn::STRING_LIST_out names) {
  names = new kxTarn::STRING_LIST;
  TARN_FAULT_POINT(host_.faults(), "get_point_type_names");
  TARN_REQUIRE_RIGHT(kRead, realm_->name);
  fill(*names.ptr(), host_.types().typeNames());
  return kOk;
}

CORBA::Long DataPointService::make_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(host_.faults(), "make_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return makeSnapshotFile(host_, *realm_, realm_->pointsFile, file,
                          [this](const std::string& path) { return savePoints(path); });
}

CORBA::Long DataPointService::load_snapshot_file(const char* file, const char*) {
  TARN_FAULT_POINT(host_.faults(), "load_snapshot_file");
  TARN_REQUIRE_RIGHT(kAdmin, realm_->name);
  return loadSnapshotFile(host_, *realm_, file, [this](const std::string& path) { return restorePoints(path); });
}

void DataPointService::publish_counts(CORBA::ULong& published, CORBA::ULong& unpublished) {
  if (!permitted(Right::kRead, realm_->name)) throw CORBA::NO_PERMISSION();
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  published = static_cast<CORBA::ULong>(table.published);
  unpublished = static_cast<CORBA::ULong>(table.unpublished);
}

void DataPointService::partial_batch_sizes(kxTarn::ULONG_LIST_out sizes) {
  sizes = new kxTarn::ULONG_LIST;
  if (!permitted(Right::kRead, realm_->name)) throw CORBA::NO_PERMISSION();
  PointTable& table = realm_->points;
  std::lock_guard<std::mutex> hold(table.mutex);
  sizes->length(static_cast<CORBA::ULong>(table.batchSizes.size()));
  for (CORBA::ULong i = 0; i < sizes->length(); ++i) sizes[i] = static_cast<CORBA::ULong>(table.batchSizes[i]);
}

}  // namespace tarn
