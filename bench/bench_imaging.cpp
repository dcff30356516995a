// ConvertImage throughput for PNG to JPEG against the `vips copy` command on
// the same files, and the cost of keeping a JPEG as it is.
//
// Run: build/release/bench/bench_imaging

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/convert_image.h"
#include "platform/bmp/bmp_codec.h"
#include "platform/image.h"
#include "text/bytes.h"

namespace {

namespace fs = std::filesystem;
using pelmora::imaging::ConvertImage;

constexpr int kWidth = 1732;  // 1732 x 1155: two megapixels
constexpr int kHeight = 1155;
constexpr int kPictures = 4;

// Photo-like content: smooth shading with a little grain, different per picture.
std::string MakePng(int seed) {
  pelmora::platform::BmpPixels pixels{kWidth, kHeight, 3, std::string()};
  pixels.samples.resize(static_cast<std::size_t>(kWidth) * kHeight * 3);
  std::uint32_t noise = 2463534242u + static_cast<std::uint32_t>(seed);
  std::size_t at = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      const int grain = static_cast<int>(noise % 17) - 8;
      const int base[3] = {(x * 255 / kWidth + seed * 40) % 256, y * 255 / kHeight,
                           ((x + y) / 9 + seed * 70) % 256};
      for (const int c : base) {
        pixels.samples[at++] = static_cast<char>(std::clamp(c + grain, 0, 255));
      }
    }
  }
  pelmora::platform::ImagePtr image =
      pelmora::platform::DecodeImage(pelmora::platform::EncodeBmp(pixels), std::int64_t{1} << 40);
  return pelmora::platform::EncodeImage(*image, pelmora::platform::ImageFormat::kPng);
}

struct Corpus {
  fs::path dir;
  std::vector<fs::path> pngs;
  fs::path jpeg;
  std::size_t jpegBytes = 0;

  Corpus() {
    dir = fs::temp_directory_path() / ("pelmora_bench_imaging_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (int i = 0; i < kPictures; ++i) {
      pngs.push_back(dir / ("in" + std::to_string(i) + ".png"));
      pelmora::text::WriteFileBytes(pngs.back(), pelmora::text::Bytes(MakePng(i)));
    }
    jpeg = dir / "big.jpg";
    pelmora::text::Bytes encoded;
    ConvertImage(pelmora::text::ReadFileBytes(pngs[0]), 2, "", &encoded, false);
    pelmora::text::WriteFileBytes(jpeg, encoded);
    jpegBytes = static_cast<std::size_t>(encoded.size());
  }
  ~Corpus() { fs::remove_all(dir); }
  Corpus(const Corpus&) = delete;
  Corpus& operator=(const Corpus&) = delete;
};

Corpus& Files() {
  static Corpus corpus;
  return corpus;
}

// Reads each PNG from disk and writes its JPEG, as `vips copy` does.
void BM_ConvertImagePngToJpeg(benchmark::State& state) {
  Corpus& files = Files();
  const auto threadTag = std::to_string(state.thread_index());
  for (auto _ : state) {
    for (std::size_t i = 0; i < files.pngs.size(); ++i) {
      const pelmora::text::Bytes png = pelmora::text::ReadFileBytes(files.pngs[i]);
      const std::string out = (files.dir / ("ours" + threadTag + "_" + std::to_string(i))).string();
      if (ConvertImage(png, 2, pelmora::text::Text(out), nullptr, false) != 1) {
        state.SkipWithError("ConvertImage failed");
        return;
      }
    }
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kPictures * kWidth * kHeight / 1e6,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertImagePngToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertImagePngToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(2);

void BM_VipsCommandPngToJpeg(benchmark::State& state) {
  Corpus& files = Files();
  for (auto _ : state) {
    for (std::size_t i = 0; i < files.pngs.size(); ++i) {
      const std::string command = "vips copy '" + files.pngs[i].string() + "' '" +
                                  (files.dir / ("cli" + std::to_string(i) + ".jpg")).string() + "'";
      if (std::system(command.c_str()) != 0) {
        state.SkipWithError("vips copy failed (is libvips-tools installed?)");
        return;
      }
    }
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kPictures * kWidth * kHeight / 1e6,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VipsCommandPngToJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// A JPEG asked for as JPEG: the header is read and the bytes are handed back.
void BM_JpegPassThrough(benchmark::State& state) {
  Corpus& files = Files();
  const pelmora::text::Bytes jpeg = pelmora::text::ReadFileBytes(files.jpeg);
  for (auto _ : state) {
    pelmora::text::Bytes out;
    benchmark::DoNotOptimize(ConvertImage(jpeg, 2, "", &out, false));
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * jpeg.size());
  // Seconds per megabyte, printed with an SI prefix (u = microseconds).
  state.counters["s/MB"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(jpeg.size()) / 1e6,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_JpegPassThrough)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
