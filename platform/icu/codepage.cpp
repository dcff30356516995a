#include "platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <array>
#include <climits>
#include <cstdint>
#include <memory>

namespace pelmora::platform {

namespace {

constexpr int kGbk = 936;
constexpr int kUtf8 = 65001;
constexpr char16_t kReplacement = 0xFFFD;
constexpr char kUnmappable = '?';
// ICU counts in int32_t; longer inputs are refused rather than cut.
constexpr std::size_t kMaxInput = INT32_MAX / 4;

bool IsGbk(int codePage) { return codePage == 0 || codePage == kGbk; }

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's table for code page 936 as Windows defines it (0x80 is the euro sign,
// no four-byte GB18030 forms).
Converter OpenGbkConverter() {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open("windows-936-2000", &status));
  if (U_FAILURE(status)) {
    return nullptr;
  }
  // An unmappable character must come out as "?". Set explicitly rather than
  // trusting each table's own substitute, which is 0x1A in many of them.
  ucnv_setSubstChars(converter.get(), &kUnmappable, 1, &status);
  if (U_FAILURE(status)) {
    return nullptr;
  }
  return converter;
}

// A converter is not safe to share between threads, so each thread keeps its
// own, reset before every use.
UConverter* ThreadGbkConverter() {
  thread_local Converter converter = OpenGbkConverter();
  if (converter) {
    ucnv_reset(converter.get());
  }
  return converter.get();
}

// Code page 936 is stateless and maps each BMP character on its own, so one
// table of the converter's answers for every unit encodes a whole page far
// faster than the converter does. Entries: a single byte b as b, a pair as
// (lead << 8) | trail. Built once, on first use, by any thread.
class GbkEncodeTable {
 public:
  GbkEncodeTable() {
    Converter converter = OpenGbkConverter();
    m_ok = static_cast<bool>(converter);
    m_entries.fill(static_cast<std::uint16_t>(kUnmappable));
    if (!m_ok) {
      return;
    }
    for (std::uint32_t unit = 1; unit < m_entries.size(); ++unit) {
      if (U16_IS_SURROGATE(unit)) {
        continue;  // handled in Encode: one "?" per pair or lone surrogate
      }
      const auto character = static_cast<UChar>(unit);
      char out[4];
      UErrorCode status = U_ZERO_ERROR;
      const int32_t length =
          ucnv_fromUChars(converter.get(), out, sizeof out, &character, 1, &status);
      if (U_SUCCESS(status) && length == 1) {
        m_entries[unit] = static_cast<unsigned char>(out[0]);
      } else if (U_SUCCESS(status) && length == 2) {
        m_entries[unit] = static_cast<std::uint16_t>((static_cast<unsigned char>(out[0]) << 8) |
                                                     static_cast<unsigned char>(out[1]));
      }
    }
  }

  [[nodiscard]] bool ok() const { return m_ok; }

  [[nodiscard]] std::string Encode(std::u16string_view units) const {
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t unit = units[i];
      if (U16_IS_SURROGATE(unit)) {
        // Nothing beyond the BMP exists in this code page.
        if (U16_IS_SURROGATE_LEAD(unit) && i + 1 < units.size() && U16_IS_TRAIL(units[i + 1])) {
          ++i;
        }
        bytes.push_back(kUnmappable);
        continue;
      }
      const std::uint16_t entry = m_entries[unit];
      if (entry > 0xFF) {
        bytes.push_back(static_cast<char>(entry >> 8));
      }
      bytes.push_back(static_cast<char>(entry & 0xFF));
    }
    return bytes;
  }

 private:
  std::array<std::uint16_t, 0x10000> m_entries{};
  bool m_ok = false;
};

const GbkEncodeTable& EncodeTable() {
  static const auto* const table = new GbkEncodeTable();  // never destroyed: used until exit
  return *table;
}

std::u16string DecodeGbk(std::string_view bytes) {
  UConverter* converter = ThreadGbkConverter();
  if (converter == nullptr) {
    return {};
  }
  // Code page 936 never yields more than one unit per byte.
  std::u16string units(bytes.size() + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t produced =
      ucnv_toUChars(converter, units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                    static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) {
    return {};
  }
  units.resize(static_cast<std::size_t>(produced));
  return units;
}

std::u16string DecodeUtf8(std::string_view bytes) {
  // UTF-8 never yields more units than bytes. Each maximal ill-formed
  // subsequence becomes one U+FFFD.
  std::u16string units(bytes.size() + 1, u'\0');
  int32_t produced = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &produced, bytes.data(),
                       static_cast<int32_t>(bytes.size()), kReplacement, nullptr, &status);
  if (U_FAILURE(status)) {
    return {};
  }
  units.resize(static_cast<std::size_t>(produced));
  return units;
}

std::string EncodeUtf8(std::u16string_view units) {
  // At most three bytes per unit; a lone surrogate becomes U+FFFD.
  std::string bytes(units.size() * 3 + 1, '\0');
  int32_t produced = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(bytes.data(), static_cast<int32_t>(bytes.size()), &produced, units.data(),
                     static_cast<int32_t>(units.size()), kReplacement, nullptr, &status);
  if (U_FAILURE(status)) {
    return {};
  }
  bytes.resize(static_cast<std::size_t>(produced));
  return bytes;
}

}  // namespace

bool IsKnownCodePage(int codePage) { return IsGbk(codePage) || codePage == kUtf8; }

std::u16string DecodeCodePage(std::string_view bytes, int codePage) {
  if (bytes.empty() || bytes.size() > kMaxInput) {
    return {};
  }
  if (IsGbk(codePage)) {
    return DecodeGbk(bytes);
  }
  if (codePage == kUtf8) {
    return DecodeUtf8(bytes);
  }
  return {};
}

std::string EncodeCodePage(std::u16string_view units, int codePage) {
  if (units.empty() || units.size() > kMaxInput) {
    return {};
  }
  if (IsGbk(codePage)) {
    const GbkEncodeTable& table = EncodeTable();
    return table.ok() ? table.Encode(units) : std::string();
  }
  if (codePage == kUtf8) {
    return EncodeUtf8(units);
  }
  return {};
}

}  // namespace pelmora::platform
