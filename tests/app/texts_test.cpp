#include "app/texts.h"

#include <gtest/gtest.h>

#include <string>

#include "text/charset.h"

namespace pelmora::app {
namespace {

// The words are written as GBK byte escapes; each must be what the UTF-8
// spelling converts to.
TEST(TextsTest, GbkConstantsMatchTheirWords) {
  struct Case {
    const char* label;
    const char* gbk;
    const char* utf8;
  };
  const Case cases[] = {
      {"waiting", kStateWaiting, "未下载"},
      {"claimed", kStateClaimed, "下载中"},
      {"done", kStateDone, "下载完成"},
      {"failed", kStateFailed, "下载失败"},
      {"error title", kErrorTitle, "错误"},
      {"save failed", kSaveCookieFailed, "保存CK失败: "},
      {"no block", kNoBlockBoxText,
       "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(std::string(c.gbk), text::Utf8ToAnsi(text::Text(c.utf8)).str());
  }
}

}  // namespace
}  // namespace pelmora::app
