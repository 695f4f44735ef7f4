#include "ostrel/redundancy/task_contender.h"

#include "ostrel/api/middleware/kxTarn_API.h"
#include "ostrel/platform/clock.h"
#include "ostrel/platform/host.h"

namespace {
std::string textOrEmpty(const char* text) { return text ? text : std::string(); }
}  // namespace

TaskContender::TaskContender(const char* contenderName, const char* moduleName, int period, const char* server,
                             const char* position)
    : server_(textOrEmpty(server)),
      position_(textOrEmpty(position)),
      hostName_(ostrel::platform::hostName()),
      contenderName_(textOrEmpty(contenderName)),
      moduleName_(textOrEmpty(moduleName)),
      period_(period),
      startTime_(static_cast<std::int32_t>(static_cast<std::uint32_t>(ostrel::platform::systemSeconds() & 0xffffffffu))) {}

TaskContender::~TaskContender() {
  stopRequested_ = true;
  wait();
}

void TaskContender::setData(const BrennicData& data) { data_ = data; }

int TaskContender::registerContender() {
  return kx_regist_contender(hostName_.c_str(), contenderName_.c_str(), data_.GetRawValue(), data_.GetBufferSize(),
                             data_.GetTypeName(), startTime_, server_.c_str(), position_.c_str());
}

int TaskContender::start() {
  registerContender();
  return activate(THR_NEW_LWP | THR_JOINABLE, 1);
}

void TaskContender::requestLeave() {
  leaveRequested_ = true;
  stopRequested_ = true;
}

void TaskContender::sendLeave() {
  kx_leave_contend(hostName_.c_str(), contenderName_.c_str(), moduleName_.c_str(), server_.c_str(), position_.c_str());
  left_ = true;
}

void TaskContender::stop() {
  requestLeave();
  wait();
  if (!left_) sendLeave();
  leaveRequested_ = false;
  stopRequested_ = false;
  left_ = false;
}

int TaskContender::svc() {
  // A period below one second would beat on every poll.
  const int period = period_ < 1 ? 1 : period_;
  while (!stopRequested_) {
    if (ostrel::platform::systemSeconds() > lastBeat_ + period) {
      if (registered_) {
        if (kx_update_contender(hostName_.c_str(), contenderName_.c_str(), moduleName_.c_str(), server_.c_str(),
                                position_.c_str()) != 0)
          registered_ = false;
      } else {
        registered_ = registerContender() == 0;
      }
      lastBeat_ = ostrel::platform::systemSeconds();
    }
    ostrel::platform::sleepMilliseconds(kPollMilliseconds);
  }
  if (leaveRequested_) sendLeave();
  return 0;
}
