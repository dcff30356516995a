// The window program: start-up, the main window, and the message loop.

#include <cstdlib>

#include "app/program.h"
#include "platform/http.h"
#include "platform/memory.h"
#include "platform/qt/qt_window.h"

int main(int argc, char** argv) {
  // Before any thread: picture buffers are reused rather than mapped afresh,
  // and the HTTP library's global set-up.
  pelmora::platform::ReuseLargeBuffers();
  pelmora::platform::InitHttp();
  pelmora::app::InitGlobals();
  std::atexit(&pelmora::app::ExitCleanup);
  // Shows the window and runs the application's OnWindowCreated before any
  // click can reach a handler.
  const auto window =
      pelmora::platform::CreateQtWindow(argc, argv, pelmora::app::MainWindowHandlers());
  return window->Run();
}
