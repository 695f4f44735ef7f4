// DispatcherContender: the process's running heartbeat tasks (TaskContender), in start order.
//
// One instance per process (instance()), made on first use under the ACE singleton lock and
// destroyed when ACE ends; destroying it frees the task list only (leaveAll, at ExitOstrel,
// stops and deletes the tasks before that). Any application thread may call every member:
// mutex_ (recursive) guards tasks_ and is held while a task is made and started and while one
// is stopped, the wait for its thread included. No task thread takes mutex_, so the wait cannot
// deadlock. Handles are the task pointers; an unknown handle is only compared, never followed.
#pragma once

#include <cstddef>
#include <vector>

#include <ace/Recursive_Thread_Mutex.h>
#include "ostrel/platform/singleton.h"

class BrennicData;
class TaskContender;

class DispatcherContender {
 public:
  // The process's dispatcher. Throws std::bad_alloc when it cannot be made.
  static DispatcherContender* instance();

  // Starts one more task (a name already running is started again). Returns the task as the
  // caller's handle; null when the contender name is null or the mutex cannot be taken.
  TaskContender* contend(const char* contenderName, const char* moduleName, int period, const char* server,
                         const char* position);
  // Starts a task with a copy of `data` and the default period, unless a task of that contender
  // name (exact bytes) runs already; then nothing changes, its record included. False when the
  // contender name is null.
  bool contendWithData(const char* contenderName, const BrennicData& data, const char* server,
                       const char* position);
  // Stops (the leave is sent), removes and deletes the task `handle`; an unknown handle changes nothing.
  void leave(void* handle);
  // Stops every task (all are asked at once, then each is waited for and leaves, in start
  // order), deletes them and empties the list.
  void leaveAll();
  // The number of running tasks with this contender name (null: all of them).
  std::size_t count(const char* contenderName);

  DispatcherContender(const DispatcherContender&) = delete;
  DispatcherContender& operator=(const DispatcherContender&) = delete;

 private:
  friend class ACE_Singleton<DispatcherContender, ACE_Recursive_Thread_Mutex>;
  DispatcherContender() = default;
  ~DispatcherContender() { ostrel::platform::Singleton<DispatcherContender>::retire(); }

  // Appends and starts `task`. REQUIRES: mutex_ held.
  TaskContender* startTask(TaskContender* task);

  ACE_Recursive_Thread_Mutex mutex_;
  std::vector<TaskContender*> tasks_;  // GUARDED_BY(mutex_)
};
