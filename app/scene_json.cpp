#include "app/scene_json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "export/json_text.h"
#include "object/object_loader.h"

namespace orvl {

namespace {

using json = nlohmann::ordered_json;

int in_table(int count, size_t size) { return std::max(0, std::min(count, static_cast<int>(size))); }

std::string triple_text(const float* v) {
  return float_text(v[0]) + " " + float_text(v[1]) + " " + float_text(v[2]);
}

}  // namespace

std::string float_text(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

SceneJson json_float(float v) {
  if (!std::isfinite(v)) return nullptr;  // JSON has no infinities
  return std::strtod(float_text(v).c_str(), nullptr);
}

SceneJson json_floats(const float* v, int n) {
  json a = json::array();
  for (int i = 0; i < n; ++i) a.push_back(json_float(v[i]));
  return a;
}

SceneJson json_text(const std::string& text) { return utf8_text(text); }

void add_object_counts(SceneJson& j, const SceneObject& o) {
  j["polygon_count"] = o.polygon_count;
  j["vertex_count"] = o.vertex_count;
  j["surface_count"] = o.surface_count;
}

void add_object_flags(SceneJson& j, const SceneObject& o) {
  j["deform"] = o.deform;
  j["needs_normals"] = o.needs_normals;
  j["metaform"] = o.metaform;
  j["no_dissolve"] = o.no_dissolve;
  j["plots"] = o.plots;
  j["particles"] = o.particles;
  j["static_image"] = o.static_image;
}

std::string object_counts_text(const SceneObject& o) {
  return "polygon_count " + std::to_string(o.polygon_count) + " vertex_count " + std::to_string(o.vertex_count) +
         " surface_count " + std::to_string(o.surface_count);
}

std::string object_flags_text(const SceneObject& o) {
  return "deform " + std::to_string(o.deform) + " needs_normals " + std::to_string(o.needs_normals) +
         " metaform " + std::to_string(o.metaform) + " no_dissolve " + std::to_string(o.no_dissolve) +
         " plots " + std::to_string(o.plots) + " particles " + std::to_string(o.particles) +
         " static_image " + std::to_string(o.static_image);
}

namespace {

json bytes3(const uint8_t* c) { return {c[0], c[1], c[2]}; }
std::string bytes3_text(const uint8_t* c) {
  return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
}
std::string floats_text(const float* v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + float_text(v[i]);
  return s;
}
// Index of a triangle's surface in the object's table, -1 without one.
long surface_index(const SceneObject& o, const Triangle& t) {
  return t.surface ? static_cast<long>(t.surface - o.surfaces.data()) : -1;
}
std::string hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*x", digits, v);
  return buf;
}

}  // namespace

SceneJson lw_surface_json(const LwSurfaceParams& lw) {
  using json = SceneJson;
  static const char kHex[] = "0123456789abcdef";
  json layers = json::array();
  for (const LwTextureLayer& l : lw.layers) {
    std::string ordinal;
    for (unsigned char c : l.ordinal) ordinal += std::string{kHex[c >> 4], kHex[c & 15]};
    layers.push_back({
        {"channel", lw_channel_name(l.channel)},
        {"image_map", l.image_map},
        {"enabled", l.enabled},
        {"projection", lw_projection_name(l.projection)},
        {"axis", l.axis},
        {"world_coordinates", l.world_coordinates},
        {"negative", l.negative},
        {"pixel_blending", l.pixel_blending},
        {"antialiasing", l.antialiasing},
        {"lwob_flags", l.lwob_flags},
        {"center", json_floats(l.center, 3)},
        {"size", json_floats(l.size, 3)},
        {"rotation", json_floats(l.rotation, 3)},
        {"falloff", json_floats(l.falloff, 3)},
        {"falloff_type", lw_texture_falloff_name(l.falloff_type)},
        {"velocity", json_floats(l.velocity, 3)},
        {"wrap_u", lw_wrap_name(l.wrap_u)},
        {"wrap_v", lw_wrap_name(l.wrap_v)},
        {"wrap_width", json_float(l.wrap_width)},
        {"wrap_height", json_float(l.wrap_height)},
        {"opacity", json_float(l.opacity)},
        {"blend", lw_blend_name(l.blend)},
        {"antialias_strength", json_float(l.antialias_strength)},
        {"amplitude", json_float(l.amplitude)},
        {"ordinal", ordinal},
        {"image_path", json_text(l.image_path)},
        {"uv_map", json_text(l.uv_map)},
        {"procedural", json_text(l.procedural)},
        {"image", l.image},
        {"image_width", l.image_width},
        {"image_height", l.image_height},
        {"texture_side", l.texture_side},
        {"coverage", json_floats(l.coverage, 2)},
    });
  }
  json decoded = json::array();
  for (const LwDecodedImage& d : lw.decoded)
    decoded.push_back({{"width", d.width}, {"height", d.height}, {"side", d.side},
                       {"coverage", json_floats(d.coverage, 2)}});
  return {
      {"color", json_floats(lw.color, 3)},
      {"diffuse", json_float(lw.diffuse)},
      {"specular", json_float(lw.specular)},
      {"glossiness", json_float(lw.glossiness)},
      {"gloss_exponent", json_float(lw.gloss_exponent)},
      {"luminosity", json_float(lw.luminosity)},
      {"transparency", json_float(lw.transparency)},
      {"reflection", json_float(lw.reflection)},
      {"refraction_index", json_float(lw.refraction_index)},
      {"translucency", json_float(lw.translucency)},
      {"diffuse_sharpness", json_float(lw.diffuse_sharpness)},
      {"color_highlights", json_float(lw.color_highlights)},
      {"color_filter", json_float(lw.color_filter)},
      {"smoothing_angle", json_float(lw.smoothing_angle)},
      {"double_sided", lw.double_sided},
      {"additive", lw.additive},
      {"lwob_flags", lw.lwob_flags},
      {"reflection_image", json_text(lw.reflection_image)},
      {"reflection_mode", lw.reflection_mode},
      {"layers", std::move(layers)},
      {"decoded", std::move(decoded)},
  };
}

void add_object_geometry(SceneJson& j, const SceneObject& o) {
  json surfaces = json::array();
  for (const Surface& s : o.surfaces) {
    surfaces.push_back({
        {"name", json_text(s.name)},
        {"color", bytes3(s.color)},
        {"lw_flags", s.lw_flags},
        {"axis", s.axis},
        {"flags", surface_triangle_flags(s)},
        {"texture", s.texture},
        {"reflection_texture", s.reflection_texture},
        {"image_path", json_text(s.image_path)},
        {"reflection_path", json_text(s.reflection_path)},
        {"scroll_flags", s.scroll_flags},
        {"line_width", s.line_width},
        {"box", json_floats(s.box, 6)},
        {"extent", json_floats(s.extent, 3)},
        {"texture_width", s.texture_width},
        {"texture_height", s.texture_height},
        {"image_width", s.image_width},
        {"image_height", s.image_height},
    });
  }
  j["surfaces"] = std::move(surfaces);
  json vertices = json::array();
  for (const Vertex& v : o.vertices)
    vertices.push_back({{"position", json_floats(&v.x, 3)}, {"normal", json_floats(&v.nx, 3)}});
  j["vertices"] = std::move(vertices);
  json polygons = json::array();
  for (const Triangle& t : o.polygons) {
    polygons.push_back({
        {"corners", {t.corners[0], t.corners[1], t.corners[2]}},
        {"surface", surface_index(o, t)},
        {"color", bytes3(t.color)},
        {"uv", json_floats(t.uv, 6)},
        {"normal", json_floats(t.normal, 3)},
        {"texture", t.texture},
        {"reflection_texture", t.reflection_texture},
        {"flags", t.flags},
    });
  }
  j["polygons"] = std::move(polygons);
}

std::string object_geometry_text(const SceneObject& o) {
  std::string out = "surfaces:\n";
  for (size_t i = 0; i < o.surfaces.size(); ++i) {
    const Surface& s = o.surfaces[i];
    out += "  [" + std::to_string(i) + "] \"" + s.name + "\" color " + bytes3_text(s.color) + " lw_flags " +
           hex(s.lw_flags, 4) + " axis " + std::to_string(s.axis) + " flags " + hex(surface_triangle_flags(s), 4) +
           " texture " + std::to_string(s.texture) + " reflection_texture " + std::to_string(s.reflection_texture) +
           " image_path \"" + s.image_path + "\" reflection_path \"" + s.reflection_path + "\" scroll_flags " +
           hex(s.scroll_flags, 1) + " line_width " + std::to_string(s.line_width) + " texture_size " +
           std::to_string(s.texture_width) + "x" + std::to_string(s.texture_height) + " image_size " +
           std::to_string(s.image_width) + "x" + std::to_string(s.image_height) + "\n";
  }
  out += "points:\n";
  for (size_t i = 0; i < o.vertices.size(); ++i) {
    const Vertex& v = o.vertices[i];
    out += "  [" + std::to_string(i) + "] " + floats_text(&v.x, 3) + " normal " + floats_text(&v.nx, 3) + "\n";
  }
  out += "triangles:\n";
  for (size_t i = 0; i < o.polygons.size(); ++i) {
    const Triangle& t = o.polygons[i];
    out += "  [" + std::to_string(i) + "] corners " + std::to_string(t.corners[0]) + " " +
           std::to_string(t.corners[1]) + " " + std::to_string(t.corners[2]) + " surface " +
           std::to_string(surface_index(o, t)) + " color " + bytes3_text(t.color) + " uv " + floats_text(t.uv, 6) +
           " normal " + floats_text(t.normal, 3) + " texture " + std::to_string(t.texture) +
           " reflection_texture " + std::to_string(t.reflection_texture) + " flags " + hex(t.flags, 4) + "\n";
  }
  return out;
}

SceneJson motion_json(const Scene& scene, int index) {
  const Motion& m = scene.motions[index];
  json j = {
      {"index", index},
      {"channel_count", m.channel_count},
      {"first_key", m.first_key},
      {"key_count", m.key_count},
      {"end_behavior", m.end_behavior},
      {"first_frame", json_float(m.first_frame)},
      {"frame_step", json_float(m.frame_step)},
      {"last_frame", json_float(m.last_frame)},
  };
  if (index == 0) j["frames_per_second"] = json_float(m.frames_per_second);
  json keys = json::array();
  const int pool = static_cast<int>(scene.keys.size());
  for (int k = 0; k < m.key_count; ++k) {
    const int at = m.first_key + k;
    if (at < 0 || at >= pool) break;
    const MotionKey& key = scene.keys[at];
    keys.push_back({
        {"value", json_floats(key.value, kNumChannels)},
        {"tension", json_float(key.tension)},
        {"continuity", json_float(key.continuity)},
        {"bias", json_float(key.bias)},
        {"linear", key.linear},
        {"frame", key.frame},
    });
  }
  j["keys"] = std::move(keys);
  if (m.envelope_first >= 0) {
    // LightWave 6: every channel with its own keys, shapes and behaviours.
    static const char* const kUses[] = {"value", "dissolve", "zoom"};
    if (m.channel_count == 1) j["use"] = m.envelope_use < 3 ? kUses[m.envelope_use] : "unknown";
    json channels = json::array();
    const SceneEnvelopes& env = scene.envelopes;
    for (int c = 0; c < m.channel_count; ++c) {
      const size_t at = static_cast<size_t>(m.envelope_first) + static_cast<size_t>(c);
      if (at >= env.channels.size()) break;
      const ChannelEnvelope& ch = env.channels[at];
      json ck = json::array();
      for (int k = 0; k < ch.key_count; ++k) {
        const size_t kk = static_cast<size_t>(ch.first_key) + static_cast<size_t>(k);
        if (kk >= env.keys.size()) break;
        const EnvKey& key = env.keys[kk];
        ck.push_back({{"time", json_float(key.time)},
                      {"value", json_float(key.value)},
                      {"shape", span_shape_name(key.shape)},
                      {"parameters", json_floats(key.p, 6)}});
      }
      json cj = {{"channel", c},
                 {"pre", env_behavior_name(ch.pre)},
                 {"post", env_behavior_name(ch.post)},
                 {"keys", std::move(ck)}};
      if (ch.key_count == 0) cj["constant"] = json_float(ch.constant);
      channels.push_back(std::move(cj));
    }
    j["channels"] = std::move(channels);
  }
  return j;
}

SceneJson object_json(const Scene& scene, int index) {
  const SceneObject& o = scene.objects[index];
  json j = {
      {"index", index},
      {"file_name", json_text(o.file_name)},
      {"loaded_path", json_text(o.loaded_path)},
  };
  if (o.missing) j["missing"] = true;
  add_object_counts(j, o);
  j["motion"] = o.motion;
  j["parent"] = o.parent;
  j["pivot"] = json_floats(o.pivot, 3);
  j["morph_target"] = o.morph_target;
  j["morph_envelope"] = o.morph_envelope;
  j["is_morph_target"] = o.is_morph_target;
  j["dissolve_envelope"] = o.dissolve_envelope;
  add_object_flags(j, o);
  return j;
}

SceneJson light_json(const Scene& scene, int index) {
  const SceneLight& l = scene.lights[index];
  return {
      {"index", index},
      {"color", json_floats(l.color, 3)},
      {"intensity", json_float(l.intensity)},
      {"type", l.type},
      {"motion", l.motion},
      {"intensity_envelope", l.intensity_envelope},
  };
}

SceneJson scene_json(const Scene& scene, SceneStatus status) {
  json j = {
      {"file", json_text(scene.path)},
      {"status", static_cast<int>(status)},
      {"status_text", scene_failure_text(scene, status)},
      {"error_path", json_text(scene.error_path)},
      {"loaded", scene.loaded},
  };
  if (status != SceneStatus::ok || scene.motions.empty()) return j;

  const Motion& h0 = scene.motions[0];
  j["format_version"] = scene.envelopes.format_version;
  j["first_frame"] = json_float(h0.first_frame);
  j["last_frame"] = json_float(h0.last_frame);
  j["frame_step"] = json_float(h0.frame_step);
  j["frames_per_second"] = json_float(h0.frames_per_second);
  j["object_count"] = scene.object_count;
  j["light_count"] = scene.light_count;
  j["motion_count"] = scene.motion_count;
  j["image_count"] = scene.image_count;
  j["polygon_total"] = scene.polygon_total;
  j["next_key"] = scene.next_key;

  json objects = json::array();
  for (int i = 0; i < in_table(scene.object_count, scene.objects.size()); ++i)
    objects.push_back(object_json(scene, i));
  j["objects"] = std::move(objects);
  json motions = json::array();
  for (int i = 0; i < in_table(scene.motion_count, scene.motions.size()); ++i)
    motions.push_back(motion_json(scene, i));
  j["motions"] = std::move(motions);
  json lights = json::array();
  for (int i = 0; i < in_table(scene.light_count, scene.lights.size()); ++i)
    lights.push_back(light_json(scene, i));
  j["lights"] = std::move(lights);

  j["camera_parent"] = scene.camera_parent;
  j["zoom_envelope"] = scene.zoom_envelope;
  j["zoom_factor"] = json_float(scene.zoom_factor);
  j["ambient_color"] = json_floats(scene.ambient_color, 3);
  j["ambient_intensity"] = json_float(scene.ambient_intensity);
  j["backdrop_color"] = json_floats(scene.backdrop_color, 3);
  j["view_zoom_factor"] = json_float(scene.view_zoom_factor);
  json images = json::array();
  for (int i = 0; i < in_table(scene.image_count, scene.image_names.size()); ++i)
    images.push_back(json_text(scene.image_names[i]));
  j["image_names"] = std::move(images);
  return j;
}

std::string scene_text(const Scene& scene, SceneStatus status) {
  std::string out = "scene " + scene.path + "\n";
  out += "status " + std::to_string(static_cast<int>(status)) + " (" + scene_status_text(status) + ")";
  if (!scene.error_path.empty()) out += " error_path " + scene.error_path;
  out += "\n";
  if (status != SceneStatus::ok || scene.motions.empty()) return out;

  const Motion& h0 = scene.motions[0];
  if (scene.envelopes.format_version != 1)
    out += "format LWSC " + std::to_string(scene.envelopes.format_version) + "\n";
  out += "timing first_frame " + float_text(h0.first_frame) + " last_frame " + float_text(h0.last_frame) +
         " frame_step " + float_text(h0.frame_step) + " frames_per_second " +
         float_text(h0.frames_per_second) + "\n";

  const int objects = in_table(scene.object_count, scene.objects.size());
  out += "objects " + std::to_string(objects) + "\n";
  for (int i = 0; i < objects; ++i) {
    const SceneObject& o = scene.objects[i];
    out += "  object " + std::to_string(i) + " " + (o.file_name.empty() ? "(null)" : o.file_name);
    if (!o.loaded_path.empty()) out += " <- " + o.loaded_path;
    if (o.missing) out += " (missing: a null object)";
    out += "\n    " + object_counts_text(o) + " motion " + std::to_string(o.motion) + " parent " + std::to_string(o.parent) + " pivot " +
           triple_text(o.pivot) + "\n";
    out += "    morph_target " + std::to_string(o.morph_target) + " morph_envelope " +
           std::to_string(o.morph_envelope) + " is_morph_target " + std::to_string(o.is_morph_target) +
           " dissolve_envelope " + std::to_string(o.dissolve_envelope) + "\n";
    out += "    flags " + object_flags_text(o) + "\n";
  }

  const int motions = in_table(scene.motion_count, scene.motions.size());
  out += "motions " + std::to_string(motions) + " keys " + std::to_string(scene.next_key) + "\n";
  for (int i = 0; i < motions; ++i) {
    const Motion& m = scene.motions[i];
    out += "  motion " + std::to_string(i) + " channel_count " + std::to_string(m.channel_count) +
           " first_key " + std::to_string(m.first_key) + " key_count " + std::to_string(m.key_count) +
           " end_behavior " + std::to_string(m.end_behavior) + " first_frame " + float_text(m.first_frame) +
           " frame_step " + float_text(m.frame_step) + " last_frame " + float_text(m.last_frame) + "\n";
    for (int k = 0; k < m.key_count; ++k) {
      const int at = m.first_key + k;
      if (at < 0 || at >= static_cast<int>(scene.keys.size())) break;
      const MotionKey& key = scene.keys[at];
      out += "    key " + std::to_string(k) + " frame " + std::to_string(key.frame) + " value";
      for (float v : key.value) out += " " + float_text(v);
      out += " tension " + float_text(key.tension) + " continuity " + float_text(key.continuity) +
             " bias " + float_text(key.bias) + " linear " + std::to_string(key.linear) + "\n";
    }
    for (int c = 0; m.envelope_first >= 0 && c < m.channel_count; ++c) {
      const size_t at = static_cast<size_t>(m.envelope_first) + static_cast<size_t>(c);
      if (at >= scene.envelopes.channels.size()) break;
      const ChannelEnvelope& ch = scene.envelopes.channels[at];
      out += "    channel " + std::to_string(c) + " pre " + env_behavior_name(ch.pre) + " post " +
             env_behavior_name(ch.post) + " keys " + std::to_string(ch.key_count);
      if (ch.key_count == 0) out += " constant " + float_text(ch.constant);
      out += "\n";
      for (int k = 0; k < ch.key_count; ++k) {
        const size_t kk = static_cast<size_t>(ch.first_key) + static_cast<size_t>(k);
        if (kk >= scene.envelopes.keys.size()) break;
        const EnvKey& key = scene.envelopes.keys[kk];
        out += "      key time " + float_text(key.time) + " value " + float_text(key.value) + " shape " +
               span_shape_name(key.shape);
        for (float p : key.p) out += " " + float_text(p);
        out += "\n";
      }
    }
  }

  const int lights = in_table(scene.light_count, scene.lights.size());
  out += "lights " + std::to_string(lights) + "\n";
  for (int i = 0; i < lights; ++i) {
    const SceneLight& l = scene.lights[i];
    out += "  light " + std::to_string(i) + " color " + triple_text(l.color) + " intensity " +
           float_text(l.intensity) + " type " + std::to_string(l.type) + " motion " + std::to_string(l.motion) +
           "\n";
  }
  out += "camera camera_parent " + std::to_string(scene.camera_parent);
  if (scene.zoom_envelope >= 0) out += " zoom_envelope " + std::to_string(scene.zoom_envelope);
  else out += " zoom_factor " + float_text(scene.zoom_factor);
  out += "\n";
  out += "ambient_color " + triple_text(scene.ambient_color) + " ambient_intensity " +
         float_text(scene.ambient_intensity) + "\n";
  out += "backdrop_color " + triple_text(scene.backdrop_color) + "\n";
  out += "view_zoom_factor " + float_text(scene.view_zoom_factor) + "\n";
  const int images = in_table(scene.image_count, scene.image_names.size());
  out += "image_names " + std::to_string(images) + "\n";
  for (int i = 0; i < images; ++i) out += "  " + std::to_string(i) + " " + scene.image_names[i] + "\n";
  return out;
}

}  // namespace orvl
