#include "platform/memory.h"

#include <cstddef>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pelmora::platform {

void ReuseLargeBuffers() {
#if defined(__GLIBC__)
  // The largest threshold the allocator accepts on 64-bit systems; buffers
  // below it come from the heap and go back to it.
  constexpr int kLargest = 32 * 1024 * 1024;
  mallopt(M_MMAP_THRESHOLD, kLargest);
  // Free memory at the top of a heap is returned only past this much.
  mallopt(M_TRIM_THRESHOLD, 8 * kLargest);
#endif
}

}  // namespace pelmora::platform
