#include "platform/console.h"

#include <unistd.h>

#include <csignal>
#include <ctime>

namespace pelmora::platform {

namespace {

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  return ::isatty(stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void CatchInterrupts() {
  // Blocked signals stay pending until sigtimedwait takes them; threads
  // started later inherit the mask, so none of them is interrupted instead.
  const sigset_t signals = InterruptSignals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool WaitForInterrupt(std::chrono::milliseconds timeout) {
  const sigset_t signals = InterruptSignals();
  const auto count = timeout.count() < 0 ? 0 : timeout.count();
  timespec wait{.tv_sec = static_cast<time_t>(count / 1000),
                .tv_nsec = static_cast<long>((count % 1000) * 1'000'000)};
  return ::sigtimedwait(&signals, nullptr, &wait) > 0;
}

}  // namespace pelmora::platform
