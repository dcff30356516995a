#include "text/charset.h"

#include <string>

#include "platform/codepage.h"
#include "platform/files.h"

namespace pelmora::text {

namespace {

constexpr const char* kHexDigits = "0123456789ABCDEF";

// Little-endian units followed by one zero unit.
Bytes UnitsToBytes(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size() * 2 + 2);
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFFU));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  bytes.append(2, '\0');
  return Bytes(std::move(bytes));
}

// The units before the first zero unit; an odd last byte is ignored.
std::u16string BytesToUnits(const Bytes& bytes) {
  const std::string_view b = bytes.view();
  std::u16string units;
  units.reserve(b.size() / 2);
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(b[i]) |
                                            (static_cast<unsigned char>(b[i + 1]) << 8));
    if (unit == 0) {
      break;
    }
    units.push_back(unit);
  }
  return units;
}

// The value of one escape digit, looked up in the digit table the way the
// decoder always has: a digit past the end is the empty text, found at
// position 1 (worth 0); a byte not in the table is not found (worth -2).
int DigitValue(const Text& text, int position) {
  const int found = FindText(kHexDigits, ToUpper(TextMid(text, position, 1)), std::nullopt, false);
  return found - 1;
}

}  // namespace

Bytes MultiByteToUtf16(const Text& text, std::optional<int> codePage) {
  const int page = codePage.value_or(kCodePageUtf8);
  if (!platform::IsKnownCodePage(page)) {
    return {};
  }
  return UnitsToBytes(platform::DecodeCodePage(text.view(), page));
}

Text Utf16ToMultiByte(const Bytes& utf16, std::optional<int> codePage) {
  const int page = codePage.value_or(kCodePageAnsi);
  return Text(platform::EncodeCodePage(BytesToUnits(utf16), page));
}

Text Utf8ToAnsi(const Text& text) {
  // Same result as MultiByteToUtf16 then Utf16ToMultiByte with 936, without
  // the round trip through little-endian bytes. A text holds no zero byte,
  // so the units hold no zero unit that would end the second step early.
  return Text(
      platform::EncodeCodePage(platform::DecodeCodePage(text.view(), kCodePageUtf8), kCodePageGbk));
}

Bytes TextToUtf16Bytes(const Text& text, bool stripTerminator) {
  if (text.empty()) {
    return {};
  }
  Bytes utf16 = MultiByteToUtf16(text, kCodePageGbk);
  return stripTerminator ? BytesLeft(utf16, BytesLength(utf16) - 2) : utf16;
}

Text PercentDecode(const Text& text, bool toAnsi) {
  const int length = TextLength(text);
  const std::string_view s = text.view();
  std::string out;
  out.reserve(s.size());
  for (int i = 1; i <= length; ++i) {
    const char byte = s[static_cast<std::size_t>(i - 1)];
    if (byte != '%') {
      out.push_back(byte);
      continue;
    }
    const int high = DigitValue(text, i + 1);
    const int low = DigitValue(text, i + 2);
    // Malformed digits give negative values; the low eight bits of the two's
    // complement sum are kept.
    const auto value = static_cast<unsigned>(16 * high + low) & 0xFFU;
    if (value != 0) {
      out.push_back(static_cast<char>(value));
    }
    i += 2;
  }
  Text decoded(std::move(out));
  return toAnsi ? Utf8ToAnsi(decoded) : decoded;
}

std::filesystem::path PathFromText(const Text& path) {
  return platform::PathFromUtf16(platform::DecodeCodePage(path.view(), kCodePageGbk));
}

Text TextFromPath(const std::filesystem::path& path) {
  return Text(platform::EncodeCodePage(platform::PathToUtf16(path), kCodePageGbk));
}

}  // namespace pelmora::text
