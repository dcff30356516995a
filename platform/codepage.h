// Code-page conversion between byte strings and UTF-16.
//
// Code pages: 936 (GBK; 0 also means 936 here) and 65001 (UTF-8). Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace pelmora::platform {

// True for the code pages this backend converts: 0, 936 and 65001.
[[nodiscard]] bool IsKnownCodePage(int codePage);
// The UTF-16 units of `bytes` read in `codePage`. Malformed UTF-8 becomes
// U+FFFD; an unknown code page gives empty.
[[nodiscard]] std::u16string DecodeCodePage(std::string_view bytes, int codePage);
// The bytes of `units` in `codePage`. A character the code page lacks becomes
// "?"; an unknown code page gives empty.
[[nodiscard]] std::string EncodeCodePage(std::u16string_view units, int codePage);

}  // namespace pelmora::platform
