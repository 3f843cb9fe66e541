// The program under hostile use: each group builds its hostile input (bytes that are not
// UTF-8, shell text in names, links planted in a directory, FIFOs, a file-size limit that
// makes writes fail, signals, headers declaring enormous pictures) and runs the real
// program on it as a child process.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/file_source.h"
#include "image/image.h"
#include "platform/atomic_file.h"
#include "support/child_run.h"

namespace fs = std::filesystem;
using orvl_test::ChildResult;
using orvl_test::ChildSetup;
using orvl_test::file_text;

namespace {

using Bytes = std::vector<uint8_t>;

// The program under test; ORVL_TEST_BINARY runs these tests against another build of it
// (an older one, to see them fail).
std::string program() {
  const char* other = std::getenv("ORVL_TEST_BINARY");
  return other && *other ? other : ORVL_BINARY;
}

// A scene of one null object and the camera; `last_frame` sets its length.
std::string null_scene(const std::string& object_name, long long last_frame = 30) {
  return "LWSC\n1\n\nFirstFrame 0\nLastFrame " + std::to_string(last_frame) +
         "\nFrameStep 1\nFramesPerSecond 30.000000\n\n"
         "AddNullObject " + object_name + "\nObjectMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\n"
         "EndBehavior 1\nShadowOptions 7\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
         "AmbientColor 255 255 255\nAmbIntensity 0.250000\n\n"
         "ShowCamera 1 7\nCameraMotion (unnamed)\n  9\n  1\n  0 0 -10 0 0 0 1 1 1\n  0 0 0 0 0\nEndBehavior 1\n"
         "ZoomFactor 3.200000\n\nBackdropColor 0 0 0\nViewZoomFactor 4.000000\n";
}

// An uncompressed 24-bit Targa of w x h, of noise (which no writer compresses much).
Bytes tga(int w, int h) {
  Bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 24, 0};
  uint32_t x = 12345;
  for (int i = 0; i < w * h * 3; ++i) {
    x = x * 1103515245u + 12345u;
    b.push_back(uint8_t(x >> 16));
  }
  return b;
}

// A small JPEG (progressive when asked) through libjpeg itself.
Bytes jpeg(int w, int h, bool progressive) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * 3, 128);
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  free(mem);
  return out;
}

// The JPEG with its frame header claiming w x h.
Bytes claim_size(Bytes j, int w, int h) {
  for (size_t i = 0; i + 9 < j.size(); ++i) {
    if (j[i] == 0xFF && (j[i + 1] == 0xC0 || j[i + 1] == 0xC2)) {
      j[i + 5] = uint8_t(h >> 8);
      j[i + 6] = uint8_t(h);
      j[i + 7] = uint8_t(w >> 8);
      j[i + 8] = uint8_t(w);
      return j;
    }
  }
  ADD_FAILURE() << "no frame header";
  return j;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("orvl_hostile_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string path(const std::string& rel) const { return (dir / rel).string(); }
  std::string write(const std::string& rel, const Bytes& b) const {
    fs::create_directories((dir / rel).parent_path());
    std::ofstream(path(rel), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path(rel);
  }
  std::string write(const std::string& rel, const std::string& s) const { return write(rel, Bytes(s.begin(), s.end())); }
  // Runs orvl in the test folder; out and err receive its standard output and error.
  ChildResult orvl(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr,
                   ChildSetup setup = {}) const {
    setup.args = std::move(args);
    if (setup.cwd.empty()) setup.cwd = dir.string();
    setup.out_path = path(".stdout");
    setup.err_path = path(".stderr");
    setup.env.push_back("DISPLAY=");
    setup.env.push_back("WAYLAND_DISPLAY=");
    setup.env.push_back("SDL_AUDIODRIVER=dummy");
    const ChildResult r = orvl_test::run_child(program(), setup);
    if (out) *out = file_text(setup.out_path);
    if (err) *err = file_text(setup.err_path);
    fs::remove(setup.out_path);
    fs::remove(setup.err_path);
    return r;
  }
  // Names in a folder left by an unfinished write.
  static std::vector<std::string> leftovers(const fs::path& d) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(d))
      if (e.path().filename().string().find(".orvl-") != std::string::npos) found.push_back(e.path().string());
    return found;
  }
  fs::path dir;
};

void expect_clean_failure(const ChildResult& r, const std::string& what) {
  EXPECT_FALSE(r.timed_out) << what;
  EXPECT_EQ(r.signal, 0) << what;
  EXPECT_EQ(r.exit_code, 1) << what;
}

// --- text that is not UTF-8 into JSON ------------------------------------------------------

TEST_F(Hostile, JsonOutputConvertsLatin1InsteadOfAborting) {
  const std::string e_acute = "\xE9";  // Latin-1 "é", not UTF-8
  write("caf" + e_acute + ".tga", tga(4, 4));
  write("sc" + e_acute + "ne.lws", null_scene("Nul" + e_acute));
  orvl::FileSource src;
  ASSERT_EQ(src.pack_create(path("p.pak")), orvl::PackStatus::ok);
  ASSERT_EQ(src.pack_add_buffer("d" + e_acute + "j" + e_acute + ".txt", Bytes(10, 'x')), orvl::PackStatus::ok);
  ASSERT_EQ(src.pack_close(), orvl::PackStatus::ok);

  struct Case {
    std::vector<std::string> args;
    std::string key, expected;
  };
  const std::vector<Case> cases = {
      {{"image", "info", "caf" + e_acute + ".tga", "--json"}, "file", "caf\u00e9.tga"},
      {{"pack", "list", "p.pak", "--json"}, "", "d\u00e9j\u00e9.txt"},
      {{"dump-scene", "sc" + e_acute + "ne.lws", "--json"}, "file", "sc\u00e9ne.lws"},
      {{"eval", "sc" + e_acute + "ne.lws", "--at", "0", "--json"}, "path", "sc\u00e9ne.lws"},
  };
  for (const Case& c : cases) {
    std::string out, err;
    const ChildResult r = orvl(c.args, &out, &err);
    ASSERT_EQ(r.signal, 0) << c.args[0] << ": " << err;
    EXPECT_EQ(r.exit_code, 0) << c.args[0] << ": " << err;
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(out)) << out;
    if (!c.key.empty()) EXPECT_EQ(j[c.key], c.expected) << c.args[0];
    else EXPECT_EQ(j["entries"][0]["name"], c.expected);
  }
  std::string out;
  ASSERT_EQ(orvl({"dump-scene", "sc" + e_acute + "ne.lws", "--json"}, &out).exit_code, 0);
  EXPECT_NE(out.find("Nul\u00e9"), std::string::npos) << "the object name from the file converts too";
}

// --- child processes: ffmpeg ---------------------------------------------------------------

// A folder with a stand-in `ffmpeg` whose body is `script`, for PATH.
std::string fake_ffmpeg(const fs::path& bin, const std::string& script) {
  fs::create_directories(bin);
  const fs::path f = bin / "ffmpeg";
  std::ofstream(f) << "#!/bin/sh\n" << script;
  fs::permissions(f, fs::perms::owner_all);
  return bin.string();
}

// Reads its input and writes the output it was given as its last argument, recording its
// arguments one per line.
const char* kRecordingFfmpeg =
    "for a; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args.txt\"\n"
    "cat > /dev/null\nfor last; do :; done\necho video > \"${last#file:}\"\n";

TEST_F(Hostile, VideoFileNameNeverReachesAShell) {
  const std::string bin = fake_ffmpeg(dir / "bin", kRecordingFfmpeg);
  const std::string name = "v'; touch INJECTED; echo '$(touch INJECTED2).mp4";
  ChildSetup setup;
  setup.env = {"PATH=" + bin + ":/usr/bin:/bin", "TMPDIR=" + dir.string()};
  std::string err;
  const ChildResult r = orvl({"--headless", "--fps", "1", "--video", name}, nullptr, &err, setup);
  EXPECT_EQ(r.exit_code, 0) << err;
  EXPECT_FALSE(fs::exists(dir / "INJECTED"));
  EXPECT_FALSE(fs::exists(dir / "INJECTED2"));
  EXPECT_EQ(file_text(path(name)), "video\n");  // renamed into place under exactly that name
  const std::string args = file_text(path("bin/args.txt"));
  EXPECT_NE(args.find("\n-i\npipe:0\n"), std::string::npos) << args;
  EXPECT_TRUE(leftovers(dir).empty());
}

TEST_F(Hostile, FfmpegStoppingEarlyIsReportedAndThePicturesAreFinished) {
  struct Case {
    const char* what;
    std::string path_dir;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"exits at once", fake_ffmpeg(dir / "quits", "exit 3\n"), "exit status 3"},
      {"killed", fake_ffmpeg(dir / "killed", "head -c 100 > /dev/null; kill -9 $$\n"), "signal 9"},
      {"missing", (dir / "empty").string(), "not found"},
  };
  fs::create_directories(dir / "empty");
  for (const Case& c : cases) {
    fs::remove_all(dir / "pics");
    ChildSetup setup;
    setup.env = {"PATH=" + c.path_dir, "TMPDIR=" + dir.string()};
    std::string err;
    const ChildResult r =
        orvl({"--headless", "--fps", "1", "--every", "10", "--out", "pics", "--video", "show.mp4"}, nullptr, &err, setup);
    EXPECT_EQ(r.signal, 0) << c.what;
    EXPECT_EQ(r.exit_code, 1) << c.what << ": " << err;
    EXPECT_NE(err.find("show.mp4: ffmpeg stopped: "), std::string::npos) << c.what << ": " << err;
    EXPECT_NE(err.find(c.expected), std::string::npos) << c.what << ": " << err;
    // 151 s at one frame per second, every tenth kept: the pictures are all there.
    EXPECT_TRUE(fs::exists(dir / "pics" / "frame_000150.png")) << c.what;
    EXPECT_FALSE(fs::exists(dir / "show.mp4")) << c.what;
    EXPECT_TRUE(leftovers(dir).empty()) << c.what;
  }
}

// --- signals -------------------------------------------------------------------------------

TEST_F(Hostile, StopSignalsEndTheShowLikeEscapeAndLeaveNoTemporaryFiles) {
  const std::string bin = fake_ffmpeg(dir / "bin", kRecordingFfmpeg);
  for (int sig : {SIGINT, SIGTERM, SIGKILL}) {
    fs::remove(dir / "show.mp4");
    fs::remove(dir / "log.txt");  // the previous run's log must not be taken for this one's
    ChildSetup setup;
    setup.cwd = dir.string();
    setup.env = {"PATH=" + bin + ":/usr/bin:/bin", "TMPDIR=" + dir.string(), "DISPLAY=", "WAYLAND_DISPLAY=",
                "SDL_AUDIODRIVER=dummy"};
    setup.args = {"--headless", "--fps", "200", "--video", "show.mp4"};
    setup.out_path = path("log.txt");
    setup.err_path = path("err.txt");
    const pid_t pid = orvl_test::start_child(program(), setup);
    // Once rendering has started the sound library is loaded.
    for (int i = 0; i < 2000 && file_text(path("log.txt")).find("Start Rendering") == std::string::npos; ++i)
      ::usleep(5000);
    ASSERT_NE(file_text(path("log.txt")).find("Start Rendering"), std::string::npos);
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_NE(e.path().filename().string().substr(0, 3), "ORV") << "the loaded library's file is already gone";
    ::kill(pid, sig);
    const ChildResult r = orvl_test::wait_child(pid, 20);
    EXPECT_FALSE(r.timed_out);
    if (sig == SIGKILL) {
      EXPECT_EQ(r.signal, SIGKILL);
    } else {
      EXPECT_EQ(r.exit_code, 128 + sig) << file_text(path("err.txt"));
      const std::string log = file_text(path("log.txt"));
      EXPECT_NE(log.find("Removing scene\\8vex.lws from memory"), std::string::npos) << "torn down";
      EXPECT_EQ(file_text(path("show.mp4")), "video\n") << "the video was closed properly";
    }
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_NE(e.path().filename().string().substr(0, 3), "ORV") << e.path();
  }
}

// --- links inside the extraction folder ----------------------------------------------------

TEST_F(Hostile, PackExtractNeverFollowsLinksOutOfTheFolder) {
  write("outside/victim.txt", std::string("keep"));
  fs::create_directories(dir / "out");
  fs::create_directory_symlink(dir / "outside", dir / "out" / "sub");
  fs::create_symlink(dir / "outside" / "victim.txt", dir / "out" / "top.txt");
  fs::create_symlink(dir / "outside" / "new.txt", dir / "out" / "dangling.txt");
  fs::create_directories(dir / "out" / "real");
  fs::create_directory_symlink(dir / "outside", dir / "out" / "real" / "deeper");
  orvl::FileSource src;
  ASSERT_EQ(src.pack_create(path("evil.pak")), orvl::PackStatus::ok);
  for (const char* name : {"sub\\victim.txt", "sub\\planted.txt", "top.txt", "dangling.txt", "real\\deeper\\x.txt",
                           "real\\fine.txt"})
    ASSERT_EQ(src.pack_add_buffer(name, Bytes(20, 'p')), orvl::PackStatus::ok);
  ASSERT_EQ(src.pack_close(), orvl::PackStatus::ok);

  std::string out, err;
  const ChildResult r = orvl({"pack", "extract", "evil.pak", "out"}, &out, &err);
  EXPECT_EQ(r.exit_code, 1) << err;
  // Outside is exactly as it was.
  EXPECT_EQ(file_text(path("outside/victim.txt")), "keep");
  size_t outside_files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir / "outside")) outside_files += 1 + 0 * e.is_regular_file();
  EXPECT_EQ(outside_files, 1u);
  // Entries through a linked directory are refused; a link at the file's own name is
  // replaced by the file, inside the folder.
  EXPECT_NE(err.find("sub: not a directory"), std::string::npos) << err;
  EXPECT_NE(err.find("deeper: not a directory"), std::string::npos) << err;
  EXPECT_FALSE(fs::is_symlink(dir / "out" / "top.txt"));
  EXPECT_EQ(file_text(path("out/top.txt")), std::string(20, 'p'));
  EXPECT_FALSE(fs::is_symlink(dir / "out" / "dangling.txt"));
  EXPECT_EQ(file_text(path("out/real/fine.txt")), std::string(20, 'p'));
  EXPECT_TRUE(leftovers(dir).empty());
}

// --- decompression bombs -------------------------------------------------------------------

TEST_F(Hostile, PicturesAboveThePixelBudgetAreRefusedBeforeDecoding) {
  EXPECT_STREQ(orvl::img_error_text(orvl::ImgError::too_large), "Image too large");
  EXPECT_EQ(int(orvl::ImgError::too_large), 14);
  EXPECT_STREQ(orvl::img_error_text(orvl::ImgError::out_of_range), "Parameter is out of range");

  Bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 24, 0};
  bmp.resize(54 + 3000, 0);
  Bytes big_tga = tga(2, 2);
  big_tga[12] = big_tga[14] = 0;
  big_tga[13] = big_tga[15] = 0x40;  // 16384 x 16384
  write("bomb.jpg", claim_size(jpeg(16, 16, false), 16384, 16384));
  write("bombp.jpg", claim_size(jpeg(16, 16, true), 16384, 16384));
  write("bomb.bmp", bmp);
  write("bomb.tga", big_tga);
  for (const char* f : {"bomb.jpg", "bombp.jpg", "bomb.bmp", "bomb.tga"}) {
    std::string out, err;
    ChildSetup setup;
    setup.file_size_limit = 1 << 20;
    const ChildResult r = orvl({"image", "convert", f, "out.tga"}, &out, &err, setup);
    expect_clean_failure(r, f);
    EXPECT_NE(err.find("Image too large (14)"), std::string::npos) << f << ": " << err;
    EXPECT_FALSE(fs::exists(dir / "out.tga")) << f;
  }
  // The budget is the user's: a small one refuses a small picture, on every format.
  write("small.tga", tga(40, 40));
  write("small.jpg", jpeg(40, 40, true));
  for (const char* f : {"small.tga", "small.jpg"}) {
    ChildSetup setup;
    setup.env = {"ORVL_MAX_PIXELS=1000"};
    std::string out;
    EXPECT_EQ(orvl({"image", "info", f, "--json"}, &out, nullptr, setup).exit_code, 1) << f;
    EXPECT_EQ(nlohmann::json::parse(out)["code"], 14) << f;
    setup.env = {"ORVL_MAX_PIXELS=1600"};
    EXPECT_EQ(orvl({"image", "info", f}, nullptr, nullptr, setup).exit_code, 0) << f;
  }
  ChildSetup bad;
  bad.env = {"ORVL_MAX_PIXELS=lots"};
  EXPECT_EQ(orvl({"image", "info", "small.tga"}, nullptr, nullptr, bad).exit_code, 2);
}

// --- failed writes -------------------------------------------------------------------------

TEST(AtomicFile, OnlyACommittedFileReplacesTheTarget) {
  const fs::path d = fs::temp_directory_path() / ("orvl_atomic_" + std::to_string(::getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  const std::string target = (d / "t.bin").string();
  std::ofstream(target) << "old";
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  {
    orvl::AtomicFile f;
    ASSERT_TRUE(f.open(target));
    ASSERT_TRUE(f.write("new data", 8));
    EXPECT_EQ(file_text(target), "old");  // nothing visible before the commit
  }  // dropped without commit
  EXPECT_EQ(file_text(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(d), fs::directory_iterator{}), 1);
  std::string why;
  ASSERT_TRUE(orvl::write_file_atomic(target, "new", 3, &why)) << why;
  EXPECT_EQ(file_text(target), "new");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Names that are not files are never replaced, and missing folders are reported.
  EXPECT_FALSE(orvl::write_file_atomic(d.string(), "x", 1, &why));
  EXPECT_FALSE(orvl::write_file_atomic((d / "no" / "x").string(), "x", 1, &why));
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
  ::mkfifo((d / "fifo").c_str(), 0600);
  EXPECT_FALSE(orvl::write_file_atomic((d / "fifo").string(), "x", 1, &why));
  EXPECT_TRUE(fs::is_fifo(d / "fifo"));
  EXPECT_EQ(std::distance(fs::directory_iterator(d), fs::directory_iterator{}), 2);
  fs::remove_all(d);
}

TEST_F(Hostile, AFullDiskLeavesEveryOldFileWhole) {
  // Inputs, then old versions of every output; a file-size limit below every output's
  // size makes the writes fail the way a full disk does (EFBIG instead of ENOSPC).
  Bytes noise(6000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
  write("noise.bin", noise);
  ASSERT_EQ(orvl({"lz", "compress", "noise.bin", "noise.lz"}).exit_code, 0);
  ASSERT_EQ(orvl({"lzw", "compress", "noise.bin", "noise.lzw"}).exit_code, 0);
  write("pic.tga", tga(40, 40));
  write("scene.lws", null_scene("Nul"));
  ASSERT_EQ(orvl({"pack", "create", "old.pak", "noise.bin"}).exit_code, 0);
  const std::string old_pack = file_text(path("old.pak"));
  for (const char* f : {"o.bin", "o.lzw", "o.tga", "o.jpg", "o.png", "o.ppm", "x/noise.bin", "r/frame_000000.png"})
    write(f, std::string("OLD"));

  const std::vector<std::vector<std::string>> runs = {
      {"lz", "expand", "noise.lz", "o.bin", "--size", "6000"},
      {"lzw", "expand", "noise.lzw", "o.bin"},
      {"lzw", "compress", "noise.bin", "o.lzw"},
      {"image", "convert", "pic.tga", "o.tga"},
      {"image", "convert", "pic.tga", "o.jpg", "--quality", "100"},
      {"image", "convert", "pic.tga", "o.png"},
      {"image", "convert", "pic.tga", "o.ppm"},
      {"pack", "create", "old.pak", "noise.bin", "pic.tga"},
      {"pack", "extract", "old.pak", "x"},
      {"render", "scene.lws", "--out", "r", "--to", "0", "--size", "1024x1024", "--quiet"},
  };
  for (const auto& args : runs) {
    ChildSetup setup;
    setup.file_size_limit = 700;
    std::string err;
    const ChildResult r = orvl(args, nullptr, &err, setup);
    expect_clean_failure(r, args[0] + " " + args[1]);
    EXPECT_NE(err.find("File too large"), std::string::npos) << args[0] << " " << args[1] << ": " << err;
  }
  for (const char* f : {"o.bin", "o.lzw", "o.tga", "o.jpg", "o.png", "o.ppm", "x/noise.bin", "r/frame_000000.png"})
    EXPECT_EQ(file_text(path(f)), "OLD") << f;
  EXPECT_EQ(file_text(path("old.pak")), old_pack);
  EXPECT_TRUE(leftovers(dir).empty());

  // A later pack input that cannot be read leaves the existing pack alone.
  EXPECT_EQ(orvl({"pack", "create", "old.pak", "noise.bin", "missing.bin"}).exit_code, 1);
  EXPECT_EQ(file_text(path("old.pak")), old_pack);
}

// --- FIFOs and devices ---------------------------------------------------------------------

TEST_F(Hostile, FifosAndDevicesAreRefusedInsteadOfWaitedOn) {
  for (const char* name : {"f.pak", "f.lzw", "f.bin", "f.tga", "f.mp3", "f.lws", "f.lwo"})
    ASSERT_EQ(::mkfifo(path(name).c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> runs = {
      {"pack", "list", "f.pak"},
      {"pack", "extract", "f.pak", "x"},
      {"pack", "create", "p.pak", "f.bin"},
      {"lzw", "expand", "f.lzw", "o"},
      {"lz", "expand", "f.bin", "o", "--size", "10"},
      {"lz", "compress", "/dev/zero", "o"},
      {"image", "info", "f.tga"},
      {"play-music", "f.mp3", "--seconds", "1"},
      {"dump-scene", "f.lws"},
      {"dump-object", "f.lwo"},
      {"eval", "f.lws", "--at", "0"},
      {"render", "f.lws", "--out", "r"},
  };
  for (const auto& args : runs) {
    ChildSetup setup;
    setup.timeout_s = 10;
    std::string err;
    const ChildResult r = orvl(args, nullptr, &err, setup);
    expect_clean_failure(r, args[0] + " " + args[1]);
    if (args[0] != "dump-object") {
      EXPECT_NE(err.find("not a regular file"), std::string::npos) << args[0] << " " << args[1] << ": " << err;
    }
  }
}

// The scene commands keep status 1 for a scene they cannot open, but name the file layer's
// reason; a file that is really missing keeps its own words.
TEST_F(Hostile, SceneCommandsNameWhyASceneFileIsNoFile) {
  ASSERT_EQ(::mkfifo(path("pipe.lws").c_str(), 0600), 0);
  for (const std::string scene : {"pipe.lws", "/dev/null"}) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"dump-scene", scene}, {"eval", scene, "--at", "0"}, {"render", scene, "--out", "r"}, {"play", scene}}) {
      ChildSetup setup;
      setup.timeout_s = 10;
      std::string err;
      const ChildResult r = orvl(args, nullptr, &err, setup);
      EXPECT_EQ(r.exit_code, 1) << args[0] << " " << scene << ": " << err;
      EXPECT_NE(err.find("status 1"), std::string::npos) << args[0] << " " << scene << ": " << err;
      EXPECT_NE(err.find("not a regular file"), std::string::npos) << args[0] << " " << scene << ": " << err;
      EXPECT_EQ(err.find("file not found"), std::string::npos) << args[0] << " " << scene << ": " << err;
    }
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"dump-scene", "gone.lws"}, {"eval", "gone.lws", "--at", "0"}, {"render", "gone.lws", "--out", "r"}}) {
    std::string err;
    EXPECT_EQ(orvl(args, nullptr, &err).exit_code, 1) << args[0];
    EXPECT_NE(err.find("status 1"), std::string::npos) << args[0] << ": " << err;
    EXPECT_NE(err.find("file not found"), std::string::npos) << args[0] << ": " << err;
  }
}

// --- an endless scene ----------------------------------------------------------------------

TEST_F(Hostile, RenderOfAnEndlessSceneStopsAtMaxFramesAndSaysSo) {
  write("endless.lws", null_scene("Nul", 2147483647));
  std::string err;
  ChildResult r = orvl({"render", "endless.lws", "--out", "a", "--size", "32x32", "--max-frames", "4", "--quiet"},
                       nullptr, &err);
  EXPECT_EQ(r.exit_code, 0) << err;
  EXPECT_NE(err.find("stopping after 4 (--max-frames"), std::string::npos) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "a"), fs::directory_iterator{}), 4);
  // An explicit end is the user's: --to and --seconds are not cut, and say nothing.
  r = orvl({"render", "endless.lws", "--out", "b", "--size", "32x32", "--max-frames", "2", "--to", "100", "--quiet"},
           nullptr, &err);
  EXPECT_EQ(r.exit_code, 0) << err;
  EXPECT_EQ(err.find("--max-frames"), std::string::npos) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "b"), fs::directory_iterator{}), 4);  // 0, 33, 67, 100 ms
  r = orvl({"render", "endless.lws", "--out", "c", "--size", "32x32", "--seconds", "1", "--every", "10", "--quiet"},
           nullptr, &err);
  EXPECT_EQ(r.exit_code, 0) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "c"), fs::directory_iterator{}), 4);  // frames 0, 10, 20, 30
}

// --- messages that mislead -----------------------------------------------------------------

TEST_F(Hostile, ErrorsNameTheRealReason) {
  fs::create_directories(dir / "adir.tga");
  write("empty.tga", Bytes{});
  {
    std::ofstream(path("huge.tga"));
    fs::resize_file(path("huge.tga"), (uint64_t(2) << 30) + 1);  // sparse: costs no disk
  }
  write("random.lws", Bytes{0x13, 0x99, 0x42, 0x00, 0xFF, 0x10});
  write("empty.lws", Bytes{});
  write("scene.lws", null_scene("Nul"));
  write("file_in_the_way", std::string("x"));
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"image", "info", "adir.tga"}, 1, "not a regular file"},
      {{"image", "info", "empty.tga"}, 1, "the file is empty"},
      {{"image", "info", "huge.tga"}, 1, "file too large"},
      {{"lzw", "expand", "adir.tga", "o"}, 1, "not a regular file"},
      {{"dump-scene", "random.lws"}, 1, "not a LightWave scene"},
      {{"dump-scene", "empty.lws"}, 1, "does not start with \"LWSC\""},
      {{"render", "scene.lws", "--out", "file_in_the_way/sub"}, 1, "file_in_the_way/sub: cannot make the output folder"},
      {{"lz", "expand", "scene.lws", "o", "--size", "1099511627776"}, 1, "too large"},
      {{"play-music", "scene.lws", "--seconds", "nan"}, 2, "usage"},
      {{"play-music", "scene.lws", "--seconds", "1e308"}, 2, "usage"},
  };
  for (const Case& c : cases) {
    std::string err;
    const ChildResult r = orvl(c.args, nullptr, &err);
    EXPECT_EQ(r.exit_code, c.code) << c.args[0] << " " << c.args[1] << ": " << err;
    EXPECT_NE(err.find(c.expected), std::string::npos) << c.args[0] << " " << c.args[1] << ": " << err;
    EXPECT_EQ(err.find("File not found"), std::string::npos) << err;
  }
  // A pack entry name cannot add lines to what extract and list print.
  orvl::FileSource src;
  ASSERT_EQ(src.pack_create(path("nl.pak")), orvl::PackStatus::ok);
  ASSERT_EQ(src.pack_add_buffer("a\nFAKE LINE\n.txt", Bytes(4, 'x')), orvl::PackStatus::ok);
  ASSERT_EQ(src.pack_close(), orvl::PackStatus::ok);
  for (const char* mode : {"list", "extract"}) {
    std::string out;
    std::vector<std::string> args = {"pack", mode, "nl.pak"};
    if (std::string(mode) == "extract") args.push_back("x");
    EXPECT_EQ(orvl(args, &out).exit_code, 0);
    EXPECT_EQ(out.find("\nFAKE LINE\n"), std::string::npos) << out;
    EXPECT_NE(out.find("a\\nfake line\\n.txt"), std::string::npos) << out;  // names are lower-cased
  }
}

// --- the README's synopses -----------------------------------------------------------------

// Every command line the README shows under "Commands" is accepted: its command answers
// --help with a synopsis naming every option the README names, and running the line with
// each option on a small input is never refused as a usage error.
TEST_F(Hostile, EveryReadmeSynopsisIsAccepted) {
  const std::string readme = file_text(std::string(ORVL_SOURCE_DIR) + "/README.md");
  const size_t commands = readme.find("## Commands");
  ASSERT_NE(commands, std::string::npos);
  std::vector<std::string> lines;
  const std::regex block("```sh\\n([\\s\\S]*?)```");
  const std::string section = readme.substr(commands);
  for (std::sregex_iterator it(section.begin(), section.end(), block), end; it != end; ++it) {
    std::istringstream in((*it)[1].str());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("orvl", 0) == 0) lines.push_back(line.substr(0, line.find("  #")));
  }
  // play-music's synopsis is a heading, not a block.
  lines.push_back("orvl play-music FILE [--seconds S]");
  ASSERT_GE(lines.size(), 14u);

  // Small inputs for the placeholders.
  write("in/scene.lws", null_scene("Nul"));
  write("in/pic.tga", tga(8, 8));
  write("in/data.bin", std::string(300, 'a'));
  ASSERT_EQ(orvl({"lz", "compress", "in/data.bin", "in/data.lz"}).exit_code, 0);
  ASSERT_EQ(orvl({"lzw", "compress", "in/data.bin", "in/data.lzw"}).exit_code, 0);
  ASSERT_EQ(orvl({"pack", "create", "in/p.pak", "in/data.bin"}).exit_code, 0);
  const std::string silent_wav = [] {
    std::string w = "RIFF";
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) w += char(v >> (8 * i)); };
    u32(36 + 400);
    w += "WAVEfmt ";
    u32(16);
    w += std::string("\x01\x00\x02\x00", 4);
    u32(22050);
    u32(22050 * 4);
    w += std::string("\x04\x00\x10\x00", 4);
    w += "data";
    u32(400);
    return w + std::string(400, '\0');
  }();
  write("in/tune.wav", silent_wav);

  // The value for a placeholder, by the command it belongs to.
  auto value_for = [&](const std::string& cmd, const std::string& ph, const std::string& option) -> std::string {
    if (ph == "FILE.lws") return "in/scene.lws";
    if (ph == "FILE.lwo") return "in/none.lwo";
    if (ph == "FILE.mp4") return "out/v.mp4";
    if (ph == "DIR") return option == "--root" ? "in" : "out/d";
    if (ph == "N" || ph == "K") return option == "--size" ? "300" : "2";
    if (ph == "S") return "0.2";
    if (ph == "F") return "1";
    if (ph == "MS") return "0";
    if (ph == "OBJ") return "0";
    if (ph == "WxH") return "48x32";
    if (ph == "IN") return cmd == "lz" ? "in/data.lz" : cmd == "lzw" ? "in/data.lzw" : "in/pic.tga";
    if (ph == "OUT") return cmd == "image" ? "out/o.tga" : "out/o.bin";
    if (ph == "PACK") return "in/p.pak";
    if (ph == "FILE...") return "in/data.bin";
    if (ph == "NAME...") return "in/data.bin";
    if (ph == "FILE") return cmd == "play-music" || option == "--music" ? "in/tune.wav" : "in/pic.tga";
    return ph;
  };

  int runs = 0;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    // Words: the command words first, then options with their placeholders.
    std::string flat = std::regex_replace(line, std::regex("[\\[\\]()|]"), " ");
    std::istringstream in(flat);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    words.erase(words.begin());  // "orvl"
    std::string cmd = words.empty() || words[0].rfind("--", 0) == 0 ? "show" : words[0];
    std::vector<std::string> base;  // command words and positional placeholders
    std::vector<std::pair<std::string, std::string>> options;
    for (size_t i = 0; i < words.size(); ++i) {
      if (words[i].rfind("--", 0) == 0) {
        std::string ph = i + 1 < words.size() && words[i + 1].rfind("--", 0) != 0 ? words[++i] : "";
        options.push_back({words[i - (ph.empty() ? 0 : 1)], ph});
      } else if (options.empty()) {
        base.push_back(words[i]);
      }
    }
    std::vector<std::string> base_args;
    for (const std::string& w : base)
      base_args.push_back(std::isupper(static_cast<unsigned char>(w[0])) ? value_for(cmd, w, "") : w);

    // --help names every option the README names.
    std::vector<std::string> help_args = base_args.empty() ? std::vector<std::string>{"show"} : base_args;
    help_args.resize(std::min<size_t>(help_args.size(), 1));
    help_args.push_back("--help");
    std::string out;
    ASSERT_EQ(orvl(help_args, &out).exit_code, 0) << out;
    for (const auto& o : options) EXPECT_NE(out.find(o.first), std::string::npos) << o.first << " in: " << out;

    // Each option on its own on the small input (the show only with its help: it plays
    // for minutes; a window needs a display).
    // Commands whose small inputs this test knows; the others are checked through --help.
    static const std::set<std::string> runnable = {"render", "eval", "lz", "lzw", "pack", "dump-object",
                                                   "dump-scene", "image", "play-music"};
    if (!runnable.count(cmd)) continue;
    for (const auto& o : options) {
      if (o.first == "--window" || o.first == "--headless") continue;
      std::vector<std::string> args = base_args;
      if (cmd == "render" && o.first != "--out") args.insert(args.end(), {"--out", "out/r"});
      if (cmd == "render" && o.first != "--seconds" && o.first != "--to") args.insert(args.end(), {"--seconds", "0.1"});
      if (cmd == "render" && o.first != "--size") args.insert(args.end(), {"--size", "32x32"});
      if (cmd == "eval" && o.first != "--at" && o.first != "--frame") args.insert(args.end(), {"--at", "0"});
      if (cmd == "lz" && base_args[1] == "expand" && o.first != "--size") args.insert(args.end(), {"--size", "300"});
      args.push_back(o.first);
      if (!o.second.empty()) args.push_back(value_for(cmd, o.second, o.first));
      fs::create_directories(dir / "out");
      std::string err;
      const ChildResult r = orvl(args, nullptr, &err);
      ++runs;
      EXPECT_EQ(r.signal, 0) << o.first;
      EXPECT_NE(r.exit_code, 2) << o.first << ": " << err;
      EXPECT_EQ(err.find("usage"), std::string::npos) << o.first << ": " << err;
    }
  }
  EXPECT_GE(runs, 20);
}

}  // namespace
