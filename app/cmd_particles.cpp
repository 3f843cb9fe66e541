// `orvl particles FILE.lws --object I`: runs one particle emitter of a scene for a few
// frames in camera space, as playback would on the virtual clock, and prints the emitter
// and its particles.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/command.h"
#include "effects/effects.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "scene/motion.h"
#include "scene/scene.h"

namespace orvl {
namespace {

constexpr const char* kUsage =
    "particles FILE.lws --object I [--frames K] [--fps N] [--root DIR] [--json]\n"
    "                            run a particle emitter K frames and print its particles";
constexpr uint32_t kStartTick = 1000;
constexpr unsigned long kMaxFrames = 100000;

bool parse_unsigned(const std::string& s, unsigned long min, unsigned long max, unsigned long& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out >= min && out <= max;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "orvl particles: %s\nusage: orvl %s\n", what.c_str(), kUsage);
  return 2;
}

std::string float_text(float v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

nlohmann::json json_float(float v) { return std::strtod(float_text(v).c_str(), nullptr); }

nlohmann::json json_point(float x, float y, float z) {
  return nlohmann::json::array({json_float(x), json_float(y), json_float(z)});
}

// The step's triangles are only counted here: the command has no draw list.
void count_queued(void* context, const Triangle*, Vertex*, Vertex*, Vertex*, int32_t key) {
  auto* last = static_cast<std::pair<int, int32_t>*>(context);
  ++last->first;
  last->second = key;
}

int32_t emitter_key(const ParticleEmitter& e) {
  const double k = std::trunc(double(e.corners[2]) * 256.0);
  return k < -2147483648.0 ? INT32_MIN : k > 2147483647.0 ? INT32_MAX : int32_t(k);
}

void print_json(const ParticleEmitter& e, int frames, int queued) {
  const auto& pool = particle_pool();
  nlohmann::json j;
  j["count"] = e.count;
  j["base_texture"] = e.base_texture;
  j["fall"] = e.fall;
  j["downsize"] = e.downsize;
  j["frames"] = frames;
  j["queued_last_frame"] = queued;
  nlohmann::json corners = nlohmann::json::array();
  for (int k = 0; k < 3; ++k) corners.push_back(json_point(e.corners[3 * k], e.corners[3 * k + 1], e.corners[3 * k + 2]));
  j["corners"] = std::move(corners);
  j["key"] = emitter_key(e);
  nlohmann::json particles = nlohmann::json::array();
  for (int i = 0; i < e.count; ++i) {
    const Particle& p = pool[static_cast<size_t>(i)];
    nlohmann::json c = nlohmann::json::array();
    for (const Vertex& v : p.corners) c.push_back(json_point(v.x, v.y, v.z));
    particles.push_back({{"life", json_float(p.life)},
                         {"decay", json_float(p.decay)},
                         {"fall_speed", json_float(p.fall_speed)},
                         {"alpha", p.alpha},
                         {"texture", p.triangle_a.texture},
                         {"corners", std::move(c)}});
  }
  j["particles"] = std::move(particles);
  std::printf("%s\n", j.dump(2).c_str());
}

void print_text(const ParticleEmitter& e, int frames, int queued) {
  std::printf("emitter       count %d  base_texture %d  fall %d  downsize %d\n", e.count, e.base_texture, e.fall,
              e.downsize);
  std::printf("frames        %d (%d triangles queued in the last)\n", frames, queued);
  std::printf("corners      ");
  for (int k = 0; k < 9; ++k) std::printf("%s%s", k % 3 == 0 ? "  " : " ", float_text(e.corners[k]).c_str());
  std::printf("\nkey           %d\n", emitter_key(e));
  const auto& pool = particle_pool();
  for (int i = 0; i < e.count; ++i) {
    const Particle& p = pool[static_cast<size_t>(i)];
    std::printf("particle %-4d life %s decay %s fall_speed %s alpha %d texture %d corners", i,
                float_text(p.life).c_str(), float_text(p.decay).c_str(), float_text(p.fall_speed).c_str(), p.alpha,
                p.triangle_a.texture);
    for (const Vertex& v : p.corners)
      std::printf("  %s %s %s", float_text(v.x).c_str(), float_text(v.y).c_str(), float_text(v.z).c_str());
    std::printf("\n");
  }
}

int run(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  bool missing = false;
  const bool json = take_flag(args, "--json");
  std::string object_text, frames_text = "1", fps_text = "30", root;
  const bool has_object = take_option(args, "--object", object_text, &missing);
  take_option(args, "--frames", frames_text, &missing);
  take_option(args, "--fps", fps_text, &missing);
  take_option(args, "--root", root, &missing);
  if (missing) return usage_error("an option is missing its value");
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) return usage_error("expected one scene file");
  unsigned long object = 0, frames = 0, fps = 0;
  if (!has_object || !parse_unsigned(object_text, 0, kMaxObjects - 1, object))
    return usage_error("--object wants an object index");
  if (!parse_unsigned(frames_text, 0, kMaxFrames, frames))
    return usage_error("--frames wants 0 to " + std::to_string(kMaxFrames));
  if (!parse_unsigned(fps_text, 1, 1000, fps)) return usage_error("--fps wants 1 to 1000");
  const std::string file = args[0];

  log_echo_to_stderr(true);
  log_set_echo(!json);
  effect_random_seed(1);
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, 0, 640, 480, 1024, 0);
  scene_set_lightwave_root(scene, root);
  const SceneStatus status = scene_load(scene, file);
  auto done = [&](int code) {
    scene_destroy(scene);
    clock_use_real();
    return code;
  };
  if (status != SceneStatus::ok) {
    std::fprintf(stderr, "orvl particles: %s: status %d, %s\n", file.c_str(), int(status),
                 scene_failure_text(scene, status));
    return done(1);
  }
  if (static_cast<int>(object) >= scene.object_count) {
    std::fprintf(stderr, "orvl particles: %s: no object %lu (the scene has %d)\n", file.c_str(), object,
                 scene.object_count);
    return done(1);
  }
  particles_setup_scene(scene);
  SceneObject& o = scene.objects[object];
  if (!o.particles || !o.emitter) {
    std::fprintf(stderr, "orvl particles: %s: object %lu is not a particle emitter\n", file.c_str(), object);
    return done(1);
  }

  // Shown as the sequencer shows a scene: clocks reset, frame n at n * 1000 / fps ms.
  scene_reset_motions(scene);
  std::pair<int, int32_t> queued{0, 0};
  for (unsigned long n = 0; n < frames; ++n) {
    clock_set_virtual(kStartTick + static_cast<uint32_t>(std::llround(n * 1000.0 / double(fps))));
    evaluate_objects(scene);
    evaluate_camera(scene);
    scene.object_index = static_cast<int>(object);
    transform_object(scene);
    queued = {0, 0};
    if (!o.polygons.empty())
      particles_step(*o.emitter, o.polygons[0], o.transformed.data(), o.transformed.size(), count_queued, &queued);
  }
  if (json)
    print_json(*o.emitter, static_cast<int>(frames), queued.first);
  else
    print_text(*o.emitter, static_cast<int>(frames), queued.first);
  return done(0);
}

const CommandRegistrar registrar({"particles", kUsage, run});

}  // namespace
}  // namespace orvl
