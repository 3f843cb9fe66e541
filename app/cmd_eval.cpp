// `orvl eval`: places every object, the camera and the lights of a scene at a given moment,
// exactly as playback would MS milliseconds after the scene was shown, on the virtual clock;
// with `--look lightwave` also in LightWave's own terms (scene/lw_scene.h).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/json_text.h"
#include "app/command.h"
#include "app/scene_json.h"
#include "app/scene_run.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "scene/look.h"
#include "scene/lw_scene.h"
#include "scene/motion.h"
#include "scene/scene.h"

namespace orvl {
namespace {

// Motions start at this tick; it only has to be non-zero (0 means "not started").
constexpr uint32_t kStartTick = 1000;
// Ticks are kept as floats by the evaluation: beyond 2^24 ms they stop being exact.
constexpr unsigned long kMaxAtMs = (1ul << 24) - kStartTick;

std::string text_floats(const float* v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += (n == 9 && i % 3 == 0) ? " | " : " ";
    s += float_text(v[i]);
  }
  return s;
}

float camera_frame(const Scene& scene) { return scene.motions.empty() ? 0.0f : scene.motions[0].frame; }

// What `evaluate_light` leaves in the Scene, kept per light (the Scene holds only the last).
struct LightState {
  float position[3], angles[3], matrix[9];
};

// One renderer frame's worth of evaluation, in the renderer's order.
void evaluate_frame(Scene& scene, std::vector<LightState>& lights) {
  evaluate_objects(scene);
  evaluate_camera(scene);
  lights.resize(static_cast<size_t>(scene.light_count));
  for (int i = 0; i < scene.light_count && i < static_cast<int>(scene.lights.size()); ++i) {
    evaluate_light(scene, scene.lights[i].motion);
    LightState& l = lights[i];
    std::copy(scene.light_position, scene.light_position + 3, l.position);
    std::copy(scene.light_angles, scene.light_angles + 3, l.angles);
    std::copy(scene.light_matrix, scene.light_matrix + 9, l.matrix);
  }
}

bool parse_unsigned(const std::string& s, unsigned long max, unsigned long& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out <= max;
}

// A duration or frame: a plain decimal number from 0 to `max` (no sign, exponent or NaN).
bool parse_decimal(const std::string& s, double max, double& out) {
  if (s.empty() || s.size() > 40) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out) && out >= 0 && out <= max;
}

// Milliseconds as given: whole ones print as before, fractions with their digits.
std::string ms_text(double ms) {
  if (ms == std::floor(ms)) return std::to_string(static_cast<unsigned long>(ms));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6f", ms);
  std::string t = buf;
  while (!t.empty() && t.back() == '0') t.pop_back();
  return t;
}

SceneJson json_double(double v) { return std::isfinite(v) ? SceneJson(v) : SceneJson(); }

SceneJson json_matrix(const LwMatrix& m) {
  SceneJson a = SceneJson::array();
  for (double v : m.m) a.push_back(json_double(v));
  return a;
}

std::string text_matrix(const LwMatrix& m) {
  std::string t;
  char buf[32];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%s%.9g", i == 0 ? "" : (i % 4 == 0 ? " | " : " "), m.m[i]);
    t += buf;
  }
  return t;
}

const char* light_type_name(LwLightType t) {
  switch (t) {
    case LwLightType::distant: return "distant";
    case LwLightType::point: return "point";
    case LwLightType::spot: return "spot";
    case LwLightType::linear: return "linear";
    case LwLightType::area: return "area";
  }
  return "point";
}

int usage_error(const char* what) {
  std::fprintf(stderr, "orvl eval: %s\nusage: orvl eval FILE.lws --at MS|--frame F [--root DIR] [--json] "
               "[--camera-space OBJ] [--scale F] [--look engine|lightwave] [--missing null]\n", what);
  return 2;
}

// What `--look lightwave` adds: the pose at the moment, in LightWave's terms.
SceneJson lightwave_json(const Scene& scene, const LwPose& pose) {
  const LwSceneInfo& info = scene.lw;
  SceneJson j;
  j["frame"] = json_double(pose.frame);
  j["file_frame"] = json_double(lw_file_frame(scene, pose.frame));
  j["first_frame"] = json_double(lw_playback_frame(scene, info.first_frame));
  j["last_frame"] = json_double(lw_playback_frame(scene, info.last_frame));
  j["frames_per_second"] = json_double(info.frames_per_second);
  SceneJson objects = SceneJson::array();
  for (size_t i = 0; i < pose.object_world.size(); ++i) {
    objects.push_back({{"index", i},
                       {"world", json_matrix(pose.object_world[i])},
                       {"morph_amount", json_double(pose.morph_amount[i])},
                       {"dissolve", json_double(pose.dissolve[i])}});
    if (i < scene.objects.size() && scene.objects[i].missing) objects.back()["missing"] = true;
  }
  j["objects"] = std::move(objects);
  SceneJson lights = SceneJson::array();
  for (size_t i = 0; i < pose.light_world.size() && i < info.lights.size(); ++i) {
    const LwLight& l = info.lights[i];
    lights.push_back({{"index", i},
                      {"world", json_matrix(pose.light_world[i])},
                      {"intensity", json_double(pose.light_intensity[i])},
                      {"type", light_type_name(l.type)},
                      {"color", json_floats(l.color, 3)},
                      {"cone_angle", json_double(l.cone_angle)},
                      {"edge_angle", json_double(l.edge_angle)}});
  }
  j["lights"] = std::move(lights);
  j["camera"] = {{"world", json_matrix(pose.camera_world)},
                 {"zoom", json_double(pose.zoom)},
                 {"yfov", json_double(lw_vertical_fov(pose.zoom))},
                 {"pixel_aspect", json_double(info.camera.pixel_aspect)}};
  return j;
}

void print_lightwave_text(const Scene& scene, const LwPose& pose) {
  const LwSceneInfo& info = scene.lw;
  std::printf("lightwave     frame %.9g (file frame %.9g)\n", pose.frame, lw_file_frame(scene, pose.frame));
  for (size_t i = 0; i < pose.object_world.size(); ++i)
    std::printf("lw object %-3zu world %s  morph_amount %.9g  dissolve %.9g\n", i,
                text_matrix(pose.object_world[i]).c_str(), double(pose.morph_amount[i]), double(pose.dissolve[i]));
  for (size_t i = 0; i < pose.light_world.size() && i < info.lights.size(); ++i)
    std::printf("lw light %-4zu world %s  intensity %.9g  %s cone %.9g edge %.9g\n", i,
                text_matrix(pose.light_world[i]).c_str(), double(pose.light_intensity[i]),
                light_type_name(info.lights[i].type), double(info.lights[i].cone_angle),
                double(info.lights[i].edge_angle));
  std::printf("lw camera     world %s  zoom %.9g  yfov %.9g\n", text_matrix(pose.camera_world).c_str(), pose.zoom,
              lw_vertical_fov(pose.zoom));
}

void print_text(const Scene& scene, const std::string& file, double at_ms,
                const std::vector<LightState>& lights, int camera_space) {
  std::printf("scene         %s\n", file.c_str());
  std::printf("at            %s ms\n", ms_text(at_ms).c_str());
  std::printf("frame         %s (current_frame %d, finished %d)\n", float_text(camera_frame(scene)).c_str(),
              scene.current_frame, scene.finished);
  std::printf("scale         %s\n", float_text(scene.scale).c_str());
  for (int i = 0; i < scene.object_count; ++i) {
    const SceneObject& o = scene.objects[i];
    std::printf("object %-6d position %s  angles %s  scale %s\n", i, text_floats(o.position, 3).c_str(),
                text_floats(o.angles, 3).c_str(), text_floats(o.scale, 3).c_str());
    std::printf("              rotation %s\n", text_floats(o.rotation, 9).c_str());
    std::printf("              morph_amount %s  dissolve %d\n", float_text(o.morph_amount).c_str(), o.dissolve);
  }
  std::printf("camera        position %s  angles %s  zoom_factor %s\n", text_floats(scene.camera_position, 3).c_str(),
              text_floats(scene.camera_angles, 3).c_str(), float_text(scene.zoom_factor).c_str());
  std::printf("              matrix %s\n", text_floats(scene.camera_matrix, 9).c_str());
  for (size_t i = 0; i < lights.size(); ++i)
    std::printf("light %-7zu position %s  angles %s\n", i, text_floats(lights[i].position, 3).c_str(),
                text_floats(lights[i].angles, 3).c_str());
  if (camera_space >= 0) {
    const SceneObject& o = scene.objects[camera_space];
    std::printf("camera space  object %d, %d vertices%s\n", camera_space, o.vertex_count,
                o.needs_normals ? " (x y z, world normal)" : " (x y z)");
    for (int v = 0; v < o.vertex_count && v < static_cast<int>(o.transformed.size()); ++v)
      std::printf("  %-6d %s\n", v, text_floats(&o.transformed[v].x, o.needs_normals ? 6 : 3).c_str());
  }
}

void print_json(const Scene& scene, const std::string& file, double at_ms,
                const std::vector<LightState>& lights, int camera_space, const LwPose* pose) {
  SceneJson j;
  j["status"] = 0;
  j["path"] = json_text(file);
  if (at_ms == std::floor(at_ms))
    j["at"] = static_cast<unsigned long>(at_ms);
  else
    j["at"] = at_ms;
  j["frame"] = json_float(camera_frame(scene));
  j["current_frame"] = scene.current_frame;
  j["finished"] = scene.finished;
  j["scale"] = json_float(scene.scale);
  SceneJson objects = SceneJson::array();
  for (int i = 0; i < scene.object_count; ++i) {
    const SceneObject& o = scene.objects[i];
    SceneJson jo = {{"index", i},
                         {"position", json_floats(o.position, 3)},
                         {"angles", json_floats(o.angles, 3)},
                         {"scale", json_floats(o.scale, 3)},
                         {"rotation", json_floats(o.rotation, 9)},
                         {"morph_amount", json_float(o.morph_amount)},
                         {"dissolve", o.dissolve}};
    if (o.missing) jo["missing"] = true;
    if (i == camera_space) {
      SceneJson tv = SceneJson::array();
      for (int v = 0; v < o.vertex_count && v < static_cast<int>(o.transformed.size()); ++v)
        tv.push_back(json_floats(&o.transformed[v].x, o.needs_normals ? 6 : 3));
      jo["transformed"] = std::move(tv);
    }
    objects.push_back(std::move(jo));
  }
  j["objects"] = std::move(objects);
  j["camera_position"] = json_floats(scene.camera_position, 3);
  j["camera_angles"] = json_floats(scene.camera_angles, 3);
  j["camera_matrix"] = json_floats(scene.camera_matrix, 9);
  j["zoom_factor"] = json_float(scene.zoom_factor);
  SceneJson jl = SceneJson::array();
  for (size_t i = 0; i < lights.size(); ++i)
    jl.push_back({{"index", i},
                  {"light_position", json_floats(lights[i].position, 3)},
                  {"light_angles", json_floats(lights[i].angles, 3)},
                  {"light_matrix", json_floats(lights[i].matrix, 9)}});
  j["lights"] = std::move(jl);
  if (pose) j["lightwave"] = lightwave_json(scene, *pose);
  std::printf("%s\n", json_dump(j, 2).c_str());
}

int run_eval(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  bool missing = false;
  const bool json = take_flag(args, "--json");
  std::string at_text, frame_text, root, object_text, scale_text, look_text;
  const bool has_at = take_option(args, "--at", at_text, &missing);
  const bool has_frame = take_option(args, "--frame", frame_text, &missing);
  take_option(args, "--root", root, &missing);
  const bool has_object = take_option(args, "--camera-space", object_text, &missing);
  const bool has_scale = take_option(args, "--scale", scale_text, &missing);
  const bool has_look = take_option(args, "--look", look_text, &missing);
  bool null_objects = false;
  std::string missing_error;
  if (!take_missing(args, null_objects, missing_error)) return usage_error(missing_error.c_str());
  if (missing) return usage_error("an option is missing its value");
  if (!has_at && !has_frame) return usage_error("--at MS or --frame F is required");
  if (has_at && has_frame) return usage_error("give --at or --frame, not both");
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) return usage_error("expected one scene file");
  const std::string file = args[0];

  double at_ms = 0, frame = 0;
  if (has_at && !parse_decimal(at_text, static_cast<double>(kMaxAtMs), at_ms))
    return usage_error(("--at wants milliseconds from 0 to " + std::to_string(kMaxAtMs)).c_str());
  if (has_frame && !parse_decimal(frame_text, 1.0e7, frame))
    return usage_error("--frame wants a frame number from 0 to 10000000 (fractions allowed)");
  Look look = Look::engine;
  if (has_look && !parse_look(look_text, look)) return usage_error("--look wants engine or lightwave");
  unsigned long object = 0;
  if (has_object && !parse_unsigned(object_text, kMaxObjects - 1, object))
    return usage_error("--camera-space wants an object index");
  float factor = 1.0f;
  if (has_scale) {
    char* end = nullptr;
    factor = std::strtof(scale_text.c_str(), &end);
    if (scale_text.empty() || *end != '\0' || !(factor > 0.0f)) return usage_error("--scale wants a positive number");
  }

  log_set_echo(false);
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, null_objects ? SceneFlags::MISSING_NULL : 0, 640, 480, 1024, 0);
  scene_set_lightwave_root(scene, root);
  const size_t log_before = log_lines().size();
  const SceneStatus status = scene_load(scene, file);
  report_missing_objects("eval", log_before);
  if (status != SceneStatus::ok) {
    std::string detail = scene.error_path.empty() || scene.error_path == file ? "" : " (" + scene.error_path + ")";
    std::fprintf(stderr, "orvl eval: %s: status %d, %s%s\n", file.c_str(), static_cast<int>(status),
                 scene_failure_text(scene, status), detail.c_str());
    scene_destroy(scene);
    return 1;
  }
  if (has_object && static_cast<int>(object) >= scene.object_count) {
    std::fprintf(stderr, "orvl eval: %s: no object %lu (the scene has %d)\n", file.c_str(), object,
                 scene.object_count);
    scene_destroy(scene);
    scene_destroy(scene);
    return 2;
  }
  // A frame is a moment at the scene's rate: the rate the engine plays it at, or LightWave's
  // 30 where the file gives none.
  const double engine_fps = scene.motions[0].frames_per_second > 0 ? scene.motions[0].frames_per_second
                                                                    : scene.lw.frames_per_second;
  if (has_frame) {
    at_ms = frame * 1000.0 / engine_fps;
    if (!(at_ms <= static_cast<double>(kMaxAtMs))) {
      scene_destroy(scene);
      scene_destroy(scene);
      return usage_error(("--frame lies beyond " + std::to_string(kMaxAtMs) + " ms at this scene's rate").c_str());
    }
  } else {
    frame = at_ms * scene.lw.frames_per_second / 1000.0;
  }
  if (has_scale) scene_scale(scene, factor);

  // Shown the way the sequencer shows a scene: clocks reset, the first frame starts every
  // motion, and the frame MS milliseconds later is the one reported. A fraction of a
  // millisecond moves every motion's start tick back by it, as a clock finer than 1 ms would.
  scene_reset_motions(scene);
  std::vector<LightState> lights;
  clock_set_virtual(kStartTick);
  evaluate_frame(scene, lights);
  const double whole = std::ceil(at_ms);
  if (whole != at_ms)
    for (int m = 0; m < scene.motion_count && m < static_cast<int>(scene.motions.size()); ++m)
      if (scene.motions[m].start_tick != 0.0f)
        scene.motions[m].start_tick = static_cast<float>(scene.motions[m].start_tick + (whole - at_ms));
  clock_advance_virtual(static_cast<uint32_t>(whole));
  evaluate_frame(scene, lights);
  const int camera_space = has_object ? static_cast<int>(object) : -1;
  if (camera_space >= 0) {
    scene.object_index = camera_space;
    transform_object(scene);
  }
  clock_use_real();

  LwPose pose;
  const bool lightwave = look == Look::lightwave;
  if (lightwave) {
    lw_pose_size(scene, pose);
    (void)lw_pose_at(scene, frame, pose);
  }
  if (json) {
    print_json(scene, file, at_ms, lights, camera_space, lightwave ? &pose : nullptr);
  } else {
    print_text(scene, file, at_ms, lights, camera_space);
    if (lightwave) print_lightwave_text(scene, pose);
  }
  scene_destroy(scene);
  scene_destroy(scene);
  return 0;
}

const CommandRegistrar registrar({"eval",
                                   "eval FILE.lws --at MS|--frame F [--root DIR] [--json] [--camera-space OBJ] [--scale F]\n"
                                   "                            [--look engine|lightwave] [--missing null]\n"
                                   "                            objects, camera and lights MS ms (or F frames) into the scene",
                                   run_eval});

}  // namespace
}  // namespace orvl
