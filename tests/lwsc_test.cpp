// The LWSC 2-5 scene reader: real LightWave files, scenes from our writer, damaged text.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "scene/lwsc.h"
#include "support/shared_data.h"
#include "tools/lwsc_writer.h"

namespace orvl {
namespace {

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

LwscStatus read(const std::string& text, LwscScene& s, const LwscLimits& lim = LwscLimits()) {
  return lwsc_read(reinterpret_cast<const uint8_t*>(text.data()), text.size(), s, lim);
}

LwscScene read_file(const std::string& name) {
  LwscScene s;
  EXPECT_EQ(read(file_text(test::shared_testdata("lightwave6/" + std::string(name))), s), LwscStatus::ok) << name << " line " << s.error_line;
  return s;
}

// Channel c of item i at `seconds`.
double at(const LwscScene& s, int i, int c, double seconds) {
  return s.evaluate(s.items.at(i).channels[c], seconds);
}

TEST(Lwsc, ThreeGenerationsOfTheSameSceneAgree) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const LwscScene v5 = read_file("move_x.lws");
  const LwscScene v3 = read_file("move_x_oldformat_6.lws");
  const LwscScene v2 = read_file("move_x_oldformat_56.lws");
  EXPECT_EQ(v5.version, 5);
  EXPECT_EQ(v3.version, 3);
  EXPECT_EQ(v2.version, 2);
  for (const LwscScene* s : {&v5, &v3, &v2}) {
    ASSERT_EQ(s->items.size(), 3u);
    EXPECT_EQ(s->items[0].kind, LwscItemKind::object);
    EXPECT_EQ(s->items[0].path, "simple_cube.lwo");
    EXPECT_EQ(s->items[0].id, 0x10000000u);
    EXPECT_EQ(s->items[1].kind, LwscItemKind::light);
    EXPECT_EQ(s->items[1].id, 0x20000000u);
    EXPECT_EQ(s->items[2].kind, LwscItemKind::camera);
    EXPECT_EQ(s->first_frame, 1);
    EXPECT_EQ(s->frames_per_second, 30);
    EXPECT_NEAR(s->ambient_intensity, 0.05f, 1e-6);
    EXPECT_NEAR(s->items[1].color[1], 1.0f, 1e-6);  // 255 in version 2
    // The light's heading: radians in 3+, degrees converted in 2.
    EXPECT_NEAR(at(*s, 1, 3, 0), 0.785398, 1e-5);
    // Keys are hit, and the TCB span between them is the same curve in every generation.
    EXPECT_NEAR(at(*s, 0, 0, 2.0 / 3), 2.0691125, 1e-5);
    EXPECT_NEAR(at(*s, 0, 0, 0.3), at(v5, 0, 0, 0.3), 1e-5);
    EXPECT_NEAR(at(*s, 0, 0, 1.0), at(v5, 0, 0, 1.0), 1e-5);
  }
  EXPECT_EQ(v5.items[2].channel_count, 6);
  // The camera zoom is a plain value.
  EXPECT_FLOAT_EQ(v5.items[2].zoom, 3.2f);
  EXPECT_EQ(v5.items[2].zoom_envelope, -1);
}

TEST(Lwsc, BehavioursAndShapesFromLightWaveFiles) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const LwscScene rep = read_file("move_x_post_offset_repeat.lws");
  const LwscEnvelope& e = rep.envelopes[rep.items[0].channels[0]];
  EXPECT_EQ(e.post, EnvBehavior::offset_repeat);
  const EnvKey& first = rep.keys[e.first_key];
  const EnvKey& last = rep.keys[e.first_key + e.key_count - 1];
  const double period = last.time - first.time;
  // One period after a key, the value has moved by the end-to-start difference.
  EXPECT_NEAR(at(rep, 0, 0, last.time + period * 0.25),
              at(rep, 0, 0, first.time + period * 0.25) + (last.value - first.value), 1e-4);

  const LwscScene osc = read_file("move_y_pre_ofrep_post_osc.lws");
  const LwscEnvelope& y = osc.envelopes[osc.items[0].channels[1]];
  EXPECT_EQ(y.pre, EnvBehavior::offset_repeat);
  EXPECT_EQ(y.post, EnvBehavior::oscillate);
  const double t0 = osc.keys[y.first_key].time, t1 = osc.keys[y.first_key + y.key_count - 1].time;
  EXPECT_NEAR(at(osc, 0, 1, t1 + 0.2), at(osc, 0, 1, t1 - 0.2), 1e-5);  // mirrored
  EXPECT_NEAR(at(osc, 0, 1, t0 - 0.2),
              at(osc, 0, 1, t1 - 0.2) - (osc.keys[y.first_key + y.key_count - 1].value - osc.keys[y.first_key].value),
              1e-5);

  const char* files[] = {"move_xz_spline.lws", "move_xz_hermite.lws", "move_xz_bezier.lws",
                         "move_xz_linear.lws", "move_xz_stepped.lws"};
  const SpanShape shapes[] = {SpanShape::tcb, SpanShape::hermite, SpanShape::bezier2d, SpanShape::linear,
                              SpanShape::stepped};
  for (int f = 0; f < 5; ++f) {
    const LwscScene s = read_file(files[f]);
    const LwscEnvelope& x = s.envelopes[s.items[0].channels[0]];
    ASSERT_EQ(x.key_count, 3u) << files[f];
    // The first key ends no span; LightWave leaves it TCB whatever the others are.
    for (uint32_t k = 1; k < x.key_count; ++k) EXPECT_EQ(s.keys[x.first_key + k].shape, shapes[f]) << files[f];
    // Every shape passes through its keys.
    for (uint32_t k = 0; k < x.key_count; ++k)
      EXPECT_NEAR(at(s, 0, 0, s.keys[x.first_key + k].time), s.keys[x.first_key + k].value, 1e-4) << files[f];
  }
}

LwscScene sample_scene() {
  LwscScene s;
  s.version = 3;
  s.first_frame = 5;
  s.frames_per_second = 25;
  s.backdrop_color[2] = 0.5f;
  auto env = [&s](std::vector<EnvKey> keys, EnvBehavior pre, EnvBehavior post) {
    LwscEnvelope e;
    e.first_key = static_cast<uint32_t>(s.keys.size());
    e.key_count = static_cast<uint32_t>(keys.size());
    e.pre = pre;
    e.post = post;
    s.keys.insert(s.keys.end(), keys.begin(), keys.end());
    s.envelopes.push_back(e);
    return static_cast<int32_t>(s.envelopes.size() - 1);
  };
  EnvKey a, b;
  a.value = 1.5f;
  b.value = -2.25f;
  b.time = 2;
  b.shape = SpanShape::hermite;
  b.p[3] = 0.5f;
  LwscItem obj;
  obj.kind = LwscItemKind::object;
  obj.id = 0x10000000;
  obj.layer = 2;
  obj.path = "Objects/My Ship.lwo";
  obj.channel_count = 9;
  for (int c = 0; c < 9; ++c) obj.channels[c] = env({a, b}, EnvBehavior::constant, EnvBehavior::repeat);
  obj.dissolve_envelope = env({a}, EnvBehavior::reset, EnvBehavior::linear);
  LwscItem null;
  null.kind = LwscItemKind::null_object;
  null.id = 0x10000001;
  null.path = "Pivot";
  null.has_parent = true;
  null.parent_id = 0x10000000;
  null.pivot[1] = 3;
  LwscItem light;
  light.kind = LwscItemKind::light;
  light.id = 0x20000000;
  light.color[0] = 0.25f;
  light.light_type = 1;
  light.intensity = 0.75f;
  LwscItem cam;
  cam.kind = LwscItemKind::camera;
  cam.id = 0x30000000;
  cam.channel_count = 6;
  for (int c = 0; c < 6; ++c) cam.channels[c] = env({b}, EnvBehavior::constant, EnvBehavior::constant);
  cam.zoom_envelope = env({a, b}, EnvBehavior::constant, EnvBehavior::constant);
  s.items = {obj, null, light, cam};
  return s;
}

TEST(Lwsc, WrittenSceneReadsBackWithAndWithoutIds) {
  const LwscScene s = sample_scene();
  for (bool ids : {true, false}) {
    LwscWriteOptions opt;
    opt.item_ids = ids;
    // Blocks and plug-ins the player skips, in every item.
    opt.extra_lines =
        "APSDisplay\n{ APS\n  Version 1\n  { VParm\n    { ObjectLevel\n      0\n    }\n  }\n}\n"
        "Plugin ItemMotionHandler 1 Noise\n{ nonsense\nEndPlugin\nIKInitialState 0\n";
    LwscScene r;
    ASSERT_EQ(read(write_lwsc(s, opt), r), LwscStatus::ok) << r.error_line;
    ASSERT_EQ(r.items.size(), 4u);
    EXPECT_EQ(r.first_frame, 5);
    EXPECT_FLOAT_EQ(r.backdrop_color[2], 0.5f);
    EXPECT_EQ(r.items[0].path, "Objects/My Ship.lwo");
    EXPECT_EQ(r.items[0].layer, 2);
    EXPECT_EQ(r.items[1].kind, LwscItemKind::null_object);
    EXPECT_EQ(r.items[1].id, 0x10000001u);
    EXPECT_EQ(r.items[1].parent, 0);
    EXPECT_FLOAT_EQ(r.items[1].pivot[1], 3.0f);
    EXPECT_FLOAT_EQ(r.items[2].color[0], 0.25f);
    EXPECT_EQ(r.items[2].light_type, 1);
    EXPECT_FLOAT_EQ(r.items[2].intensity, 0.75f);
    EXPECT_EQ(r.items[3].channel_count, 6);
    ASSERT_EQ(r.keys.size(), s.keys.size());
    for (double t : {-1.0, 0.5, 1.7, 3.1})
      for (int i : {0, 3}) {
        for (int c = 0; c < r.items[i].channel_count; ++c)
          EXPECT_DOUBLE_EQ(at(r, i, c, t), at(s, i, c, t));
      }
    EXPECT_DOUBLE_EQ(r.evaluate(r.items[3].zoom_envelope, 1.0), s.evaluate(s.items[3].zoom_envelope, 1.0));
    EXPECT_EQ(r.envelopes[r.items[0].dissolve_envelope].post, EnvBehavior::linear);
  }
}

TEST(Lwsc, DamagedScenesFailWithAStatusAndALine) {
  const std::string good = write_lwsc(sample_scene());
  LwscScene r;
  auto expect_fail = [&r](const std::string& text, LwscStatus status, const LwscLimits& lim = LwscLimits()) {
    EXPECT_EQ(read(text, r, lim), status);
    EXPECT_TRUE(r.items.empty() && r.keys.empty());
  };
  expect_fail("", LwscStatus::not_lwsc);
  expect_fail("LWSC\n1\n", LwscStatus::unsupported_version);  // LightWave 5 has its own reader
  expect_fail("LWSC\n9\n", LwscStatus::unsupported_version);
  // Braces never closing: an unknown block and an envelope cut short.
  expect_fail(good + "{ APS\n  { VParm\n  }\n", LwscStatus::bad_syntax);
  expect_fail(good.substr(0, good.find("Behaviors")), LwscStatus::bad_syntax);
  expect_fail(good + "Plugin Foo 1 Bar\n", LwscStatus::bad_syntax);
  expect_fail(good + "}\n", LwscStatus::bad_syntax);
  // A key count past the text, and a huge one: refused before anything is reserved.
  std::string past = good;
  past.replace(past.find("  2\n  Key"), 4, "  3\n");
  expect_fail(past, LwscStatus::bad_syntax);
  std::string huge = good;
  huge.replace(huge.find("  2\n  Key"), 4, "  4000000000\n");
  expect_fail(huge, LwscStatus::bad_syntax);
  // Keys past the capacity.
  LwscLimits lim;
  lim.max_keys = 10;
  expect_fail(good, LwscStatus::too_many, lim);
  // A key line without its numbers, a shape outside 0..5, a channel outside the motion.
  std::string bad = good;
  const size_t key_at = bad.find("Key 1.5 0 0");
  bad.replace(key_at, bad.find('\n', key_at) - key_at, "Key 1.5");
  expect_fail(bad, LwscStatus::bad_syntax);
  bad = good;
  bad.replace(bad.find("Key 1.5 0 0"), 11, "Key 1.5 0 7");
  expect_fail(bad, LwscStatus::bad_syntax);
  bad = good;
  bad.replace(bad.find("Channel 8"), 9, "Channel 9");
  expect_fail(bad, LwscStatus::bad_syntax);
  EXPECT_GT(r.error_line, 2u);
  // A version 2 key of a shape code nobody has seen written.
  expect_fail("LWSC\n2\nLoadObject a.lwo\nObjectMotion (unnamed)\n  1\n  1\n  0 0 3 0 0 0\n",
              LwscStatus::unsupported_shape);
}

}  // namespace
}  // namespace orvl
