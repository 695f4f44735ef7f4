#include "tarn/server/handles.h"

#include <atomic>
#include <random>

namespace tarn {
namespace {

constexpr unsigned kSerialBits = 20;
constexpr unsigned kSerialMask = (1u << kSerialBits) - 1;
constexpr unsigned kIncarnations = 4095;  // 1..4095 in the top 12 bits

unsigned randomBelow(unsigned bound) {
  std::random_device device;
  return std::uniform_int_distribution<unsigned>(0, bound - 1)(device);
}

std::atomic<unsigned>& incarnation() {
  static std::atomic<unsigned> value{1 + randomBelow(kIncarnations)};
  return value;
}

std::atomic<unsigned>& serial() {
  static std::atomic<unsigned> value{randomBelow(kSerialMask)};
  return value;
}

}  // namespace

unsigned setHandleIncarnation(unsigned previous) {
  const unsigned next = previous == 0 ? 1 + randomBelow(kIncarnations) : previous % kIncarnations + 1;
  incarnation() = next;
  return next;
}

unsigned mintHandle() {
  unsigned low = 0;
  do low = serial().fetch_add(1) & kSerialMask;
  while (low == 0);
  return incarnation().load() << kSerialBits | low;
}

}  // namespace tarn
