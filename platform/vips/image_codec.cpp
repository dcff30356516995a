// The picture codec on libvips, with BMP read and written by our own codec
// since libvips reaches BMP only through a catch-all loader.

#include <vips/vips.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/bmp/bmp_codec.h"
#include "platform/image.h"

namespace pelmora::platform {

struct Image {
  VipsImage* vips = nullptr;  // one reference, owned
  // The bytes the image still reads from (the encoded file for a lazily
  // decoding loader, the samples of a picture decoded here); shared by every
  // image built on top of this one.
  std::shared_ptr<const std::string> source;
};

void ReleaseImage(Image* image) {
  if (image == nullptr) {
    return;
  }
  if (image->vips != nullptr) {
    g_object_unref(image->vips);
  }
  delete image;
}

namespace {

// The loaders allowed to run. Everything else that loads (SVG, PDF, the
// catch-all loaders, files by name) stays blocked: the bytes come from any
// server.
constexpr const char* kAllowedLoaders[] = {
    "VipsForeignLoadJpegBuffer", "VipsForeignLoadPngBuffer",  "VipsForeignLoadNsgifBuffer",
    "VipsForeignLoadTiffBuffer", "VipsForeignLoadWebpBuffer",
};

void DropMessage(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* /*message*/,
                 gpointer /*data*/) {}

bool StartLibrary() {
  static const bool started = [] {
    if (vips_init("pelmora") != 0) {
      return false;
    }
    // Damaged pictures are answered with a failed result; the library's
    // warnings about them would only clutter the terminal.
    g_log_set_handler("VIPS",
                      static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                      DropMessage, nullptr);
    // Pictures are decoded once; a cache would only hold memory.
    vips_cache_set_max(0);
    // One worker per picture: the callers already run several pictures side
    // by side, and with more workers a decode error raised on one of them can
    // be lost, so that a picture cut short would encode as if whole.
    vips_concurrency_set(1);
    vips_block_untrusted_set(TRUE);
    vips_operation_block_set("VipsForeignLoad", TRUE);
    for (const char* name : kAllowedLoaders) {
      vips_operation_block_set(name, FALSE);
    }
    return true;
  }();
  return started;
}

// libvips keeps buffers per thread and frees them only when told that the
// thread is done with it; the caller's threads are not libvips's own.
struct ThreadRelease {
  ThreadRelease() = default;
  ThreadRelease(const ThreadRelease&) = delete;
  ThreadRelease& operator=(const ThreadRelease&) = delete;
  ~ThreadRelease() { vips_thread_shutdown(); }
};

// True when the library is usable on this thread.
bool Ready() {
  if (!StartLibrary()) {
    return false;
  }
  thread_local ThreadRelease release;
  (void)release;
  return true;
}

struct VipsUnref {
  void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsPtr = std::unique_ptr<VipsImage, VipsUnref>;

// Turns a libvips failure into ours: the message is not reported anywhere, so
// it is dropped rather than left to fill the library's error buffer. `out` is
// taken by reference so that it is read only after the call that fills it.
VipsPtr Checked(int status, VipsImage* const& out) {
  if (status != 0) {
    if (out != nullptr) {
      g_object_unref(out);
    }
    vips_error_clear();
    return nullptr;
  }
  return VipsPtr(out);
}

ImagePtr Wrap(VipsPtr vips, std::shared_ptr<const std::string> source) {
  if (!vips) {
    return nullptr;
  }
  auto* image = new Image;
  image->vips = vips.release();
  image->source = std::move(source);
  return ImagePtr(image);
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

enum class Source { kUnknown, kJpeg, kPng, kGif, kBmp, kTiff, kWebp };

Source Sniff(std::string_view bytes) {
  using namespace std::string_view_literals;
  if (StartsWith(bytes, "\xFF\xD8\xFF"sv)) {
    return Source::kJpeg;
  }
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"sv)) {
    return Source::kPng;
  }
  if (StartsWith(bytes, "GIF87a"sv) || StartsWith(bytes, "GIF89a"sv)) {
    return Source::kGif;
  }
  if (StartsWith(bytes, "BM"sv)) {
    return Source::kBmp;
  }
  if (StartsWith(bytes, "II*\0"sv) || StartsWith(bytes, "MM\0*"sv) ||
      StartsWith(bytes, "II+\0"sv) || StartsWith(bytes, "MM\0+"sv)) {
    return Source::kTiff;
  }
  if (bytes.size() >= 12 && StartsWith(bytes, "RIFF"sv) && bytes.substr(8, 4) == "WEBP"sv) {
    return Source::kWebp;
  }
  return Source::kUnknown;
}

// Reads the header only; pixels are decoded as the image is read, front to
// back, and a picture cut short fails then.
VipsPtr LoadHeader(Source kind, const std::string& bytes) {
  void* data = const_cast<char*>(bytes.data());
  const std::size_t size = bytes.size();
  VipsImage* out = nullptr;
  int status = -1;
  switch (kind) {
    case Source::kJpeg:
      status = vips_jpegload_buffer(data, size, &out, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                    VIPS_FAIL_ON_TRUNCATED, nullptr);
      break;
    case Source::kPng:
      status = vips_pngload_buffer(data, size, &out, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                   VIPS_FAIL_ON_TRUNCATED, nullptr);
      break;
    case Source::kGif:
      status = vips_gifload_buffer(data, size, &out, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                   VIPS_FAIL_ON_TRUNCATED, nullptr);
      break;
    case Source::kTiff:
      status = vips_tiffload_buffer(data, size, &out, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                    VIPS_FAIL_ON_TRUNCATED, nullptr);
      break;
    case Source::kWebp:
      status = vips_webpload_buffer(data, size, &out, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                    VIPS_FAIL_ON_TRUNCATED, nullptr);
      break;
    case Source::kBmp:
    case Source::kUnknown:
      break;
  }
  return Checked(status, out);
}

bool WithinLimit(const VipsImage* image, std::int64_t maxPixels) {
  const std::int64_t width = vips_image_get_width(image);
  const std::int64_t height = vips_image_get_height(image);
  return width > 0 && height > 0 && width <= maxPixels / height;
}

ImagePtr DecodeBmpImage(std::string_view bytes, std::int64_t maxPixels) {
  std::optional<BmpPixels> pixels = DecodeBmp(bytes, maxPixels);
  if (!pixels) {
    return nullptr;
  }
  // The image reads the samples in place; the Image keeps them alive.
  auto samples = std::make_shared<const std::string>(std::move(pixels->samples));
  VipsPtr memory(vips_image_new_from_memory(samples->data(), samples->size(), pixels->width,
                                            pixels->height, pixels->bands, VIPS_FORMAT_UCHAR));
  if (!memory) {
    vips_error_clear();
    return nullptr;
  }
  VipsImage* out = nullptr;
  VipsPtr tagged = Checked(
      vips_copy(memory.get(), &out, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr), out);
  return Wrap(std::move(tagged), std::move(samples));
}

// The picture as 8-bit sRGB, with its alpha band when it has one.
VipsPtr ToSrgb8(VipsImage* image) {
  VipsImage* srgb = nullptr;
  VipsPtr colour = Checked(vips_colourspace(image, &srgb, VIPS_INTERPRETATION_sRGB, nullptr), srgb);
  if (!colour) {
    return nullptr;
  }
  VipsImage* narrow = nullptr;
  VipsPtr cast = Checked(vips_cast_uchar(colour.get(), &narrow, nullptr), narrow);
  if (!cast) {
    return nullptr;
  }
  const int keep = vips_image_hasalpha(cast.get()) ? 4 : 3;
  if (vips_image_get_bands(cast.get()) == keep) {
    return cast;
  }
  VipsImage* bands = nullptr;
  return Checked(vips_extract_band(cast.get(), &bands, 0, "n", keep, nullptr), bands);
}

std::string EncodeBmpImage(VipsImage* image) {
  VipsPtr srgb = ToSrgb8(image);
  if (!srgb) {
    return {};
  }
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(srgb.get(), &size);
  if (memory == nullptr) {
    vips_error_clear();
    return {};
  }
  BmpPixels pixels;
  pixels.width = vips_image_get_width(srgb.get());
  pixels.height = vips_image_get_height(srgb.get());
  pixels.bands = vips_image_get_bands(srgb.get());
  pixels.samples.assign(static_cast<const char*>(memory), size);
  g_free(memory);
  return EncodeBmp(pixels);
}

}  // namespace

ImagePtr DecodeImage(std::string_view bytes, std::int64_t maxPixels) {
  if (!Ready()) {
    return nullptr;
  }
  const Source kind = Sniff(bytes);
  if (kind == Source::kUnknown) {
    return nullptr;
  }
  if (kind == Source::kBmp) {
    return DecodeBmpImage(bytes, maxPixels);
  }
  auto source = std::make_shared<const std::string>(bytes);
  VipsPtr header = LoadHeader(kind, *source);
  if (!header || !WithinLimit(header.get(), maxPixels)) {
    return nullptr;
  }
  return Wrap(std::move(header), std::move(source));
}

ImageSize ImageDimensions(const Image& image) {
  return {vips_image_get_width(image.vips), vips_image_get_height(image.vips)};
}

ImagePtr FlattenImage(const Image& image, std::uint32_t backgroundRgb) {
  if (!Ready()) {
    return nullptr;
  }
  if (!vips_image_hasalpha(image.vips)) {
    g_object_ref(image.vips);
    return Wrap(VipsPtr(image.vips), image.source);
  }
  VipsPtr srgb = ToSrgb8(image.vips);
  if (!srgb) {
    return nullptr;
  }
  VipsArrayDouble* background = vips_array_double_newv(
      3, static_cast<double>((backgroundRgb >> 16) & 0xFF),
      static_cast<double>((backgroundRgb >> 8) & 0xFF), static_cast<double>(backgroundRgb & 0xFF));
  VipsImage* out = nullptr;
  const int status = vips_flatten(srgb.get(), &out, "background", background, nullptr);
  vips_area_unref(VIPS_AREA(background));
  return Wrap(Checked(status, out), image.source);
}

std::string EncodeImage(const Image& image, ImageFormat format) {
  if (!Ready()) {
    return {};
  }
  if (format == ImageFormat::kBmp) {
    return EncodeBmpImage(image.vips);
  }
  void* buffer = nullptr;
  std::size_t size = 0;
  int status = -1;
  switch (format) {
    case ImageFormat::kJpeg:
      status = vips_jpegsave_buffer(image.vips, &buffer, &size, nullptr);
      break;
    case ImageFormat::kGif:
      status = vips_gifsave_buffer(image.vips, &buffer, &size, nullptr);
      break;
    case ImageFormat::kTiff:
      status = vips_tiffsave_buffer(image.vips, &buffer, &size, nullptr);
      break;
    case ImageFormat::kPng:
      status = vips_pngsave_buffer(image.vips, &buffer, &size, nullptr);
      break;
    case ImageFormat::kBmp:
      break;
  }
  std::string encoded;
  if (status == 0 && buffer != nullptr) {
    encoded.assign(static_cast<const char*>(buffer), size);
  }
  g_free(buffer);
  if (status != 0) {
    vips_error_clear();
  }
  return encoded;
}

std::optional<ImageSize> ProbeJpeg(std::string_view bytes, std::int64_t maxPixels) {
  if (!Ready() || Sniff(bytes) != Source::kJpeg) {
    return std::nullopt;
  }
  VipsImage* out = nullptr;
  VipsPtr header = Checked(vips_jpegload_buffer(const_cast<char*>(bytes.data()), bytes.size(), &out,
                                                "access", VIPS_ACCESS_SEQUENTIAL, nullptr),
                           out);
  if (!header || !WithinLimit(header.get(), maxPixels)) {
    return std::nullopt;
  }
  return ImageSize{vips_image_get_width(header.get()), vips_image_get_height(header.get())};
}

}  // namespace pelmora::platform
