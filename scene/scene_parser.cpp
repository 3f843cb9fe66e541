// LightWave 5 scene parser: one forward scan over the scene text held in memory.
//
// Each item is found by searching for its keyword from where the previous item ended;
// optional items are recognised only when their keyword starts within 150 characters.
// Numbers are read at fixed places relative to the keywords, in the layout LightWave 5
// writes (CR LF or LF line ends, two blanks of indentation inside motion blocks).
//
// Capacity policy: every table is checked where an entry is handed out. A scene that needs
// more objects, motions, keys or lights than the record holds, an object name longer than a
// path may be, or an object number outside the object table, is refused with status 2 and a
// log line naming the limit; nothing is written past a table.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "object/object_loader.h"
#include "platform/file.h"
#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/lws_tokenizer.h"
#include "scene/lwsc.h"
#include "scene/precalc_file.h"
#include "scene/scene.h"

namespace orvl {
namespace {

constexpr double kByteToUnit = 0.003921569;  // 1/255: colour bytes to 0..1
constexpr size_t kWindow = 150;              // look-ahead of optional items

// How the angle channels of a motion's keys are stored.
enum class MotionKind { object, light, camera };
// How an envelope's key values are stored.
enum class EnvelopeKind { morph, dissolve, zoom };

float to_float(long double v) {
  if (v > FLT_MAX) return INFINITY;
  if (v < -FLT_MAX) return -INFINITY;
  return static_cast<float>(v);
}

// Frame numbers are whole; an absurd scene frame must not become undefined behaviour.
int frame_to_int(float f) {
  if (std::isnan(f)) return 0;
  if (f >= static_cast<float>(INT_MAX)) return INT_MAX;
  if (f <= static_cast<float>(INT_MIN)) return INT_MIN;
  return static_cast<int>(f);
}

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

class Parser {
 public:
  explicit Parser(Scene& scene) : s_(scene), scan_(scene.parse.text.data(), scene.parse.text.size()) {}

  SceneStatus run();

 private:
  SceneStatus fail(SceneStatus status) { return scene_load_failed(s_, status); }
  SceneStatus refuse(const std::string& why) { return scene_load_refused(s_, why); }

  void header();
  float timing(const char* keyword);
  SceneStatus objects();
  SceneStatus mesh_object(const std::string& written);
  SceneStatus object_failed(LoadStatus st, const ObjectLoadContext& context,
                            const std::string& missing);
  SceneStatus record_mesh(const std::string& written, const std::string& opened);
  SceneStatus null_object();
  SceneStatus object_items(SceneObject& obj);
  SceneStatus lights();
  SceneStatus camera();

  // Hands out the next motion header; refuses when the table is full.
  SceneStatus take_motion(int& header);
  // Reserves `n` keys of the pool for a motion starting at next_key.
  SceneStatus take_keys(int n, const char* block);
  SceneStatus motion_block(int header, MotionKind kind, const char* block);
  void motion_key(MotionKey& key, MotionKind kind);
  // Linear flag (already read), then tension, continuity and bias, each a field further.
  void key_tcb(MotionKey& key);
  SceneStatus envelope_block(int header, EnvelopeKind kind, const char* block);
  void read_end_behavior(Motion& m);
  // Object numbers in the file are 1-based; 0 means none.
  SceneStatus object_number(const char* keyword, int& index);

  Scene& s_;
  LwsScanner scan_;
};

// Reads one timing value. Older scenes leave lines out (some have no "FramesPerSecond"):
// a value that is not there reads as 0 and the scan stays where it was, instead of running
// to the end of the text and losing every object after it.
float Parser::timing(const char* keyword) {
  const size_t start = scan_.pos();
  if (!scan_.find_keyword(keyword)) {
    scan_.set_pos(start);
    return 0;
  }
  const float v = to_float(scan_.read_float());
  scan_.skip_line();
  return v;
}

void Parser::header() {
  Motion& h0 = s_.motions[0];
  scan_.find_keyword("PreviewFirstFrame");
  h0.first_frame = to_float(scan_.read_float());
  scan_.skip_line();
  const char* last = "PreviewLastFrame";
  const char* step = "PreviewFrameStep";
  if (scan_.at_end()) {
    // Scenes saved without preview settings give the render range instead.
    scan_.set_pos(0);
    h0.first_frame = timing("FirstFrame");
    last = "LastFrame";
    step = "FrameStep";
  }
  h0.last_frame = timing(last);
  h0.frame_step = timing(step);
  h0.frames_per_second = timing("FramesPerSecond");

  scene_clear_counts(s_);
  s_.next_motion = 1;  // header 0 is the camera's
  h0.frame = 0;
  h0.reserved = 0;
}

SceneStatus Parser::take_motion(int& header) {
  if (s_.next_motion < 0 || s_.next_motion >= kMaxMotions)
    return refuse("more than " + std::to_string(kMaxMotions) + " motions and envelopes");
  header = s_.next_motion;
  return SceneStatus::ok;
}

SceneStatus Parser::take_keys(int n, const char* block) {
  const int left = kMaxKeys - s_.next_key;
  if (n < 0) return refuse(std::string(block) + " has a negative key count (" + std::to_string(n) + ")");
  if (n > left)
    return refuse(std::string(block) + " needs " + std::to_string(n) + " keys, " +
                  std::to_string(left) + " of the " + std::to_string(kMaxKeys) + " motion keys left");
  return SceneStatus::ok;
}

void Parser::motion_key(MotionKey& key, MotionKind kind) {
  scan_.skip_blanks();
  for (int c = 0; c < kNumChannels; ++c) {
    if (c > 0) scan_.next_field();
    key.value[c] = to_float(scan_.read_float());
  }
  // Past the ninth value, over the line end, to the indentation of the key's second line.
  scan_.skip_blanks();
  scan_.skip_nonblanks();
  scan_.step(1);
  switch (kind) {
    case MotionKind::object:
      key.value[4] = -key.value[4];
      key.value[5] = -key.value[5];
      break;
    case MotionKind::camera: key.value[3] = -key.value[3]; break;
    case MotionKind::light: break;
  }
  key.frame = scan_.read_int();
  scan_.next_field();
  key.linear = scan_.read_int();
  key_tcb(key);
  scan_.skip_line();
  scan_.step(1);
}

void Parser::key_tcb(MotionKey& key) {
  scan_.next_field();
  key.tension = to_float(scan_.read_float());
  scan_.next_field();
  key.continuity = to_float(scan_.read_float());
  scan_.next_field();
  key.bias = to_float(scan_.read_float());
}

SceneStatus Parser::motion_block(int header, MotionKind kind, const char* block) {
  Motion& m = s_.motions[header];
  scan_.skip_line();
  scan_.step(1);
  m.channel_count = scan_.read_int();
  if (m.channel_count != kNumChannels) {
    log_line("Scene " + s_.path + ": " + block + " has " + std::to_string(m.channel_count) +
             " channels, 9 expected");
    return fail(SceneStatus::bad_motion);
  }
  scan_.skip_line();
  scan_.step(3);  // line feed and two blanks of indentation
  const int n = scan_.read_int();
  if (SceneStatus st = take_keys(n, block); st != SceneStatus::ok) return st;
  m.first_key = s_.next_key;
  m.key_count = n;
  s_.next_key += n;
  scan_.skip_line();
  scan_.step(3);

  const float scene_last = s_.motions[0].last_frame;
  for (int k = 0; k < n; ++k) {
    const size_t key_start = scan_.pos();
    MotionKey& key = s_.keys[m.first_key + k];
    motion_key(key, kind);
    if (k == n - 1 && static_cast<float>(key.frame) != scene_last) {
      // Motions that stop before the scene's end hold their last key up to it.
      if (s_.next_key >= kMaxKeys)
        return refuse(std::string(block) + " needs one more key than the " +
                      std::to_string(kMaxKeys) + " motion keys");
      const size_t after = scan_.pos();
      scan_.set_pos(key_start);
      MotionKey& extra = s_.keys[m.first_key + n];
      motion_key(extra, kind);
      scan_.set_pos(after);
      extra.frame = frame_to_int(scene_last);
      if (kind != MotionKind::object) extra.linear = 1;
      ++m.key_count;
      ++s_.next_key;
    }
  }
  return SceneStatus::ok;
}

SceneStatus Parser::envelope_block(int header, EnvelopeKind kind, const char* block) {
  Motion& m = s_.motions[header];
  scan_.skip_line();
  scan_.step(3);
  scan_.skip_line();  // the channel count is not checked: envelopes always have one
  scan_.step(3);
  const int n = scan_.read_int();
  if (SceneStatus st = take_keys(n, block); st != SceneStatus::ok) return st;
  m.channel_count = 1;
  m.first_key = s_.next_key;
  m.key_count = n;
  s_.next_key += n;
  scan_.skip_line();
  for (int k = 0; k < n; ++k) {
    MotionKey& key = s_.keys[m.first_key + k];
    scan_.step(1);
    scan_.skip_blanks();
    const double v = static_cast<double>(scan_.read_float());
    switch (kind) {
      case EnvelopeKind::morph: key.value[0] = static_cast<float>(clamp01(v)); break;
      case EnvelopeKind::dissolve: key.value[0] = static_cast<float>((1.0 - clamp01(v)) * 255.0); break;
      case EnvelopeKind::zoom: key.value[0] = to_float(v); break;
    }
    for (int c = 1; c < kNumChannels; ++c) key.value[c] = 0;
    scan_.skip_line();
    scan_.step(1);
    scan_.skip_blanks();
    key.frame = scan_.read_int();
    scan_.skip_nonblanks();
    scan_.skip_blanks();
    key.linear = scan_.read_int();
    key_tcb(key);
    scan_.skip_line();
  }
  scan_.step_back();
  read_end_behavior(m);
  m.last_frame = n > 0 ? static_cast<float>(s_.keys[m.first_key + n - 1].frame) : 0.0f;
  m.first_frame = 0;
  m.reserved = 0;
  m.frame_step = 1.0f;
  return SceneStatus::ok;
}

void Parser::read_end_behavior(Motion& m) {
  scan_.find_keyword("EndBehavior");
  scan_.step(1);
  m.end_behavior = scan_.read_int();
}

SceneStatus Parser::object_number(const char* keyword, int& index) {
  const int n = scan_.read_int();
  if (n < 0 || n > kMaxObjects)
    return refuse(std::string(keyword) + " " + std::to_string(n) + " is outside the table of " +
                  std::to_string(kMaxObjects) + " objects");
  index = n - 1;
  return SceneStatus::ok;
}

SceneStatus Parser::record_mesh(const std::string& written, const std::string& opened) {
  if (s_.object_count < 1 || s_.object_count > static_cast<int>(s_.objects.size()))
    return refuse("the object loader left " + std::to_string(s_.object_count) + " objects");
  SceneObject& obj = s_.objects[s_.object_count - 1];
  obj.file_name = written;
  obj.loaded_path = opened;
  // The motion header the object will take starts from a clean clock.
  if (s_.next_motion >= 0 && size_t(s_.next_motion) < s_.motions.size()) {
    s_.motions[size_t(s_.next_motion)].frame = 0;
    s_.motions[size_t(s_.next_motion)].reserved = 0;
  }
  return SceneStatus::ok;
}

// A failed object load fails the scene; a missing surface image has named itself.
SceneStatus Parser::object_failed(LoadStatus st, const ObjectLoadContext& context,
                                  const std::string& missing) {
  s_.error_path = context.image_missing ? context.error_path : missing;
  return fail(scene_status_from(st));
}

SceneStatus Parser::mesh_object(const std::string& written) {
  if (written.size() > kMaxPathLength)
    return refuse("object name longer than " + std::to_string(kMaxPathLength) + " characters");
  std::string name = written;
  const int loaded_before = s_.loaded;
  ObjectLoadContext context;
  LoadStatus st = load_object(s_, context, name, false);  // shortens `name` in place
  if (st == LoadStatus::ok) return record_mesh(written, name);
  if (st != LoadStatus::not_found || context.image_missing)
    return object_failed(st, context, s_.error_path);

  // Content installed below the LightWave root: the root is written in front of the
  // shortened name as it stands (the configured root carries its own separator).
  if (s_.lightwave_root.size() + name.size() > kMaxPathLength)
    return refuse("LightWave root and object name longer than " + std::to_string(kMaxPathLength) +
                  " characters");
  const std::string below_root = s_.lightwave_root + name;
  std::string retry = below_root;
  context = ObjectLoadContext();
  st = load_object(s_, context, retry, true);
  if (st == LoadStatus::ok) return record_mesh(written, below_root);

  if (st == LoadStatus::not_found && !context.image_missing) {
    // Scenes written outside the original production name objects relative to their
    // content folder, so dropping the first characters breaks them. Try the name as
    // written before giving up.
    const std::string tried[] = {name, below_root};
    const std::string candidates[] = {written, path_join(s_.lightwave_root, written),
                                      path_join(path_directory(s_.path), written)};
    for (size_t i = 0; i < 3; ++i) {
      const std::string& c = candidates[i];
      bool seen = c.empty() || c.size() > kMaxPathLength || c == tried[0] || c == tried[1];
      for (size_t j = 0; j < i && !seen; ++j) seen = c == candidates[j];
      if (seen) continue;
      std::string path = c;
      context = ObjectLoadContext();
      LoadStatus alt = load_object(s_, context, path, true);
      if (alt == LoadStatus::ok) {
        // The failed attempts above marked the scene as not loaded; this one found it.
        s_.loaded = loaded_before;
        log_line("Object " + written + " loaded from " + c);
        return record_mesh(written, c);
      }
      // Found, but broken: report that object rather than the path that was not there.
      if (alt != LoadStatus::not_found || context.image_missing)
        return object_failed(alt, context, c);
    }
  }
  if (st == LoadStatus::not_found && !context.image_missing && (s_.flags & SceneFlags::MISSING_NULL)) {
    s_.loaded = loaded_before;
    s_.error_path.clear();
    log_line("Object " + written + " not found: a null object stands in for it");
    if (SceneStatus nst = null_object(); nst != SceneStatus::ok) return nst;
    SceneObject& obj = s_.objects[size_t(s_.object_count - 1)];
    obj.file_name = written;
    obj.missing = true;
    return SceneStatus::ok;
  }
  return object_failed(st, context, name);
}

SceneStatus Parser::null_object() {
  SceneObject& obj = s_.objects[s_.object_count];
  const int marked = obj.is_morph_target;  // an earlier object may morph into this one
  obj = SceneObject();
  obj.is_morph_target = marked;
  obj.polygon_count = 0;
  obj.surface_count = 0;
  obj.parent = -1;
  obj.motion = s_.next_motion;
  ++s_.object_count;
  s_.motions[s_.next_motion].frame = 0;
  s_.motions[s_.next_motion].reserved = 0;
  return SceneStatus::ok;
}

SceneStatus Parser::object_items(SceneObject& obj) {
  int h = 0;
  if (SceneStatus st = take_motion(h); st != SceneStatus::ok) return st;
  scan_.find_keyword("ObjectMotion");
  if (SceneStatus st = motion_block(h, MotionKind::object, "ObjectMotion"); st != SceneStatus::ok)
    return st;
  Motion& m = s_.motions[h];
  obj.motion = h;
  scan_.step_back();
  read_end_behavior(m);
  m.last_frame = m.key_count > 0 ? static_cast<float>(s_.keys[m.first_key + m.key_count - 1].frame) : 0.0f;
  m.first_frame = 0;
  m.reserved = 0;
  m.frame_step = 1.0f;
  ++s_.next_motion;
  obj.pivot[0] = obj.pivot[1] = obj.pivot[2] = 0;

  if (scan_.starts_within("PivotPoint", kWindow)) {
    scan_.find_keyword("PivotPoint");
    for (int c = 0; c < 3; ++c) {
      if (c > 0) scan_.next_field();
      obj.pivot[c] = -to_float(scan_.read_float());
    }
  }

  obj.parent = -1;
  if (scan_.starts_within("ParentObject", kWindow)) {
    scan_.find_keyword("ParentObject");
    scan_.step(1);
    if (SceneStatus st = object_number("ParentObject", obj.parent); st != SceneStatus::ok) return st;
  }

  obj.morph_target = -1;
  obj.morph_envelope = -1;
  if (scan_.starts_within("Metamorph", kWindow)) {
    scan_.find_keyword("Metamorph");
    if (SceneStatus st = take_motion(h); st != SceneStatus::ok) return st;
    s_.motions[h] = Motion();
    if (SceneStatus st = envelope_block(h, EnvelopeKind::morph, "Metamorph"); st != SceneStatus::ok)
      return st;
    s_.motions[h].start_tick = 0;
    obj.morph_envelope = h;
    ++s_.next_motion;
    scan_.find_keyword("MorphTarget");
    scan_.step(1);
    int target = -1;
    if (SceneStatus st = object_number("MorphTarget", target); st != SceneStatus::ok) return st;
    obj.morph_target = target;
    if (target >= 0) s_.objects[target].is_morph_target = 1;
  }

  obj.dissolve_envelope = -1;
  if (scan_.starts_within("ObjDissolve", kWindow)) {
    scan_.find_keyword("ObjDissolve");
    if (SceneStatus st = take_motion(h); st != SceneStatus::ok) return st;
    if (SceneStatus st = envelope_block(h, EnvelopeKind::dissolve, "ObjDissolve"); st != SceneStatus::ok)
      return st;
    obj.dissolve_envelope = h;
    ++s_.next_motion;
    // The mesh drawing reads the dissolve level through each triangle. Objects without an
    // envelope keep no reference and draw opaque: their level is never evaluated.
    for (Triangle& t : obj.polygons) t.dissolve_ref = &obj.dissolve;
  }
  return SceneStatus::ok;
}

SceneStatus Parser::objects() {
  // The first object always exists: without either keyword nearby it is a null object.
  int kind = 0;
  const size_t start = scan_.pos();
  if (scan_.find_keyword("LoadObject") && scan_.pos() <= start + kWindow) {
    kind = 1;
  } else {
    scan_.set_pos(start);
    if (scan_.find_keyword("AddNullObject") && scan_.pos() <= start + kWindow) kind = 2;
    else scan_.set_pos(start);
  }
  for (;;) {
    if (s_.object_count >= kMaxObjects)
      return refuse("more than " + std::to_string(kMaxObjects) + " objects");
    if (s_.next_motion >= kMaxMotions)
      return refuse("more than " + std::to_string(kMaxMotions) + " motions and envelopes");
    std::string name;
    if (kind != 0) {
      // The name runs from after the blank that follows the keyword to the line end.
      scan_.step(1);
      name = scan_.rest_of_line();
      scan_.step_back();
    }
    SceneStatus st = kind == 1 ? mesh_object(name) : null_object();
    if (st != SceneStatus::ok) return st;
    SceneObject& obj = s_.objects[s_.object_count - 1];
    if (kind != 1) obj.file_name = name;
    if ((st = object_items(obj)) != SceneStatus::ok) return st;

    if (!scan_.starts_within("LoadObject", kWindow) && !scan_.starts_within("AddNullObject", kWindow))
      break;
    const size_t s = scan_.pos();
    kind = 0;
    if (scan_.find_keyword("LoadObject") && scan_.pos() <= s + kWindow) {
      kind = 1;
    } else {
      scan_.set_pos(s);
      if (scan_.find_keyword("AddNullObject") && scan_.pos() <= s + kWindow) kind = 2;
      else scan_.set_pos(s);
    }
  }
  // A morph target named before its object existed was marked on an empty entry that the
  // object loader may have reset; mark the targets again now that every object is in place.
  for (int i = 0; i < s_.object_count; ++i) {
    const int t = s_.objects[i].morph_target;
    if (t >= 0 && t < kMaxObjects) s_.objects[t].is_morph_target = 1;
  }
  return SceneStatus::ok;
}

SceneStatus Parser::lights() {
  if (!scan_.starts_within("LightMotion", kWindow)) return SceneStatus::ok;
  scan_.find_keyword("AmbientColor ");
  for (int c = 0; c < 3; ++c) {
    if (c > 0) scan_.next_field();
    s_.ambient_color[c] = to_float(scan_.read_float());
  }
  scan_.skip_line();
  scan_.find_keyword("AmbIntensity");
  s_.ambient_intensity = to_float(scan_.read_float());
  scan_.find_keyword("LightMotion");
  for (;;) {
    // Every light takes one of the motion headers left after the camera's, so the header
    // table (64) refuses a scene before the light table (64) could overflow.
    static_assert(kMaxLights >= kMaxMotions - 1, "the motion check bounds the lights");
    int h = 0;
    if (SceneStatus st = take_motion(h); st != SceneStatus::ok) return st;
    SceneLight& light = s_.lights[s_.light_count];
    if (SceneStatus st = motion_block(h, MotionKind::light, "LightMotion"); st != SceneStatus::ok) return st;
    Motion& m = s_.motions[h];
    light.motion = h;
    scan_.step_back();
    read_end_behavior(m);
    scan_.find_keyword("LightColor");
    scan_.step(1);
    for (int c = 0; c < 3; ++c) {
      if (c > 0) scan_.next_field();
      light.color[c] = static_cast<float>(scan_.read_int() * kByteToUnit);
    }
    scan_.find_keyword("LgtIntensity ");
    light.intensity = to_float(scan_.read_float());
    m.last_frame = m.key_count > 0 ? static_cast<float>(s_.keys[m.first_key + m.key_count - 1].frame) : 0.0f;
    m.first_frame = 0;
    m.reserved = 0;
    m.frame_step = 1.0f;
    scan_.find_keyword("LightType");
    scan_.step(1);
    switch (scan_.read_int()) {
      case 0: light.type = 4; break;  // distant
      case 1: light.type = 1; break;  // point
      case 2: light.type = 2; break;  // spot
      default: break;                 // left unset (0)
    }
    ++s_.light_count;
    ++s_.next_motion;
    if (!scan_.starts_within("LightMotion", kWindow)) break;
    scan_.find_keyword("LightMotion");
  }
  return SceneStatus::ok;
}

SceneStatus Parser::camera() {
  scan_.find_keyword("CameraMotion");
  if (SceneStatus st = motion_block(0, MotionKind::camera, "CameraMotion"); st != SceneStatus::ok) return st;
  s_.motion_count = s_.next_motion;
  scan_.find_keyword("EndBehavior");
  s_.motions[0].end_behavior = scan_.read_int();
  s_.camera_parent = -1;
  if (scan_.starts_within("ParentObject", kWindow)) {
    scan_.find_keyword("ParentObject");
    scan_.step(1);
    if (SceneStatus st = object_number("ParentObject", s_.camera_parent); st != SceneStatus::ok) return st;
  }

  s_.zoom_envelope = -1;
  if (scan_.starts_within("ZoomFactor (envelope)", kWindow)) {
    scan_.find_keyword("ZoomFactor (envelope)");
    int h = 0;
    if (SceneStatus st = take_motion(h); st != SceneStatus::ok) return st;
    if (SceneStatus st = envelope_block(h, EnvelopeKind::zoom, "ZoomFactor"); st != SceneStatus::ok) return st;
    s_.zoom_envelope = h;
    ++s_.next_motion;
    s_.motion_count = s_.next_motion;
  } else {
    scan_.find_keyword("ZoomFactor");
    s_.zoom_factor = to_float(scan_.read_float());
  }
  return SceneStatus::ok;
}

SceneStatus Parser::run() {
  // Every LightWave scene starts with its magic word; anything else (an empty file, an
  // object, noise) would otherwise be read as a scene of empty motions.
  if (s_.parse.text.size() < 4 || std::memcmp(s_.parse.text.data(), "LWSC", 4) != 0)
    return fail(SceneStatus::not_a_scene);
  s_.precalc.precalc_invalid = false;
  if (s_.flags & SceneFlags::BUILD_PRECALC)
    s_.precalc.build_precalc = true;
  else
    (void)precalc_read(s_);  // a missing or unusable file never fails the load
  try {
    s_.motions.assign(kMaxMotions, Motion());
    s_.objects.assign(kMaxObjects, SceneObject());
    s_.lights.assign(kMaxLights, SceneLight());
    s_.keys.assign(kMaxKeys, MotionKey());
  } catch (const std::bad_alloc&) {
    return fail(SceneStatus::out_of_memory);
  }
  scan_.set_pos(0);

  header();
  SceneStatus st = objects();
  if (st == SceneStatus::ok) st = lights();
  if (st == SceneStatus::ok) st = camera();
  if (st != SceneStatus::ok) return st;

  scan_.find_keyword("BackdropColo");
  scan_.step(2);
  for (int c = 0; c < 3; ++c) {
    if (c > 0) scan_.next_field();
    s_.backdrop_color[c] = static_cast<float>(scan_.read_int() * kByteToUnit);
  }
  scan_.find_keyword("ViewZoomFactor");
  s_.view_zoom_factor = to_float(scan_.read_float());

  s_.parse.text_pos = scan_.pos();
  // LightWave's own reading of the same text, for the lightwave look and the exporter.
  lw_fill_scene_info(s_, s_.parse.text.data(), s_.parse.text.size(), nullptr);
  std::vector<uint8_t>().swap(s_.parse.text);
  s_.parse.text_pos = 0;

  if (s_.polygon_total < 0) return refuse("polygon total " + std::to_string(s_.polygon_total) + " is negative");
  if (!scene_alloc_draw_buffers(s_)) return fail(SceneStatus::out_of_memory);
  return SceneStatus::ok;
}

SceneStatus begin_load(Scene& scene, const std::string& path) {
  scene.path = path;
  scene.error_file = FileStatus::ok;
  if (path.size() > kMaxPathLength) {
    log_line("Scene " + path + " refused: path longer than " + std::to_string(kMaxPathLength) +
             " characters");
    scene.loaded = 0;
    return SceneStatus::out_of_memory;
  }
  return SceneStatus::ok;
}

}  // namespace

SceneStatus scene_load(Scene& scene, const std::string& file_name) {
  if (SceneStatus st = begin_load(scene, file_name); st != SceneStatus::ok) return st;
  std::vector<uint8_t> text;
  const FileStatus read = read_whole_file(file_name, text);
  scene.error_file = read;
  switch (read) {
    case FileStatus::ok: break;
    case FileStatus::not_found:
    case FileStatus::not_regular:
    case FileStatus::no_access:
      scene.error_path = file_name;
      scene.loaded = 0;
      return SceneStatus::file_not_found;
    default:
      scene.loaded = 0;
      return SceneStatus::out_of_memory;
  }
  // LightWave 6 and later scenes ("LWSC" 2 and up) have a reader of their own.
  if (lwsc_version(text.data(), text.size()) >= 2)
    return scene_load_lwsc(scene, file_name, text.data(), text.size());
  scene.parse.text.swap(text);
  return Parser(scene).run();
}

SceneStatus scene_load_text(Scene& scene, const std::string& path, const uint8_t* data, size_t size) {
  if (SceneStatus st = begin_load(scene, path); st != SceneStatus::ok) return st;
  if (lwsc_version(data, size) >= 2) return scene_load_lwsc(scene, path, data, size);
  try {
    scene.parse.text.assign(data, data + size);
  } catch (const std::bad_alloc&) {
    scene.loaded = 0;
    return SceneStatus::out_of_memory;
  }
  return Parser(scene).run();
}

}  // namespace orvl
