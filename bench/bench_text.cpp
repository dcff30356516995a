// The two whole-page operations of a page scan, on a 1 MiB page.
#include <benchmark/benchmark.h>

#include <string>

#include "text/charset.h"
#include "text/extract.h"

namespace {

using pelmora::text::Text;

constexpr std::size_t kPageSize = 1 << 20;

// About 1 MiB of markup, mostly ASCII with some GBK, holding `blocks`
// picture blocks spread evenly through it.
Text PictureBlockPage(int blocks) {
  const std::string block =
      "clear_picSrc=%2F%2Fimg.example%2Fa%2Fb%2C%2F%2Fimg.example%2Fc%2Fd&thumb_picSrc=%";
  const std::string filler = "<div class=\"post\">\xd6\xd0\xce\xc4 text, more text.</div>\n";
  const std::size_t gap = kPageSize / static_cast<std::size_t>(blocks) - block.size();
  std::string page;
  page.reserve(kPageSize + filler.size());
  for (int i = 0; i < blocks; ++i) {
    std::string chunk;
    while (chunk.size() < gap) {
      chunk += filler;
    }
    chunk.resize(gap);
    chunk.back() = '\n';  // never ends on half a double-byte character
    page += chunk;
    page += block;
  }
  return Text(std::move(page));
}

// About 1 MiB of UTF-8: Chinese text between ASCII markup.
Text Utf8Page() {
  const std::string unit =
      "<p>\xe5\x9b\xbe\xe7\x89\x87\xe4\xb8\x8b\xe8\xbd\xbd\xe5\xae\x8c\xe6\x88\x90 "  // 图片下载完成
      "picture 12 of 40, \xe5\x8d\x9a\xe5\xae\xa2\xe6\x96\x87\xe7\xab\xa0</p>\n";  // 博客文章
  std::string page;
  page.reserve(kPageSize + unit.size());
  while (page.size() < kPageSize) {
    page += unit;
  }
  return Text(std::move(page));
}

void BM_ExtractAllBetweenPictureBlocks(benchmark::State& state) {
  const Text page = PictureBlockPage(1000);
  pelmora::text::TextList pieces;
  for (auto _ : state) {
    const int found = pelmora::text::ExtractAllBetween(page, "clear_picSrc=", "&thumb_picSrc=%",
                                                       {.pieces = &pieces});
    if (found != 1000) {
      state.SkipWithError("wrong number of pieces");
      break;
    }
    benchmark::DoNotOptimize(pieces);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.size());
}
BENCHMARK(BM_ExtractAllBetweenPictureBlocks)->Unit(benchmark::kMillisecond);

void BM_Utf8ToAnsiPage(benchmark::State& state) {
  const Text page = Utf8Page();
  for (auto _ : state) {
    Text gbk = pelmora::text::Utf8ToAnsi(page);
    benchmark::DoNotOptimize(gbk);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.size());
}
BENCHMARK(BM_Utf8ToAnsiPage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
