// Helper threads for calls that Ctrl-C may abandon, and the signal checks between slices.
#include "waits.h"

#include "binding.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ostrel/api/ostrel.h"

namespace pyostrel {

// One call handed to a helper. `done` and `rc` are guarded by `mutex`; `ready` mirrors `done`
// for the waiter's short spin.
struct Job {
  std::function<int()> call;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int rc = 0;
  std::atomic<bool> ready{false};
};

// How long a waiter, and a helper that finished a job, look for the next step before they
// sleep: a remote call takes tens of microseconds, two thread wake-ups on a busy machine as much
// again, so a short look spares both in a run of calls.
constexpr std::chrono::microseconds kSpin{100};

template <typename Done>
bool spinUntil(Done done) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  do {
    if (done()) return true;
    std::this_thread::yield();
  } while (std::chrono::steady_clock::now() < until);
  return done();
}

namespace {

// Helper threads, started when none is idle and ended after a minute without work. Never
// destroyed (the threads are detached and may outlive the interpreter's teardown).
class Helpers {
 public:
  void post(std::shared_ptr<Job> job) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.push_back(std::move(job));
    queued_.fetch_add(1, std::memory_order_release);
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
      if (queue_.empty()) {
        hold.unlock();
        spinUntil([this] { return queued_.load(std::memory_order_acquire) > 0; });
        hold.lock();
      }
      const bool got = work_.wait_for(hold, std::chrono::seconds(60), [this] { return !queue_.empty(); });
      --idle_;
      if (!got) return;
      std::shared_ptr<Job> job = std::move(queue_.front());
      queue_.pop_front();
      queued_.fetch_sub(1, std::memory_order_relaxed);
      hold.unlock();
      const int rc = job->call();
      job->call = nullptr;  // releases what the call owned, here rather than on the waiter's thread
      {
        std::lock_guard<std::mutex> done(job->mutex);
        job->rc = rc;
        job->done = true;
        job->ready.store(true, std::memory_order_release);
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
  std::atomic<int> queued_{0};              // the length of queue_, for a helper's spin
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
std::map<std::string, bool>& embeddedServers() {
  static auto* known = new std::map<std::string, bool>;  // kept to the end, like the helpers
  return *known;
}

bool embedded(const std::optional<std::string>& server) {
  std::map<std::string, bool>& known = embeddedServers();
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

void settingsChanged() { embeddedServers().clear(); }

void checkSignals() {
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

namespace {

// The job posted to a helper, or null when `call` ran inline.
std::shared_ptr<Job> dispatch(const std::optional<std::string>& server, std::function<int()>& call, int& rc,
                              bool anywhere = false) {
  if (!onMainThread() || (!anywhere && embedded(server))) {
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

namespace {

// Waits in slices for `job`, checking the signals between them; its code.
int waitFor(const std::shared_ptr<Job>& job) {
  {
    py::gil_scoped_release unlocked;
    if (spinUntil([&] { return job->ready.load(std::memory_order_acquire); })) {
      std::lock_guard<std::mutex> hold(job->mutex);
      return job->rc;
    }
  }
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

}  // namespace

int interruptible(const std::optional<std::string>& server, std::function<int()> call) {
  int rc = 0;
  std::shared_ptr<Job> job = dispatch(server, call, rc);
  return namedServerCode(server, job ? waitFor(job) : rc);
}

int interruptibleAnywhere(std::function<int()> call) {
  int rc = 0;
  std::shared_ptr<Job> job = dispatch(std::nullopt, call, rc, true);
  if (!job) return rc;
  return waitFor(job);
}

int waitInSlicesKept(const std::optional<std::string>& server, int timeoutMs, Parked& parked,
                     const std::function<Slice(int)>& makeSlice, std::shared_ptr<void>& state) {
  if (parked) {  // a slice an earlier Ctrl-C left running: what it took comes first
    const int rc = waitFor(parked.job);  // a Ctrl-C here leaves it parked
    state = std::move(parked.state);
    parked = Parked();
    // Its failure belongs to the abandoned wait (the connection may have been closed since).
    if (rc == code::kOk) return rc;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    long long ms = kSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      ms = std::min<long long>(ms, std::max<long long>(0, left));
    }
    Slice slice = makeSlice(static_cast<int>(ms));
    state = slice.state;
    int rc = 0;
    std::shared_ptr<Job> job = dispatch(server, slice.call, rc);
    if (job) {
      try {
        rc = waitFor(job);
      } catch (...) {
        parked.job = std::move(job);
        parked.state = std::move(state);
        throw;
      }
    }
    if (rc != code::kNothingReceived || (timeoutMs >= 0 && Clock::now() >= deadline)) return rc;
    checkSignals();
  }
}

void releaseAfter(const std::optional<std::string>& server, Parked parked, std::function<int()> call) {
  if (!parked) return releaseLater(server, std::move(call));
  auto job = std::make_shared<Job>();
  job->call = [slice = std::move(parked.job), call = std::move(call)] {
    std::unique_lock<std::mutex> hold(slice->mutex);
    slice->finished.wait(hold, [&] { return slice->done; });
    hold.unlock();
    return call();
  };
  helpers().post(job);
}

bool drainHelpers(int ms) {
  py::gil_scoped_release unlocked;
  return helpers().drain(ms);
}

}  // namespace pyostrel
