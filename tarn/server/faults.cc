#include "tarn/server/faults.h"

#include <chrono>
#include <thread>

namespace tarn {

void FaultBook::plan(const kxTarn::FaultPlan& p) {
  std::lock_guard<std::mutex> hold(mutex_);
  Planned& planned = plans_[std::string(p.operation)];
  planned.mode = p.mode;
  planned.skip = p.skip < 0 ? 0 : p.skip;
  planned.count = p.count;
  planned.exception = std::string(p.exceptionName);
  planned.code = p.code;
  planned.stallMs = p.stallMs;
  if (planned.count <= 0) plans_.erase(std::string(p.operation));
  planned_ = !plans_.empty();
}

void FaultBook::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  plans_.clear();
  planned_ = false;
}

int FaultBook::enter(const char* operation) {
  if (!planned_) return 0;
  Planned fault;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = plans_.find(operation);
    if (it == plans_.end()) return 0;
    if (it->second.skip > 0) {
      --it->second.skip;
      return 0;
    }
    fault = it->second;
    if (--it->second.count <= 0) plans_.erase(it);
    planned_ = !plans_.empty();
  }
  switch (fault.mode) {
    case kRaise: raiseSystemException(fault.exception);
    case kReturn: return fault.code;
    case kStall: std::this_thread::sleep_for(std::chrono::milliseconds(fault.stallMs)); return 0;
    default: return 0;
  }
}

std::function<void()> FaultBook::halfway(const char* operation) {
  return [this, operation] {
    try {
      enter(operation);
    } catch (const CORBA::SystemException&) {
    }
  };
}

void raiseSystemException(const std::string& name) {
  if (name == "TRANSIENT") throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
  if (name == "COMM_FAILURE") throw CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE);
  if (name == "TIMEOUT") throw CORBA::TIMEOUT(0, CORBA::COMPLETED_MAYBE);
  if (name == "NO_RESOURCES") throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
  if (name == "MARSHAL") throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  if (name == "BAD_PARAM") throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
  if (name == "OBJECT_NOT_EXIST") throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
  throw CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE);
}

}  // namespace tarn
