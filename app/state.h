// The program-wide state, shared by the page scan and the download workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "app/settings.h"

namespace pelmora::app {

// Guards the list as a work queue: a worker's claim of a row and its final
// mark. Made by OnWindowCreated; never taken on the window thread.
extern std::mutex* g_listLock;
// Every lock CreateLock made, oldest first; it owns them. Changed only at
// start-up and in ExitCleanup, after the last worker has ended.
extern std::vector<std::unique_ptr<std::mutex>> g_lockRegistry;
// The last claim number of the current run: increased by workers under
// *g_listLock, set to 0 by the page scan on the window thread.
extern std::atomic<std::int32_t> g_downloadSeq;
// The run's random tag, 0 to 1000. Written only by the page scan on the
// window thread; read by workers when they claim a row.
extern std::atomic<std::int32_t> g_runTag;

// Makes a lock, appends it to g_lockRegistry and returns it.
std::mutex* CreateLock();

// The settings InitGlobals was given.
[[nodiscard]] const AppSettings& Settings();
// The settings' folders with their defaults filled in.
[[nodiscard]] std::filesystem::path DownloadFolder();
[[nodiscard]] std::filesystem::path CookieFile();

// Whether the window has begun closing (set by OnWindowClosing, cleared by
// InitGlobals). Any thread.
[[nodiscard]] bool Closing();
void SetClosing();

}  // namespace pelmora::app
