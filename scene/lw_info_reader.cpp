// What LightWave's own look reads from a scene file beyond the engine's tables (the record of
// scene/lw_info.h), for both generations. A separate, tolerant pass over the same text: the
// engine's LightWave 5 parser is a strict forward scanner whose reading must not change, so
// this one looks at every line on its own, knows which item it is in by the item keywords
// (LoadObject, LoadObjectLayer, AddNullObject, AddLight, AddCamera; LightWave 5 writes its
// one camera from ShowCamera/CameraMotion on) and ignores whatever it does not know.
//
// Keywords and units, from the LightWave 4.0 scene file document (LWSC 1), the LightWave 6
// SDK scene file page (LWSC 3) and the real files of both generations:
//   LWSC 1 and 2 write colours as 0..255 integers, later versions as 0..1 floats.
//   Spot angles are degrees in every version (ConeAngle/EdgeAngle, LightConeAngle/...).
//   LWSC 1 "Falloff f" is a linear falloff of f per unit of distance (none when 0); later
//   LightWave 5 files write "LightFalloff n" with "LightRange", LWSC 3 "LightFalloffType n".
//   "Resolution n" (LWSC 1/2) is the size preset -1..3: 160x120 up to 2560x1920;
//   "CustomSize"/"FrameSize" give the size outright. "PixelAspectRatio n" (LWSC 1/2) is the
//   preset 0 D2 NTSC 0.86, 1 D1 NTSC 0.9, 2 square, 3 D1 PAL 1.0667, -1 "CustomPixelRatio";
//   LWSC 3 writes "PixelAspect f".
//   "CurrentCamera n" (LWSC 3+) counts cameras from 0 in file order.
// A value written as "(envelope)" is an envelope: LightWave 5's light intensity envelope is
// kept whole (the engine has none); for the values this record holds statically (cone, edge,
// range, fog) the envelope's first key stands for it.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/lwsc.h"
#include "scene/motion.h"

namespace orvl {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr float kMaxIntensity = 1000.0f;  // what an infinite light intensity is read as
constexpr float kDefaultZoom = 3.2f;
constexpr size_t kMaxLines = 1u << 24;    // the reader never holds the lines, only walks them

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view word(std::string_view& s) {
  s = trim(s);
  size_t n = 0;
  while (n < s.size() && !blank(s[n])) ++n;
  std::string_view w = s.substr(0, n);
  s = trim(s.substr(n));
  return w;
}

// Numbers as written; NaN and infinities are kept (they are made defined afterwards, with a
// log line), text that is no number fails.
bool number(std::string_view w, double& v) {
  if (!w.empty() && w.front() == '+') w.remove_prefix(1);
  if (w.empty()) return false;
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    v = (w.front() == '-') ? -INFINITY : INFINITY;
    return true;
  }
  return r.ec == std::errc() && r.ptr == w.data() + w.size();
}

bool numbers(std::string_view s, double* out, int n) {
  for (int i = 0; i < n; ++i)
    if (!number(word(s), out[i])) return false;
  return true;
}

bool integer(std::string_view w, long& v) {
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  return r.ec == std::errc() && r.ptr == w.data() + w.size();
}

float to_float(double v) {
  if (std::isnan(v)) return NAN;
  if (v > 3.0e38) return INFINITY;
  if (v < -3.0e38) return -INFINITY;
  return static_cast<float>(v);
}

// Line-by-line walk over the text.
class Lines {
 public:
  Lines(const uint8_t* text, size_t size) : p_(reinterpret_cast<const char*>(text)), n_(size) {}
  bool next(std::string_view& line) {
    if (pos_ >= n_ || count_ >= kMaxLines) return false;
    size_t e = pos_;
    while (e < n_ && p_[e] != '\n') ++e;
    line = std::string_view(p_ + pos_, e - pos_);
    pos_ = e < n_ ? e + 1 : n_;
    ++count_;
    return true;
  }
  size_t pos() const { return pos_; }
  void set_pos(size_t p) { pos_ = std::min(p, n_); }

 private:
  const char* p_;
  size_t n_;
  size_t pos_ = 0;
  size_t count_ = 0;
};

enum class Context { scene, object, light, camera };

class Reader {
 public:
  Reader(const uint8_t* text, size_t size, LwSceneInfo& info, LwMotionTables& tables)
      : lines_(text, size), info_(info), tables_(tables) {}
  void run();

  int cameras = 0;        // cameras seen (LightWave 6 AddCamera, or LightWave 5's one)
  int current_camera = 0; // "CurrentCamera"
  std::vector<int> light_parent_items;  // LightWave 6 ParentItem ids of lights (-1 none)

 private:
  void colour(std::string_view rest, float out[3]);
  // The value after a keyword; an "(envelope)" gives its first key (or nothing).
  bool value(std::string_view rest, double& v);
  bool first_envelope_key(double& v);
  int lw5_envelope();  // LightWave 5 envelope block after "(envelope)": own motion index
  void scene_keyword(std::string_view kw, std::string_view rest);
  void light_keyword(std::string_view kw, std::string_view rest);
  void camera_keyword(std::string_view kw, std::string_view rest);

  Lines lines_;
  LwSceneInfo& info_;
  LwMotionTables& tables_;
  Context ctx_ = Context::scene;
  int version_ = 1;
  bool camera_named_ = false;  // LightWave 5: the camera block has begun
  bool explicit_size_ = false; // a size was written out, which a preset does not override
};

void Reader::colour(std::string_view rest, float out[3]) {
  double c[3];
  if (!numbers(rest, c, 3)) return;
  const double unit = version_ <= 2 ? 1.0 / 255.0 : 1.0;
  for (int i = 0; i < 3; ++i) out[i] = to_float(c[i] * unit);
}

bool Reader::first_envelope_key(double& v) {
  // LightWave 6: "{ Envelope", count, "Key value ..." lines. LightWave 5: channel count, key
  // count, then the first key's value on a line of its own.
  const size_t start = lines_.pos();
  std::string_view line;
  int numeric_lines = 0;
  for (int i = 0; i < 8 && lines_.next(line); ++i) {
    std::string_view rest = line;
    const std::string_view w = word(rest);
    if (w == "Key") {
      const bool ok = number(word(rest), v);
      lines_.set_pos(start);
      return ok;
    }
    double d = 0;
    if (version_ == 1 && number(w, d) && ++numeric_lines == 3) {
      lines_.set_pos(start);
      v = d;
      return true;
    }
  }
  lines_.set_pos(start);
  return false;
}

bool Reader::value(std::string_view rest, double& v) {
  const std::string_view w = word(rest);
  if (w == "(envelope)") return first_envelope_key(v);
  return number(w, v);
}

int Reader::lw5_envelope() {
  const size_t start = lines_.pos();
  std::string_view line;
  long channels = 0, count = 0;
  if (!lines_.next(line) || !integer(trim(line), channels) || channels != 1 || !lines_.next(line) ||
      !integer(trim(line), count) || count < 0 || count > kMaxKeys) {
    lines_.set_pos(start);
    return -1;
  }
  const size_t first = tables_.keys.size();
  for (long k = 0; k < count; ++k) {
    double v = 0, f[5] = {0, 0, 0, 0, 0};
    std::string_view a, b;
    if (!lines_.next(a) || !lines_.next(b) || !number(word(a), v) || !numbers(b, f, 5)) {
      tables_.keys.resize(first);
      lines_.set_pos(start);
      return -1;
    }
    MotionKey key;
    key.value[0] = to_float(v);
    key.frame = static_cast<int>(std::clamp(f[0], -1.0e9, 1.0e9));
    key.linear = f[1] != 0 ? 1 : 0;
    key.tension = to_float(f[2]);
    key.continuity = to_float(f[3]);
    key.bias = to_float(f[4]);
    tables_.keys.push_back(key);
  }
  Motion m;
  m.channel_count = 1;
  m.first_key = static_cast<int>(first);
  m.key_count = static_cast<int>(count);
  m.last_frame = count > 0 ? static_cast<float>(tables_.keys.back().frame) : 0.0f;
  tables_.motions.push_back(m);
  return static_cast<int>(tables_.motions.size()) - 1;
}

void Reader::scene_keyword(std::string_view kw, std::string_view rest) {
  double v = 0;
  LwBackdrop& b = info_.backdrop;
  LwFog& f = info_.fog;
  if (kw == "FirstFrame" && number(word(rest), v)) info_.first_frame = v;
  else if (kw == "LastFrame" && number(word(rest), v)) info_.last_frame = v;
  else if (kw == "FramesPerSecond" && number(word(rest), v)) info_.frames_per_second = v;
  else if (kw == "AmbientColor") colour(rest, info_.ambient_color);
  else if ((kw == "AmbIntensity" || kw == "AmbientIntensity") && value(rest, v)) info_.ambient_intensity = to_float(v);
  else if (kw == "SolidBackdrop" && number(word(rest), v)) b.solid = v != 0;
  else if (kw == "BackdropColor") colour(rest, b.color);
  else if (kw == "ZenithColor") colour(rest, b.zenith);
  else if (kw == "SkyColor") colour(rest, b.sky);
  else if (kw == "GroundColor") colour(rest, b.ground);
  else if (kw == "NadirColor") colour(rest, b.nadir);
  else if ((kw == "SkySqueezeAmount" || kw == "SkySqueeze") && value(rest, v)) b.sky_squeeze = to_float(v);
  else if ((kw == "GroundSqueezeAmount" || kw == "GroundSqueeze") && value(rest, v)) b.ground_squeeze = to_float(v);
  else if (kw == "FogType" && number(word(rest), v)) f.type = static_cast<int>(std::clamp(v, -1.0, 99.0));
  else if ((kw == "FogMinDist" || kw == "FogMinDistance") && value(rest, v)) f.min_distance = to_float(v);
  else if ((kw == "FogMaxDist" || kw == "FogMaxDistance") && value(rest, v)) f.max_distance = to_float(v);
  else if (kw == "FogMinAmount" && value(rest, v)) f.min_amount = to_float(v);
  else if (kw == "FogMaxAmount" && value(rest, v)) f.max_amount = to_float(v);
  else if (kw == "FogColor") colour(rest, f.color);
  else if (kw == "CurrentCamera" && number(word(rest), v)) current_camera = static_cast<int>(std::clamp(v, -1.0, 1.0e6));
}

void Reader::light_keyword(std::string_view kw, std::string_view rest) {
  LwLight& l = info_.lights.back();
  double v = 0;
  long n = 0;
  if (kw == "LightName") {
    l.name = std::string(trim(rest).substr(0, 255));
  } else if (kw == "LightColor") {
    colour(rest, l.color);
  } else if (kw == "LgtIntensity" || kw == "LightIntensity") {
    std::string_view r = rest;
    if (version_ == 1 && word(r) == "(envelope)") {
      if (first_envelope_key(v)) l.intensity = to_float(v);
      l.intensity_own = lw5_envelope();
    } else if (value(rest, v)) {
      l.intensity = to_float(v);
    }
  } else if (kw == "LightType" && integer(word(rest), n)) {
    l.type = n >= 0 && n <= 4 ? static_cast<LwLightType>(n) : LwLightType::point;
  } else if ((kw == "ConeAngle" || kw == "LightConeAngle") && value(rest, v)) {
    l.cone_angle = to_float(v * kDeg);
  } else if ((kw == "EdgeAngle" || kw == "LightEdgeAngle") && value(rest, v)) {
    l.edge_angle = to_float(v * kDeg);
  } else if (kw == "Falloff" && value(rest, v)) {
    // A linear falloff of `v` per unit: the light is gone at 1 / v.
    if (v > 0 && std::isfinite(v)) {
      l.falloff = LwFalloff::linear;
      l.range = to_float(1.0 / v);
    } else {
      l.falloff = LwFalloff::none;
    }
  } else if ((kw == "LightFalloffType" || kw == "LightFalloff") && integer(word(rest), n)) {
    l.falloff = n >= 0 && n <= 3 ? static_cast<LwFalloff>(n) : LwFalloff::none;
  } else if (kw == "LightRange" && value(rest, v)) {
    l.range = to_float(v);
  } else if (kw == "ParentObject" && integer(word(rest), n)) {
    l.parent = n >= 1 && n <= kMaxObjects ? static_cast<int>(n - 1) : -1;
  } else if (kw == "PivotPosition") {
    double p[3];
    if (numbers(rest, p, 3))
      for (int i = 0; i < 3; ++i) l.pivot[i] = to_float(p[i]);
  }
}

void Reader::camera_keyword(std::string_view kw, std::string_view rest) {
  // Only the current camera's settings are kept; LightWave 6 scenes may have several.
  const bool current = cameras - 1 == current_camera || (version_ == 1);
  LwCamera& c = info_.camera;
  double v = 0, wh[2];
  long n = 0;
  if (kw == "CameraName" && current) {
    c.name = std::string(trim(rest).substr(0, 255));
  } else if (kw == "ZoomFactor" && current && value(rest, v)) {
    c.zoom = to_float(v);
  } else if (kw == "PixelAspect" && current && number(word(rest), v)) {
    c.pixel_aspect = to_float(v);
  } else if (kw == "PixelAspectRatio" && current && integer(word(rest), n)) {
    static const float kPresets[4] = {0.86f, 0.9f, 1.0f, 1.0667f};
    if (n >= 0 && n <= 3) c.pixel_aspect = kPresets[n];
  } else if (kw == "CustomPixelRatio" && current && number(word(rest), v)) {
    c.pixel_aspect = to_float(v);  // written only with PixelAspectRatio -1
  } else if (kw == "Resolution" && current && integer(word(rest), n) && !explicit_size_) {
    if (n >= -1 && n <= 3) {
      const double f = std::ldexp(1.0, static_cast<int>(n) - 1);
      info_.frame_width = static_cast<int>(640 * f);
      info_.frame_height = static_cast<int>(480 * f);
    }
  } else if ((kw == "FrameSize" || kw == "CustomSize") && current && numbers(rest, wh, 2)) {
    if (wh[0] >= 1 && wh[0] <= 65536 && wh[1] >= 1 && wh[1] <= 65536) {
      info_.frame_width = static_cast<int>(wh[0]);
      info_.frame_height = static_cast<int>(wh[1]);
      explicit_size_ = true;
    }
  } else if (kw == "ParentObject" && current && integer(word(rest), n)) {
    c.parent = n >= 1 && n <= kMaxObjects ? static_cast<int>(n - 1) : -1;
  } else if (kw == "PivotPosition" && current) {
    double p[3];
    if (numbers(rest, p, 3))
      for (int i = 0; i < 3; ++i) c.pivot[i] = to_float(p[i]);
  }
}

void Reader::run() {
  std::string_view line;
  if (!lines_.next(line) || trim(line) != "LWSC") return;
  long version = 1;
  if (lines_.next(line) && integer(trim(line), version)) version_ = static_cast<int>(std::clamp(version, 1L, 99L));
  info_.format_version = version_;
  // "CurrentCamera" comes last in LightWave 6 files: find it first, so that the settings of
  // the right camera are kept while walking.
  const size_t body = lines_.pos();
  if (version_ >= 2) {
    while (lines_.next(line)) {
      std::string_view rest = line;
      if (word(rest) == "CurrentCamera") scene_keyword("CurrentCamera", rest);
    }
    lines_.set_pos(body);
  }
  while (lines_.next(line)) {
    std::string_view rest = line;
    const std::string_view kw = word(rest);
    if (kw.empty() || kw.front() == '{' || kw.front() == '}') continue;
    if (kw == "LoadObject" || kw == "LoadObjectLayer" || kw == "AddNullObject") {
      ctx_ = Context::object;
    } else if (kw == "AddLight") {
      ctx_ = Context::light;
      info_.lights.emplace_back();
      if (info_.lights.size() > 4096) info_.lights.pop_back();
    } else if (kw == "AddCamera" || (version_ == 1 && !camera_named_ && (kw == "ShowCamera" || kw == "CameraMotion"))) {
      ctx_ = Context::camera;
      camera_named_ = true;
      ++cameras;
    } else if (kw == "ParentItem" && ctx_ == Context::light && !info_.lights.empty()) {
      long id = 0;
      const std::string_view w = word(rest);
      const auto r = std::from_chars(w.data(), w.data() + w.size(), id, 16);
      // Objects are 1xxxxxxx: keep their number within the objects.
      info_.lights.back().parent = (r.ec == std::errc() && (id >> 28) == 1) ? static_cast<int>(id & 0x0fffffff) : -1;
      if (info_.lights.back().parent >= kMaxObjects) info_.lights.back().parent = -1;
    } else if (ctx_ == Context::light && !info_.lights.empty()) {
      light_keyword(kw, rest);
    } else if (ctx_ == Context::camera) {
      camera_keyword(kw, rest);
    }
    scene_keyword(kw, rest);
  }
  if (cameras == 0) cameras = 1;
  if (current_camera < 0 || current_camera >= cameras) current_camera = 0;
  info_.current_camera = current_camera;
}

// Absurd values made defined, each noted for the scene's one log line.
void note(std::string& notes, const std::string& what) {
  if (notes.size() > 400) return;
  if (!notes.empty()) notes += "; ";
  notes += what;
}

void defined(float& v, float fallback, const char* what, std::string& notes) {
  if (std::isfinite(v)) return;
  note(notes, std::string(what) + " not finite, read as " + std::to_string(fallback));
  v = fallback;
}

void colour_defined(float c[3], const char* what, std::string& notes) {
  for (int i = 0; i < 3; ++i) defined(c[i], 0.0f, what, notes);
}

}  // namespace

void lw_read_info(const uint8_t* text, size_t size, LwSceneInfo& info, LwMotionTables& tables) {
  info = LwSceneInfo();
  tables = LwMotionTables();
  if (text == nullptr) return;
  Reader reader(text, size, info, tables);
  reader.run();
  info.frame_origin = info.format_version >= 2 ? info.first_frame : 0.0;
  lw_make_defined(info);
}

void lw_make_defined(LwSceneInfo& info) {
  std::string& notes = info.repaired;
  LwCamera& c = info.camera;
  if (!(c.zoom > 0) || !std::isfinite(c.zoom)) {
    note(notes, "zoom factor " + std::to_string(c.zoom) + " read as 3.2");
    c.zoom = kDefaultZoom;
  }
  if (!(c.pixel_aspect > 0) || !std::isfinite(c.pixel_aspect)) {
    note(notes, "pixel aspect read as 1");
    c.pixel_aspect = 1;
  }
  for (int i = 0; i < 3; ++i) defined(c.pivot[i], 0.0f, "camera pivot", notes);
  for (size_t i = 0; i < info.lights.size(); ++i) {
    LwLight& l = info.lights[i];
    const std::string name = "light " + std::to_string(i);
    colour_defined(l.color, (name + " colour").c_str(), notes);
    if (std::isnan(l.intensity)) {
      note(notes, name + " intensity NaN read as 1");
      l.intensity = 1;
    } else if (std::fabs(l.intensity) > kMaxIntensity) {
      note(notes, name + " intensity beyond " + std::to_string(static_cast<int>(kMaxIntensity)));
      l.intensity = std::copysign(kMaxIntensity, l.intensity);
    }
    constexpr float kRightAngle = static_cast<float>(kPi / 2);
    defined(l.cone_angle, 0.5235988f, (name + " cone").c_str(), notes);
    defined(l.edge_angle, 0.0872665f, (name + " edge").c_str(), notes);
    if (l.cone_angle > kRightAngle || l.cone_angle < 0) {
      note(notes, name + " cone angle outside 0..90 degrees");
      l.cone_angle = std::clamp(l.cone_angle, 0.0f, kRightAngle);
    }
    if (l.edge_angle > l.cone_angle || l.edge_angle < 0) {
      note(notes, name + " edge angle outside its cone");
      l.edge_angle = std::clamp(l.edge_angle, 0.0f, l.cone_angle);
    }
    if (!(l.range > 0) || !std::isfinite(l.range)) {
      if (l.falloff != LwFalloff::none) note(notes, name + " range read as 1");
      l.range = 1;
    }
    for (int k = 0; k < 3; ++k) defined(l.pivot[k], 0.0f, (name + " pivot").c_str(), notes);
  }
  colour_defined(info.ambient_color, "ambient colour", notes);
  defined(info.ambient_intensity, 0.25f, "ambient intensity", notes);
  LwBackdrop& b = info.backdrop;
  colour_defined(b.color, "backdrop colour", notes);
  colour_defined(b.zenith, "zenith colour", notes);
  colour_defined(b.sky, "sky colour", notes);
  colour_defined(b.ground, "ground colour", notes);
  colour_defined(b.nadir, "nadir colour", notes);
  defined(b.sky_squeeze, 2.0f, "sky squeeze", notes);
  defined(b.ground_squeeze, 2.0f, "ground squeeze", notes);
  LwFog& f = info.fog;
  defined(f.min_distance, 0.0f, "fog distance", notes);
  defined(f.max_distance, 1.0f, "fog distance", notes);
  defined(f.min_amount, 0.0f, "fog amount", notes);
  defined(f.max_amount, 1.0f, "fog amount", notes);
  colour_defined(f.color, "fog colour", notes);
  if (!std::isfinite(info.first_frame)) info.first_frame = 0;
  if (!std::isfinite(info.last_frame)) info.last_frame = info.first_frame;
  if (!(info.frames_per_second > 0) || !std::isfinite(info.frames_per_second)) info.frames_per_second = 30;
  if (!std::isfinite(info.frame_origin)) info.frame_origin = 0;
}

namespace {

// Motion indices the record names must name motions that exist.
int engine_motion(const Scene& scene, int m) {
  return m >= 0 && m < static_cast<int>(scene.motions.size()) ? m : -1;
}

bool keys_finite(const MotionKey* keys, size_t n) {
  for (size_t k = 0; k < n; ++k)
    for (float v : keys[k].value)
      if (!std::isfinite(v)) return false;
  return true;
}

// A current camera other than the first of a LightWave 6 scene: its channels and zoom go to
// the record's own motions, laid out as the engine lays out its camera.
void own_camera(Scene& scene, const LwscScene& src, const LwscItem& it, const std::vector<int>& object_of_item) {
  LwMotionTables& t = scene.lw_motions;
  LwCamera& c = scene.lw.camera;
  t.envelopes.time_origin = scene.envelopes.time_origin;
  auto add_channel = [&](int32_t env, float constant) {
    ChannelEnvelope ch;
    ch.constant = constant;
    if (env >= 0 && static_cast<size_t>(env) < src.envelopes.size()) {
      const LwscEnvelope& e = src.envelopes[static_cast<size_t>(env)];
      if (static_cast<size_t>(e.first_key) + e.key_count <= src.keys.size()) {
        ch.first_key = static_cast<int>(t.envelopes.keys.size());
        ch.key_count = static_cast<int>(e.key_count);
        ch.pre = e.pre;
        ch.post = e.post;
        t.envelopes.keys.insert(t.envelopes.keys.end(), src.keys.begin() + e.first_key,
                                src.keys.begin() + e.first_key + e.key_count);
      }
    }
    t.envelopes.channels.push_back(ch);
  };
  Motion m;
  m.channel_count = kNumChannels;
  m.negate_channels = 1u << 3;  // the camera's heading, as the engine stores it
  m.envelope_first = static_cast<int>(t.envelopes.channels.size());
  for (int k = 0; k < kNumChannels; ++k) add_channel(k < it.channel_count ? it.channels[k] : -1, k >= 6 ? 1.0f : 0.0f);
  t.motions.push_back(m);
  c.motion = -1;
  c.motion_own = static_cast<int>(t.motions.size()) - 1;
  c.zoom_envelope = -1;
  c.zoom = it.zoom;
  if (it.zoom_envelope >= 0) {
    Motion z;
    z.channel_count = 1;
    z.envelope_use = static_cast<uint8_t>(EnvelopeUse::zoom);
    z.envelope_first = static_cast<int>(t.envelopes.channels.size());
    add_channel(it.zoom_envelope, it.zoom);
    t.motions.push_back(z);
    c.zoom_own = static_cast<int>(t.motions.size()) - 1;
  }
  c.parent = it.parent >= 0 && static_cast<size_t>(it.parent) < object_of_item.size()
                 ? object_of_item[static_cast<size_t>(it.parent)]
                 : -1;
  for (int k = 0; k < 3; ++k) c.pivot[k] = it.pivot[k];
}

}  // namespace

void lw_fill_scene_info(Scene& scene, const uint8_t* text, size_t size, const LwscScene* src) {
  LwSceneInfo& info = scene.lw;
  lw_read_info(text, size, info, scene.lw_motions);
  std::string notes = info.repaired;
  const int light_count = std::clamp(scene.light_count, 0, static_cast<int>(scene.lights.size()));
  // One record entry per engine light, in the same order (both read lights in file order).
  if (static_cast<int>(info.lights.size()) > light_count) info.lights.resize(static_cast<size_t>(light_count));
  while (static_cast<int>(info.lights.size()) < light_count) info.lights.emplace_back();
  for (int i = 0; i < light_count; ++i) {
    LwLight& l = info.lights[static_cast<size_t>(i)];
    const SceneLight& e = scene.lights[static_cast<size_t>(i)];
    l.motion = engine_motion(scene, e.motion);
    l.intensity_envelope = engine_motion(scene, e.intensity_envelope);
    if (l.intensity_envelope >= 0) l.intensity_own = -1;
    if (l.parent >= scene.object_count) l.parent = -1;
  }
  LwCamera& c = info.camera;
  c.motion = 0;
  c.zoom_envelope = engine_motion(scene, scene.zoom_envelope);
  c.parent = scene.camera_parent >= 0 && scene.camera_parent < scene.object_count ? scene.camera_parent : -1;

  if (src != nullptr) {
    info.first_frame = src->first_frame;
    info.last_frame = src->last_frame;
    info.frames_per_second = src->frames_per_second > 0 ? src->frames_per_second : 30.0;
    info.frame_origin = src->first_frame;
    // Object entries are handed out to object and null items in item order.
    std::vector<int> object_of_item(src->items.size(), -1);
    std::vector<const LwscItem*> lights, cameras;
    int objects = 0;
    for (size_t i = 0; i < src->items.size(); ++i) {
      const LwscItem& it = src->items[i];
      if (it.kind == LwscItemKind::object || it.kind == LwscItemKind::null_object) object_of_item[i] = objects++;
      else if (it.kind == LwscItemKind::light) lights.push_back(&it);
      else cameras.push_back(&it);
    }
    for (int i = 0; i < light_count && static_cast<size_t>(i) < lights.size(); ++i) {
      const LwscItem& it = *lights[static_cast<size_t>(i)];
      LwLight& l = info.lights[static_cast<size_t>(i)];
      l.parent = it.parent >= 0 && static_cast<size_t>(it.parent) < object_of_item.size()
                     ? object_of_item[static_cast<size_t>(it.parent)]
                     : -1;
      for (int k = 0; k < 3; ++k) l.pivot[k] = it.pivot[k];
      l.intensity = it.intensity;
    }
    // The file's CurrentCamera, counted over its cameras; the engine plays the first.
    const int current = info.current_camera;
    if (current > 0 && static_cast<size_t>(current) < cameras.size()) {
      own_camera(scene, *src, *cameras[static_cast<size_t>(current)], object_of_item);
    } else if (!cameras.empty()) {
      c.zoom = cameras[0]->zoom;
      for (int k = 0; k < 3; ++k) c.pivot[k] = cameras[0]->pivot[k];
    }
  }
  // Keys that are not numbers are read as the rest pose where they are used; note them once.
  const size_t used = static_cast<size_t>(std::clamp(scene.next_key, 0, static_cast<int>(scene.keys.size())));
  bool finite = keys_finite(scene.keys.data(), used) && keys_finite(scene.lw_motions.keys.data(), scene.lw_motions.keys.size());
  for (const EnvKey& k : scene.envelopes.keys) finite = finite && std::isfinite(k.value);
  if (!finite) note(notes, "keys that are not finite are read as rest values");
  if (c.zoom_envelope >= 0) {
    const Motion& z = scene.motions[static_cast<size_t>(c.zoom_envelope)];
    bool positive = true;
    if (z.envelope_first < 0) {
      for (int k = 0; k < z.key_count; ++k) {
        const int i = z.first_key + k;
        if (i >= 0 && static_cast<size_t>(i) < used && !(scene.keys[static_cast<size_t>(i)].value[0] > 0)) positive = false;
      }
    }
    if (!positive) note(notes, "zoom envelope keys that are not positive are read as the nearest usable zoom");
  }
  info.repaired.clear();
  lw_make_defined(info);
  if (!info.repaired.empty()) note(notes, info.repaired);
  info.repaired = notes;
  if (!notes.empty()) log_line("Scene " + scene.path + ": absurd LightWave values made defined: " + notes);
}

}  // namespace orvl
