#include "app/downloads.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/program.h"
#include "app/state.h"
#include "app/texts.h"
#include "http/web_request.h"
#include "imaging/convert_image.h"
#include "platform/storage.h"
#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::app {

namespace {

constexpr int kJpegFormat = 2;

struct Worker {
  std::jthread thread;
  std::shared_ptr<std::atomic<bool>> ended;
};

// Started and reaped on the window thread (or by ExitCleanup once the window
// is gone); workers never touch this list.
std::mutex g_workersLock;
std::vector<Worker> g_workers;  // guarded by g_workersLock

std::atomic<std::int64_t> g_workersStarted{0};
std::mutex g_activeLock;
std::condition_variable g_activeChanged;
int g_activeWorkers = 0;  // guarded by g_activeLock

// Decoding and encoding are bound by the processor, and the codec lets only
// one picture per core in at a time; the others queue here, asleep, rather
// than all at the codec's door. JPEGs, which the codec only looks at, pass.
class ConversionSlots {
 public:
  // Takes a slot; false when `stop` came first.
  bool Acquire(const std::stop_token& stop) {
    std::unique_lock lock(m_lock);
    if (!m_freed.wait(lock, stop, [this] { return m_free > 0; })) {
      return false;
    }
    --m_free;
    return true;
  }
  void Release() {
    {
      std::lock_guard lock(m_lock);
      ++m_free;
    }
    m_freed.notify_one();
  }

 private:
  std::mutex m_lock;
  std::condition_variable_any m_freed;
  int m_free =
      static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));  // guarded by m_lock
};

ConversionSlots g_conversionSlots;

// One claimed row.
struct Claim {
  std::uint64_t rowKey = 0;
  std::string link;  // GBK
  std::int32_t number = 0;
  std::int32_t tag = 0;
};

// Claims the topmost waiting row; false when none waits. Under g_listLock.
//
// The window may rebuild the list between two of our calls (a page scan runs
// on the window thread), so the row is pinned by its key: the link read is
// kept only when the same row still stands at that index afterwards, and the
// "下载中" mark goes to that row by key.
bool ClaimRow(platform::Window& window, const std::stop_token& stop, Claim* claim) {
  while (!stop.stop_requested()) {
    const int row = window.FindRowByCell(kStateWaiting, 0, kStateColumn);
    if (row < 0) {
      return false;
    }
    const std::uint64_t key = window.RowKey(row);
    if (key == 0) {
      continue;
    }
    std::string link = window.GetCellText(row, kLinkColumn);
    if (window.RowKey(row) != key || !window.SetCellTextByKey(key, kStateColumn, kStateClaimed)) {
      continue;
    }
    claim->rowKey = key;
    claim->link = std::move(link);
    claim->number = ++g_downloadSeq;
    claim->tag = g_runTag.load();
    return true;
  }
  return false;
}

// Fetches the picture, converts it to JPEG and saves it under a name of its
// own. Fills `report`; `report->saved` only when the file was written.
void DownloadOne(const Claim& claim, const std::stop_token& stop, PictureReport* report) {
  http::RequestOutcome outcome;
  text::Bytes body =
      http::WebRequest(text::Text(claim.link), {.method = 0, .outcome = &outcome, .cancel = stop});
  report->bytes = body.size();
  if (stop.stop_requested() || !outcome.complete || outcome.status == 0 || outcome.status >= 400) {
    return;
  }
  // The codec keeps a JPEG asked for as JPEG byte for byte once its header
  // reads, so the body itself becomes the file, without a copy of it.
  const bool jpeg = body.view().starts_with("\xff\xd8\xff");
  if (!jpeg && !g_conversionSlots.Acquire(stop)) {
    return;
  }
  text::Bytes encoded;
  const int converted =
      imaging::ConvertImage(body, kJpegFormat, text::Text(), jpeg ? nullptr : &encoded, false);
  if (!jpeg) {
    g_conversionSlots.Release();
  }
  if (jpeg) {
    encoded = text::Bytes(body.release());
  }
  body = text::Bytes();
  if (converted != 1 || stop.stop_requested()) {
    return;
  }
  const std::filesystem::path folder = DownloadFolder();
  if (!platform::CreateFolders(folder)) {
    return;
  }
  const std::string stem = std::to_string(claim.number) + std::to_string(claim.tag);
  report->file = platform::SaveNewFile(folder, stem, ".jpg", encoded.view());
  report->saved = !report->file.empty();
}

void WorkerEnded() {
  std::lock_guard lock(g_activeLock);
  --g_activeWorkers;
  g_activeChanged.notify_all();
}

// Joins the workers that have ended. Holds g_workersLock.
void ReapEnded() {
  std::erase_if(g_workers, [](Worker& worker) {
    if (!worker.ended->load()) {
      return false;
    }
    worker.thread.join();
    return true;
  });
}

}  // namespace

void DownloadWorker(platform::Window& window, const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    Claim claim;
    {
      std::lock_guard lock(*g_listLock);
      if (!ClaimRow(window, stop, &claim)) {
        return;
      }
    }
    PictureReport report{.rowKey = claim.rowKey, .claim = claim.number, .link = claim.link};
    DownloadOne(claim, stop, &report);
    {
      std::lock_guard lock(*g_listLock);
      // A row a page scan has removed meanwhile keeps no mark: the key is gone.
      window.SetCellTextByKey(claim.rowKey, kStateColumn, report.saved ? kStateDone : kStateFailed);
    }
    if (Settings().onPictureDone) {
      Settings().onPictureDone(report);
    }
  }
}

void OnDownloadClicked(platform::Window& window) {
  if (Closing() || g_listLock == nullptr) {
    return;
  }
  const int rows = window.RowCount();
  std::lock_guard lock(g_workersLock);
  ReapEnded();
  for (int i = 0; i < rows; ++i) {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    {
      std::lock_guard active(g_activeLock);
      ++g_activeWorkers;
    }
    try {
      g_workers.push_back(
          Worker{.thread = std::jthread([&window, ended](const std::stop_token& stop) {
                   DownloadWorker(window, stop);
                   ended->store(true);
                   WorkerEnded();
                 }),
                 .ended = ended});
    } catch (const std::system_error&) {
      // A thread that cannot be started is skipped; the others take its rows.
      WorkerEnded();
      continue;
    }
    ++g_workersStarted;
  }
}

std::int64_t WorkersStarted() { return g_workersStarted.load(); }

int ActiveWorkers() {
  std::lock_guard lock(g_activeLock);
  return g_activeWorkers;
}

bool WaitForWorkers(std::chrono::milliseconds timeout) {
  std::unique_lock lock(g_activeLock);
  return g_activeChanged.wait_for(lock, timeout, [] { return g_activeWorkers == 0; });
}

void StopWorkers(platform::Window* window) {
  std::lock_guard lock(g_workersLock);
  for (Worker& worker : g_workers) {
    worker.thread.request_stop();
  }
  // The workers' last window calls need the window thread, which is this one.
  while (!WaitForWorkers(std::chrono::milliseconds(2))) {
    if (window != nullptr) {
      window->ProcessPending();
    }
  }
  for (Worker& worker : g_workers) {
    worker.thread.join();
  }
  g_workers.clear();
}

}  // namespace pelmora::app
