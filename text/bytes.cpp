#include "text/bytes.h"

#include <algorithm>
#include <atomic>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/files.h"

namespace pelmora::text {

namespace {

// Each thread draws from its own state; a thread that never seeds starts at 1.
thread_local std::uint32_t t_randomState = 1;
// Shared by every seeding thread, so that seeds within one millisecond differ.
std::atomic<std::uint32_t> g_seedCounter{0};

std::uint32_t NextDraw() {
  t_randomState = t_randomState * 214013U + 2531011U;
  return (t_randomState >> 16) & 0x7FFFU;
}

}  // namespace

int BytesLength(const Bytes& bytes) { return bytes.size(); }

Bytes BytesLeft(const Bytes& bytes, int count) {
  if (count <= 0) {
    return {};
  }
  return Bytes(bytes.view().substr(0, static_cast<std::size_t>(count)));
}

Bytes BytesMid(const Bytes& bytes, int start, int count) {
  const std::size_t s0 = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (count <= 0 || s0 >= bytes.view().size()) {
    return {};
  }
  return Bytes(bytes.view().substr(s0, static_cast<std::size_t>(count)));
}

Bytes BlankBytes(int count) {
  return count <= 0 ? Bytes() : Bytes(std::string(static_cast<std::size_t>(count), '\0'));
}

Text BlankText(int count) {
  return count <= 0 ? Text() : Text(std::string(static_cast<std::size_t>(count), ' '));
}

bool CompareBytes(const Bytes& a, const Bytes& b) { return a.view() == b.view(); }

Text ToText(const Bytes& bytes) { return Text(bytes.view()); }

Bytes TextToBytes(const Text& text) { return Bytes(text.view()); }

Bytes ReadFileBytes(const std::filesystem::path& path) {
  if (path.empty()) {
    return {};
  }
  std::optional<std::string> contents = platform::ReadWholeFile(path);
  return contents ? Bytes(std::move(*contents)) : Bytes();
}

bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  if (path.empty()) {
    return false;
  }
  return platform::WriteWholeFile(path, bytes.view());
}

std::filesystem::path RunDirectory() { return platform::ExecutableDirectory(); }

void SeedRandom() {
  const std::uint32_t tick = platform::TickCount();
  std::uint32_t counter = g_seedCounter.load(std::memory_order_relaxed);
  std::uint32_t seed = 0;
  do {
    seed = tick + counter;
  } while (!g_seedCounter.compare_exchange_weak(counter, counter + (seed % 256U) + 100U,
                                                std::memory_order_relaxed));
  t_randomState = seed;
}

int RandomNumber(int low, int high) {
  const std::int64_t a = std::max(low, 0);
  const std::int64_t b = std::max(high, 0);
  const std::int64_t lo = std::min(a, b);
  const std::int64_t hi = std::max(a, b);
  if (lo == hi) {
    return static_cast<int>(lo);
  }
  const std::int64_t span = std::min<std::int64_t>(hi - lo + 1, 0x7FFFFFFE);
  return static_cast<int>(lo + static_cast<std::int64_t>(NextDraw()) % span);
}

void ProcessEvents() { platform::ProcessPendingEvents(); }

std::int32_t BytesToInt(const Bytes& bytes) {
  std::uint32_t value = 0;
  const std::string_view b = bytes.view();
  for (std::size_t i = 0; i < 4 && i < b.size(); ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[i])) << (8 * i);
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace pelmora::text
