// Cutting pieces out of larger texts by their markers, and batch replacement.
#pragma once

#include <optional>
#include <span>
#include <utility>

#include "text/text.h"

namespace pelmora::text {

// The text between the first `left` and the first `right` after it, or the
// empty text when either is missing. The token "#引号" in either marker stands
// for a double quote. `start` 0 means the beginning.
[[nodiscard]] Text TextBetween(const Text& text, const Text& left, const Text& right, int start = 0,
                               bool caseInsensitive = false);
// The text from position 1 up to the first `marker` at or after `start`
// (values below 1 mean 1), or the empty text.
[[nodiscard]] Text TextBefore(const Text& text, const Text& marker, int start = 0,
                              bool caseInsensitive = false);

struct ExtractOptions {
  TextList* pieces = nullptr;  // cleared, then filled; null: a list of its own
  bool caseInsensitive = false;
  int maxLength = 0;  // 0: no limit; else items of this length or more are dropped
  Text prefix{};
  Text suffix{};
  bool keepLeft = false;
  bool keepRight = false;
  int start = 0;
};
// Collects every piece between `left` and `right`, searching each next `left`
// right after the previous one; pumps window events three times per piece.
// An empty `left` gives no pieces. Returns the number of pieces. Window thread.
int ExtractAllBetween(const Text& text, const Text& left, const Text& right,
                      const ExtractOptions& options = {});

struct ReplacePair {
  Text find{};
  Text replace{};
};
struct ReplaceManyOptions {
  std::optional<int> count{};  // given: limits each pair's replacements, whatever its value
  int start = 0;               // 0: from position 1
  bool caseSensitive = false;
};
// Applies the pairs in order (callers pass up to five), each on the result of
// the one before; a pair with an empty `find` changes nothing.
[[nodiscard]] Text ReplaceMany(const Text& text, std::span<const ReplacePair> pairs,
                               const ReplaceManyOptions& options = {});

}  // namespace pelmora::text
