// The pose of a scene in LightWave's own terms (scene/lw_scene.h is the manual): the engine's
// key evaluation (scene/motion.h, motion_values_at) at any frame, its stored conventions
// undone, and LightWave's transform order put together with parents.
//
// The engine stores angle channels with the LightWave 5 parser's signs: object pitch and
// bank negated, camera heading negated, lights as written; LightWave 6 motions carry the same
// signs in `Motion::negate_channels`. Envelope values carry the scene scale (LightWave 5 keys
// were multiplied by it, LightWave 6 values are multiplied when evaluated), and a dissolve
// envelope holds the opacity byte 255 x (1 - dissolve). All of that is undone here.
#include <algorithm>
#include <cmath>

#include "scene/lw_scene.h"
#include "scene/motion.h"

namespace orvl {
namespace {

constexpr double kRest[kNumChannels] = {0, 0, 0, 0, 0, 0, 1, 1, 1};
constexpr double kDefaultZoom = 3.2;
constexpr double kMinZoom = 0.01;
constexpr double kMaxIntensity = 1000;

enum class Kind { object, light, camera };

// The channels of stored values `s` in the file's terms.
void file_terms(const float s[kNumChannels], Kind kind, double out[kNumChannels]) {
  double hpb[3] = {s[3], s[4], s[5]};
  switch (kind) {
    case Kind::object: hpb[1] = -hpb[1], hpb[2] = -hpb[2]; break;
    case Kind::camera: hpb[0] = -hpb[0]; break;
    case Kind::light: break;
  }
  for (int c = 0; c < 3; ++c) out[c] = s[c];
  for (int c = 0; c < 3; ++c) out[3 + c] = hpb[c] * kDegToRad;
  for (int c = 6; c < kNumChannels; ++c) out[c] = s[c];
  for (int c = 0; c < kNumChannels; ++c)
    if (!std::isfinite(out[c])) out[c] = kRest[c];
}

double unscale(double v, float scale) { return scale != 0.0f ? v / scale : v; }

// The record's own motions: same evaluation, other tables.
MotionSource own_source(const Scene& scene) {
  MotionSource src;
  src.keys = scene.lw_motions.keys.data();
  src.key_count = scene.lw_motions.keys.size();
  src.envelopes = &scene.lw_motions.envelopes;
  src.frames_per_second = scene.motions.empty() ? 0.0 : static_cast<double>(scene.motions[0].frames_per_second);
  src.scale = scene.scale;
  return src;
}

bool valid(const std::vector<Motion>& motions, int m) { return m >= 0 && m < static_cast<int>(motions.size()); }

// Channel 0 of an envelope in file terms (before the dissolve byte is read back). Engine
// envelopes are always scaled; the record's own LightWave 5 keys never were.
double envelope_value(const MotionSource& src, const Motion& h, float frame, bool scaled) {
  float s[kNumChannels];
  motion_values_at(src, h, frame, s);
  return scaled ? unscale(s[0], src.scale) : static_cast<double>(s[0]);
}

bool own_scaled(const Motion& h) { return h.envelope_first >= 0; }

double sane_zoom(double z) {
  if (!std::isfinite(z) || !(z > 0)) return kDefaultZoom;
  return std::max(z, kMinZoom);
}

double sane_intensity(double v) {
  if (std::isnan(v)) return 1;
  return std::clamp(v, -kMaxIntensity, kMaxIntensity);
}

double level_to_dissolve(double level) {
  const double d = 1.0 - level / 255.0;
  return std::isfinite(d) ? std::clamp(d, 0.0, 1.0) : 0.0;
}

void make_finite(LwMatrix& m) {
  for (double v : m.m)
    if (!std::isfinite(v)) {
      m = LwMatrix();
      return;
    }
}

Kind kind_of(const Scene& scene, int m) {
  if (m == 0) return Kind::camera;
  const int lights = std::min(scene.light_count, static_cast<int>(scene.lights.size()));
  for (int i = 0; i < lights; ++i)
    if (scene.lights[i].motion == m) return Kind::light;
  return Kind::object;
}

LwMatrix local_of(const MotionSource& src, const Motion& h, float frame, Kind kind, const float pivot[3]) {
  float s[kNumChannels];
  motion_values_at(src, h, frame, s);
  double ch[kNumChannels];
  file_terms(s, kind, ch);
  return lw_local_matrix(ch, pivot);
}

// Everything at the frames `frame_of(motion)` gives.
template <typename FrameOf>
void compose(const Scene& scene, FrameOf frame_of, LwPose& pose) {
  const MotionSource engine = motion_source(scene);
  const MotionSource own = own_source(scene);
  const LwMotionTables& tables = scene.lw_motions;
  const int objects = std::min<int>(std::min(scene.object_count, static_cast<int>(scene.objects.size())),
                                    static_cast<int>(pose.object_world.size()));
  const float scale = scene.scale;

  // Locals, then worlds through the parents; a parent that is still being placed (a cycle)
  // ends the chain there.
  LwMatrix local[kMaxObjects];
  uint8_t state[kMaxObjects] = {};  // 0 not placed, 1 being placed, 2 placed
  const int n = std::min(objects, kMaxObjects);
  for (int i = 0; i < n; ++i) {
    const SceneObject& o = scene.objects[i];
    const float pivot[3] = {-o.pivot[0], -o.pivot[1], -o.pivot[2]};  // stored negated, scaled
    local[i] = valid(scene.motions, o.motion)
                   ? local_of(engine, scene.motions[o.motion], frame_of(o.motion), Kind::object, pivot)
                   : lw_local_matrix(kRest, pivot);
    double morph = 0, dissolve = 0;
    if (o.morph_target != -1 && valid(scene.motions, o.morph_envelope))
      morph = envelope_value(engine, scene.motions[o.morph_envelope], frame_of(o.morph_envelope), true);
    if (valid(scene.motions, o.dissolve_envelope))
      dissolve = level_to_dissolve(
          envelope_value(engine, scene.motions[o.dissolve_envelope], frame_of(o.dissolve_envelope), true));
    pose.morph_amount[i] = static_cast<float>(std::isfinite(morph) ? std::clamp(morph, 0.0, 1.0) : 0.0);
    pose.dissolve[i] = static_cast<float>(dissolve);
  }
  for (int i = 0; i < n; ++i) {
    if (state[i] == 2) continue;
    int chain[kMaxObjects];
    int links = 0;
    // Walk up to the first placed ancestor (or the root), marking the way.
    for (int p = i; p >= 0 && p < n && state[p] == 0 && links < kMaxObjects; p = scene.objects[p].parent) {
      state[p] = 1;
      chain[links++] = p;
    }
    for (int k = links - 1; k >= 0; --k) {
      const int j = chain[k];
      const int p = scene.objects[j].parent;
      pose.object_world[j] = (p >= 0 && p < n && state[p] == 2) ? lw_multiply(pose.object_world[p], local[j]) : local[j];
      make_finite(pose.object_world[j]);
      state[j] = 2;
    }
  }
  auto parent_world = [&](int parent, const LwMatrix& m) {
    LwMatrix w = (parent >= 0 && parent < n) ? lw_multiply(pose.object_world[parent], m) : m;
    make_finite(w);
    return w;
  };

  const LwSceneInfo& info = scene.lw;
  const size_t lights = std::min(info.lights.size(), pose.light_world.size());
  for (size_t i = 0; i < lights; ++i) {
    const LwLight& l = info.lights[i];
    const float pivot[3] = {l.pivot[0] * scale, l.pivot[1] * scale, l.pivot[2] * scale};
    const LwMatrix m = valid(scene.motions, l.motion)
                           ? local_of(engine, scene.motions[l.motion], frame_of(l.motion), Kind::light, pivot)
                           : lw_local_matrix(kRest, pivot);
    pose.light_world[i] = parent_world(l.parent, m);
    double intensity = l.intensity;
    if (valid(scene.motions, l.intensity_envelope)) {
      intensity = envelope_value(engine, scene.motions[l.intensity_envelope], frame_of(l.intensity_envelope), true);
    } else if (valid(tables.motions, l.intensity_own)) {
      const Motion& h = tables.motions[l.intensity_own];
      intensity = envelope_value(own, h, frame_of(l.motion), own_scaled(h));
    }
    pose.light_intensity[i] = static_cast<float>(sane_intensity(intensity));
  }

  const LwCamera& c = info.camera;
  const float pivot[3] = {c.pivot[0] * scale, c.pivot[1] * scale, c.pivot[2] * scale};
  LwMatrix cam;
  if (valid(tables.motions, c.motion_own))
    cam = local_of(own, tables.motions[c.motion_own], frame_of(0), Kind::camera, pivot);
  else
    cam = local_of(engine, scene.motions[0], frame_of(0), Kind::camera, pivot);
  pose.camera_world = parent_world(c.parent, cam);
  double zoom = c.zoom;
  if (valid(tables.motions, c.zoom_own)) {
    const Motion& h = tables.motions[c.zoom_own];
    zoom = envelope_value(own, h, frame_of(0), own_scaled(h));
  } else if (valid(scene.motions, c.zoom_envelope)) {
    zoom = envelope_value(engine, scene.motions[c.zoom_envelope], frame_of(c.zoom_envelope), true);
  }
  pose.zoom = sane_zoom(zoom);
}

bool fits(const Scene& scene, const LwPose& pose) {
  const size_t objects = static_cast<size_t>(std::clamp(scene.object_count, 0, static_cast<int>(scene.objects.size())));
  return pose.object_world.size() == objects && pose.morph_amount.size() == objects &&
         pose.dissolve.size() == objects && pose.light_world.size() == scene.lw.lights.size() &&
         pose.light_intensity.size() == scene.lw.lights.size();
}

}  // namespace

double lw_file_frame(const Scene& scene, double playback_frame) { return playback_frame + scene.lw.frame_origin; }
double lw_playback_frame(const Scene& scene, double file_frame) { return file_frame - scene.lw.frame_origin; }

void lw_pose_size(const Scene& scene, LwPose& pose) {
  const size_t objects = static_cast<size_t>(std::clamp(scene.object_count, 0, static_cast<int>(scene.objects.size())));
  pose.object_world.assign(objects, LwMatrix());
  pose.morph_amount.assign(objects, 0.0f);
  pose.dissolve.assign(objects, 0.0f);
  pose.light_world.assign(scene.lw.lights.size(), LwMatrix());
  pose.light_intensity.assign(scene.lw.lights.size(), 1.0f);
}

bool lw_pose_at(const Scene& scene, double frame, LwPose& pose) {
  if (scene.motions.empty() || !std::isfinite(frame)) return false;
  if (!fits(scene, pose)) lw_pose_size(scene, pose);
  const float f = static_cast<float>(std::clamp(frame, -1.0e9, 1.0e9));
  pose.frame = frame;
  compose(scene, [f](int) { return f; }, pose);
  return true;
}

void lw_pose_current(const Scene& scene, LwPose& pose) {
  if (scene.motions.empty()) return;
  if (!fits(scene, pose)) lw_pose_size(scene, pose);
  const Motion& timing = scene.motions[0];
  pose.frame = timing.frame_step > 0 ? timing.frame / timing.frame_step : timing.frame;
  compose(scene, [&scene](int m) { return scene.motions[static_cast<size_t>(m)].frame; }, pose);
}

void lw_motion_channels(const Scene& scene, int m, double frame, double out[9]) {
  std::copy(kRest, kRest + kNumChannels, out);
  if (!valid(scene.motions, m) || !std::isfinite(frame)) return;
  const Motion& h = scene.motions[static_cast<size_t>(m)];
  const float f = static_cast<float>(std::clamp(frame, -1.0e9, 1.0e9));
  const MotionSource src = motion_source(scene);
  if (h.channel_count != 1) {
    float s[kNumChannels];
    motion_values_at(src, h, f, s);
    file_terms(s, kind_of(scene, m), out);
    return;
  }
  double v = envelope_value(src, h, f, true);
  bool dissolve = h.envelope_first >= 0 && h.envelope_use == static_cast<uint8_t>(EnvelopeUse::dissolve);
  if (h.envelope_first < 0) {
    const int objects = std::min(scene.object_count, static_cast<int>(scene.objects.size()));
    for (int i = 0; i < objects && !dissolve; ++i) dissolve = scene.objects[i].dissolve_envelope == m;
  }
  if (dissolve) v = level_to_dissolve(v);
  out[0] = std::isfinite(v) ? v : 0.0;
}

LwMatrix lw_local_matrix(const double ch[9], const float pivot[3]) {
  // Ry(heading) . Rx(pitch) . Rz(bank): +Z turns toward +X with heading, toward -Y with pitch.
  const double sh = std::sin(ch[3]), chh = std::cos(ch[3]);
  const double sp = std::sin(ch[4]), cp = std::cos(ch[4]);
  const double sb = std::sin(ch[5]), cb = std::cos(ch[5]);
  const double r[9] = {chh * cb + sh * sp * sb, sh * sp * cb - chh * sb, sh * cp,
                       cp * sb,                 cp * cb,                 -sp,
                       chh * sp * sb - sh * cb, chh * sp * cb + sh * sb, chh * cp};
  LwMatrix m;
  for (int row = 0; row < 3; ++row) {
    double t = ch[row];
    for (int col = 0; col < 3; ++col) {
      const double rs = r[row * 3 + col] * ch[6 + col];
      m.m[row * 4 + col] = rs;
      t -= rs * static_cast<double>(pivot[col]);
    }
    m.m[row * 4 + 3] = t;
  }
  return m;
}

LwMatrix lw_multiply(const LwMatrix& a, const LwMatrix& b) {
  LwMatrix out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[i * 4 + k] * b.m[k * 4 + j];
      out.m[i * 4 + j] = s;
    }
  return out;
}

bool lw_invert(const LwMatrix& a, LwMatrix& out) {
  // Gauss-Jordan with partial pivoting on [a | I].
  double w[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 8; ++j) w[i][j] = j < 4 ? a.m[i * 4 + j] : (j - 4 == i ? 1.0 : 0.0);
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(w[r][c]) > std::fabs(w[p][c])) p = r;
    if (!(std::fabs(w[p][c]) > 1e-300) || !std::isfinite(w[p][c])) return false;
    if (p != c)
      for (int j = 0; j < 8; ++j) std::swap(w[p][j], w[c][j]);
    const double d = w[c][c];
    for (int j = 0; j < 8; ++j) w[c][j] /= d;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const double f = w[r][c];
      if (f != 0)
        for (int j = 0; j < 8; ++j) w[r][j] -= f * w[c][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.m[i * 4 + j] = w[i][j + 4];
  return true;
}

double lw_vertical_fov(double zoom) {
  if (!std::isfinite(zoom) || !(zoom > 0)) zoom = kDefaultZoom;
  return 2.0 * std::atan(1.0 / zoom);
}

}  // namespace orvl
