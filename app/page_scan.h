// The page scan behind "加载页面": fetch the post, list its pictures.
#pragma once

#include "platform/window.h"

namespace pelmora::app {

// Empties the list, fetches the post at the address box with the cookie box
// (POST), puts the page into the page box and fills the list with one
// "未下载" row per picture of the page's first picture block, the last one
// on top. Without a block it shows the array error box and returns. The
// request runs on a thread of its own while the window thread keeps pumping
// events. Window thread.
void ScanPage(platform::Window& window);

// Makes a running scan's request give up at once (the window is closing).
// Window thread.
void CancelPageScan();

}  // namespace pelmora::app
