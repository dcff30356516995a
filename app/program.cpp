#include "app/program.h"

#include <string>
#include <utility>

#include "app/downloads.h"
#include "app/page_scan.h"
#include "app/state.h"
#include "app/texts.h"
#include "platform/files.h"
#include "platform/storage.h"
#include "text/bytes.h"
#include "text/charset.h"

namespace pelmora::app {

std::mutex* g_listLock = nullptr;
std::vector<std::unique_ptr<std::mutex>> g_lockRegistry;
std::atomic<std::int32_t> g_downloadSeq{0};
std::atomic<std::int32_t> g_runTag{0};

namespace {

AppSettings g_settings;  // written by InitGlobals before any thread, read-only after
std::atomic<bool> g_closing{false};

}  // namespace

std::mutex* CreateLock() {
  g_lockRegistry.push_back(std::make_unique<std::mutex>());
  return g_lockRegistry.back().get();
}

const AppSettings& Settings() { return g_settings; }

std::filesystem::path DownloadFolder() {
  return g_settings.downloadFolder.empty() ? DefaultDownloadFolder() : g_settings.downloadFolder;
}

std::filesystem::path CookieFile() {
  return g_settings.cookieFile.empty() ? DefaultCookieFile() : g_settings.cookieFile;
}

bool Closing() { return g_closing.load(); }
void SetClosing() { g_closing.store(true); }

std::filesystem::path DefaultDownloadFolder() {
  return platform::HomeFolder() / kDownloadFolderName;
}

std::filesystem::path DefaultCookieFile() {
  const std::filesystem::path beside = platform::ExecutableDirectory();
  if (platform::IsFolderWritable(beside)) {
    return beside / kCookieFileName;
  }
  const std::filesystem::path config = platform::ConfigFolder();
  return config.empty() ? beside / kCookieFileName : config / kCookieFileName;
}

void InitGlobals() { InitGlobals(AppSettings{}); }

void InitGlobals(AppSettings settings) {
  g_settings = std::move(settings);
  g_listLock = nullptr;
  g_lockRegistry.clear();
  g_downloadSeq = 0;
  g_runTag = 0;
  g_closing = false;
}

void ExitCleanup() {
  // A lock may go only once no worker can take it any more.
  StopWorkers(nullptr);
  g_listLock = nullptr;
  g_lockRegistry.clear();
}

void OnWindowCreated(platform::Window& window) {
  g_listLock = CreateLock();
  const text::Bytes cookie = text::ReadFileBytes(CookieFile());
  window.SetControlText(platform::Control::kCookieBox, text::ToText(cookie).view());
  window.SetControlText(platform::Control::kFolderBox, text::TextFromPath(DownloadFolder()).view());
}

void OnSaveCookieClicked(platform::Window& window) {
  const std::filesystem::path path = CookieFile();
  const std::string cookie = window.GetControlText(platform::Control::kCookieBox);
  std::string error;
  bool saved = true;
  const std::filesystem::path folder = path.parent_path();
  if (!folder.empty() && !platform::IsFolderWritable(folder)) {
    saved = platform::CreateFolders(folder, &error, /*privateFolder=*/true);
  }
  saved = saved && platform::WritePrivateFile(path, cookie, &error);
  if (!saved) {
    const text::Text reason = text::Utf8ToAnsi(text::Text(error));
    window.ShowErrorBox(kErrorTitle, (text::Text(kSaveCookieFailed) + reason).view());
  }
}

void OnWindowClosing(platform::Window& window) {
  SetClosing();
  CancelPageScan();
  StopWorkers(&window);
}

platform::WindowHandlers MainWindowHandlers() {
  return {
      .onCreated = OnWindowCreated,
      .onLoadPage = OnLoadPageClicked,
      .onDownload = OnDownloadClicked,
      .onSaveCookie = OnSaveCookieClicked,
      .onClosing = OnWindowClosing,
  };
}

}  // namespace pelmora::app
