// The data point service of one realm: points held by name with their type and bytes.
//
// A value whose size differs from its type's size is refused (kSizeMismatch), never stored. Points
// are counted against the server's point count and point bytes budgets (budgets.h): a creation or
// a snapshot load past either answers kOverBudget and changes nothing; a name longer than
// kMaxNameBytes is refused with kBadArgument.
// Every operation starts with the server's fault plan. Thread-safe (the realm's point table
// has its own mutex). On a server with a journal, a change is acknowledged only once it is on
// disk; its readers may see it a moment before that.
//
// Snapshots (named ones and snapshot files) are files in the server's snapshot folder, written
// safely (snapshot_file.h); loading one replaces the realm's points whole and is journaled.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "tarn/server/field_locator.h"
#include "tarn/server/realm.h"

namespace tarn {

class ServerHost;

class DataPointService : public POA_kxTarn::DT_Point_Factory {
 public:
  DataPointService(ServerHost& host, std::shared_ptr<RealmState> realm) : host_(host), realm_(realm) {}

  CORBA::Long create_points(const kxTarn::CreationParameterSeq& points) override;
  CORBA::Long get_points(const kxTarn::STRING_LIST& names, kxTarn::STRING_LIST_out foundNames,
                         kxTarn::STRING_LIST_out typeNames, kxTarn::DATA_BUFFER_SEQ_out values) override;
  CORBA::Long get_points_by_type(const char* typeName, kxTarn::DATA_BUFFER_SEQ_out values) override;
  CORBA::Long query_points(const char* typeName, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                           const kxTarn::STRING_LIST& fieldNames, kxTarn::DATA_BUFFER_SEQ_out values) override;
  CORBA::Long put_partial_point(const char* name, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                                const kxTarn::STRING_LIST& fieldNames) override;
  CORBA::Long put_partial_points(const kxTarn::PartialParameterSeq& points, CORBA::Boolean publish) override;
  CORBA::Long create_snapshot(const char* name) override;
  CORBA::Long load_snapshot(const char* name) override;
  CORBA::Long delete_snapshot(const char* name) override;
  kxTarn::FileHandle_ptr open_snapshot_file() override;
  kxTarn::FileHandle_ptr open_snapshot_file_from(const char* process) override;
  CORBA::Long list_snapshots(kxTarn::STRING_LIST_out named, kxTarn::STRING_LIST_out files) override;

  CORBA::Long create_point(const char* name, const char* typeName, CORBA::Boolean withValue,
                           const kxTarn::DATA_BUFFER& value) override;
  CORBA::Long get_point(const char* name, CORBA::String_out typeName, kxTarn::DATA_BUFFER_out value) override;
  CORBA::Long set_point(const char* name, const kxTarn::DATA_BUFFER& value) override;
  CORBA::Long remove_point(const char* name) override;
  CORBA::Long check_null_data(kxTarn::STRING_LIST_out names) override;
  CORBA::Long get_all_point_names(kxTarn::STRING_LIST_out names) override;
  CORBA::Long get_point_names_by_type(const char* typeName, kxTarn::STRING_LIST_out names) override;
  CORBA::Long get_point_type_names(kxTarn::STRING_LIST_out names) override;
  CORBA::Long make_snapshot_file(const char* file, const char* option) override;
  CORBA::Long load_snapshot_file(const char* file, const char* option) override;
  void publish_counts(CORBA::ULong& published, CORBA::ULong& unpublished) override;
  void partial_batch_sizes(kxTarn::ULONG_LIST_out sizes) override;

 private:
  // Writes the realm's points as a snapshot file at `path`. REQUIRES: realm snapshotMutex held.
  int savePoints(const std::string& path);
  // Puts the realm back as the snapshot file at `path` holds it (points it lacks are removed),
  // journaled; a file that cannot be used changes nothing. REQUIRES: realm snapshotMutex held.
  int restorePoints(const std::string& path);
  // `step(path)` on the file of the named snapshot `name` of this realm, with the realm's
  // snapshotMutex held; kBadArgument for a null or empty name.
  int onNamed(const char* name, const std::function<int(const std::string&)>& step);
  // Size of one value of `type`, or -1 when the server does not know the type.
  int typeSize(const std::string& type) const;
  // Creates one point; its journal ticket goes to `ticket`. With `charge`, the point is taken from
  // the point budgets (kOverBudget past them); without, the caller took it. REQUIRES: table.mutex held.
  int create(PointTable& table, const char* name, const char* type, const kxTarn::DATA_BUFFER* value,
             std::uint64_t& ticket, bool charge);
  // Takes `count` points costing `bytes` from the server's point budgets: all or nothing.
  bool chargePoints(std::uint64_t count, std::uint64_t bytes);
  void refundPoints(std::uint64_t count, std::uint64_t bytes);
  // Writes the state of point `name` after a change (null: removed) to the journal, when the
  // server has one; returns the ticket to wait for (0: none). REQUIRES: table.mutex held.
  std::uint64_t journal(const std::string& name, const Point* point);
  // `rc` once every change up to `ticket` is on disk; kNotKept when it cannot be. Called after
  // the table's mutex is released, so that concurrent writers share one disk flush.
  int kept(int rc, std::uint64_t ticket);
  // A checked field-level write of one point: where each field's bytes go. Pointers into the
  // point table and the request; valid while the table's mutex stays held.
  struct PartialWrite {
    Point* point = nullptr;
    const kxTarn::DATA_BUFFER_SEQ* values = nullptr;
    std::vector<FieldPlace> places;
  };
  // Checks a field-level write of point `name` (every field placed, every size right) and
  // plans it; nothing is written. REQUIRES: table.mutex held.
  int planPartial(PointTable& table, const char* name, const kxTarn::DATA_BUFFER_SEQ& fieldValues,
                  const kxTarn::STRING_LIST& fieldNames, PartialWrite& plan);
  // Applies a checked write and journals the point's new state. REQUIRES: table.mutex held.
  std::uint64_t applyPartial(const char* name, const PartialWrite& plan);

  ServerHost& host_;
  std::shared_ptr<RealmState> realm_;
};

}  // namespace tarn
