// Character-set conversion and percent-decoding.
//
// Code pages go by their numbers: 936 (GBK), 65001 (UTF-8); 0, the system's
// ANSI code page, means 936 here. UTF-16 travels in `Bytes` as little-endian
// units followed by one zero unit. Pure functions; any thread.
#pragma once

#include <filesystem>
#include <optional>

#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::text {

inline constexpr int kCodePageAnsi = 0;
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// Not given: UTF-8. Malformed UTF-8 becomes U+FFFD. An unknown code page gives
// empty Bytes; otherwise the result ends with the zero unit, and an empty text
// gives just the zero unit.
[[nodiscard]] Bytes MultiByteToUtf16(const Text& text, std::optional<int> codePage = std::nullopt);
// Reads up to the first zero unit. Not given: code page 0. A character the
// code page lacks becomes "?"; an unknown code page gives the empty text.
[[nodiscard]] Text Utf16ToMultiByte(const Bytes& utf16, std::optional<int> codePage = std::nullopt);
// UTF-8 bytes to GBK.
[[nodiscard]] Text Utf8ToAnsi(const Text& text);
// GBK text to UTF-16 with the terminator, unless stripped; empty text gives
// empty Bytes.
[[nodiscard]] Bytes TextToUtf16Bytes(const Text& text, bool stripTerminator = false);
// Replaces each "%" and the two positions after it by the byte they stand for;
// `toAnsi` then reads the result as UTF-8 and converts it to GBK.
[[nodiscard]] Text PercentDecode(const Text& text, bool toAnsi = false);

// A GBK path as a native file-system path, for the file routines. The path
// is taken as it is: no separators are changed.
[[nodiscard]] std::filesystem::path PathFromText(const Text& path);
// A native path as GBK text; characters GBK lacks become "?".
[[nodiscard]] Text TextFromPath(const std::filesystem::path& path);

}  // namespace pelmora::text
