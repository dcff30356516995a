#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "text/charset.h"

namespace pelmora::text {
namespace {

// Shows texts as escaped bytes in failure messages.
std::string Show(const Text& text) {
  std::string out;
  for (const char c : text.view()) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
      out += buffer;
    }
  }
  return out;
}

#define EXPECT_TEXT(actual, expected) EXPECT_EQ(Show(actual), Show(Text(expected)))

TEST(TextValue, DropsEverythingFromTheFirstZeroByte) {
  EXPECT_TEXT(Text(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_TEXT(Text(std::string("\0x", 2)), "");
  EXPECT_EQ(TextLength(Text(std::string("abc"))), 3);
}

TEST(TextCutting, ClampsCountsAndPositions) {
  struct Case {
    const char* label;
    Text actual;
    const char* expected;
  };
  const Text abc = "abc";
  const Text abcdef = "abcdef";
  const std::vector<Case> cases = {
      {"left more than length", TextLeft(abc, 5), "abc"},
      {"left zero", TextLeft(abc, 0), ""},
      {"left negative", TextLeft(abc, -1), ""},
      {"left cuts a double-byte character",
       TextLeft("\xd6\xd0"
                "a",
                1),
       "\xd6"},
      {"right two", TextRight(abc, 2), "bc"},
      {"right more than length", TextRight(abc, 9), "abc"},
      {"right negative", TextRight(abc, -3), ""},
      {"mid inside", TextMid(abcdef, 3, 2), "cd"},
      {"mid past the end is cut", TextMid(abcdef, 5, 9), "ef"},
      {"mid start zero is not moved to 1", TextMid(abcdef, 0, 2), ""},
      {"mid start past the end", TextMid(abcdef, 7, 1), ""},
      {"mid at the last byte", TextMid(abcdef, 6, 1), "f"},
      {"mid count zero", TextMid(abcdef, 2, 0), ""},
      {"mid huge count", TextMid(abcdef, 2, INT_MAX), "bcdef"},
      {"mid of empty", TextMid("", 1, 1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TEXT(c.actual, c.expected);
  }
}

struct FindCase {
  const char* label;
  const char* text;
  const char* sought;
  std::optional<int> start;
  bool caseInsensitive;
  int expected;
};

TEST(FindText, FindsAtCharacterStartsFromTheGivenStart) {
  const std::vector<FindCase> cases = {
      {"first match", "abcb", "b", std::nullopt, false, 2},
      {"from start 3", "abcb", "b", 3, false, 4},
      {"start 0 means the beginning", "abcb", "b", 0, false, 2},
      {"negative start means the beginning", "abcb", "b", -5, false, 2},
      {"start past the last match", "abcb", "b", 5, false, -1},
      {"the smallest start means the beginning", "abcb", "b", INT_MIN, false, 2},
      {"match at the very end", "abcb", "cb", std::nullopt, false, 3},
      {"longer than the text", "ab", "abc", std::nullopt, false, -1},
      {"case differs, sensitive", "Host: x\r\nUSER-AGENT: y", "User-Agent:", std::nullopt, false,
       -1},
      {"case differs, insensitive", "Host: x\r\nUSER-AGENT: y", "User-Agent:", std::nullopt, true,
       10},
      {"empty sought in text", "abc", "", std::nullopt, false, 1},
      {"empty sought from a later start is still 1", "abc", "", 3, false, 1},
      {"empty sought past the end", "abc", "", 4, false, -1},
      {"empty sought in empty text", "", "", std::nullopt, false, -1},
      {"empty text", "", "a", std::nullopt, false, -1},
      {"never on a trail byte", "\xb0\x41", "A", std::nullopt, false, -1},
      {"after a double-byte character", "\xb0\x41\x41", "A", std::nullopt, false, 3},
      {"a start on a trail byte is taken as a character start", "\xb0\x41", "A", 2, false, 2},
      {"a trail byte that looks like a lead byte", "\xb0\xb0\x41", "A", std::nullopt, false, 3},
      {"a double-byte match", "a\xd6\xd0\xce\xc4", "\xce\xc4", std::nullopt, false, 4},
      {"double-byte sought only matches aligned", "\xb0\xd6\xd0\xce", "\xd6\xd0", std::nullopt,
       false, -1},
      {"folding reaches second bytes of double-byte characters", "\xb0\x41", "\xb0\x61",
       std::nullopt, true, 1},
      {"a lone trailing lead byte is still a candidate", "a\xb0", "\xb0", std::nullopt, false, 2},
      {"a lone trailing lead byte does not reach past the end", "a\xb0", "\xb0\x41", std::nullopt,
       false, -1},
      {"a false match inside a character, the real one later", "\xb0\x61\x61", "a", std::nullopt,
       false, 3},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FindText(c.text, c.sought, c.start, c.caseInsensitive), c.expected);
  }
}

TEST(FindTextReverse, FindsTheLastMatchWhollyBeforeStart) {
  const std::vector<FindCase> cases = {
      {"whole text", "a.b.c", ".", std::nullopt, false, 4},
      {"before position 4", "a.b.c", ".", 4, false, 2},
      {"before position 2", "a.b.c", ".", 2, false, -1},
      {"start past the end", "a.b.c", ".", 99, false, 4},
      {"start 1 leaves nothing", "a.b.c", ".", 1, false, -1},
      {"the smallest start leaves nothing", "a.b.c", ".", INT_MIN, false, -1},
      {"a match must end before start", "abab", "ab", 4, false, 1},
      {"match ending right before start", "abab", "ab", 5, false, 3},
      {"case folded", "xAbxaB", "ab", std::nullopt, true, 5},
      {"empty sought", "abc", "", std::nullopt, false, 1},
      {"empty sought in an empty window", "abc", "", 1, false, -1},
      {"never on a trail byte", "a\xb0\x41", "A", std::nullopt, false, -1},
      {"walk from 1 keeps the character grid", "\xb0\x41\x41\xb0\x41", "A", std::nullopt, false, 3},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FindTextReverse(c.text, c.sought, c.start, c.caseInsensitive), c.expected);
  }
}

TEST(FindTextReverse, StepsBackwardsThroughOccurrences) {
  std::vector<int> seen;
  std::optional<int> start;
  for (int p = FindTextReverse("x,y,,z", ",", start, false); p != -1;
       p = FindTextReverse("x,y,,z", ",", start, false)) {
    seen.push_back(p);
    start = p;
  }
  EXPECT_EQ(seen, (std::vector<int>{5, 4, 2}));
}

TEST(SplitText, CutsAtDelimitersWithoutATrailingEmptyMember) {
  struct Case {
    const char* label;
    const char* text;
    const char* delimiter;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"two members", "a,b", ",", {"a", "b"}},
      {"leading delimiter", ",a", ",", {"", "a"}},
      {"adjacent delimiters", "a,,b", ",", {"a", "", "b"}},
      {"trailing delimiter", "a,", ",", {"a"}},
      {"a lone delimiter", ",", ",", {""}},
      {"no delimiter", "a", ",", {"a"}},
      {"empty text", "", ",", {}},
      {"empty delimiter", "a,b", "", {"a,b"}},
      {"line breaks", "x\r\ny\r\n", "\r\n", {"x", "y"}},
      {"leading line break", "\r\nx", "\r\n", {"", "x"}},
      {"exact case", "aXbxc", "x", {"aXb", "c"}},
      {"not inside a double-byte character", "\xb0\\a\\b", "\\", {"\xb0\\a", "b"}},
      {"double-byte members", "\xd6\xd0,\xce\xc4", ",", {"\xd6\xd0", "\xce\xc4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> members;
    for (const Text& member : SplitText(c.text, c.delimiter)) {
      members.push_back(member.str());
    }
    EXPECT_EQ(members, c.expected);
  }
}

TEST(ReplaceSubtext, ReplacesFromStartWithinCount) {
  struct Case {
    const char* label;
    const char* text;
    const char* sought;
    ReplaceOptions options;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"every occurrence", "a,b,c", ",", {.replacement = "\\"}, "a\\b\\c"},
      {"count 1", "a,b,c", ",", {.replacement = "\\", .count = 1}, "a\\b,c"},
      {"from start 3", "a,b,c", ",", {.replacement = "\\", .start = 3}, "a,b\\c"},
      {"count 0 changes nothing", "a,b,c", ",", {.replacement = "\\", .count = 0}, "a,b,c"},
      {"negative count is unlimited", "a,b,c", ",", {.replacement = "\\", .count = -1}, "a\\b\\c"},
      {"start 0 means 1", ",b", ",", {.replacement = "-", .start = 0}, "-b"},
      {"start past the end", "a,b", ",", {.replacement = "-", .start = 4}, "a,b"},
      {"the smallest start means 1", ",b", ",", {.replacement = "-", .start = INT_MIN}, "-b"},
      {"start at the last byte", "a,b,", ",", {.replacement = "-", .start = 4}, "a,b-"},
      {"no replacement deletes, folding", "Set-Cookie: a=1", "set-cookie:", {}, " a=1"},
      {"case-sensitive keeps it",
       "Set-Cookie: a=1",
       "set-cookie:",
       {.caseSensitive = true},
       "Set-Cookie: a=1"},
      {"empty sought", "abc", "", {.replacement = "x"}, "abc"},
      {"empty text", "", "a", {.replacement = "x"}, ""},
      {"replaced text is not searched again", "aa", "a", {.replacement = "aa"}, "aaaa"},
      {"overlapping matches go left to right", "aaa", "aa", {.replacement = "b"}, "ba"},
      {"not on a trail byte",
       "\xb0\x41"
       "A",
       "A",
       {.replacement = "x", .caseSensitive = true},
       "\xb0\x41x"},
      {"one-byte search drops a lone trailing lead byte",
       "a,b\xb0",
       ",",
       {.replacement = ";"},
       "a;b"},
      {"one-byte search drops it even without matches", "ab\xb0", ",", {}, "ab"},
      {"one-byte search matching the lone byte replaces it",
       "a\xb0",
       "\xb0",
       {.replacement = "x"},
       "ax"},
      {"longer search keeps a lone trailing lead byte", "a,b\xb0", ",;", {}, "a,b\xb0"},
      {"the lone byte stays after the last counted replacement",
       "a,b\xb0",
       ",",
       {.replacement = ";", .count = 1},
       "a;b\xb0"},
      {"a lone byte hidden as a trail byte is not lone", "a\xb0\xb0", ",", {}, "a\xb0\xb0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TEXT(ReplaceSubtext(c.text, c.sought, c.options), c.expected);
  }
}

TEST(Spaces, TrimAndRemoveKnowOnlyTheTwoSpaceCharacters) {
  struct Case {
    const char* label;
    const char* text;
    const char* trimmed;
    const char* withoutSpaces;
  };
  const std::vector<Case> cases = {
      {"ascii spaces", "  a b  ", "a b", "ab"},
      {"a leading tab stays", "\ta ", "\ta", "\ta"},
      {"line breaks are not spaces", "\r\na\r\n", "\r\na\r\n", "\r\na\r\n"},
      {"full-width spaces",
       "\xa1\xa1"
       "a\xa1\xa1",
       "a", "a"},
      {"mixed run at the end", "a \xa1\xa1 ", "a", "a"},
      {"only spaces", " \xa1\xa1 ", "", ""},
      {"empty", "", "", ""},
      {"A1 A1 across two characters is not a space", "\xb0\xa1\xa1\xb0", "\xb0\xa1\xa1\xb0",
       "\xb0\xa1\xa1\xb0"},
      {"a lone trailing lead byte is dropped", "a\xb0", "a", "a"},
      {"a space before a lone lead byte ends the text", "a \xb0", "a", "a"},
      {"a lone A1 at the end is no space and is dropped", "a\xa1", "a", "a"},
      {"assignments", "a = 1; b = 2", "a = 1; b = 2", "a=1;b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TEXT(TrimBoth(c.text), c.trimmed);
    EXPECT_TEXT(RemoveAllSpaces(c.text), c.withoutSpaces);
  }
}

TEST(CaseFolding, FoldsAsciiLettersOutsideDoubleByteCharacters) {
  EXPECT_TEXT(ToUpper("abc-XYZ"), "ABC-XYZ");
  EXPECT_TEXT(ToLower("ABC-xyz"), "abc-xyz");
  EXPECT_TEXT(ToUpper("\xb0\x61"
                      "a"),
              "\xb0\x61"
              "A");
  EXPECT_TEXT(ToLower("\xb0\x41"
                      "A"),
              "\xb0\x41"
              "a");
  EXPECT_TEXT(ToUpper("a\xb0"), "A\xb0");  // a lone trailing lead byte is kept
}

TEST(CharCodes, SignedFirstByteAndOneByteTexts) {
  EXPECT_EQ(CharCode(" x"), 32);
  EXPECT_EQ(CharCode(""), 0);
  EXPECT_EQ(CharCode("\xb0"), -80);
  EXPECT_TEXT(CharFromCode(0), "");
  EXPECT_TEXT(CharFromCode(65), "A");
  EXPECT_TEXT(CharFromCode(256 + 66), "B");
  EXPECT_TEXT(CharFromCode(-80), "\xb0");
  EXPECT_TEXT(CharFromCode(256), "");
}

TEST(TextToInt, ReadsDecimalAfterFullWidthFormsAndWraps) {
  struct Case {
    const char* label;
    const char* text;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"plain", "8080", 8080},
      {"leading space, trailing letters", " 443abc", 443},
      {"stops at a slash", "443/", 443},
      {"negative", "-12", -12},
      {"plus sign", "+7", 7},
      {"letters", "abc", 0},
      {"empty", "", 0},
      {"only a sign", "-", 0},
      {"two signs", "+-3", 0},
      {"no hexadecimal prefix", "0x1A", 0},
      {"white space of every kind", "\t\n\v\f\r 5", 5},
      {"space between sign and digits", "- 5", 0},
      {"full-width digits", "\xa3\xb8\xa3\xb0", 80},
      {"full-width minus", "\xa3\xad\xa3\xb5", -5},
      {"full-width space before digits",
       "\xa1\xa1"
       "9",
       9},
      {"other double-byte characters stop the digits",
       "1\xd6\xd0"
       "2",
       1},
      {"largest", "2147483647", INT32_MAX},
      {"wraps past the largest", "2147483648", INT32_MIN},
      {"smallest", "-2147483648", INT32_MIN},
      {"wraps below the smallest", "-2147483649", INT32_MAX},
      {"wraps around 2^32", "4294967297", 1},
      {"leading zeros", "007", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(TextToInt(c.text), c.expected);
  }
}

TEST(ToText, WritesDecimalAndKeepsTexts) {
  EXPECT_TEXT(ToText(0), "0");
  EXPECT_TEXT(ToText(-7), "-7");
  EXPECT_TEXT(ToText(1000), "1000");
  EXPECT_TEXT(ToText(INT32_MIN), "-2147483648");
  EXPECT_TEXT(ToText(Text("\xd6\xd0")), "\xd6\xd0");
  EXPECT_TEXT(ConcatText("a", "", Text("\xd6\xd0"), "b"),
              "a\xd6\xd0"
              "b");
}

TEST(CompareText, OrdersBytesAsUnsignedValues) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const std::vector<Case> cases = {
      {"", "", 0},       {"abc", "abc", 0},
      {"a", "b", -1},    {"b", "a", 1},
      {"a", "ab", -1},   {"ab", "a", 1},
      {"", "a", -1},     {"\x80", "a", 1},
      {"a", "\xd6", -1}, {"\xd6\xd0", "\xd6\xd1", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(CompareText(c.a, c.b), c.expected);
  }
}

TEST(TextList, AppendsCopiesAndReadsFromOne) {
  TextList list;
  EXPECT_EQ(ListCount(list), 0);
  Text appended = "x";
  ListAppend(&list, appended);
  appended += "y";
  ListAppend(&list, "");
  EXPECT_EQ(ListCount(list), 2);
  EXPECT_TEXT(ListItem(list, 1), "x");
  EXPECT_TEXT(ListItem(list, 2), "");
  ListClear(&list);
  EXPECT_EQ(ListCount(list), 0);
}

// The box text in UTF-8, as the process writes it to stderr without a window.
constexpr const char* kBoxStart =
    "\xe9\x94\x99\xe8\xaf\xaf: "                                         // 错误:
    "\xe8\xbf\x90\xe8\xa1\x8c\xe6\x97\xb6\xe5\x87\xba\xe9\x94\x99!\r\n"  // 运行时出错!
    "\r\n\xe9\x94\x99\xe8\xaf\xaf\xe4\xbb\xa3\xe7\xa0\x81\xef\xbc\x9a";  // 错误代码：

TEST(TextListDeathTest, AnIndexAboveTheCountEndsTheProcess) {
  const std::string expected =
      std::string(kBoxStart) + "1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n";
  EXPECT_EXIT((void)ListItem(TextList{}, 1), testing::ExitedWithCode(255), expected);
  EXPECT_EXIT((void)ListItem(TextList{"a"}, 2), testing::ExitedWithCode(255),
              "数组成员引用下标超出定义范围");
}

TEST(TextListDeathTest, AnIndexBelowOneIsTestedFirst) {
  const std::string expected =
      std::string(kBoxStart) + "4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n";
  EXPECT_EXIT((void)ListItem(TextList{}, 0), testing::ExitedWithCode(255), expected);
  EXPECT_EXIT((void)ListItem(TextList{"a"}, -3), testing::ExitedWithCode(255), "必须大于等于1");
}

}  // namespace
}  // namespace pelmora::text
