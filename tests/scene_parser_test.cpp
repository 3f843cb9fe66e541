#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "object/object_loader.h"
#include "platform/log.h"
#include "scene/scene.h"
#include "support/shared_data.h"
#include "tools/lws_writer.h"

using namespace orvl;

namespace {

const std::string kLightwave = orvl::test::shared_testdata("lightwave/");

std::unique_ptr<Scene> fresh_scene() {
  auto scene = std::make_unique<Scene>();
  scene_construct(*scene);
  (void)scene_configure(*scene, 0, 640, 480, 1024, 0);
  return scene;
}

SceneStatus load_text(Scene& scene, const std::string& text, const std::string& path = "test.lws") {
  log_set_echo(false);
  // An exactly-sized heap copy, so a read past the text is a sanitizer error.
  std::vector<uint8_t> bytes(text.begin(), text.end());
  return scene_load_text(scene, path, bytes.data(), bytes.size());
}

LwsKey key(int frame, std::array<float, 9> v = {0, 0, 0, 0, 0, 0, 1, 1, 1}) {
  LwsKey k;
  k.frame = frame;
  k.value = v;
  return k;
}

LwsObject null_object(std::vector<LwsKey> motion = {key(0)}) {
  LwsObject o;
  o.motion = std::move(motion);
  return o;
}

LwsEnvelope envelope(std::vector<float> values, int first_frame = 0, int step = 10) {
  LwsEnvelope env;
  for (size_t i = 0; i < values.size(); ++i)
    env.keys.push_back({values[i], first_frame + static_cast<int>(i) * step, 0, 0, 0, 0});
  return env;
}

bool log_mentions(const std::string& text) {
  for (const std::string& line : log_lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// A scene that exercises every item the parser reads.
LwsScene full_scene() {
  LwsScene sc;
  sc.first_frame = 0;
  sc.last_frame = 60;
  LwsObject a = null_object({key(0, {1, 2, 3, 10, 20, 30, 1, 1, 1}), key(30, {4, 5, 6, 0, 0, 0, 2, 2, 2})});
  a.pivot = std::array<float, 3>{1.5f, -2, 0};
  a.dissolve = envelope({0.0f, 0.25f, 1.5f, -1.0f});
  a.dissolve->end_behavior = 2;
  LwsObject b = null_object({key(0), key(60)});
  b.parent = 1;
  b.metamorph = envelope({-0.5f, 0.5f, 2.0f});
  b.morph_target = 3;  // an object that comes later
  LwsObject c = null_object();
  sc.objects = {a, b, c};
  LwsLight l1;
  l1.color = {255, 128, 0};
  l1.intensity = 0.7f;
  l1.type = 2;
  l1.motion = {key(0, {1, 2, 3, 10, 20, 30, 1, 1, 1})};
  LwsLight l2;
  l2.type = 1;
  sc.lights = {l1, l2};
  sc.camera.motion = {key(0, {0, 0, -10, 10, 20, 30, 1, 1, 1}), key(60)};
  sc.camera.parent = 2;
  sc.camera.zoom_envelope = envelope({3.2f, 6.4f}, 0, 60);
  sc.backdrop_color = {255, 0, 51};
  sc.view_zoom_factor = 0.095f;
  return sc;
}

}  // namespace

TEST(SceneParser, TimingComesFromPreviewRangeOrRenderRange) {
  LwsScene sc;
  sc.objects = {null_object()};
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::ok);
  const Motion& h0 = scene->motions[0];
  EXPECT_EQ(h0.first_frame, 0);
  EXPECT_EQ(h0.last_frame, 60);
  EXPECT_EQ(h0.frame_step, 1);
  EXPECT_EQ(h0.frames_per_second, 30);

  sc.first_frame = 1;
  sc.preview_range = true;
  sc.preview_first = 5;
  sc.preview_last = 50;
  sc.preview_step = 2;
  sc.frames_per_second = 25;
  scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::ok);
  EXPECT_EQ(scene->motions[0].first_frame, 5);
  EXPECT_EQ(scene->motions[0].last_frame, 50);
  EXPECT_EQ(scene->motions[0].frame_step, 2);
  EXPECT_EQ(scene->motions[0].frames_per_second, 25);
  EXPECT_TRUE(scene->parse.text.empty());  // the text is released after parsing
  EXPECT_EQ(scene->draw.draw_list.size(), 3u * 4096);
  EXPECT_EQ(scene->draw.sort_histogram.size(), 257u);

  // Older scenes have no "FramesPerSecond": it reads as 0 and the objects still load.
  std::string text = write_lws(sc);
  text.erase(text.find("FramesPerSecond"), 20);
  scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, text), SceneStatus::ok);
  EXPECT_EQ(scene->motions[0].frames_per_second, 0);
  EXPECT_EQ(scene->motions[0].last_frame, 50);
  EXPECT_EQ(scene->object_count, 1);
}

TEST(SceneParser, MotionsEndingEarlyGetTheScenesLastFrameAppended) {
  LwsScene sc;
  LwsKey k = key(0, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  k.tension = 0.5f;
  sc.objects = {null_object({k}), null_object({key(0), key(60)})};
  LwsLight light;
  light.motion = {key(0)};
  sc.lights = {light};
  sc.camera.motion = {key(0)};
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::ok);

  const Motion& m = scene->motions[scene->objects[0].motion];
  ASSERT_EQ(m.key_count, 2);
  EXPECT_EQ(m.last_frame, 60);
  const MotionKey& first = scene->keys[m.first_key];
  const MotionKey& added = scene->keys[m.first_key + 1];
  EXPECT_EQ(first.frame, 0);
  EXPECT_EQ(added.frame, 60);
  EXPECT_EQ(added.linear, 0);  // objects keep the flag read from the line
  EXPECT_EQ(added.tension, 0.5f);
  for (int c = 0; c < 9; ++c) EXPECT_EQ(added.value[c], first.value[c]) << c;

  // A last key on the last frame gets nothing appended.
  EXPECT_EQ(scene->motions[scene->objects[1].motion].key_count, 2);

  const Motion& lm = scene->motions[scene->lights[0].motion];
  ASSERT_EQ(lm.key_count, 2);
  EXPECT_EQ(scene->keys[lm.first_key + 1].linear, 1);
  EXPECT_EQ(lm.last_frame, 60);
  const Motion& cm = scene->motions[0];
  ASSERT_EQ(cm.key_count, 2);
  EXPECT_EQ(scene->keys[cm.first_key + 1].linear, 1);
  EXPECT_EQ(scene->keys[cm.first_key + 1].frame, 60);
  EXPECT_EQ(scene->next_key, 2 + 2 + 2 + 2);
}

TEST(SceneParser, FullSceneValuesSignsAndHeaderOrder) {
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, write_lws(full_scene())), SceneStatus::ok);
  Scene& s = *scene;
  ASSERT_EQ(s.object_count, 3);
  ASSERT_EQ(s.light_count, 2);

  // Headers in file order: object motion, its morph and dissolve envelopes, lights, zoom.
  EXPECT_EQ(s.objects[0].motion, 1);
  EXPECT_EQ(s.objects[0].dissolve_envelope, 2);
  EXPECT_EQ(s.objects[1].motion, 3);
  EXPECT_EQ(s.objects[1].morph_envelope, 4);
  EXPECT_EQ(s.objects[2].motion, 5);
  EXPECT_EQ(s.lights[0].motion, 6);
  EXPECT_EQ(s.lights[1].motion, 7);
  EXPECT_EQ(s.zoom_envelope, 8);
  EXPECT_EQ(s.motion_count, 9);
  // Keys in the same order; the camera's follow the last light's.
  EXPECT_EQ(s.motions[0].first_key, s.motions[7].first_key + s.motions[7].key_count);
  EXPECT_EQ(s.motions[8].first_key, s.motions[0].first_key + s.motions[0].key_count);

  // Object keys: pitch and bank negated; light keys as read; camera heading negated.
  const MotionKey& ok = s.keys[s.motions[1].first_key];
  EXPECT_EQ(ok.value[3], 10);
  EXPECT_EQ(ok.value[4], -20);
  EXPECT_EQ(ok.value[5], -30);
  EXPECT_EQ(s.keys[s.motions[1].first_key + 1].value[6], 2);
  const MotionKey& lk = s.keys[s.motions[6].first_key];
  EXPECT_EQ(lk.value[3], 10);
  EXPECT_EQ(lk.value[4], 20);
  EXPECT_EQ(lk.value[5], 30);
  const MotionKey& ck = s.keys[s.motions[0].first_key];
  EXPECT_EQ(ck.value[2], -10);
  EXPECT_EQ(ck.value[3], -10);
  EXPECT_EQ(ck.value[4], 20);

  // Pivot stored negated, parents 0-based.
  EXPECT_EQ(s.objects[0].pivot[0], -1.5f);
  EXPECT_EQ(s.objects[0].pivot[1], 2.0f);
  EXPECT_EQ(s.objects[0].pivot[2], 0.0f);
  EXPECT_TRUE(std::signbit(s.objects[0].pivot[2]));
  EXPECT_EQ(s.objects[0].parent, -1);
  EXPECT_EQ(s.objects[1].parent, 0);
  EXPECT_EQ(s.camera_parent, 1);

  // Dissolve stored as (1 - clamp(v)) x 255.
  const Motion& d = s.motions[2];
  ASSERT_EQ(d.key_count, 4);
  EXPECT_EQ(d.channel_count, 1);
  EXPECT_EQ(d.end_behavior, 2);
  EXPECT_EQ(d.last_frame, 30);
  EXPECT_EQ(d.frame_step, 1);
  const float dissolve[] = {255, 191.25f, 0, 255};
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(s.keys[d.first_key + k].value[0], dissolve[k]) << k;
    EXPECT_EQ(s.keys[d.first_key + k].frame, k * 10);
  }
  // Metamorph clamped to 0..1; the target is marked even though it came later.
  const Motion& mm = s.motions[4];
  ASSERT_EQ(mm.key_count, 3);
  EXPECT_EQ(s.keys[mm.first_key].value[0], 0);
  EXPECT_EQ(s.keys[mm.first_key + 1].value[0], 0.5f);
  EXPECT_EQ(s.keys[mm.first_key + 2].value[0], 1);
  EXPECT_EQ(mm.last_frame, 20);
  EXPECT_EQ(s.objects[1].morph_target, 2);
  EXPECT_EQ(s.objects[2].is_morph_target, 1);
  EXPECT_EQ(s.objects[0].is_morph_target, 0);

  // Lights, ambient, camera zoom envelope (values as read), backdrop, view zoom.
  EXPECT_FLOAT_EQ(s.lights[0].color[0], 1.0f);
  EXPECT_NEAR(s.lights[0].color[1], 0.50196, 1e-5);
  EXPECT_EQ(s.lights[0].color[2], 0);
  EXPECT_FLOAT_EQ(s.lights[0].intensity, 0.7f);
  EXPECT_EQ(s.lights[0].type, 2);
  EXPECT_EQ(s.lights[1].type, 1);
  EXPECT_EQ(s.ambient_color[0], 255);
  EXPECT_EQ(s.ambient_intensity, 0.25f);
  EXPECT_EQ(s.keys[s.motions[8].first_key + 1].value[0], 6.4f);
  EXPECT_EQ(s.motions[8].last_frame, 60);
  EXPECT_FLOAT_EQ(s.backdrop_color[0], 1.0f);
  EXPECT_FLOAT_EQ(s.backdrop_color[2], 0.2f);
  EXPECT_FLOAT_EQ(s.view_zoom_factor, 0.095f);
}

TEST(SceneParser, LineEndsDoNotChangeTheScene) {
  LwsScene sc = full_scene();
  auto crlf = fresh_scene();
  ASSERT_EQ(load_text(*crlf, write_lws(sc)), SceneStatus::ok);
  sc.crlf = false;
  auto lf = fresh_scene();
  ASSERT_EQ(load_text(*lf, write_lws(sc)), SceneStatus::ok);
  ASSERT_EQ(crlf->next_key, lf->next_key);
  for (int k = 0; k < lf->next_key; ++k) {
    for (int c = 0; c < 9; ++c) EXPECT_EQ(crlf->keys[k].value[c], lf->keys[k].value[c]);
    EXPECT_EQ(crlf->keys[k].frame, lf->keys[k].frame);
  }
  EXPECT_EQ(crlf->view_zoom_factor, lf->view_zoom_factor);
}

TEST(SceneParser, LightTypesAndStaticZoom) {
  LwsScene sc;
  sc.objects = {null_object()};
  for (int type : {0, 1, 2, 7}) {
    LwsLight l;
    l.type = type;
    sc.lights.push_back(l);
  }
  sc.camera.zoom_factor = 3.2f;
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::ok);
  ASSERT_EQ(scene->light_count, 4);
  EXPECT_EQ(scene->lights[0].type, 4);
  EXPECT_EQ(scene->lights[1].type, 1);
  EXPECT_EQ(scene->lights[2].type, 2);
  EXPECT_EQ(scene->lights[3].type, 0);  // unknown types stay unset
  EXPECT_EQ(scene->zoom_envelope, -1);
  EXPECT_FLOAT_EQ(scene->zoom_factor, 3.2f);
  EXPECT_EQ(scene->motion_count, 6);
}

TEST(SceneParser, NumberForms) {
  LwsScene sc;
  LwsObject o = null_object();
  o.pivot = std::array<float, 3>{1, 2, 3};
  sc.objects = {o};
  std::string text = write_lws(sc);
  text.replace(text.find("PivotPoint 1 2 3"), 16, "PivotPoint 1.5e2 12e3 -1.5d2");
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, text), SceneStatus::ok);
  EXPECT_EQ(scene->objects[0].pivot[0], -150);  // library conversion
  EXPECT_EQ(scene->objects[0].pivot[1], -12);   // no fraction: the exponent is not looked at
  EXPECT_EQ(scene->objects[0].pivot[2], 1.5f);  // the C library stops at "d"

  text.replace(text.find("PivotPoint"), 28, "PivotPoint 16.23071 -0.1 .5 ");
  scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, text), SceneStatus::ok);
  EXPECT_EQ(scene->objects[0].pivot[0], -16.23071f);
  EXPECT_EQ(scene->objects[0].pivot[1], 0.1f);
  EXPECT_EQ(scene->objects[0].pivot[2], -0.5f);
}

TEST(SceneParser, FarLoadObjectLeavesANullObjectFirst) {
  LwsScene sc;
  LwsObject mesh = null_object({key(0, {7, 0, 0, 0, 0, 0, 1, 1, 1})});
  mesh.load_path = "OBJECTS\\far\\away.lwo";
  sc.objects = {mesh};
  std::string text = write_lws(sc);
  text.insert(text.find("LoadObject"), std::string(200, ' ') + "\r\n");
  auto scene = fresh_scene();
  ASSERT_EQ(load_text(*scene, text), SceneStatus::ok);  // the loader is never asked
  ASSERT_EQ(scene->object_count, 1);
  EXPECT_TRUE(scene->objects[0].file_name.empty());
  EXPECT_EQ(scene->keys[scene->motions[scene->objects[0].motion].first_key].value[0], 7);
}

TEST(SceneParser, ChannelCountOtherThanNineFails) {
  LwsScene sc;
  sc.objects = {null_object()};
  std::string text = write_lws(sc);
  text.replace(text.find("  9\r\n"), 3, "  6");
  auto scene = fresh_scene();
  EXPECT_EQ(load_text(*scene, text), SceneStatus::bad_motion);
  EXPECT_EQ(scene->loaded, 0);
  EXPECT_TRUE(scene->objects.empty());
  EXPECT_TRUE(scene->parse.text.empty());
  // Nothing at all, or text that is not a scene, is refused before any motion is read.
  for (const char* text : {"", "LWS", "LWOB\n1\n", "FirstFrame 0\nLastFrame 2147483647\n"}) {
    scene = fresh_scene();
    EXPECT_EQ(load_text(*scene, text), SceneStatus::not_a_scene) << text;
    EXPECT_EQ(scene->loaded, 0);
  }
  // The magic word alone: the first (null) object's motion never comes.
  scene = fresh_scene();
  EXPECT_EQ(load_text(*scene, "LWSC\n1\n"), SceneStatus::bad_motion);
}

TEST(SceneParser, FullTablesAreRefusedWithALogLine) {
  struct Case {
    const char* name;
    std::function<void(LwsScene&)> build;
    const char* log;
  };
  const Case cases[] = {
      {"objects", [](LwsScene& sc) { sc.objects.assign(51, null_object()); }, "more than 50 objects"},
      {"motions",
       [](LwsScene& sc) {
         LwsObject o = null_object();
         o.dissolve = envelope({0.5f});
         o.metamorph = envelope({0.5f});
         o.morph_target = 1;
         sc.objects.assign(22, o);
       },
       "more than 64 motions"},
      {"lights",  // each light takes a motion header, so the header table runs out first
       [](LwsScene& sc) {
         sc.objects = {null_object()};
         sc.lights.assign(63, LwsLight());
       },
       "more than 64 motions"},
      {"keys",
       [](LwsScene& sc) {
         std::vector<LwsKey> keys;
         for (int f = 0; f <= 5000; ++f) keys.push_back(key(f));
         sc.last_frame = 5000;
         sc.objects = {null_object(keys)};
       },
       "of the 5000 motion keys left"},
      {"appended key",
       [](LwsScene& sc) {
         std::vector<LwsKey> keys;
         for (int f = 0; f < 5000; ++f) keys.push_back(key(f));
         sc.last_frame = 5000;  // the pool holds the keys but not the appended one
         sc.objects = {null_object(keys)};
       },
       "one more key than the 5000"},
      {"object name",
       [](LwsScene& sc) {
         LwsObject o = null_object();
         o.load_path = std::string(256, 'a');
         sc.objects = {o};
       },
       "longer than 255 characters"},
      {"parent",
       [](LwsScene& sc) {
         LwsObject o = null_object();
         o.parent = 51;
         sc.objects = {o};
       },
       "outside the table of 50 objects"},
  };
  for (const Case& c : cases) {
    LwsScene sc;
    c.build(sc);
    auto scene = fresh_scene();
    log_clear();
    EXPECT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::out_of_memory) << c.name;
    EXPECT_EQ(scene->loaded, 0) << c.name;
    EXPECT_TRUE(scene->objects.empty()) << c.name;
    EXPECT_TRUE(log_mentions(c.log)) << c.name;
  }
}

TEST(SceneParser, AbsurdKeyCountsNeverReadPastTheText) {
  LwsScene sc;
  LwsObject o = null_object();
  o.dissolve = envelope({0.5f});
  sc.objects = {o};
  const std::string text = write_lws(sc);
  const size_t motion_count_at = text.find("  1\r\n", text.find("ObjectMotion"));
  const size_t envelope_count_at =
      text.find("  1\r\n", text.find("  1\r\n", text.find("ObjDissolve")) + 1);
  for (const char* count : {"-3", "99999999999", "5000", "4999"}) {
    for (size_t at : {motion_count_at, envelope_count_at}) {
      std::string bad = text;
      bad.replace(at + 2, 1, count);
      auto scene = fresh_scene();
      SceneStatus st = load_text(*scene, bad);
      // A count the pool can hold reads zeros past the text (the sanitizer build checks
      // that); anything more is refused before a key is read.
      if (std::string(count) != "4999") {
        EXPECT_EQ(st, SceneStatus::out_of_memory) << count;
      }
    }
  }
  // Every truncation of a complete scene loads or fails cleanly.
  const std::string full = write_lws(full_scene());
  for (size_t n = 0; n <= full.size(); ++n) {
    auto scene = fresh_scene();
    const int st = static_cast<int>(load_text(*scene, full.substr(0, n)));
    EXPECT_TRUE(st == 0 || st == 3 || (n < 4 && st == 5)) << n;
  }
}

TEST(SceneParser, MissingObjectFailsWithTheShortenedName) {
  for (bool crlf : {true, false}) {
    LwsScene sc;
    LwsObject o = null_object();
    o.load_path = "OBJECTS\\B5\\Ship\\Hull.lwo";
    sc.objects = {null_object(), o};
    sc.crlf = crlf;
    auto scene = fresh_scene();
    scene_set_lightwave_root(*scene, "/nonexistent/lightwave/");
    EXPECT_EQ(load_text(*scene, write_lws(sc)), SceneStatus::file_not_found);
    EXPECT_EQ(scene->error_path, "ip\\Hull.lwo") << crlf;  // name ends at CR or LF
    EXPECT_EQ(scene->loaded, 0);
    EXPECT_TRUE(scene->objects.empty());
  }
  // A name that runs to the end of the text.
  auto scene = fresh_scene();
  EXPECT_EQ(load_text(*scene, "LWSC\r\n1\r\nFirstFrame 0\r\nLoadObject OBJECTS\\SPACE\\Station"), SceneStatus::file_not_found);
  EXPECT_EQ(scene->error_path, "\\Station");
  // A scene file that is not there names itself.
  scene = fresh_scene();
  EXPECT_EQ(scene_load(*scene, "/nonexistent/scene.lws"), SceneStatus::file_not_found);
  EXPECT_EQ(scene->error_path, "/nonexistent/scene.lws");
  EXPECT_EQ(scene->loaded, 0);
}

TEST(SceneParser, RealScenesWithAbsentObjectsFailCleanly) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const struct {
    const char* file;
    const char* missing;
  } scenes[] = {
      {"PassMountains.lws", "cape/MountainCircle2"},
      {"TVorlonExample.lws", "ships\\TVorlon\\TVorlonMain"},
      {"Shadow.lws", "Shadow.lwo"},
      {"NarnJumpgateBlue.lws", "\\NarnJumpgate\\NGateVortexMorph"},
  };
  log_set_echo(false);
  for (const auto& sc : scenes) {
    auto scene = fresh_scene();
    scene_set_lightwave_root(*scene, kLightwave);
    EXPECT_EQ(scene_load(*scene, kLightwave + sc.file), SceneStatus::file_not_found) << sc.file;
    EXPECT_EQ(scene->error_path, sc.missing) << sc.file;
    EXPECT_EQ(scene->loaded, 0);
    scene_destroy(*scene);
  }
}

TEST(SceneParser, BallconeLoadsItsObjectsFromTheSceneFolder) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  auto scene = fresh_scene();
  log_clear();
  ASSERT_EQ(scene_load(*scene, kLightwave + "ballcone/ballcone.lws"), SceneStatus::ok) << scene->error_path;
  Scene& s = *scene;
  EXPECT_EQ(s.motions[0].first_frame, 1);  // the preview range
  EXPECT_EQ(s.motions[0].last_frame, 60);
  ASSERT_EQ(s.object_count, 2);
  EXPECT_EQ(s.objects[0].file_name, "greenball.lwo");
  EXPECT_EQ(s.objects[1].loaded_path, kLightwave + "ballcone/redcone.lwo");
  EXPECT_TRUE(log_mentions("redcone.lwo loaded from"));
  // Found on a later try, the scene still counts as loaded (and so is drawn).
  EXPECT_EQ(s.loaded, 1);
  for (int i = 0; i < 2; ++i) {
    const SceneObject& o = s.objects[i];
    EXPECT_GT(o.polygon_count, 0);
    // Neither object dissolves, so neither draws through a dissolve level.
    EXPECT_EQ(o.dissolve_envelope, -1);
    for (const Triangle& t : o.polygons) EXPECT_EQ(t.dissolve_ref, nullptr);
  }
  // redcone's last key is at 59: frame 60 is appended.
  const Motion& m = s.motions[s.objects[1].motion];
  ASSERT_EQ(m.key_count, 4);
  EXPECT_EQ(s.keys[m.first_key + 3].frame, 60);
  EXPECT_FLOAT_EQ(s.keys[m.first_key + 1].value[4], -78.10001f);
  EXPECT_EQ(s.motions[0].key_count, 3);  // the camera ends on frame 60
  EXPECT_EQ(s.lights[0].type, 4);
  EXPECT_FLOAT_EQ(s.zoom_factor, 3.2f);
}
