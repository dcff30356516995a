#include "text/extract.h"

#include "text/bytes.h"

namespace pelmora::text {

namespace {

// "#引号" in GBK; a marker may use it to stand for a double quote.
constexpr const char* kQuoteToken = "#\xd2\xfd\xba\xc5";

Text ExpandQuoteToken(const Text& marker) {
  return ReplaceSubtext(marker, kQuoteToken, {.replacement = "\"", .caseSensitive = true});
}

}  // namespace

Text TextBetween(const Text& text, const Text& left, const Text& right, int start,
                 bool caseInsensitive) {
  const Text leftMarker = ExpandQuoteToken(left);
  const Text rightMarker = ExpandQuoteToken(right);
  const int p = FindText(text, leftMarker, start, caseInsensitive);
  if (p == -1) {
    return {};
  }
  const int b = p + TextLength(leftMarker);
  const int q = FindText(text, rightMarker, b, caseInsensitive);
  if (q == -1) {
    return {};
  }
  return TextMid(text, b, q - b);
}

Text TextBefore(const Text& text, const Text& marker, int start, bool caseInsensitive) {
  const int p = FindText(text, marker, start > 0 ? start : 1, caseInsensitive);
  return p == -1 ? Text() : TextLeft(text, p - 1);
}

int ExtractAllBetween(const Text& text, const Text& left, const Text& right,
                      const ExtractOptions& options) {
  TextList ownList;
  TextList* pieces = options.pieces != nullptr ? options.pieces : &ownList;
  ListClear(pieces);
  // An empty left marker is found at every position, so the search would
  // never move on.
  if (left.empty()) {
    return 0;
  }
  int pos = options.start;
  for (;;) {
    const int p = FindText(text, left, pos, options.caseInsensitive);
    if (p == -1) {
      break;
    }
    pos = p + TextLength(left);
    const int q = FindText(text, right, pos, options.caseInsensitive);
    if (q == -1) {
      break;
    }
    Text item = ConcatText(options.prefix, TextMid(text, pos, q - pos), options.suffix);
    if (options.keepLeft) {
      item = left + item;
    }
    if (options.keepRight) {
      item += right;
    }
    if (options.maxLength == 0 || TextLength(item) < options.maxLength) {
      ListAppend(pieces, item);
    }
    // Keeps the window responsive while a long page is scanned.
    ProcessEvents();
    ProcessEvents();
    ProcessEvents();
  }
  return ListCount(*pieces);
}

Text ReplaceMany(const Text& text, std::span<const ReplacePair> pairs,
                 const ReplaceManyOptions& options) {
  const int start = options.start == 0 ? 1 : options.start;
  Text result = text;
  for (const ReplacePair& pair : pairs) {
    result = ReplaceSubtext(result, pair.find,
                            {.replacement = pair.replace,
                             .start = start,
                             .count = options.count,
                             .caseSensitive = options.caseSensitive});
  }
  return result;
}

}  // namespace pelmora::text
