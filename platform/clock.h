// A millisecond tick count, with a seam for tests.
#pragma once

#include <cstdint>

namespace pelmora::platform {

// Milliseconds from a fixed point (monotonic), wrapping at 2^32.
[[nodiscard]] std::uint32_t TickCount();

// Replaces the tick source (null restores the real clock). Tests only.
void SetTickSourceForTesting(std::uint32_t (*source)());

}  // namespace pelmora::platform
