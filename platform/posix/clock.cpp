#include "platform/clock.h"

#include <atomic>
#include <ctime>

namespace pelmora::platform {

namespace {

std::uint32_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<std::uint32_t>(ms);  // wraps like a 32-bit tick count
}

std::atomic<std::uint32_t (*)()> g_tickSource{nullptr};

}  // namespace

std::uint32_t TickCount() {
  auto* source = g_tickSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : MonotonicMilliseconds();
}

void SetTickSourceForTesting(std::uint32_t (*source)()) {
  g_tickSource.store(source, std::memory_order_release);
}

}  // namespace pelmora::platform
