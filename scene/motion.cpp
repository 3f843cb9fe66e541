#include "scene/motion.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/clock.h"

namespace orvl {
namespace {

// Values of a motion that has nothing to interpolate: at the origin, unrotated, unit scale.
constexpr float kRestPose[kNumChannels] = {0, 0, 0, 0, 0, 0, 1, 1, 1};

void write_rest_pose(float out[kNumChannels]) { std::copy(kRestPose, kRestPose + kNumChannels, out); }

// Float-to-int truncation that stays defined for values a file (or a zero scale) can
// produce: NaN gives 0, anything beyond the int range saturates.
int truncate_to_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

// Envelope keys were multiplied by the scene scale together with the positions; undo it.
// A zero scale would only turn every envelope into infinity, so it is treated as 1.
double unscale(float value, float scale) {
  return scale != 0.0f ? static_cast<double>(value) / scale : static_cast<double>(value);
}

// Spacing adjustment of a tangent: the segment length over the span of the two neighbours.
// Keys in frame order always give a positive span; keys out of order must not divide by
// zero, and then get the weight of evenly spaced keys.
double spacing(double segment, double span) { return span != 0.0 ? segment / span : 0.5; }

// A LightWave 6 motion: each channel its own envelope, evaluated at the scene time of the
// motion's frame. The values are left as the LightWave 5 keys would give them (positions
// and envelopes times the scene scale, angles in degrees with the parser's signs), so the
// swap below and every consumer treat both generations alike.
void envelope_channels_at(const MotionSource& src, const Motion& h, float frame, float out[kNumChannels]) {
  write_rest_pose(out);
  if (src.envelopes == nullptr) return;
  const SceneEnvelopes& env = *src.envelopes;
  const double fps = src.frames_per_second > 0 ? src.frames_per_second : 30.0;
  const double seconds = env.time_origin + static_cast<double>(frame) / fps;
  const int n = std::clamp(h.channel_count, 0, kNumChannels);
  const size_t pool = env.keys.size();
  for (int c = 0; c < n; ++c) {
    const size_t index = static_cast<size_t>(h.envelope_first) + static_cast<size_t>(c);
    if (index >= env.channels.size()) break;
    const ChannelEnvelope& ch = env.channels[index];
    double v = ch.constant;
    if (ch.key_count > 0 && ch.first_key >= 0 && static_cast<size_t>(ch.first_key) < pool) {
      const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(ch.key_count), pool - ch.first_key));
      v = envelope_evaluate(&env.keys[static_cast<size_t>(ch.first_key)], count, ch.pre, ch.post, seconds);
    }
    if (h.channel_count == 1) {
      if (h.envelope_use == static_cast<uint8_t>(EnvelopeUse::dissolve))
        v = (1.0 - std::clamp(v, 0.0, 1.0)) * 255.0;
      v *= src.scale;
    } else if (c < 3) {
      v *= src.scale;
    } else if (c < 6) {
      v /= kDegToRad;
    }
    if (h.negate_channels & (1u << c)) v = -v;
    out[c] = static_cast<float>(v);
  }
}

struct Affine {
  double r[9];
  double pivot[3];
  double scale[3];
  double position[3];
};

Affine affine_of(const SceneObject& o) {
  Affine a{};
  for (int i = 0; i < 9; ++i) a.r[i] = o.rotation[i];
  for (int i = 0; i < 3; ++i) {
    a.pivot[i] = o.pivot[i];
    a.scale[i] = o.scale[i];
    a.position[i] = o.position[i];
  }
  return a;
}

// Parent indices come from the scene file; anything that is not an object ends the chain,
// and so does the kMaxObjects-th link (a cycle of parents would never end otherwise).
int collect_parents(const Scene& scene, int first, int chain[kMaxObjects]) {
  int n = 0;
  const int limit = static_cast<int>(scene.objects.size());
  for (int p = first; p >= 0 && p < limit && n < kMaxObjects; p = scene.objects[p].parent) chain[n++] = p;
  return n;
}

// Rotate `v` by row-major `r`.
inline void rotate(const double r[9], const double v[3], double out[3]) {
  out[0] = r[0] * v[0] + r[1] * v[1] + r[2] * v[2];
  out[1] = r[3] * v[0] + r[4] * v[1] + r[5] * v[2];
  out[2] = r[6] * v[0] + r[7] * v[1] + r[8] * v[2];
}

// (p + pivot) * scale, rotated, moved: one level of the object hierarchy. Each stage's
// result is kept as a float, as the stored arrays between the stages are.
inline void place(const Affine& a, float p[3]) {
  double q[3], w[3];
  for (int k = 0; k < 3; ++k) q[k] = static_cast<float>((p[k] + a.pivot[k]) * a.scale[k]);
  rotate(a.r, q, w);
  for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(w[k] + a.position[k]);
}

inline void rotate_normal(const double r[9], float n[3]) {
  const double v[3] = {n[0], n[1], n[2]};
  double w[3];
  rotate(r, v, w);
  for (int k = 0; k < 3; ++k) n[k] = static_cast<float>(w[k]);
}

struct CameraView {
  double position[3];
  double m[9];
  double zoom;
  bool divide_z;
};

// The per-vertex loop, specialised once per object so that no flag is tested per vertex
// except the morph range check.
template <bool kMorph, bool kDeform, bool kNormals>
void transform_vertices(const SceneObject& o, const Vertex* src, Vertex* dst, int count,
                        const Vertex* target, int target_count, const Affine& self,
                        const Affine* const* parents, int parent_count, const CameraView& cam) {
  const double f = o.morph_amount;
  for (int i = 0; i < count; ++i) {
    const Vertex& v = src[i];
    const float pos[3] = {v.x, v.y, v.z};
    float q[3];
    for (int k = 0; k < 3; ++k) q[k] = static_cast<float>((pos[k] + self.pivot[k]) * self.scale[k]);
    if (kMorph && i < target_count) {
      const float g[3] = {target[i].x, target[i].y, target[i].z};
      for (int k = 0; k < 3; ++k) q[k] = static_cast<float>(q[k] + (g[k] - double(q[k])) * f);
    }
    if (kDeform) q[0] = 2.0f * q[0];
    const double qd[3] = {q[0], q[1], q[2]};
    double w[3];
    rotate(self.r, qd, w);
    float p[3];
    for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(w[k] + self.position[k]);
    float n[3];
    if (kNormals) {
      n[0] = v.nx, n[1] = v.ny, n[2] = v.nz;
      rotate_normal(self.r, n);
    }
    for (int j = 0; j < parent_count; ++j) {
      place(*parents[j], p);
      if (kNormals) rotate_normal(parents[j]->r, n);
    }
    double d[3] = {p[0] - cam.position[0], p[1] - cam.position[1], p[2] - cam.position[2]};
    if (cam.divide_z) d[2] /= cam.zoom;
    Vertex& out = dst[i];
    out.x = static_cast<float>(cam.m[0] * d[0] + cam.m[1] * d[1] + cam.m[2] * d[2]);
    out.y = static_cast<float>(cam.m[3] * d[0] + cam.m[4] * d[1] + cam.m[5] * d[2]);
    out.z = static_cast<float>(-(cam.m[6] * d[0] + cam.m[7] * d[1] + cam.m[8] * d[2]));
    if (kNormals) out.nx = n[0], out.ny = n[1], out.nz = n[2];
  }
}

}  // namespace

void interpolate_keys(const MotionKey* keys, int count, int last_frame, float time,
                      float out[kNumChannels]) {
  if (keys == nullptr || count <= 0) {
    write_rest_pose(out);
    return;
  }
  if (count == 1) {
    std::copy(keys[0].value, keys[0].value + kNumChannels, out);
    return;
  }

  // The segment: the first key pair whose end is at or after `time`, never past the last.
  int i0 = 0;
  while (i0 + 2 < count && keys[i0 + 1].frame < time) ++i0;
  const MotionKey& k0 = keys[i0];
  const MotionKey& k1 = keys[i0 + 1];

  const double length = static_cast<double>(k1.frame) - k0.frame;
  if (!(length > 0.0)) {
    // Two keys on one frame: the later one holds from that frame on.
    std::copy(k1.value, k1.value + kNumChannels, out);
    return;
  }
  // Outside the keys the curve holds its end values rather than extrapolating the cubic.
  const double t = std::clamp((static_cast<double>(time) - k0.frame) / length, 0.0, 1.0);

  if (k1.linear) {
    for (int i = 0; i < kNumChannels; ++i)
      out[i] = static_cast<float>(k0.value[i] + t * (static_cast<double>(k1.value[i]) - k0.value[i]));
    return;
  }

  const double t2 = t * t, t3 = t * t2, z = 3.0 * t2 - 2.0 * t3;
  const double h1 = 1.0 - z, h2 = z, h3 = t3 - 2.0 * t2 + t, h4 = t3 - t2;

  const double T0 = k0.tension, C0 = k0.continuity, B0 = k0.bias;
  const double T1 = k1.tension, C1 = k1.continuity, B1 = k1.bias;
  const double a0 = (1 - T0) * (1 + C0) * (1 + B0), b0 = (1 - T0) * (1 - C0) * (1 - B0);
  const double a1 = (1 - T1) * (1 - C1) * (1 + B1), b1 = (1 - T1) * (1 + C1) * (1 - B1);

  // The ends of the curve are told by frame (0 and the motion's last frame), as LightWave
  // does; the list ends count as ends too, so there is never a neighbour to read past.
  const bool first = k0.frame == 0 || i0 == 0;
  const bool last = k1.frame == last_frame || i0 + 1 == count - 1;
  const MotionKey* kp = first ? nullptr : &keys[i0 - 1];
  const MotionKey* k2 = last ? nullptr : &keys[i0 + 2];
  const double adj0 = first ? 0.0 : spacing(length, static_cast<double>(k1.frame) - kp->frame);
  const double adj1 = last ? 0.0 : spacing(length, static_cast<double>(k2->frame) - k0.frame);

  for (int i = 0; i < kNumChannels; ++i) {
    const double v0 = k0.value[i], v1 = k1.value[i];
    const double d = v1 - v0;
    const double dd0 = first ? 0.5 * (a0 + b0) * d : adj0 * (a0 * (v0 - kp->value[i]) + b0 * d);
    const double ds1 = last ? 0.5 * (a1 + b1) * d : adj1 * (a1 * d + b1 * (k2->value[i] - v1));
    out[i] = static_cast<float>(h1 * v0 + h2 * v1 + h3 * dd0 + h4 * ds1);
  }
}

MotionSource motion_source(const Scene& scene) {
  MotionSource src;
  src.keys = scene.keys.data();
  src.key_count = scene.keys.size();
  src.envelopes = &scene.envelopes;
  src.frames_per_second = scene.motions.empty() ? 0.0 : static_cast<double>(scene.motions[0].frames_per_second);
  src.scale = scene.scale;
  return src;
}

void motion_values_at(const MotionSource& src, const Motion& h, float frame, float out[kNumChannels]) {
  if (h.envelope_first >= 0) {
    envelope_channels_at(src, h, frame, out);
    return;
  }
  // Only keys inside the pool are read, whatever the header claims.
  const int pool = static_cast<int>(src.key_count);
  int count = 0;
  if (src.keys != nullptr && h.first_key >= 0 && h.first_key < pool)
    count = std::clamp(h.key_count, 0, pool - h.first_key);
  interpolate_keys(count > 0 ? &src.keys[h.first_key] : nullptr, count, truncate_to_int(h.last_frame), frame, out);
}

void evaluate_motion(Scene& scene, int m) {
  if (m < 0 || m >= static_cast<int>(scene.motions.size())) {
    write_rest_pose(scene.channels);
    return;
  }
  const bool was_finished = scene.finished != 0;
  Motion& h = scene.motions[m];
  const Motion& timing = scene.motions[0];

  if (scene.flags & SceneFlags::BUILD_PRECALC) {
    // Recording: a fixed number of frames per rendered frame, however often the motion
    // is evaluated within it (the renderer clears `advanced` each frame).
    if (h.advanced == 0) {
      h.advanced = 1;
      h.frame = static_cast<float>(h.frame + static_cast<double>(scene.precalc.precalc_step) * h.frame_step);
      if (h.frame > h.last_frame) h.frame = h.last_frame;
    }
    if (m == 0) {
      scene.progress =
          h.last_frame == 0.0f ? 0.0f : static_cast<float>(static_cast<double>(h.frame) / h.last_frame * 100.0);
      if (h.frame >= h.last_frame) scene.finished = 1;
    }
  } else {
    scene.now = static_cast<float>(clock_now_ms());
    // Once the camera has finished, every motion restarts at the current tick: the scene
    // then holds its first frame until the sequencer moves on.
    if (h.start_tick == 0.0f || scene.finished) {
      h.start_tick = scene.now;
      scene.finished = 0;
    }
    h.frame = static_cast<float>((static_cast<double>(scene.now) - h.start_tick) * h.frame_step *
                                 timing.frames_per_second * 0.001);
    if (h.frame >= h.last_frame) {
      if (m == 0) scene.finished = 1;
      h.frame = static_cast<float>(static_cast<double>(h.last_frame) - h.frame_step);
    }
    if (m == 0) {
      scene.current_frame = truncate_to_int(h.frame);
      PrecalcState& p = scene.precalc;
      if (!p.visibility.empty()) {
        // Frames the precalculation file does not cover (or a file without a step) read
        // nothing rather than another frame's bits or memory past the stream.
        size_t cursor = p.visibility.size();
        if (p.precalc_file_step > 0 && !p.frame_table.empty() && scene.current_frame >= 0) {
          size_t index = static_cast<size_t>(scene.current_frame / p.precalc_file_step);
          if (index < p.frame_table.size()) cursor = std::min<size_t>(p.frame_table[index], p.visibility.size());
        }
        p.visibility_cursor = cursor;
      }
    }
    scene.previous_now = scene.now;
  }

  motion_values_at(motion_source(scene), h, h.frame, scene.channels);

  float* c = scene.channels;
  const float heading = c[3];
  c[3] = -c[4];
  c[4] = heading;
  c[5] = -c[5];

  if (was_finished) scene.finished = 1;
}

void object_rotation_matrix(double a, double b, double c, float m[9]) {
  const double sa = std::sin(a), ca = std::cos(a);
  const double sb = std::sin(b), cb = std::cos(b);
  const double sc = std::sin(c), cc = std::cos(c);
  m[0] = static_cast<float>(sb * sc * sa + cb * cc);
  m[1] = static_cast<float>(sb * cc * sa - cb * sc);
  m[2] = static_cast<float>(sb * ca);
  m[3] = static_cast<float>(sc * ca);
  m[4] = static_cast<float>(cc * ca);
  m[5] = static_cast<float>(-sa);
  m[6] = static_cast<float>(cb * sc * sa - sb * cc);
  m[7] = static_cast<float>(cb * cc * sa + sb * sc);
  m[8] = static_cast<float>(cb * ca);
}

void camera_rotation_matrix(double u, double v, double w, float m[9]) {
  const double su = std::sin(u), cu = std::cos(u);
  const double sv = std::sin(v), cv = std::cos(v);
  const double sw = std::sin(w), cw = std::cos(w);
  m[0] = static_cast<float>(cv * cw - su * sv * sw);
  m[1] = static_cast<float>(-cu * sw);
  m[2] = static_cast<float>(cw * sv + su * cv * sw);
  m[3] = static_cast<float>(cv * sw + su * cw * sv);
  m[4] = static_cast<float>(cw * cu);
  m[5] = static_cast<float>(sv * sw - cv * cw * su);
  m[6] = static_cast<float>(-cu * sv);
  m[7] = static_cast<float>(su);
  m[8] = static_cast<float>(cv * cu);
}

void evaluate_objects(Scene& scene) {
  const int count = std::min(scene.object_count, static_cast<int>(scene.objects.size()));
  for (int i = 0; i < count; ++i) {
    SceneObject& o = scene.objects[i];
    if (!o.static_image) {
      evaluate_motion(scene, o.motion);
      const float* c = scene.channels;
      for (int k = 0; k < 3; ++k) {
        o.position[k] = c[k];
        o.angles[k] = static_cast<float>(c[3 + k] * kDegToRad);
        scene.object_angles[k] = o.angles[k];
        o.scale[k] = c[6 + k];
      }
      object_rotation_matrix(o.angles[0], o.angles[1], o.angles[2], o.rotation);
      if (o.morph_target != -1) {
        evaluate_motion(scene, o.morph_envelope);
        o.morph_amount = static_cast<float>(unscale(scene.channels[0], scene.scale));
      }
    }
    if (o.dissolve_envelope != -1 && !o.no_dissolve) {
      evaluate_motion(scene, o.dissolve_envelope);
      // The level is an alpha byte: a spline overshooting a held 255 must not wrap round
      // to transparent, so the level is kept within 0..255.
      o.dissolve = std::clamp(truncate_to_int(unscale(scene.channels[0], scene.scale)), 0, 255);
      scene.current_dissolve = o.dissolve;
      // Translucent surfaces fade with the object.
      for (Surface& s : o.surfaces)
        if (s.opacity < 1.0f) s.alpha = static_cast<int>(std::lround(o.dissolve * static_cast<double>(s.opacity)));
    }
  }
}

void evaluate_camera(Scene& scene) {
  evaluate_motion(scene, 0);
  const float* c = scene.channels;
  for (int k = 0; k < 3; ++k) {
    scene.camera_position[k] = c[k];
    scene.camera_angles[k] = static_cast<float>(c[3 + k] * kDegToRad);
  }

  int chain[kMaxObjects];
  const int links = collect_parents(scene, scene.camera_parent, chain);
  for (int j = 0; j < links; ++j) {
    const SceneObject& parent = scene.objects[chain[j]];
    place(affine_of(parent), scene.camera_position);
    // The camera's heading channel runs the other way round from an object's.
    scene.camera_angles[0] = static_cast<float>(double(scene.camera_angles[0]) + parent.angles[0]);
    scene.camera_angles[1] = static_cast<float>(double(scene.camera_angles[1]) - parent.angles[1]);
    scene.camera_angles[2] = static_cast<float>(double(scene.camera_angles[2]) + parent.angles[2]);
  }
  camera_rotation_matrix(scene.camera_angles[0], scene.camera_angles[1], scene.camera_angles[2],
                         scene.camera_matrix);

  // Without an envelope the zoom is 1: the static "ZoomFactor" of the file is not applied.
  if (scene.zoom_envelope == -1) {
    scene.zoom_factor = 1.0f;
  } else {
    evaluate_motion(scene, scene.zoom_envelope);
    scene.zoom_factor = static_cast<float>(unscale(scene.channels[0], scene.scale) * kZoomNormalise);
  }
}

void evaluate_light(Scene& scene, int m) {
  // An animated intensity (LightWave 6) follows its envelope.
  const int lights = std::min(scene.light_count, static_cast<int>(scene.lights.size()));
  for (int i = 0; i < lights; ++i) {
    SceneLight& light = scene.lights[i];
    if (light.motion != m || light.intensity_envelope < 0) continue;
    evaluate_motion(scene, light.intensity_envelope);
    light.intensity = static_cast<float>(unscale(scene.channels[0], scene.scale));
  }
  evaluate_motion(scene, m);
  const float* c = scene.channels;
  for (int k = 0; k < 3; ++k) {
    scene.light_position[k] = c[k];
    scene.light_angles[k] = static_cast<float>(c[3 + k] * kDegToRad);
  }
  object_rotation_matrix(scene.light_angles[0], scene.light_angles[1], scene.light_angles[2],
                         scene.light_matrix);
}

void transform_object(Scene& scene) {
  const int index = scene.object_index;
  if (index < 0 || index >= static_cast<int>(scene.objects.size())) return;
  SceneObject& o = scene.objects[index];

  // The loader sizes both arrays to vertex_count; never trust one count alone.
  int count = std::max(o.vertex_count, 0);
  count = std::min<int>(count, static_cast<int>(o.vertices.size()));
  if (o.transformed.size() < static_cast<size_t>(count)) count = static_cast<int>(o.transformed.size());
  if (count == 0) return;

  const Affine self = affine_of(o);
  int chain[kMaxObjects];
  const int links = collect_parents(scene, o.parent, chain);
  Affine parents[kMaxObjects];
  const Affine* parent_ptrs[kMaxObjects];
  for (int j = 0; j < links; ++j) {
    parents[j] = affine_of(scene.objects[chain[j]]);
    parent_ptrs[j] = &parents[j];
  }

  CameraView cam{};
  for (int k = 0; k < 3; ++k) cam.position[k] = scene.camera_position[k];
  for (int k = 0; k < 9; ++k) cam.m[k] = scene.camera_matrix[k];
  cam.zoom = scene.zoom_factor;
  // A zero zoom (an envelope keyed at 0) would put every vertex at infinite depth.
  cam.divide_z = scene.zoom_factor != 1.0f && scene.zoom_factor != 0.0f;

  // A morph target with fewer points than the object morphs only the points they share.
  const Vertex* target = nullptr;
  int target_count = 0;
  const bool morph = o.morph_target != -1;
  if (morph && o.morph_target >= 0 && o.morph_target < static_cast<int>(scene.objects.size())) {
    const SceneObject& t = scene.objects[o.morph_target];
    target = t.vertices.data();
    target_count = std::min<int>(count, static_cast<int>(t.vertices.size()));
  }

  const Vertex* src = o.vertices.data();
  Vertex* dst = o.transformed.data();
  const bool normals = o.needs_normals != 0;
  const bool deform = o.deform == 1 && !morph && !normals;
  if (morph) {
    if (normals)
      transform_vertices<true, false, true>(o, src, dst, count, target, target_count, self, parent_ptrs, links, cam);
    else
      transform_vertices<true, false, false>(o, src, dst, count, target, target_count, self, parent_ptrs, links, cam);
  } else if (normals) {
    transform_vertices<false, false, true>(o, src, dst, count, nullptr, 0, self, parent_ptrs, links, cam);
  } else if (deform) {
    transform_vertices<false, true, false>(o, src, dst, count, nullptr, 0, self, parent_ptrs, links, cam);
  } else {
    transform_vertices<false, false, false>(o, src, dst, count, nullptr, 0, self, parent_ptrs, links, cam);
  }
}

}  // namespace orvl
