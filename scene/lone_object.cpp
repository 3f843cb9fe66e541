// A viewing scene for one object file; see scene/lone_object.h.
#include "scene/lone_object.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

constexpr double kTurn = 6.283185307179586;

// One LWSC 3 envelope of a single key at time 0.
void constant_channel(std::string& out, int channel, double value) {
  char line[160];
  std::snprintf(line, sizeof line, "Channel %d\n{ Envelope\n  1\n  Key %.17g 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n",
                channel, value);
  out += line;
}

// Nine channels: position, heading / pitch / bank in radians, scale.
void motion(std::string& out, const char* keyword, const double ch[9]) {
  out += keyword;
  out += "\nNumChannels 9\n";
  for (int c = 0; c < 9; ++c) constant_channel(out, c, ch[c]);
}

// The text of the viewing scene. The camera's distance and the object's pivot depend on the
// loaded points, so they are set after the load (see place()).
std::string scene_text(const std::string& path, const LoneObjectOptions& options, int last_frame) {
  std::string s = "LWSC\n3\n\nFirstFrame 0\nLastFrame " + std::to_string(last_frame) +
                  "\nFrameStep 1\nFramesPerSecond 30\n\n";
  s += "LoadObjectLayer " + std::to_string(options.layer) + " 10000000 " + path + "\n";
  s += "ObjectMotion\nNumChannels 9\n";
  for (int c = 0; c < 9; ++c) {
    if (c == 3 && options.turntable_seconds > 0) {
      // Linear spans from 0 to one full turn, repeated after: the same speed all the way.
      char env[200];
      std::snprintf(env, sizeof env,
                    "Channel 3\n{ Envelope\n  2\n  Key 0 0 3 0 0 0 0 0 0\n  Key %.17g %.17g 3 0 0 0 0 0 0\n"
                    "  Behaviors 1 2\n}\n",
                    kTurn, options.turntable_seconds);
      s += env;
    } else {
      constant_channel(s, c, c >= 6 ? 1.0 : 0.0);
    }
  }
  s += "\nAmbientColor 1 1 1\nAmbientIntensity 0.05\n\nAddLight 20000000\nLightName Light\n";
  const double light[9] = {-2, 2, -2, 0.78539816339744828, 0.61086523819801530, 0, 1, 1, 1};
  motion(s, "LightMotion", light);
  s += "LightColor 1 1 1\nLightIntensity 1\nLightType 0\n\nAddCamera 30000000\nCameraName Camera\n";
  const double camera[9] = {0, 0, -1, 0, 0, 0, 1, 1, 1};
  motion(s, "CameraMotion", camera);
  s += "ZoomFactor 3.2\n";
  return s;
}

// Channel `c` of motion `m` held at `value` (the viewing scene's channels are constants).
void set_channel(Scene& scene, int m, int c, double value) {
  if (m < 0 || m >= static_cast<int>(scene.motions.size())) return;
  const Motion& motion = scene.motions[static_cast<size_t>(m)];
  const int ch = motion.envelope_first + c;
  if (motion.envelope_first < 0 || ch >= static_cast<int>(scene.envelopes.channels.size())) return;
  ChannelEnvelope& e = scene.envelopes.channels[static_cast<size_t>(ch)];
  e.constant = static_cast<float>(value);
  for (int k = 0; k < e.key_count; ++k) {
    const size_t i = static_cast<size_t>(e.first_key + k);
    if (i < scene.envelopes.keys.size()) scene.envelopes.keys[i].value = static_cast<float>(value);
  }
}

// Pivot at the sphere's centre, camera on -Z at the framing distance, and the light where
// the engine look can use it (see the header).
void place(Scene& scene, const LoneFraming& f) {
  SceneObject& obj = scene.objects[0];
  for (int k = 0; k < 3; ++k) obj.pivot[k] = static_cast<float>(-f.centre[k]);  // stored negated
  // Points near the float limit would put the camera at infinity; it stops where floats end.
  const double distance = std::min(f.distance, 1e37);
  set_channel(scene, 0, 2, -distance);
  if (scene.light_count < 1) return;
  const double s = kLoneEngineLightDistance * distance;
  const double at[3] = {-s, s, 0};
  for (int c = 0; c < 3; ++c) set_channel(scene, scene.lights[0].motion, c, at[c]);
}

}  // namespace

LoneObjectKind lone_object_kind(const uint8_t* data, size_t size) {
  if (!data || size < 12 || std::memcmp(data, "FORM", 4) != 0) return LoneObjectKind::none;
  if (std::memcmp(data + 8, "LWOB", 4) == 0) return LoneObjectKind::lwob;
  if (std::memcmp(data + 8, "LWO2", 4) == 0) return LoneObjectKind::lwo2;
  return LoneObjectKind::none;
}

LoneObjectKind lone_object_file_kind(const std::string& path) {
  FileStatus st = FileStatus::ok;
  const int fd = open_regular_file(resolve_data_path(path), st);
  if (fd < 0) return LoneObjectKind::none;
  uint8_t head[12] = {};
  size_t got = 0;
  while (got < sizeof head) {
    const ssize_t n = ::read(fd, head + got, sizeof head - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  (void)::close(fd);
  return lone_object_kind(head, got);
}

LoneFraming lone_object_framing(const SceneObject& object, double aspect) {
  LoneFraming f;
  const size_t n = std::min(object.vertices.size(), static_cast<size_t>(std::max(object.vertex_count, 0)));
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  bool any = false;
  for (size_t i = 0; i < n; ++i) {
    const Vertex& v = object.vertices[i];
    const double p[3] = {v.x, v.y, v.z};
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) continue;
    for (int k = 0; k < 3; ++k) {
      lo[k] = any ? std::min(lo[k], p[k]) : p[k];
      hi[k] = any ? std::max(hi[k], p[k]) : p[k];
    }
    any = true;
  }
  for (int k = 0; k < 3; ++k) f.centre[k] = (lo[k] + hi[k]) / 2;
  double r2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const Vertex& v = object.vertices[i];
    const double d[3] = {v.x - f.centre[0], v.y - f.centre[1], v.z - f.centre[2]};
    const double q = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (std::isfinite(q)) r2 = std::max(r2, q);
  }
  const double r = std::sqrt(r2);
  // A point, or nothing at all, still gets a view: a unit sphere around it.
  const double scale = std::max({std::fabs(f.centre[0]), std::fabs(f.centre[1]), std::fabs(f.centre[2]), 1.0});
  f.radius = r > 1e-6 * scale ? r : 1.0;
  if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 4.0 / 3.0;
  // The sphere's silhouette has the half-angle asin(r / d); its tangent is to be kLoneFill
  // times the tangent of the half-field of the shorter side.
  const double half = kLoneFill * std::min(1.0, aspect) / kLoneZoom;
  f.distance = f.radius / std::sin(std::atan(half));
  return f;
}

SceneStatus scene_load_lone_object(Scene& scene, const std::string& path, const LoneObjectOptions& options) {
  if (path.find_first_of("\r\n") != std::string::npos || path.empty()) {
    scene.error_path = path;
    scene.loaded = 0;
    return SceneStatus::file_not_found;
  }
  const LoneObjectKind kind = lone_object_file_kind(path);
  if (kind == LoneObjectKind::lwob && options.layer > 1) {
    log_format("%s: an LWOB object has one layer only, not layer %d", path.c_str(), options.layer);
    scene.error_path = path;
    scene.loaded = 0;
    return SceneStatus::bad_object;
  }
  const double turn = options.turntable_seconds > 0 ? options.turntable_seconds : 0;
  const int last_frame = turn > 0 ? std::max(1, static_cast<int>(std::lround(turn * kLoneFramesPerSecond)) - 1) : 0;
  const std::string text = scene_text(path, options, last_frame);
  scene.flags |= SceneFlags::IMAGES_OPTIONAL | SceneFlags::LIGHT_UNLIT_SURFACES;
  const SceneStatus st =
      scene_load_text(scene, path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (st != SceneStatus::ok) return st;
  if (scene.object_count < 1) return scene_load_failed(scene, SceneStatus::bad_object);
  const double aspect = scene.height > 0 ? double(scene.width) / double(scene.height) : 0;
  place(scene, lone_object_framing(scene.objects[0], aspect));
  scene.lw.format_version = 0;
  return SceneStatus::ok;
}

}  // namespace orvl
