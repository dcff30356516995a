#include "text/text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/events.h"

namespace pelmora::text {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Bytes before a 1-based start; any start of 1 or less gives 0 (INT_MIN too).
std::size_t BytesBefore(int start) { return start <= 1 ? 0 : static_cast<std::size_t>(start) - 1; }

bool IsLead(char byte) { return static_cast<unsigned char>(byte) >= 0x80; }

char FoldLower(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// The first position at or after `from` where `needle` occurs byte for byte
// (ASCII letters folded when `fold`), ignoring character boundaries.
std::size_t FindBytes(std::string_view hay, std::string_view needle, std::size_t from, bool fold) {
  if (!fold) {
    return hay.find(needle, from);
  }
  if (needle.size() > hay.size()) {
    return kNone;
  }
  const char first = FoldLower(needle.front());
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (FoldLower(hay[i]) != first) {
      continue;
    }
    std::size_t k = 1;
    while (k < needle.size() && FoldLower(hay[i + k]) == FoldLower(needle[k])) {
      ++k;
    }
    if (k == needle.size()) {
      return i;
    }
  }
  return kNone;
}

// Walks `hay` character by character from `*charStart` (taken as a character
// start) and returns the first match of the non-empty `needle` that begins at
// a character start, or kNone. Byte matches are found with a fast search and
// the walk only moves forward over the distance between them, never starting
// again from the beginning for a candidate. Afterwards `*charStart` is a character start at or
// before the result.
std::size_t NextMatch(std::string_view hay, std::string_view needle, std::size_t* charStart,
                      bool fold) {
  std::size_t from = *charStart;
  for (;;) {
    const std::size_t found = FindBytes(hay, needle, from, fold);
    if (found == kNone) {
      return kNone;
    }
    std::size_t walk = *charStart;
    while (walk < found) {
      walk += IsLead(hay[walk]) ? 2 : 1;
    }
    if (walk == found) {
      *charStart = walk;
      return found;
    }
    // The match began on the second byte of a double-byte character, which
    // ends at `found`; the walk resumes right after it.
    *charStart = walk;
    from = walk;
  }
}

// Advances a character walk from `charStart` until it reaches or passes
// `target`; gives the position where it stops.
std::size_t WalkTo(std::string_view hay, std::size_t charStart, std::size_t target) {
  while (charStart < target) {
    charStart += IsLead(hay[charStart]) ? 2 : 1;
  }
  return charStart;
}

// Where a space character starts at `i`, its length (1 or 2), else 0.
std::size_t SpaceAt(std::string_view s, std::size_t i) {
  if (s[i] == ' ') {
    return 1;
  }
  if (s[i] == '\xA1' && i + 1 < s.size() && s[i + 1] == '\xA1') {
    return 2;
  }
  return 0;
}

template <typename Fold>
Text FoldLetters(const Text& text, Fold fold) {
  std::string out = text.str();
  std::size_t i = 0;
  while (i < out.size()) {
    if (IsLead(out[i])) {
      i += 2;  // both bytes of a double-byte character stay
    } else {
      out[i] = fold(out[i]);
      ++i;
    }
  }
  return Text(std::move(out));
}

}  // namespace

Text::Text(std::string_view bytes) : m_bytes(bytes.substr(0, bytes.find('\0'))) {}

Text::Text(std::string&& bytes) : m_bytes(std::move(bytes)) {
  const std::size_t zero = m_bytes.find('\0');
  if (zero != std::string::npos) {
    m_bytes.resize(zero);
  }
}

int TextLength(const Text& text) { return text.size(); }

Text TextLeft(const Text& text, int count) {
  if (count <= 0) {
    return {};
  }
  return Text(text.view().substr(0, static_cast<std::size_t>(count)));
}

Text TextRight(const Text& text, int count) {
  if (count <= 0) {
    return {};
  }
  const std::size_t n = std::min(static_cast<std::size_t>(count), text.view().size());
  return Text(text.view().substr(text.view().size() - n));
}

Text TextMid(const Text& text, int start, int count) {
  if (start < 1 || start > text.size() || count <= 0) {
    return {};
  }
  return Text(
      text.view().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

int FindText(const Text& text, const Text& sought, std::optional<int> start, bool caseInsensitive) {
  const std::string_view hay = text.view();
  const std::size_t s0 = start ? BytesBefore(*start) : 0;
  if (s0 >= hay.size()) {
    return -1;
  }
  if (sought.empty()) {
    return 1;
  }
  std::size_t walk = s0;
  const std::size_t found = NextMatch(hay, sought.view(), &walk, caseInsensitive);
  return found == kNone ? -1 : static_cast<int>(found) + 1;
}

int FindTextReverse(const Text& text, const Text& sought, std::optional<int> start,
                    bool caseInsensitive) {
  std::size_t end = text.view().size();
  if (start) {
    end = std::min(end, BytesBefore(*start));
  }
  if (end == 0) {
    return -1;
  }
  if (sought.empty()) {
    return 1;
  }
  const std::string_view window = text.view().substr(0, end);
  int last = -1;
  std::size_t walk = 0;
  for (;;) {
    const std::size_t found = NextMatch(window, sought.view(), &walk, caseInsensitive);
    if (found == kNone) {
      return last;
    }
    last = static_cast<int>(found) + 1;
    walk = WalkTo(window, walk, found + 1);  // the next character after the candidate
  }
}

TextList SplitText(const Text& text, const Text& delimiter) {
  TextList list;
  if (text.empty()) {
    return list;
  }
  if (delimiter.empty()) {
    ListAppend(&list, text);
    return list;
  }
  const std::string_view s = text.view();
  std::size_t cut = 0;
  std::size_t walk = 0;
  for (;;) {
    const std::size_t found = NextMatch(s, delimiter.view(), &walk, false);
    if (found == kNone) {
      break;
    }
    ListAppend(&list, Text(s.substr(cut, found - cut)));
    cut = found + delimiter.view().size();
    walk = cut;
  }
  if (cut < s.size()) {
    ListAppend(&list, Text(s.substr(cut)));
  }
  return list;
}

Text ReplaceSubtext(const Text& text, const Text& sought, const ReplaceOptions& options) {
  const std::string_view s = text.view();
  const std::size_t s0 = options.start ? BytesBefore(*options.start) : 0;
  if (s.empty() || sought.empty() || s0 >= s.size() || (options.count && *options.count == 0)) {
    return text;
  }
  const bool limited = options.count && *options.count > 0;
  int remaining = limited ? *options.count : 0;
  const std::string_view needle = sought.view();

  std::string out;
  out.reserve(s.size());
  out.append(s.substr(0, s0));
  std::size_t copied = s0;  // bytes before this are already in `out`
  std::size_t walk = s0;
  for (;;) {
    const std::size_t found = NextMatch(s, needle, &walk, !options.caseSensitive);
    if (found == kNone) {
      break;
    }
    out.append(s.substr(copied, found - copied));
    out.append(options.replacement.view());
    copied = found + needle.size();
    walk = copied;
    if (limited && --remaining == 0) {
      out.append(s.substr(copied));
      return Text(std::move(out));
    }
  }
  // A one-byte search walks up to the last byte; when that is a lone lead
  // byte, copying its character finds no second byte and the byte is lost.
  std::size_t tailEnd = s.size();
  if (needle.size() == 1 && IsLead(s.back()) && WalkTo(s, walk, s.size() - 1) == s.size() - 1 &&
      copied < s.size()) {
    tailEnd = s.size() - 1;
  }
  out.append(s.substr(copied, tailEnd - copied));
  return Text(std::move(out));
}

Text TrimBoth(const Text& text) {
  const std::string_view s = text.view();
  std::size_t i = 0;
  std::size_t begin = kNone;     // first non-space character
  std::size_t runStart = kNone;  // start of the current run of spaces after `begin`
  std::size_t walkEnd = s.size();
  while (i < s.size()) {
    if (IsLead(s[i]) && i + 1 == s.size()) {
      walkEnd = i;  // a lone lead byte ends the walk and is dropped
      break;
    }
    const std::size_t space = SpaceAt(s, i);
    if (space != 0) {
      if (begin != kNone && runStart == kNone) {
        runStart = i;
      }
      i += space;
      continue;
    }
    if (begin == kNone) {
      begin = i;
    }
    runStart = kNone;
    i += IsLead(s[i]) ? 2 : 1;
  }
  if (begin == kNone) {
    return {};
  }
  const std::size_t end = runStart != kNone ? runStart : walkEnd;
  return Text(s.substr(begin, end - begin));
}

Text RemoveAllSpaces(const Text& text) {
  const std::string_view s = text.view();
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsLead(s[i]) && i + 1 == s.size()) {
      break;  // a lone lead byte ends the walk and is dropped
    }
    const std::size_t space = SpaceAt(s, i);
    if (space != 0) {
      i += space;
      continue;
    }
    const std::size_t length = IsLead(s[i]) ? 2 : 1;
    out.append(s.substr(i, length));
    i += length;
  }
  return Text(std::move(out));
}

Text ToUpper(const Text& text) {
  return FoldLetters(
      text, [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
}

Text ToLower(const Text& text) { return FoldLetters(text, FoldLower); }

int CharCode(const Text& text) {
  return text.empty() ? 0 : static_cast<int>(static_cast<signed char>(text.view().front()));
}

Text CharFromCode(int code) {
  const char byte = static_cast<char>(static_cast<unsigned>(code) & 0xFFU);
  return Text(std::string_view(&byte, 1));
}

std::int32_t TextToInt(const Text& text) {
  // Full-width forms first, walking by character.
  const std::string_view s = text.view();
  std::string ascii;
  ascii.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (IsLead(s[i]) && i + 1 < s.size()) {
      const auto lead = static_cast<unsigned char>(s[i]);
      const auto trail = static_cast<unsigned char>(s[i + 1]);
      if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
        ascii.push_back(static_cast<char>(trail - 0x80));
      } else if (lead == 0xA1 && trail == 0xA1) {
        ascii.push_back(' ');
      } else if (lead == 0xA1 && trail == 0xAB) {
        ascii.push_back('~');
      } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
        ascii.push_back('*');
      } else {
        ascii.append(s.substr(i, 2));
      }
      i += 2;
    } else {
      ascii.push_back(s[i]);
      ++i;
    }
  }

  std::size_t i = 0;
  while (i < ascii.size() && std::strchr(" \t\n\v\f\r", ascii[i]) != nullptr) {
    ++i;
  }
  bool negative = false;
  if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) {
    negative = ascii[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;  // unsigned, so that overflow wraps without undefined behaviour
  while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') {
    value = value * 10U + static_cast<std::uint32_t>(ascii[i] - '0');
    ++i;
  }
  if (negative) {
    value = 0U - value;
  }
  return static_cast<std::int32_t>(value);
}

Text ToText(std::int32_t number) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return Text(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

int CompareText(const Text& a, const Text& b) {
  // char_traits<char>::compare orders bytes as unsigned values.
  const int order = a.view().compare(b.view());
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int ListCount(const TextList& list) { return static_cast<int>(list.members().size()); }

Text ListItem(const TextList& list, int index) {
  if (index >= 1 && index <= ListCount(list)) {
    return list.members()[static_cast<std::size_t>(index - 1)];
  }
  // GBK: 数组成员引用下标必须大于等于1 / 数组成员引用下标超出定义范围
  const bool below = index < 1;
  const char* code = below ? "4" : "1";
  const char* message =
      below ? "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb1\xd8\xd0\xeb\xb4"
              "\xf3\xd3\xda\xb5\xc8\xd3\xda"
              "1"
            : "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb3\xac\xb3\xf6\xb6"
              "\xa8\xd2\xe5\xb7\xb6\xce\xa7";
  std::string box;
  box += "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n";  // 运行时出错!
  box += "\r\n\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba";   // 错误代码：
  box += code;
  box += "\r\n";
  box += "\r\n\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba";  // 错误信息：
  box += message;
  box += "\r\n";
  platform::FatalErrorBox("\xb4\xed\xce\xf3" /* 错误 */, box, 255);
}

void ListAppend(TextList* list, const Text& text) { list->m_members.push_back(text); }

void ListClear(TextList* list) { list->m_members.clear(); }

}  // namespace pelmora::text
