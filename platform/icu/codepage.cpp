#include "platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <memory>

namespace pelmora::platform {

namespace {

constexpr int kGbk = 936;
constexpr int kUtf8 = 65001;

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's table for code page 936 as Windows defines it (0x80 is the euro sign,
// no four-byte GB18030 forms).
const char* IcuName(int codePage) {
  switch (codePage) {
    case 0:
    case kGbk:
      return "windows-936-2000";
    case kUtf8:
      return "UTF-8";
    default:
      return nullptr;
  }
}

UConverter* OpenConverter(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &status);
  if (U_FAILURE(status)) {
    return nullptr;
  }
  // An unmappable character must come out as "?". Set explicitly rather than
  // trusting each table's own substitute, which is 0x1A in many of them.
  ucnv_setSubstChars(converter, "?", 1, &status);
  if (U_FAILURE(status)) {
    ucnv_close(converter);
    return nullptr;
  }
  return converter;
}

// A converter is not safe to share between threads, so each thread keeps its
// own, reset before every use.
UConverter* ThreadConverter(int codePage) {
  thread_local Converter gbk;
  thread_local Converter utf8;
  Converter* slot = nullptr;
  switch (codePage) {
    case 0:
    case kGbk:
      slot = &gbk;
      break;
    case kUtf8:
      slot = &utf8;
      break;
    default:
      return nullptr;
  }
  if (!*slot) {
    slot->reset(OpenConverter(IcuName(codePage)));
  }
  if (*slot) {
    ucnv_reset(slot->get());
  }
  return slot->get();
}

}  // namespace

bool IsKnownCodePage(int codePage) { return IcuName(codePage) != nullptr; }

std::u16string DecodeCodePage(std::string_view bytes, int codePage) {
  UConverter* converter = ThreadConverter(codePage);
  if (converter == nullptr || bytes.empty()) {
    return {};
  }
  // Neither code page yields more than one unit per input byte, so this
  // capacity normally suffices; the retry covers any surprise.
  std::u16string units(bytes.size() + 1, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t produced =
        ucnv_toUChars(converter, units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
      units.assign(static_cast<std::size_t>(produced) + 1, u'\0');
      ucnv_reset(converter);
      continue;
    }
    if (U_FAILURE(status)) {
      return {};
    }
    units.resize(static_cast<std::size_t>(produced));
    return units;
  }
  return {};
}

std::string EncodeCodePage(std::u16string_view units, int codePage) {
  UConverter* converter = ThreadConverter(codePage);
  if (converter == nullptr || units.empty()) {
    return {};
  }
  // At most three bytes per unit (UTF-8 of a BMP character).
  std::string bytes(units.size() * 3 + 1, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t produced =
        ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()), units.data(),
                        static_cast<int32_t>(units.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
      bytes.assign(static_cast<std::size_t>(produced) + 1, '\0');
      ucnv_reset(converter);
      continue;
    }
    if (U_FAILURE(status)) {
      return {};
    }
    bytes.resize(static_cast<std::size_t>(produced));
    return bytes;
  }
  return {};
}

}  // namespace pelmora::platform
