#include "imaging/convert_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pictures.h"
#include "platform/bmp/bmp_codec.h"
#include "platform/image.h"
#include "tests/common/test_folder.h"

namespace pelmora::imaging {
namespace {

using imaging_test::DecodedSize;
using imaging_test::Encoded;
using imaging_test::Gradient;
using platform::ImageFormat;
using platform::ImageSize;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool StartsWith(const std::string& bytes, std::string_view prefix) {
  return bytes.compare(0, prefix.size(), prefix) == 0;
}

// A fresh, empty folder per test, removed afterwards.
class TempDir : public pelmora::testing::TestFolder {
 public:
  // The path as our GBK text; the folder name is ASCII.
  [[nodiscard]] text::Text Gbk(const std::string& name) const {
    return text::Text((path() / name).string());
  }
  [[nodiscard]] std::set<std::string> Names() const {
    const std::vector<std::string> names = pelmora::testing::Names(path());
    return {names.begin(), names.end()};
  }
};

TEST(ClsidFromText, ParsesRegistryFormAndGivesZeroOtherwise) {
  const GUID jpeg{0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  struct Case {
    const char* label;
    const char* text;
    GUID expected;
  };
  const Case cases[] = {
      {"jpeg encoder", "{557CF401-1A04-11D3-9A73-0000F81EF32E}", jpeg},
      {"lower-case digits", "{557cf401-1a04-11d3-9a73-0000f81ef32e}", jpeg},
      {"empty", "", GUID{}},
      {"no braces", "557CF401-1A04-11D3-9A73-0000F81EF32E", GUID{}},
      {"digit that is no hex", "{557CF401-1A04-11D3-9A73-0000F81EF32G}", GUID{}},
      {"dash moved", "{557CF4011-A04-11D3-9A73-0000F81EF32E}", GUID{}},
      {"one digit short", "{557CF401-1A04-11D3-9A73-0000F81EF32}", GUID{}},
      {"trailing space", "{557CF401-1A04-11D3-9A73-0000F81EF32E} ", GUID{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ClsidFromText(c.text), c.expected);
  }
}

TEST(ConvertImage, EveryInputFormatBecomesJpegOfTheSameSize) {
  const platform::BmpPixels pixels = Gradient(37, 23, 3);
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"bmp", platform::EncodeBmp(pixels)},
      {"png", Encoded(pixels, ImageFormat::kPng)},
      {"gif", Encoded(pixels, ImageFormat::kGif)},
      {"tiff", Encoded(pixels, ImageFormat::kTiff)},
      {"webp", imaging_test::WebpOf(pixels)},
      {"png with alpha", Encoded(Gradient(37, 23, 4), ImageFormat::kPng)},
      {"bmp with alpha", platform::EncodeBmp(Gradient(37, 23, 4))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_FALSE(c.bytes.empty());
    text::Bytes encoded;
    ASSERT_EQ(ConvertImage(text::Bytes(c.bytes), 2, "", &encoded, false), 1);
    EXPECT_TRUE(StartsWith(encoded.str(), "\xFF\xD8\xFF"));
    EXPECT_EQ(DecodedSize(encoded.str()), (ImageSize{37, 23}));
  }
}

TEST(ConvertImage, EachOutputFormatOpensAsThatFormat) {
  const std::string png = Encoded(Gradient(41, 17, 4), ImageFormat::kPng);
  struct Case {
    int format;
    std::string_view magic;
  };
  const Case cases[] = {
      {1, "BM"}, {2, "\xFF\xD8\xFF"}, {3, "GIF8"}, {4, "II*"}, {5, "\x89PNG\r\n\x1A\n"},
  };
  for (const bool white : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "format " << c.format << (white ? " over white" : ""));
      text::Bytes encoded;
      ASSERT_EQ(ConvertImage(text::Bytes(png), c.format, "", &encoded, white), 1);
      EXPECT_TRUE(StartsWith(encoded.str(), c.magic));
      EXPECT_EQ(DecodedSize(encoded.str()), (ImageSize{41, 17}));
    }
  }
}

TEST(ConvertImage, WhiteBackgroundFillsTransparentPartsOnly) {
  const platform::BmpPixels source = Gradient(30, 10, 4);
  const std::string png = Encoded(source, ImageFormat::kPng);

  text::Bytes flat;
  ASSERT_EQ(ConvertImage(text::Bytes(png), 1, "", &flat, true), 1);
  const std::optional<platform::BmpPixels> pixels =
      platform::DecodeBmp(flat.str(), imaging_test::kNoLimit);
  ASSERT_TRUE(pixels);
  ASSERT_EQ(pixels->bands, 3);
  for (const int x : {0, 9, 10, 29}) {
    SCOPED_TRACE(x);
    const std::size_t at = static_cast<std::size_t>(5 * 30 + x);
    const char* got = pixels->samples.data() + at * 3;
    const char* want = source.samples.data() + at * 4;
    if (x < 10) {
      EXPECT_EQ(std::string(got, 3), "\xFF\xFF\xFF");
    } else {
      EXPECT_EQ(std::string(got, 3), std::string(want, 3));
    }
  }

  // Without it the transparency is kept where the format has room for it.
  text::Bytes kept;
  ASSERT_EQ(ConvertImage(text::Bytes(png), 1, "", &kept, false), 1);
  const std::optional<platform::BmpPixels> withAlpha =
      platform::DecodeBmp(kept.str(), imaging_test::kNoLimit);
  ASSERT_TRUE(withAlpha);
  EXPECT_EQ(withAlpha->bands, 4);
  EXPECT_EQ(withAlpha->samples, source.samples);
}

TEST(ConvertImage, JpegAskedForAsJpegIsKeptByteForByte) {
  // Bytes after the end marker survive only when the file is kept as it is.
  const std::string jpeg = Encoded(Gradient(64, 48, 3), ImageFormat::kJpeg) + "trailing bytes";
  text::Bytes encoded;
  ASSERT_EQ(ConvertImage(text::Bytes(jpeg), 2, "", &encoded, false), 1);
  EXPECT_EQ(encoded.str(), jpeg);

  // Drawn over white it is encoded afresh.
  text::Bytes over;
  ASSERT_EQ(ConvertImage(text::Bytes(jpeg), 2, "", &over, true), 1);
  EXPECT_NE(over.str(), jpeg);
  EXPECT_EQ(DecodedSize(over.str()), (ImageSize{64, 48}));

  // A JPEG whose header does not read is not kept.
  std::string broken = jpeg.substr(0, 40);
  text::Bytes untouched("sentinel");
  EXPECT_EQ(ConvertImage(text::Bytes(broken), 2, "", &untouched, false), 0);
  EXPECT_EQ(untouched.str(), "sentinel");
}

TEST(ConvertImage, ExtensionIsAppendedUnlessThePathEndsWithIt) {
  const std::string png = Encoded(Gradient(8, 8, 3), ImageFormat::kPng);
  struct Case {
    const char* label;
    std::string name;
    int format;
    std::string file;  // expected file name in the folder
  };
  const Case cases[] = {
      {"ends in a digit", "pic42", 2, "pic42.jpg"},
      {"already .jpg", "a.jpg", 2, "a.jpg"},
      {"upper-case .JPG", "b.JPG", 2, "b.JPG"},
      {"mixed-case .jPg", "c.jPg", 2, "c.jPg"},
      {".jpeg is another ending", "d.jpeg", 2, "d.jpeg.jpg"},
      {".tif with tiff", "e.tif", 4, "e.tif.tiff"},
      {".TIFF with tiff", "f.TIFF", 4, "f.TIFF"},
      {"png", "g", 5, "g.png"},
      {"bmp", "h.Bmp", 1, "h.Bmp"},
      {"gif", "i.png", 3, "i.png.gif"},
      {"trailing space kept", "j ", 2, "j .jpg"},
      {"GBK name", "\xCD\xBC\xC6\xAC", 2, "\xE5\x9B\xBE\xE7\x89\x87.jpg"},  // 图片
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    text::Bytes encoded;
    ASSERT_EQ(ConvertImage(text::Bytes(png), c.format, dir.Gbk(c.name), &encoded, false), 1);
    EXPECT_EQ(dir.Names(), std::set<std::string>{c.file});
    EXPECT_EQ(ReadFile(dir.path() / c.file), encoded.str());
  }
}

TEST(ConvertImage, BlankPathWritesNothingButStillEncodes) {
  const std::string png = Encoded(Gradient(8, 8, 3), ImageFormat::kPng);
  const std::filesystem::path before = std::filesystem::current_path();
  TempDir dir;
  std::filesystem::current_path(dir.path());
  for (const char* blank : {"", "   ", "\xA1\xA1 "}) {
    text::Bytes encoded;
    EXPECT_EQ(ConvertImage(text::Bytes(png), 2, blank, &encoded, false), 1);
    EXPECT_TRUE(StartsWith(encoded.str(), "\xFF\xD8\xFF"));
  }
  EXPECT_EQ(ConvertImage(text::Bytes(png), 2, "", nullptr, false), 1);
  EXPECT_TRUE(dir.Names().empty());
  std::filesystem::current_path(before);
}

TEST(ConvertImage, WriteToMissingFolderStillReportsTheEncode) {
  const std::string png = Encoded(Gradient(8, 8, 3), ImageFormat::kPng);
  TempDir dir;
  text::Bytes encoded;
  EXPECT_EQ(ConvertImage(text::Bytes(png), 2, dir.Gbk("missing/x"), &encoded, false), 1);
  EXPECT_FALSE(encoded.empty());
  EXPECT_TRUE(dir.Names().empty());
}

// A PNG of a few hundred bytes whose header declares `width` x `height`.
std::string PngDeclaring(std::uint32_t width, std::uint32_t height) {
  auto crc32 = [](std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char ch : data) {
      crc ^= static_cast<unsigned char>(ch);
      for (int k = 0; k < 8; ++k) {
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
      }
    }
    return ~crc;
  };
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  auto chunk = [&](std::string_view type, const std::string& data) {
    const std::string body = std::string(type) + data;
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc32(body));
  };
  // 8-bit RGB; the data is a zlib stream of zero rows, far short of the size.
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  const std::string idat(
      "\x78\x9C\xED\xC1\x01\x0D\x00\x00\x00\xC2\xA0\xF7\x4F\x6D\x0E\x37\xA0\x00\x00", 19);
  std::string png("\x89PNG\r\n\x1A\n", 8);
  png += chunk("IHDR", ihdr) + chunk("IDAT", idat) + chunk("IEND", "");
  return png;
}

TEST(ConvertImage, RefusalsLeaveEverythingUntouched) {
  const std::string png = Encoded(Gradient(16, 16, 3), ImageFormat::kPng);
  const std::string jpeg = Encoded(Gradient(64, 64, 3), ImageFormat::kJpeg);
  platform::BmpPixels bombBmp = Gradient(1, 1, 3);
  std::string bmpBomb = platform::EncodeBmp(bombBmp);
  for (int i = 0; i < 4; ++i) {  // width and height fields: 30000 each
    bmpBomb[18 + i] = static_cast<char>(30000u >> (8 * i));
    bmpBomb[22 + i] = static_cast<char>(30000u >> (8 * i));
  }
  struct Case {
    const char* label;
    std::string picture;
    int format;
  };
  const Case cases[] = {
      {"empty", "", 2},
      {"two bytes", "\xFF\xD8", 2},
      {"html page", "<!DOCTYPE html><html><body>404 Not Found</body></html>", 2},
      {"svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>", 2},
      {"format 0", png, 0},
      {"format 6", png, 6},
      {"format -1", png, -1},
      {"truncated png", png.substr(0, png.size() - 30), 2},
      {"png header only", png.substr(0, 33), 2},
      {"truncated jpeg to png", jpeg.substr(0, jpeg.size() / 2), 5},
      {"png magic then garbage", std::string("\x89PNG\r\n\x1A\n", 8) + std::string(100, 'x'), 2},
      {"png declaring 30000 x 30000", PngDeclaring(30000, 30000), 2},
      {"png declaring 30000 x 30000 over white", PngDeclaring(30000, 30000), 5},
      {"bmp declaring 30000 x 30000", bmpBomb, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    // Repeated: a decode error lost between the codec's threads shows up
    // only now and then.
    for (int round = 0; round < 30; ++round) {
      text::Bytes encoded("sentinel");
      EXPECT_EQ(ConvertImage(text::Bytes(c.picture), c.format, dir.Gbk("out"), &encoded, false), 0);
      EXPECT_EQ(encoded.str(), "sentinel");
    }
    EXPECT_TRUE(dir.Names().empty());
  }
  // Just under the limit the same small file is accepted from its header.
  EXPECT_TRUE(platform::DecodeImage(PngDeclaring(13377, 13377), kMaxPicturePixels));
  EXPECT_FALSE(platform::DecodeImage(PngDeclaring(13378, 13378), kMaxPicturePixels));
}

TEST(ConvertImage, CorpusPicturesConvertWithTheirSizeOrAreRefused) {
  const std::filesystem::path corpus = imaging_test::CorpusDir();
  if (corpus.empty()) {
    GTEST_SKIP() << "picture corpus not found at " << PELMORA_CORPUS_DIR;
  }
  // 12-bit samples are beyond the JPEG library's 8-bit build.
  const std::set<std::string> refused = {"monkey12.jpg"};
  int converted = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".png" && ext != ".jpg" && ext != ".bmp") {
      continue;
    }
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const std::string bytes = ReadFile(entry.path());
    text::Bytes encoded;
    const int result = ConvertImage(text::Bytes(bytes), 2, "", &encoded, false);
    if (refused.contains(name)) {
      EXPECT_EQ(result, 0);
      continue;
    }
    ASSERT_EQ(result, 1);
    const ImageSize size = DecodedSize(encoded.str());
    EXPECT_EQ(size, DecodedSize(bytes));
    EXPECT_GT(size.width, 0);
    ++converted;
  }
  EXPECT_GT(converted, 50);
}

TEST(ConvertImage, ManyThreadsAtOnceGiveTheSameBytesAsOne) {
  const std::string tall = Encoded(Gradient(300, 400, 3), ImageFormat::kPng);
  const std::vector<std::string> inputs = {
      tall.substr(0, tall.size() / 2),  // cut short: must fail every time
      Encoded(Gradient(120, 80, 3), ImageFormat::kPng),
      Encoded(Gradient(90, 60, 4), ImageFormat::kPng),
      Encoded(Gradient(70, 50, 3), ImageFormat::kGif),
      platform::EncodeBmp(Gradient(33, 21, 3)),
      Encoded(Gradient(64, 64, 3), ImageFormat::kJpeg),
      "not a picture at all",
  };
  std::vector<std::string> expected;
  for (const std::string& input : inputs) {
    text::Bytes out;
    ConvertImage(text::Bytes(input), 2, "", &out, false);
    expected.push_back(out.str());
  }
  ASSERT_TRUE(expected[0].empty());
  std::atomic<int> mismatches{0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 24; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < 3; ++round) {
          const std::size_t i = static_cast<std::size_t>(t + round) % inputs.size();
          text::Bytes out;
          ConvertImage(text::Bytes(inputs[i]), 2, "", &out, false);
          if (out.str() != expected[i]) {
            ++mismatches;
          }
        }
      });
    }
  }
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace pelmora::imaging
