// The window system as the application sees it: one main window with named
// controls and a three-column list, and the operations on them.
//
// Texts cross this interface as GBK bytes (std::string); implementations
// convert to their toolkit's strings internally.
//
// Threads: every operation may be called from any thread. A call made on
// another thread is carried out by the window thread, and returns its result
// when done. Handlers run on the window thread. The window thread never waits
// for application locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/events.h"

namespace pelmora::platform {

// The controls the application reads or writes. Names in comments are the
// form names the window's layout uses.
enum class Control {
  kAddressBox,        // 编辑框1: the post's address
  kPageBox,           // 编辑框2: hidden; holds the converted page after a scan
  kCookieBox,         // 编辑框3: the cookie ("CK")
  kFolderBox,         // 编辑框4: shows the save folder (read-only)
  kScratchBox,        // 编辑框5: hidden; holds the decoded picture block
  kLoadButton,        // 按钮1: "加载页面"
  kDownloadButton,    // 按钮2: "下载"
  kSaveCookieButton,  // 按钮3: "保存CK"
};

class Window;

// Handlers, all called on the window thread. Any may be empty.
struct WindowHandlers {
  std::function<void(Window&)> onCreated{};       // once, after every control exists, before any click
  std::function<void(Window&)> onLoadPage{};      // 按钮1 clicked
  std::function<void(Window&)> onDownload{};      // 按钮2 clicked
  std::function<void(Window&)> onSaveCookie{};    // 按钮3 clicked
  std::function<void(Window&)> onClosing{};       // the window is closing; the loop ends after it returns
};

// A window is also the event sink of its process while it runs (pumping
// events, error boxes).
class Window : public EventSink {
 public:
  ~Window() override = default;

  // The whole text of an edit box.
  [[nodiscard]] virtual std::string GetControlText(Control control) = 0;
  virtual void SetControlText(Control control, std::string_view text) = 0;
  virtual void SetControlEnabled(Control control, bool enabled) = 0;

  // The list; rows and columns count from 0.
  [[nodiscard]] virtual int RowCount() = 0;
  virtual void DeleteAllRows() = 0;
  // A position of 0 or more inserts there (rows below move down); a negative
  // one appends. Column 0 gets `text`, the other cells are empty. Returns the
  // new row's index.
  virtual int InsertRow(int position, std::string_view text) = 0;
  // A row that does not exist is ignored.
  virtual void SetCellText(int row, int column, std::string_view text) = 0;
  // A row that does not exist gives the empty text.
  [[nodiscard]] virtual std::string GetCellText(int row, int column) = 0;
  // The first row from `firstRow` (negative: 0) whose cell in `column` equals
  // `text` byte for byte, or -1.
  [[nodiscard]] virtual int FindRowByCell(std::string_view text, int firstRow, int column) = 0;
  // Every row gets a key at insertion that no other row of this window ever
  // had. 0 when the row does not exist.
  [[nodiscard]] virtual std::uint64_t RowKey(int row) = 0;
  // Sets a cell of the row with that key, wherever it now stands; false (and
  // nothing changed) when that row no longer exists. Done in one step on the
  // window thread, so no rebuild of the list can come between.
  virtual bool SetCellTextByKey(std::uint64_t key, int column, std::string_view text) = 0;

  // Runs the event loop until the window is closed; returns the exit status.
  virtual int Run() = 0;
  // Asks the window to close, as the user's close button does. Any thread.
  virtual void Close() = 0;
};

}  // namespace pelmora::platform
