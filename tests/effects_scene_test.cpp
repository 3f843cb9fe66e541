// Effects inside loaded scenes: which surfaces prepare what, how the renderer steps them,
// and what a particle frame sends to OpenGL (recorder backend).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

#include "effects/effects.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "support/object_fixtures.h"
#include "tools/image_writer.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;

namespace {

// Pixel i holds rgb + i: no two neighbours alike.
RgbPicture ramp_picture(uint32_t w, uint32_t h, uint32_t rgb) {
  RgbPicture p;
  p.width = w;
  p.height = h;
  for (uint32_t i = 0; i < w * h; ++i) p.pixels.push_back((rgb + i) & 0xFFFFFF);
  return p;
}

struct EffectScene : ::testing::Test {
  TempDir dir{"effects_scene"};
  Scene scene;
  LwsScene lws;
  GlBackendScope recorder{GlBackend::recorder};

  void SetUp() override {
    log_set_echo(false);
    log_clear();
    gl_recorder().reset();
    clock_set_virtual(10000);
    effects_install_hooks();
    effect_random_seed(1);
    plasma_free();
    video_free();
    star_field_init(0, 0);
    sinus_dots_init(0, 0);
  }
  void TearDown() override {
    scene_destroy(scene);
    plasma_free();
    video_free();
    clock_use_real();
  }

  void image(const std::string& rel, uint32_t w, uint32_t h, uint32_t rgb = 0x204060) {
    std::filesystem::create_directories(dir.root / "images");
    ASSERT_TRUE(write_tga_picture(ramp_picture(w, h, rgb), dir.path(rel)));
  }

  // A quad facing the camera at depth 5 whose surface shows `texture` (and, for a plasma,
  // names `source` in its reflection block).
  void quad(const std::string& file, const std::string& surface, const std::string& texture = "",
            const std::string& source = "") {
    LwobWriter w;
    w.add_point(0, 0, 5);
    w.add_point(0, 1, 5);
    w.add_point(1, 1, 5);
    w.add_point(1, 0, 5);
    w.add_polygon({0, 1, 2, 3}, 1);
    LwobSurface& s = w.add_surface(surface);
    if (!texture.empty()) s.ctex().timg(kPrefix + texture);
    if (!source.empty()) s.rtex().timg(kPrefix + source);
    ASSERT_TRUE(w.write(dir.path(file)));
    LwsObject o;
    o.load_path = kPrefix + file;
    lws.objects.push_back(o);
  }

  void load() {
    ASSERT_TRUE(write_lws_file(dir.path("scene.lws"), lws));
    scene_construct(scene);
    ASSERT_EQ(scene_configure(scene, SceneFlags::DEPTH_BUFFER, 640, 480, 1024, 1), 0);
    scene_set_lightwave_root(scene, dir.root.string() + "/");
    ASSERT_EQ(scene_load(scene, dir.path("scene.lws")), SceneStatus::ok);
    scene_reset_motions(scene);
    particles_setup_scene(scene);
    effects_init(scene);
  }

  Surface& surface_of(int object) { return scene.objects[object].surfaces[0]; }
};

}  // namespace

TEST_F(EffectScene, NamesArePreparedInOneOrderAndSteppedInAnother) {
  image("images/clip05.tga", 16, 16);
  image("images/clip0.tga", 8, 4, 0x0000FF);
  image("images/clip1.tga", 8, 4, 0x00FF00);
  image("images/plasma.tga", 64, 2);
  image("images/tiny.tga", 4, 4);
  // Prepared as a star field, stepped as a video.
  quad("both.lwo", "__2DEFFECT__STARFIELD__VIDEO_2_", "images/clip05.tga");
  // A plasma keyword without an effect buffer prepares nothing.
  quad("plain.lwo", "Hull_PLASMA_", "images/plasma.tga");
  // Two plasmas share one state; the second's source is too small and replaces the first.
  quad("plasma1.lwo", "__2DEFFECT_PLASMA__", "images/clip05.tga", "images/plasma.tga");
  quad("plasma2.lwo", "__2DEFFECT_PLASMA__B", "images/clip05.tga", "images/tiny.tga");
  // The video count text is cut at 15 characters (a count of 1, frame 0 only).
  quad("video.lwo", "__2DEFFECT__VIDEO_00000000000000012_", "images/clip05.tga");
  load();

  EXPECT_EQ(star_field_state().width, 16);
  EXPECT_EQ(video_state().frame_count, 1);  // the last video surface defined the state
  EXPECT_FALSE(plasma_ready());
  const auto& lines = log_lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Plasma __2DEFFECT_PLASMA__B", 0) == 0; }),
            1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("cut") != std::string::npos; }),
            1);

  // The star-field-and-video surface is handed the video frame (8 x 4 into its corner);
  // the stars do not move.
  const Star before = star_field_state().stars[0];
  const std::vector<uint32_t> plasma_before = surface_of(2).effect_pixels;
  gl_recorder().clear_calls();
  scene_render_frame(scene, 192);
  EXPECT_EQ(star_field_state().stars[0].z, before.z);
  const auto subs = gl_recorder().of(GlFunc::TexSubImage2D);
  ASSERT_EQ(subs.size(), 4u);  // the two videos' frames and the two plasma buffers
  EXPECT_EQ(subs[0]->arg(4), 8);
  EXPECT_EQ(subs[0]->arg(5), 4);
  EXPECT_EQ(subs[1]->arg(4), 16);
  EXPECT_EQ(surface_of(2).effect_pixels, plasma_before);  // plasma with a short source stands still

  // The show releases every scene's effects at the end.
  effects_free(scene);
  EXPECT_TRUE(video_state().frames.empty());
  EXPECT_TRUE(plasma_state().source.empty());
}

TEST_F(EffectScene, TwoPlasmaSurfacesAdvanceTheSharedPhasesTwicePerFrame) {
  image("images/tex.tga", 32, 32);
  image("images/plasma.tga", 128, 2);
  quad("a.lwo", "__2DEFFECT_PLASMA__", "images/tex.tga", "images/plasma.tga");
  quad("b.lwo", "__2DEFFECT_PLASMA__B", "images/tex.tga", "images/plasma.tga");
  load();
  ASSERT_TRUE(plasma_ready());
  scene_render_frame(scene, 192);
  EXPECT_FLOAT_EQ(plasma_state().phase_sin, 0.109f + 0.109f);
  EXPECT_NE(surface_of(0).effect_pixels, surface_of(1).effect_pixels);  // second saw later phases
}

TEST_F(EffectScene, ParticleFrameQueuesTwoTrianglesPerLivingParticleWithOneKeyAndBlendStateFour) {
  quad("sparks.lwo", "Sparks__PARTICLES_6__");
  load();
  ASSERT_TRUE(scene.objects[0].emitter);
  EXPECT_EQ(scene.objects[0].emitter->count, 6);
  EXPECT_EQ(surface_of(0).name, "Sparks__PARTICLES_6");
  gl_recorder().clear_calls();
  scene_render_frame(scene, 192);

  // Every particle is born in the first frame: 12 triangles, all keyed by the emitter depth.
  ASSERT_EQ(frame_state().draw_count, 12);
  std::set<int32_t> keys;
  for (int i = 0; i < 12; ++i) {
    const DrawEntry& e = scene.draw.draw_list[i];
    EXPECT_TRUE(e.triangle->flags & TriangleFlags::PARTICLE);
    keys.insert(depth_key(e.vertex0->z, e.vertex0->z, e.vertex0->z));
  }
  EXPECT_EQ(keys.size(), 1u);
  const auto texts = gl_recorder().texts();
  auto has = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
  EXPECT_TRUE(has("glBlendFunc(GL_SRC_COLOR, GL_DST_ALPHA)"));
  const auto off = std::find(texts.begin(), texts.end(), "glDisable(GL_DEPTH_TEST)");
  ASSERT_NE(off, texts.end());
  EXPECT_EQ(std::find(off, texts.end(), "glEnable(GL_DEPTH_TEST)"), texts.end());
  const auto first_vertex = std::find_if(texts.begin(), texts.end(),
                                         [](const std::string& t) { return t.rfind("glVertex3f", 0) == 0; });
  EXPECT_LT(off, first_vertex);
  // The triangles are drawn with their particle's alpha.
  std::multiset<int> alphas, drawn;
  for (int i = 0; i < 6; ++i) alphas.insert(particle_pool()[i].alpha), alphas.insert(particle_pool()[i].alpha);
  for (const GlCall* c : gl_recorder().of(GlFunc::Color4ub)) drawn.insert(int(c->arg(3)));
  EXPECT_TRUE(std::includes(drawn.begin(), drawn.end(), alphas.begin(), alphas.end()));
}

TEST_F(EffectScene, ParticlesCommandRunsOneEmitterOnTheVirtualClock) {
  quad("sparks.lwo", "Sparks_FALL__PARTICLES_4__");
  ASSERT_TRUE(write_lws_file(dir.path("scene.lws"), lws));
  const std::string out = dir.path("out.json");
  const std::string cmd = std::string(ORVL_BINARY) + " particles " + dir.path("scene.lws") + " --object 0 --frames 3 --json --root " +
                          dir.root.string() + "/ >" + out + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(out);
  const nlohmann::json j = nlohmann::json::parse(in);
  EXPECT_EQ(j["count"], 4);
  EXPECT_EQ(j["fall"], 1);
  EXPECT_EQ(j["downsize"], 0);
  const float z0 = j["corners"][0][2];
  EXPECT_EQ(j["key"], int(z0 * 256));
  ASSERT_EQ(j["particles"].size(), 4u);
  for (const auto& p : j["particles"]) {
    if (float(p["life"]) < 0) continue;
    EXPECT_GT(float(p["fall_speed"]), 0.0f);
    EXPECT_EQ(int(p["alpha"]), int(float(p["life"])));
    EXPECT_EQ(float(p["corners"][0][2]), z0);
    EXPECT_LE(float(p["corners"][0][1]), float(j["corners"][0][1]));  // never above where it was born
  }
  // Not an emitter, and no such object: refused.
  quad("plain.lwo", "Plain");
  ASSERT_TRUE(write_lws_file(dir.path("scene.lws"), lws));
  const std::string base = std::string(ORVL_BINARY) + " particles " + dir.path("scene.lws") + " --root " +
                           dir.root.string() + "/ >/dev/null 2>&1 --object ";
  EXPECT_EQ(WEXITSTATUS(std::system((base + "1").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((base + "9").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((base + "x").c_str())), 2);
}
