// Pictures made in the tests, and the corpus of pictures nobody here made.
#pragma once

#include <vips/vips.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/bmp/bmp_codec.h"
#include "platform/image.h"

namespace pelmora::imaging_test {

inline constexpr std::int64_t kNoLimit = std::int64_t{1} << 40;

// Every pixel a different colour; with 4 bands the left third is fully
// transparent and the rest opaque.
inline platform::BmpPixels Gradient(int width, int height, int bands) {
  platform::BmpPixels p{width, height, bands, std::string()};
  p.samples.reserve(static_cast<std::size_t>(width * height * bands));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.samples.push_back(static_cast<char>(x * 255 / std::max(1, width - 1)));
      p.samples.push_back(static_cast<char>(y * 255 / std::max(1, height - 1)));
      p.samples.push_back(static_cast<char>((x + y) % 256));
      if (bands == 4) {
        p.samples.push_back(static_cast<char>(x < width / 3 ? 0 : 255));
      }
    }
  }
  return p;
}

// `pixels` encoded in `format` by the platform codec.
inline std::string Encoded(const platform::BmpPixels& pixels, platform::ImageFormat format) {
  platform::ImagePtr image = platform::DecodeImage(platform::EncodeBmp(pixels), kNoLimit);
  return image ? platform::EncodeImage(*image, format) : std::string();
}

// `pixels` as a lossless WebP, which the platform codec reads but never writes.
inline std::string WebpOf(const platform::BmpPixels& pixels) {
  if (vips_init("imaging_tests") != 0) {
    return {};
  }
  VipsImage* image =
      vips_image_new_from_memory_copy(pixels.samples.data(), pixels.samples.size(), pixels.width,
                                      pixels.height, pixels.bands, VIPS_FORMAT_UCHAR);
  if (image == nullptr) {
    return {};
  }
  void* buffer = nullptr;
  std::size_t size = 0;
  std::string result;
  if (vips_webpsave_buffer(image, &buffer, &size, "lossless", TRUE, nullptr) == 0) {
    result.assign(static_cast<const char*>(buffer), size);
  }
  g_free(buffer);
  g_object_unref(image);
  return result;
}

// The shared picture corpus, or an empty path when this checkout lacks it.
inline std::filesystem::path CorpusDir() {
  const std::filesystem::path dir(PELMORA_CORPUS_DIR);
  std::error_code error;
  return std::filesystem::is_directory(dir, error) ? dir : std::filesystem::path();
}

// The size a picture decodes to, or {0, 0} when it does not decode.
inline platform::ImageSize DecodedSize(const std::string& bytes) {
  platform::ImagePtr image = platform::DecodeImage(bytes, kNoLimit);
  if (!image) {
    return {};
  }
  // Encoding forces every pixel to be decoded, which the header alone does not.
  if (platform::EncodeImage(*image, platform::ImageFormat::kBmp).empty()) {
    return {};
  }
  return platform::ImageDimensions(*image);
}

}  // namespace pelmora::imaging_test
