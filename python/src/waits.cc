// Helper threads for calls that Ctrl-C may abandon, and the signal checks between slices.
#include "waits.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ostrel/api/ostrel.h"

namespace pyostrel {
namespace {

// One call handed to a helper. `done` and `rc` are guarded by `mutex`.
struct Job {
  std::function<int()> call;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int rc = 0;
};

// Helper threads, started when none is idle and ended after a minute without work. Never
// destroyed (the threads are detached and may outlive the interpreter's teardown).
class Helpers {
 public:
  void post(std::shared_ptr<Job> job) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(std::move(job));
    ++busy_;
    if (idle_ == 0) {
      std::thread([this] { loop(); }).detach();
    } else {
      work_.notify_one();
    }
  }

  // Waits until no job is queued or running, at most `ms`. Called without the GIL.
  bool drain(int ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    return allDone_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return busy_ == 0; });
  }

 private:
  void loop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      ++idle_;
      const bool got = work_.wait_for(hold, std::chrono::seconds(60), [this] { return !queue_.empty(); });
      --idle_;
      if (!got) return;
      std::shared_ptr<Job> job = std::move(queue_.front());
      queue_.pop_front();
      hold.unlock();
      const int rc = job->call();
      job->call = nullptr;  // releases what the call owned, here rather than on the waiter's thread
      {
        std::lock_guard<std::mutex> done(job->mutex);
        job->rc = rc;
        job->done = true;
      }
      job->finished.notify_all();
      job.reset();
      hold.lock();
      if (--busy_ == 0) allDone_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, allDone_;
  std::deque<std::shared_ptr<Job>> queue_;  // guarded by mutex_
  int idle_ = 0;                            // guarded by mutex_
  int busy_ = 0;                            // queued or running; guarded by mutex_
};

Helpers& helpers() {
  static Helpers* instance = new Helpers;  // never destroyed: see the class
  return *instance;
}

bool onMainThread() {
  static const unsigned long mainIdent =
      py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
  return PyThread_get_thread_ident() == mainIdent;
}

// Whether `server` is the embedded one, as the settings say; remembered once known. Guarded by
// the GIL.
bool embedded(const std::optional<std::string>& server) {
  static std::map<std::string, bool> known;
  const std::string key = server.value_or(std::string());
  auto it = known.find(key);
  if (it != known.end()) return it->second;
  const char* active;
  {
    py::gil_scoped_release unlocked;
    active = Ostrel::activeServer(server ? server->c_str() : nullptr);
  }
  if (active == nullptr) return false;  // not known (yet): treat as remote
  const bool isEmbedded = std::string(active) == "embedded";
  known.emplace(key, isEmbedded);
  return isEmbedded;
}

}  // namespace

void checkSignals() {
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

namespace {

// The job posted to a helper, or null when `call` ran inline.
std::shared_ptr<Job> dispatch(const std::optional<std::string>& server, std::function<int()>& call, int& rc) {
  if (!onMainThread() || embedded(server)) {
    py::gil_scoped_release unlocked;
    rc = call();
    return nullptr;
  }
  auto job = std::make_shared<Job>();
  job->call = std::move(call);
  helpers().post(job);
  return job;
}

}  // namespace

void releaseLater(const std::optional<std::string>& server, std::function<int()> call) {
  int rc = 0;
  dispatch(server, call, rc);
}

int interruptible(const std::optional<std::string>& server, std::function<int()> call) {
  int rc = 0;
  std::shared_ptr<Job> job = dispatch(server, call, rc);
  if (!job) return rc;
  for (;;) {
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> hold(job->mutex);
      if (job->finished.wait_for(hold, std::chrono::milliseconds(kSliceMs), [&] { return job->done; }))
        return job->rc;
    }
    checkSignals();
  }
}

bool drainHelpers(int ms) {
  py::gil_scoped_release unlocked;
  return helpers().drain(ms);
}

}  // namespace pyostrel
