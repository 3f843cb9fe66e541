// Pack archives: writing and reading back, name lookup, the modes, damaged and hostile
// packs, images read through a pack, and the `orvl pack` command.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "codec/lz_codec.h"
#include "image/file_source.h"
#include "image/image.h"
#include "support/image_support.h"

namespace fs = std::filesystem;
using namespace orvl;
using Bytes = std::vector<uint8_t>;

namespace {

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_pack_" + std::to_string(::getpid()));
  TempDir() {
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~TempDir() { fs::remove_all(root); }
  std::string path(const std::string& name) const { return (root / name).string(); }
  std::string write(const std::string& name, const Bytes& bytes) const {
    fs::create_directories((root / name).parent_path());
    std::ofstream(root / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path(name);
  }
};

Bytes file_bytes(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& x : b) x = uint8_t(rng());
  return b;
}

Bytes text_bytes(size_t n) {
  std::string s;
  while (s.size() < n) s += "surface " + std::to_string(s.size() % 97) + " smoothing 89.5\n";
  return Bytes(s.begin(), s.begin() + long(n));
}

uint32_t u32_at(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void put_u32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A pack written through the API from (name, bytes) pairs.
std::string write_pack(const TempDir& t, const std::string& file, const std::vector<std::pair<std::string, Bytes>>& entries) {
  FileSource src;
  EXPECT_EQ(src.pack_create(t.path(file)), PackStatus::ok);
  for (const auto& [name, bytes] : entries) EXPECT_EQ(src.pack_add_buffer(name, bytes), PackStatus::ok);
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
  return t.path(file);
}

// Test-side writer for packs the API would never produce: any directory bytes, any
// header sizes, any data after the directory.
struct RawRecord {
  std::string name;
  uint32_t size, stored;
};
Bytes raw_directory(const std::vector<RawRecord>& records) {
  Bytes d;
  for (const RawRecord& r : records) {
    d.insert(d.end(), r.name.begin(), r.name.end());
    d.push_back(0);
    put_u32(d, r.size);
    put_u32(d, r.stored);
  }
  return d;
}
Bytes raw_pack(const Bytes& directory, const Bytes& data, int64_t dir_size_field = -1) {
  Bytes packed;
  EXPECT_EQ(lz_compress(directory.data(), directory.size(), packed), LzStatus::ok);
  Bytes p = {'F', 'X', 'L', 'K'};
  put_u32(p, dir_size_field < 0 ? uint32_t(directory.size()) : uint32_t(dir_size_field));
  put_u32(p, uint32_t(packed.size()));
  p.insert(p.end(), packed.begin(), packed.end());
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

size_t open_descriptors() {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
  return n;
}

}  // namespace

TEST(PackNames, NormalisedOnReadKeptAsGivenInTheFile) {
  EXPECT_EQ(normalise_pack_name("Maps/Sky.TGA"), "maps\\sky.tga");
  EXPECT_EQ(normalise_pack_name("A\\B/\xC4.X"), "a\\b\\\xC4.x");  // ASCII only

  TempDir t;
  const Bytes sky = text_bytes(3000);
  const std::string pack = write_pack(t, "n.pak", {{"Maps/Sky.TGA", sky}});
  // The writer stores the name as given.
  const Bytes raw = file_bytes(pack);
  Bytes dir;
  ASSERT_EQ(lz_expand(raw.data() + 12, u32_at(raw, 8), u32_at(raw, 4), dir), LzStatus::ok);
  EXPECT_EQ(std::string(dir.begin(), dir.begin() + 12), "Maps/Sky.TGA");

  FileSource src;
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  ASSERT_EQ(src.pack_entries().size(), 1u);
  EXPECT_EQ(src.pack_entries()[0].name, "maps\\sky.tga");
  for (const char* name : {"maps\\sky.tga", "MAPS/SKY.TGA", "Maps/Sky.TGA"}) {
    Bytes out;
    EXPECT_TRUE(src.pack_read(name, out)) << name;
    EXPECT_EQ(out, sky) << name;
    EXPECT_EQ(src.pack_size_of(name), 3000u);
  }
  Bytes out;
  EXPECT_FALSE(src.pack_read("maps/sky.tg", out));
  EXPECT_EQ(src.pack_size_of("sky.tga"), 0u);
  EXPECT_EQ(src.pack_stored_size_of("sky.tga"), 0u);
}

TEST(PackEntries, RandomIsStoredScrambledZerosAreCompressed) {
  TempDir t;
  const Bytes noise = random_bytes(5000, 7);
  const Bytes zeros(10000, 0);
  const std::string pack = write_pack(t, "s.pak", {{"noise.bin", noise}, {"zeros.bin", zeros}});

  FileSource src;
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  EXPECT_EQ(src.pack_stored_size_of("noise.bin"), 5000u);
  EXPECT_FALSE(src.pack_entries()[0].compressed());
  const uint32_t zeros_stored = src.pack_stored_size_of("zeros.bin");
  EXPECT_GT(zeros_stored, 0u);
  EXPECT_LT(zeros_stored, 500u);
  EXPECT_EQ(src.pack_size_of("zeros.bin"), 10000u);

  // The stored entry is the first data after the directory, every byte XOR 0x5D; the
  // compressed one follows it.
  const Bytes raw = file_bytes(pack);
  const size_t data_at = 12 + u32_at(raw, 8);
  ASSERT_EQ(raw.size(), data_at + 5000 + zeros_stored);
  for (size_t i = 0; i < noise.size(); ++i) ASSERT_EQ(raw[data_at + i], noise[i] ^ 0x5D) << i;

  Bytes out;
  ASSERT_TRUE(src.pack_read("noise.bin", out));
  EXPECT_EQ(out, noise);
  ASSERT_TRUE(src.pack_read("zeros.bin", out));
  EXPECT_EQ(out, zeros);
}

TEST(PackEntries, ManyMixedEntriesEmptyOnesAndDuplicatesReadBackInOrder) {
  TempDir t;
  std::vector<std::pair<std::string, Bytes>> entries;
  for (int i = 0; i < 40; ++i) {
    Bytes b = i % 3 == 0 ? random_bytes(size_t(i) * 37, uint32_t(i)) : text_bytes(size_t(i) * 211 + 1);
    entries.push_back({"dir" + std::to_string(i % 4) + "/f" + std::to_string(i), b});
  }
  entries.push_back({"empty", {}});
  entries.push_back({"dir0/f0", text_bytes(50)});  // a duplicate: the first one wins
  const std::string pack = write_pack(t, "m.pak", entries);

  FileSource src;
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  ASSERT_EQ(src.pack_entries().size(), entries.size());
  for (int i = 0; i < 40; ++i) {
    Bytes out;
    ASSERT_TRUE(src.pack_read(entries[size_t(i)].first, out)) << i;
    EXPECT_EQ(out, entries[size_t(i)].second) << i;
  }
  Bytes out = {1};
  EXPECT_TRUE(src.pack_read("EMPTY", out));  // an empty entry exists and is empty
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(src.read_all("empty", out));  // but is as useless as an empty disk file
  EXPECT_EQ(src.pack_read("dir0/f0", out), true);
  EXPECT_EQ(out, entries[0].second);
}

TEST(PackEntries, EmptyPackIsTwelveBytesAndDoesNotReopen) {
  TempDir t;
  const std::string pack = write_pack(t, "e.pak", {});
  EXPECT_EQ(file_bytes(pack), (Bytes{'F', 'X', 'L', 'K', 0, 0, 0, 0, 0, 0, 0, 0}));
  FileSource src;
  const size_t fds = open_descriptors();
  EXPECT_EQ(src.pack_open(pack), PackStatus::empty_directory);
  EXPECT_FALSE(src.pack_is_open());
  EXPECT_EQ(open_descriptors(), fds);
  EXPECT_FALSE(src.use_pack(pack));
  EXPECT_FALSE(src.using_pack());
}

TEST(PackModes, WrongModesAndStatesAreRefused) {
  TempDir t;
  const std::string pack = write_pack(t, "a.pak", {{"a", text_bytes(100)}});
  FileSource src;
  EXPECT_EQ(src.pack_add_buffer("x", {1, 2}), PackStatus::not_open);
  EXPECT_EQ(src.pack_add_file(pack), PackStatus::not_open);
  EXPECT_EQ(src.pack_close(), PackStatus::not_open);
  EXPECT_EQ(src.pack_open(t.path("missing.pak")), PackStatus::cannot_open);
  EXPECT_EQ(src.pack_open(t.root.string()), PackStatus::cannot_open);  // a directory
  EXPECT_EQ(src.pack_create(t.path("no/such/dir/x.pak")), PackStatus::cannot_create);
  EXPECT_EQ(src.pack_open(t.write("bad.pak", {'F', 'X', 'L', 'C', 1, 0, 0, 0})), PackStatus::bad_magic);
  EXPECT_EQ(src.pack_open(t.write("short.pak", {'F', 'X'})), PackStatus::bad_magic);

  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  EXPECT_EQ(src.pack_open(pack), PackStatus::already_open);
  EXPECT_EQ(src.pack_create(t.path("b.pak")), PackStatus::already_open);
  EXPECT_FALSE(fs::exists(t.path("b.pak")));
  EXPECT_EQ(src.pack_add_buffer("x", {1, 2}), PackStatus::not_writing);
  EXPECT_EQ(src.pack_add_file(pack), PackStatus::not_writing);
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
  EXPECT_EQ(src.pack_close(), PackStatus::not_open);

  // A pack being written cannot be read from.
  ASSERT_EQ(src.pack_create(t.path("w.pak")), PackStatus::ok);
  ASSERT_EQ(src.pack_add_buffer("a", text_bytes(100)), PackStatus::ok);
  Bytes out;
  EXPECT_FALSE(src.pack_read("a", out));
  EXPECT_EQ(src.pack_size_of("a"), 0u);
  EXPECT_EQ(src.pack_open(pack), PackStatus::already_open);
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
}

TEST(PackModes, AddFileUsesThePathAsNameAndRefusesMissingFiles) {
  TempDir t;
  const Bytes body = text_bytes(2000);
  const std::string file = t.write("Maps/Wall.bmp", body);
  const std::string empty = t.write("empty.bmp", {});
  FileSource w;
  ASSERT_EQ(w.pack_create(t.path("f.pak")), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(file), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(empty), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(t.path("missing.bmp")), PackStatus::unreadable_file);
  EXPECT_EQ(w.pack_add_buffer(std::string("cut\0here", 8), {7}), PackStatus::ok);  // stored NUL-terminated
  ASSERT_EQ(w.pack_entries().size(), 3u);
  EXPECT_EQ(w.pack_entries()[0].name, file);  // as given while writing
  ASSERT_EQ(w.pack_close(), PackStatus::ok);

  FileSource r;
  ASSERT_EQ(r.pack_open(t.path("f.pak")), PackStatus::ok);
  ASSERT_EQ(r.pack_entries().size(), 3u);
  Bytes out;
  ASSERT_TRUE(r.pack_read(file, out));
  EXPECT_EQ(out, body);
  EXPECT_EQ(r.pack_size_of(empty), 0u);
  EXPECT_TRUE(r.pack_read(empty, out));
  EXPECT_EQ(r.pack_entries()[2].name, "cut");
}

TEST(PackModes, DestroyingAWritingSourceWritesThePack) {
  TempDir t;
  {
    FileSource src;
    ASSERT_EQ(src.pack_create(t.path("d.pak")), PackStatus::ok);
    ASSERT_EQ(src.pack_add_buffer("x", text_bytes(500)), PackStatus::ok);
  }
  FileSource src;
  ASSERT_EQ(src.pack_open(t.path("d.pak")), PackStatus::ok);
  EXPECT_EQ(src.pack_size_of("x"), 500u);
}

TEST(PackModes, FailedWritesAreReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  FileSource src;
  ASSERT_EQ(src.pack_create("/dev/full"), PackStatus::ok);
  ASSERT_EQ(src.pack_add_buffer("x", random_bytes(100000, 3)), PackStatus::ok);
  EXPECT_EQ(src.pack_close(), PackStatus::write_failed);
  EXPECT_FALSE(src.pack_is_open());
}

TEST(PackRouting, UsePackSendsSizeAndReadsToThePackOnly) {
  TempDir t;
  const Bytes in_pack = text_bytes(700);
  const Bytes on_disk = text_bytes(900);
  t.write("disk_only.txt", on_disk);
  t.write("both.txt", on_disk);
  const std::string pack = write_pack(t, "r.pak", {{t.path("both.txt"), in_pack}});

  FileSource src;
  EXPECT_EQ(src.size_of(t.path("disk_only.txt")), 900u);
  EXPECT_FALSE(src.use_pack(t.path("missing.pak")));
  EXPECT_EQ(src.size_of(t.path("disk_only.txt")), 900u);  // still the disk
  ASSERT_TRUE(src.use_pack(pack));
  EXPECT_TRUE(src.using_pack());
  EXPECT_EQ(src.size_of(t.path("disk_only.txt")), 0u);
  Bytes out;
  EXPECT_FALSE(src.read_all(t.path("disk_only.txt"), out));
  EXPECT_EQ(src.size_of(t.path("both.txt")), 700u);
  ASSERT_TRUE(src.read_all(t.path("both.txt"), out));
  EXPECT_EQ(out, in_pack);
  EXPECT_FALSE(src.use_pack(pack));  // already open

  // Closed, the routed source finds nothing rather than falling back to the disk.
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
  EXPECT_EQ(src.size_of(t.path("both.txt")), 0u);
}

TEST(PackRouting, ImagesDecodeThroughAPack) {
  TempDir t;
  const test::Picture bmp = test::make_picture(37, 21, 3);
  const test::Picture tga = test::make_picture(64, 48, 9);
  const std::string pack =
      write_pack(t, "img.pak", {{"Maps/Wall.BMP", test::make_bmp24(bmp)}, {"Maps/Sky.tga", test::make_tga10_24(tga)}});

  FileSource src;
  ASSERT_TRUE(src.use_pack(pack));
  for (const auto& [name, pic] : {std::pair{"maps\\wall.bmp", &bmp}, std::pair{"MAPS/SKY.TGA", &tga}}) {
    Img img;
    ImgDecoder dec;
    dec.bind(&img);
    ASSERT_EQ(img.load(name, src), ImgError::ok) << name;
    ASSERT_EQ(dec.decode(), ImgError::ok) << name;
    ASSERT_EQ(img.width, pic->width);
    ASSERT_EQ(img.height, pic->height);
    EXPECT_EQ(img.pixels, pic->pixels) << name;
  }
  Img img;
  EXPECT_EQ(img.load("maps/none.tga", src), ImgError::file_not_found);
  // The one-argument load still reads the disk.
  EXPECT_EQ(img.load("maps/wall.bmp"), ImgError::file_not_found);
  EXPECT_EQ(img.load(t.write("w.bmp", test::make_bmp24(bmp))), ImgError::ok);
}

TEST(PackDamage, DirectoriesThatDoNotFitTheirSizeAreRefused) {
  TempDir t;
  const Bytes data = text_bytes(64);
  Bytes good_dir = raw_directory({{"a", 64, 64}});
  Bytes good_data = data;
  scramble(good_data.data(), good_data.size());
  FileSource src;
  ASSERT_EQ(src.pack_open(t.write("good.pak", raw_pack(good_dir, good_data))), PackStatus::ok);
  ASSERT_EQ(src.pack_close(), PackStatus::ok);

  struct Case {
    const char* what;
    Bytes pack;
    PackStatus expect;
  };
  Bytes no_nul = {'a', 'b', 'c'};
  Bytes cut = good_dir;
  cut.pop_back();  // the last record overruns the directory by a byte
  Bytes nothing_after_name = {'a', 0};
  const Case cases[] = {
      {"record overruns", raw_pack(cut, good_data), PackStatus::bad_directory},
      {"name without end", raw_pack(no_nul, {}), PackStatus::bad_directory},
      {"no sizes after name", raw_pack(nothing_after_name, {}), PackStatus::bad_directory},
      {"stored larger than size", raw_pack(raw_directory({{"a", 10, 64}}), good_data), PackStatus::bad_directory},
      {"implausible expansion", raw_pack(raw_directory({{"a", 100000, 64}}), good_data), PackStatus::bad_directory},
      {"nothing stored for data", raw_pack(raw_directory({{"a", 1, 0}}), {}), PackStatus::bad_directory},
      {"entry past the end", raw_pack(good_dir, Bytes(good_data.begin(), good_data.end() - 1)), PackStatus::truncated},
      {"second entry past the end", raw_pack(raw_directory({{"a", 64, 64}, {"b", 8, 8}}), good_data),
       PackStatus::truncated},
      {"entry over 1 GiB", raw_pack(raw_directory({{"a", (1u << 30) + 1, 1u << 24}}), {}), PackStatus::too_large},
      {"directory over 1 GiB", raw_pack(good_dir, good_data, int64_t(1) << 31), PackStatus::too_large},
      {"directory far larger than its packing", raw_pack(good_dir, good_data, 1 << 20), PackStatus::bad_directory},
      {"header cut short", Bytes{'F', 'X', 'L', 'K', 5, 0, 0}, PackStatus::truncated},
  };
  for (const Case& c : cases) {
    const size_t fds = open_descriptors();
    EXPECT_EQ(src.pack_open(t.write("bad.pak", c.pack)), c.expect) << c.what;
    EXPECT_FALSE(src.pack_is_open()) << c.what;
    EXPECT_TRUE(src.pack_entries().empty()) << c.what;
    EXPECT_EQ(open_descriptors(), fds) << c.what;  // the pack file was closed
  }

  // A directory shorter than its compressed size claims runs off the end of the file.
  Bytes short_dir = raw_pack(good_dir, {});
  short_dir.resize(short_dir.size() - 2);
  EXPECT_EQ(src.pack_open(t.write("bad.pak", short_dir)), PackStatus::truncated);
  Bytes huge_packing = {'F', 'X', 'L', 'K', 20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x41};
  EXPECT_EQ(src.pack_open(t.write("bad.pak", huge_packing)), PackStatus::too_large);
  // The source still works afterwards.
  EXPECT_EQ(src.pack_open(t.path("good.pak")), PackStatus::ok);
}

TEST(PackDamage, DamagedOrShrunkenEntriesStayInBounds) {
  TempDir t;
  const Bytes text = text_bytes(20000);
  const std::string pack = write_pack(t, "d.pak", {{"a", text}, {"b", random_bytes(300, 1)}});
  Bytes raw = file_bytes(pack);
  // Flip bits all through the compressed entry: the decoder cannot notice, but it must
  // produce exactly the entry's size from exactly its stored bytes.
  const size_t data_at = 12 + u32_at(raw, 8);
  for (size_t i = data_at; i < raw.size() - 300; i += 7) raw[i] ^= 0xA5;
  FileSource src;
  ASSERT_EQ(src.pack_open(t.write("flipped.pak", raw)), PackStatus::ok);
  Bytes out;
  ASSERT_TRUE(src.pack_read("a", out));
  EXPECT_EQ(out.size(), text.size());
  EXPECT_NE(out, text);
  ASSERT_EQ(src.pack_close(), PackStatus::ok);

  // A pack that shrinks after it was opened: the cut entry reads as missing.
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  fs::resize_file(pack, fs::file_size(pack) - 10);
  EXPECT_FALSE(src.pack_read("b", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(src.pack_read("a", out));
}

// --- the command ----------------------------------------------------------------------

namespace {

struct Cli {
  TempDir t;
  // Exit status of `orvl ARGS` run inside the temporary directory.
  int run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) const {
    std::string cmd = "cd '" + t.root.string() + "' && " + std::string(ORVL_BINARY) + " " + args + " >" +
                      t.path("stdout") + " 2>" + t.path("stderr");
    int rc = std::system(cmd.c_str());
    if (out) *out = text(t.path("stdout"));
    if (err) *err = text(t.path("stderr"));
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  static std::string text(const std::string& p) {
    Bytes b = file_bytes(p);
    return std::string(b.begin(), b.end());
  }
};

}  // namespace

TEST(PackCli, CreateListExtractRoundTrip) {
  Cli cli;
  const Bytes wall = text_bytes(4000);
  const Bytes noise = random_bytes(999, 5);
  cli.t.write("Maps/Wall.txt", wall);
  cli.t.write("noise.bin", noise);
  std::string out, err;
  ASSERT_EQ(cli.run("pack create all.pak Maps/Wall.txt noise.bin", &out, &err), 0) << err;
  EXPECT_NE(out.find("packed 2 files"), std::string::npos) << out;

  ASSERT_EQ(cli.run("pack list all.pak", &out), 0);
  EXPECT_NE(out.find("4000"), std::string::npos) << out;
  EXPECT_NE(out.find("compressed maps\\wall.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("999 stored     noise.bin"), std::string::npos) << out;
  ASSERT_EQ(cli.run("pack list all.pak --json", &out), 0);
  EXPECT_NE(out.find("\"stored_size\": 999"), std::string::npos) << out;
  EXPECT_NE(out.find("\"method\": \"compressed\""), std::string::npos) << out;

  ASSERT_EQ(cli.run("pack extract all.pak out", &out, &err), 0) << err;
  EXPECT_EQ(file_bytes(cli.t.path("out/maps/wall.txt")), wall);
  EXPECT_EQ(file_bytes(cli.t.path("out/noise.bin")), noise);
  ASSERT_EQ(cli.run("pack extract all.pak only NOISE.BIN", &out, &err), 0) << err;
  EXPECT_TRUE(fs::exists(cli.t.path("only/noise.bin")));
  EXPECT_FALSE(fs::exists(cli.t.path("only/maps")));
  EXPECT_EQ(cli.run("pack extract all.pak only none.bin", &out, &err), 1);
  EXPECT_NE(err.find("none.bin: not in the pack"), std::string::npos) << err;
}

TEST(PackCli, HostileNamesNeverLeaveTheDirectory) {
  Cli cli;
  {
    FileSource src;
    ASSERT_EQ(src.pack_create(cli.t.path("evil.pak")), PackStatus::ok);
    for (const char* name : {"..\\..\\evil", "/tmp/evil_abs", "sub/../../evil2", "..", "ok\\fine.txt", ""})
      ASSERT_EQ(src.pack_add_buffer(name, text_bytes(40)), PackStatus::ok);
    ASSERT_EQ(src.pack_close(), PackStatus::ok);
  }
  fs::create_directories(cli.t.root / "a" / "b");
  std::string out, err;
  EXPECT_EQ(cli.run("pack extract evil.pak a/b/x", &out, &err), 1);
  EXPECT_EQ(file_bytes(cli.t.path("a/b/x/ok/fine.txt")), text_bytes(40));  // '\\' became '/'
  for (const char* name : {"..\\..\\evil", "\\tmp\\evil_abs", "sub\\..\\..\\evil2"})
    EXPECT_NE(err.find(std::string(name) + ": refused"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(cli.t.path("a/evil")));
  EXPECT_FALSE(fs::exists(cli.t.path("a/b/evil2")));
  EXPECT_FALSE(fs::exists("/tmp/evil_abs"));
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(cli.t.root / "a")) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);

  // The writer refuses names the extractor would refuse.
  cli.t.write("in.txt", text_bytes(10));
  EXPECT_EQ(cli.run("pack create x.pak ../in.txt", &out, &err), 1);
  EXPECT_EQ(cli.run("pack create x.pak " + cli.t.path("in.txt"), &out, &err), 1);
  EXPECT_NE(err.find("relative"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(cli.t.path("x.pak")));
}

TEST(PackCli, ErrorsNameTheFileAndStatus) {
  Cli cli;
  std::string out, err;
  EXPECT_EQ(cli.run("pack"), 2);
  EXPECT_EQ(cli.run("pack squash a b"), 2);
  EXPECT_EQ(cli.run("pack create only.pak"), 2);
  EXPECT_EQ(cli.run("pack list"), 2);
  EXPECT_EQ(cli.run("pack extract x.pak"), 2);
  EXPECT_EQ(cli.run("pack list missing.pak", &out, &err), 1);
  EXPECT_NE(err.find("missing.pak: the pack file cannot be opened (5)"), std::string::npos) << err;
  cli.t.write("empty.pak", {'F', 'X', 'L', 'K', 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(cli.run("pack extract empty.pak out", &out, &err), 1);
  EXPECT_NE(err.find("(14)"), std::string::npos) << err;
  EXPECT_EQ(cli.run("pack create x.pak missing.txt", &out, &err), 1);
  EXPECT_NE(err.find("missing.txt"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(cli.t.path("x.pak")));
}
