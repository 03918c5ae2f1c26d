// Decoding and fitting 800 x 800 JPEG product pictures into 60 x 60 cells, against the
// library's own decode of the same files at scale 1/8 and at full size.
#include <benchmark/benchmark.h>

#include <cstdio>

#include <jpeglib.h>

#include "query/picture.h"
#include "service/picture_maker.h"

namespace {

using sellmeter::ByteArray;

const std::vector<ByteArray>& Pictures() {
  static const std::vector<ByteArray> pictures = [] {
    std::vector<ByteArray> out;
    for (std::uint32_t seed = 1; seed <= 16; ++seed)
      out.push_back(sellmeter::service::EncodeJpeg(sellmeter::service::MakeProductBitmap(seed, 800, 800), 85));
    return out;
  }();
  return pictures;
}

// The plain library decode: RGB out, default settings, the given scale.
std::size_t LibraryDecode(const ByteArray& bytes, unsigned scaleNum, std::vector<JSAMPLE>& buffer) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = scaleNum;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
  buffer.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = buffer.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return buffer.size();
}

void Label(benchmark::State& state) {
  std::size_t bytes = 0;
  for (const auto& p : Pictures()) bytes += p.size();
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("800x800, " + std::to_string(bytes / Pictures().size() / 1024) + " KB average");
}

void BM_DecodeCellPicture(benchmark::State& state) {
  const auto& pictures = Pictures();
  std::size_t i = 0;
  for (auto _ : state) {
    auto cell = sellmeter::DecodeCellPicture(pictures[i++ % pictures.size()]);
    if (!cell) state.SkipWithError("did not decode");
    benchmark::DoNotOptimize(cell);
  }
  Label(state);
}

void BM_LibraryDecodeScale1of8(benchmark::State& state) {
  const auto& pictures = Pictures();
  std::vector<JSAMPLE> buffer;
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LibraryDecode(pictures[i++ % pictures.size()], 1, buffer));
  Label(state);
}

void BM_LibraryDecodeFullSize(benchmark::State& state) {
  const auto& pictures = Pictures();
  std::vector<JSAMPLE> buffer;
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LibraryDecode(pictures[i++ % pictures.size()], 8, buffer));
  Label(state);
}

BENCHMARK(BM_DecodeCellPicture)->MinTime(2.0);
BENCHMARK(BM_LibraryDecodeScale1of8)->MinTime(2.0);
BENCHMARK(BM_LibraryDecodeFullSize)->MinTime(2.0);

}  // namespace
