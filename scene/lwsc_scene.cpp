// LightWave 6 scenes into the scene record: the reader's tables (scene/lwsc.h) become the
// same objects, lights, camera and motions a LightWave 5 scene gives, with every channel
// kept as its own envelope for the motion evaluation.
#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "object/object_loader.h"
#include "platform/file.h"
#include "platform/log.h"
#include "scene/lw_scene.h"
#include "scene/lwsc.h"
#include "scene/precalc_file.h"
#include "scene/scene.h"

namespace orvl {
namespace {

// The LightWave 5 parser stores these channels negated; the evaluation undoes it.
constexpr uint8_t kObjectSigns = 1u << 4 | 1u << 5;  // pitch, bank
constexpr uint8_t kCameraSigns = 1u << 3;            // heading
constexpr uint8_t kLightSigns = 0;
// The zoom factor LightWave uses when nothing else is given (a zoom of 1 here).
constexpr float kDefaultZoom = 3.2f;

class LwscLoader {
 public:
  LwscLoader(Scene& scene, const LwscScene& src) : s_(scene), src_(src) {}
  SceneStatus run();

 private:
  SceneStatus fail(SceneStatus status) { return scene_load_failed(s_, status); }
  SceneStatus refuse(const std::string& why) { return scene_load_refused(s_, why); }
  SceneStatus take_motion(int& header);
  // A motion of the item's channels (9 entries, absent ones constant).
  SceneStatus item_motion(const LwscItem& it, uint8_t signs, int& header);
  // A one-channel envelope motion: the reader's envelope, or a constant when `env` < 0.
  SceneStatus envelope_motion(int32_t env, float constant, EnvelopeUse use, int& header);
  void add_channel(int32_t env, float constant);
  SceneStatus load_mesh(const LwscItem& it);
  SceneStatus object(const LwscItem& it, std::vector<int>& object_of_item, size_t item_index);
  SceneStatus light(const LwscItem& it);
  SceneStatus camera(const LwscItem& it, const std::vector<int>& object_of_item);

  Scene& s_;
  const LwscScene& src_;
  float scene_length_ = 0;  // in frames, from FirstFrame to LastFrame
};

SceneStatus LwscLoader::take_motion(int& header) {
  if (s_.next_motion < 0 || s_.next_motion >= kMaxMotions)
    return refuse("more than " + std::to_string(kMaxMotions) + " motions and envelopes");
  header = s_.next_motion++;
  Motion& m = s_.motions[size_t(header)];
  m = Motion();
  m.envelope_first = static_cast<int>(s_.envelopes.channels.size());
  m.frame_step = 1.0f;
  m.last_frame = scene_length_;  // behaviours carry every channel to the scene's end
  return SceneStatus::ok;
}

void LwscLoader::add_channel(int32_t env, float constant) {
  ChannelEnvelope ch;
  ch.constant = constant;
  if (env >= 0 && size_t(env) < src_.envelopes.size()) {
    const LwscEnvelope& e = src_.envelopes[size_t(env)];
    ch.first_key = static_cast<int>(s_.envelopes.keys.size());
    ch.key_count = static_cast<int>(e.key_count);
    ch.pre = e.pre;
    ch.post = e.post;
    s_.envelopes.keys.insert(s_.envelopes.keys.end(), src_.keys.begin() + e.first_key,
                             src_.keys.begin() + e.first_key + e.key_count);
    s_.next_key += ch.key_count;
  }
  s_.envelopes.channels.push_back(ch);
}

SceneStatus LwscLoader::item_motion(const LwscItem& it, uint8_t signs, int& header) {
  if (SceneStatus st = take_motion(header); st != SceneStatus::ok) return st;
  Motion& m = s_.motions[size_t(header)];
  m.channel_count = kNumChannels;
  m.negate_channels = signs;
  for (int c = 0; c < kNumChannels; ++c)
    add_channel(c < it.channel_count ? it.channels[c] : -1, c >= 6 ? 1.0f : 0.0f);
  return SceneStatus::ok;
}

SceneStatus LwscLoader::envelope_motion(int32_t env, float constant, EnvelopeUse use, int& header) {
  if (SceneStatus st = take_motion(header); st != SceneStatus::ok) return st;
  Motion& m = s_.motions[size_t(header)];
  m.channel_count = 1;
  m.envelope_use = static_cast<uint8_t>(use);
  add_channel(env, constant);
  return SceneStatus::ok;
}

SceneStatus LwscLoader::load_mesh(const LwscItem& it) {
  const std::string& written = it.path;
  if (written.size() > kMaxPathLength)
    return refuse("object name longer than " + std::to_string(kMaxPathLength) + " characters");
  const std::string candidates[] = {written, path_join(path_directory(s_.path), written),
                                    path_join(s_.lightwave_root, written)};
  for (size_t i = 0; i < 3; ++i) {
    const std::string& c = candidates[i];
    bool seen = c.empty();
    for (size_t j = 0; j < i && !seen; ++j) seen = c == candidates[j];
    if (seen) continue;
    std::string path = c;
    ObjectLoadOptions opt;
    opt.layer = it.layer;
    opt.object_path = c;
    std::vector<std::string> missing_images;
    if (s_.flags & SceneFlags::IMAGES_OPTIONAL) {
      opt.images_required = false;
      opt.missing_images = &missing_images;
    }
    opt.light_unlit_surfaces = (s_.flags & SceneFlags::LIGHT_UNLIT_SURFACES) != 0;
    ObjectLoadContext context;
    const LoadStatus st = load_object(s_, context, path, true, opt);
    for (const std::string& image : missing_images)
      log_line(c + ": image " + image + " not found; its surface is drawn without it");
    if (st == LoadStatus::ok) {
      SceneObject& obj = s_.objects[size_t(s_.object_count - 1)];
      obj.file_name = written;
      obj.loaded_path = c;
      s_.loaded = 1;
      return SceneStatus::ok;
    }
    if (st == LoadStatus::not_found && !context.image_missing) continue;
    // Found, but not usable (or one of its images is missing): report that file.
    s_.error_path = context.image_missing ? context.error_path : c;
    return fail(scene_status_from(st));
  }
  if (s_.flags & SceneFlags::MISSING_NULL) {
    log_line("Object " + written + " not found: a null object stands in for it");
    SceneObject& obj = s_.objects[size_t(s_.object_count)];
    obj = SceneObject();
    obj.file_name = written;
    obj.missing = true;
    ++s_.object_count;
    s_.loaded = 1;
    s_.error_path.clear();
    return SceneStatus::ok;
  }
  s_.error_path = written;
  return fail(SceneStatus::file_not_found);
}

SceneStatus LwscLoader::object(const LwscItem& it, std::vector<int>& object_of_item, size_t item_index) {
  if (s_.object_count >= kMaxObjects) return refuse("more than " + std::to_string(kMaxObjects) + " objects");
  if (it.kind == LwscItemKind::object) {
    if (SceneStatus st = load_mesh(it); st != SceneStatus::ok) return st;
  } else {
    SceneObject& obj = s_.objects[size_t(s_.object_count)];
    obj = SceneObject();
    obj.file_name = it.path;
    ++s_.object_count;
  }
  const int index = s_.object_count - 1;
  object_of_item[item_index] = index;
  int h = 0;
  if (SceneStatus st = item_motion(it, kObjectSigns, h); st != SceneStatus::ok) return st;
  SceneObject& obj = s_.objects[size_t(index)];
  obj.motion = h;
  obj.parent = -1;
  obj.morph_target = obj.morph_envelope = -1;
  for (int k = 0; k < 3; ++k) obj.pivot[k] = -it.pivot[k];  // stored negated
  obj.dissolve_envelope = -1;
  if (it.dissolve_envelope >= 0 || it.dissolve > 0) {
    if (SceneStatus st = envelope_motion(it.dissolve_envelope, it.dissolve, EnvelopeUse::dissolve, h);
        st != SceneStatus::ok)
      return st;
    obj.dissolve_envelope = h;
    // Opaque surfaces read the object's level; translucent ones their own, which the
    // evaluation keeps at the object's level times their opacity.
    for (Triangle& t : obj.polygons)
      if (!t.dissolve_ref) t.dissolve_ref = &obj.dissolve;
  }
  return SceneStatus::ok;
}

SceneStatus LwscLoader::light(const LwscItem& it) {
  if (s_.light_count >= kMaxLights) return refuse("more than " + std::to_string(kMaxLights) + " lights");
  int h = 0;
  if (SceneStatus st = item_motion(it, kLightSigns, h); st != SceneStatus::ok) return st;
  SceneLight& light = s_.lights[size_t(s_.light_count)];
  light = SceneLight();
  light.motion = h;
  for (int k = 0; k < 3; ++k) light.color[k] = it.color[k];
  light.intensity = it.intensity;
  switch (it.light_type) {
    case 0: light.type = 4; break;  // distant
    case 1: light.type = 1; break;  // point
    case 2: light.type = 2; break;  // spot
    default: break;                 // linear and area lights: left unset (0)
  }
  if (it.intensity_envelope >= 0) {
    if (SceneStatus st = envelope_motion(it.intensity_envelope, it.intensity, EnvelopeUse::value, h);
        st != SceneStatus::ok)
      return st;
    light.intensity_envelope = h;
  }
  ++s_.light_count;
  return SceneStatus::ok;
}

SceneStatus LwscLoader::camera(const LwscItem& it, const std::vector<int>& object_of_item) {
  // Motion 0 is the camera's and holds the scene timing.
  Motion& m = s_.motions[0];
  const Motion timing = m;
  m = Motion();
  m.frames_per_second = timing.frames_per_second;
  m.first_frame = timing.first_frame;
  m.last_frame = timing.last_frame;
  m.frame_step = 1.0f;
  m.channel_count = kNumChannels;
  m.negate_channels = kCameraSigns;
  m.envelope_first = static_cast<int>(s_.envelopes.channels.size());
  for (int c = 0; c < kNumChannels; ++c)
    add_channel(c < it.channel_count ? it.channels[c] : -1, c >= 6 ? 1.0f : 0.0f);
  s_.camera_parent = it.parent >= 0 && size_t(it.parent) < object_of_item.size() ? object_of_item[size_t(it.parent)] : -1;
  s_.zoom_factor = it.zoom;
  s_.zoom_envelope = -1;
  // A static zoom other than the default is kept as a constant envelope, so it applies.
  if (it.zoom_envelope >= 0 || it.zoom != kDefaultZoom) {
    int h = 0;
    if (SceneStatus st = envelope_motion(it.zoom_envelope, it.zoom, EnvelopeUse::zoom, h); st != SceneStatus::ok)
      return st;
    s_.zoom_envelope = h;
  }
  return SceneStatus::ok;
}

SceneStatus LwscLoader::run() {
  s_.precalc.precalc_invalid = false;
  if (s_.flags & SceneFlags::BUILD_PRECALC)
    s_.precalc.build_precalc = true;
  else
    (void)precalc_read(s_);  // as for LightWave 5 scenes: a missing file never fails the load
  try {
    s_.motions.assign(kMaxMotions, Motion());
    s_.objects.assign(kMaxObjects, SceneObject());
    s_.lights.assign(kMaxLights, SceneLight());
    s_.keys.assign(kMaxKeys, MotionKey());
    s_.envelopes = SceneEnvelopes();
    s_.envelopes.keys.reserve(src_.keys.size());
  } catch (const std::bad_alloc&) {
    return fail(SceneStatus::out_of_memory);
  }
  s_.envelopes.format_version = src_.version;
  const double fps = src_.frames_per_second > 0 ? src_.frames_per_second : 30.0;
  s_.envelopes.time_origin = src_.first_frame / fps;
  s_.envelopes.file_frame_step = src_.frame_step;
  scene_length_ = static_cast<float>(std::max(0.0, src_.last_frame - src_.first_frame));

  Motion& h0 = s_.motions[0];
  h0.frames_per_second = static_cast<float>(fps);
  h0.first_frame = static_cast<float>(src_.first_frame);
  h0.last_frame = scene_length_;
  h0.frame_step = 1.0f;
  s_.next_motion = 1;
  s_.object_count = s_.light_count = s_.image_count = s_.polygon_total = 0;
  s_.next_key = 0;

  std::vector<int> object_of_item(src_.items.size(), -1);
  const LwscItem* cam = nullptr;
  for (size_t i = 0; i < src_.items.size(); ++i) {
    const LwscItem& it = src_.items[i];
    SceneStatus st = SceneStatus::ok;
    switch (it.kind) {
      case LwscItemKind::object:
      case LwscItemKind::null_object: st = object(it, object_of_item, i); break;
      case LwscItemKind::light: st = light(it); break;
      case LwscItemKind::camera:
        if (!cam) cam = &it;
        break;
    }
    if (st != SceneStatus::ok) return st;
    if (s_.next_key > kMaxKeys)
      return refuse("more than the " + std::to_string(kMaxKeys) + " motion keys");
  }
  // Parents by item id, now that every object has its entry.
  for (size_t i = 0; i < src_.items.size(); ++i) {
    const int o = object_of_item[i];
    const int p = src_.items[i].parent;
    if (o >= 0 && p >= 0 && size_t(p) < object_of_item.size()) s_.objects[size_t(o)].parent = object_of_item[size_t(p)];
  }
  LwscItem no_camera;
  if (SceneStatus st = camera(cam ? *cam : no_camera, object_of_item); st != SceneStatus::ok) return st;
  if (s_.next_key > kMaxKeys) return refuse("more than the " + std::to_string(kMaxKeys) + " motion keys");
  s_.motion_count = s_.next_motion;

  for (int k = 0; k < 3; ++k) {
    s_.ambient_color[k] = src_.ambient_color[k] * 255.0f;  // the record keeps LightWave 5's 0..255
    s_.backdrop_color[k] = src_.backdrop_color[k];
  }
  s_.ambient_intensity = src_.ambient_intensity;
  std::vector<uint8_t>().swap(s_.parse.text);
  s_.parse.text_pos = 0;

  if (!scene_alloc_draw_buffers(s_)) return fail(SceneStatus::out_of_memory);
  return SceneStatus::ok;
}

}  // namespace

SceneStatus scene_load_lwsc(Scene& scene, const std::string& path, const uint8_t* data, size_t size) {
  scene.path = path;
  LwscScene src;
  LwscLimits limits;
  limits.max_keys = static_cast<uint32_t>(kMaxKeys);
  const LwscStatus st = lwsc_read(data, size, src, limits);
  if (st != LwscStatus::ok) {
    log_line("Scene " + path + ": " + lwsc_status_text(st) +
             (src.error_line ? " (line " + std::to_string(src.error_line) + ")" : std::string()));
    scene_destroy(scene);
    scene.loaded = 0;
    return st == LwscStatus::too_many ? SceneStatus::out_of_memory : SceneStatus::bad_scene;
  }
  try {
    const SceneStatus loaded = LwscLoader(scene, src).run();
    if (loaded == SceneStatus::ok) lw_fill_scene_info(scene, data, size, &src);
    return loaded;
  } catch (const std::bad_alloc&) {
    scene_destroy(scene);
    scene.loaded = 0;
    return SceneStatus::out_of_memory;
  }
}

}  // namespace orvl
