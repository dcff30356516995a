// How the process's memory allocator treats large buffers.
#pragma once

namespace pelmora::platform {

// Keeps freed large buffers (picture bodies of a few megabytes) in the
// allocator for the next one instead of handing each back to the system and
// mapping a fresh one: with hundreds of threads doing that at once, the
// page faults and the kernel's lock on the address space cost more than the
// transfers. Call at program start, before any thread. A no-op where the
// allocator offers no such setting.
void ReuseLargeBuffers();

}  // namespace pelmora::platform
