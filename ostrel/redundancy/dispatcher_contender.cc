#include "ostrel/redundancy/dispatcher_contender.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include <ace/Guard_T.h>

#include "ostrel/redundancy/task_contender.h"

namespace {
using Guard = ACE_Guard<ACE_Recursive_Thread_Mutex>;
}

DispatcherContender* DispatcherContender::instance() {
  DispatcherContender* dispatcher = ostrel::platform::Singleton<DispatcherContender>::instance();
  if (dispatcher == nullptr) throw std::bad_alloc();
  return dispatcher;
}

TaskContender* DispatcherContender::startTask(TaskContender* task) {
  std::unique_ptr<TaskContender> owned(task);
  tasks_.push_back(task);
  owned.release();
  task->start();
  return task;
}

TaskContender* DispatcherContender::contend(const char* contenderName, const char* moduleName, int period,
                                            const char* server, const char* position) {
  if (contenderName == nullptr) return nullptr;
  Guard guard(mutex_);
  if (!guard.locked()) return nullptr;
  return startTask(new TaskContender(contenderName, moduleName, period, server, position));
}

bool DispatcherContender::contendWithData(const char* contenderName, const BrennicData& data, const char* server,
                                          const char* position) {
  if (contenderName == nullptr) return false;
  Guard guard(mutex_);
  if (!guard.locked()) return true;
  if (count(contenderName) > 0) return true;
  std::unique_ptr<TaskContender> task(
      new TaskContender(contenderName, nullptr, TaskContender::kDefaultPeriodSeconds, server, position));
  task->setData(data);
  startTask(task.release());
  return true;
}

void DispatcherContender::leave(void* handle) {
  Guard guard(mutex_);
  if (!guard.locked()) return;
  auto it = std::find(tasks_.begin(), tasks_.end(), handle);
  if (it == tasks_.end()) return;
  TaskContender* task = *it;
  task->stop();
  tasks_.erase(it);
  delete task;
}

void DispatcherContender::leaveAll() {
  Guard guard(mutex_);
  if (!guard.locked()) return;
  // Every task leaves from its own thread at once: the whole exit costs one beat and one leave,
  // however many tasks there are and whatever the server does.
  for (TaskContender* task : tasks_) task->requestLeave();
  for (TaskContender* task : tasks_) task->stop();
  for (TaskContender* task : tasks_) delete task;
  tasks_.clear();
}

std::size_t DispatcherContender::count(const char* contenderName) {
  Guard guard(mutex_);
  if (!contenderName) return tasks_.size();
  return std::count_if(tasks_.begin(), tasks_.end(),
                       [&](const TaskContender* task) { return task->contenderName() == contenderName; });
}
