#include "http/cookies.h"

#include "text/bytes.h"

namespace pelmora::http {

using text::Text;
using text::TextList;

namespace {

constexpr char kPairSeparator[] = "; ";

}  // namespace

Text MergeCookies(Text* sent, Text* received) {
  *sent = text::RemoveAllSpaces(*sent);
  *received = text::RemoveAllSpaces(*received);

  TextList merged = text::SplitText(*received, ";");
  for (const Text& pair : text::SplitText(*sent, ";")) {
    if (!HasCookieNamed(merged, CookieName(pair))) {
      text::ListAppend(&merged, pair);
    }
  }

  Text joined;
  for (const Text& pair : merged) {
    if (text::TextRight(pair, 8) != Text("=deleted")) {
      joined += text::ConcatText(pair, kPairSeparator);
    }
  }
  joined = text::TextLeft(joined, text::TextLength(joined) - 2);
  *sent = JoinDistinct(joined, kPairSeparator, true);
  return *sent;
}

Text CookieName(const Text& pair) {
  const int equals = text::FindText(pair, "=", std::nullopt, false);
  return text::TrimBoth(equals == -1 ? pair : text::TextLeft(pair, equals - 1));
}

bool HasCookieNamed(const TextList& pairs, const Text& name) {
  for (const Text& pair : pairs) {
    if (text::CompareText(CookieName(pair), name) == 0) {
      return true;
    }
  }
  return false;
}

Text JoinDistinct(const Text& value, const Text& separator, bool bySeparator) {
  TextList items;
  if (bySeparator) {
    items = text::SplitText(value, separator);
  } else {
    SplitCharacters(value, &items);
  }
  TextList kept;
  Text output;
  for (const Text& item : items) {
    if (FindInList(kept, item) != -1) {
      continue;
    }
    text::ListAppend(&kept, item);
    output += text::ConcatText(item, separator);
  }
  return text::TextLeft(output, text::TextLength(output) - text::TextLength(separator));
}

int SplitCharacters(const Text& value, TextList* pieces) {
  text::ListClear(pieces);
  const text::Bytes bytes = text::TextToBytes(value);
  const int n = text::BytesLength(bytes);
  int count = 0;
  for (int p = 1; p <= n;) {
    const auto c = static_cast<unsigned char>(bytes.str()[static_cast<std::size_t>(p - 1)]);
    int length = 1;
    if (p < n) {
      const auto next = static_cast<unsigned char>(bytes.str()[static_cast<std::size_t>(p)]);
      if (c > 0x80 || (c == '\r' && next == '\n')) {
        length = 2;
      }
    }
    text::ListAppend(pieces, text::ToText(text::BytesMid(bytes, p, length)));
    ++count;
    p += length;
  }
  return count;
}

int FindInList(const TextList& list, const Text& item) {
  int position = 1;
  for (const Text& member : list) {
    if (text::CompareText(member, item) == 0) {
      return position;
    }
    ++position;
  }
  return -1;
}

}  // namespace pelmora::http
