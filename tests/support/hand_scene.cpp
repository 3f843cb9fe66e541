#include "support/hand_scene.h"

#include <algorithm>

namespace orvl::testing {

MotionKey make_key(int frame, std::initializer_list<float> values, float tension, float continuity, float bias,
                   int linear) {
  MotionKey k;
  std::copy(values.begin(), values.begin() + std::min<size_t>(values.size(), kNumChannels), k.value);
  k.frame = frame;
  k.tension = tension;
  k.continuity = continuity;
  k.bias = bias;
  k.linear = linear;
  return k;
}

MotionKey pose_key(int frame, float x, float y, float z, float h, float p, float b, float sx, float sy, float sz) {
  return make_key(frame, {x, y, z, h, p, b, sx, sy, sz});
}

HandScene::HandScene(float frames_per_second, float last_frame) {
  scene.objects.resize(kMaxObjects);
  scene.motions.resize(kMaxMotions);
  scene.lights.resize(kMaxLights);
  scene.keys.resize(kMaxKeys);
  scene.next_motion = 1;
  scene.motion_count = 1;
  Motion& timing = scene.motions[0];
  timing.frames_per_second = frames_per_second;
  timing.channel_count = 9;
  timing.frame_step = 1.0f;
  timing.last_frame = last_frame;
  set_camera({pose_key(0, 0, 0, 0)});
}

namespace {
void store_keys(Scene& s, Motion& h, const std::vector<MotionKey>& keys) {
  h.first_key = s.next_key;
  h.key_count = static_cast<int>(keys.size());
  std::copy(keys.begin(), keys.end(), s.keys.begin() + s.next_key);
  s.next_key += h.key_count;
}
}  // namespace

int HandScene::add_motion(const std::vector<MotionKey>& keys, int channel_count) {
  const int m = scene.next_motion++;
  scene.motion_count = scene.next_motion;
  Motion& h = scene.motions[m];
  h = Motion{};
  h.channel_count = channel_count;
  h.frame_step = 1.0f;
  store_keys(scene, h, keys);
  h.last_frame = keys.empty() ? 0.0f : static_cast<float>(keys.back().frame);
  return m;
}

void HandScene::set_camera(const std::vector<MotionKey>& keys) { store_keys(scene, scene.motions[0], keys); }

int HandScene::add_object(int motion, const std::vector<Vertex>& vertices) {
  const int i = scene.object_count++;
  SceneObject& o = scene.objects[i];
  o = SceneObject{};
  o.motion = motion;
  o.vertices = vertices;
  o.vertex_count = static_cast<int>(vertices.size());
  o.transformed.resize(vertices.size());
  o.transformed_parent.resize(vertices.size());
  return i;
}

int HandScene::add_light(int motion) {
  const int i = scene.light_count++;
  scene.lights[i].motion = motion;
  scene.lights[i].type = 1;
  return i;
}

}  // namespace orvl::testing
