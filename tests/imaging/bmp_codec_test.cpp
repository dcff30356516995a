#include "platform/bmp/bmp_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace pelmora::platform {
namespace {

constexpr std::int64_t kLimit = 1'000'000;

std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
std::string Le16(std::uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

// A file with a 40-byte header; `between` (masks, palette) sits between the
// header and the pixel data.
std::string Bmp(std::int32_t width, std::int32_t height, int bits, std::uint32_t compression,
                const std::string& between, const std::string& data) {
  std::string info = Le32(40) + Le32(static_cast<std::uint32_t>(width)) +
                     Le32(static_cast<std::uint32_t>(height)) + Le16(1) +
                     Le16(static_cast<std::uint16_t>(bits)) + Le32(compression) +
                     Le32(static_cast<std::uint32_t>(data.size())) + Le32(0) + Le32(0) + Le32(0) +
                     Le32(0);
  const auto offset = static_cast<std::uint32_t>(14 + info.size() + between.size());
  return "BM" + Le32(static_cast<std::uint32_t>(offset + data.size())) + Le32(0) + Le32(offset) +
         info + between + data;
}

// Palette entries blue, green, red, 0 for: black, white, red, green.
const std::string kPalette = std::string("\0\0\0\0", 4) + std::string("\xFF\xFF\xFF\0", 4) +
                             std::string("\0\0\xFF\0", 4) + std::string("\0\xFF\0\0", 4);
const std::string kBlack("\0\0\0", 3);
const std::string kWhite("\xFF\xFF\xFF", 3);
const std::string kRed("\xFF\0\0", 3);
const std::string kGreen("\0\xFF\0", 3);

TEST(BmpCodec, ReadsEveryLayout) {
  struct Case {
    const char* label;
    std::string file;
    int width;
    int height;
    std::string rgb;  // rows top to bottom
  };
  const Case cases[] = {
      {"1 bit, bottom up", Bmp(3, 2, 1, 0, kPalette, std::string("\xA0\0\0\0\x40\0\0\0", 8)), 3, 2,
       kBlack + kWhite + kBlack + kWhite + kBlack + kWhite},
      {"4 bits", Bmp(3, 1, 4, 0, kPalette, std::string("\x23\x10\0\0", 4)), 3, 1,
       kRed + kGreen + kWhite},
      {"8 bits, index past the palette is black",
       Bmp(2, 1, 8, 0, kPalette, std::string("\x02\x09\0\0", 4)), 2, 1, kRed + kBlack},
      {"8 bits, top down", Bmp(1, -2, 8, 0, kPalette, std::string("\x02\0\0\0\x03\0\0\0", 8)), 1, 2,
       kRed + kGreen},
      {"run-length 8",
       Bmp(4, 2, 8, 1, kPalette,
           std::string("\x04\x02\x00\x00\x00\x03\x01\x02\x03\x00\x00\x01", 12)),
       4, 2, kWhite + kRed + kGreen + kBlack + kRed + kRed + kRed + kRed},
      {"run-length 4", Bmp(3, 1, 4, 2, kPalette, std::string("\x03\x23\x00\x01", 4)), 3, 1,
       kRed + kGreen + kRed},
      {"24 bits with row padding", Bmp(1, 1, 24, 0, "", std::string("\x01\x02\x03\0", 4)), 1, 1,
       "\x03\x02\x01"},
      {"16 bits, 5-5-5", Bmp(2, 1, 16, 0, "", Le16(0x7C00) + Le16(0x001F)), 2, 1,
       kRed + std::string("\0\0\xFF", 3)},
      {"16 bits, 5-6-5 masks",
       Bmp(1, 1, 16, 3, Le32(0xF800) + Le32(0x07E0) + Le32(0x001F), Le16(0x07E0) + Le16(0)), 1, 1,
       kGreen},
      {"32 bits, alpha mask over an alpha of zero throughout",
       Bmp(1, 1, 32, 6, Le32(0xFF0000) + Le32(0xFF00) + Le32(0xFF) + Le32(0xFF000000),
           std::string("\x10\x20\x30\x00", 4)),
       1, 1, "\x30\x20\x10"},
      {"32 bits, unused fourth byte", Bmp(1, 1, 32, 0, "", std::string("\x10\x20\x30\x00", 4)), 1,
       1, "\x30\x20\x10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::optional<BmpPixels> pixels = DecodeBmp(c.file, kLimit);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->width, c.width);
    EXPECT_EQ(pixels->height, c.height);
    EXPECT_EQ(pixels->bands, 3);
    EXPECT_EQ(pixels->samples, c.rgb);
  }
}

TEST(BmpCodec, WritesWhatItReadsBack) {
  for (const int bands : {3, 4}) {
    for (const int width : {1, 2, 3, 5}) {
      SCOPED_TRACE(testing::Message() << bands << " bands, width " << width);
      BmpPixels source{width, 3, bands, std::string()};
      for (int i = 0; i < width * 3 * bands; ++i) {
        source.samples.push_back(static_cast<char>(i * 37 + 1));
      }
      const std::string file = EncodeBmp(source);
      ASSERT_FALSE(file.empty());
      const std::optional<BmpPixels> back = DecodeBmp(file, kLimit);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->width, width);
      EXPECT_EQ(back->height, 3);
      EXPECT_EQ(back->bands, bands);
      EXPECT_EQ(back->samples, source.samples);
    }
  }
  EXPECT_TRUE(EncodeBmp(BmpPixels{2, 2, 3, "short"}).empty());
  EXPECT_TRUE(EncodeBmp(BmpPixels{1, 1, 2, "ab"}).empty());
}

TEST(BmpCodec, RefusesBrokenAndOversizedFiles) {
  const std::string good = Bmp(2, 2, 24, 0, "", std::string(16, '\x7F'));
  ASSERT_TRUE(DecodeBmp(good, kLimit));
  std::string rleUnfinished = Bmp(4, 2, 8, 1, kPalette, std::string("\x04\x02\x00\x00", 4));
  struct Case {
    const char* label;
    std::string file;
    std::int64_t limit;
  };
  const Case cases[] = {
      {"empty", "", kLimit},
      {"pixel data cut short", good.substr(0, good.size() - 1), kLimit},
      {"header cut short", good.substr(0, 30), kLimit},
      {"zero width", Bmp(0, 2, 24, 0, "", std::string(16, '\0')), kLimit},
      {"unknown compression", Bmp(2, 2, 24, 4, "", std::string(16, '\0')), kLimit},
      {"bit count 7", Bmp(2, 2, 7, 0, "", std::string(16, '\0')), kLimit},
      {"run-length without its end mark", rleUnfinished, kLimit},
      {"more pixels than allowed", good, 3},
      {"huge declared size", Bmp(30000, 30000, 24, 0, "", std::string(16, '\0')), 178'956'970},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(DecodeBmp(c.file, c.limit));
  }
}

}  // namespace
}  // namespace pelmora::platform
