// Picture re-encoding: the bytes of a fetched picture become a file in one of
// five formats.
#pragma once

#include <array>
#include <cstdint>

#include "text/bytes.h"
#include "text/text.h"

namespace pelmora::imaging {

// A 16-byte identifier in its in-memory layout.
struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};
  friend bool operator==(const GUID&, const GUID&) = default;
};

// Parses the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex
// digits in either case): the first group is Data1, the second Data2, the
// third Data3, the fourth Data4 bytes 0 and 1, the fifth Data4 bytes 2 to 7,
// two digits per byte in text order. Any text that is not exactly that form,
// the empty text included, gives all zero. Pure; any thread.
//
//   ClsidFromText("{557CF401-1A04-11D3-9A73-0000F81EF32E}").Data1 == 0x557CF401
[[nodiscard]] GUID ClsidFromText(const text::Text& text);

// Pictures declaring more pixels than this (width x height) are refused from
// their header, before any pixel is decoded.
inline constexpr std::int64_t kMaxPicturePixels = 178'956'970;

// Decodes `picture` (JPEG, PNG, GIF, BMP, TIFF or WebP) and encodes it in
// `format`: 1 BMP ".bmp", 2 JPEG ".jpg", 3 GIF ".gif", 4 TIFF ".tiff",
// 5 PNG ".png". Encoders run with their default settings (JPEG quality 75).
//
// - A JPEG asked for as JPEG (format 2) without `whiteBackground` is kept byte
//   for byte, once its header reads with sane dimensions.
// - `whiteBackground`: transparent parts are drawn over white before encoding.
// - `path` (GBK) not blank after trimming spaces: the encoded bytes are written
//   to it, with the format's extension appended unless `path` already ends
//   with it in any letter case ("a.JPG" stays, "a.jpeg" becomes "a.jpeg.jpg").
//   A failed write is not reported. A blank path writes nothing.
// - `encoded` (may be null) receives the encoded bytes on success and is left
//   untouched on failure.
//
// Returns 1 when encoded bytes were produced, else 0: for a picture shorter
// than 3 bytes, a format outside 1 to 5, bytes that are no decodable picture
// (cut short included), a picture over kMaxPicturePixels, or a failed encode.
// On 0 no file is written.
//
// Safe on many threads at once. At most as many pictures as the machine has
// cores are decoded and encoded at a time; other calls wait for their turn.
int ConvertImage(const text::Bytes& picture, int format, const text::Text& path,
                 text::Bytes* encoded, bool whiteBackground);

}  // namespace pelmora::imaging
