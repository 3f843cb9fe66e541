#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/clock.h"
#include "scene/motion.h"
#include "support/hand_scene.h"

using namespace orvl;
using orvl::testing::HandScene;
using orvl::testing::make_key;
using orvl::testing::pose_key;

namespace {

constexpr double kPi = 3.14159265358979;

float spline_at(const std::vector<MotionKey>& keys, float time) {
  float out[kNumChannels];
  interpolate_keys(keys.data(), static_cast<int>(keys.size()), keys.back().frame, time, out);
  return out[0];
}

// Clock tests run on the virtual clock; each starts it well away from 0 (0 = "not started").
class MotionClock : public ::testing::Test {
 protected:
  void SetUp() override { clock_set_virtual(10000); }
  void TearDown() override { clock_use_real(); }
  HandScene h{30, 60};
};

void expect_vec(const float* v, double x, double y, double z, double eps = 1e-4) {
  EXPECT_NEAR(v[0], x, eps);
  EXPECT_NEAR(v[1], y, eps);
  EXPECT_NEAR(v[2], z, eps);
}

}  // namespace

TEST(InterpolateKeys, HermiteValuesFromTensionContinuityBias) {
  // Two keys, TCB 0: both end tangents equal the span, which is the straight line.
  EXPECT_FLOAT_EQ(spline_at({make_key(0, {0}), make_key(10, {10})}, 5), 5.0f);
  // Tension 1 on both ends flattens the tangents: 10 x (3 t^2 - 2 t^3) at t = 0.25.
  EXPECT_FLOAT_EQ(spline_at({make_key(0, {0}, 1), make_key(10, {10}, 1)}, 2.5f), 1.5625f);
  // A linear end key ignores the tension.
  EXPECT_FLOAT_EQ(spline_at({make_key(0, {0}, 1), make_key(10, {10}, 1, 0, 0, 1)}, 2.5f), 2.5f);

  // A peak 0, 10, 0: the inner key's tangent is flat, the outer ones follow their segment.
  std::vector<MotionKey> peak = {make_key(0, {0}), make_key(10, {10}), make_key(20, {0})};
  EXPECT_FLOAT_EQ(spline_at(peak, 5), 6.25f);
  EXPECT_FLOAT_EQ(spline_at(peak, 15), 6.25f);
  EXPECT_FLOAT_EQ(spline_at(peak, 10), 10.0f);
  // Bias 1 on the peak weights the incoming side only: tangent 10 on both of its segments.
  peak[1].bias = 1;
  EXPECT_FLOAT_EQ(spline_at(peak, 5), 5.0f);
  EXPECT_FLOAT_EQ(spline_at(peak, 15), 7.5f);
  // Continuity 1 breaks the tangent: incoming -10, outgoing +10.
  peak[1].bias = 0;
  peak[1].continuity = 1;
  EXPECT_FLOAT_EQ(spline_at(peak, 5), 7.5f);
  EXPECT_FLOAT_EQ(spline_at(peak, 15), 7.5f);

  // Uneven spacing scales the inner tangent by segment / span: 10 / 40 x (10 + 40).
  EXPECT_FLOAT_EQ(spline_at({make_key(0, {0}), make_key(10, {10}), make_key(40, {50})}, 5), 4.6875f);
  // All nine channels are interpolated.
  float out[kNumChannels];
  std::vector<MotionKey> nine = {pose_key(0, 0, 0, 0, 0, 0, 0, 1, 1, 1), pose_key(10, 2, 4, 6, 8, 10, 12, 3, 5, 7)};
  interpolate_keys(nine.data(), 2, 10, 5, out);
  const float want[kNumChannels] = {1, 2, 3, 4, 5, 6, 2, 3, 4};
  for (int i = 0; i < kNumChannels; ++i) EXPECT_FLOAT_EQ(out[i], want[i]) << i;
}

TEST(InterpolateKeys, CurveEndsAreKnownByFrame) {
  // A second key at frame 0 is a curve start: its tangent must not use the key before it
  // (that would give 5.625 here instead of 6.25).
  std::vector<MotionKey> keys = {make_key(0, {5}), make_key(0, {0}), make_key(10, {10}), make_key(20, {0})};
  EXPECT_FLOAT_EQ(spline_at(keys, 5), 6.25f);
  // A key at the motion's last frame is a curve end even with keys listed after it.
  float out[kNumChannels];
  std::vector<MotionKey> peak = {make_key(0, {0}), make_key(10, {10}), make_key(20, {0})};
  interpolate_keys(peak.data(), 3, 10, 5, out);
  EXPECT_FLOAT_EQ(out[0], 5.0f);
}

TEST(InterpolateKeys, DegenerateInputStaysInsideTheKeys) {
  float out[kNumChannels];
  // Exactly sized arrays: the sanitizer build catches any read before or past them.
  std::vector<MotionKey> one = {pose_key(7, 1, 2, 3, 4, 5, 6, 7, 8, 9)};
  interpolate_keys(one.data(), 1, 7, -100, out);
  for (int i = 0; i < kNumChannels; ++i) EXPECT_EQ(out[i], i + 1.0f);

  // Two keys on one frame: no division by zero, the later key holds.
  std::vector<MotionKey> same = {make_key(0, {3}), make_key(0, {8}), make_key(10, {8})};
  interpolate_keys(same.data(), 3, 10, 0, out);
  EXPECT_EQ(out[0], 8.0f);

  // Times outside the keys hold the end values; ends found by position when the frames
  // (first key not at 0, last frame not matching) do not say so.
  std::vector<MotionKey> inner = {make_key(10, {1}), make_key(20, {3})};
  EXPECT_EQ((interpolate_keys(inner.data(), 2, 99, -50, out), out[0]), 1.0f);
  EXPECT_EQ((interpolate_keys(inner.data(), 2, 99, 500, out), out[0]), 3.0f);
  EXPECT_FLOAT_EQ((interpolate_keys(inner.data(), 2, 99, 15, out), out[0]), 2.0f);

  // No keys at all: the rest pose, nothing read.
  interpolate_keys(nullptr, 0, 0, 3, out);
  const float rest[kNumChannels] = {0, 0, 0, 0, 0, 0, 1, 1, 1};
  for (int i = 0; i < kNumChannels; ++i) EXPECT_EQ(out[i], rest[i]);
}

TEST_F(MotionClock, VirtualClockDrivesTheFrameAndTheCameraEnds) {
  h.set_camera({make_key(0, {0}), make_key(60, {60}, 0, 0, 0, 1)});
  const int obj = h.add_object(h.add_motion({make_key(0, {0}), make_key(20, {20}, 0, 0, 0, 1)}));
  Scene& s = h.scene;

  evaluate_motion(s, 0);  // starts the clock: frame 0
  EXPECT_EQ(s.motions[0].start_tick, 10000.0f);
  EXPECT_EQ(s.motions[0].frame, 0.0f);
  clock_advance_virtual(1000);
  evaluate_objects(s);
  evaluate_camera(s);
  EXPECT_FLOAT_EQ(s.motions[0].frame, 30.0f);
  EXPECT_EQ(s.current_frame, 30);
  EXPECT_FLOAT_EQ(s.camera_position[0], 30.0f);
  EXPECT_EQ(s.previous_now, 11000.0f);
  // The object started with its first evaluation, 1000 ms after the camera.
  EXPECT_FLOAT_EQ(s.objects[obj].position[0], 0.0f);

  clock_advance_virtual(500);  // object at frame 15 of its 20
  evaluate_objects(s);
  EXPECT_FLOAT_EQ(s.objects[obj].position[0], 15.0f);
  clock_advance_virtual(1000);  // object past its last key: holds one step before it; not finished
  evaluate_objects(s);
  EXPECT_FLOAT_EQ(s.motions[s.objects[obj].motion].frame, 19.0f);
  EXPECT_EQ(s.finished, 0);

  clock_advance_virtual(1000);  // camera at frame 105 > 60: finished, one frame step before the end
  evaluate_camera(s);
  EXPECT_EQ(s.finished, 1);
  EXPECT_FLOAT_EQ(s.motions[0].frame, 59.0f);
  EXPECT_FLOAT_EQ(s.camera_position[0], 59.0f);

  // From then on every motion restarts on each evaluation: the scene holds frame 0.
  clock_advance_virtual(700);
  evaluate_objects(s);
  evaluate_camera(s);
  EXPECT_EQ(s.finished, 1);
  EXPECT_EQ(s.motions[0].frame, 0.0f);
  EXPECT_EQ(s.objects[obj].position[0], 0.0f);
}

TEST_F(MotionClock, PrecalculationAdvancesOncePerFrame) {
  Scene& s = h.scene;
  s.flags = SceneFlags::BUILD_PRECALC;
  s.precalc.precalc_step = 2;
  for (int frame = 0; frame < 15; ++frame) {
    s.motions[0].advanced = 0;
    evaluate_motion(s, 0);
    evaluate_motion(s, 0);  // a second evaluation in the same frame does not advance
  }
  EXPECT_EQ(s.motions[0].frame, 30.0f);
  EXPECT_FLOAT_EQ(s.progress, 50.0f);
  EXPECT_EQ(s.finished, 0);
  for (int frame = 0; frame < 20; ++frame) {
    s.motions[0].advanced = 0;
    evaluate_motion(s, 0);
  }
  EXPECT_EQ(s.motions[0].frame, 60.0f);  // clamped at the last frame
  EXPECT_FLOAT_EQ(s.progress, 100.0f);
  EXPECT_EQ(s.finished, 1);
}

TEST_F(MotionClock, VisibilityCursorFollowsTheFrameTable) {
  Scene& s = h.scene;
  s.precalc.visibility.assign(100, 0);
  s.precalc.frame_table = {0, 10, 20, 30};
  s.precalc.precalc_file_step = 10;
  evaluate_motion(s, 0);
  clock_advance_virtual(1000);  // frame 30 -> entry 3
  evaluate_motion(s, 0);
  EXPECT_EQ(s.precalc.visibility_cursor, 30u);
  clock_advance_virtual(500);  // frame 45: beyond the table reads nothing
  evaluate_motion(s, 0);
  EXPECT_EQ(s.precalc.visibility_cursor, 100u);
  s.precalc.precalc_file_step = 0;  // a broken file must not divide by zero
  evaluate_motion(s, 0);
  EXPECT_EQ(s.precalc.visibility_cursor, 100u);
}

TEST_F(MotionClock, MissingOrOutOfPoolKeysGiveTheRestPose) {
  Scene& s = h.scene;
  const int empty = h.add_motion({});
  s.channels[0] = 42;
  evaluate_motion(s, empty);
  EXPECT_EQ(s.channels[0], 0.0f);
  EXPECT_EQ(s.channels[6], 1.0f);
  const int broken = h.add_motion({make_key(0, {1})});
  s.motions[broken].first_key = kMaxKeys - 1;
  s.motions[broken].key_count = 1000;  // runs past the pool: only the one key in it is read
  s.keys[kMaxKeys - 1] = make_key(0, {9});
  evaluate_motion(s, broken);
  EXPECT_EQ(s.channels[0], 9.0f);
  evaluate_motion(s, kMaxMotions + 3);  // not a motion: rest pose, nothing else touched
  EXPECT_EQ(s.channels[0], 0.0f);
}

TEST_F(MotionClock, AngleConventionsOfObjectsCameraAndLights) {
  Scene& s = h.scene;
  // Keys as the parser stores them: objects with pitch and bank negated, the camera with
  // heading negated, lights as written. File values: heading 10, pitch 20, bank 30.
  const int obj = h.add_object(h.add_motion({pose_key(0, 1, 2, 3, 10, -20, -30, 2, 3, 4)}));
  h.set_camera({pose_key(0, 0, 0, 0, -10, 20, 30)});
  const int light = h.add_motion({pose_key(0, 7, 8, 9, 10, 20, 30)});
  evaluate_objects(s);
  evaluate_camera(s);
  evaluate_light(s, light);
  const double r = kDegToRad;
  const SceneObject& o = s.objects[obj];
  expect_vec(o.angles, 20 * r, 10 * r, 30 * r, 1e-6);
  expect_vec(s.object_angles, 20 * r, 10 * r, 30 * r, 1e-6);
  expect_vec(o.position, 1, 2, 3);
  expect_vec(o.scale, 2, 3, 4);
  expect_vec(s.camera_angles, -20 * r, -10 * r, -30 * r, 1e-6);
  expect_vec(s.light_angles, -20 * r, 10 * r, -30 * r, 1e-6);
  expect_vec(s.light_position, 7, 8, 9);
  EXPECT_NEAR(s.light_matrix[5], std::sin(20 * r), 1e-6);  // -sin(a), a = -pitch

  // Heading 90 turns an object's +Z onto +X.
  HandScene turned;
  const int t = turned.add_object(turned.add_motion({pose_key(0, 0, 0, 0, 90)}));
  evaluate_objects(turned.scene);
  const float* m = turned.scene.objects[t].rotation;
  expect_vec(std::vector<float>{m[2], m[5], m[8]}.data(), 1, 0, 0, 1e-6);
}

TEST_F(MotionClock, EnvelopesAreDividedByTheSceneScale) {
  Scene& s = h.scene;
  s.scale = 50;
  // Values as scene_scale(50) leaves them: morph 0.4 -> 20, dissolve 127.5 -> 6375, zoom 3.2 -> 160.
  const int target = h.add_object(h.add_motion({pose_key(0, 0, 0, 0)}));
  const int obj = h.add_object(h.add_motion({pose_key(0, 0, 0, 0)}));
  s.objects[obj].morph_target = target;
  s.objects[obj].morph_envelope = h.add_motion({make_key(0, {20})}, 1);
  s.objects[obj].dissolve_envelope = h.add_motion({make_key(0, {6375})}, 1);
  s.zoom_envelope = h.add_motion({make_key(0, {160})}, 1);
  evaluate_objects(s);
  evaluate_camera(s);
  EXPECT_FLOAT_EQ(s.objects[obj].morph_amount, 0.4f);
  EXPECT_EQ(s.objects[obj].dissolve, 127);
  EXPECT_EQ(s.current_dissolve, 127);
  EXPECT_FLOAT_EQ(s.zoom_factor, 1.0f);

  // "__ZYNAPS__" objects keep their level; static images skip their motion, not their dissolve.
  s.objects[obj].no_dissolve = 1;
  s.objects[obj].dissolve = 9;
  SceneObject& still = s.objects[target];
  still.static_image = 1;
  still.position[0] = 5;
  still.dissolve_envelope = s.objects[obj].dissolve_envelope;
  evaluate_objects(s);
  EXPECT_EQ(s.objects[obj].dissolve, 9);
  EXPECT_EQ(still.position[0], 5.0f);
  EXPECT_EQ(still.dissolve, 127);

  // Without an envelope the zoom is 1 whatever the file's static factor.
  s.zoom_envelope = -1;
  s.zoom_factor = 3.2f;
  evaluate_camera(s);
  EXPECT_EQ(s.zoom_factor, 1.0f);
}

TEST_F(MotionClock, DissolveOvershootStaysAnAlphaLevel) {
  Scene& s = h.scene;
  // Held opaque, then fading: the spline overshoots 255 on the way into the hold's end.
  const int obj = h.add_object(h.add_motion({pose_key(0, 0, 0, 0)}));
  s.objects[obj].dissolve_envelope =
      h.add_motion({make_key(0, {255}), make_key(30, {255}), make_key(60, {0})}, 1);
  evaluate_objects(s);
  clock_advance_virtual(667);  // frame 20 of the hold
  evaluate_objects(s);
  EXPECT_EQ(s.objects[obj].dissolve, 255);
}

TEST_F(MotionClock, CameraFollowsItsParentChain) {
  Scene& s = h.scene;
  h.set_camera({pose_key(0, 0, 0, -5)});
  // Parent: pivot (1, 0, 0) in the file (stored negated), scale 2, heading 90, at (10, 0, 0).
  const int parent = h.add_object(h.add_motion({pose_key(0, 10, 0, 0, 90, 0, 0, 2, 2, 2)}));
  s.objects[parent].pivot[0] = -1;
  s.camera_parent = parent;
  evaluate_objects(s);
  evaluate_camera(s);
  // ((0, 0, -5) + (-1, 0, 0)) x 2 = (-2, 0, -10), turned by 90 degrees: (-10, 0, 2), + (10, 0, 0).
  expect_vec(s.camera_position, 0, 0, 2);
  // The parent's heading adds to the file heading, which the camera carries negated.
  EXPECT_NEAR(s.camera_angles[1], -90 * kDegToRad, 1e-6);
  // Looking down +X now: a point at (10, 0, 2) lies 10 units in front (-Z in camera space).
  const int probe = h.add_object(h.add_motion({pose_key(0, 10, 0, 2)}), {Vertex{}});
  evaluate_objects(s);
  s.object_index = probe;
  transform_object(s);
  const Vertex& v = s.objects[probe].transformed[0];
  expect_vec(&v.x, 0, 0, -10);

  s.objects[parent].parent = parent;  // a cycle in the file must not hang the frame
  evaluate_camera(s);
}

TEST_F(MotionClock, TransformAppliesPivotScaleParentsThenCamera) {
  Scene& s = h.scene;
  // Grandparent scales by 2 at (5, 0, 0); parent turns by heading 90 at (0, 0, 10);
  // the child sits at (1, 0, 0) with pivot (1, 0, 0) and scale 3.
  const int grand = h.add_object(h.add_motion({pose_key(0, 5, 0, 0, 0, 0, 0, 2, 2, 2)}));
  const int parent = h.add_object(h.add_motion({pose_key(0, 0, 0, 10, 90)}));
  const int child = h.add_object(h.add_motion({pose_key(0, 1, 0, 0, 0, 0, 0, 3, 3, 3)}),
                                 {Vertex{1, 0, 0, 0, 0, 1}, Vertex{2, 0, 0, 0, 0, 1}});
  s.objects[parent].parent = grand;
  s.objects[child].parent = parent;
  s.objects[child].pivot[0] = -1;
  evaluate_objects(s);
  evaluate_camera(s);
  s.object_index = child;
  transform_object(s);
  // Vertex 1: ((2 - 1) x 3 + 1) = (4, 0, 0) in the parent; turned (0, 0, -4) + (0, 0, 10);
  // doubled by the grandparent and moved: (5, 0, 12); the camera at rest flips z.
  const auto& out = s.objects[child].transformed;
  expect_vec(&out[0].x, 5, 0, -2 * (10 - 1));
  expect_vec(&out[1].x, 5, 0, -12);
  EXPECT_EQ(out[1].nx, 0.0f);  // normals are not written for unlit objects

  // Lit objects carry normals through their own and their parents' rotations only.
  s.objects[child].needs_normals = 1;
  transform_object(s);
  expect_vec(&out[1].nx, 1, 0, 0);

  // The camera moved and zoomed: depth is divided by the zoom before rotating.
  s.camera_position[2] = -20;
  s.zoom_factor = 2;
  transform_object(s);
  expect_vec(&out[1].x, 5, 0, -16);
}

TEST_F(MotionClock, MorphAndDeformMoveVerticesInObjectSpace) {
  Scene& s = h.scene;
  const int target = h.add_object(h.add_motion({pose_key(0, 0, 0, 0)}), {Vertex{2, 4, 6}});
  const int obj = h.add_object(h.add_motion({pose_key(0, 0, 0, 0, 0, 0, 0, 2, 2, 2)}),
                               {Vertex{1, 1, 1}, Vertex{1, 1, 1}});
  SceneObject& o = s.objects[obj];
  o.morph_target = target;
  o.morph_envelope = h.add_motion({make_key(0, {0.5f})}, 1);
  o.deform = 1;  // ignored while morphing
  evaluate_objects(s);
  evaluate_camera(s);
  s.object_index = obj;
  transform_object(s);
  // (1,1,1) x 2 = (2,2,2), halfway to the target's raw (2,4,6): (2,3,4); z flipped by the camera.
  expect_vec(&o.transformed[0].x, 2, 3, -4);
  // The target has one point: the second is not morphed (and nothing is read past it).
  expect_vec(&o.transformed[1].x, 2, 2, -2);

  o.morph_target = -1;  // deform doubles X of objects without normals
  transform_object(s);
  expect_vec(&o.transformed[0].x, 4, 2, -2);
  o.needs_normals = 1;
  transform_object(s);
  expect_vec(&o.transformed[0].x, 2, 2, -2);
}
