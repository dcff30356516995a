// pelmora-cli: the page scan and the downloads of the window program, run
// through the headless window and reported on standard output.

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "app/downloads.h"
#include "app/program.h"
#include "app/settings.h"
#include "app/texts.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/headless/headless_window.h"
#include "platform/http.h"
#include "platform/memory.h"
#include "text/bytes.h"
#include "text/charset.h"

namespace {

using pelmora::platform::Control;

constexpr int kExitAllSaved = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitNoPictureBlock = 2;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

std::string GbkToUtf8(std::string_view gbk) {
  return pelmora::platform::EncodeCodePage(pelmora::platform::DecodeCodePage(gbk, 936), 65001);
}

// A cookie read from a file or a pipe usually ends with a line break, which
// is no part of the cookie.
std::string WithoutTrailingLineBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

std::optional<std::string> ReadCookieFile(const std::string& name) {
  if (name == "-") {
    std::string all{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    if (std::cin.bad()) {
      return std::nullopt;
    }
    return WithoutTrailingLineBreaks(std::move(all));
  }
  std::optional<std::string> bytes = pelmora::platform::ReadWholeFile(name);
  if (!bytes) {
    return std::nullopt;
  }
  return WithoutTrailingLineBreaks(std::move(*bytes));
}

// What the workers have reported so far.
struct Progress {
  std::mutex lock;
  std::map<std::uint64_t, std::filesystem::path> files;  // guarded by lock; by row key
  int done = 0;                                          // guarded by lock
  std::int64_t bytes = 0;                                // guarded by lock
};

std::string Megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

void DrawProgress(Progress* progress, int total, std::chrono::steady_clock::time_point start) {
  int done = 0;
  std::int64_t bytes = 0;
  {
    std::lock_guard lock(progress->lock);
    done = progress->done;
    bytes = progress->bytes;
  }
  constexpr int kWidth = 30;
  const int filled = total > 0 ? done * kWidth / total : kWidth;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " +
                     std::to_string(done) + "/" + std::to_string(total) + "  " +
                     Megabytes(static_cast<double>(bytes)) + "  " + Megabytes(rate) + "/s  ";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

int RunCli(int argc, char** argv) {
  CLI::App cli{"Downloads every picture of one blog post as JPEG files.", "pelmora-cli"};
  std::string cookie;
  std::string cookieFile;
  std::string folder;
  std::string url;
  bool quiet = false;
  CLI::Option* cookieOption =
      cli.add_option("--cookie", cookie, "The session cookie (visible to other local users)");
  CLI::Option* cookieFileOption = cli.add_option("--cookie-file", cookieFile,
                                                 "Read the cookie from FILE ('-': standard input)");
  cookieOption->excludes(cookieFileOption);
  cli.add_option("--dir", folder, "Save the pictures in DIR (default: ~/图片下载)");
  cli.add_flag("-q,--quiet", quiet, "No progress bar");
  cli.add_option("URL", url, "The post's address")->required();
  cli.set_version_flag("--version", std::string("pelmora-cli ") + PELMORA_VERSION);
  cli.footer(
      "Prints one line per picture: number, state, file (or -), link, tab-separated.\n"
      "Exit status: 0 all saved, 1 some failed, 2 no picture list on the page (the cookie may\n"
      "have expired), 64 usage error, 130 interrupted.");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return cli.exit(error) == 0 ? kExitAllSaved : kExitUsage;
  }

  std::optional<std::string> cookieText;
  if (cookieOption->count() > 0) {
    cookieText = pelmora::text::Utf8ToAnsi(pelmora::text::Text(cookie)).str();
  } else if (cookieFileOption->count() > 0) {
    cookieText = ReadCookieFile(cookieFile);
    if (!cookieText) {
      std::cerr << "pelmora-cli: cannot read the cookie file " << cookieFile << "\n";
      return kExitUsage;
    }
    cookieText = pelmora::text::ToText(pelmora::text::Bytes(*cookieText)).str();
  }

  // Before any thread: Ctrl-C as an event every later thread leaves to the
  // watcher below, the allocator's settings, the HTTP library's global set-up.
  pelmora::platform::CatchInterrupts();
  pelmora::platform::ReuseLargeBuffers();
  pelmora::platform::InitHttp();

  Progress progress;
  pelmora::app::AppSettings settings;
  if (!folder.empty()) {
    settings.downloadFolder = std::filesystem::absolute(folder);
  }
  settings.onPictureDone = [&progress](const pelmora::app::PictureReport& report) {
    std::lock_guard lock(progress.lock);
    progress.files[report.rowKey] = report.file;
    ++progress.done;
    progress.bytes += report.bytes;
  };
  pelmora::app::InitGlobals(std::move(settings));
  std::unique_ptr<pelmora::platform::HeadlessWindow> window =
      pelmora::platform::CreateHeadlessWindow(pelmora::app::MainWindowHandlers());

  std::atomic<bool> interrupted{false};
  std::jthread watcher([&](const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      if (pelmora::platform::WaitForInterrupt(std::chrono::milliseconds(100))) {
        if (interrupted.exchange(true)) {
          // A second interrupt while winding down: the user wants out now.
          std::_Exit(kExitInterrupted);
        }
        window->Close();
      }
    }
  });

  window->SetControlText(Control::kAddressBox,
                         pelmora::text::Utf8ToAnsi(pelmora::text::Text(url)).view());
  if (cookieText) {
    window->SetControlText(Control::kCookieBox, *cookieText);
  }

  int status = kExitAllSaved;
  const std::size_t boxesBefore = window->ErrorBoxes().size();
  window->Click(Control::kLoadButton);
  if (!interrupted && window->ErrorBoxes().size() > boxesBefore) {
    std::cerr << "pelmora-cli: the page holds no picture list; the cookie may have expired\n";
    status = kExitNoPictureBlock;
  }
  if (!interrupted && status == kExitAllSaved) {
    const int total = window->RowCount();
    const bool showProgress =
        !quiet && total > 0 &&
        pelmora::platform::IsTerminal(pelmora::platform::StandardStream::kError);
    const auto start = std::chrono::steady_clock::now();
    window->Click(Control::kDownloadButton);
    while (!pelmora::app::WaitForWorkers(std::chrono::milliseconds(200))) {
      if (showProgress) {
        DrawProgress(&progress, total, start);
      }
    }
    if (showProgress) {
      DrawProgress(&progress, total, start);
      std::fputs("\n", stderr);
    }
    if (!interrupted) {
      std::string out;
      for (int row = 0; row < total; ++row) {
        const std::string state = window->GetCellText(row, pelmora::app::kStateColumn);
        std::filesystem::path file;
        {
          std::lock_guard lock(progress.lock);
          if (auto found = progress.files.find(window->RowKey(row));
              found != progress.files.end()) {
            file = found->second;
          }
        }
        if (state != pelmora::app::kStateDone) {
          status = kExitSomeFailed;
        }
        out += GbkToUtf8(window->GetCellText(row, pelmora::app::kNumberColumn)) + "\t" +
               GbkToUtf8(state) + "\t" + (file.empty() ? std::string("-") : file.string()) + "\t" +
               GbkToUtf8(window->GetCellText(row, pelmora::app::kLinkColumn)) + "\n";
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
    }
  }

  watcher.request_stop();
  watcher.join();
  window->Close();
  window->Run();
  pelmora::app::ExitCleanup();
  window.reset();
  if (interrupted) {
    std::cerr << "pelmora-cli: interrupted\n";
    return kExitInterrupted;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunCli(argc, argv);
  } catch (const std::exception& error) {
    // Only running out of memory or threads gets here.
    std::fprintf(stderr, "pelmora-cli: %s\n", error.what());
    return kExitSomeFailed;
  }
}
