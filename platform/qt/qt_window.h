// The main window on Qt 6 Widgets.
//
// This header exposes no Qt types, so that the thin main of the window program
// and the tests include only our own headers.
#pragma once

#include <memory>

#include "platform/window.h"

namespace pelmora::platform {

// Creates the main window "Vornak--Pelmora" with all its controls, shows it
// centred on the screen, installs it as the process's event sink, and then
// calls `handlers.onCreated` (before any click can be handled). The calling
// thread becomes the window thread: Run() must be called on it.
//
// A QApplication is made from `argc` and `argv` unless one already exists (a
// test's own); the window then owns it. `argc` and `argv` must outlive the
// window. Only one window at a time may exist in a process.
//
// Closing (the user's close button, or Close()) first makes every call still
// waiting on another thread return at once with its "nothing there" value
// (empty text, 0 rows, -1, key 0, false), then runs `handlers.onClosing` on
// the window thread, then ends Run(). A handler running then may therefore
// wait for workers without deadlock. Destroying the window removes it as the
// event sink.
[[nodiscard]] std::unique_ptr<Window> CreateQtWindow(int& argc, char** argv,
                                                     WindowHandlers handlers);

}  // namespace pelmora::platform
