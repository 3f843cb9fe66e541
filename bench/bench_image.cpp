// Decode speed of each image reader on a 1024 x 1024 picture, and the nearest-neighbour
// rescale that brings textures to power-of-two sizes.
#include <benchmark/benchmark.h>

#include "image/image.h"
#include "support/image_support.h"

namespace {

using namespace orvl;

constexpr uint32_t kSide = 1024;

Img picture_img() {
  test::Picture pic = test::make_picture(kSide, kSide, 7);
  // Flatten the noise channel a little so run-length coders see some runs, as in textures.
  for (size_t i = 0; i < pic.pixels.size(); ++i)
    if ((i / 16) % 2) pic.pixels[i] &= 0xFFFF00;
  Img img;
  img.width = img.height = img.pitch = kSide;
  img.format = kFormat32;
  img.pixels = pic.pixels;
  return img;
}

std::vector<uint8_t> file_for(ImgFileType type, bool compressed) {
  Img src = picture_img();
  std::vector<uint8_t> bytes;
  test::Picture pic{kSide, kSide, src.pixels};
  switch (type) {
    case ImgFileType::bmp:
      return test::make_bmp24(pic);
    case ImgFileType::iff:
      return test::make_ilbm24(pic, compressed);
    case ImgFileType::tga:
      if (compressed) return test::make_tga10_24(pic);
      {
        TgaCodec tga;
        (void)tga.bind(&src);
        (void)tga.encode(bytes);
      }
      return bytes;
    default: {
      JpegCodec jpeg;
      (void)jpeg.bind(&src);
      (void)jpeg.encode(bytes, 0, 90, false);
      return bytes;
    }
  }
}

void decode_bench(benchmark::State& state, ImgFileType type, bool compressed) {
  Img img;
  img.type = type;
  (void)img.set_file_data(file_for(type, compressed));
  ImgDecoder dec;
  dec.bind(&img);
  for (auto _ : state) {
    if (dec.decode() != ImgError::ok) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(img.pixels.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * img.file_size());
  state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSide * kSide / 1e6,
                                                  benchmark::Counter::kIsRate);
  state.counters["file_KiB"] = img.file_size() / 1024.0;
}

void BM_DecodeBmp24(benchmark::State& s) { decode_bench(s, ImgFileType::bmp, false); }
void BM_DecodeTgaRaw32(benchmark::State& s) { decode_bench(s, ImgFileType::tga, false); }
void BM_DecodeTgaRle24(benchmark::State& s) { decode_bench(s, ImgFileType::tga, true); }
void BM_DecodeIlbmRaw(benchmark::State& s) { decode_bench(s, ImgFileType::iff, false); }
void BM_DecodeIlbmByteRun1(benchmark::State& s) { decode_bench(s, ImgFileType::iff, true); }
void BM_DecodeJpegQ90(benchmark::State& s) { decode_bench(s, ImgFileType::jpeg, false); }

void BM_ImgResize(benchmark::State& state) {
  const uint32_t side = static_cast<uint32_t>(state.range(0));
  const Img src = picture_img();
  for (auto _ : state) {
    state.PauseTiming();
    Img img = src;
    state.ResumeTiming();
    if (img.resize(side, side, side) != ImgError::ok) state.SkipWithError("resize failed");
    benchmark::DoNotOptimize(img.pixels.data());
  }
  state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * side * side / 1e6,
                                                  benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_DecodeBmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTgaRaw32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTgaRle24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeIlbmRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeIlbmByteRun1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpegQ90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImgResize)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);
