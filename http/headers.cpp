#include "http/headers.h"

#include <string>

namespace pelmora::http {

using text::Text;

namespace {

constexpr char kCrLf[] = "\r\n";

bool IsAsciiLower(unsigned char c) { return c >= 'a' && c <= 'z'; }

// Upper-cases the first byte of the name and the byte after each "-", walking
// character by character so that no byte of a double-byte character changes.
Text CapitalizeName(const Text& name) {
  std::string bytes = name.str();
  bool wordStart = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x80) {
      wordStart = false;
      ++i;  // the trail byte goes with its lead byte
      continue;
    }
    if (wordStart && IsAsciiLower(c)) {
      bytes[i] = static_cast<char>(c - 'a' + 'A');
    }
    wordStart = c == '-';
  }
  return Text(std::move(bytes));
}

}  // namespace

Text NormalizeHeaderCase(const Text& headers) {
  Text result;
  for (const Text& line : text::SplitText(headers, kCrLf)) {
    const int colon = text::FindText(line, ":", std::nullopt, false);
    if (colon == -1) {
      continue;
    }
    const Text name = text::TextLeft(line, colon - 1);
    const Text rest = text::TextRight(line, text::TextLength(line) - colon + 1);
    result += text::ConcatText(CapitalizeName(name), rest, kCrLf);
  }
  return text::TextLeft(result, text::TextLength(result) - 2);
}

Text CapitalizeFirst(const Text& value) {
  if (value.empty() || !IsAsciiLower(static_cast<unsigned char>(value.str()[0]))) {
    return value;
  }
  std::string bytes = value.str();
  bytes[0] = static_cast<char>(bytes[0] - 'a' + 'A');
  return Text(std::move(bytes));
}

Text HeaderValue(const Text& value) {
  const int colon = text::FindText(value, ":", std::nullopt, false);
  if (colon == -1) {
    return {};
  }
  return text::TrimBoth(text::TextRight(value, text::TextLength(value) - colon));
}

}  // namespace pelmora::http
