// TarnConnector: which middleware servers this process is connected to.
//
// One instance per process (instance()), made on first use under the ACE singleton lock and
// destroyed when ACE ends. It connects servers through the flat client API, records the result
// of each server's last connection attempt, answers the connection guard of every server-taking
// operation, keeps each server's default position, tells installed listeners when a server's
// state or active server changes, and runs one monitor thread that re-connects every known
// server when more than five seconds have passed (polled every 500 ms). The naming client
// reports servers that stop or start answering through onServerConnection, from its own thread.
//
// Threads: application threads call every member; the monitor thread calls connect(); the naming
// client's thread calls onServerConnection(). Locks:
//   stateLock_     (reader-writer) guards connectStates_ and the publication of its copies, which
//                  connectState() (the guard) reads without any lock;
//   listenerLock_  (recursive)     guards listeners_, activeServers_, announced_ and every
//                                  notification pass;
//   positionLock_                  guards defaultPositions_ and positionTexts_.
// The only nesting is stateLock_ (write) inside listenerLock_, in disconnect(). No path takes
// listenerLock_ while holding stateLock_, and no listener is called with stateLock_ held, nor is
// any middleware function called with stateLock_ held.
//
// Server names are compared exactly (byte order); an empty name is a valid key.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <ace/RW_Mutex.h>
#include <ace/Recursive_Thread_Mutex.h>
#include "ostrel/platform/singleton.h"
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>
#include <boost/signals2/connection.hpp>

class BrennicStatusListenerBase;

class TarnConnector : public ACE_Task_Base {
 public:
  // The process's connector; made (and its monitor thread started) on first call.
  // Throws std::bad_alloc when it cannot be made.
  static TarnConnector* instance();

  // Connects `server` (null: the server at position "own") through kx_tarn_connect and records
  // the result under the resolved name; listeners hear of a changed result or active server.
  // Returns the middleware's result (0 connected), or kNoServerName when no name resolves
  // (an empty text included; the middleware is still asked first).
  int connect(const char* server);

  // Drops the recorded state of every server (not only this one) and tells every listener
  // onDisconnected(name). Calls nothing in the middleware. A null name resolves to the server at
  // "own"; an empty result ends the call with nothing done. Default positions and active servers
  // are kept.
  void disconnect(const char* server);

  // The recorded state: 0 connected, kNoState when none is recorded, otherwise the middleware's
  // failure code. Null: the server at "own" (kNoServerName when there is none); empty: the server
  // at "own" when there is one, else the empty name. Safe from any thread; takes no lock: it
  // reads the states last published by a writer (see published_), through a per-thread copy.
  int connectState(const char* server);

  // The default position of `server` (null: the empty name); the empty text for a server never
  // diverted. The returned text is never null and stays valid for the life of the process, even
  // after the position is changed again.
  const char* defaultPosition(const char* server);
  // The same as a copy.
  std::string defaultPositionCopy(const char* server);
  // Sets the default position of `server` (null: the empty name); a null position resets it to
  // the empty text.
  void setDefaultPosition(const char* server, const char* position);

  // Appends `listener` (not owned; duplicates allowed).
  void installListener(BrennicStatusListenerBase& listener);
  // Takes out the first entry equal to &listener; no change when there is none.
  void removeListener(BrennicStatusListenerBase& listener);

  // The naming client's news: a server started (true) or stopped (false) answering. Records 0 or
  // kNoState; a lost server's cached service references are dropped. Listeners are told by the
  // next monitor scan.
  void onServerConnection(std::string server, bool isConnected);

  // Stops the monitor thread and waits for it to end. No monitor thread runs in this process
  // afterwards, not even in a connector made later.
  void stop();

  // The names with a recorded state, in ascending order.
  std::vector<std::string> knownServers();

  int svc() override;

  // The monitor thread's tick and the whole seconds that must pass between two scans.
  static constexpr int kTickMilliseconds = 500;
  static constexpr int kScanSeconds = 5;

  TarnConnector(const TarnConnector&) = delete;
  TarnConnector& operator=(const TarnConnector&) = delete;

 private:
  friend class ACE_Singleton<TarnConnector, ACE_Recursive_Thread_Mutex>;
  TarnConnector();
  ~TarnConnector() override;

  // connect() on behalf of an attempt begun in `generation`: when a disconnect has advanced the
  // generation since, the result is neither recorded nor announced (it is still returned).
  int connectIn(const char* server, std::uint64_t generation);

  using StateMap = std::map<std::string, int>;
  // Makes a copy of connectStates_ the one that connectState() reads. REQUIRES: the write side
  // of stateLock_ held (so copies are published in the order of the changes).
  void publishStates();

  // One notification pass; REQUIRES: listenerLock_ held.
  void notifyAll(const std::string& name, bool connected);

  // Sets stopFlag_ and wakes the monitor thread from its tick.
  void wakeMonitor();

  std::atomic<int> stopFlag_{0};   // written under tickMutex_, so the tick's wait cannot miss it
  std::mutex tickMutex_;
  std::condition_variable tickWake_;
  // Advanced by every disconnect (with stateLock_ and listenerLock_ held), so that a connect
  // begun before it, such as a scan's, cannot record its server as connected again.
  std::atomic<std::uint64_t> generation_{0};
  ACE_Recursive_Thread_Mutex listenerLock_;
  ACE_RW_Mutex stateLock_;
  ACE_Thread_Mutex positionLock_;
  std::map<std::string, std::string> activeServers_;     // GUARDED_BY(listenerLock_)
  // The result that listeners last heard for each server. It differs from connectStates_ when the
  // naming client recorded news that no scan has announced yet.
  std::map<std::string, int> announced_;                 // GUARDED_BY(listenerLock_)
  std::map<std::string, const std::string*> defaultPositions_;  // GUARDED_BY(positionLock_)
  // Every position text ever set; never shrinks, so handed-out texts stay valid.
  std::set<std::string> positionTexts_;                  // GUARDED_BY(positionLock_)
  std::map<std::string, int> connectStates_;             // GUARDED_BY(stateLock_)
  // What connectState() reads: an immutable copy of connectStates_, replaced (std::atomic_store)
  // by every change, and a version advanced after each replacement.
  std::shared_ptr<const StateMap> published_ = std::make_shared<const StateMap>();
  std::atomic<std::uint64_t> publishedVersion_{1};
  std::vector<BrennicStatusListenerBase*> listeners_;    // GUARDED_BY(listenerLock_)
  ACE_Time_Value scanPeriod_{0, kTickMilliseconds * 1000};
  std::int32_t lastScan_ = 0;                            // monitor thread only
  boost::signals2::connection namingConnection_;
};
