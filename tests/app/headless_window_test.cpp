#include "platform/headless/headless_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace pelmora::platform {
namespace {

using namespace std::chrono_literals;

// Handlers filled field by field; the rest stay empty.
template <typename Fill>
WindowHandlers Handlers(Fill fill) {
  WindowHandlers handlers;
  fill(handlers);
  return handlers;
}

std::vector<std::string> Column(Window& window, int column) {
  std::vector<std::string> cells;
  const int count = window.RowCount();
  cells.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    cells.push_back(window.GetCellText(row, column));
  }
  return cells;
}

TEST(HeadlessWindowTest, ListOperationsFromAnotherThread) {
  auto window = CreateHeadlessWindow({});
  EXPECT_EQ(window->InsertRow(0, "a"), 0);
  EXPECT_EQ(window->InsertRow(0, "b"), 0);
  EXPECT_EQ(window->InsertRow(-1, "c"), 2);
  EXPECT_EQ(window->InsertRow(99, "d"), 3) << "past the end appends";
  EXPECT_EQ(window->InsertRow(1, "e"), 1);
  EXPECT_EQ(Column(*window, 0), (std::vector<std::string>{"b", "e", "a", "c", "d"}));
  EXPECT_EQ(window->GetCellText(0, 1), "") << "other cells start empty";

  window->SetCellText(2, 2, "x");
  window->SetCellText(4, 2, "x");
  window->SetCellText(5, 2, "ignored");
  window->SetCellText(-1, 2, "ignored");
  EXPECT_EQ(window->GetCellText(5, 0), "");
  EXPECT_EQ(window->GetCellText(-1, 0), "");

  struct Case {
    const char* label;
    const char* text;
    int firstRow;
    int column;
    int expected;
  };
  const Case cases[] = {
      {"first match", "x", 0, 2, 2},
      {"negative start counts as 0", "x", -5, 2, 2},
      {"from a later row", "x", 3, 2, 4},
      {"past the last row", "x", 5, 2, -1},
      {"exact bytes only", "X", 0, 2, -1},
      {"column out of range", "x", 0, 3, -1},
      {"empty cells match the empty text", "", 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(window->FindRowByCell(c.text, c.firstRow, c.column), c.expected);
  }
}

TEST(HeadlessWindowTest, RowKeysFollowTheirRowAndDieWithIt) {
  auto window = CreateHeadlessWindow({});
  window->InsertRow(0, "1");
  const std::uint64_t first = window->RowKey(0);
  window->InsertRow(0, "2");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(window->RowKey(1), first) << "the key moves down with its row";
  EXPECT_EQ(window->RowKey(2), 0u);
  EXPECT_TRUE(window->SetCellTextByKey(first, 2, "done"));
  EXPECT_EQ(window->GetCellText(1, 2), "done");

  window->DeleteAllRows();
  window->InsertRow(0, "1");
  window->InsertRow(0, "2");
  EXPECT_NE(window->RowKey(1), first) << "a new row never reuses a key";
  EXPECT_FALSE(window->SetCellTextByKey(first, 2, "done"));
  EXPECT_EQ(Column(*window, 2), (std::vector<std::string>{"", ""}));
}

TEST(HeadlessWindowTest, HandlersRunOnTheWindowThreadAndPumpingServesOtherThreads) {
  std::thread::id createdOn;
  std::thread::id clickedOn;
  std::string seenByHelper;
  auto window = CreateHeadlessWindow(Handlers([&](WindowHandlers& h) {
    h.onCreated = [&](Window& w) {
      createdOn = std::this_thread::get_id();
      w.SetControlText(Control::kCookieBox, "loaded");
    };
    h.onLoadPage = [&](Window& w) {
      clickedOn = std::this_thread::get_id();
      // A helper's call needs this thread; it completes only because
      // the handler pumps while it waits.
      std::atomic<bool> done{false};
      std::jthread helper([&] {
        seenByHelper = w.GetControlText(Control::kCookieBox);
        w.SetControlText(Control::kPageBox, "from helper");
        done = true;
      });
      while (!done) {
        w.ProcessPending();
        std::this_thread::sleep_for(1ms);
      }
    };
  }));
  EXPECT_EQ(window->GetControlText(Control::kCookieBox), "loaded")
      << "onCreated runs before any call";
  window->Click(Control::kLoadButton);
  EXPECT_EQ(seenByHelper, "loaded");
  EXPECT_EQ(window->GetControlText(Control::kPageBox), "from helper");
  EXPECT_EQ(createdOn, clickedOn);
  EXPECT_NE(createdOn, std::this_thread::get_id());
}

TEST(HeadlessWindowTest, DisabledButtonsIgnoreClicks) {
  int clicks = 0;
  auto window = CreateHeadlessWindow(
      Handlers([&](WindowHandlers& h) { h.onDownload = [&](Window&) { ++clicks; }; }));
  window->SetControlEnabled(Control::kDownloadButton, false);
  EXPECT_FALSE(window->IsControlEnabled(Control::kDownloadButton));
  window->Click(Control::kDownloadButton);
  EXPECT_EQ(clicks, 0);
  window->SetControlEnabled(Control::kDownloadButton, true);
  window->Click(Control::kDownloadButton);
  EXPECT_EQ(clicks, 1);
}

TEST(HeadlessWindowTest, ClosingReleasesWaitingCallersBeforeOnClosing) {
  std::atomic<bool> stop{false};
  std::atomic<int> callsAfterClose{0};
  std::jthread caller;
  auto window = CreateHeadlessWindow(Handlers([&](WindowHandlers& h) {
    h.onClosing = [&](Window& w) {
      // Like the application's close handler: waits for a thread that
      // keeps calling the window. Calls must not block now.
      stop = true;
      caller.join();
      EXPECT_EQ(w.RowCount(), 1) << "the window thread still sees its list";
    };
  }));
  window->InsertRow(0, "row");
  caller = std::jthread([&] {
    while (!stop) {
      if (window->RowCount() == 0) {
        ++callsAfterClose;
      }
    }
    EXPECT_EQ(window->RowCount(), 0) << "after closing began: the nothing-there value";
    EXPECT_EQ(window->GetCellText(0, 0), "");
    EXPECT_FALSE(window->SetCellTextByKey(1, 2, "x"));
  });
  std::this_thread::sleep_for(20ms);
  const auto start = std::chrono::steady_clock::now();
  window->Close();
  EXPECT_EQ(window->Run(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(window->IsClosing());
  window->Click(Control::kLoadButton);  // returns at once
}

TEST(HeadlessWindowTest, ErrorBoxesAreRecordedFromAnyThread) {
  auto window = CreateHeadlessWindow(Handlers(
      [](WindowHandlers& h) { h.onCreated = [](Window& w) { w.ShowErrorBox("t1", "x1"); }; }));
  std::jthread([&] {
    ProcessPendingEvents();
    ShowErrorBox("t2", "x2");
  }).join();
  const auto boxes = window->ErrorBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "t1");
  EXPECT_EQ(boxes[1].text, "x2");
}

}  // namespace
}  // namespace pelmora::platform
