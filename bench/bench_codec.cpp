// Codec throughput: the LZ block codec on 1 MB of text and of random bytes, the LZW
// codec (step-wise, as the precalculation file drives it) on 1 MB of a visibility-like
// bit stream, and the one-shot LZW helpers on 10 to 200 MB, where the rate should stay
// flat as the size grows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/lz_codec.h"
#include "codec/lzw_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 1 << 20;

const Bytes& text_mb() {
  static const Bytes data = [] {
    // Scene-file-like text: keywords, numbers and names on short lines.
    static const char* words[] = {"LoadObject", "Objects\\\\Ship.lwo", "ShowObject", "ObjectMotion",
                                  "(unnamed)", "9", "1", "0", "0.000000", "1.000000", "-12.5",
                                  "EndBehavior", "ParentObject", "LightColor", "255", "Surface",
                                  "TextureImage", "Images\\\\Hull.tga", "Frame", "Linear"};
    std::mt19937 rng(1);
    std::string s;
    while (s.size() < kSize) {
      int n = 1 + int(rng() % 9);
      for (int i = 0; i < n; ++i) {
        s += words[rng() % (sizeof words / sizeof *words)];
        s += i + 1 < n ? ' ' : '\n';
      }
    }
    s.resize(kSize);
    return Bytes(s.begin(), s.end());
  }();
  return data;
}

const Bytes& random_mb() {
  static const Bytes data = [] {
    std::mt19937 rng(2);
    Bytes b(kSize);
    for (auto& x : b) x = uint8_t(rng());
    return b;
  }();
  return data;
}

// Long runs of 0xFF and 0x00 (polygons visible or hidden over many frames) with noise.
Bytes bit_stream(size_t size) {
  std::mt19937 rng(3);
  Bytes b;
  b.reserve(size);
  while (b.size() < size) {
    uint8_t v = (rng() & 1) ? 0xFF : 0x00;
    size_t run = 16 + rng() % 2000;
    for (size_t k = 0; k < run && b.size() < size; ++k) b.push_back(rng() % 64 == 0 ? uint8_t(rng()) : v);
  }
  return b;
}

const Bytes& bits_mb() {
  static const Bytes data = bit_stream(kSize);
  return data;
}

void lz_compress_bench(benchmark::State& state, const Bytes& in) {
  Bytes out;
  for (auto _ : state) {
    if (orvl::lz_compress(in.data(), in.size(), out) != orvl::LzStatus::ok) state.SkipWithError("compress");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
  state.counters["ratio"] = double(out.size()) / double(in.size());
}

void lz_expand_bench(benchmark::State& state, const Bytes& in) {
  Bytes packed, out;
  if (orvl::lz_compress(in.data(), in.size(), packed) != orvl::LzStatus::ok) state.SkipWithError("compress");
  for (auto _ : state) {
    if (orvl::lz_expand(packed.data(), packed.size(), in.size(), out) != orvl::LzStatus::ok)
      state.SkipWithError("expand");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void BM_LzCompressText(benchmark::State& s) { lz_compress_bench(s, text_mb()); }
void BM_LzCompressRandom(benchmark::State& s) { lz_compress_bench(s, random_mb()); }
void BM_LzExpandText(benchmark::State& s) { lz_expand_bench(s, text_mb()); }
void BM_LzExpandRandom(benchmark::State& s) { lz_expand_bench(s, random_mb()); }

void BM_LzwEncodeBitStream(benchmark::State& state) {
  const Bytes& in = bits_mb();
  size_t packed = 0;
  for (auto _ : state) {
    orvl::LzwCodec codec;
    if (codec.set_input(in.data(), in.size()) != orvl::LzwStatus::ok || codec.begin_encode() != orvl::LzwStatus::ok)
      state.SkipWithError("begin");
    uint8_t a = 0, b = 0;
    while (codec.encode_step(a, b) == orvl::LzwStatus::ok) {
    }
    const uint8_t* buf;
    uint32_t len;
    codec.output(buf, len);
    packed = len;
    codec.end_encode();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
  state.counters["ratio"] = double(packed) / double(in.size());
}

void BM_LzwDecodeBitStream(benchmark::State& state) {
  const Bytes& in = bits_mb();
  Bytes packed;
  if (orvl::lzw_compress(in.data(), in.size(), packed) != orvl::LzwStatus::ok) state.SkipWithError("compress");
  for (auto _ : state) {
    orvl::LzwCodec codec;
    if (codec.begin_decode() != orvl::LzwStatus::ok || codec.set_input(packed.data(), packed.size()) != orvl::LzwStatus::ok)
      state.SkipWithError("begin");
    uint8_t pct = 0;
    while (codec.decode_step(pct) == orvl::LzwStatus::ok) {
    }
    const uint8_t* buf;
    uint32_t len;
    codec.output(buf, len);
    if (len != in.size()) state.SkipWithError("length");
    codec.end_decode();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

constexpr size_t kMB = 1000 * 1000;
constexpr size_t kLargest = 200 * kMB;

// The large inputs are made once at the largest size; smaller runs use a prefix.
const Bytes& large_bits() {
  static const Bytes data = bit_stream(kLargest);
  return data;
}

const Bytes& large_random() {
  static const Bytes data = [] {
    std::mt19937 rng(4);
    Bytes b(kLargest);
    for (size_t i = 0; i + 4 <= b.size(); i += 4) {
      uint32_t v = rng();
      std::memcpy(&b[i], &v, 4);
    }
    return b;
  }();
  return data;
}

// Expanding `range(0)` MB of the visibility-like stream.
void BM_LzwExpand(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMB;
  Bytes packed, out;
  if (orvl::lzw_compress(large_bits().data(), size, packed) != orvl::LzwStatus::ok) state.SkipWithError("compress");
  for (auto _ : state) {
    if (orvl::lzw_expand(packed.data(), packed.size(), out) != orvl::LzwStatus::ok || out.size() != size)
      state.SkipWithError("expand");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

// Compressing `range(0)` MB of random bytes: every code is one or two bytes long, the
// worst case for the dictionary lookup and the code output.
void BM_LzwCompressRandom(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMB;
  Bytes out;
  for (auto _ : state) {
    if (orvl::lzw_compress(large_random().data(), size, out) != orvl::LzwStatus::ok) state.SkipWithError("compress");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

// Compressing `range(0)` MB of the visibility-like stream.
void BM_LzwCompressBits(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMB;
  Bytes out;
  for (auto _ : state) {
    if (orvl::lzw_compress(large_bits().data(), size, out) != orvl::LzwStatus::ok) state.SkipWithError("compress");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

}  // namespace

BENCHMARK(BM_LzwExpand)->Arg(10)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LzwCompressRandom)->Arg(10)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LzwCompressBits)->Arg(10)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LzCompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzCompressRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzExpandText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzExpandRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwEncodeBitStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwDecodeBitStream)->Unit(benchmark::kMillisecond);
