#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "effects/effects.h"
#include "image/image.h"
#include "object/mesh.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "scene/motion.h"
#include "scene/scene.h"
#include "support/object_fixtures.h"
#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"
#include "tools/image_writer.h"

using namespace orvl;
using namespace orvl::testing;
namespace fs = std::filesystem;

namespace {

constexpr double kShortMusic = 1.0;  // the full track takes seconds to synthesise

std::map<std::string, std::string> read_tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[fs::relative(e.path(), root).string()] =
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

// The show as the player loads it: from the output directory as working directory, with
// the scene names as the show spells them and the scale applied afterwards.
struct LoadedShow {
  std::vector<std::unique_ptr<Scene>> scenes;
  std::vector<SceneStatus> status;
};

LoadedShow load_show(const fs::path& dir) {
  ScopedCwd cwd(dir);
  LoadedShow show;
  for (int k = 0; k < kDemoSceneCount; ++k) {
    auto s = std::make_unique<Scene>();
    scene_construct(*s);
    EXPECT_EQ(scene_configure(*s, 0x10, 640, 480, 1024, 1), 0);
    scene_set_lightwave_root(*s, "/nonexistent/");
    std::string name = kDemoSlots[k].file;
    for (char& c : name)
      if (c == '/') c = '\\';
    show.status.push_back(scene_load(*s, name));
    if (kDemoSlots[k].scaled) scene_scale(*s, 50.0f);
    show.scenes.push_back(std::move(s));
  }
  return show;
}

class DemoShow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    log_set_echo(false);
    dir_ = new TempDir("demo");
    DemoSummary summary;
    std::string error;
    ok_ = make_demo_show(dir_->root.string(), DemoOptions{kShortMusic}, summary, error);
    error_ = error;
    summary_ = summary;
    show_ = new LoadedShow(load_show(dir_->root));
  }
  static void TearDownTestSuite() {
    for (auto& s : show_->scenes) scene_destroy(*s);
    delete show_;
    delete dir_;
    log_set_echo(true);
  }
  static TempDir* dir_;
  static LoadedShow* show_;
  static bool ok_;
  static std::string error_;
  static DemoSummary summary_;
};
TempDir* DemoShow::dir_ = nullptr;
LoadedShow* DemoShow::show_ = nullptr;
bool DemoShow::ok_ = false;
std::string DemoShow::error_;
DemoSummary DemoShow::summary_;

TEST_F(DemoShow, EveryFileIsWrittenAndEverySceneLoads) {
  ASSERT_TRUE(ok_) << error_;
  EXPECT_EQ(summary_.scenes, kDemoSceneCount);
  EXPECT_GT(summary_.music_bytes, 1000);
  EXPECT_TRUE(fs::exists(dir_->path("music/vexmarine.mp3")));
  for (int k = 0; k < kDemoSceneCount; ++k) {
    SCOPED_TRACE(kDemoSlots[k].file);
    const Scene& s = *show_->scenes[k];
    EXPECT_EQ(show_->status[k], SceneStatus::ok) << s.error_path;
    EXPECT_EQ(s.loaded, 1);
    EXPECT_GT(s.polygon_total, 0);
    EXPECT_LE(s.polygon_total, 15000);  // software GL draws about half a million a second
    EXPECT_LE(s.light_count, 8);        // only eight GL lights exist
    for (int i = 0; i < s.object_count; ++i) {
      const SceneObject& o = s.objects[i];
      if (o.loaded_path.empty()) continue;
      // Opened through the prefix rule: the name carries 13 characters that were dropped.
      EXPECT_EQ(o.file_name.rfind(kDemoPathPrefix, 0), 0u) << o.file_name;
      EXPECT_EQ(std::string(kDemoPathPrefix).size(), 13u);
      std::string opened = o.loaded_path;
      std::replace(opened.begin(), opened.end(), '\\', '/');
      EXPECT_TRUE(fs::exists(dir_->root / opened)) << o.loaded_path;
    }
  }
}

// A scene restarts from its first frame once its camera reaches the last frame, so each
// scene must run at least as long as its slot of the show.
TEST_F(DemoShow, EachSceneLastsItsWholeSlot) {
  for (int k = 0; k < kDemoSceneCount; ++k) {
    SCOPED_TRACE(kDemoSlots[k].file);
    const Scene& s = *show_->scenes[k];
    const Motion& camera = s.motions[0];
    ASSERT_GT(camera.frames_per_second, 0);
    const double seconds = camera.last_frame / (camera.frame_step * camera.frames_per_second);
    EXPECT_GE(seconds, kDemoSlots[k].end_seconds - kDemoSlots[k].start_seconds);
    // Slots follow one another without gaps and end with the music.
    if (k > 0) {
      EXPECT_DOUBLE_EQ(kDemoSlots[k].start_seconds, kDemoSlots[k - 1].end_seconds);
    }
  }
  EXPECT_DOUBLE_EQ(kDemoSlots[kDemoSceneCount - 1].end_seconds, kDemoShowSeconds);
}

int parent_depth(const Scene& s, int i) {
  int depth = 0;
  for (int p = s.objects[i].parent; p >= 0 && depth <= s.object_count; p = s.objects[p].parent) ++depth;
  return depth;
}

TEST_F(DemoShow, TogetherTheScenesUseEveryFeature) {
  std::set<int> light_types;
  int deepest = 0, nulls = 0, null_parents = 0, morphs = 0, dissolves = 0, zooms = 0;
  int metaform = 0, plots = 0, pivots = 0, camera_parents = 0, tcb = 0, linear = 0;
  uint32_t triangle_flags = 0;
  int wide_lines = 0;
  for (const auto& sp : show_->scenes) {
    const Scene& s = *sp;
    for (int l = 0; l < s.light_count; ++l) light_types.insert(s.lights[l].type);
    if (s.zoom_envelope >= 0) ++zooms;
    if (s.camera_parent >= 0) ++camera_parents;
    for (int k = 0; k < s.next_key; ++k) {
      const MotionKey& key = s.keys[k];
      if (key.tension != 0 || key.continuity != 0 || key.bias != 0) ++tcb;
      if (key.linear) ++linear;
    }
    for (int i = 0; i < s.object_count; ++i) {
      const SceneObject& o = s.objects[i];
      deepest = std::max(deepest, parent_depth(s, i));
      if (o.loaded_path.empty() && o.polygon_count == 0) ++nulls;
      if (o.parent >= 0 && s.objects[o.parent].loaded_path.empty()) ++null_parents;
      if (o.pivot[0] != 0 || o.pivot[1] != 0 || o.pivot[2] != 0) ++pivots;
      if (o.dissolve_envelope >= 0) ++dissolves;
      if (o.metaform) ++metaform;
      if (o.plots) ++plots;
      if (o.morph_target >= 0) {
        ++morphs;
        const SceneObject& target = s.objects[o.morph_target];
        EXPECT_EQ(target.is_morph_target, 1);
        EXPECT_EQ(target.vertex_count, o.vertex_count);  // morphing pairs vertices by number
        EXPECT_GE(o.morph_envelope, 0);
      }
      for (int t = 0; t < o.polygon_count; ++t) {
        triangle_flags |= o.polygons[t].flags;
        if ((o.polygons[t].flags & TriangleFlags::WIREFRAME) && o.polygons[t].surface &&
            o.polygons[t].surface->line_width == 2)
          ++wide_lines;
      }
    }
  }
  EXPECT_EQ(light_types, (std::set<int>{1, 2, 4}));  // point, spot, distant
  EXPECT_GE(deepest, 2);
  EXPECT_GT(nulls, 0);
  EXPECT_GT(null_parents, 0);
  EXPECT_GT(pivots, 0);
  EXPECT_GT(camera_parents, 0);
  EXPECT_GT(morphs, 0);
  EXPECT_GT(dissolves, 0);
  EXPECT_GT(zooms, 0);
  EXPECT_GT(metaform, 0);
  EXPECT_GT(plots, 0);
  EXPECT_GT(tcb, 0);
  EXPECT_GT(linear, 0);
  EXPECT_GT(wide_lines, 0);
  for (uint32_t bit : {TriangleFlags::FLAT_LIT, TriangleFlags::SMOOTH_LIT, TriangleFlags::DOUBLE_SIDED,
                       TriangleFlags::ADDITIVE, TriangleFlags::WIREFRAME})
    EXPECT_TRUE(triangle_flags & bit) << "flag " << bit;
}

// Every picture in images/ decodes through the player's own image library, and together
// they cover the four formats (BMP, Targa, ILBM, JPEG).
TEST_F(DemoShow, EveryPictureDecodes) {
  ASSERT_TRUE(ok_) << error_;
  std::set<ImgFileType> types;
  int count = 0;
  for (const auto& e : fs::directory_iterator(dir_->path("images"))) {
    SCOPED_TRACE(e.path().string());
    Img img;
    img.init();
    ASSERT_EQ(img.load(e.path().string()), ImgError::ok);
    ImgDecoder decoder;
    decoder.bind(&img);
    ASSERT_EQ(decoder.decode(), ImgError::ok);
    EXPECT_GE(img.width, 16u);
    EXPECT_GE(img.height, 16u);
    // Not a blank picture.
    std::set<uint32_t> colours(img.pixels.begin(), img.pixels.end());
    EXPECT_GE(colours.size(), 2u);
    types.insert(img.type);
    img.release();
    ++count;
  }
  EXPECT_EQ(count, summary_.images);
  EXPECT_EQ(types, (std::set<ImgFileType>{ImgFileType::bmp, ImgFileType::tga, ImgFileType::iff,
                                          ImgFileType::jpeg}));
}

// The textured surfaces: each projection axis, colour and reflection images alone and
// together, images shared between objects, scroll codes, filter keywords, a static image
// kept at its size and a particle surface's twelve tinted copies.
TEST_F(DemoShow, TexturesUseEveryMapping) {
  std::set<int> axes;
  int reflection_only = 0, both = 0, static_images = 0, particle_surfaces = 0, shared = 0;
  int loaded = 0;
  uint32_t scroll = 0;
  std::set<std::string> keywords;
  for (const auto& sp : show_->scenes) {
    const Scene& s = *sp;
    std::map<std::string, int16_t> reflection_numbers;
    for (int i = 0; i < s.object_count; ++i) {
      const SceneObject& o = s.objects[i];
      for (const Surface& f : o.surfaces) {
        SCOPED_TRACE(f.name);
        if (f.texture == -1 && f.reflection_texture == -1) continue;
        // Whatever was loaded is waiting for the upload, square and a power of two (a
        // surface that shares an earlier object's image loads nothing).
        EXPECT_EQ(f.texture_width, f.texture_height);
        EXPECT_EQ(f.texture_width & (f.texture_width - 1), 0);
        if (f.texture_width > 0) ++loaded;
        if (f.texture != -1) axes.insert(f.axis);
        if (f.texture == -1) ++reflection_only;
        if (f.texture != -1 && f.reflection_texture != -1) ++both;
        scroll |= f.scroll_flags;
        for (const char* k : {"__NO_BILINEAR__", "__BILINEAR__", "__NO_MIPMAPPING__", "__MIPMAPPING__"})
          if (f.name.find(k) != std::string::npos) keywords.insert(k);
        if (f.reflection_texture != -1) {
          auto [it, fresh] = reflection_numbers.emplace(f.reflection_path, f.reflection_texture);
          if (!fresh) {
            EXPECT_EQ(it->second, f.reflection_texture);  // loaded once per scene
            ++shared;
          }
        }
        if (f.name.find("__PARTICLES_") != std::string::npos) {
          ++particle_surfaces;
          for (const PixelBuffer& copy : f.particle_pixels)
            EXPECT_EQ(copy.size(), size_t(f.texture_width) * f.texture_height);
          EXPECT_LE(f.texture + 11, s.image_count);  // twelve consecutive numbers
          for (int t = 0; t < o.polygon_count; ++t)
            EXPECT_EQ(o.polygons[t].texture, s.texture_base + f.texture - 1);
        }
        if (f.name.find("__STATIC_IMAGE__") != std::string::npos) {
          ++static_images;
          EXPECT_EQ(o.static_image, f.texture);
          const bool title = f.name.rfind("Title", 0) == 0;  // the other one is a video
          EXPECT_EQ(f.image_width, title ? 200 : 128);  // kept at its size, not squared
          EXPECT_EQ(f.image_height, title ? 112 : 96);
          EXPECT_EQ(f.texture_width, title ? 256 : 128);
          EXPECT_EQ(o.polygon_count, 2);
          EXPECT_EQ(o.vertex_count, 4);
          EXPECT_GE(o.dissolve_envelope, 0);  // fades out: while opaque it hides the scene
        }
      }
      for (int t = 0; t < o.polygon_count; ++t) {
        const Triangle& tri = o.polygons[t];
        if (tri.surface && tri.surface->texture != -1 && tri.surface->name.find("__STATIC") == std::string::npos) {
          // Planar coordinates stay within the surface's box.
          for (float uv : tri.uv) {
            EXPECT_GE(uv, -1e-4f);
            EXPECT_LE(uv, 1.0001f);
          }
          EXPECT_TRUE(tri.flags & TriangleFlags::TEXTURED);
        }
      }
    }
  }
  EXPECT_GT(loaded, 10);
  EXPECT_EQ(axes, (std::set<int>{0, 1, 2}));
  EXPECT_GT(reflection_only, 0);
  EXPECT_GT(both, 0);
  EXPECT_GT(shared, 0);
  EXPECT_EQ(static_images, 2);
  EXPECT_EQ(particle_surfaces, 3);
  EXPECT_TRUE(scroll & 0xC) << "sideways scrolling";
  EXPECT_EQ(keywords.size(), 4u);
}

// Plays every scene on the virtual clock and checks, once a second of its slot, that some
// mesh lies inside the view (in front of the near plane and within the frustum): a camera
// that looks away or flies off shows up here as an empty second.
TEST_F(DemoShow, SomethingIsInViewEverySecond) {
  for (int k = 0; k < kDemoSceneCount; ++k) {
    SCOPED_TRACE(kDemoSlots[k].file);
    Scene& s = *show_->scenes[k];
    scene_reset_motions(s);
    const uint32_t start = 100000;
    const int seconds = static_cast<int>(kDemoSlots[k].end_seconds - kDemoSlots[k].start_seconds);
    for (int t = 0; t <= seconds; ++t) {
      clock_set_virtual(start + static_cast<uint32_t>(t * 1000 + (t == 0 ? 0 : -100)));
      evaluate_objects(s);
      evaluate_camera(s);
      int in_view = 0;
      for (int i = 0; i < s.object_count; ++i) {
        SceneObject& o = s.objects[i];
        if (o.polygon_count == 0 || o.is_morph_target || o.plots) continue;
        s.object_index = i;
        transform_object(s);
        for (int v = 0; v < o.vertex_count; ++v) {
          const Vertex& p = o.transformed[v];
          const float depth = -p.z;
          if (depth > 1.0f && std::fabs(p.x) < 0.667f * depth && std::fabs(p.y) < 0.5f * depth) ++in_view;
        }
      }
      EXPECT_GT(in_view, 20) << "second " << t;
    }
  }
  clock_use_real();
}

// Closed shapes are wound so that their front faces point outwards: the lighting normals
// of the morphing ball (modelled round the origin) point away from its centre, and the
// ball's front faces are the ones a camera outside sees.
TEST_F(DemoShow, ClosedShapesFaceOutwards) {
  const Scene& s = *show_->scenes[2];
  const SceneObject* ball = nullptr;
  for (int i = 0; i < s.object_count; ++i)
    if (s.objects[i].file_name.find("ball") != std::string::npos) ball = &s.objects[i];
  ASSERT_NE(ball, nullptr);
  ASSERT_GT(ball->vertex_count, 100);
  int outward = 0;
  for (int v = 0; v < ball->vertex_count; ++v) {
    const Vertex& p = ball->vertices[v];
    if (p.x * p.nx + p.y * p.ny + p.z * p.nz > 0) ++outward;
  }
  EXPECT_EQ(outward, ball->vertex_count);
}

// Every 2D effect and particles with and without their two flags are in the show; the
// falling sparks stay on screen in their first frames yet visibly sink within a second.
TEST_F(DemoShow, EveryEffectIsInTheShowAndFallingSparksSinkInView) {
  std::set<EffectKind> kinds;
  std::set<bool> video_flips;
  std::set<std::pair<int, int>> particle_flags;  // {fall, downsize}
  for (const auto& sp : show_->scenes) {
    Scene& s = *sp;
    particles_setup_scene(s);
    for (int i = 0; i < s.object_count; ++i) {
      const SceneObject& o = s.objects[i];
      if (o.emitter && o.emitter->count > 0) particle_flags.insert({o.emitter->fall, o.emitter->downsize});
      for (const Surface& surf : o.surfaces) {
        if (surf.effect_pixels.empty()) continue;
        const EffectName n = parse_effect_name(surf.name);
        kinds.insert(n.kind);
        if (n.kind == EffectKind::video) {
          video_flips.insert(n.flip);
          EXPECT_EQ(n.frame_count, 8);
        }
      }
    }
  }
  EXPECT_EQ(kinds, (std::set<EffectKind>{EffectKind::star_field, EffectKind::sinus_dots, EffectKind::plasma,
                                         EffectKind::video}));
  EXPECT_EQ(video_flips, (std::set<bool>{false, true}));
  EXPECT_EQ(particle_flags, (std::set<std::pair<int, int>>{{1, 0}, {0, 1}, {0, 0}}));

  Scene& s = *show_->scenes[2];
  int emitter = -1;
  for (int i = 0; i < s.object_count; ++i)
    if (s.objects[i].emitter && s.objects[i].emitter->fall) emitter = i;
  ASSERT_GE(emitter, 0);
  SceneObject& o = s.objects[emitter];
  scene_reset_motions(s);
  effect_random_seed(1);
  double deepest_drop_px = 0;
  for (int frame = 0; frame < 30; ++frame) {
    clock_set_virtual(200000 + static_cast<uint32_t>(std::lround(frame * 1000.0 / 30)));
    evaluate_objects(s);
    evaluate_camera(s);
    s.object_index = emitter;
    transform_object(s);
    particles_step(*o.emitter, o.polygons[0], o.transformed.data(), o.transformed.size(), nullptr, nullptr);
    const float* e = o.emitter->corners;
    for (int i = 0; i < o.emitter->count; ++i) {
      const Particle& p = particle_pool()[i];
      if (p.life < 0) continue;
      const float depth = -p.corners[0].z;
      ASSERT_GT(depth, 1.0f);
      // Half the screen height is 0.5 x depth in camera space, 240 pixels.
      deepest_drop_px = std::max(deepest_drop_px, (e[1] - p.corners[0].y) / (0.5 * depth) * 240);
      if (frame < 5) {
        for (const Vertex& c : p.corners) {
          EXPECT_TRUE(std::fabs(c.x) < 0.667f * depth && std::fabs(c.y) < 0.5f * depth) << "frame " << frame;
        }
      }
    }
  }
  clock_use_real();
  EXPECT_GT(deepest_drop_px, 30.0);
  EXPECT_LT(deepest_drop_px, 240.0);
}

// The picture writers refuse a picture whose pixels do not match its size instead of
// reading past them, and the files they do write read back pixel for pixel.
TEST(DemoPictures, WritersCheckTheirInputAndRoundTrip) {
  RgbPicture bad;
  bad.width = 4;
  bad.height = 4;
  bad.pixels.resize(15);
  EXPECT_TRUE(bmp24_bytes(bad).empty());
  EXPECT_TRUE(ilbm24_bytes(bad, true).empty());
  TempDir dir("demo_pictures");
  EXPECT_FALSE(write_tga_picture(bad, dir.path("bad.tga")));
  EXPECT_FALSE(write_file_bytes(dir.path("bad.bmp"), bmp24_bytes(bad)));

  RgbPicture pic;
  pic.width = 5;  // odd: BMP rows are padded, ILBM rows are whole words
  pic.height = 3;
  for (uint32_t i = 0; i < 15; ++i) pic.pixels.push_back(i * 0x0A1B2Cu & 0xFFFFFF);
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"p.bmp", bmp24_bytes(pic)}, {"p.iff", ilbm24_bytes(pic, true)}, {"q.iff", ilbm24_bytes(pic, false)}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = dir.path(name);
    ASSERT_TRUE(write_file_bytes(path, bytes));
    Img img;
    img.init();
    ASSERT_EQ(img.load(path), ImgError::ok);
    ImgDecoder decoder;
    decoder.bind(&img);
    ASSERT_EQ(decoder.decode(), ImgError::ok);
    ASSERT_EQ(img.width, 5u);
    ASSERT_EQ(img.height, 3u);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 5; ++x)
        EXPECT_EQ(img.pixels[y * img.pitch + x] & 0xFFFFFF, pic.pixels[y * 5 + x]) << x << "," << y;
    img.release();
  }
}

TEST(DemoGenerator, SameBytesOnEveryRun) {
  log_set_echo(false);
  TempDir a("demo_a"), b("demo_b");
  DemoSummary sa, sb;
  std::string error;
  ASSERT_TRUE(make_demo_show(a.root.string(), DemoOptions{kShortMusic}, sa, error)) << error;
  ASSERT_TRUE(make_demo_show(b.root.string(), DemoOptions{kShortMusic}, sb, error)) << error;
  auto fa = read_tree(a.root), fb = read_tree(b.root);
  EXPECT_EQ(fa.size(), static_cast<size_t>(1 + kDemoSceneCount + sa.objects + sa.images));
  ASSERT_EQ(fa.size(), fb.size());
  for (const auto& [name, bytes] : fa) {
    ASSERT_TRUE(fb.count(name)) << name;
    EXPECT_TRUE(bytes == fb[name]) << name << " differs between runs";
  }
  log_set_echo(true);
}

TEST(DemoGenerator, UnwritableOutputIsReportedWithItsPath) {
  TempDir dir("demo_bad");
  const std::string blocker = dir.touch("file_in_the_way");
  DemoSummary summary;
  std::string error;
  EXPECT_FALSE(make_demo_show(blocker, DemoOptions{0}, summary, error));
  EXPECT_NE(error.find("file_in_the_way"), std::string::npos) << error;

  // A scene directory that is a file: the scene write fails and names the scene.
  const std::string root = dir.path("out");
  fs::create_directories(root + "/objects");
  fs::create_directories(root + "/music");
  fs::create_directories(root + "/scene/1vex.lws");  // a directory where a file must go
  EXPECT_FALSE(make_demo_show(root, DemoOptions{0}, summary, error));
  EXPECT_NE(error.find("1vex.lws"), std::string::npos) << error;
}

}  // namespace

// The optional ninth scene: LightWave 6 formats written by our own writers, loaded and
// played through the same record, with its picture found beside the object.
TEST(DemoGenerator, LightWave6SceneLoadsAndMoves) {
  log_set_echo(false);
  TempDir dir("demo_lw6");
  DemoOptions options{0};
  options.lightwave6 = true;
  DemoSummary summary;
  std::string error;
  ASSERT_TRUE(make_demo_show(dir.root.string(), options, summary, error)) << error;
  EXPECT_EQ(summary.scenes, kDemoSceneCount + 1);
  Scene s;
  scene_construct(s);
  (void)scene_configure(s, 0, 320, 240, 1024, 0);
  ASSERT_EQ(scene_load(s, dir.path(kDemoLightWave6Scene)), SceneStatus::ok) << s.error_path;
  EXPECT_EQ(s.envelopes.format_version, 3);
  ASSERT_EQ(s.object_count, 4);
  EXPECT_EQ(s.objects[1].parent, 0);
  EXPECT_EQ(s.image_count, 1);
  EXPECT_NE(s.objects[1].polygons[0].texture, -1);
  // The cube circles: its position changes between two moments a second apart.
  scene_reset_motions(s);
  clock_set_virtual(1000);
  evaluate_objects(s);
  const float x0 = s.objects[3].position[0];
  clock_advance_virtual(1000);
  evaluate_objects(s);
  EXPECT_GT(std::fabs(s.objects[3].position[0] - x0), 0.5f);
  clock_use_real();
  scene_destroy(s);
  log_set_echo(true);
}
