#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/file.h"
#include "platform/log.h"
#include "scene/motion.h"
#include "scene/precalc_file.h"
#include "support/hand_scene.h"
#include "support/object_fixtures.h"

using namespace orvl;
using namespace orvl::testing;

namespace {

std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}

// A triangle at distance `z` in front of a camera at rest (it looks along -z, so object z
// becomes camera -z) around (cx, cy), facing the camera or turned away.
void add_triangle(std::vector<Vertex>& v, std::vector<Triangle>& t, float cx, float cy, float z, bool facing) {
  const int base = int(v.size());
  v.push_back({cx, cy, z});
  v.push_back({cx + 0.1f, cy, z});
  v.push_back({cx, cy + 0.1f, z});
  Triangle tri;
  tri.corners[0] = base;
  tri.corners[1] = facing ? base + 2 : base + 1;
  tri.corners[2] = facing ? base + 1 : base + 2;
  t.push_back(tri);
}

}  // namespace

TEST(PrecalcFile, ReaderAndWriterShareOneNameRule) {
  EXPECT_EQ(precalc_file_name("scene\\1vex.lws"), "scene\\1vex.PRK");
  EXPECT_EQ(precalc_file_name("scene/1VEX.LWS"), "scene/1VEX.PRK");
  EXPECT_EQ(precalc_file_name("a/b.Lws"), "a/b.PRK");
  // A dot in a folder name, even one that looks like the extension, is not the extension.
  EXPECT_EQ(precalc_file_name("x.lws.d/show.v2/s.lws"), "x.lws.d/show.v2/s.PRK");
  EXPECT_EQ(precalc_file_name("x.lws.d/s.txt"), "");
  EXPECT_EQ(precalc_file_name("scene/1vex"), "");
  EXPECT_EQ(precalc_file_name("dir/.lws"), "");
  EXPECT_EQ(precalc_file_name("lws"), "");
}

TEST(PrecalcFile, VisibilityRuleFacingNearPlaneAndViewBounds) {
  auto tri = [](float x0, float y0, float x1, float y1, float x2, float y2, float z) {
    // Corners listed counter-clockwise on screen face the camera.
    return std::array<Vertex, 3>{Vertex{x0, y0, z}, Vertex{x2, y2, z}, Vertex{x1, y1, z}};
  };
  auto visible = [](const std::array<Vertex, 3>& p, bool two_sided = false) {
    return precalc_polygon_visible(p[0], p[1], p[2], two_sided, 640, 480);
  };
  const auto front = tri(0, 0, 0.1f, 0, 0, 0.1f, -2);
  ASSERT_TRUE(visible(front));
  const auto away = tri(0, 0, 0, 0.1f, 0.1f, 0, -2);
  EXPECT_FALSE(visible(away));
  EXPECT_TRUE(visible(away, true));
  // Wholly nearer than one unit: never, whichever way it faces.
  EXPECT_FALSE(visible(tri(0, 0, 0.1f, 0, 0, 0.1f, -0.5f)));
  EXPECT_FALSE(visible(tri(0, 0, 0, 0.1f, 0.1f, 0, -0.5f), true));
  // 640 x 480: |X| <= 4/3 and |Y| <= 1.125 after dividing by -z (here z = -2).
  EXPECT_FALSE(visible(tri(2.7f, 0, 2.8f, 0, 2.7f, 0.1f, -2)));   // X 1.35 .. 1.4
  EXPECT_TRUE(visible(tri(2.6f, 0, 2.8f, 0, 2.6f, 0.1f, -2)));    // one corner at X 1.3
  EXPECT_FALSE(visible(tri(-2.8f, 0, -2.7f, 0, -2.8f, 0.1f, -2)));
  EXPECT_FALSE(visible(tri(0, 2.3f, 0.1f, 2.3f, 0, 2.4f, -2)));   // Y 1.15 .. 1.2
  EXPECT_TRUE(visible(tri(0, 2.2f, 0.1f, 2.2f, 0, 2.4f, -2)));    // one corner at Y 1.1
  EXPECT_FALSE(visible(tri(0, -2.4f, 0.1f, -2.4f, 0, -2.3f, -2)));
  // Corners beyond different bounds do not drop a triangle that spans the view.
  EXPECT_TRUE(visible(tri(-3, -3, 3, -3, 0, 3, -2)));
}

TEST(PrecalcFile, DamagedFilesAreRejectedWithoutReadingPastThem) {
  PrecalcFile good;
  good.width = 640;
  good.height = 480;
  good.step = 2;
  good.visibility = {0xB1, 0xC0, 0xB1, 0xC0, 0x00, 0xFF};
  good.frame_table = {0, 2, 4};
  std::vector<uint8_t> bytes;
  ASSERT_EQ(precalc_encode(good, bytes), PrecalcStatus::ok);
  const size_t c = bytes.size() - kPrecalcHeaderBytes - 4 - 12;
  PrecalcFile f;
  ASSERT_EQ(precalc_parse(bytes.data(), bytes.size(), f, 640, 480), PrecalcStatus::ok);
  EXPECT_EQ(f.visibility, good.visibility);
  EXPECT_EQ(f.frame_table, good.frame_table);
  EXPECT_EQ(f.compressed_size, c);

  // Every truncation is caught (the parser sees only the prefix, so ASan flags any overread).
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    EXPECT_EQ(precalc_parse(cut.data(), cut.size(), f), PrecalcStatus::invalid) << n << " bytes";
  }
  auto with = [&](size_t at, int32_t v) {
    std::vector<uint8_t> b = bytes;
    put32(b, at, v);
    return precalc_parse(b.data(), b.size(), f);
  };
  const size_t t_at = kPrecalcHeaderBytes + c;
  std::vector<uint8_t> magic = bytes;
  magic[3] = '2';
  EXPECT_EQ(precalc_parse(magic.data(), magic.size(), f), PrecalcStatus::invalid);
  EXPECT_EQ(with(13, 0), PrecalcStatus::invalid);                 // step
  EXPECT_EQ(with(13, 9), PrecalcStatus::invalid);
  EXPECT_EQ(with(17, -1), PrecalcStatus::invalid);                // U negative
  EXPECT_EQ(with(17, (1 << 30) + 1), PrecalcStatus::invalid);     // U absurd
  EXPECT_EQ(with(17, 7), PrecalcStatus::invalid);                 // stream decodes to 6 bytes only
  EXPECT_EQ(with(21, int32_t(c) + 1), PrecalcStatus::invalid);    // C past the file (T read from the wrong place)
  EXPECT_EQ(with(21, -5), PrecalcStatus::invalid);
  EXPECT_EQ(with(21, 0x7fffffff), PrecalcStatus::invalid);
  EXPECT_EQ(with(t_at, 16), PrecalcStatus::invalid);              // T past the file
  EXPECT_EQ(with(t_at, 10), PrecalcStatus::invalid);              // T not whole entries
  EXPECT_EQ(with(t_at, -4), PrecalcStatus::invalid);
  EXPECT_EQ(with(t_at + 12, 1), PrecalcStatus::invalid);          // offsets going back
  EXPECT_EQ(with(t_at + 12, 7), PrecalcStatus::invalid);          // offset past U
  EXPECT_EQ(with(t_at + 12, 6), PrecalcStatus::ok);               // a frame with no bits ends at U
  EXPECT_TRUE(f.visibility.empty() || f.visibility == good.visibility);

  // The size is compared before anything else is trusted, as the loader does it.
  std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 17);
  EXPECT_EQ(precalc_parse(header.data(), header.size(), f, 800, 600), PrecalcStatus::other_size);
  EXPECT_EQ(f.width, 640);
  EXPECT_EQ(f.step, 2);
}

// A hand-made scene whose bits are worked out by hand: built, written, read back.
struct PrecalcBuild : ::testing::Test {
  TempDir dir{"precalc"};
  HandScene hand{30, 6};
  Scene& scene = hand.scene;

  void SetUp() override {
    log_set_echo(false);
    log_clear();
    scene.flags = SceneFlags::BUILD_PRECALC;
    scene.width = 640;
    scene.height = 480;
    scene.precalc.precalc_step = 2;
    scene.precalc.build_precalc = 1;
    scene.path = dir.path("hand.lws");
  }
  void TearDown() override { log_set_echo(true); }

  // An object of triangles in front of the camera; `pattern` gives each one's visibility.
  void add_object(const std::string& pattern) {
    std::vector<Vertex> v;
    std::vector<Triangle> t;
    for (size_t i = 0; i < pattern.size(); ++i) add_triangle(v, t, 0.2f * float(i) - 1, 0, 4, pattern[i] == '1');
    const int o = hand.add_object(hand.add_motion({pose_key(0, 0, 0, 0)}), v);
    scene.objects[o].polygons = t;
    scene.objects[o].polygon_count = int(t.size());
  }

  void run_build(int calls) {
    scene_reset_motions(scene);
    for (int i = 0; i < calls; ++i) {
      for (int m = 0; m < scene.motion_count; ++m) scene.motions[m].advanced = 0;
      evaluate_objects(scene);
      evaluate_camera(scene);
      precalc_record_frame(scene);
    }
  }

  PrecalcStatus read_back(int width, int height, Scene& out) {
    scene_construct(out);
    (void)scene_configure(out, 0, width, height, 1024, 2);
    out.path = scene.path;
    return precalc_read(out);
  }
};

TEST_F(PrecalcBuild, TenPolygonsTwoBytesPerFrameOneEntryPerStepThenReadBack) {
  add_object("1011000111");
  const int image = hand.add_object(0, std::vector<Vertex>(4));
  scene.objects[image].static_image = 1;  // drawn from its quad, takes no bits
  scene.objects[image].polygon_count = 2;
  scene.objects[image].polygons.resize(2);
  ASSERT_EQ(precalc_frame_bytes(scene), 2u);
  ASSERT_EQ(precalc_table_entries(scene), 4u);  // frames 2, 4, 6 and one spare

  run_build(5);  // the last two calls come after the last frame and record nothing
  EXPECT_EQ(scene.precalc.frames_recorded, 3);
  EXPECT_EQ(scene.precalc.precalc_open, 0);
  ASSERT_EQ(scene.precalc.precalc_outcome, 1);

  const std::vector<uint8_t> file = slurp(dir.path("hand.PRK"));
  ASSERT_GE(file.size(), 41u);
  EXPECT_EQ(std::memcmp(file.data(), "PRK3\0\x80\x02\0\0\xe0\x01\0\0\x02\0\0\0\x06\0\0\0", 21), 0);
  const std::vector<uint8_t> table(file.end() - 16, file.end());
  EXPECT_EQ(table, (std::vector<uint8_t>{12, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0}));

  Scene same;
  ASSERT_EQ(read_back(640, 480, same), PrecalcStatus::ok);
  EXPECT_EQ(same.precalc.visibility, (std::vector<uint8_t>{0xB1, 0xC0, 0xB1, 0xC0, 0xB1, 0xC0}));
  EXPECT_EQ(same.precalc.frame_table, (std::vector<uint32_t>{0, 2, 4}));
  EXPECT_EQ(same.precalc.precalc_file_step, 2);
  EXPECT_EQ(same.precalc.precalc_invalid, 0);

  Scene other;
  ASSERT_EQ(read_back(800, 600, other), PrecalcStatus::other_size);
  EXPECT_EQ(other.precalc.precalc_invalid, 1);
  EXPECT_EQ(other.precalc.precalc_resolution_differs, 1);
  EXPECT_TRUE(other.precalc.visibility.empty());
}

TEST_F(PrecalcBuild, EightPolygonsOneByteAndNoFileForAPathWithoutExtension) {
  add_object("10000001");
  run_build(3);
  ASSERT_EQ(scene.precalc.precalc_outcome, 1);
  Scene back;
  ASSERT_EQ(read_back(640, 480, back), PrecalcStatus::ok);
  EXPECT_EQ(back.precalc.visibility, (std::vector<uint8_t>{0x81, 0x81, 0x81}));

  HandScene bare{30, 6};
  bare.scene.flags = SceneFlags::BUILD_PRECALC;
  bare.scene.precalc.precalc_step = 2;
  bare.scene.precalc.build_precalc = 1;
  bare.scene.path = dir.path("noext");
  precalc_record_frame(bare.scene);
  EXPECT_EQ(bare.scene.precalc.frames_recorded, 0);
  EXPECT_EQ(bare.scene.precalc.precalc_outcome, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.path("noext.PRK")));
  ASSERT_FALSE(log_lines().empty());
  EXPECT_NE(log_lines().back().find("does not end in \".lws\""), std::string::npos);
}

TEST_F(PrecalcBuild, TableIsSizedFromLastFrameAndStepAndNeverOverflows) {
  add_object("1");
  scene.motions[0].last_frame = 7;  // 2, 4, 6, 7: four calls reach it
  EXPECT_EQ(precalc_table_entries(scene), 5u);
  scene.motions[0].frame_step = 0;  // a camera that never moves: the table bounds the build
  EXPECT_EQ(precalc_table_entries(scene), 7u);
  run_build(50);
  EXPECT_EQ(scene.precalc.frames_recorded, 7);
  EXPECT_EQ(scene.precalc.precalc_outcome, 1);
  scene.motions[0].last_frame = 1e30f;
  EXPECT_EQ(precalc_table_entries(scene), size_t(kMaxPrecalcField / 4));
}

TEST_F(PrecalcBuild, AFailedWriteLeavesTheOldFileAndIsReported) {
  add_object("1");
  const std::string name = dir.path("hand.PRK");
  ASSERT_TRUE(write_whole_file(name, "old", 3));
  // The file may grow no larger than 30 bytes: the write of the new one fails half-way.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 30;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  run_build(3);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(scene.precalc.precalc_outcome, 2);
  EXPECT_EQ(slurp(name), (std::vector<uint8_t>{'o', 'l', 'd'}));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.root)) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "temporary file left behind";
  EXPECT_NE(log_lines().back().find("not written"), std::string::npos);

  // Same folder, no limit: replaced whole.
  scene.precalc.build_precalc = 1;
  run_build(3);
  EXPECT_EQ(scene.precalc.precalc_outcome, 1);
  Scene back;
  EXPECT_EQ(read_back(640, 480, back), PrecalcStatus::ok);
}
