// The main window without a display: the same controls and list as the real
// window, kept in memory and served by a window thread of its own. Used by
// pelmora-cli and by the tests.
//
// Creating the window starts its window thread, which installs the window as
// the process's event sink and runs `handlers.onCreated` before anything
// else. A call from another thread is queued to the window thread and returns
// when carried out; a call on the window thread runs at once. The window
// thread carries out queued calls between handlers and whenever a handler
// pumps events (ProcessPending).
//
// Closing (Close(), from any thread) first makes every call from another
// thread return at once with its "nothing there" value (empty text, 0 rows,
// -1, key 0, false), then runs `handlers.onClosing` on the window thread, then
// ends the window thread. A handler may therefore wait for workers that call
// the window without deadlock.
//
// Error boxes are not shown: each is recorded (see ErrorBoxes()) and counts
// as dismissed at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"

namespace pelmora::platform {

struct ErrorBoxRecord {
  std::string title;  // GBK
  std::string text;   // GBK
};

class HeadlessWindow : public Window {
 public:
  // Clicks a button as the user would: its handler runs on the window thread,
  // unless the button is disabled. Returns when the handler has returned (or
  // at once when the window is closing). From the window thread, the handler
  // runs nested, as a click handled while pumping events would.
  virtual void Click(Control button) = 0;
  // Whether a control is enabled; controls start enabled.
  [[nodiscard]] virtual bool IsControlEnabled(Control control) = 0;
  // Every error box shown so far, oldest first. Any thread.
  [[nodiscard]] virtual std::vector<ErrorBoxRecord> ErrorBoxes() = 0;
  // Whether the window has started closing. Any thread.
  [[nodiscard]] virtual bool IsClosing() = 0;
};

// Creates the window and starts its window thread. Run() waits until the
// window has been closed and returns 0; destroying the window closes it
// first. Only one window at a time should be the process's event sink.
[[nodiscard]] std::unique_ptr<HeadlessWindow> CreateHeadlessWindow(WindowHandlers handlers);

}  // namespace pelmora::platform
