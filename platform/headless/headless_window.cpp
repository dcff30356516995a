#include "platform/headless/headless_window.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace pelmora::platform {

namespace {

constexpr int kColumnCount = 3;

class HeadlessWindowImpl final : public HeadlessWindow {
 public:
  explicit HeadlessWindowImpl(WindowHandlers handlers) : m_handlers(std::move(handlers)) {
    m_thread = std::thread([this] { WindowThread(); });
    std::unique_lock lock(m_queueLock);
    m_queueChanged.wait(lock, [this] { return m_threadId != std::thread::id(); });
  }

  ~HeadlessWindowImpl() override {
    Close();
    Run();
    InstallEventSink(nullptr);
  }

  HeadlessWindowImpl(const HeadlessWindowImpl&) = delete;
  HeadlessWindowImpl& operator=(const HeadlessWindowImpl&) = delete;

  std::string GetControlText(Control control) override {
    std::string text;
    Call([&] { text = m_texts[control]; });
    return text;
  }

  void SetControlText(Control control, std::string_view text) override {
    Call([&] { m_texts[control] = std::string(text); });
  }

  void SetControlEnabled(Control control, bool enabled) override {
    Call([&] { m_disabled[control] = !enabled; });
  }

  bool IsControlEnabled(Control control) override {
    bool enabled = false;
    Call([&] { enabled = !m_disabled[control]; });
    return enabled;
  }

  int RowCount() override {
    int count = 0;
    Call([&] { count = static_cast<int>(m_rows.size()); });
    return count;
  }

  void DeleteAllRows() override {
    Call([&] { m_rows.clear(); });
  }

  int InsertRow(int position, std::string_view text) override {
    int index = -1;
    Call([&] {
      Row row{.key = m_nextKey++, .cells = {}};
      row.cells[0] = std::string(text);
      const int count = static_cast<int>(m_rows.size());
      index = (position < 0 || position > count) ? count : position;
      m_rows.insert(m_rows.begin() + index, std::move(row));
    });
    return index;
  }

  void SetCellText(int row, int column, std::string_view text) override {
    Call([&] {
      if (Valid(row, column)) {
        m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)] =
            std::string(text);
      }
    });
  }

  std::string GetCellText(int row, int column) override {
    std::string text;
    Call([&] {
      if (Valid(row, column)) {
        text = m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
      }
    });
    return text;
  }

  int FindRowByCell(std::string_view text, int firstRow, int column) override {
    int found = -1;
    Call([&] {
      if (column < 0 || column >= kColumnCount) {
        return;
      }
      for (std::size_t row = firstRow < 0 ? 0 : static_cast<std::size_t>(firstRow);
           row < m_rows.size(); ++row) {
        if (m_rows[row].cells[static_cast<std::size_t>(column)] == text) {
          found = static_cast<int>(row);
          return;
        }
      }
    });
    return found;
  }

  std::uint64_t RowKey(int row) override {
    std::uint64_t key = 0;
    Call([&] {
      if (Valid(row, 0)) {
        key = m_rows[static_cast<std::size_t>(row)].key;
      }
    });
    return key;
  }

  bool SetCellTextByKey(std::uint64_t key, int column, std::string_view text) override {
    bool done = false;
    Call([&] {
      if (column < 0 || column >= kColumnCount) {
        return;
      }
      for (Row& row : m_rows) {
        if (row.key == key) {
          row.cells[static_cast<std::size_t>(column)] = std::string(text);
          done = true;
          return;
        }
      }
    });
    return done;
  }

  int Run() override {
    if (OnWindowThread()) {
      return -1;
    }
    std::lock_guard lock(m_joinLock);
    if (m_thread.joinable()) {
      m_thread.join();
    }
    return 0;
  }

  void Close() override {
    if (OnWindowThread()) {
      BeginClose();
      return;
    }
    std::lock_guard lock(m_queueLock);
    m_closeRequested = true;
    m_queueChanged.notify_all();
  }

  void Click(Control button) override {
    HandlerFor(button);  // validates nothing; a button without a handler does nothing
    if (OnWindowThread()) {
      RunClick(button);
      return;
    }
    auto done = std::make_shared<bool>(false);
    std::unique_lock lock(m_queueLock);
    if (m_closing) {
      return;
    }
    m_queue.push_back(
        Task{.run = [this, button] { RunClick(button); }, .done = done, .underLock = false});
    m_queueChanged.notify_all();
    m_callDone.wait(lock, [&] { return *done || m_closing; });
  }

  std::vector<ErrorBoxRecord> ErrorBoxes() override {
    std::lock_guard lock(m_boxLock);
    return m_boxes;
  }

  bool IsClosing() override {
    std::lock_guard lock(m_queueLock);
    return m_closing || m_closeRequested;
  }

  void ProcessPending() override {
    if (!OnWindowThread()) {
      return;
    }
    std::unique_lock lock(m_queueLock);
    if (m_closeRequested && !m_closing) {
      lock.unlock();
      BeginClose();
      return;
    }
    // Only the calls queued so far: a steady stream of new ones must not keep
    // the caller here for ever.
    std::size_t pending = m_queue.size();
    while (pending-- > 0 && !m_queue.empty()) {
      RunFront(&lock);
    }
  }

  void ShowErrorBox(std::string_view title, std::string_view text) override {
    std::lock_guard lock(m_boxLock);
    m_boxes.push_back({std::string(title), std::string(text)});
  }

 private:
  struct Row {
    std::uint64_t key = 0;
    std::array<std::string, kColumnCount> cells;
  };

  struct Task {
    std::function<void()> run;
    std::shared_ptr<bool> done;  // guarded by m_queueLock
    // Quick model operations run with m_queueLock held, so that their caller,
    // whose stack they write to, cannot stop waiting half-way through.
    bool underLock = true;
  };

  [[nodiscard]] bool OnWindowThread() const { return std::this_thread::get_id() == m_threadId; }

  [[nodiscard]] bool Valid(int row, int column) const {
    return row >= 0 && static_cast<std::size_t>(row) < m_rows.size() && column >= 0 &&
           column < kColumnCount;
  }

  const std::function<void(Window&)>& HandlerFor(Control button) const {
    static const std::function<void(Window&)> kNone;
    switch (button) {
      case Control::kLoadButton:
        return m_handlers.onLoadPage;
      case Control::kDownloadButton:
        return m_handlers.onDownload;
      case Control::kSaveCookieButton:
        return m_handlers.onSaveCookie;
      default:
        return kNone;
    }
  }

  // Window thread.
  void RunClick(Control button) {
    if (m_disabled[button] || m_closing) {
      return;
    }
    if (const auto& handler = HandlerFor(button)) {
      handler(*this);
    }
  }

  // Carries out `operation` on the window thread and returns when done; from
  // another thread after closing has begun, does nothing.
  template <typename Operation>
  void Call(Operation&& operation) {
    if (OnWindowThread()) {
      operation();
      return;
    }
    auto done = std::make_shared<bool>(false);
    std::unique_lock lock(m_queueLock);
    if (m_closing || m_closeRequested) {
      return;
    }
    m_queue.push_back(
        Task{.run = std::function<void()>(operation), .done = done, .underLock = true});
    m_queueChanged.notify_all();
    m_callDone.wait(lock, [&] { return *done || m_closing; });
  }

  // Window thread, with `lock` held on m_queueLock and the queue not empty.
  void RunFront(std::unique_lock<std::mutex>* lock) {
    Task task = std::move(m_queue.front());
    m_queue.pop_front();
    if (task.underLock) {
      task.run();
    } else {
      lock->unlock();
      task.run();
      lock->lock();
    }
    *task.done = true;
    m_callDone.notify_all();
  }

  // Window thread: stops serving other threads, then lets the application
  // wind down.
  void BeginClose() {
    {
      std::lock_guard lock(m_queueLock);
      if (m_closing) {
        return;
      }
      m_closing = true;
      m_closeRequested = true;
      // Their callers stop waiting now; nothing may run on their behalf later.
      m_queue.clear();
      m_callDone.notify_all();
    }
    if (m_handlers.onClosing) {
      m_handlers.onClosing(*this);
    }
    m_closed = true;
  }

  void WindowThread() {
    {
      std::lock_guard lock(m_queueLock);
      m_threadId = std::this_thread::get_id();
      m_queueChanged.notify_all();
    }
    InstallEventSink(this);
    if (m_handlers.onCreated) {
      m_handlers.onCreated(*this);
    }
    std::unique_lock lock(m_queueLock);
    while (!m_closed) {
      m_queueChanged.wait(lock, [this] { return !m_queue.empty() || m_closeRequested; });
      if (m_closeRequested) {
        lock.unlock();
        BeginClose();
        lock.lock();
        continue;
      }
      RunFront(&lock);
    }
  }

  WindowHandlers m_handlers;

  // Window thread only (or its queued operations).
  std::map<Control, std::string> m_texts;
  std::map<Control, bool> m_disabled;
  std::vector<Row> m_rows;
  std::uint64_t m_nextKey = 1;
  bool m_closed = false;

  std::mutex m_queueLock;
  std::condition_variable m_queueChanged;  // a call queued, or a close asked
  std::condition_variable m_callDone;      // a queued call done, or closing began
  std::deque<Task> m_queue;                // guarded by m_queueLock
  bool m_closeRequested = false;           // guarded by m_queueLock
  bool m_closing = false;                  // guarded by m_queueLock; written on the window thread
  std::thread::id m_threadId;              // set once under m_queueLock before any call

  std::mutex m_boxLock;
  std::vector<ErrorBoxRecord> m_boxes;  // guarded by m_boxLock

  std::mutex m_joinLock;
  std::thread m_thread;  // guarded by m_joinLock once started
};

}  // namespace

std::unique_ptr<HeadlessWindow> CreateHeadlessWindow(WindowHandlers handlers) {
  return std::make_unique<HeadlessWindowImpl>(std::move(handlers));
}

}  // namespace pelmora::platform
