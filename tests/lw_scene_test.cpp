// LightWave's own reading of a scene: the record (lights, camera, backdrop, fog) from real and
// hand-written files of both generations, the pose's transforms against answers worked out by
// hand, and the pose against the engine's own evaluation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/motion.h"
#include "scene/scene.h"
#include "support/shared_data.h"
#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"
#include "tools/lws_writer.h"

namespace {

using namespace orvl;
constexpr double kPi = 3.14159265358979323846;

struct Loaded {
  Scene scene;
  SceneStatus status;
  Loaded(const std::string& text, const std::string& path = "hand.lws") {
    scene_construct(scene);
    (void)scene_configure(scene, 0, 640, 480, 1024, 0);
    status = scene_load_text(scene, path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  ~Loaded() { scene_destroy(scene); }
};

// Where the matrix takes a point, and a direction.
void apply(const LwMatrix& m, const double p[3], double w, double out[3]) {
  for (int r = 0; r < 3; ++r) out[r] = m.m[r * 4] * p[0] + m.m[r * 4 + 1] * p[1] + m.m[r * 4 + 2] * p[2] + m.m[r * 4 + 3] * w;
}

void expect_point(const LwMatrix& m, double x, double y, double z, double ex, double ey, double ez, double w = 1,
                  double eps = 1e-5) {
  const double p[3] = {x, y, z};
  double o[3];
  apply(m, p, w, o);
  EXPECT_NEAR(o[0], ex, eps);
  EXPECT_NEAR(o[1], ey, eps);
  EXPECT_NEAR(o[2], ez, eps);
}

LwsKey key(int frame, std::array<float, 9> v, int linear = 0) {
  LwsKey k;
  k.frame = frame;
  k.value = v;
  k.linear = linear;
  return k;
}

// The engine's reader looks 150 characters ahead for an object's optional items, so the first
// object gets some of the render settings LightWave writes after it, or it would take the next
// one's parent (and not so many that the next object is out of sight).
std::string padded(std::string text) {
  const size_t at = text.find("ShadowOptions 7\n");
  if (at != std::string::npos)
    text.replace(at, 16, "ShadowOptions 7\nDistanceDissolve 0\nMaxDissolveDistance 0\nUnseenByRays 0\nUnseenByCamera 0\n");
  return text;
}

std::string insert_after(std::string text, const std::string& anchor, const std::string& lines) {
  const size_t at = text.find(anchor);
  if (at == std::string::npos) return text;
  return text.insert(at + anchor.size(), lines);
}

// Null objects: 1 turned by heading 90 at (10, 0, 0), scale 2, pivot (1, 0, 0); 2 its child at
// (30, 0, 0); 3 pitched by 90; a distant light at rest parented to object 3's sibling; a spot;
// the camera zooms from 2 to 4 over frames 0..30.
std::string hand_lwsc1() {
  LwsScene s;
  s.crlf = false;
  LwsObject turner;
  turner.motion = {key(0, {10, 0, 0, 90, 0, 0, 2, 2, 2})};
  turner.pivot = std::array<float, 3>{1, 0, 0};
  LwsObject child;
  child.motion = {key(0, {30, 0, 0, 0, 0, 0, 1, 1, 1})};
  child.parent = 1;
  LwsObject pitched;
  pitched.motion = {key(0, {0, 0, 0, 0, 90, 0, 1, 1, 1})};
  s.objects = {turner, child, pitched};
  LwsLight sun;
  sun.type = 0;
  LwsLight spot;
  spot.name = "Spot";
  spot.type = 2;
  spot.parent = 3;
  spot.motion = {key(0, {0, 5, 0, 0, 0, 0, 1, 1, 1})};
  s.lights.push_back(sun);
  s.lights.push_back(spot);
  LwsEnvelope zoom;
  zoom.keys = {{2, 0, 1}, {4, 30, 1}};
  s.camera.zoom_envelope = zoom;
  s.camera_settings = "Resolution 2\nPixelAspectRatio 1\n";
  std::string text = padded(write_lws(s));
  text = insert_after(text, "LightType 2\n", "ConeAngle 20.000000\nEdgeAngle 5.000000\nFalloff 0.250000\n");
  return text;
}

TEST(LwPose, TransformsOfLightWave5ItemsFollowLightWavesAxes) {
  Loaded l(hand_lwsc1());
  ASSERT_EQ(l.status, SceneStatus::ok);
  LwPose pose;
  lw_pose_size(l.scene, pose);
  ASSERT_TRUE(lw_pose_at(l.scene, 15, pose));
  ASSERT_EQ(pose.object_world.size(), 3u);
  // Heading 90 turns +Z to +X; with scale 2 and pivot (1, 0, 0) the pivot lands on the position.
  expect_point(pose.object_world[0], 0, 0, 1, 2, 0, 0, 0);
  expect_point(pose.object_world[0], 1, 0, 0, 10, 0, 0);
  // The child's origin: ((30, 0, 0) - pivot) x 2 turned by heading 90, plus (10, 0, 0).
  expect_point(pose.object_world[1], 0, 0, 0, 10, 0, -58);
  // Pitch 90 tips +Z to -Y.
  expect_point(pose.object_world[2], 0, 0, 1, 0, -1, 0, 0);
  // A distant light at rest shines along +Z; the spot rides on the pitched object.
  ASSERT_EQ(pose.light_world.size(), 2u);
  expect_point(pose.light_world[0], 0, 0, 1, 0, 0, 1, 0);
  expect_point(pose.light_world[1], 0, 0, 0, 0, 0, 5);  // pitch 90 takes +Y to +Z
  EXPECT_NEAR(pose.zoom, 3.0, 1e-6);  // halfway along the linear zoom envelope
  EXPECT_NEAR(lw_vertical_fov(pose.zoom), 2 * std::atan(1 / 3.0), 1e-9);

  const LwSceneInfo& info = l.scene.lw;
  ASSERT_EQ(info.lights.size(), 2u);
  EXPECT_EQ(info.lights[0].type, LwLightType::distant);
  EXPECT_EQ(info.lights[1].type, LwLightType::spot);
  EXPECT_NEAR(info.lights[1].cone_angle, 20 * kPi / 180, 1e-6);
  EXPECT_NEAR(info.lights[1].edge_angle, 5 * kPi / 180, 1e-6);
  EXPECT_EQ(info.lights[1].falloff, LwFalloff::linear);
  EXPECT_NEAR(info.lights[1].range, 4.0, 1e-6);
  EXPECT_EQ(info.lights[1].parent, 2);
  EXPECT_EQ(info.frame_width, 1280);
  EXPECT_NEAR(info.camera.pixel_aspect, 0.9, 1e-6);
  EXPECT_EQ(info.frame_origin, 0);

  // The engine keeps the zoom as its own normalised factor; the record keeps the file's.
  double ch[9];
  lw_motion_channels(l.scene, l.scene.zoom_envelope, 30, ch);
  EXPECT_NEAR(ch[0], 4.0, 1e-6);
  // The show's scene scale grows positions but not envelopes.
  scene_scale(l.scene, 50);
  ASSERT_TRUE(lw_pose_at(l.scene, 15, pose));
  expect_point(pose.object_world[1], 0, 0, 0, 500, 0, -2900, 1, 1e-3);
  EXPECT_NEAR(pose.zoom, 3.0, 1e-6);
}

TEST(LwPose, StaticZoomAndLightWave5IntensityEnvelopeAndMatrixHelpers) {
  LwsScene s;
  s.crlf = false;
  s.objects.emplace_back();
  s.lights.emplace_back();
  s.camera.zoom_factor = 3.2f;
  std::string text = write_lws(s);
  // LightWave 5 writes an animated intensity as an envelope block the engine does not read.
  const size_t at = text.find("LgtIntensity");
  ASSERT_NE(at, std::string::npos);
  const size_t end = text.find('\n', at);
  text.replace(at, end - at,
               "LgtIntensity (envelope)\n  1\n  2\n  0\n  0 1 0 0 0\n  2\n  20 1 0 0 0\nEndBehavior 1");
  Loaded l(text);
  ASSERT_EQ(l.status, SceneStatus::ok);
  LwPose pose;
  ASSERT_TRUE(lw_pose_at(l.scene, 0, pose));
  EXPECT_NEAR(lw_vertical_fov(pose.zoom), 2 * std::atan(1 / 3.2), 1e-7);
  EXPECT_NEAR(l.scene.zoom_factor, 3.2f, 0);  // as the engine parser left it
  ASSERT_EQ(pose.light_intensity.size(), 1u);
  EXPECT_NEAR(pose.light_intensity[0], 0.0, 1e-6);
  ASSERT_TRUE(lw_pose_at(l.scene, 5, pose));
  EXPECT_NEAR(pose.light_intensity[0], 0.5, 1e-6);
  ASSERT_TRUE(lw_pose_at(l.scene, 40, pose));  // past the last key the value holds
  EXPECT_NEAR(pose.light_intensity[0], 2.0, 1e-6);
  EXPECT_FALSE(lw_pose_at(l.scene, NAN, pose));

  const double ch[9] = {1, 2, 3, 0.3, -0.7, 1.1, 2, 0.5, 3};
  const float pivot[3] = {0.5f, -1, 2};
  const LwMatrix m = lw_local_matrix(ch, pivot);
  LwMatrix inv, id;
  ASSERT_TRUE(lw_invert(m, inv));
  id = lw_multiply(m, inv);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(id.m[i], (i % 5 == 0) ? 1.0 : 0.0, 1e-12);
  LwMatrix singular;
  singular.m[5] = 0;
  EXPECT_FALSE(lw_invert(singular, inv));
  EXPECT_NEAR(lw_vertical_fov(-1), 2 * std::atan(1 / 3.2), 1e-12);
}

// LWSC 3: two cameras, the second current and parented to the null; a spot light with its
// LightWave 6 keywords, parented too.
const char* kLwsc3 =
    "LWSC\n3\n\nFirstFrame 10\nLastFrame 40\nFrameStep 1\nFramesPerSecond 25\n\n"
    "AddNullObject Base\nObjectMotion\nNumChannels 9\n"
    "Channel 0\n{ Envelope\n  1\n  Key 5 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
    "Channel 3\n{ Envelope\n  1\n  Key 1.5707963 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n\n"
    "AmbientColor 0.5 0.25 1\nAmbientIntensity 0.4\n\n"
    "AddLight\nLightName Spot\nLightMotion\nNumChannels 9\n"
    "Channel 2\n{ Envelope\n  1\n  Key 2 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
    "ParentItem 10000000\nLightColor 1 0.5 0.25\nLightIntensity 0.75\nLightType 2\n"
    "LightFalloffType 2\nLightRange 8\nLightConeAngle 25\nLightEdgeAngle 40\n\n"
    "AddCamera\nCameraName First\nCameraMotion\nNumChannels 9\n"
    "Channel 1\n{ Envelope\n  1\n  Key 7 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\nZoomFactor 3.2\n\n"
    "AddCamera\nCameraName Second\nCameraMotion\nNumChannels 9\n"
    "Channel 2\n{ Envelope\n  1\n  Key 1.6 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
    "ParentItem 10000000\nZoomFactor 1.6\nFrameSize 800 450\nPixelAspect 1.2\n\n"
    "SolidBackdrop 0\nBackdropColor 0.1 0.2 0.3\nZenithColor 0 0.1569 0.3137\n"
    "FogType 1\nFogMinDistance 2\nFogMaxDistance 20\nFogMinAmount 0.1\nFogMaxAmount 0.9\nFogColor 0.5 0.5 0.6\n"
    "CurrentCamera 1\n";

TEST(LwPose, LightWave6CurrentCameraLightsAndTimeOrigin) {
  log_set_echo(false);
  log_clear();
  Loaded l(kLwsc3);
  ASSERT_EQ(l.status, SceneStatus::ok);
  const LwSceneInfo& info = l.scene.lw;
  EXPECT_EQ(info.format_version, 3);
  EXPECT_EQ(info.frame_origin, 10);
  EXPECT_EQ(lw_playback_frame(l.scene, info.last_frame), 30);
  EXPECT_EQ(info.current_camera, 1);
  EXPECT_EQ(info.camera.name, "Second");
  EXPECT_GE(info.camera.motion_own, 0);
  EXPECT_EQ(info.camera.parent, 0);
  EXPECT_EQ(info.frame_width, 800);
  EXPECT_NEAR(info.camera.pixel_aspect, 1.2, 1e-6);
  EXPECT_NEAR(info.ambient_color[1], 0.25, 1e-6);
  EXPECT_NEAR(info.ambient_intensity, 0.4, 1e-6);
  EXPECT_FALSE(info.backdrop.solid);
  EXPECT_NEAR(info.backdrop.zenith[2], 0.3137, 1e-6);
  EXPECT_EQ(info.fog.type, 1);
  EXPECT_NEAR(info.fog.max_distance, 20, 1e-6);
  ASSERT_EQ(info.lights.size(), 1u);
  const LwLight& spot = info.lights[0];
  EXPECT_EQ(spot.type, LwLightType::spot);
  EXPECT_EQ(spot.falloff, LwFalloff::inverse_distance);
  EXPECT_NEAR(spot.range, 8, 1e-6);
  EXPECT_NEAR(spot.cone_angle, 25 * kPi / 180, 1e-6);
  EXPECT_NEAR(spot.edge_angle, spot.cone_angle, 1e-7);  // wider than its cone: made the cone
  EXPECT_EQ(spot.parent, 0);
  // One line names what was made defined.
  int lines = 0;
  for (const std::string& s : log_lines()) lines += s.find("absurd LightWave values") != std::string::npos;
  EXPECT_EQ(lines, 1);

  LwPose pose;
  // The current camera (z 1.6, zoom 1.6) rides on the null turned by heading 90 at x 5.
  ASSERT_TRUE(lw_pose_at(l.scene, 15, pose));
  expect_point(pose.camera_world, 0, 0, 0, 5 + 1.6, 0, 0);
  EXPECT_NEAR(pose.zoom, 1.6, 1e-6);
  // The spot sits 2 along the null's +Z, which heading 90 turned to +X.
  expect_point(pose.light_world[0], 0, 0, 0, 7, 0, 0);
  EXPECT_NEAR(pose.light_intensity[0], 0.75, 1e-6);
}

// A light with heading 40 and pitch 30 in both generations. `orvl eval` prints the engine's
// light angles as (-30, 40): the engine's evaluation turns (heading, pitch, bank) into
// (-pitch, heading, -bank) for every item of both generations, which is its own order and
// not a reading of the LightWave 6 channels in the wrong order; the pose must give
// LightWave's direction from either.
TEST(LwPose, LightAnglesMeanTheSameInBothGenerations) {
  LwsScene five;
  five.crlf = false;
  LwsObject null_object;
  five.objects = {null_object, null_object, null_object};
  LwsLight light;
  light.type = 0;
  light.motion = {key(0, {0, 0, 0, 40, 30, 0, 1, 1, 1})};
  five.lights.push_back(light);
  five.camera_settings = "Resolution 2\nPixelAspectRatio 1\n";
  const std::string six =
      "LWSC\n3\n\nFirstFrame 0\nLastFrame 30\nFrameStep 1\nFramesPerSecond 30\n\n"
      "AddNullObject Base\nObjectMotion\nNumChannels 9\n\n"
      "AddLight\nLightName Sun\nLightMotion\nNumChannels 9\n"
      "Channel 3\n{ Envelope\n  1\n  Key 0.6981317 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
      "Channel 4\n{ Envelope\n  1\n  Key 0.5235988 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
      "LightType 0\n\n"
      "AddCamera\nCameraName Camera\nCameraMotion\nNumChannels 9\nZoomFactor 3.2\n";
  const double h = 40 * kPi / 180, p = 30 * kPi / 180;
  for (const std::string& text : {padded(write_lws(five)), six}) {
    Loaded l(text);
    ASSERT_EQ(l.status, SceneStatus::ok) << text.substr(0, 6);
    ASSERT_EQ(l.scene.lw.lights.size(), 1u) << text.substr(0, 6);
    clock_set_virtual(0);
    scene_reset_motions(l.scene);
    evaluate_objects(l.scene);
    evaluate_camera(l.scene);
    evaluate_light(l.scene, l.scene.lw.lights[0].motion);
    EXPECT_NEAR(l.scene.light_angles[0], -p, 1e-6);
    EXPECT_NEAR(l.scene.light_angles[1], h, 1e-6);
    LwPose pose;
    ASSERT_TRUE(lw_pose_at(l.scene, 0, pose));
    // Heading turns +Z toward +X, pitch tips it toward -Y.
    expect_point(pose.light_world[0], 0, 0, 1, std::sin(h) * std::cos(p), -std::sin(p), std::cos(h) * std::cos(p), 0);
    clock_use_real();
  }
}

TEST(LwPose, AbsurdValuesGiveOneLogLineAndFiniteResults) {
  LwsScene s;
  s.crlf = false;
  LwsObject o;
  o.motion = {key(0, {0, 0, 0, 0, 0, 0, 1, 1, 1}), key(30, {1e38f, -1e38f, 1e38f, 0, 0, 0, 1e38f, 1e38f, 1e38f})};
  LwsObject child;
  child.parent = 1;
  child.motion = {key(0, {1e38f, 1e38f, 1e38f, 0, 0, 0, 1e38f, 1, 1})};
  s.objects = {o, child};
  s.lights.emplace_back();
  s.lights[0].type = 2;
  s.camera.zoom_factor = -2;
  std::string text = padded(write_lws(s));
  text = insert_after(text, "LightType 2\n", "ConeAngle 120\nEdgeAngle nan\n");
  const size_t at = text.find("LgtIntensity");
  text.replace(at, text.find('\n', at) - at, "LgtIntensity 1e400");
  log_set_echo(false);
  log_clear();
  Loaded l(text);
  ASSERT_EQ(l.status, SceneStatus::ok);
  int lines = 0;
  for (const std::string& line : log_lines()) lines += line.find("absurd LightWave values") != std::string::npos;
  EXPECT_EQ(lines, 1);
  const LwLight& light = l.scene.lw.lights.at(0);
  EXPECT_NEAR(light.cone_angle, kPi / 2, 1e-6);
  EXPECT_LE(light.edge_angle, light.cone_angle);
  EXPECT_TRUE(std::isfinite(light.intensity));
  LwPose pose;
  for (double f : {0.0, 29.5, 30.0, 1e6}) {
    ASSERT_TRUE(lw_pose_at(l.scene, f, pose));
    EXPECT_NEAR(pose.zoom, 3.2, 1e-6);
    for (const LwMatrix& m : pose.object_world)
      for (double v : m.m) EXPECT_TRUE(std::isfinite(v));
    for (double v : pose.light_world[0].m) EXPECT_TRUE(std::isfinite(v));
    EXPECT_TRUE(std::isfinite(pose.light_intensity[0]));
  }
}

TEST(LwPose, CyclesOfParentsEndAndPoseCurrentFollowsTheEngineClock) {
  LwsScene s;
  s.crlf = false;
  LwsObject a, b;
  a.parent = 2;
  b.parent = 1;
  a.motion = {key(0, {0, 0, 0, 0, 0, 0, 1, 1, 1}), key(60, {60, 0, 0, 0, 0, 0, 1, 1, 1}, 1)};
  s.objects = {a, b};
  Loaded l(padded(write_lws(s)));
  ASSERT_EQ(l.status, SceneStatus::ok);
  LwPose at, current;
  ASSERT_TRUE(lw_pose_at(l.scene, 20, at));
  for (const LwMatrix& m : at.object_world)
    for (double v : m.m) EXPECT_TRUE(std::isfinite(v));
  scene_reset_motions(l.scene);
  clock_set_virtual(1000);
  evaluate_objects(l.scene);
  evaluate_camera(l.scene);
  clock_set_virtual(1000 + 2000);  // frame 60: the player holds frame 59
  evaluate_objects(l.scene);
  evaluate_camera(l.scene);
  clock_use_real();
  lw_pose_current(l.scene, current);
  ASSERT_TRUE(lw_pose_at(l.scene, 59, at));
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(current.object_world[0].m[i], at.object_world[0].m[i]);
  EXPECT_DOUBLE_EQ(current.frame, 59);
}

// The engine's values at frame 3k (100k ms at 30 fps, exact on the virtual clock) against the
// pose's at the same frame, for every object motion of a loaded scene.
void expect_engine_agreement(Scene& scene, int frames, const std::string& what) {
  LwPose pose;
  for (int f = 0; f < frames; f += 3) {
    scene_reset_motions(scene);
    clock_set_virtual(1000);
    evaluate_objects(scene);
    evaluate_camera(scene);
    clock_set_virtual(1000 + static_cast<uint32_t>(f / 3 * 100));
    evaluate_objects(scene);
    evaluate_camera(scene);
    clock_use_real();
    if (scene.finished) break;
    ASSERT_TRUE(lw_pose_at(scene, f, pose));
    for (int i = 0; i < scene.object_count; ++i) {
      const SceneObject& o = scene.objects[i];
      if (o.static_image) continue;
      double ch[9];
      lw_motion_channels(scene, o.motion, f, ch);
      for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(static_cast<float>(ch[k]), o.position[k]) << what << " object " << i << " frame " << f;
        EXPECT_FLOAT_EQ(static_cast<float>(ch[6 + k]), o.scale[k]) << what << " object " << i << " frame " << f;
      }
      // The engine keeps (pitch, heading, bank).
      EXPECT_NEAR(ch[4], o.angles[0], 2e-6 * (1 + std::fabs(ch[4]))) << what;
      EXPECT_NEAR(ch[3], o.angles[1], 2e-6 * (1 + std::fabs(ch[3]))) << what;
      EXPECT_NEAR(ch[5], o.angles[2], 2e-6 * (1 + std::fabs(ch[5]))) << what;
      if (o.parent < 0) {
        // Rest pivot: the world's translation is the position.
        const bool no_pivot = o.pivot[0] == 0 && o.pivot[1] == 0 && o.pivot[2] == 0;
        if (no_pivot) {
          for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(pose.object_world[i].m[k * 4 + 3], o.position[k], 1e-3 + 1e-6 * std::fabs(o.position[k]));
          }
        }
      }
      if (o.dissolve_envelope >= 0 && !o.no_dissolve) {
        EXPECT_NEAR(pose.dissolve[i], 1.0 - o.dissolve / 255.0, 1.0 / 255 + 1e-6) << what;
      }
      if (o.morph_target >= 0) {
        EXPECT_NEAR(pose.morph_amount[i], std::clamp(o.morph_amount, 0.0f, 1.0f), 1e-6);
      }
    }
    // The engine's camera matrix is the transposed rotation of the camera's world (under a
    // parent the engine adds angles instead of composing, so only free cameras compare).
    if (scene.camera_parent < 0 && scene.lw.camera.motion == 0) {
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(pose.camera_world.m[c * 4 + r], scene.camera_matrix[r * 3 + c], 2e-5) << what << " frame " << f;
        }
      }
    }
  }
}

TEST(LwPoseEngine, AgreesOnTheRealLightWave6MotionsIncludingTheirBehaviours) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string dir = orvl::test::shared_testdata("lightwave6");
  int scenes = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("move_", 0) != 0 || e.path().extension() != ".lws") continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Loaded l(text.str(), e.path().string());
    ASSERT_EQ(l.status, SceneStatus::ok) << name;
    expect_engine_agreement(l.scene, 60, name);
    ++scenes;
  }
  EXPECT_GE(scenes, 10);
}

TEST(LwPoseEngine, AgreesOnTheDemoScenes) {
  const auto dir = std::filesystem::temp_directory_path() / ("orvl_lwpose_demo_" + std::to_string(::getpid()));
  DemoOptions options;
  options.music_seconds = 0;
  options.lightwave6 = true;
  DemoSummary summary;
  std::string error;
  ASSERT_TRUE(make_demo_show(dir.string(), options, summary, error)) << error;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::vector<std::string> files;
  for (const DemoSlot& slot : kDemoSlots) files.push_back(slot.file);
  files.push_back(kDemoLightWave6Scene);
  for (const std::string& f : files) {
    Scene scene;
    scene_construct(scene);
    (void)scene_configure(scene, 0, 640, 480, 1024, 0);
    const SceneStatus st = scene_load(scene, f);
    EXPECT_EQ(st, SceneStatus::ok) << f;
    if (st == SceneStatus::ok) expect_engine_agreement(scene, 300, f);
    scene_destroy(scene);
  }
  std::filesystem::current_path(cwd);
  std::filesystem::remove_all(dir);
}

LwSceneInfo read_info(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  LwSceneInfo info;
  LwMotionTables tables;
  lw_read_info(reinterpret_cast<const uint8_t*>(s.data()), s.size(), info, tables);
  return info;
}

TEST(LwInfoReader, RealLightWave5ScenesWhoseObjectsAreMissing) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string dir = orvl::test::shared_testdata("lightwave");
  const LwSceneInfo narn = read_info(dir + "/NarnJumpgateBlue.lws");
  ASSERT_GE(narn.lights.size(), 2u);
  EXPECT_EQ(narn.lights[0].type, LwLightType::spot);
  EXPECT_NEAR(narn.lights[0].cone_angle, 89 * kPi / 180, 1e-6);
  EXPECT_NEAR(narn.lights[0].edge_angle, 1 * kPi / 180, 1e-6);
  EXPECT_EQ(narn.lights[1].parent, 2);
  EXPECT_NEAR(narn.lights[1].color[1], 90 / 255.0, 1e-6);
  EXPECT_EQ(narn.first_frame, 18);
  EXPECT_EQ(narn.frame_origin, 0);  // LightWave 5 scenes play from frame 0

  const LwSceneInfo pass = read_info(dir + "/PassMountains.lws");
  EXPECT_FALSE(pass.backdrop.solid);
  EXPECT_NEAR(pass.backdrop.sky[2], 240 / 255.0, 1e-6);
  EXPECT_EQ(pass.lights.at(0).falloff, LwFalloff::none);
  EXPECT_EQ(pass.frame_width, 320);
  EXPECT_EQ(pass.frames_per_second, 30);  // not in the file

  const LwSceneInfo shadow = read_info(dir + "/Shadow.lws");
  EXPECT_NEAR(shadow.ambient_intensity, 0.05, 1e-6);
  ASSERT_GE(shadow.lights.size(), 4u);
  EXPECT_GE(shadow.lights[3].intensity_own, 0);
  EXPECT_EQ(shadow.lights[3].falloff, LwFalloff::linear);
  EXPECT_NEAR(shadow.lights[3].range, 12.5, 1e-6);
  EXPECT_EQ(shadow.lights[3].parent, 1);
  EXPECT_NEAR(shadow.camera.pixel_aspect, 0.86, 1e-6);
  EXPECT_TRUE(shadow.repaired.empty()) << shadow.repaired;

  EXPECT_NEAR(read_info(dir + "/TVorlonExample.lws").camera.pixel_aspect, 1.0, 1e-6);
  const LwSceneInfo ball = read_info(dir + "/ballcone/ballcone.lws");
  ASSERT_EQ(ball.lights.size(), 1u);
  EXPECT_EQ(ball.lights[0].type, LwLightType::distant);
  EXPECT_EQ(ball.frame_width, 640);
  EXPECT_NEAR(ball.camera.zoom, 3.2, 1e-6);
}

TEST(LwInfoReader, RealLightWave6GenerationsAgree) {
  ORVL_REQUIRE_SHARED_TESTDATA();
  const std::string dir = orvl::test::shared_testdata("lightwave6");
  for (const char* f : {"move_x.lws", "move_x_oldformat_6.lws", "move_x_oldformat_56.lws"}) {
    const LwSceneInfo info = read_info(dir + "/" + f);
    EXPECT_EQ(info.frame_width, 640) << f;
    EXPECT_EQ(info.frame_origin, 1) << f;
    EXPECT_NEAR(info.backdrop.zenith[2], 80 / 255.0, 1e-3) << f;  // 0..255 in LWSC 2, 0..1 later
    EXPECT_NEAR(info.camera.pixel_aspect, 1, 1e-6) << f;
    ASSERT_EQ(info.lights.size(), 1u) << f;
    EXPECT_EQ(info.lights[0].type, LwLightType::distant) << f;
  }
}

}  // namespace
