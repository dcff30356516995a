#include "imaging/convert_image.h"

#include <algorithm>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>
#include <thread>

#include "platform/image.h"
#include "text/charset.h"

namespace pelmora::imaging {
namespace {

struct FormatRow {
  const char* encoderGuid;
  const char* extension;
  int format;
  platform::ImageFormat encoder;
};

// The one table of formats: the encoder is found again from the parsed GUID,
// so a GUID and its encoder cannot drift apart.
constexpr FormatRow kFormats[] = {
    {"{557CF400-1A04-11D3-9A73-0000F81EF32E}", ".bmp", 1, platform::ImageFormat::kBmp},
    {"{557CF401-1A04-11D3-9A73-0000F81EF32E}", ".jpg", 2, platform::ImageFormat::kJpeg},
    {"{557CF402-1A04-11D3-9A73-0000F81EF32E}", ".gif", 3, platform::ImageFormat::kGif},
    {"{557CF405-1A04-11D3-9A73-0000F81EF32E}", ".tiff", 4, platform::ImageFormat::kTiff},
    {"{557CF406-1A04-11D3-9A73-0000F81EF32E}", ".png", 5, platform::ImageFormat::kPng},
};

constexpr std::uint32_t kWhite = 0xFFFFFF;

const FormatRow* RowOf(int format) {
  for (const FormatRow& row : kFormats) {
    if (row.format == format) {
      return &row;
    }
  }
  return nullptr;
}

std::optional<platform::ImageFormat> EncoderOf(const GUID& guid) {
  if (guid == GUID{}) {
    return std::nullopt;
  }
  for (const FormatRow& row : kFormats) {
    if (ClsidFromText(row.encoderGuid) == guid) {
      return row.encoder;
    }
  }
  return std::nullopt;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The value of `digits` hexadecimal digits, or nullopt if any is not one.
std::optional<std::uint32_t> HexGroup(std::string_view text, std::size_t at, std::size_t digits) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int digit = HexValue(text[at + i]);
    if (digit < 0) {
      return std::nullopt;
    }
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// Bounds the decoded pictures held at once: every download thread may call,
// but only this many pictures are in the codec together.
class CodecSlot {
 public:
  CodecSlot() { Slots().acquire(); }
  ~CodecSlot() { Slots().release(); }
  CodecSlot(const CodecSlot&) = delete;
  CodecSlot& operator=(const CodecSlot&) = delete;

 private:
  static std::counting_semaphore<>& Slots() {
    static std::counting_semaphore<> slots(
        static_cast<std::ptrdiff_t>(std::max(1u, std::thread::hardware_concurrency())));
    return slots;
  }
};

std::string Encode(std::string_view picture, platform::ImageFormat encoder, bool whiteBackground) {
  if (encoder == platform::ImageFormat::kJpeg && !whiteBackground &&
      platform::ProbeJpeg(picture, kMaxPicturePixels)) {
    // Re-encoding a JPEG as JPEG would only lose quality and time. The probe
    // reads the header alone, so it holds no codec slot and never waits
    // behind pictures that are really being decoded.
    return std::string(picture);
  }
  const CodecSlot slot;
  platform::ImagePtr image = platform::DecodeImage(picture, kMaxPicturePixels);
  if (!image) {
    return {};
  }
  if (whiteBackground) {
    image = platform::FlattenImage(*image, kWhite);
    if (!image) {
      return {};
    }
  }
  return platform::EncodeImage(*image, encoder);
}

text::Text FileName(const text::Text& path, const text::Text& extension) {
  const text::Text ending = text::TextRight(path, text::TextLength(extension));
  if (text::CompareText(text::ToLower(ending), text::ToLower(extension)) == 0) {
    return path;
  }
  return text::ConcatText(path, extension);
}

}  // namespace

GUID ClsidFromText(const text::Text& text) {
  const std::string_view t = text.view();
  if (t.size() != 38 || t.front() != '{' || t.back() != '}' || t[9] != '-' || t[14] != '-' ||
      t[19] != '-' || t[24] != '-') {
    return {};
  }
  GUID guid;
  const std::optional<std::uint32_t> data1 = HexGroup(t, 1, 8);
  const std::optional<std::uint32_t> data2 = HexGroup(t, 10, 4);
  const std::optional<std::uint32_t> data3 = HexGroup(t, 15, 4);
  if (!data1 || !data2 || !data3) {
    return {};
  }
  guid.Data1 = *data1;
  guid.Data2 = static_cast<std::uint16_t>(*data2);
  guid.Data3 = static_cast<std::uint16_t>(*data3);
  // Data4: two bytes from the fourth group, six from the fifth.
  constexpr std::size_t kData4At[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    const std::optional<std::uint32_t> byte = HexGroup(t, kData4At[i], 2);
    if (!byte) {
      return {};
    }
    guid.Data4[i] = static_cast<std::uint8_t>(*byte);
  }
  return guid;
}

int ConvertImage(const text::Bytes& picture, int format, const text::Text& path,
                 text::Bytes* encoded, bool whiteBackground) {
  if (text::BytesLength(picture) < 3) {
    return 0;
  }
  const FormatRow* row = RowOf(format);
  if (row == nullptr) {
    return 0;
  }
  const std::optional<platform::ImageFormat> encoder = EncoderOf(ClsidFromText(row->encoderGuid));
  if (!encoder) {
    return 0;
  }

  std::string bytes = Encode(picture.view(), *encoder, whiteBackground);
  if (bytes.empty()) {
    return 0;
  }
  text::Bytes result(std::move(bytes));

  if (!text::TrimBoth(path).empty()) {
    // Written without checking: a missing folder loses this one picture only.
    (void)text::WriteFileBytes(text::PathFromText(FileName(path, row->extension)), result);
  }
  if (encoded != nullptr) {
    *encoded = std::move(result);
  }
  return 1;
}

}  // namespace pelmora::imaging
