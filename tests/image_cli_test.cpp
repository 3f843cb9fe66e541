// `orvl image info` and `orvl image convert` run as a user would run them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "image/image.h"
#include "support/image_support.h"
#include "support/shared_data.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

const std::string kImages = orvl::test::shared_testdata("images/");

struct CmdResult {
  int status;
  std::string out;
};

CmdResult orvl_run(const std::string& args) {
  std::string cmd = std::string(ORVL_BINARY) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  CmdResult r{-1, {}};
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<uint8_t> bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_imgcli_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(root); }
  ~TempDir() { fs::remove_all(root); }
  std::string path(const std::string& n) const { return (root / n).string(); }
};

}  // namespace

TEST(ImageCommand, InfoReportsTypeSizeAndResult) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  CmdResult r = orvl_run("image info " + kImages + "tga10_24_bl_rle200x4.tga");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("type      : tga (2)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("size      : 200 x 4"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("result    : 0 No error"), std::string::npos) << r.out;

  r = orvl_run("image info --json " + kImages + "tga1_cmap_odd7x5.tga");
  EXPECT_EQ(r.status, 1);
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["code"], 8);
  EXPECT_EQ(j["message"], "Unsupported BPP");
  EXPECT_EQ(j["type"], "tga");
  EXPECT_EQ(j["width"], 0);

  r = orvl_run("image info --json /nonexistent/x.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(nlohmann::json::parse(r.out)["message"], "File not found");
}

TEST(ImageCommand, ConvertThroughEveryWriter) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  TempDir t;
  // Lossless: IFF to PPM gives the reference pixels byte for byte.
  CmdResult r = orvl_run("image convert " + kImages + "ilbm24_none_noise13x7.iff " + t.path("n.ppm"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(bytes_of(t.path("n.ppm")), bytes_of(kImages + "ilbm24_none_noise13x7.ppm"));

  // BMP to TGA and back through info/decode.
  ASSERT_EQ(orvl_run("image convert " + kImages + "bmp24_w7x3.bmp " + t.path("w7.TGA")).status, 0);
  Img img;
  ImgDecoder dec;
  dec.bind(&img);
  ASSERT_EQ(img.load(t.path("w7.TGA")), ImgError::ok);
  ASSERT_EQ(dec.decode(), ImgError::ok);
  orvl::test::Picture ref;
  ASSERT_TRUE(orvl::test::read_ppm(kImages + "bmp24_w7x3.ppm", ref));
  EXPECT_EQ(img.pixels, ref.pixels);

  // JPEG with a quality: lower quality, smaller file; both decode.
  ASSERT_EQ(orvl_run("image convert " + kImages + "tga2_24_tl_grad64x48.tga " + t.path("hi.jpg") + " --quality 95").status, 0);
  ASSERT_EQ(orvl_run("image convert " + kImages + "tga2_24_tl_grad64x48.tga " + t.path("lo.jpg") + " --quality=10").status, 0);
  EXPECT_LT(fs::file_size(t.path("lo.jpg")), fs::file_size(t.path("hi.jpg")));
  EXPECT_EQ(orvl_run("image info " + t.path("lo.jpg")).status, 0);

  // PNG: signature and size in the header.
  ASSERT_EQ(orvl_run("image convert " + kImages + "tga2_24_tl_grad64x48.tga " + t.path("g.png")).status, 0);
  auto png = bytes_of(t.path("g.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  EXPECT_EQ(png[19], 64);  // IHDR width, big-endian
  EXPECT_EQ(png[23], 48);
}

TEST(ImageCommand, BadArgumentsAndInputsFail) {
  TempDir t;
  EXPECT_EQ(orvl_run("image").status, 2);
  EXPECT_EQ(orvl_run("image frobnicate x").status, 2);
  // A damaged input: exit 1 and nothing written.
  std::ofstream(t.path("bad.jpg"), std::ios::binary) << "\xFF\xD8garbage";
  EXPECT_EQ(orvl_run("image convert " + t.path("bad.jpg") + " " + t.path("out.tga")).status, 1);
  EXPECT_FALSE(fs::exists(t.path("out.tga")));
  ORVL_REQUIRE_SHARED_TESTDATA();
  EXPECT_EQ(orvl_run("image convert " + kImages + "bmp24_w1x3.bmp " + t.path("x.gif")).status, 2);
  EXPECT_EQ(orvl_run("image convert " + kImages + "bmp24_w1x3.bmp " + t.path("x.jpg") + " --quality 0").status, 2);
  EXPECT_EQ(orvl_run("image convert " + kImages + "bmp24_w1x3.bmp " + t.path("x.jpg") + " --quality").status, 2);
  EXPECT_EQ(orvl_run("image convert " + kImages + "bmp24_w1x3.bmp /nonexistent/dir/x.tga").status, 1);
}
