#include "text/charset.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"

namespace pelmora::text {
namespace {

std::string Hex(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned char>(c));
    out += buffer;
  }
  if (!out.empty()) {
    out.pop_back();
  }
  return out;
}

TEST(Utf8ToAnsi, ConvertsToGbkWithReplacements) {
  struct Case {
    const char* label;
    const char* utf8;
    const char* gbk;
  };
  const std::vector<Case> cases = {
      {"one Chinese character", "\xe4\xb8\xad", "\xd6\xd0"},
      {"ascii unchanged", "http://a/b?c=1&d", "http://a/b?c=1&d"},
      {"empty", "", ""},
      {"mixed",
       "a\xe4\xb8\xad"
       "b",
       "a\xd6\xd0"
       "b"},
      {"the window's state word", "未下载", "\xce\xb4\xcf\xc2\xd4\xd8"},
      {"euro sign is 0x80 in this table", "\xe2\x82\xac", "\x80"},
      {"a character GBK lacks becomes a question mark, not 0x1A",
       "a\xe0\xb8\x81"
       "b",
       "a?b"},
      {"a character beyond the BMP becomes one question mark", "\xf0\x9f\x98\x80", "?"},
      // Malformed UTF-8 becomes U+FFFD, which code page 936 lacks in turn.
      {"a stray byte",
       "a\xff"
       "b",
       "a?b"},
      {"a truncated sequence", "\xe4\xb8", "?"},
      {"a truncated sequence before ascii", "\xe4\xb8z", "?z"},
      {"GBK read as UTF-8 is converted whole", "\xd6\xd0\xce\xc4\xd6\xd0\xce\xc4", "????????"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Hex(Utf8ToAnsi(c.utf8).view()), Hex(c.gbk));
  }
}

TEST(MultiByteToUtf16, ReadsUtf8UnlessAnotherCodePageIsGiven) {
  struct Case {
    const char* label;
    Bytes actual;
    std::string_view expected;
  };
  using namespace std::string_view_literals;
  const std::vector<Case> cases = {
      {"ascii, code page not given", MultiByteToUtf16("ab"), "a\0b\0\0\0"sv},
      {"empty text is just the terminator", MultiByteToUtf16(""), "\0\0"sv},
      {"malformed UTF-8 becomes U+FFFD", MultiByteToUtf16("\xff"), "\xfd\xff\0\0"sv},
      {"beyond the BMP: a surrogate pair", MultiByteToUtf16("\xf0\x9f\x98\x80"),
       "\x3d\xd8\x00\xde\0\0"sv},
      {"GBK given", MultiByteToUtf16("\xd6\xd0", kCodePageGbk), "\x2d\x4e\0\0"sv},
      {"code page 0 given means 936", MultiByteToUtf16("\xd6\xd0", kCodePageAnsi),
       "\x2d\x4e\0\0"sv},
      {"an unknown code page is refused", MultiByteToUtf16("ab", 1252), ""sv},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Hex(c.actual.view()), Hex(c.expected));
  }
}

TEST(Utf16ToMultiByte, ReadsUpToTheFirstZeroUnit) {
  struct Case {
    const char* label;
    Text actual;
    const char* expected;
  };
  using namespace std::string_view_literals;
  const std::vector<Case> cases = {
      {"code page not given is 936", Utf16ToMultiByte(Bytes("\x2d\x4e\0\0"sv)), "\xd6\xd0"},
      {"936 given", Utf16ToMultiByte(Bytes("\x2d\x4e\0\0"sv), kCodePageGbk), "\xd6\xd0"},
      {"UTF-8 given", Utf16ToMultiByte(Bytes("\x2d\x4e\0\0"sv), kCodePageUtf8), "\xe4\xb8\xad"},
      {"stops at the zero unit", Utf16ToMultiByte(Bytes("a\0\0\0b\0"sv)), "a"},
      {"no terminator", Utf16ToMultiByte(Bytes("a\0b\0"sv)), "ab"},
      {"an odd last byte is ignored", Utf16ToMultiByte(Bytes("a\0b"sv)), "a"},
      {"empty", Utf16ToMultiByte(Bytes()), ""},
      {"a lone surrogate becomes a question mark",
       Utf16ToMultiByte(Bytes("\x3d\xd8"
                              "a\0"sv)),
       "?a"},
      {"an unknown code page is refused", Utf16ToMultiByte(Bytes("a\0"sv), 1252), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Hex(c.actual.view()), Hex(c.expected));
  }
}

TEST(TextToUtf16Bytes, EndsWithTheZeroUnitUnlessStripped) {
  using namespace std::string_view_literals;
  EXPECT_EQ(Hex(TextToUtf16Bytes("abc").view()), Hex("a\0b\0c\0\0\0"sv));
  EXPECT_EQ(Hex(TextToUtf16Bytes("abc", true).view()), Hex("a\0b\0c\0"sv));
  EXPECT_TRUE(TextToUtf16Bytes("").empty());
  EXPECT_TRUE(TextToUtf16Bytes("", true).empty());
  EXPECT_EQ(Hex(TextToUtf16Bytes("\xd6\xd0").view()), Hex("\x2d\x4e\0\0"sv));
  EXPECT_EQ(Hex(TextToUtf16Bytes("{557CF401-1A04-11D3-9A73-0000F81EF32E}").view().substr(0, 4)),
            Hex("{\0"
                "5\0"sv));
}

TEST(PercentDecode, DecodesEscapesAndFollowsTheTableLookupForMalformedOnes) {
  struct Case {
    const char* label;
    const char* text;
    bool toAnsi;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"two escapes", "%41%62", false, "Ab"},
      {"lower-case digits", "%2f", false, "/"},
      {"upper-case digits", "%2F", false, "/"},
      {"space", "%20", false, " "},
      {"plus stays", "a+b", false, "a+b"},
      {"a zero byte appends nothing", "%00x", false, "x"},
      {"UTF-8 escapes kept as bytes", "%E4%B8%AD", false, "\xe4\xb8\xad"},
      {"UTF-8 escapes to GBK", "%E4%B8%AD", true, "\xd6\xd0"},
      {"mixed escapes and text to GBK", "http://x/%E4%B8%AD.jpg", true, "http://x/\xd6\xd0.jpg"},
      {"no escape, GBK kept",
       "\xd6\xd0"
       "abc",
       false,
       "\xd6\xd0"
       "abc"},
      {"empty", "", true, ""},
      // Malformed escapes: the lookup's results, taken literally.
      {"a lone trailing percent disappears", "a%", false, "a"},
      {"a percent and one digit at the end", "%4", false, "\x40"},
      {"a digit not in the table counts as -2", "%G1", false, "\xe1"},
      {"both digits outside the table", "%gg", false, "\xde"},
      {"low digit outside the table", "%4G", false, ">"},
      {"the escape takes two positions, even a percent", "%%41", false,
       "\xe4"
       "1"},
      {"decoding goes on after a malformed escape", "%G1%41", false,
       "\xe1"
       "A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Hex(PercentDecode(c.text, c.toAnsi).view()), Hex(c.expected));
  }
}

TEST(CodePages, ConvertOnManyThreadsAtOnce) {
  std::string page;
  for (int i = 0; i < 200; ++i) {
    page += "\xe5\x9b\xbe\xe7\x89\x87 picture ";  // 图片
  }
  const Text expected = Utf8ToAnsi(Text(page));
  ASSERT_FALSE(expected.empty());
  std::vector<std::thread> threads;
  threads.reserve(4);
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        if (Utf8ToAnsi(Text(page)) != expected ||
            Utf16ToMultiByte(TextToUtf16Bytes(expected)) != expected) {
          ++mismatches[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// Decoding and encoding take different paths through the platform, so a
// round trip of every double-byte code checks one against the other.
TEST(CodePages, EveryGbkCharacterSurvivesARoundTrip) {
  int checked = 0;
  std::vector<std::string> broken;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
      const Bytes utf16 = TextToUtf16Bytes(Text(gbk), true);
      if (utf16.size() != 2 || utf16.view() == std::string_view("\xfd\xff")) {
        continue;  // not a character of the code page
      }
      ++checked;
      if (Utf16ToMultiByte(utf16, kCodePageGbk).str() != gbk) {
        broken.push_back(Hex(gbk));
      }
    }
  }
  EXPECT_GT(checked, 20000);
  EXPECT_EQ(broken, std::vector<std::string>{});
}

TEST(Paths, GbkTextsBecomeNativePathsAndBack) {
  // 图片下载/1.jpg in GBK, and the same in UTF-8 as the file system spells it.
  const Text gbk = "\xcd\xbc\xc6\xac\xcf\xc2\xd4\xd8/1.jpg";
  const std::filesystem::path native = PathFromText(gbk);
  EXPECT_EQ(native.native(), "图片下载/1.jpg");
  EXPECT_EQ(native.filename().native(), "1.jpg");
  EXPECT_EQ(TextFromPath(native), gbk);
  EXPECT_EQ(TextFromPath("/tmp/\xe0\xb8\x81"), Text("/tmp/?"));  // Thai: GBK lacks it
  EXPECT_EQ(TextFromPath("/tmp/\xff"
                         "a"),
            Text("/tmp/?a"));  // not valid UTF-8
  EXPECT_TRUE(PathFromText("").empty());
}

}  // namespace
}  // namespace pelmora::text
