// Text and list primitives.
//
// `Text` is a byte string in code page 936 (GBK) that never holds a zero byte.
// Positions are 1-based byte positions; a search that finds nothing gives -1.
// A byte of 0x80 or above starts a double-byte character made of it and the
// byte after it; searching, splitting, replacing, trimming and case folding
// walk the text character by character and match only where a character
// starts. Counting and cutting work on bytes. A text may end with a lone lead
// byte: every walk stops there and never reads past the end.
//
// Every operation is a pure function of its arguments and may run on any
// thread. None fails: positions outside the text give the empty text or -1.
// The one exception is ListItem with an index outside the list, which is
// fatal (see ListItem).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::text {

class Text {
 public:
  Text() = default;
  // Implicit, so that literals read naturally at call sites: FindText(t, "a=").
  // Source literals with characters beyond ASCII must be written as GBK byte
  // escapes, since the source files are UTF-8.
  Text(const char* bytes) : Text(std::string_view(bytes)) {}  // NOLINT(google-explicit-constructor)
  // Keeps the bytes before the first zero byte.
  explicit Text(std::string_view bytes);
  explicit Text(std::string&& bytes);

  [[nodiscard]] const std::string& str() const { return m_bytes; }
  [[nodiscard]] std::string_view view() const { return m_bytes; }
  [[nodiscard]] bool empty() const { return m_bytes.empty(); }
  [[nodiscard]] int size() const { return static_cast<int>(m_bytes.size()); }

  Text& operator+=(const Text& other) {
    m_bytes += other.m_bytes;
    return *this;
  }
  friend Text operator+(Text a, const Text& b) { return a += b; }
  friend bool operator==(const Text& a, const Text& b) = default;

 private:
  std::string m_bytes;  // never holds '\0'
};

// An ordered list of texts, indexed from 1.
class TextList {
 public:
  TextList() = default;
  TextList(std::initializer_list<Text> members) : m_members(members) {}

  [[nodiscard]] const std::vector<Text>& members() const { return m_members; }
  [[nodiscard]] auto begin() const { return m_members.begin(); }
  [[nodiscard]] auto end() const { return m_members.end(); }
  friend bool operator==(const TextList& a, const TextList& b) = default;

 private:
  friend void ListAppend(TextList* list, const Text& text);
  friend void ListClear(TextList* list);
  std::vector<Text> m_members;
};

// Cutting (bytes; may split a double-byte character).
[[nodiscard]] int TextLength(const Text& text);
// The first min(count, length) bytes; count <= 0 gives the empty text.
[[nodiscard]] Text TextLeft(const Text& text, int count);
// The last min(count, length) bytes; count <= 0 gives the empty text.
[[nodiscard]] Text TextRight(const Text& text, int count);
// Bytes from `start`; a start below 1 or past the end, or count <= 0, gives
// the empty text (a start below 1 is not moved to 1).
[[nodiscard]] Text TextMid(const Text& text, int start, int count);

// Position of the first match at a character start at or after `start`
// (1 or less, or not given: from the beginning), or -1. The walk takes
// `start` as a character start. An empty `sought` gives 1 when the window
// is not empty, else -1. `caseInsensitive` folds ASCII letters byte-wise.
[[nodiscard]] int FindText(const Text& text, const Text& sought, std::optional<int> start,
                           bool caseInsensitive);
// Position of the last match lying wholly before `start` (not given: the
// whole text), walking from position 1; -1 when none.
[[nodiscard]] int FindTextReverse(const Text& text, const Text& sought, std::optional<int> start,
                                  bool caseInsensitive);

// Members between exact (case-sensitive) matches of `delimiter`. An empty
// text gives an empty list; an empty delimiter gives the whole text; a
// trailing delimiter gives no empty last member.
[[nodiscard]] TextList SplitText(const Text& text, const Text& delimiter);

struct ReplaceOptions {
  Text replacement{};          // not given: the empty text
  std::optional<int> start{};  // not given: 1
  std::optional<int> count{};  // not given or negative: unlimited; 0: no change
  bool caseSensitive = false;  // false: ASCII letters match in either case
};
// Replaces matches of `sought` from `start` on, walking character by
// character; replaced text is never searched again. The text comes back
// unchanged when it or `sought` is empty, when `start` lies past the end, or
// when `count` is given as 0. With a one-byte `sought`, a lone lead byte that
// ends the text and is not itself matched is dropped.
[[nodiscard]] Text ReplaceSubtext(const Text& text, const Text& sought,
                                  const ReplaceOptions& options);

// Spaces are the byte 0x20 and the full-width space A1 A1, nothing else.
// Both drop a lone lead byte that ends the text.
[[nodiscard]] Text TrimBoth(const Text& text);
[[nodiscard]] Text RemoveAllSpaces(const Text& text);
// Fold the 26 ASCII letters; bytes of double-byte characters stay.
[[nodiscard]] Text ToUpper(const Text& text);
[[nodiscard]] Text ToLower(const Text& text);

// The first byte as a signed 8-bit value; 0 for the empty text.
[[nodiscard]] int CharCode(const Text& text);
// One byte from the low eight bits of `code`; 0 gives the empty text.
[[nodiscard]] Text CharFromCode(int code);
// Decimal reading after turning full-width forms into ASCII: leading white
// space, one optional sign, digits; wraps in 32 bits; no digit gives 0.
[[nodiscard]] std::int32_t TextToInt(const Text& text);
// Decimal, "-" when negative, no leading zeros.
[[nodiscard]] Text ToText(std::int32_t number);
[[nodiscard]] inline Text ToText(const Text& text) { return text; }
// Byte-wise unsigned comparison: 0 when equal, -1 when a < b, 1 when a > b.
[[nodiscard]] int CompareText(const Text& a, const Text& b);

template <typename... Rest>
[[nodiscard]] Text ConcatText(const Text& first, const Rest&... rest) {
  Text result = first;
  ((result += rest), ...);
  return result;
}

[[nodiscard]] int ListCount(const TextList& list);
// A copy of the member at `index` (1-based). An index outside 1 to the count
// is fatal: the error box titled "错误" (or stderr when no window exists)
// shows the runtime error text, and the process exits with status 255.
[[nodiscard]] Text ListItem(const TextList& list, int index);
void ListAppend(TextList* list, const Text& text);
void ListClear(TextList* list);

}  // namespace pelmora::text
