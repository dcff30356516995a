// The two window-system services the lower layers need: pumping waiting
// events and showing a modal error box. A window implementation installs a
// sink; without one, pumping does nothing and error boxes go to stderr.
#pragma once

#include <string_view>

namespace pelmora::platform {

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Dispatches every waiting event of the window thread without waiting.
  virtual void ProcessPending() = 0;
  // Shows a modal error box; title and text are GBK. Returns when dismissed.
  virtual void ShowErrorBox(std::string_view title, std::string_view text) = 0;
};

// Installs `sink` (null removes it). The sink must outlive its installation.
void InstallEventSink(EventSink* sink);

// Window thread only.
void ProcessPendingEvents();
// Title and text are GBK; without a sink, "title: text" is written to stderr
// in UTF-8.
void ShowErrorBox(std::string_view title, std::string_view text);
// Shows the box, then ends the process at once with `exitStatus`.
[[noreturn]] void FatalErrorBox(std::string_view title, std::string_view text, int exitStatus);

}  // namespace pelmora::platform
