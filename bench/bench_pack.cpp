// Pack archive: writing a pack of 100 files and reading all of them back. Half the files
// are 64x64 BMP pictures (noisy, so mostly stored scrambled), half are scene-like text
// (compressed).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/file_source.h"
#include "support/image_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kFiles = 100;

const std::vector<std::pair<std::string, Bytes>>& files() {
  static const std::vector<std::pair<std::string, Bytes>> set = [] {
    std::vector<std::pair<std::string, Bytes>> v;
    for (int i = 0; i < kFiles; ++i) {
      if (i % 2 == 0) {
        v.push_back({"Images/Tex" + std::to_string(i) + ".bmp",
                     orvl::test::make_bmp24(orvl::test::make_picture(64, 64, uint32_t(i + 1)))});
      } else {
        std::string s;
        for (int k = 0; s.size() < 12000; ++k)
          s += "ObjectMotion (unnamed)\n  9\n  " + std::to_string(k * i % 360) + " 0.000000 -12.5 1 0 0\n";
        v.push_back({"Scenes/Part" + std::to_string(i) + ".lws", Bytes(s.begin(), s.end())});
      }
    }
    return v;
  }();
  return set;
}

int64_t total_bytes() {
  int64_t n = 0;
  for (const auto& f : files()) n += int64_t(f.second.size());
  return n;
}

std::string bench_path() { return "/tmp/orvl_bench_pack_" + std::to_string(::getpid()) + ".pak"; }

bool create_pack(const std::string& path) {
  orvl::FileSource src;
  if (src.pack_create(path) != orvl::PackStatus::ok) return false;
  for (const auto& [name, bytes] : files())
    if (src.pack_add_buffer(name, bytes) != orvl::PackStatus::ok) return false;
  return src.pack_close() == orvl::PackStatus::ok;
}

void BM_PackCreate100(benchmark::State& state) {
  const std::string path = bench_path();
  for (auto _ : state)
    if (!create_pack(path)) state.SkipWithError("pack could not be written");
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * total_bytes());
}
BENCHMARK(BM_PackCreate100)->Unit(benchmark::kMillisecond);

void BM_PackRead100(benchmark::State& state) {
  const std::string path = bench_path();
  if (!create_pack(path)) state.SkipWithError("pack could not be written");
  Bytes out;
  for (auto _ : state) {
    orvl::FileSource src;
    if (!src.use_pack(path)) state.SkipWithError("pack could not be opened");
    for (const auto& f : files()) {
      if (!src.read_all(f.first, out)) state.SkipWithError("entry missing");
      benchmark::DoNotOptimize(out.data());
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * total_bytes());
}
BENCHMARK(BM_PackRead100)->Unit(benchmark::kMillisecond);

}  // namespace
