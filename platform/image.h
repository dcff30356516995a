// Picture decoding and encoding, behind one interface so that a backend on
// another platform's own codecs can stand in for the default one.
//
// Every function may run on many threads at once; an `Image` belongs to the
// thread that holds it. Failures come back as null images, empty strings or
// nullopt; nothing throws and nothing is logged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora::platform {

// The formats a picture can be encoded in.
enum class ImageFormat { kBmp, kJpeg, kGif, kTiff, kPng };

// A decoded picture, defined by the backend. Obtain it from DecodeImage or
// FlattenImage; it is freed by ReleaseImage, which ImagePtr calls for you.
struct Image;
// Frees the image and everything it holds. Null is ignored.
void ReleaseImage(Image* image);
struct ImageReleaser {
  void operator()(Image* image) const { ReleaseImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageReleaser>;

struct ImageSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const ImageSize&, const ImageSize&) = default;
};

// Reads a JPEG, PNG, GIF (its first frame), BMP, TIFF (its first page) or
// WebP picture, recognised by its leading bytes; any other bytes give null.
// The header is read first and a picture declaring more than `maxPixels`
// pixels (width x height) gives null before any pixel is decoded. The bytes
// are copied, so the caller may free them at once.
//
// Decoding may be deferred until the image is encoded: a picture whose header
// reads but whose pixels are cut short or corrupt gives an image here and
// fails in EncodeImage.
[[nodiscard]] ImagePtr DecodeImage(std::string_view bytes, std::int64_t maxPixels);

// The width and height of the picture.
[[nodiscard]] ImageSize ImageDimensions(const Image& image);

// A new image: the picture drawn over the opaque colour `backgroundRgb`
// (0xRRGGBB), so that transparent parts take that colour. A picture without
// transparency comes back unchanged. Null on failure. `image` stays valid
// and is still the caller's to release.
[[nodiscard]] ImagePtr FlattenImage(const Image& image, std::uint32_t backgroundRgb);

// The whole encoded file in `format`, with the codec's default settings
// (JPEG quality 75). Empty when the picture's pixels cannot be decoded or the
// encoder fails.
[[nodiscard]] std::string EncodeImage(const Image& image, ImageFormat format);

// The dimensions from a JPEG's header, without decoding the pixels: nullopt
// unless `bytes` start like a JPEG, the header parses, and the picture has at
// least one pixel and no more than `maxPixels`.
[[nodiscard]] std::optional<ImageSize> ProbeJpeg(std::string_view bytes, std::int64_t maxPixels);

}  // namespace pelmora::platform
