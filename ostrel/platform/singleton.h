/// @file
/// The library's process-wide objects: each is made and destroyed by ACE_Singleton (so ACE ends it
/// in its own order at exit), and handed to other threads through an atomic pointer.
///
/// ACE_Singleton::instance() checks its pointer without a lock or a barrier, so a thread that
/// finds the object made by another could read its members before their construction is visible.
/// Here the first call of each thread that finds nothing published goes through one mutex, and
/// the pointer is published with release and read with acquire. T's destructor calls retire(),
/// so that a call after ACE has ended makes a new object through ACE as before.
#pragma once

#include <atomic>
#include <mutex>

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Singleton.h>

namespace ostrel {
namespace platform {

/// The process-wide object of type T, made by ACE_Singleton and published through an atomic
/// pointer.
template <typename T>
class Singleton {
 public:
  /// The object, made on the first call (null when ACE cannot make it).
  static T* instance() {
    T* object = published().load(std::memory_order_acquire);
    if (object != nullptr) return object;
    static std::mutex making;
    std::lock_guard<std::mutex> lock(making);
    object = ACE_Singleton<T, ACE_Recursive_Thread_Mutex>::instance();
    published().store(object, std::memory_order_release);
    return object;
  }

  /// Forgets the published object; T's destructor calls it.
  static void retire() { published().store(nullptr, std::memory_order_release); }

 private:
  static std::atomic<T*>& published() {
    static std::atomic<T*> object{nullptr};
    return object;
  }
};

}  // namespace platform
}  // namespace ostrel
