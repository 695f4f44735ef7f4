// Counts every heap allocation of a benchmark process (the library's blocks come from the same
// global operator new), so that a benchmark can report allocations per iteration beside its time.
// Include it in exactly one file of a benchmark executable: it replaces the global operator new.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#include <benchmark/benchmark.h>

namespace bench {
inline std::atomic<long long> allocations{0};
}

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
  bench::allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace bench {

// Counts the allocations of its scope (the timed loop) and reports them per iteration.
class AllocationScope {
 public:
  explicit AllocationScope(benchmark::State& state) : state_(state), start_(allocations.load()) {}
  ~AllocationScope() {
    state_.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations.load() - start_),
                                                   benchmark::Counter::kAvgIterations);
  }
  AllocationScope(const AllocationScope&) = delete;
  AllocationScope& operator=(const AllocationScope&) = delete;

 private:
  benchmark::State& state_;
  long long start_;
};

}  // namespace bench
