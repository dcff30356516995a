#include "platform/bmp/bmp_codec.h"

#include <array>
#include <bit>
#include <cstddef>
#include <limits>
#include <vector>

namespace pelmora::platform {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

std::uint32_t ReadU32(std::string_view bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

std::uint16_t ReadU16(std::string_view bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void PutU32(std::string* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out->push_back(static_cast<char>(value >> (8 * i)));
  }
}

void PutU16(std::string* out, std::uint16_t value) {
  out->push_back(static_cast<char>(value));
  out->push_back(static_cast<char>(value >> 8));
}

// One channel described by a bit mask, scaled to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (mask == 0) {
      return;
    }
    shift = std::countr_zero(mask);
    bits = std::popcount(mask >> shift);
    // Masks with holes are read as if contiguous from their lowest bit.
    if (bits > 32 - shift) {
      bits = 32 - shift;
    }
  }

  [[nodiscard]] unsigned char Scale(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) {
      return static_cast<unsigned char>(v >> (bits - 8));
    }
    const std::uint32_t max = (1u << bits) - 1;
    return static_cast<unsigned char>((v * 255 + max / 2) / max);
  }
};

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool topDown = false;
  int bitCount = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t colorsUsed = 0;
  std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
  std::size_t paletteAt = 0;
  std::size_t paletteEntrySize = 4;
  std::size_t pixelsAt = 0;
};

std::optional<Header> ReadHeader(std::string_view bytes) {
  if (bytes.size() < kFileHeaderSize + 12 || bytes[0] != 'B' || bytes[1] != 'M') {
    return std::nullopt;
  }
  Header h;
  h.pixelsAt = ReadU32(bytes, 10);
  const std::uint32_t infoSize = ReadU32(bytes, kFileHeaderSize);
  const std::size_t info = kFileHeaderSize;
  if (infoSize == 12) {
    h.width = ReadU16(bytes, info + 4);
    h.height = ReadU16(bytes, info + 6);
    h.bitCount = ReadU16(bytes, info + 10);
    h.paletteEntrySize = 3;
    h.paletteAt = info + 12;
  } else {
    if (infoSize < 40 || infoSize > 1024 || bytes.size() < info + infoSize) {
      return std::nullopt;
    }
    h.width = static_cast<std::int32_t>(ReadU32(bytes, info + 4));
    h.height = static_cast<std::int32_t>(ReadU32(bytes, info + 8));
    h.bitCount = ReadU16(bytes, info + 14);
    h.compression = ReadU32(bytes, info + 16);
    h.colorsUsed = ReadU32(bytes, info + 32);
    h.paletteAt = info + infoSize;
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
      const std::size_t count = h.compression == kAlphaBitFields ? 4 : 3;
      if (infoSize >= 52) {
        for (std::size_t i = 0; i < 3; ++i) {
          h.masks[i] = ReadU32(bytes, info + 40 + 4 * i);
        }
        if (infoSize >= 56) {
          h.masks[3] = ReadU32(bytes, info + 52);
        }
      } else {
        // A plain 40-byte header is followed by the masks.
        if (bytes.size() < info + infoSize + 4 * count) {
          return std::nullopt;
        }
        for (std::size_t i = 0; i < count; ++i) {
          h.masks[i] = ReadU32(bytes, info + infoSize + 4 * i);
        }
        h.paletteAt += 4 * count;
      }
    }
  }
  if (h.height < 0) {
    h.topDown = true;
    h.height = -h.height;
  }
  if (h.width <= 0 || h.height <= 0) {
    return std::nullopt;
  }
  return h;
}

bool ValidLayout(const Header& h) {
  switch (h.compression) {
    case kRgb:
      return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
             h.bitCount == 24 || h.bitCount == 32;
    case kRle8:
      return h.bitCount == 8 && !h.topDown;
    case kRle4:
      return h.bitCount == 4 && !h.topDown;
    case kBitFields:
    case kAlphaBitFields:
      return (h.bitCount == 16 || h.bitCount == 32) && h.masks[0] != 0 && h.masks[1] != 0 &&
             h.masks[2] != 0;
    default:
      return false;
  }
}

using Palette = std::vector<std::array<unsigned char, 3>>;  // red, green, blue

std::optional<Palette> ReadPalette(std::string_view bytes, const Header& h) {
  const std::size_t most = std::size_t{1} << h.bitCount;
  std::size_t count = h.colorsUsed == 0 ? most : std::min<std::size_t>(h.colorsUsed, most);
  if (h.paletteAt > bytes.size()) {
    return std::nullopt;
  }
  // A palette cut short by the pixel data or the file end keeps what fits.
  const std::size_t end = std::min<std::size_t>(bytes.size(), std::max(h.pixelsAt, h.paletteAt));
  count = std::min(count, (end - h.paletteAt) / h.paletteEntrySize);
  Palette palette(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = h.paletteAt + i * h.paletteEntrySize;
    palette[i] = {static_cast<unsigned char>(bytes[at + 2]),
                  static_cast<unsigned char>(bytes[at + 1]), static_cast<unsigned char>(bytes[at])};
  }
  return palette;
}

// Expands run-length coded data into one palette index per pixel, rows bottom
// up. Pixels the coding skips keep index 0.
bool ExpandRle(std::string_view data, const Header& h, std::vector<unsigned char>* indices) {
  const auto width = static_cast<std::size_t>(h.width);
  const auto height = static_cast<std::size_t>(h.height);
  const bool nibbles = h.compression == kRle4;
  std::size_t x = 0;
  std::size_t y = 0;
  std::size_t at = 0;
  auto put = [&](unsigned char index) {
    if (x < width && y < height) {
      (*indices)[y * width + x] = index;
    }
    ++x;
  };
  while (at + 2 <= data.size()) {
    const auto count = static_cast<unsigned char>(data[at]);
    const auto value = static_cast<unsigned char>(data[at + 1]);
    at += 2;
    if (count > 0) {
      for (unsigned i = 0; i < count; ++i) {
        put(nibbles ? static_cast<unsigned char>(i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
      }
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (at + 2 > data.size()) {
        return false;
      }
      x += static_cast<unsigned char>(data[at]);
      y += static_cast<unsigned char>(data[at + 1]);
      at += 2;
    } else {
      const std::size_t bytesUsed = nibbles ? (value + 1u) / 2 : value;
      if (at + bytesUsed > data.size()) {
        return false;
      }
      for (unsigned i = 0; i < value; ++i) {
        const auto b = static_cast<unsigned char>(data[at + (nibbles ? i / 2 : i)]);
        put(nibbles ? static_cast<unsigned char>(i % 2 == 0 ? b >> 4 : b & 0x0F) : b);
      }
      at += (bytesUsed + 1) & ~std::size_t{1};  // runs are padded to 16 bits
    }
    if (y >= height) {
      return true;
    }
  }
  // Data that ends without its end-of-bitmap mark is cut short.
  return false;
}

}  // namespace

std::optional<BmpPixels> DecodeBmp(std::string_view bytes, std::int64_t maxPixels) {
  const std::optional<Header> header = ReadHeader(bytes);
  if (!header || !ValidLayout(*header)) {
    return std::nullopt;
  }
  const Header& h = *header;
  if (h.width > maxPixels / h.height) {
    return std::nullopt;
  }
  if (h.pixelsAt >= bytes.size()) {
    return std::nullopt;
  }

  const auto width = static_cast<std::size_t>(h.width);
  const auto height = static_cast<std::size_t>(h.height);
  const std::size_t stride = (width * static_cast<std::size_t>(h.bitCount) + 31) / 32 * 4;
  const std::string_view data = bytes.substr(h.pixelsAt);
  const bool rle = h.compression == kRle8 || h.compression == kRle4;
  if (!rle && data.size() / stride < height) {
    return std::nullopt;
  }

  Palette palette;
  if (h.bitCount <= 8) {
    std::optional<Palette> read = ReadPalette(bytes, h);
    if (!read) {
      return std::nullopt;
    }
    palette = std::move(*read);
  }
  std::vector<unsigned char> rleIndices;
  if (rle) {
    rleIndices.assign(width * height, 0);
    if (!ExpandRle(data, h, &rleIndices)) {
      return std::nullopt;
    }
  }

  std::array<std::uint32_t, 4> masks = h.masks;
  if (h.compression == kRgb && h.bitCount == 16) {
    masks = {0x7C00, 0x03E0, 0x001F, 0};
  }
  if (h.compression == kRgb && h.bitCount == 32) {
    masks = {0xFF0000, 0x00FF00, 0x0000FF, 0};
  }
  const std::array<Channel, 4> channels{Channel(masks[0]), Channel(masks[1]), Channel(masks[2]),
                                        Channel(masks[3])};

  // 16 and 32 bits per pixel: the pixel value of column x in a stored row.
  auto packed = [&](std::size_t stored, std::size_t x) -> std::uint32_t {
    const std::size_t at = stored * stride + x * static_cast<std::size_t>(h.bitCount / 8);
    return h.bitCount == 16 ? ReadU16(data, at) : ReadU32(data, at);
  };
  // An alpha band that is zero throughout comes from writers that leave the
  // fourth byte unused; showing the picture as invisible would be wrong.
  bool anyAlpha = false;
  if (h.bitCount >= 16 && masks[3] != 0) {
    for (std::size_t row = 0; row < height && !anyAlpha; ++row) {
      for (std::size_t x = 0; x < width && !anyAlpha; ++x) {
        anyAlpha = channels[3].Scale(packed(row, x)) != 0;
      }
    }
  }

  BmpPixels result;
  result.width = static_cast<int>(width);
  result.height = static_cast<int>(height);
  result.bands = anyAlpha ? 4 : 3;
  const auto bands = static_cast<std::size_t>(result.bands);
  result.samples.assign(width * height * bands, '\0');
  for (std::size_t row = 0; row < height; ++row) {
    const std::size_t stored = h.topDown ? row : height - 1 - row;
    auto* out = reinterpret_cast<unsigned char*>(result.samples.data() + row * width * bands);
    const auto* in =
        reinterpret_cast<const unsigned char*>(data.data() + (rle ? 0 : stored * stride));
    for (std::size_t x = 0; x < width; ++x, out += bands) {
      if (h.bitCount <= 8) {
        unsigned index = 0;
        if (rle) {
          index = rleIndices[stored * width + x];
        } else {
          const std::size_t bit = x * static_cast<std::size_t>(h.bitCount);
          const unsigned byte = in[bit / 8];
          index = (byte >> (8 - h.bitCount - bit % 8)) & ((1u << h.bitCount) - 1);
        }
        if (index < palette.size()) {
          out[0] = palette[index][0];
          out[1] = palette[index][1];
          out[2] = palette[index][2];
        }  // else black, as assigned
      } else if (h.bitCount == 24) {
        out[0] = in[x * 3 + 2];
        out[1] = in[x * 3 + 1];
        out[2] = in[x * 3];
      } else {
        const std::uint32_t pixel = packed(stored, x);
        for (std::size_t c = 0; c < 3; ++c) {
          out[c] = channels[c].Scale(pixel);
        }
        if (anyAlpha) {
          out[3] = channels[3].Scale(pixel);
        }
      }
    }
  }
  return result;
}

std::string EncodeBmp(const BmpPixels& pixels) {
  if ((pixels.bands != 3 && pixels.bands != 4) || pixels.width <= 0 || pixels.height <= 0) {
    return {};
  }
  const auto width = static_cast<std::uint64_t>(pixels.width);
  const auto height = static_cast<std::uint64_t>(pixels.height);
  const auto bands = static_cast<std::uint64_t>(pixels.bands);
  if (pixels.samples.size() != width * height * bands) {
    return {};
  }

  const bool alpha = pixels.bands == 4;
  const std::uint32_t infoSize = alpha ? 108 : 40;  // a version 4 header carries the alpha mask
  const std::uint64_t stride = (width * bands + 3) / 4 * 4;
  const std::uint64_t offset = kFileHeaderSize + infoSize;
  const std::uint64_t fileSize = offset + stride * height;
  if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
    return {};
  }

  std::string out;
  out.reserve(static_cast<std::size_t>(fileSize));
  out += "BM";
  PutU32(&out, static_cast<std::uint32_t>(fileSize));
  PutU32(&out, 0);
  PutU32(&out, static_cast<std::uint32_t>(offset));
  PutU32(&out, infoSize);
  PutU32(&out, static_cast<std::uint32_t>(width));
  PutU32(&out, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  PutU16(&out, 1);
  PutU16(&out, static_cast<std::uint16_t>(bands * 8));
  PutU32(&out, alpha ? kBitFields : kRgb);
  PutU32(&out, static_cast<std::uint32_t>(stride * height));
  PutU32(&out, 2835);  // 72 dots per inch
  PutU32(&out, 2835);
  PutU32(&out, 0);
  PutU32(&out, 0);
  if (alpha) {
    PutU32(&out, 0x00FF0000);
    PutU32(&out, 0x0000FF00);
    PutU32(&out, 0x000000FF);
    PutU32(&out, 0xFF000000);
    PutU32(&out, 0x73524742);   // colour space "sRGB"
    out.append(36 + 12, '\0');  // end points and gamma, unused with sRGB
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width * bands);
  const std::size_t padding = static_cast<std::size_t>(stride) - rowBytes;
  for (std::uint64_t row = height; row-- > 0;) {
    const char* in = pixels.samples.data() + row * rowBytes;
    for (std::uint64_t x = 0; x < width; ++x, in += bands) {
      out.push_back(in[2]);
      out.push_back(in[1]);
      out.push_back(in[0]);
      if (alpha) {
        out.push_back(in[3]);
      }
    }
    out.append(padding, '\0');
  }
  return out;
}

}  // namespace pelmora::platform
