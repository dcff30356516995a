// The download queue: the list's waiting rows, fetched by worker threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>

#include "platform/window.h"

namespace pelmora::app {

// A worker: claims the topmost waiting row, fetches and saves its picture,
// marks the row, and goes on until no row waits or `stop` is requested.
void DownloadWorker(platform::Window& window, const std::stop_token& stop);

// Worker threads started since InitGlobals (tests: an empty list starts none).
[[nodiscard]] std::int64_t WorkersStarted();
// Worker threads that have not yet ended.
[[nodiscard]] int ActiveWorkers();
// Waits until no worker runs, for at most `timeout`; true when none runs.
// Never on the window thread, whose pumping the workers need.
bool WaitForWorkers(std::chrono::milliseconds timeout);
// Asks every worker to stop (transfers in flight are cancelled), then waits
// for all of them to end, pumping the window's events meanwhile so that their
// window calls are served. Window thread, or any thread once the window no
// longer serves calls from other threads.
void StopWorkers(platform::Window* window);

}  // namespace pelmora::app
