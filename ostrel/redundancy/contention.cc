// Heartbeat contention: joining (a background task per contention), leaving, and the listing
// of contenders host by host with its release functions.
#include <memory>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/data/record.h"
#include "ostrel/platform/text.h"
#include "ostrel/redundancy/contender_lists.h"
#include "ostrel/redundancy/dispatcher_contender.h"

namespace {

// The record a contender registered: typed when the service names its type, raw otherwise (an
// empty type name would make the type manager look for it in vain); null when it has no bytes.
BrennicData* reportedRecord(const kxTarn::ProgramStatusInfo& program) {
  if (program.data.length() == 0 || program.typeName.in() == nullptr) return nullptr;
  std::unique_ptr<BrennicData> record(*program.typeName.in() ? new BrennicData(program.typeName.in(), 0)
                                                              : new BrennicData());
  record->SetRawValue(reinterpret_cast<char*>(const_cast<CORBA::Octet*>(program.data.get_buffer())),
                      static_cast<int>(program.data.length()));
  return record.release();
}

ProgramStatusSequence* copyPrograms(const kxTarn::ProgramStatusList& programs) {
  auto* sequence = new ProgramStatusSequence;
  sequence->items = new ProgramStatus*[programs.length()]();
  sequence->count = static_cast<int>(programs.length());
  for (CORBA::ULong j = 0; j < programs.length(); ++j) {
    ProgramStatus* status = sequence->items[j] = new ProgramStatus;
    status->value1 = programs[j].value1;
    status->value2 = programs[j].value2;
    status->value3 = programs[j].value3;
    status->data = reportedRecord(programs[j]);
    ostrel::platform::copyTextCut(programs[j].name.in(), status->name, sizeof status->name);
  }
  return sequence;
}

// Fills `list` from `report`. Every allocation hangs on the list at once, so releasing the list
// frees whatever was made before a failure.
void copyReport(const kxTarn::HEART_RESULT_SEQ& report, ContenderInHostSequence& list) {
  if (report.length() == 0) return;
  list.items = new ContenderInHost*[report.length()]();
  list.count = static_cast<int>(report.length());
  for (CORBA::ULong i = 0; i < report.length(); ++i) {
    ContenderInHost* host = list.items[i] = new ContenderInHost;
    ostrel::platform::copyTextCut(report[i].hostName.in(), host->hostName, sizeof host->hostName);
    if (report[i].programs.length() > 0) host->programs = copyPrograms(report[i].programs);
  }
}

// The one release loop of both sequences: each entry through `releaseEntry` (the façade's
// single-element release), then freed; the array freed; the sequence left empty.
template <typename Entry, typename Release>
void releaseSequence(int& count, Entry**& items, Release releaseEntry) {
  for (int i = 0; items != nullptr && i < count; ++i) {
    if (items[i] == nullptr) continue;
    releaseEntry(items[i]);
    delete items[i];
    items[i] = nullptr;
  }
  delete[] items;
  items = nullptr;
  count = 0;
}

}  // namespace

void* OstrelOrigin::ContendHeartBit(const char* contenderName, const char* moduleName, int period, const char* server,
                                    const char* position) {
  if (ostrel::libraryEnded()) return nullptr;  // no task thread once the library has ended
  const std::string realm = ostrel::positionOrDefault(server, position);
  return DispatcherContender::instance()->contend(contenderName, moduleName, period, server, realm.c_str());
}

int OstrelOrigin::ContendHeartBit(const char* contenderName, const BrennicData& data, const char* server,
                                  const char* position) {
  // First: once the library has ended, the types a record points to are gone with it.
  if (ostrel::libraryEnded()) return OstrelCode::kLibraryEnded;
  BrennicData& record = const_cast<BrennicData&>(data);
  if (record.GetTypeName() == nullptr && !data.IsCGood()) return OstrelCode::kInvalidRecord;
  char* bytes = nullptr;
  unsigned int length = 0;
  // Every beat sends the record's value: it must hold the bytes its type claims.
  if (data.heldValue(bytes, length) != OstrelCode::kOk) return OstrelCode::kInvalidRecord;
  if (contenderName == nullptr) return OstrelCode::kNullContenderName;
  const std::string realm = ostrel::positionOrDefault(server, position);
  DispatcherContender::instance()->contendWithData(contenderName, data, server, realm.c_str());
  return OstrelCode::kOk;
}

int OstrelOrigin::OutContendHeartBit(void* handle, const char*, const char*) {
  if (handle != nullptr) DispatcherContender::instance()->leave(handle);
  return OstrelCode::kOk;
}

int OstrelOrigin::OutContendHeartBit(const char* hostName, const char* contenderName, const char* moduleName,
                                     const char* server, const char* position) {
  kx_out_contend(hostName, contenderName, moduleName, server, position);
  return OstrelCode::kOk;
}

int OstrelOrigin::GetContenderList(ContenderInHostSequence& list, const char* server, const char* position) {
  if (int rc = ostrel::guardConnection(server)) return rc;
  const std::string realm = ostrel::positionOrDefault(server, position);
  list.items = nullptr;
  list.count = 0;
  const auto name = ostrel::resolveServer(server);
  if (!name) return OstrelCode::kNoContenderServer;
  return ostrel::callService<kxTarn::contender_server, OstrelCode::kContenderCallFailed>(
      name->c_str(), realm.c_str(), [&](kxTarn::contender_server_ptr contenders) {
        kxTarn::HEART_RESULT_SEQ_var report;
        const int rc = contenders->get_contenders(report.out());
        if (rc != 0) return rc;
        try {
          copyReport(report.in(), list);
        } catch (...) {
          OstrelOrigin::DestoryContenderInHostSequence(&list);
          throw;
        }
        return 0;
      });
}

void OstrelOrigin::DestoryProgramStatus(ProgramStatus* program) {
  if (program == nullptr) return;
  delete program->data;
  program->data = nullptr;
}

void OstrelOrigin::DestoryProgramStatusSequence(ProgramStatusSequence* programs) {
  if (programs == nullptr) return;
  releaseSequence(programs->count, programs->items, [](ProgramStatus* p) { Ostrel::DestoryProgramStatus(p); });
}

void OstrelOrigin::DestoryContenderInHost(ContenderInHost* host) {
  if (host == nullptr || host->programs == nullptr) return;
  Ostrel::DestoryProgramStatusSequence(host->programs);
  delete host->programs;
  host->programs = nullptr;
}

void OstrelOrigin::DestoryContenderInHostSequence(ContenderInHostSequence* list) {
  if (list == nullptr) return;
  releaseSequence(list->count, list->items, [](ContenderInHost* h) { Ostrel::DestoryContenderInHost(h); });
}
