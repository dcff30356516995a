// Byte strings, whole-file input and output, and small system primitives.
//
// `Bytes` holds any bytes, zero included. Positions are 1-based. Everything
// here is a pure function and may run on any thread, except the random
// generator (per-thread state) and ProcessEvents (window thread only).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "text/text.h"

namespace pelmora::text {

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string bytes) : m_bytes(std::move(bytes)) {}
  explicit Bytes(std::string_view bytes) : m_bytes(bytes) {}
  explicit Bytes(const char* bytes) : m_bytes(bytes) {}

  [[nodiscard]] const std::string& str() const { return m_bytes; }
  [[nodiscard]] std::string_view view() const { return m_bytes; }
  [[nodiscard]] bool empty() const { return m_bytes.empty(); }
  [[nodiscard]] int size() const { return static_cast<int>(m_bytes.size()); }
  // Moves the bytes out, leaving this value empty.
  [[nodiscard]] std::string release() { return std::move(m_bytes); }
  friend bool operator==(const Bytes& a, const Bytes& b) = default;

 private:
  std::string m_bytes;
};

[[nodiscard]] int BytesLength(const Bytes& bytes);
// The first `count` bytes, clamped to 0..length.
[[nodiscard]] Bytes BytesLeft(const Bytes& bytes, int count);
// A start of 1 or less means the first byte; past the end gives empty.
[[nodiscard]] Bytes BytesMid(const Bytes& bytes, int start, int count);
[[nodiscard]] Bytes BlankBytes(int count);
[[nodiscard]] Text BlankText(int count);
[[nodiscard]] bool CompareBytes(const Bytes& a, const Bytes& b);

template <typename... Rest>
[[nodiscard]] Bytes ConcatBytes(const Bytes& first, const Rest&... rest) {
  std::string result = first.str();
  ((result += rest.str()), ...);
  return Bytes(std::move(result));
}

// The bytes before the first zero byte, as text.
[[nodiscard]] Text ToText(const Bytes& bytes);
[[nodiscard]] Bytes TextToBytes(const Text& text);

// Paths are native file-system paths. A caller holding a path as GBK `Text`
// converts it once where it calls these.
//
// The whole file, or empty Bytes when the path is empty, missing, a folder or
// unreadable.
[[nodiscard]] Bytes ReadFileBytes(const std::filesystem::path& path);
// Creates or truncates the file and writes `bytes`. Missing folders are not
// created. False on an empty path or any failure (a failed write may leave a
// partial file).
bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
// The folder of the running executable, without a trailing separator.
[[nodiscard]] std::filesystem::path RunDirectory();

// Seeds the calling thread's generator from the millisecond tick count plus
// the process-wide seed counter, then advances the counter.
void SeedRandom();
// From min(low, high) to max(low, high) inclusive; negative bounds count as 0.
// A thread that never seeded starts from state 1 (first draw 41).
[[nodiscard]] int RandomNumber(int low, int high);

// Dispatches every event waiting on the window thread, never waits; a no-op
// where no window exists. Window thread only.
void ProcessEvents();

[[nodiscard]] constexpr std::uint32_t BitOr(std::uint32_t a, std::uint32_t b) { return a | b; }
// The first four bytes as a little-endian signed integer; missing bytes are 0.
[[nodiscard]] std::int32_t BytesToInt(const Bytes& bytes);

}  // namespace pelmora::text
