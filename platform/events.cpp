#include "platform/events.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"

namespace pelmora::platform {

namespace {

std::atomic<EventSink*> g_sink{nullptr};

std::string GbkToUtf8(std::string_view gbk) {
  return EncodeCodePage(DecodeCodePage(gbk, 936), 65001);
}

}  // namespace

void InstallEventSink(EventSink* sink) { g_sink.store(sink, std::memory_order_release); }

void ProcessPendingEvents() {
  if (EventSink* sink = g_sink.load(std::memory_order_acquire)) {
    sink->ProcessPending();
  }
}

void ShowErrorBox(std::string_view title, std::string_view text) {
  if (EventSink* sink = g_sink.load(std::memory_order_acquire)) {
    sink->ShowErrorBox(title, text);
    return;
  }
  const std::string line = GbkToUtf8(title) + ": " + GbkToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void FatalErrorBox(std::string_view title, std::string_view text, int exitStatus) {
  ShowErrorBox(title, text);
  std::fflush(stdout);
  std::fflush(stderr);
  // No destructors or exit handlers: the process is in an undefined state
  // from the caller's point of view, and other threads may still be running.
  std::_Exit(exitStatus);
}

}  // namespace pelmora::platform
