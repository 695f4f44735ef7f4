// TaskContender: the heartbeat of one contention this process joined, on a thread of its own.
//
// start() registers the contender with the contention service (kx_regist_contender, result
// ignored) and starts the thread. The thread registers again at once, then every poll (500 ms)
// reads the clock in whole seconds and, once it is more than `period` past the last attempt,
// sends an update (kx_update_contender) while registered, or a registration while not; a failed
// update clears `registered`, so the next due pass registers afresh. Results are not reported.
// stop() ends the thread and sends the leave (kx_leave_contend: its own registration only). The
// leave goes out from the task's own thread on its way out, so that several tasks asked to leave at once (requestLeave) send
// their leaves side by side rather than one after another.
//
// Threads: the creating thread sets every field before start(); afterwards the task's thread
// alone touches registered_ and lastBeat_. stopRequested_, leaveRequested_ and left_ are the
// fields both sides use: the stopping thread writes the requests, the loop reads them every poll
// and sets left_ once it sent the leave (atomics, so the writes are seen).
// The owner (DispatcherContender) serialises start, stop and delete under its own mutex.
// Not copyable or movable: the thread runs on this object.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <ace/Task.h>

#include "ostrel/data/record.h"

class TaskContender : public ACE_Task_Base {
 public:
  static constexpr int kDefaultPeriodSeconds = 5;
  static constexpr int kPollMilliseconds = 500;

  // Null texts stay empty. `contenderName` must not be null for the task to be useful; the
  // dispatcher refuses null names before it gets here. The host name and start time are taken now.
  TaskContender(const char* contenderName, const char* moduleName, int period, const char* server,
                const char* position);
  // Stops the thread if it still runs (without a leave).
  ~TaskContender() override;
  TaskContender(const TaskContender&) = delete;
  TaskContender& operator=(const TaskContender&) = delete;

  // The record sent with every registration (a copy). Call before start().
  void setData(const BrennicData& data);
  // Registers once and starts the thread; the activation's result (0 started).
  int start();
  // Asks the loop to end and send the leave on its way out, without waiting (so several tasks
  // can leave at once).
  void requestLeave();
  // requestLeave(), waits for the thread to end (sending the leave here when the thread did
  // not), clears the requests.
  void stop();

  const std::string& contenderName() const { return contenderName_; }
  int svc() override;

 private:
  int registerContender();

  void sendLeave();

  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> leaveRequested_{false};
  std::atomic<bool> left_{false};
  bool registered_ = false;     // task thread only after start()
  std::int64_t lastBeat_ = 0;   // task thread only after start()
  std::string server_;
  std::string position_;
  std::string hostName_;
  std::string contenderName_;
  std::string moduleName_;
  int period_;
  std::int32_t startTime_;
  BrennicData data_;
};
