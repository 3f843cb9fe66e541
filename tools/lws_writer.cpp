#include "tools/lws_writer.h"

#include <charconv>
#include <cmath>

#include "platform/file.h"

namespace orvl {

std::string lws_number(float v) {
  char buf[128];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (r.ec != std::errc()) return "0";
  std::string s(buf, r.ptr);
  return s == "-0" ? "0" : s;
}

namespace {

class Out {
 public:
  explicit Out(bool crlf) : eol_(crlf ? "\r\n" : "\n") {}
  Out& line(const std::string& s) {
    text_ += s;
    text_ += eol_;
    return *this;
  }
  // Free text written by the caller with "\n" line ends.
  void block(const std::string& s) {
    for (char c : s) {
      if (c == '\n') text_ += eol_;
      else text_ += c;
    }
  }
  std::string take() { return std::move(text_); }

 private:
  std::string eol_;
  std::string text_;
};

std::string tcb_line(int frame, int linear, float t, float c, float b) {
  return "  " + std::to_string(frame) + " " + std::to_string(linear) + " " + lws_number(t) + " " +
         lws_number(c) + " " + lws_number(b);
}

void motion(Out& o, const char* keyword, const std::vector<LwsKey>& keys, int end_behavior) {
  o.line(std::string(keyword) + " (unnamed)");
  o.line("  9");
  o.line("  " + std::to_string(keys.size()));
  for (const LwsKey& k : keys) {
    std::string values = " ";
    for (float v : k.value) values += " " + lws_number(v);
    o.line(values);
    o.line(tcb_line(k.frame, k.linear, k.tension, k.continuity, k.bias));
  }
  o.line("EndBehavior " + std::to_string(end_behavior));
}

void envelope(Out& o, const std::string& keyword, const LwsEnvelope& env) {
  o.line(keyword + " (envelope)");
  o.line("  1");
  o.line("  " + std::to_string(env.keys.size()));
  for (const LwsEnvelopeKey& k : env.keys) {
    o.line("  " + lws_number(k.value));
    o.line(tcb_line(k.frame, k.linear, k.tension, k.continuity, k.bias));
  }
  o.line("EndBehavior " + std::to_string(env.end_behavior));
}

std::string triple(const std::array<int, 3>& v) {
  return std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]);
}

}  // namespace

std::string write_lws(const LwsScene& s) {
  Out o(s.crlf);
  o.line("LWSC").line("1").line("");
  o.line("FirstFrame " + lws_number(s.first_frame));
  o.line("LastFrame " + lws_number(s.last_frame));
  o.line("FrameStep " + lws_number(s.frame_step));
  if (s.preview_range) {
    o.line("PreviewFirstFrame " + lws_number(s.preview_first));
    o.line("PreviewLastFrame " + lws_number(s.preview_last));
    o.line("PreviewFrameStep " + lws_number(s.preview_step));
  }
  o.line("FramesPerSecond " + lws_number(s.frames_per_second)).line("");

  for (const LwsObject& obj : s.objects) {
    if (obj.load_path.empty()) {
      o.line("AddNullObject " + obj.null_name);
    } else {
      o.line("LoadObject " + obj.load_path);
    }
    o.line("ShowObject 8 7");
    motion(o, "ObjectMotion", obj.motion, obj.end_behavior);
    if (obj.pivot)
      o.line("PivotPoint " + lws_number((*obj.pivot)[0]) + " " + lws_number((*obj.pivot)[1]) + " " +
             lws_number((*obj.pivot)[2]));
    if (obj.parent > 0) o.line("ParentObject " + std::to_string(obj.parent));
    if (obj.metamorph) {
      envelope(o, "Metamorph", *obj.metamorph);
      o.line("MorphTarget " + std::to_string(obj.morph_target));
      o.line("MorphSurfaces 0");
    }
    if (obj.dissolve) envelope(o, "ObjDissolve", *obj.dissolve);
    o.line("ShadowOptions 7").line("");
  }

  o.line("AmbientColor " + triple(s.ambient_color));
  o.line("AmbIntensity " + lws_number(s.ambient_intensity)).line("");

  for (const LwsLight& l : s.lights) {
    o.line("AddLight").line("LightName " + l.name).line("ShowLight 1 7");
    motion(o, "LightMotion", l.motion, l.end_behavior);
    if (l.parent > 0) o.line("ParentObject " + std::to_string(l.parent));
    o.line("LightColor " + triple(l.color));
    o.line("LgtIntensity " + lws_number(l.intensity));
    o.line("LightType " + std::to_string(l.type));
    o.line("ShadowType 1").line("");
  }

  o.line("ShowCamera 1 7");
  motion(o, "CameraMotion", s.camera.motion, s.camera.end_behavior);
  if (s.camera.parent > 0) o.line("ParentObject " + std::to_string(s.camera.parent));
  if (s.camera.zoom_envelope) envelope(o, "ZoomFactor", *s.camera.zoom_envelope);
  else o.line("ZoomFactor " + lws_number(s.camera.zoom_factor));
  o.line("Resolution 1").line("Antialiasing 0");
  o.block(s.camera_settings);
  o.line("");
  o.line("SolidBackdrop 1");
  o.line("BackdropColor " + triple(s.backdrop_color));
  o.line("ZenithColor 0 40 80").line("SkyColor 120 180 240").line("");
  if (s.write_view_zoom) {
    o.line("ViewMode 5");
    o.line("ViewZoomFactor " + lws_number(s.view_zoom_factor));
  }
  return o.take();
}

bool write_lws_file(const std::string& path, const LwsScene& scene) {
  std::string text = write_lws(scene);
  return write_whole_file(path, text.data(), text.size());
}

}  // namespace orvl
