// The program's spine: program-wide state, start-up and shutdown, and the
// handlers behind the window's buttons. Shared by the window program and
// pelmora-cli. (Skeleton written by the lead; the application work fills in.)
#pragma once

#include "app/settings.h"
#include "platform/window.h"

namespace pelmora::app {

// The handlers of the main window, wired to the routines below.
[[nodiscard]] platform::WindowHandlers MainWindowHandlers();

void InitGlobals();
// The same, with the program's file locations and observers; the window
// program uses the defaults, pelmora-cli and the tests their own.
void InitGlobals(AppSettings settings);
void ExitCleanup();
void OnWindowCreated(platform::Window& window);
void OnSaveCookieClicked(platform::Window& window);
void OnLoadPageClicked(platform::Window& window);
void OnDownloadClicked(platform::Window& window);
// Cancels transfers in flight and waits for the workers to end.
void OnWindowClosing(platform::Window& window);

}  // namespace pelmora::app
