// What a command-line program needs of its console: whether a stream is a
// terminal, and the user's interrupt (Ctrl-C) as an event to wait for
// rather than a signal that ends the process.
#pragma once

#include <chrono>

namespace pelmora::platform {

enum class StandardStream { kOutput, kError };

[[nodiscard]] bool IsTerminal(StandardStream stream);

// From now on an interrupt or termination request no longer ends the process
// but waits for WaitForInterrupt. Call at program start, before any thread is
// started, so that every thread inherits it.
void CatchInterrupts();
// Waits up to `timeout` for an interrupt caught by CatchInterrupts; true when
// one arrived. One thread at a time.
bool WaitForInterrupt(std::chrono::milliseconds timeout);

}  // namespace pelmora::platform
