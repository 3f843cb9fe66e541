// `orvl eval`: places every object, the camera and the lights of a scene at a given moment,
// exactly as playback would MS milliseconds after the scene was shown, on the virtual clock.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/json_text.h"
#include "app/command.h"
#include "app/scene_json.h"
#include "platform/clock.h"
#include "platform/log.h"
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

int usage_error(const char* what) {
  std::fprintf(stderr, "orvl eval: %s\nusage: orvl eval FILE.lws --at MS [--root DIR] [--json] "
               "[--camera-space OBJ] [--scale F]\n", what);
  return 2;
}

void print_text(const Scene& scene, const std::string& file, unsigned long at_ms,
                const std::vector<LightState>& lights, int camera_space) {
  std::printf("scene         %s\n", file.c_str());
  std::printf("at            %lu ms\n", at_ms);
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

void print_json(const Scene& scene, const std::string& file, unsigned long at_ms,
                const std::vector<LightState>& lights, int camera_space) {
  SceneJson j;
  j["status"] = 0;
  j["path"] = json_text(file);
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
  std::printf("%s\n", json_dump(j, 2).c_str());
}

int run_eval(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  bool missing = false;
  const bool json = take_flag(args, "--json");
  std::string at_text, root, object_text, scale_text;
  const bool has_at = take_option(args, "--at", at_text, &missing);
  take_option(args, "--root", root, &missing);
  const bool has_object = take_option(args, "--camera-space", object_text, &missing);
  const bool has_scale = take_option(args, "--scale", scale_text, &missing);
  if (missing) return usage_error("an option is missing its value");
  if (!has_at) return usage_error("--at MS is required");
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) return usage_error("expected one scene file");
  const std::string file = args[0];

  unsigned long at_ms = 0;
  if (!parse_unsigned(at_text, kMaxAtMs, at_ms))
    return usage_error(("--at wants milliseconds from 0 to " + std::to_string(kMaxAtMs)).c_str());
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
  (void)scene_configure(scene, 0, 640, 480, 1024, 0);
  scene_set_lightwave_root(scene, root);
  const SceneStatus status = scene_load(scene, file);
  if (status != SceneStatus::ok) {
    std::string detail = scene.error_path.empty() || scene.error_path == file ? "" : " (" + scene.error_path + ")";
    std::fprintf(stderr, "orvl eval: %s: status %d, %s%s\n", file.c_str(), static_cast<int>(status),
                 scene_status_text(status), detail.c_str());
    scene_destroy(scene);
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
  if (has_scale) scene_scale(scene, factor);

  // Shown the way the sequencer shows a scene: clocks reset, the first frame starts every
  // motion, and the frame MS milliseconds later is the one reported.
  scene_reset_motions(scene);
  std::vector<LightState> lights;
  clock_set_virtual(kStartTick);
  evaluate_frame(scene, lights);
  clock_advance_virtual(static_cast<uint32_t>(at_ms));
  evaluate_frame(scene, lights);
  const int camera_space = has_object ? static_cast<int>(object) : -1;
  if (camera_space >= 0) {
    scene.object_index = camera_space;
    transform_object(scene);
  }
  clock_use_real();

  if (json)
    print_json(scene, file, at_ms, lights, camera_space);
  else
    print_text(scene, file, at_ms, lights, camera_space);
  scene_destroy(scene);
  scene_destroy(scene);
  return 0;
}

const CommandRegistrar registrar({"eval",
                                   "eval FILE.lws --at MS [--root DIR] [--json] [--camera-space OBJ] [--scale F]\n"
                                   "                            objects, camera and lights MS ms into the scene",
                                   run_eval});

}  // namespace
}  // namespace orvl
