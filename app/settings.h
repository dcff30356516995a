// Where the application keeps its files, and who hears about each picture.
// Filled once before the window exists (InitGlobals) and read-only after.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace pelmora::app {

// What became of one claimed row. `saved` false means the row ended
// "下载失败".
struct PictureReport {
  std::uint64_t rowKey = 0;  // the row's key in the window (RowKey)
  int claim = 0;             // the claim number within its run
  std::string link;          // GBK, as listed
  bool saved = false;
  std::filesystem::path file{};  // the file written; empty unless saved
  std::int64_t bytes = 0;        // bytes received for the picture
};

struct AppSettings {
  // Pictures go here; empty: DefaultDownloadFolder().
  std::filesystem::path downloadFolder{};
  // The cookie file; empty: DefaultCookieFile().
  std::filesystem::path cookieFile{};
  // Called on a worker thread after each claimed row has been marked; may be
  // empty. Must not call the window.
  std::function<void(const PictureReport&)> onPictureDone{};
};

// $HOME/图片下载 (the home folder from the system when $HOME is unset).
[[nodiscard]] std::filesystem::path DefaultDownloadFolder();
// CK.TXT beside the executable, or in the config folder when the executable's
// folder is not writable (an installed copy).
[[nodiscard]] std::filesystem::path DefaultCookieFile();

}  // namespace pelmora::app
