// Pack archives: round trips and name lookup, the modes, damaged and hostile packs,
// images read through a pack, and the `orvl pack` command.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
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
  TempDir() { fs::create_directories(root); }
  ~TempDir() { fs::remove_all(root); }
  std::string path(const std::string& name) const { return (root / name).string(); }
  std::string write(const std::string& name, const Bytes& bytes) const {
    fs::create_directories((root / name).parent_path());
    std::ofstream(root / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path(name);
  }
  // Exit status of `orvl ARGS` run inside the directory; its standard error in `err`.
  int orvl(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) const {
    std::string cmd = "cd '" + root.string() + "' && " + ORVL_BINARY + " " + args + " >stdout 2>stderr";
    int rc = std::system(cmd.c_str());
    if (out) *out = text("stdout");
    if (err) *err = text("stderr");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string text(const std::string& name) const;
};

Bytes file_bytes(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
std::string TempDir::text(const std::string& name) const {
  Bytes b = file_bytes(path(name));
  return std::string(b.begin(), b.end());
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

std::string write_pack(const TempDir& t, const std::string& file,
                       const std::vector<std::pair<std::string, Bytes>>& entries) {
  FileSource src;
  EXPECT_EQ(src.pack_create(t.path(file)), PackStatus::ok);
  for (const auto& [name, bytes] : entries) EXPECT_EQ(src.pack_add_buffer(name, bytes), PackStatus::ok);
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
  return t.path(file);
}

// Test-side writer for packs the API never produces: any directory records, any
// directory size field, any data after the directory.
Bytes raw_pack(const std::vector<std::tuple<std::string, uint32_t, uint32_t>>& records, const Bytes& data,
               int64_t dir_size_field = -1, size_t cut_directory = 0) {
  Bytes dir;
  for (const auto& [name, size, stored] : records) {
    dir.insert(dir.end(), name.begin(), name.end());
    dir.push_back(0);
    put_u32(dir, size);
    put_u32(dir, stored);
  }
  dir.resize(dir.size() - cut_directory);
  Bytes packed;
  EXPECT_EQ(lz_compress(dir.data(), dir.size(), packed), LzStatus::ok);
  Bytes p = {'F', 'X', 'L', 'K'};
  put_u32(p, dir_size_field < 0 ? uint32_t(dir.size()) : uint32_t(dir_size_field));
  put_u32(p, uint32_t(packed.size()));
  p.insert(p.end(), packed.begin(), packed.end());
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

size_t open_descriptors() {
  return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

}  // namespace

TEST(Pack, NamesAreWrittenAsGivenAndFoundNormalised) {
  EXPECT_EQ(normalise_pack_name("A\\B/\xC4.X"), "a\\b\\\xC4.x");  // ASCII only
  TempDir t;
  const Bytes sky = text_bytes(3000);
  const std::string pack = write_pack(t, "n.pak", {{"Maps/Sky.TGA", sky}, {std::string("cut\0x", 5), {7}}});
  const Bytes raw = file_bytes(pack);
  Bytes dir;
  ASSERT_EQ(lz_expand(raw.data() + 12, u32_at(raw, 8), u32_at(raw, 4), dir), LzStatus::ok);
  EXPECT_EQ(std::string(dir.begin(), dir.begin() + 13), std::string("Maps/Sky.TGA\0", 13));

  FileSource src;
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  ASSERT_EQ(src.pack_entries().size(), 2u);
  EXPECT_EQ(src.pack_entries()[0].name, "maps\\sky.tga");
  EXPECT_EQ(src.pack_entries()[1].name, "cut");  // names end at a NUL
  for (const char* name : {"maps\\sky.tga", "MAPS/SKY.TGA"}) {
    Bytes out;
    EXPECT_TRUE(src.pack_read(name, out) && out == sky) << name;
    EXPECT_EQ(src.pack_size_of(name), 3000u);
  }
  Bytes out;
  EXPECT_FALSE(src.pack_read("maps/sky.tg", out));
  EXPECT_EQ(src.pack_stored_size_of("sky.tga"), 0u);
}

TEST(Pack, RandomIsStoredScrambledZerosCompressedAndAllReadBackInOrder) {
  TempDir t;
  std::vector<std::pair<std::string, Bytes>> entries = {{"noise", random_bytes(5000, 7)}, {"zeros", Bytes(10000, 0)}};
  for (int i = 1; i < 30; ++i)
    entries.push_back({"f" + std::to_string(i), i % 3 ? text_bytes(size_t(i) * 211) : random_bytes(size_t(i) * 37, 1)});
  entries.push_back({"empty", {}});
  entries.push_back({"noise", text_bytes(50)});  // a duplicate name: the first one wins
  const std::string pack = write_pack(t, "s.pak", entries);

  FileSource src;
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  EXPECT_EQ(src.pack_stored_size_of("noise"), 5000u);
  const uint32_t zeros_stored = src.pack_stored_size_of("zeros");
  EXPECT_GT(zeros_stored, 0u);
  EXPECT_LT(zeros_stored, 500u);
  // The stored entry is the first data after the directory, every byte XOR 0x5D.
  const Bytes raw = file_bytes(pack);
  const size_t data_at = 12 + u32_at(raw, 8);
  for (size_t i = 0; i < 5000; ++i) ASSERT_EQ(raw[data_at + i], entries[0].second[i] ^ 0x5D) << i;

  for (size_t i = 0; i + 1 < entries.size(); ++i) {
    Bytes out = {1};
    EXPECT_TRUE(src.pack_read(entries[i].first, out) && out == entries[i].second) << entries[i].first;
  }
  Bytes out;
  EXPECT_FALSE(src.read_all("empty", out));  // an empty entry is as useless as an empty file
}

TEST(Pack, EmptyPackIsTwelveBytesAndDoesNotReopen) {
  TempDir t;
  const std::string pack = write_pack(t, "e.pak", {});
  EXPECT_EQ(file_bytes(pack), (Bytes{'F', 'X', 'L', 'K', 0, 0, 0, 0, 0, 0, 0, 0}));
  FileSource src;
  EXPECT_EQ(src.pack_open(pack), PackStatus::empty_directory);
  EXPECT_FALSE(src.pack_is_open());
  EXPECT_FALSE(src.use_pack(pack));
  EXPECT_FALSE(src.using_pack());
}

TEST(Pack, WrongModesAndStatesAreRefused) {
  TempDir t;
  const std::string pack = write_pack(t, "a.pak", {{"a", text_bytes(100)}});
  FileSource src;
  EXPECT_EQ(src.pack_add_buffer("x", {1, 2}), PackStatus::not_open);
  EXPECT_EQ(src.pack_close(), PackStatus::not_open);
  EXPECT_EQ(src.pack_open(t.path("missing.pak")), PackStatus::cannot_open);
  EXPECT_EQ(src.pack_open(t.root.string()), PackStatus::cannot_open);  // a directory
  EXPECT_EQ(src.pack_create(t.path("no/such/dir/x.pak")), PackStatus::cannot_create);
  EXPECT_EQ(src.pack_open(t.write("bad.pak", {'F', 'X', 'L', 'C', 1, 0, 0, 0})), PackStatus::bad_magic);

  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  EXPECT_EQ(src.pack_open(pack), PackStatus::already_open);
  EXPECT_EQ(src.pack_create(t.path("b.pak")), PackStatus::already_open);
  EXPECT_EQ(src.pack_add_buffer("x", {1, 2}), PackStatus::not_writing);
  EXPECT_EQ(src.pack_add_file(pack), PackStatus::not_writing);
  EXPECT_EQ(src.pack_close(), PackStatus::ok);

  // A pack being written cannot be read from; destroying the source writes it.
  {
    FileSource w;
    ASSERT_EQ(w.pack_create(t.path("w.pak")), PackStatus::ok);
    ASSERT_EQ(w.pack_add_buffer("a", text_bytes(100)), PackStatus::ok);
    Bytes out;
    EXPECT_FALSE(w.pack_read("a", out));
    EXPECT_EQ(w.pack_size_of("a"), 0u);
  }
  ASSERT_EQ(src.pack_open(t.path("w.pak")), PackStatus::ok);
  EXPECT_EQ(src.pack_size_of("a"), 100u);
}

TEST(Pack, AddFileNamesEntriesByPathAndReportsFailures) {
  TempDir t;
  const std::string file = t.write("Maps/Wall.bmp", text_bytes(2000));
  const std::string empty = t.write("empty.bmp", {});
  FileSource w;
  ASSERT_EQ(w.pack_create(t.path("f.pak")), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(file), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(empty), PackStatus::ok);
  EXPECT_EQ(w.pack_add_file(t.path("missing.bmp")), PackStatus::unreadable_file);
  ASSERT_EQ(w.pack_entries().size(), 2u);  // nothing added for the missing file
  EXPECT_EQ(w.pack_entries()[0].name, file);
  ASSERT_EQ(w.pack_close(), PackStatus::ok);
  FileSource r;
  ASSERT_EQ(r.pack_open(t.path("f.pak")), PackStatus::ok);
  Bytes out;
  EXPECT_TRUE(r.pack_read(file, out) && out == text_bytes(2000));
  EXPECT_TRUE(r.pack_read(empty, out) && out.empty());

  {  // a pack that cannot be written (a file-size limit standing in for a full disk)
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_EQ(w.pack_create(t.path("full.pak")), PackStatus::ok);
    ASSERT_EQ(w.pack_add_buffer("x", random_bytes(100000, 3)), PackStatus::ok);
    const PackStatus s = w.pack_close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(s, PackStatus::write_failed);
    EXPECT_NE(w.pack_write_error().find("File too large"), std::string::npos) << w.pack_write_error();
    EXPECT_FALSE(w.pack_is_open());
    EXPECT_FALSE(fs::exists(t.path("full.pak")));  // nothing half-written is left
  }
}

TEST(Pack, UsePackRoutesSizesAndReadsToThePackOnly) {
  TempDir t;
  t.write("disk_only.txt", text_bytes(900));
  t.write("both.txt", text_bytes(900));
  const std::string pack = write_pack(t, "r.pak", {{t.path("both.txt"), text_bytes(700)}});

  FileSource src;
  EXPECT_FALSE(src.use_pack(t.path("missing.pak")));
  EXPECT_EQ(src.size_of(t.path("disk_only.txt")), 900u);  // still the disk
  ASSERT_TRUE(src.use_pack(pack));
  EXPECT_EQ(src.size_of(t.path("disk_only.txt")), 0u);
  Bytes out;
  EXPECT_FALSE(src.read_all(t.path("disk_only.txt"), out));
  EXPECT_EQ(src.size_of(t.path("both.txt")), 700u);
  EXPECT_TRUE(src.read_all(t.path("both.txt"), out) && out == text_bytes(700));
  // Closed, the routed source finds nothing rather than falling back to the disk.
  EXPECT_EQ(src.pack_close(), PackStatus::ok);
  EXPECT_EQ(src.size_of(t.path("both.txt")), 0u);
}

TEST(Pack, ImagesDecodeThroughAPack) {
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
    EXPECT_EQ(img.width, pic->width);
    EXPECT_EQ(img.pixels, pic->pixels) << name;
  }
  Img img;
  EXPECT_EQ(img.load("maps/none.tga", src), ImgError::file_not_found);
  EXPECT_EQ(img.load("maps/wall.bmp"), ImgError::file_not_found);  // a fresh source reads the disk
}

TEST(PackDamage, PacksWhoseSizesDoNotAddUpAreRefusedAndClosed) {
  TempDir t;
  Bytes data = text_bytes(64);
  scramble(data.data(), data.size());
  const Bytes cut_data(data.begin(), data.end() - 1);
  struct Case {
    const char* what;
    Bytes pack;
    PackStatus expect;
  } cases[] = {
      {"record overruns the directory", raw_pack({{"a", 64, 64}}, data, -1, 1), PackStatus::bad_directory},
      {"name without end", raw_pack({{"abc", 0, 0}}, {}, -1, 9), PackStatus::bad_directory},
      {"stored larger than size", raw_pack({{"a", 10, 64}}, data), PackStatus::bad_directory},
      {"implausible expansion", raw_pack({{"a", 100000, 64}}, data), PackStatus::bad_directory},
      {"nothing stored for data", raw_pack({{"a", 1, 0}}, {}), PackStatus::bad_directory},
      {"entry past the end", raw_pack({{"a", 64, 64}}, cut_data), PackStatus::truncated},
      {"second entry past the end", raw_pack({{"a", 64, 64}, {"b", 8, 8}}, data), PackStatus::truncated},
      {"entry over 1 GiB", raw_pack({{"a", (1u << 30) + 1, 1u << 24}}, {}), PackStatus::too_large},
      {"directory over 1 GiB", raw_pack({{"a", 64, 64}}, data, int64_t(1) << 31), PackStatus::too_large},
      {"directory far beyond its packing", raw_pack({{"a", 64, 64}}, data, 1 << 20), PackStatus::bad_directory},
      {"packed directory over 1 GiB", {'F', 'X', 'L', 'K', 20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x41}, PackStatus::too_large},
      {"packed directory past the end", {'F', 'X', 'L', 'K', 20, 0, 0, 0, 9, 0, 0, 0, 1}, PackStatus::truncated},
      {"header cut short", {'F', 'X', 'L', 'K', 5, 0, 0}, PackStatus::truncated},
  };
  FileSource src;
  ASSERT_EQ(src.pack_open(t.write("good.pak", raw_pack({{"a", 64, 64}}, data))), PackStatus::ok);
  ASSERT_EQ(src.pack_close(), PackStatus::ok);
  for (const Case& c : cases) {
    const size_t fds = open_descriptors();
    EXPECT_EQ(src.pack_open(t.write("bad.pak", c.pack)), c.expect) << c.what;
    EXPECT_FALSE(src.pack_is_open()) << c.what;
    EXPECT_TRUE(src.pack_entries().empty()) << c.what;
    EXPECT_EQ(open_descriptors(), fds) << c.what;  // the pack file was closed
  }
  EXPECT_EQ(src.pack_open(t.path("good.pak")), PackStatus::ok);
}

TEST(PackDamage, DamagedOrShrunkenEntriesStayInBounds) {
  TempDir t;
  const Bytes text = text_bytes(20000);
  const std::string pack = write_pack(t, "d.pak", {{"a", text}, {"b", random_bytes(300, 1)}});
  // Bits flipped all through the compressed entry: the decoder cannot notice, but it
  // produces exactly the entry's size from exactly its stored bytes.
  Bytes raw = file_bytes(pack);
  for (size_t i = 12 + u32_at(raw, 8); i < raw.size() - 300; i += 7) raw[i] ^= 0xA5;
  FileSource src;
  ASSERT_EQ(src.pack_open(t.write("flipped.pak", raw)), PackStatus::ok);
  Bytes out;
  ASSERT_TRUE(src.pack_read("a", out));
  EXPECT_EQ(out.size(), text.size());
  ASSERT_EQ(src.pack_close(), PackStatus::ok);
  // A pack that shrinks after it was opened: the cut entry reads as missing.
  ASSERT_EQ(src.pack_open(pack), PackStatus::ok);
  fs::resize_file(pack, fs::file_size(pack) - 10);
  EXPECT_FALSE(src.pack_read("b", out));
  EXPECT_TRUE(src.pack_read("a", out));
}

TEST(PackCli, CreateListExtractRoundTrip) {
  TempDir t;
  t.write("Maps/Wall.txt", text_bytes(4000));
  t.write("noise.bin", random_bytes(999, 5));
  std::string out, err;
  ASSERT_EQ(t.orvl("pack create all.pak Maps/Wall.txt noise.bin", &out, &err), 0) << err;
  EXPECT_NE(out.find("packed 2 files"), std::string::npos) << out;
  ASSERT_EQ(t.orvl("pack list all.pak", &out), 0);
  EXPECT_NE(out.find("      4000 "), std::string::npos) << out;
  EXPECT_NE(out.find(" compressed maps\\wall.txt\n"), std::string::npos) << out;
  EXPECT_NE(out.find("999 stored     noise.bin\n"), std::string::npos) << out;
  ASSERT_EQ(t.orvl("pack list all.pak --json", &out), 0);
  EXPECT_NE(out.find("\"stored_size\": 999"), std::string::npos) << out;

  ASSERT_EQ(t.orvl("pack extract all.pak out", &out, &err), 0) << err;
  EXPECT_EQ(file_bytes(t.path("out/maps/wall.txt")), text_bytes(4000));
  EXPECT_EQ(file_bytes(t.path("out/noise.bin")), random_bytes(999, 5));
  ASSERT_EQ(t.orvl("pack extract all.pak only NOISE.BIN", &out, &err), 0) << err;
  EXPECT_TRUE(fs::exists(t.path("only/noise.bin")));
  EXPECT_FALSE(fs::exists(t.path("only/maps")));
  EXPECT_EQ(t.orvl("pack extract all.pak only none.bin", &out, &err), 1);
  EXPECT_NE(err.find("none.bin: not in the pack"), std::string::npos) << err;
}

TEST(PackCli, HostileNamesNeverLeaveTheDirectory) {
  TempDir t;
  {
    FileSource src;
    ASSERT_EQ(src.pack_create(t.path("evil.pak")), PackStatus::ok);
    for (const char* name : {"..\\..\\evil", "/tmp/evil_abs", "sub/../../evil2", "..", "ok\\fine.txt", ""})
      ASSERT_EQ(src.pack_add_buffer(name, text_bytes(40)), PackStatus::ok);
  }
  fs::create_directories(t.root / "a" / "b");
  std::string out, err;
  EXPECT_EQ(t.orvl("pack extract evil.pak a/b/x", &out, &err), 1);
  EXPECT_EQ(file_bytes(t.path("a/b/x/ok/fine.txt")), text_bytes(40));  // '\\' became '/'
  for (const char* name : {"..\\..\\evil", "\\tmp\\evil_abs", "sub\\..\\..\\evil2"})
    EXPECT_NE(err.find(std::string(name) + ": refused"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists("/tmp/evil_abs"));
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(t.root)) files += e.is_regular_file();
  EXPECT_EQ(files, 4u);  // the pack, stdout, stderr and ok/fine.txt

  // The writer refuses names the extractor would refuse, and missing files.
  t.write("in.txt", text_bytes(10));
  EXPECT_EQ(t.orvl("pack create x.pak ../in.txt", &out, &err), 1);
  EXPECT_EQ(t.orvl("pack create x.pak " + t.path("in.txt"), &out, &err), 1);
  EXPECT_NE(err.find("relative"), std::string::npos) << err;
  EXPECT_EQ(t.orvl("pack create x.pak in.txt missing.txt", &out, &err), 1);
  EXPECT_NE(err.find("missing.txt"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(t.path("x.pak")));
}

TEST(PackCli, BadArgumentsAndBadPacks) {
  TempDir t;
  std::string err;
  for (const char* args : {"pack", "pack squash a b", "pack create only.pak", "pack list", "pack extract x.pak"})
    EXPECT_EQ(t.orvl(args), 2) << args;
  EXPECT_EQ(t.orvl("pack list missing.pak", nullptr, &err), 1);
  EXPECT_NE(err.find("missing.pak: the pack file cannot be opened (5)"), std::string::npos) << err;
  t.write("empty.pak", {'F', 'X', 'L', 'K', 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(t.orvl("pack extract empty.pak out", nullptr, &err), 1);
  EXPECT_NE(err.find("(14)"), std::string::npos) << err;
}
