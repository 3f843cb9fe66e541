#include "tools/lwsc_writer.h"

#include <charconv>
#include <cstdio>

#include "platform/file.h"

namespace orvl {

namespace {

std::string num(double v) {
  char buf[64];
  // Shortest round trip of the float the reader will store.
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

std::string hex_id(uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", id);
  return buf;
}

void envelope(std::string& o, const LwscScene& s, int32_t e, float rest = 0) {
  o += "{ Envelope\n";
  if (e < 0 || static_cast<size_t>(e) >= s.envelopes.size()) {
    o += "  1\n  Key " + num(rest) + " 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n";
    return;
  }
  const LwscEnvelope& env = s.envelopes[e];
  o += "  " + std::to_string(env.key_count) + "\n";
  for (uint32_t i = 0; i < env.key_count && env.first_key + i < s.keys.size(); ++i) {
    const EnvKey& k = s.keys[env.first_key + i];
    o += "  Key " + num(k.value) + " " + num(k.time) + " " + std::to_string(static_cast<int>(k.shape));
    for (float p : k.p) o += " " + num(p);
    o += "\n";
  }
  o += "  Behaviors " + std::to_string(static_cast<int>(env.pre)) + " " +
       std::to_string(static_cast<int>(env.post)) + "\n}\n";
}

void animated(std::string& o, const LwscScene& s, const char* keyword, float value, int32_t env) {
  if (env >= 0) {
    o += std::string(keyword) + " (envelope)\n";
    envelope(o, s, env);
  } else {
    o += std::string(keyword) + " " + num(value) + "\n";
  }
}

}  // namespace

std::string write_lwsc(const LwscScene& s, const LwscWriteOptions& opt) {
  std::string o = "LWSC\n" + std::to_string(s.version) + "\n\n";
  o += "FirstFrame " + num(s.first_frame) + "\nLastFrame " + num(s.last_frame) + "\nFrameStep " +
       num(s.frame_step) + "\nFramesPerSecond " + num(s.frames_per_second) + "\n\n";
  auto id_text = [&](const LwscItem& it) { return opt.item_ids ? hex_id(it.id) + " " : std::string(); };
  for (const LwscItem& it : s.items) {
    switch (it.kind) {
      case LwscItemKind::object:
        o += "LoadObjectLayer " + std::to_string(it.layer) + " " + id_text(it) + it.path + "\n";
        break;
      case LwscItemKind::null_object:
        o += "AddNullObject " + id_text(it) + it.path + "\n";
        break;
      case LwscItemKind::light:
        o += "AddLight" + (opt.item_ids ? " " + hex_id(it.id) : std::string()) + "\n";
        if (!it.name.empty()) o += "LightName " + it.name + "\n";
        break;
      case LwscItemKind::camera:
        o += "AddCamera" + (opt.item_ids ? " " + hex_id(it.id) : std::string()) + "\n";
        if (!it.name.empty()) o += "CameraName " + it.name + "\n";
        break;
    }
    const char* motion = it.kind == LwscItemKind::light    ? "LightMotion"
                         : it.kind == LwscItemKind::camera ? "CameraMotion"
                                                           : "ObjectMotion";
    o += std::string(motion) + "\nNumChannels " + std::to_string(it.channel_count) + "\n";
    for (int c = 0; c < it.channel_count && c < kLwscChannels; ++c) {
      o += "Channel " + std::to_string(c) + "\n";
      envelope(o, s, it.channels[c], c >= 6 ? 1.0f : 0.0f);
    }
    if (it.has_parent) o += "ParentItem " + hex_id(it.parent_id) + "\n";
    if (it.kind == LwscItemKind::object || it.kind == LwscItemKind::null_object) {
      o += "PivotPosition " + num(it.pivot[0]) + " " + num(it.pivot[1]) + " " + num(it.pivot[2]) + "\n";
      animated(o, s, "ObjectDissolve", it.dissolve, it.dissolve_envelope);
    } else if (it.kind == LwscItemKind::light) {
      o += "LightColor " + num(it.color[0]) + " " + num(it.color[1]) + " " + num(it.color[2]) + "\n";
      animated(o, s, "LightIntensity", it.intensity, it.intensity_envelope);
      o += "LightType " + std::to_string(it.light_type) + "\n";
    } else {
      animated(o, s, "ZoomFactor", it.zoom, it.zoom_envelope);
    }
    o += opt.extra_lines;
    if (!opt.extra_lines.empty() && opt.extra_lines.back() != '\n') o += "\n";
    o += "\n";
  }
  o += "AmbientColor " + num(s.ambient_color[0]) + " " + num(s.ambient_color[1]) + " " +
       num(s.ambient_color[2]) + "\nAmbientIntensity " + num(s.ambient_intensity) + "\n";
  o += "BackdropColor " + num(s.backdrop_color[0]) + " " + num(s.backdrop_color[1]) + " " +
       num(s.backdrop_color[2]) + "\n";
  return o;
}

bool write_lwsc_file(const std::string& path, const LwscScene& scene, const LwscWriteOptions& options) {
  const std::string text = write_lwsc(scene, options);
  return write_whole_file(path, text.data(), text.size());
}

}  // namespace orvl
