#include "text/extract.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/events.h"
#include "text/charset.h"

namespace pelmora::text {
namespace {

std::vector<std::string> Members(const TextList& list) {
  std::vector<std::string> out;
  for (const Text& member : list) {
    out.push_back(member.str());
  }
  return out;
}

TEST(TextBetween, TakesTheFirstLeftAndTheRightAfterIt) {
  struct Case {
    const char* label;
    Text actual;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"both markers", TextBetween("a=1;b=2", "a=", ";"), "1"},
      {"no right after the left", TextBetween("a=1;b=2", "b=", ";"), ""},
      {"left missing", TextBetween("a=1;b=2", "c=", ";"), ""},
      {"adjacent markers", TextBetween("ab", "a", "b"), ""},
      {"empty right", TextBetween("a=1;", "a=", ""), ""},
      {"empty left: before the first right", TextBetween("xy;z;", "", ";"), "xy"},
      {"only the first left counts", TextBetween("Lx Ly R", "L", "R"), "x Ly "},
      {"a right only before the left is not seen", TextBetween("R L x", "L", "R"), ""},
      {"from a start", TextBetween("a=1;a=2;", "a=", ";", 2), "2"},
      {"case folded", TextBetween("USER-AGENT: x\r\n", "user-agent:", "\r\n", 0, true), " x"},
      {"case exact", TextBetween("USER-AGENT: x\r\n", "user-agent:", "\r\n"), ""},
      {"host of an address", TextBetween("https://h.example:8443/p", "https://", "/"),
       "h.example:8443"},
      {"the quote token stands for a double quote",
       TextBetween("id=\"x1\" #\xd2\xfd\xba\xc5y2", "#\xd2\xfd\xba\xc5x", "#\xd2\xfd\xba\xc5"),
       "1"},
      {"the quote token in the right marker", TextBetween("a=\"v\";", "a=\"", "#\xd2\xfd\xba\xc5"),
       "v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.actual.str(), std::string(c.expected));
  }
}

TEST(TextBetween, QuoteTokenIsTheGbkOfItsName) {
  // The token as it would be typed: "#引号" converted from UTF-8.
  const Text token = Utf8ToAnsi("#引号");
  EXPECT_EQ(token, Text("#\xd2\xfd\xba\xc5"));
  EXPECT_EQ(TextBetween("<a \"x\">", token + "x", token), Text(""));
  EXPECT_EQ(TextBetween("k=\"x\"", "k=" + token, token), Text("x"));
}

TEST(TextBefore, CutsFromPositionOneToTheMarker) {
  struct Case {
    const char* label;
    Text actual;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"header name", TextBefore("Set-Cookie: a=1", ": "), "Set-Cookie"},
      {"no marker", TextBefore("Set-Cookie a=1", ": "), ""},
      {"start 0", TextBefore("a: b: c", ": ", 0), "a"},
      {"negative start", TextBefore("a: b: c", ": ", -3), "a"},
      {"a later start still cuts from 1", TextBefore("a: b: c", ": ", 3), "a: b"},
      {"marker at position 1", TextBefore(": b", ": "), ""},
      {"empty marker", TextBefore("abc", ""), ""},
      {"case folded", TextBefore("aXb", "x", 0, true), "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.actual.str(), std::string(c.expected));
  }
}

TEST(ExtractAllBetween, CollectsPiecesWithTheOptionsApplied) {
  struct Case {
    const char* label;
    const char* text;
    const char* left;
    const char* right;
    ExtractOptions options;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"pieces in order", "x1yx2y", "x", "y", {}, {"1", "2"}},
      {"no left", "abc", "x", "y", {}, {}},
      {"stops at a left without a right", "x1yx2", "x", "y", {}, {"1"}},
      {"next search starts after the left marker", "LaLbR", "L", "R", {}, {"aLb", "b"}},
      {"maxLength drops items of that length or more",
       "x1yx22yx333y",
       "x",
       "y",
       {.maxLength = 3},
       {"1", "22"}},
      {"prefix and kept right",
       "x1yx2y",
       "x",
       "y",
       {.prefix = "p", .keepRight = true},
       {"p1y", "p2y"}},
      {"kept left goes outside the prefix",
       "x1y",
       "x",
       "y",
       {.prefix = "p", .suffix = "s", .keepLeft = true, .keepRight = true},
       {"xp1sy"}},
      {"maxLength counts the decoration", "x1y", "x", "y", {.maxLength = 3, .prefix = "pp"}, {}},
      {"case folded", "X1yx2Y", "x", "y", {.caseInsensitive = true}, {"1", "2"}},
      {"from a start", "x1yx2y", "x", "y", {.start = 3}, {"2"}},
      {"empty right gives empty items", "x1x2", "x", "", {}, {"", ""}},
      {"empty left gives nothing", "x1y", "", "y", {}, {}},
      {"picture blocks",
       "a clear_picSrc=u1,u2&thumb_picSrc=%b clear_picSrc=u3&thumb_picSrc=%",
       "clear_picSrc=",
       "&thumb_picSrc=%",
       {},
       {"u1,u2", "u3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TextList pieces{"stale", "members"};
    ExtractOptions options = c.options;
    options.pieces = &pieces;
    EXPECT_EQ(ExtractAllBetween(c.text, c.left, c.right, options),
              static_cast<int>(c.expected.size()));
    EXPECT_EQ(Members(pieces), c.expected);
  }
  EXPECT_EQ(ExtractAllBetween("x1yx2y", "x", "y"), 2);  // a list of its own
}

class CountingSink : public platform::EventSink {
 public:
  void ProcessPending() override { ++pumped; }
  void ShowErrorBox(std::string_view, std::string_view) override {}
  int pumped = 0;
};

TEST(ExtractAllBetween, PumpsEventsThreeTimesPerItemEvenWhenDropped) {
  CountingSink sink;
  platform::InstallEventSink(&sink);
  TextList pieces;
  EXPECT_EQ(ExtractAllBetween("x1yx22yx3", "x", "y", {.pieces = &pieces, .maxLength = 2}), 1);
  platform::InstallEventSink(nullptr);
  EXPECT_EQ(sink.pumped, 6);
  ProcessEvents();  // without a sink: nothing happens
  EXPECT_EQ(sink.pumped, 6);
}

TEST(ReplaceMany, AppliesThePairsInTurn) {
  struct Case {
    const char* label;
    const char* text;
    std::vector<ReplacePair> pairs;
    ReplaceManyOptions options;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"one pair", "a,b,c", {{",", "\\"}}, {}, "a\\b\\c"},
      {"count 1 given", "a,b,c", {{",", "\\"}}, {.count = 1}, "a\\b,c"},
      {"count 0 given stops every pair", "a,b,c", {{",", "\\"}}, {.count = 0}, "a,b,c"},
      {"each pair works on the result before it", "a", {{"a", "b"}, {"b", "c"}}, {}, "c"},
      {"count applies to each pair", "a,a;", {{"a", "x"}, {",", "."}}, {.count = 1}, "x.a;"},
      {"start 0 is position 1", ",a", {{",", "-"}}, {.start = 0}, "-a"},
      {"start for every pair", "a,b,", {{",", "-"}, {"a", "z"}}, {.start = 3}, "a,b-"},
      {"case folded by default", "aAb", {{"a", "-"}}, {}, "--b"},
      {"case exact", "aAb", {{"a", "-"}}, {.caseSensitive = true}, "-Ab"},
      {"empty finds change nothing", "abc", {{"", "x"}, {}}, {}, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ReplaceMany(c.text, c.pairs, c.options).str(), std::string(c.expected));
  }
}

}  // namespace
}  // namespace pelmora::text
