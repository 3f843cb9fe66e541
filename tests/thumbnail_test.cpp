// `orvl thumbnail` run as the file manager runs it: a child process in a folder of its own,
// its picture read back from the PNG it wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"
#include "render/png_writer.h"
#include "support/child_run.h"
#include "support/object_fixtures.h"
#include "support/shared_data.h"
#include "tools/lwob_writer.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;
namespace fs = std::filesystem;

namespace {

struct Picture {
  std::vector<uint8_t> rgba;
  int width = 0, height = 0;
  const uint8_t* px(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

// A linear move along X, 6 ahead of the camera, over frames 0 to 90.
void across(LwsObject& o, float from, float to) {
  o.motion.resize(2);
  o.motion[0].value = {from, 0, 6, 0, 0, 0, 1, 1, 1};
  o.motion[1].value = {to, 0, 6, 0, 0, 0, 1, 1, 1};
  o.motion[1].frame = 90;
  o.motion[1].linear = 1;
}

struct Thumbnail : ::testing::Test {
  TempDir dir{"thumbnail"};
  std::string err;

  // Runs `orvl thumbnail ARGS...` from a working directory that holds none of the inputs.
  int thumbnail(std::vector<std::string> args) {
    args.insert(args.begin(), "thumbnail");
    fs::create_directories(dir.root / "cwd");
    orvl_test::ChildSetup setup;
    setup.args = args;
    setup.cwd = (dir.root / "cwd").string();
    setup.err_path = dir.path("stderr.txt");
    const orvl_test::ChildResult r = orvl_test::run_child(ORVL_BINARY, setup);
    err = orvl_test::file_text(setup.err_path);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    return r.exit_code;
  }
  Picture read(const std::string& path) {
    Picture p;
    std::string why;
    EXPECT_TRUE(png_read_rgba(path, p.rgba, p.width, p.height, &why)) << path << ": " << why;
    return p;
  }

  // A LightWave 5 scene of 90 frames at 30 per second: a red quad (one unit wide, 6 ahead of
  // the camera) moving linearly from x = -2 to x = +2, a half transparent green one standing
  // at x = +1.2 and a blue one half dissolved at (-1.5, 1.2). The backdrop is blue, a
  // gradient in the lightwave look.
  std::string moving_scene() {
    auto f32 = [](float f) {
      std::vector<uint8_t> v;
      lw_put_f32(v, f);
      return v;
    };
    // Fully luminous and not diffuse: the lightwave look shows exactly the surface colour.
    auto quad = [&](const std::string& file, const std::string& surface, uint8_t r, uint8_t g, float transparency) {
      const uint8_t b = r == g ? 230 : 30;
      LwobWriter w;
      for (float y : {-0.5f, 0.5f})
        for (float x : {-0.5f, 0.5f}) w.add_point(x, y, 0);
      w.add_polygon({0, 2, 3, 1}, 1);
      LwobSurface& s = w.add_surface(surface).colr(r, g, b).sub("VLUM", f32(1)).sub("VDIF", f32(0));
      if (transparency > 0) s.sub("VTRN", f32(transparency));
      EXPECT_TRUE(w.write(dir.path("scene/" + file)));
    };
    fs::create_directories(dir.root / "scene");
    quad("red.lwo", "Red", 230, 30, 0);
    quad("green.lwo", "Glass", 30, 230, 0.5f);
    quad("blue.lwo", "Blue", 30, 30, 0);

    LwsScene lws;
    lws.last_frame = 90;
    lws.backdrop_color = {0, 0, 96};
    // The dissolved object comes first: the engine's reader looks for an object's dissolve
    // within a window of text that reaches into the next object's lines.
    lws.objects.resize(3);
    lws.objects[0].load_path = "blue.lwo";
    lws.objects[0].motion[0].value = {-1.5f, 1.2f, 6, 0, 0, 0, 1, 1, 1};
    lws.objects[0].dissolve = LwsEnvelope{{LwsEnvelopeKey{0.5f}}};
    lws.objects[1].load_path = "red.lwo";
    across(lws.objects[1], -2, 2);
    lws.objects[2].load_path = "green.lwo";
    lws.objects[2].motion[0].value = {1.2f, 0, 6, 0, 0, 0, 1, 1, 1};
    lws.lights.push_back(LwsLight{});
    std::string text = write_lws(lws);
    const size_t solid = text.find("SolidBackdrop 1");
    EXPECT_NE(solid, std::string::npos);
    text.replace(solid, 15, "SolidBackdrop 0");
    const std::string path = dir.path("scene/moving.lws");
    EXPECT_TRUE(write_whole_file(path, text.data(), text.size()));
    return path;
  }
};

// Centre of the pixels with any coverage.
void centroid(const Picture& p, double& cx, double& cy, int& count) {
  double sx = 0, sy = 0;
  count = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (p.px(x, y)[3] == 255 && p.px(x, y)[0] > 150) {
        sx += x + 0.5;
        sy += y + 0.5;
        ++count;
      }
  cx = count ? sx / count : -1;
  cy = count ? sy / count : -1;
}

void expect_clear_corners(const Picture& p) {
  for (const auto& c : {std::pair{0, 0}, std::pair{p.width - 1, 0}, std::pair{0, p.height - 1},
                        std::pair{p.width - 1, p.height - 1}})
    EXPECT_EQ(p.px(c.first, c.second)[3], 0) << c.first << "," << c.second;
}

}  // namespace

// The scene's picture: 4:3 at the asked size, the moment one third into the scene, nothing
// but the objects covering it, and nothing written beside the scene.
TEST_F(Thumbnail, SceneAtOneThirdOnATransparentBackground) {
  const std::string scene = moving_scene();
  std::set<fs::path> before;
  for (const auto& e : fs::directory_iterator(dir.root / "scene")) before.insert(e.path());

  ASSERT_EQ(thumbnail({scene, dir.path("engine.png")}), 0) << err;
  const Picture engine = read(dir.path("engine.png"));
  ASSERT_EQ(engine.width, 256);
  ASSERT_EQ(engine.height, 192);
  expect_clear_corners(engine);
  // Frame 30 of 90: the red quad at x = -2/3. The engine's frustum spans 6 units of height at
  // a distance of 6, so 32 pixels a unit: centre (128 - 21.3, 96), 32 x 32 pixels.
  double cx = 0, cy = 0;
  int count = 0;
  centroid(engine, cx, cy, count);
  EXPECT_NEAR(cx, 128 - 64.0 / 3, 1.5);
  EXPECT_NEAR(cy, 96, 1.5);
  EXPECT_NEAR(count, 32 * 32, 32 * 4);
  // The half dissolved quad covers half of its pixels, in its own colour.
  const uint8_t* blue = engine.px(int(std::lround(128 - 1.5 * 32)), int(std::lround(96 - 1.2 * 32)));
  EXPECT_NEAR(blue[3], 128, 12);
  EXPECT_GT(blue[2], 200);

  ASSERT_EQ(thumbnail({scene, dir.path("lw.png"), "--look", "lightwave", "--size", "128"}), 0) << err;
  const Picture lw = read(dir.path("lw.png"));
  ASSERT_EQ(lw.width, 128);
  ASSERT_EQ(lw.height, 96);
  // The gradient backdrop is not drawn either.
  expect_clear_corners(lw);
  // Zoom 3.2: 96 / (2 x 6 / 3.2) = 25.6 pixels a unit.
  centroid(lw, cx, cy, count);
  EXPECT_NEAR(cx, 64 - 25.6 * 2 / 3, 1.5);
  EXPECT_NEAR(cy, 48, 1.5);
  // The half transparent quad covers half of its pixels, in its own colour (not darkened
  // by the black the picture was cleared with).
  const uint8_t* glass = lw.px(int(std::lround(64 + 25.6 * 1.2)), 48);
  EXPECT_NEAR(glass[3], 128, 12);
  EXPECT_GT(glass[1], 200);
  EXPECT_LT(glass[0], 80);

  // Larger sizes are drawn at their own size; the shape stays 4:3.
  ASSERT_EQ(thumbnail({scene, dir.path("big.png"), "--size", "700"}), 0) << err;
  const Picture big = read(dir.path("big.png"));
  EXPECT_EQ(big.width, 700);
  EXPECT_EQ(big.height, 525);

  std::set<fs::path> after;
  for (const auto& e : fs::directory_iterator(dir.root / "scene")) after.insert(e.path());
  EXPECT_EQ(before, after);
  EXPECT_TRUE(fs::is_empty(dir.root / "cwd"));

  // Out of view at one third (x = -20 / 3 is beyond the frame's half width of 4), in the
  // middle at one half: the later moment is drawn instead of nothing.
  LwsScene passing;
  passing.last_frame = 90;
  passing.objects.resize(1);
  passing.objects[0].load_path = "red.lwo";
  across(passing.objects[0], -20, 20);
  passing.lights.resize(1);
  ASSERT_TRUE(write_lws_file(dir.path("scene/passing.lws"), passing));
  ASSERT_EQ(thumbnail({dir.path("scene/passing.lws"), dir.path("passing.png")}), 0) << err;
  centroid(read(dir.path("passing.png")), cx, cy, count);
  EXPECT_NEAR(cx, 128, 1.5);
  EXPECT_NEAR(count, 32 * 32, 32 * 4);
}

// What cannot be drawn gives status 1 and no picture; bad arguments status 2.
TEST_F(Thumbnail, FailuresLeaveNoPicture) {
  const std::string out = dir.path("out.png");
  const std::string text = dir.touch("notes.lwo", "these are not the objects you are looking for\n");
  const std::string empty = dir.touch("empty.lws", "");
  const std::string fifo = dir.path("pipe.lws");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  LwsScene nothing;  // a scene of one null object: nothing is in view
  nothing.objects.resize(1);
  nothing.lights.resize(1);
  ASSERT_TRUE(write_lws_file(dir.path("nothing.lws"), nothing));
  for (const std::string& in : {text, empty, fifo, dir.path("absent.lws"), dir.path("nothing.lws")}) {
    SCOPED_TRACE(in);
    EXPECT_EQ(thumbnail({in, out}), 1);
    EXPECT_NE(err.find("orvl thumbnail: "), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_NE(err.find("nothing is in view"), std::string::npos) << err;
  // A folder that is not there for the picture.
  EXPECT_EQ(thumbnail({moving_scene(), dir.path("no/such/folder/out.png")}), 1);
  EXPECT_FALSE(fs::exists(dir.root / "no"));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{text}, {text, out, "--size", "0"}, {text, out, "--size", "100000"},
        {text, out, "--size", "12.5"}, {text, out, "--size"}, {text, out, "--look", "photo"}}) {
    EXPECT_EQ(thumbnail(args), 2) << args.back();
    EXPECT_FALSE(fs::exists(out));
  }
}

// A lone object: square, in the middle, in the lightwave look (lit by LightWave's default
// light, so not flat black), and never drawn as nothing when it is flat and seen edge-on.
TEST_F(Thumbnail, LoneObjectsFillASquare) {
  LwobWriter box;  // a cube of side 2 about (5, 5, 5): the framing centres it
  for (int i = 0; i < 8; ++i) box.add_point(i & 1 ? 6 : 4, i & 2 ? 6 : 4, i & 4 ? 6 : 4);
  for (const std::vector<uint16_t>& face : std::vector<std::vector<uint16_t>>{
           {0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}})
    box.add_polygon(face, 1);
  box.add_surface("White").colr(255, 255, 255);
  ASSERT_TRUE(box.write(dir.path("box.lwo")));
  ASSERT_EQ(thumbnail({dir.path("box.lwo"), dir.path("box.png"), "--size", "128"}), 0) << err;
  const Picture p = read(dir.path("box.png"));
  ASSERT_EQ(p.width, 128);
  ASSERT_EQ(p.height, 128);
  expect_clear_corners(p);
  const uint8_t* middle = p.px(64, 64);
  EXPECT_EQ(middle[3], 255);
  EXPECT_GT(middle[0], 100);
  // Symmetric about the middle: the covered columns and rows start as far from each edge.
  int left = p.width, right = -1, top = p.height, bottom = -1;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (p.px(x, y)[3] > 128) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  EXPECT_NEAR(left, p.width - 1 - right, 2);
  EXPECT_NEAR(top, p.height - 1 - bottom, 2);
  EXPECT_GT(right - left, p.width / 3);

  // A square in the YZ plane faces along X: LightWave's default view (along +Z) sees only
  // its edge.
  LwobWriter flat;
  for (int i = 0; i < 4; ++i) flat.add_point(0, i & 1 ? 1 : -1, i & 2 ? 1 : -1);
  flat.add_polygon({0, 1, 3, 2}, 1);
  flat.add_polygon({0, 2, 3, 1}, 1);
  flat.add_surface("Card").colr(200, 200, 40);
  ASSERT_TRUE(flat.write(dir.path("card.lwo")));
  ASSERT_EQ(thumbnail({dir.path("card.lwo"), dir.path("card.png")}), 0) << err;
  const Picture c = read(dir.path("card.png"));
  EXPECT_EQ(c.px(128, 128)[3], 255);
}
