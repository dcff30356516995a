#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "imaging/convert_image.h"
#include "pictures.h"
#include "platform/image.h"

namespace pelmora::platform {
namespace {

using imaging_test::Encoded;
using imaging_test::Gradient;
using imaging_test::kNoLimit;

// An animated GIF of `frames` frames of 20 x 10, each a different colour.
std::string AnimatedGif(int frames) {
  BmpPixels strip = Gradient(20, 10 * frames, 3);
  if (vips_init("imaging_tests") != 0) {
    return {};
  }
  VipsImage* image = vips_image_new_from_memory_copy(
      strip.samples.data(), strip.samples.size(), strip.width, strip.height, 3, VIPS_FORMAT_UCHAR);
  if (image == nullptr) {
    return {};
  }
  vips_image_set_int(image, "page-height", 10);
  void* buffer = nullptr;
  std::size_t size = 0;
  std::string gif;
  if (vips_gifsave_buffer(image, &buffer, &size, nullptr) == 0) {
    gif.assign(static_cast<const char*>(buffer), size);
  }
  g_free(buffer);
  g_object_unref(image);
  return gif;
}

TEST(ImageCodec, OnlyKnownFormatsAreRead) {
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"svg",
       "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" "
       "height=\"9\"/>"},
      {"pdf", "%PDF-1.4\n1 0 obj<</Type/Catalog>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF"},
      {"ppm", "P6\n2 2\n255\n" + std::string(12, '\x40')},
      {"vips format", std::string("\x08\xF2\xA6\xB6", 4) + std::string(64, '\0')},
      {"bytes before a png", " " + Encoded(Gradient(4, 4, 3), ImageFormat::kPng)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(DecodeImage(c.bytes, kNoLimit));
  }
}

// Loaders outside the chosen few stay blocked even when called by name, so
// that no path through the library reaches them with a server's bytes.
TEST(ImageCodec, OtherLoadersAreBlocked) {
  const std::string bmp = EncodeBmp(Gradient(4, 4, 3));
  ASSERT_TRUE(DecodeImage(bmp, kNoLimit));  // starts the library
  const std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"><rect width=\"4\" "
      "height=\"4\"/></svg>";
  VipsImage* out = nullptr;
  EXPECT_NE(vips_magickload_buffer(const_cast<char*>(bmp.data()), bmp.size(), &out, nullptr), 0);
  EXPECT_NE(vips_svgload_buffer(const_cast<char*>(svg.data()), svg.size(), &out, nullptr), 0);
  VipsImage* generic = vips_image_new_from_buffer(bmp.data(), bmp.size(), "", nullptr);
  EXPECT_EQ(generic, nullptr);
  if (generic != nullptr) {
    g_object_unref(generic);
  }
  vips_error_clear();
}

TEST(ImageCodec, AnimatedGifGivesItsFirstFrame) {
  const std::string gif = AnimatedGif(3);
  ASSERT_FALSE(gif.empty());
  ImagePtr image = DecodeImage(gif, kNoLimit);
  ASSERT_TRUE(image);
  EXPECT_EQ(ImageDimensions(*image), (ImageSize{20, 10}));
  EXPECT_EQ(imaging_test::DecodedSize(EncodeImage(*image, ImageFormat::kJpeg)),
            (ImageSize{20, 10}));
}

TEST(ImageCodec, ProbeJpegReadsTheHeaderOnly) {
  const std::string jpeg = Encoded(Gradient(50, 30, 3), ImageFormat::kJpeg);
  EXPECT_EQ(ProbeJpeg(jpeg, kNoLimit), (ImageSize{50, 30}));
  EXPECT_EQ(ProbeJpeg(jpeg, 1500), (ImageSize{50, 30}));
  EXPECT_FALSE(ProbeJpeg(jpeg, 1499));
  EXPECT_FALSE(ProbeJpeg(jpeg.substr(0, 20), kNoLimit));
  EXPECT_FALSE(ProbeJpeg(Encoded(Gradient(50, 30, 3), ImageFormat::kPng), kNoLimit));
}

TEST(ImageCodec, FlattenKeepsTheSourceUsable) {
  ImagePtr source = DecodeImage(Encoded(Gradient(12, 6, 4), ImageFormat::kPng), kNoLimit);
  ASSERT_TRUE(source);
  ImagePtr flat = FlattenImage(*source, 0x000000);
  ASSERT_TRUE(flat);
  // The flattened image reads from the source's bytes after the source is gone.
  source.reset();
  const std::optional<BmpPixels> pixels =
      DecodeBmp(EncodeImage(*flat, ImageFormat::kBmp), kNoLimit);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->bands, 3);
  EXPECT_EQ(pixels->samples.substr(0, 3), std::string(3, '\0'));  // transparent corner over black
}

void* CountObject(void* /*object*/, void* count, void* /*unused*/) {
  ++*static_cast<int*>(count);
  return nullptr;
}

// Images, regions and operations alive in libvips; a leaked image keeps its
// pipeline here, out of sight of the leak checker.
int LiveVipsObjects() {
  int count = 0;
  vips_object_map(CountObject, &count, nullptr);
  return count;
}

TEST(ImageCodec, NothingOutlivesACall) {
  const std::string png = Encoded(Gradient(40, 30, 4), ImageFormat::kPng);
  const std::string jpeg = Encoded(Gradient(40, 30, 3), ImageFormat::kJpeg);
  const std::string bmp = EncodeBmp(Gradient(40, 30, 3));
  const int objects = LiveVipsObjects();
  const int allocations = vips_tracked_get_allocs();
  for (const bool white : {false, true}) {
    for (int format = 0; format <= 6; ++format) {
      for (const std::string* picture : {&png, &jpeg, &bmp}) {
        text::Bytes out;
        imaging::ConvertImage(text::Bytes(*picture), format, "", &out, white);
        imaging::ConvertImage(text::Bytes(picture->substr(0, picture->size() * 2 / 3)), format, "",
                              &out, white);
      }
    }
  }
  // The library's worker threads drop their own last references a moment
  // after a call returns, so the count is given a little time to settle.
  for (int wait = 0; wait < 200; ++wait) {
    if (LiveVipsObjects() == objects && vips_tracked_get_allocs() == allocations) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(LiveVipsObjects(), objects);
  EXPECT_EQ(vips_tracked_get_allocs(), allocations);
}

}  // namespace
}  // namespace pelmora::platform
