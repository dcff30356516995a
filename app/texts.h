// The words the application shows, as GBK bytes (the source files are UTF-8,
// so each is written as byte escapes with its characters in a comment).
#pragma once

namespace pelmora::app {

inline constexpr char kStateWaiting[] = "\xce\xb4\xcf\xc2\xd4\xd8";         // 未下载
inline constexpr char kStateClaimed[] = "\xcf\xc2\xd4\xd8\xd6\xd0";         // 下载中
inline constexpr char kStateDone[] = "\xcf\xc2\xd4\xd8\xcd\xea\xb3\xc9";    // 下载完成
inline constexpr char kStateFailed[] = "\xcf\xc2\xd4\xd8\xca\xa7\xb0\xdc";  // 下载失败
inline constexpr char kErrorTitle[] = "\xb4\xed\xce\xf3";                   // 错误
// The array error a page without a picture block reports:
// "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n"
inline constexpr char kNoBlockBoxText[] =
    "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n"
    "\r\n\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba"
    "1\r\n"
    "\r\n\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"
    "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb3\xac\xb3\xf6\xb6\xa8\xd2"
    "\xe5\xb7\xb6\xce\xa7\r\n";
// Starts the box shown when the cookie cannot be saved: "保存CK失败: "
inline constexpr char kSaveCookieFailed[] =
    "\xb1\xa3\xb4\xe6"
    "CK"
    "\xca\xa7\xb0\xdc: ";

// The picture block lies between these markers in the page.
inline constexpr char kBlockStart[] = "clear_picSrc=";
inline constexpr char kBlockEnd[] = "&thumb_picSrc=%";

// The cookie file's name, and the download folder's name under $HOME (a
// native UTF-8 name, never GBK).
inline constexpr char kCookieFileName[] = "CK.TXT";
inline constexpr char kDownloadFolderName[] = "图片下载";

// List columns.
inline constexpr int kNumberColumn = 0;
inline constexpr int kLinkColumn = 1;
inline constexpr int kStateColumn = 2;

}  // namespace pelmora::app
