#include "app/page_scan.h"

#include <chrono>
#include <future>
#include <stop_token>
#include <utility>

#include "app/program.h"
#include "app/state.h"
#include "app/texts.h"
#include "http/web_request.h"
#include "text/bytes.h"
#include "text/charset.h"
#include "text/extract.h"
#include "text/text.h"

namespace pelmora::app {

namespace {

using platform::Control;

// How often the window thread looks up from its events to see whether the
// page has arrived.
constexpr auto kPumpInterval = std::chrono::milliseconds(2);

bool g_scanRunning = false;   // window thread only
std::stop_source g_scanStop;  // window thread only

// The page body, fetched off the window thread while the window thread keeps
// handling events (clicks, worker calls, a close).
text::Bytes FetchPage(platform::Window& window, const text::Text& address,
                      const text::Text& cookie) {
  g_scanStop = std::stop_source();
  std::stop_token cancel = g_scanStop.get_token();
  std::future<text::Bytes> page =
      std::async(std::launch::async, [address, cookie, cancel = std::move(cancel)] {
        return http::WebRequest(address, {.method = 1, .cookies = cookie, .cancel = cancel});
      });
  while (page.wait_for(kPumpInterval) != std::future_status::ready) {
    window.ProcessPending();
  }
  return page.get();
}

}  // namespace

void CancelPageScan() { g_scanStop.request_stop(); }

void OnLoadPageClicked(platform::Window& window) {
  // A click handled while the scan pumps events would otherwise start a
  // nested scan over the list being built.
  if (g_scanRunning || Closing()) {
    return;
  }
  g_scanRunning = true;
  window.SetControlEnabled(Control::kLoadButton, false);
  text::SeedRandom();
  g_runTag = text::RandomNumber(0, 1000);
  g_downloadSeq = 0;
  ScanPage(window);
  window.SetControlEnabled(Control::kLoadButton, true);
  g_scanRunning = false;
}

void ScanPage(platform::Window& window) {
  window.DeleteAllRows();
  const text::Text address(window.GetControlText(Control::kAddressBox));
  const text::Text cookie(window.GetControlText(Control::kCookieBox));
  const text::Bytes body = FetchPage(window, address, cookie);
  if (Closing()) {
    return;
  }
  const text::Text page = text::Utf8ToAnsi(text::ToText(body));
  window.SetControlText(Control::kPageBox, page.view());

  text::TextList blocks;
  text::ExtractAllBetween(page, kBlockStart, kBlockEnd, {.pieces = &blocks});
  if (Closing()) {
    return;
  }
  if (text::ListCount(blocks) == 0) {
    window.ShowErrorBox(kErrorTitle, kNoBlockBoxText);
    return;
  }

  // Each step goes through the scratch box, which keeps the last of them.
  window.SetControlText(Control::kScratchBox, text::ListItem(blocks, 1).view());
  const text::ReplacePair commaToBackslash[] = {{.find = ",", .replace = "\\"}};
  window.SetControlText(
      Control::kScratchBox,
      text::ReplaceMany(text::Text(window.GetControlText(Control::kScratchBox)), commaToBackslash)
          .view());
  window.SetControlText(
      Control::kScratchBox,
      text::PercentDecode(text::Text(window.GetControlText(Control::kScratchBox)), true).view());
  const text::TextList pieces =
      text::SplitText(text::Text(window.GetControlText(Control::kScratchBox)), "\\");

  const int count = text::ListCount(pieces);
  for (int i = 1; i <= count; ++i) {
    const int row = window.InsertRow(0, text::ToText(i).view());
    window.SetCellText(row, kLinkColumn,
                       text::ConcatText("http:", text::ListItem(pieces, i)).view());
    window.SetCellText(row, kStateColumn, kStateWaiting);
  }
}

}  // namespace pelmora::app
