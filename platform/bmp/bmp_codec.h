// The BMP file format, read and written without any imaging library, for
// backends whose library has no BMP codec of its own.
//
// Pure functions over bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora::platform {

// Pixels in memory: rows top to bottom, 8 bits per sample, `bands` samples per
// pixel: 3 (red, green, blue) or 4 (red, green, blue, alpha).
struct BmpPixels {
  int width = 0;
  int height = 0;
  int bands = 3;
  std::string samples;  // width * height * bands bytes
};

// Reads a Windows or OS/2 bitmap: 1, 4 and 8 bits per pixel with a palette
// (uncompressed or run-length coded), 16, 24 and 32 bits per pixel
// (uncompressed or with bit masks), rows stored either way up. Pictures with
// an alpha mask whose alpha is not all zero come back with 4 bands, the rest
// with 3. Nullopt for anything else, for a file cut short, and for a picture
// declaring more than `maxPixels` pixels, which is refused from the header
// before any allocation.
[[nodiscard]] std::optional<BmpPixels> DecodeBmp(std::string_view bytes, std::int64_t maxPixels);

// The whole file: 24 bits per pixel for 3 bands, 32 bits per pixel with an
// alpha mask for 4 bands, rows stored bottom up. Empty when `pixels` is not
// consistent (bands other than 3 or 4, a size that does not match) or the
// file would exceed 4 GiB.
[[nodiscard]] std::string EncodeBmp(const BmpPixels& pixels);

}  // namespace pelmora::platform
