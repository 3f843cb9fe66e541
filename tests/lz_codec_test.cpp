#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/lz_codec.h"
#include "support/shared_data.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::path vector_dir() { return orvl::test::shared_testdata("lzari"); }

std::vector<std::string> vector_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(vector_dir()))
    if (e.path().extension() == ".in") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

Bytes compress(const Bytes& in) {
  Bytes out;
  EXPECT_EQ(lz_compress(in.data(), in.size(), out), LzStatus::ok);
  return out;
}

Bytes expand(const Bytes& packed, size_t length) {
  Bytes out;
  EXPECT_EQ(lz_expand(packed.data(), packed.size(), length, out), LzStatus::ok);
  return out;
}

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

Bytes some_text(size_t n) {
  static const char* words[] = {"the ", "scene ", "object ", "light ", "camera ", "motion ",
                                "key ", "frame ", "surface ", "image ", "\n", "LoadObject ",
                                "0.5 ", "1 ", "envelope "};
  std::mt19937 rng(7);
  std::string s;
  while (s.size() < n) s += words[rng() % (sizeof words / sizeof *words)];
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

}  // namespace

TEST(LzCodec, EveryReferenceVectorMatchesByteForByte) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  auto names = vector_names();
  ASSERT_GE(names.size(), 19u);
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    Bytes in = read_file(vector_dir() / (name + ".in"));
    Bytes want = read_file(vector_dir() / (name + ".lzari"));
    Bytes got = compress(in);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    EXPECT_TRUE(expand(want, in.size()) == in);
  }
}

TEST(LzCodec, ClassStateProducesTheSameBlockAsTheHelper) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  // Two runs on one codec must not leak window bytes from the first into the second:
  // reset clears the stale area that short inputs compare against.
  Bytes a = read_file(vector_dir() / "text4096.in");
  Bytes b = read_file(vector_dir() / "spaces3.in");
  auto codec = std::make_unique<LzCodec>();
  codec->reset();
  codec->set_input(a.data(), uint32_t(a.size()));
  ASSERT_EQ(codec->compress(), LzStatus::ok);
  codec->reset();
  codec->set_input(b.data(), uint32_t(b.size()));
  ASSERT_EQ(codec->compress(), LzStatus::ok);
  EXPECT_EQ(codec->compressed_length(), codec->output().size());
  EXPECT_TRUE(codec->output() == read_file(vector_dir() / "spaces3.lzari"));
}

TEST(LzCodec, EmptyBlocksGiveNothingEitherWay) {
  Bytes out{1, 2};
  EXPECT_EQ(lz_compress(nullptr, 0, out), LzStatus::ok);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(lz_expand(nullptr, 0, 0, out), LzStatus::ok);
  EXPECT_TRUE(out.empty());
}

TEST(LzCodec, RoundTripsAtWindowAndMatchBoundaries) {
  for (size_t n : {size_t(1), size_t(2), size_t(59), size_t(60), size_t(61), size_t(4095),
                   size_t(4096), size_t(4097), size_t(100000)}) {
    SCOPED_TRACE(n);
    for (const Bytes& in : {some_text(n), random_bytes(n, uint32_t(n)), Bytes(n, 0), Bytes(n, ' ')}) {
      Bytes packed = compress(in);
      EXPECT_LE(packed.size(), in.size() * 2 + 16);
      EXPECT_TRUE(expand(packed, in.size()) == in);
    }
  }
}

TEST(LzCodec, RepeatsAndRandomDataSizes) {
  Bytes same(1000, 'x');
  // One literal, then length-60 matches at distance 1: a few bytes at most.
  EXPECT_LT(compress(same).size(), 40u);
  Bytes spaces(4036, ' ');
  EXPECT_LT(compress(spaces).size(), 120u);
  Bytes rnd = random_bytes(50000, 3);
  size_t n = compress(rnd).size();
  EXPECT_GT(n, rnd.size());
  EXPECT_LT(n, rnd.size() + rnd.size() / 50);
}

TEST(LzCodec, TinyInputsNeverOutgrowTheirBuffer) {
  // Every single byte and many pairs: the end bits can need more than twice the input.
  for (int c = 0; c < 256; ++c) {
    Bytes in{uint8_t(c)};
    EXPECT_TRUE(expand(compress(in), 1) == in);
    Bytes pair{uint8_t(c), uint8_t(255 - c)};
    EXPECT_TRUE(expand(compress(pair), 2) == pair);
  }
}

TEST(LzCodec, DamagedDataStaysInsideItsBuffers) {
  Bytes in = some_text(20000);
  Bytes packed = compress(in);
  // Truncated: the missing bits read as zero; the length asked for is still produced.
  Bytes cut(packed.begin(), packed.begin() + long(packed.size() / 2));
  Bytes out = expand(cut, in.size());
  ASSERT_EQ(out.size(), in.size());
  EXPECT_TRUE(std::equal(in.begin(), in.begin() + 1000, out.begin()));
  // Garbage and a length far beyond what the bits hold.
  Bytes junk = random_bytes(64, 11);
  EXPECT_EQ(expand(junk, 300000).size(), 300000u);
  // Nothing at all to read.
  EXPECT_EQ(expand(Bytes{}, 10).size(), 10u);
  // A length that cannot be honoured is refused before allocating.
  Bytes none;
  EXPECT_EQ(lz_expand(junk.data(), junk.size(), size_t(kMaxLzBlock) + 1, none), LzStatus::too_large);
}
