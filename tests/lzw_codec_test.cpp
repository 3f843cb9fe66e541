#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/lzw_codec.h"
#include "support/lzw_archive.h"

namespace fs = std::filesystem;
using namespace orvl;
using orvl::testing::LzwArchiveItem;
using orvl::testing::lzw_archive_item;
using orvl::testing::make_lzw_archive;

namespace {

using Bytes = std::vector<uint8_t>;

struct Code {
  int value, width;
};

// MSB-first packing of (code, width) pairs; only complete bytes count.
Bytes pack(const std::vector<Code>& codes) {
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  for (const auto& c : codes) {
    acc = (acc << c.width) | uint32_t(c.value);
    bits += c.width;
    while (bits >= 8) {
      out.push_back(uint8_t(acc >> (bits - 8)));
      bits -= 8;
    }
    acc &= (1u << bits) - 1;
  }
  return out;
}

// A plain map-based encoder of the same stream, written independently of the codec.
// `legacy_end` writes the end code with the encoder's width (the older rule).
std::vector<Code> reference_codes(const Bytes& in, bool legacy_end, int* final_count = nullptr) {
  std::map<std::pair<int, int>, int> dict;
  int count = 258, width = 9, cur = -1;
  std::vector<Code> codes{{256, 9}};
  auto enc_width = [](int n) { return n < 512 ? 9 : n < 1024 ? 10 : n < 2048 ? 11 : 12; };
  auto dec_width = [](int n) { return n < 511 ? 9 : n < 1023 ? 10 : n < 2047 ? 11 : 12; };
  size_t i = 0;
  for (;;) {
    if (count >= 4094) {
      codes.push_back({256, width});
      dict.clear();
      count = 258;
      width = 9;
    }
    if (i == in.size()) break;
    int b = in[i++];
    if (cur < 0) {
      cur = b;
      continue;
    }
    auto it = dict.find({cur, b});
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    codes.push_back({cur, width});
    dict[{cur, b}] = count++;
    width = enc_width(count);
    cur = b;
  }
  if (cur >= 0) codes.push_back({cur, width});
  codes.push_back({257, legacy_end ? width : dec_width(count)});
  codes.push_back({0, width});
  if (final_count) *final_count = count;
  return codes;
}

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

// Like the precalculation stream: long runs of 0xFF and 0x00 with a little noise.
Bytes bit_stream(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  while (b.size() < n) {
    uint8_t v = (rng() & 1) ? 0xFF : 0x00;
    size_t run = 1 + rng() % 300;
    for (size_t k = 0; k < run && b.size() < n; ++k) b.push_back(rng() % 50 == 0 ? uint8_t(rng()) : v);
  }
  return b;
}

Bytes text_bytes(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "Frame " + std::to_string(i % 977) + " object visible polygons\n";
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

Bytes compress(const Bytes& in) {
  Bytes out;
  EXPECT_EQ(lzw_compress(in.data(), in.size(), out), LzwStatus::ok);
  return out;
}

LzwStatus expand(const Bytes& in, Bytes& out) { return lzw_expand(in.data(), in.size(), out); }

Bytes expand_ok(const Bytes& in) {
  Bytes out;
  EXPECT_EQ(expand(in, out), LzwStatus::ok);
  return out;
}

// Shortest prefix of `source` whose stream ends with the dictionary at `target` entries.
size_t prefix_reaching(const Bytes& source, int target) {
  for (size_t n = 1; n <= source.size(); ++n) {
    int count = 0;
    reference_codes(Bytes(source.begin(), source.begin() + long(n)), false, &count);
    if (count == target) return n;
  }
  return 0;
}

struct TempFile {
  fs::path path;
  explicit TempFile(const std::string& name)
      : path(fs::temp_directory_path() / ("orvl_lzw_" + std::to_string(::getpid()) + "_" + name)) {}
  ~TempFile() { fs::remove(path); }
  void write(const Bytes& b) const {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
  }
};

}  // namespace

TEST(LzwCodec, ShortStreamsHaveTheDocumentedCodes) {
  EXPECT_TRUE(compress(Bytes{0x41, 0x42, 0x41}) ==
              pack({{256, 9}, {65, 9}, {66, 9}, {65, 9}, {257, 9}, {0, 9}}));
  // Six 9-bit codes are 54 bits: the stream is the six complete bytes.
  EXPECT_EQ(compress(Bytes{0x41, 0x42, 0x41}).size(), 6u);
  EXPECT_TRUE(compress(Bytes{}) == pack({{256, 9}, {257, 9}, {0, 9}}));
  EXPECT_TRUE(expand_ok(compress(Bytes{})).empty());
  EXPECT_TRUE(expand_ok(compress(Bytes{0x41, 0x42, 0x41})) == (Bytes{0x41, 0x42, 0x41}));
}

TEST(LzwCodec, StreamsMatchAnIndependentEncoder) {
  // Covers the width switches, the not-yet-known code of runs and the clear at 4094.
  for (const Bytes& in : {random_bytes(20000, 1), bit_stream(60000, 2), text_bytes(30000), Bytes(9000, 'a')}) {
    Bytes got = compress(in);
    EXPECT_TRUE(got == pack(reference_codes(in, false)));
    EXPECT_TRUE(expand_ok(got) == in);
  }
}

TEST(LzwCodec, EndCodeAtTheWidthBoundaries) {
  Bytes source = random_bytes(3000, 5);
  for (int target : {510, 511, 512, 1022, 1023, 1024, 2046, 2047, 2048}) {
    SCOPED_TRACE(target);
    size_t n = prefix_reaching(source, target);
    ASSERT_GT(n, 0u);
    Bytes in(source.begin(), source.begin() + long(n));
    Bytes ours = compress(in);
    auto codes = reference_codes(in, false);
    EXPECT_TRUE(ours == pack(codes));
    // At 511, 1023 and 2047 the end code is one bit wider than the data code before it.
    int end_width = codes[codes.size() - 2].width, last_width = codes[codes.size() - 3].width;
    bool boundary = target == 511 || target == 1023 || target == 2047;
    EXPECT_EQ(end_width, last_width + (boundary ? 1 : 0));
    EXPECT_TRUE(expand_ok(ours) == in);
    // Streams from writers that kept the encoder's width still decode to the same bytes.
    Bytes legacy = pack(reference_codes(in, true));
    EXPECT_TRUE(expand_ok(legacy) == in);
  }
}

TEST(LzwCodec, ClearCodeRestartsAtNineBits) {
  Bytes in = random_bytes(8000, 9);
  auto codes = reference_codes(in, false);
  size_t clears = 0;
  for (size_t i = 1; i < codes.size(); ++i) {
    if (codes[i].value == 256) {
      ++clears;
      EXPECT_EQ(codes[i].width, 12);
      EXPECT_EQ(codes[i + 1].width, 9);
    }
  }
  EXPECT_GE(clears, 1u);
  EXPECT_TRUE(expand_ok(compress(in)) == in);
}

TEST(LzwCodec, RoundTripsOfTypicalData) {
  for (const Bytes& in : {random_bytes(100000, 3), text_bytes(100000), Bytes(100000, 0), bit_stream(100000, 4),
                          Bytes{7}, Bytes(2, 0xFF)}) {
    Bytes packed = compress(in);
    EXPECT_TRUE(expand_ok(packed) == in);
  }
  EXPECT_LT(compress(Bytes(100000, 0)).size(), 2000u);
}

TEST(LzwCodec, OutputGrowsPastItsFirstBlock) {
  // Both directions cross the first 2 MiB of output.
  for (const Bytes& in : {random_bytes(2u << 20, 12), Bytes(3u << 20, 0x5A)}) {
    Bytes packed = compress(in);
    EXPECT_TRUE(expand_ok(packed) == in);
  }
}

TEST(LzwCodec, StepwiseRunsReportProgress) {
  Bytes in = bit_stream(50000, 6);
  LzwCodec enc;
  ASSERT_EQ(enc.set_input(in.data(), in.size()), LzwStatus::ok);
  ASSERT_EQ(enc.begin_encode(), LzwStatus::ok);
  uint8_t in_pct = 0, out_pct = 0, last_in = 0;
  size_t steps = 0;
  LzwStatus st;
  while ((st = enc.encode_step(in_pct, out_pct)) == LzwStatus::ok) {
    EXPECT_GE(in_pct, last_in);
    last_in = in_pct;
    ++steps;
  }
  EXPECT_EQ(st, LzwStatus::finished);
  EXPECT_EQ(steps, in.size());  // one input byte per step
  EXPECT_EQ(last_in, 100);
  EXPECT_LT(out_pct, 20);
  EXPECT_EQ(enc.encode_step(in_pct, out_pct), LzwStatus::finished);  // stays finished
  const uint8_t* buf;
  uint32_t len;
  enc.output(buf, len);
  Bytes packed(buf, buf + len);
  enc.end_encode();

  // Decoder: begin first, then the input, as the precalculation reader does.
  LzwCodec dec;
  uint8_t pct = 0;
  EXPECT_EQ(dec.decode_step(pct), LzwStatus::end_of_data);  // nothing to decode yet
  ASSERT_EQ(dec.begin_decode(), LzwStatus::ok);
  EXPECT_EQ(dec.decode_step(pct), LzwStatus::end_of_data);  // input never set
  ASSERT_EQ(dec.set_input(packed.data(), packed.size()), LzwStatus::ok);
  ASSERT_EQ(dec.decode_step(pct), LzwStatus::ok);
  EXPECT_EQ(pct, 1);
  dec.output(buf, len);
  ASSERT_EQ(len, 1u);  // the clear code and the first byte
  EXPECT_EQ(buf[0], in[0]);
  uint8_t last = pct;
  while ((st = dec.decode_step(pct)) == LzwStatus::ok) {
    EXPECT_GE(pct, last);
    last = pct;
  }
  EXPECT_EQ(st, LzwStatus::end_of_data);
  EXPECT_GE(last, 99);
  EXPECT_LE(last, 101);
  dec.output(buf, len);
  EXPECT_TRUE(Bytes(buf, buf + len) == in);
  dec.end_decode();
}

TEST(LzwCodec, DamagedStreamsFailCleanly) {
  Bytes out;
  // No clear code first.
  EXPECT_EQ(expand(pack({{65, 9}, {66, 9}, {257, 9}, {0, 9}}), out), LzwStatus::bad_data);
  // A code two ahead of the dictionary.
  EXPECT_EQ(expand(pack({{256, 9}, {65, 9}, {259, 9}, {257, 9}, {0, 9}}), out), LzwStatus::bad_data);
  // The next code to be assigned is fine: "aa" then "aaa".
  EXPECT_EQ(expand(pack({{256, 9}, {97, 9}, {258, 9}, {257, 9}, {0, 9}}), out), LzwStatus::ok);
  EXPECT_TRUE(out == Bytes(3, 'a'));
  // A marker straight after a clear.
  EXPECT_EQ(expand(pack({{256, 9}, {256, 9}, {65, 9}, {257, 9}, {0, 9}}), out), LzwStatus::bad_data);
  // No end code: decoding stops at the end of the input with what it has.
  Bytes full = compress(text_bytes(5000));
  Bytes cut(full.begin(), full.begin() + long(full.size() / 2));
  ASSERT_EQ(expand(cut, out), LzwStatus::ok);
  Bytes text = text_bytes(5000);
  EXPECT_GT(out.size(), 1000u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), text.begin()));
  // Never more than 4096 entries, even without clear codes.
  std::vector<Code> codes{{256, 9}, {0, 9}};
  int count = 258;
  for (int i = 0; i < 5000; ++i) {
    int w = count < 511 ? 9 : count < 1023 ? 10 : count < 2047 ? 11 : 12;
    codes.push_back({0, w});
    ++count;
  }
  EXPECT_EQ(expand(pack(codes), out), LzwStatus::bad_data);
  // Random bytes that happen to start with a clear code.
  for (uint32_t seed = 0; seed < 200; ++seed) {
    Bytes junk = random_bytes(200, seed);
    junk[0] = 0x80;
    junk[1] &= 0x7F;
    LzwStatus st = expand(junk, out);
    EXPECT_TRUE(st == LzwStatus::ok || st == LzwStatus::bad_data);
  }
}

TEST(LzwCodec, ArchiveEntriesStoredAndCompressed) {
  Bytes zeros(5000, 0), noise = random_bytes(3000, 8);
  LzwArchiveItem packed = lzw_archive_item("C:\\PRECALC\\1VEX.PRK", zeros);
  LzwArchiveItem stored = lzw_archive_item("c:\\precalc\\noise.bin", noise);
  ASSERT_LT(packed.packed_size, packed.plain_size);
  ASSERT_GT(stored.packed_size, stored.plain_size);
  TempFile file("archive.lzw");
  file.write(make_lzw_archive({stored, packed}));
  std::string archive = file.path.string();

  LzwCodec codec;
  // Names are compared upper-cased, with the drive added when missing.
  ASSERT_EQ(codec.begin_decode_entry("precalc\\1vex.prk", archive), LzwStatus::ok);
  EXPECT_TRUE(codec.ready());
  uint8_t pct;
  LzwStatus st;
  while ((st = codec.decode_step(pct)) == LzwStatus::ok) {
  }
  EXPECT_EQ(st, LzwStatus::end_of_data);
  const uint8_t* buf;
  uint32_t len;
  codec.output(buf, len);
  EXPECT_TRUE(Bytes(buf, buf + len) == zeros);
  codec.end_decode();

  EXPECT_EQ(codec.load_entry("C:\\Precalc\\Noise.bin", archive), LzwStatus::entry_stored);
  EXPECT_FALSE(codec.ready());
  codec.input(buf, len);
  EXPECT_TRUE(Bytes(buf, buf + len) == noise);
  EXPECT_EQ(codec.decode_step(pct), LzwStatus::end_of_data);

  EXPECT_EQ(codec.load_entry("precalc\\2vex.prk", archive), LzwStatus::entry_not_found);
  EXPECT_EQ(codec.load_entry("x", (file.path.string() + ".none")), LzwStatus::cannot_open);
}

TEST(LzwCodec, DamagedArchivesAreRefused) {
  LzwCodec codec;
  auto load = [&](const Bytes& archive) {
    TempFile file("bad.lzw");
    file.write(archive);
    return codec.load_entry("b", file.path.string());
  };
  LzwArchiveItem a = lzw_archive_item("C:\\A", Bytes(100, 1));
  LzwArchiveItem b = lzw_archive_item("C:\\B", Bytes(100, 2));
  EXPECT_EQ(load(make_lzw_archive({a, b})), LzwStatus::ok);
  LzwArchiveItem negative = a;
  negative.packed_size = -50;  // would seek backwards
  EXPECT_EQ(load(make_lzw_archive({negative, b})), LzwStatus::bad_data);
  LzwArchiveItem huge = a;
  huge.plain_size = huge.packed_size = 0x7FFFFFFF;  // past the end of the file
  EXPECT_EQ(load(make_lzw_archive({huge, b})), LzwStatus::bad_data);
  Bytes truncated = make_lzw_archive({a, b});
  truncated.resize(truncated.size() - 10);
  EXPECT_EQ(load(truncated), LzwStatus::bad_data);
  Bytes extra_count = make_lzw_archive({a});
  extra_count[0] = 5;  // claims more records than there are
  EXPECT_EQ(load(extra_count), LzwStatus::bad_data);
  EXPECT_EQ(load(Bytes{1, 0}), LzwStatus::bad_data);
  EXPECT_EQ(load(make_lzw_archive({})), LzwStatus::entry_not_found);
}

TEST(LzwCodec, FilesInAndOut) {
  Bytes in = text_bytes(10000);
  TempFile src("src.bin"), packed("packed.lzw"), back("back.bin");
  src.write(in);
  LzwCodec enc;
  ASSERT_EQ(enc.begin_encode(src.path.string()), LzwStatus::ok);
  uint8_t a, b;
  while (enc.encode_step(a, b) == LzwStatus::ok) {
  }
  ASSERT_EQ(enc.save_output(packed.path.string()), LzwStatus::ok);
  EXPECT_EQ(enc.save_output("/nonexistent-dir/x"), LzwStatus::cannot_create);
  enc.end_encode();

  LzwCodec dec;
  ASSERT_EQ(dec.begin_decode(packed.path.string()), LzwStatus::ok);
  while (dec.decode_step(a) == LzwStatus::ok) {
  }
  ASSERT_EQ(dec.save_output(back.path.string()), LzwStatus::ok);
  dec.end_decode();
  std::ifstream f(back.path, std::ios::binary);
  EXPECT_TRUE(Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>()) == in);
  EXPECT_EQ(dec.begin_decode("/nonexistent-dir/x"), LzwStatus::cannot_open);
}
