// One scene on its own: `orvl play FILE.lws` watches it in a window on the real clock,
// `orvl render FILE.lws --out DIR` draws it off-screen on the virtual clock into one PNG
// per frame (deterministic pictures for users, checks and tests).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/command.h"
#include "app/options.h"
#include "effects/effects.h"
#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/mesh_draw.h"
#include "render/png_writer.h"
#include "render/texture_upload.h"
#include "scene/scene.h"

namespace {

using namespace orvl;

bool parse_number(const std::string& text, double min, double max, double& out) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !(v >= min) || v > max) return false;
  out = v;
  return true;
}

bool parse_size(const std::string& text, int& w, int& h) {
  char* end = nullptr;
  long a = std::strtol(text.c_str(), &end, 10);
  if (*end != 'x' && *end != 'X') return false;
  long b = std::strtol(end + 1, &end, 10);
  if (*end || a < 16 || b < 16 || a > 8192 || b > 8192) return false;
  w = int(a);
  h = int(b);
  return true;
}

// Without an explicit end a render stops after this many frames (about 55 minutes at 30
// frames per second).
constexpr double kDefaultMaxFrames = 100000;

int usage(const char* cmd, const std::string& what) {
  std::fprintf(stderr, "orvl %s: %s\n", cmd, what.c_str());
  return 2;
}

struct SceneRun {
  const char* cmd = "render";
  std::string file, root;
  int width = 640, height = 480;
  bool z_buffer = true;
  float scene_scale = 1;
  RenderSettings render;
  bool look_given = false;  // --look was on the command line
};

// --look engine|lightwave; false with `error` set when the value is neither.
bool take_look(std::vector<std::string>& args, SceneRun& run, std::string& error) {
  std::string value;
  bool missing = false;
  if (!take_option(args, "--look", value, &missing)) {
    if (missing) error = "--look wants engine or lightwave";
    return !missing;
  }
  if (!parse_look(value, run.render.look)) return error = "--look wants engine or lightwave", false;
  run.look_given = true;
  return true;
}

// The look of a scene when --look did not choose: Look= in Orvl.ini, else the scene's
// generation (LightWave 5 scenes the engine look, later scenes and lone objects lightwave).
void settle_look(SceneRun& run, const Scene& scene) {
  if (run.look_given) return;
  Options o;
  options_read_drawing(options_config_path(), o);
  run.render.look = o.look_set ? o.look : default_look_for_format(scene.lw.format_version);
}

// Opens the display and loads the scene into it; prints the reason and returns false on failure.
bool open_scene(const SceneRun& run, uint32_t display_options, Scene& scene) {
  // A FIFO or a device never becomes a scene: say why before a window opens for it, in the
  // words and with the status a load would give.
  FileStatus probe = FileStatus::ok;
  const int fd = open_regular_file(resolve_data_path(run.file), probe);
  if (fd >= 0) (void)close(fd);
  if (probe == FileStatus::not_regular || probe == FileStatus::no_access) {
    std::fprintf(stderr, "orvl %s: %s: status %d (%s): %s\n", run.cmd, run.file.c_str(),
                 int(SceneStatus::file_not_found), file_status_text(probe), run.file.c_str());
    return false;
  }
  display_reset();
  const DisplayResult opened =
      display_open(display_options, run.width, run.height, 32, 0, 0, 0, "orvl - " + run.file);
  if (opened != DisplayResult::ok) {
    std::fprintf(stderr, "orvl %s: cannot open the display: %s (%s)\n", run.cmd, display_result_text(opened),
                 display_error().c_str());
    return false;
  }
  GLint max_texture = 1024;
  gl().GetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture);
  reset_texture_counter();
  scene_construct(scene);
  uint32_t flags = SceneFlags::MIPMAP | SceneFlags::BILINEAR;
  if (run.z_buffer) flags |= SceneFlags::DEPTH_BUFFER;
  (void)scene_configure(scene, flags, run.width, run.height, std::max<GLint>(64, max_texture), 1);
  scene_set_lightwave_root(scene, run.root);
  const SceneStatus st = scene_load(scene, run.file);
  if (st != SceneStatus::ok) {
    std::fprintf(stderr, "orvl %s: %s: status %d (%s)%s%s\n", run.cmd, run.file.c_str(), int(st),
                 scene_failure_text(scene, st), scene.error_path.empty() ? "" : ": ", scene.error_path.c_str());
    (void)display_close();
    scene_destroy(scene);
    return false;
  }
  if (run.scene_scale != 1) scene_scale(scene, run.scene_scale);
  particles_setup_scene(scene);
  effects_init(scene);
  upload_textures(scene);
  return true;
}

void close_scene(Scene& scene) {
  effects_free(scene);
  delete_textures();
  (void)display_close();
  scene_destroy(scene);
  if (frame_state().dropped > 0)
    std::fprintf(stderr, "%lld triangles did not fit the draw list\n", frame_state().dropped);
}

// The scene's own length in milliseconds: its last frame at its frame rate.
double scene_length_ms(const Scene& scene) {
  const Motion& timing = scene.motions[0];
  return timing.frames_per_second > 0 ? std::max(0.0, 1000.0 * timing.last_frame / timing.frames_per_second)
                                      : 10000.0;
}

// Starts every motion at `tick`, as if the scene had begun then.
void start_motions_at(Scene& scene, uint32_t tick) {
  scene_reset_motions(scene);
  for (int m = 0; m < scene.motion_count && m < int(scene.motions.size()); ++m)
    scene.motions[m].start_tick = float(tick);
}

bool common_options(std::vector<std::string>& args, SceneRun& run, std::string& error) {
  std::string value;
  bool missing = false;
  double scale = 1;
  take_option(args, "--root", run.root, &missing);
  if (take_option(args, "--scene-scale", value, &missing)) {
    if (!parse_number(value, 1e-6, 1e6, scale)) return error = "--scene-scale wants a positive number", false;
    run.scene_scale = float(scale);
  }
  if (missing) return error = "an option is missing its value", false;
  if (take_option(args, "--zbuffer", value, &missing)) {
    if (value != "on" && value != "off") return error = "--zbuffer wants on or off", false;
    run.z_buffer = value == "on";
  }
  if (missing) return error = "an option is missing its value", false;
  return true;
}

constexpr const char* kRenderUsage =
    "usage: orvl render FILE.lws [--root DIR] (--out DIR | --window) [--fps N] [--seconds S] [--every K] "
    "[--scale F] [--quiet] [--from MS] [--to MS] [--size WxH] [--max-frames N] [--zbuffer on|off] [--look engine|lightwave]";

int play_window(SceneRun& run, bool full, int window_scale, double seconds);

int run_render(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  SceneRun run;
  std::string error, out_dir, value;
  bool missing = false;
  double fps = 30, from = 0, to = -1, seconds = -1, every = 1, scale = 1, max_frames = kDefaultMaxFrames;
  const bool quiet = take_flag(args, "--quiet");
  const bool window = take_flag(args, "--window");
  if (take_option(args, "--scale", value, &missing)) {
    if (!parse_number(value, 1e-6, 1e6, scale)) return usage("render", "--scale wants a positive number");
    run.scene_scale = float(scale);
  }
  run.render.exact_order = take_flag(args, "--exact-order");
  if (!take_look(args, run, error)) return usage("render", error);
  if (!common_options(args, run, error)) return usage("render", error);
  take_option(args, "--out", out_dir, &missing);
  if (take_option(args, "--fps", value, &missing) && !parse_number(value, 1, 1000, fps))
    return usage("render", "--fps wants a number from 1 to 1000");
  if (take_option(args, "--from", value, &missing) && !parse_number(value, 0, 1e9, from))
    return usage("render", "--from wants milliseconds");
  if (take_option(args, "--to", value, &missing) && !parse_number(value, 0, 1e9, to))
    return usage("render", "--to wants milliseconds");
  if (take_option(args, "--seconds", value, &missing) && !parse_number(value, 0, 1e6, seconds))
    return usage("render", "--seconds wants a number of seconds from 0 to 1000000");
  if (take_option(args, "--every", value, &missing) &&
      (!parse_number(value, 1, 1e6, every) || every != std::floor(every)))
    return usage("render", "--every wants a whole number from 1");
  if (take_option(args, "--max-frames", value, &missing) &&
      (!parse_number(value, 1, 1e9, max_frames) || max_frames != std::floor(max_frames)))
    return usage("render", "--max-frames wants a whole number from 1 to 1000000000");
  if (take_option(args, "--size", value, &missing) && !parse_size(value, run.width, run.height))
    return usage("render", "--size wants WIDTHxHEIGHT (16 to 8192)");
  if (missing || args.size() != 1 || out_dir.empty() == !window) return usage("render", kRenderUsage);
  if (to >= 0 && seconds >= 0) return usage("render", "--to and --seconds both set the end; give one");
  run.file = args[0];
  // --seconds counts from --from.
  if (seconds >= 0) to = from + seconds * 1000.0;

  stop_signals_install();  // Ctrl-C ends the run after the frame in progress
  if (window) {
    log_set_echo(!quiet);
    return play_window(run, false, 1, to >= 0 ? to / 1000.0 : -1);
  }
  log_echo_to_stderr(true);
  log_set_echo(!quiet);
  // The folder is made (or found) first: a folder that cannot be written is one error
  // naming it, not one per frame.
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);
  if (ec || !std::filesystem::is_directory(out_dir, ec)) {
    std::fprintf(stderr, "orvl render: %s: cannot make the output folder: %s\n", out_dir.c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return 1;
  }
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  Scene scene;
  if (!open_scene(run, run.z_buffer ? DisplayOptions::DEPTH_BUFFER : 0, scene)) return 1;
  settle_look(run, scene);
  const bool bounded = to < 0;
  if (to < 0) to = scene_length_ms(scene);

  // Frame n shows the moment n * 1000 / fps; the pictures are named by that number.
  const long long first = std::llround(from * fps / 1000.0);
  long long last = std::max(first, static_cast<long long>(std::floor(to * fps / 1000.0 + 1e-9)));
  // A scene's own length can be anything its author (or an attacker) wrote; without an
  // explicit end the run stops after --max-frames frames and says so.
  const long long wanted = last - first + 1;
  const long long limit = static_cast<long long>(max_frames);
  if (bounded && wanted > limit) {
    last = first + limit - 1;
    std::fprintf(stderr,
                 "orvl render: the scene runs for %lld frames; stopping after %lld (--max-frames; --to or "
                 "--seconds set the end)\n",
                 wanted, limit);
  }
  const uint32_t base = 1000;
  clock_set_virtual(base);
  start_motions_at(scene, base);
  const bool progress = isatty(STDERR_FILENO) != 0;
  const long long step = static_cast<long long>(every);
  std::vector<uint8_t> rgba;
  int written = 0, failed = 0;
  for (long long n = first; n <= last; ++n) {
    clock_set_virtual(base + static_cast<uint32_t>(std::llround(n * 1000.0 / fps)));
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
    if ((n - first) % step == 0) {
      int w = 0, h = 0;
      char name[32];
      std::snprintf(name, sizeof name, "frame_%06lld.png", n);
      const std::string path = (std::filesystem::path(out_dir) / name).string();
      std::string err;
      if (!display_read_frame(rgba, w, h)) {
        err = "the frame could not be read back";
      } else if (png_write_frame(path, rgba.data(), w, h, size_t(w) * 4, &err)) {
        ++written;
        err.clear();
      }
      if (!err.empty() && failed++ == 0) std::fprintf(stderr, "orvl render: %s: %s\n", path.c_str(), err.c_str());
    }
    if (progress) std::fprintf(stderr, "\rframe %lld of %lld", n - first + 1, last - first + 1);
    if (stop_requested()) break;
  }
  if (progress) std::fprintf(stderr, "\n");
  clock_use_real();
  close_scene(scene);
  std::fprintf(stderr, "%d pictures written to %s%s\n", written, out_dir.c_str(),
               failed ? (", " + std::to_string(failed) + " could not be written").c_str() : "");
  if (stop_requested()) return stop_exit_code();
  return failed ? 1 : 0;
}

// A window on the real clock until Escape, the scene's end or `seconds` (when not negative).
int play_window(SceneRun& run, bool full, int window_scale, double seconds) {
  display_setup(DisplaySetup{DisplayBackend::automatic, window_scale, false});
  int stop = 0;
  uint32_t options = run.z_buffer ? DisplayOptions::DEPTH_BUFFER : 0;
  if (full) options |= DisplayOptions::FULL_SCREEN;
  Scene scene;
  if (!open_scene(run, options, scene)) return 1;
  settle_look(run, scene);
  display_bind_key(27, &stop, 1);  // Escape (after the display reset inside open_scene)
  display_set_title(run.file);
  const double length = seconds >= 0 ? seconds * 1000.0 : scene_length_ms(scene);
  const uint32_t start = clock_now_ms();
  start_motions_at(scene, start);
  long long frames = 0;
  while (true) {
    display_frame();
    if (stop || stop_requested() || clock_now_ms() - start > length) break;
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
    ++frames;
  }
  const double secs = (clock_now_ms() - start) / 1000.0;
  close_scene(scene);
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f frames per second)%s\n", frames, secs,
               secs > 0 ? frames / secs : 0.0, stop || stop_requested() ? ", stopped" : "");
  return stop_requested() ? stop_exit_code() : 0;
}

int run_play(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  SceneRun run;
  run.cmd = "play";
  std::string error, value;
  bool missing = false;
  double scale = 1;
  const bool full = take_flag(args, "--fullscreen");
  take_flag(args, "--windowed");  // the default
  if (!take_look(args, run, error)) return usage("play", error);
  if (!common_options(args, run, error)) return usage("play", error);
  if (take_option(args, "--scale", value, &missing) && !parse_number(value, 1, 16, scale))
    return usage("play", "--scale wants a whole number from 1 to 16");
  if (missing || args.size() != 1)
    return usage("play", "usage: orvl play FILE.lws [--root DIR] [--windowed|--fullscreen] [--scale N] [--zbuffer on|off] [--look engine|lightwave]");
  run.file = args[0];
  stop_signals_install();
  return play_window(run, full, int(scale), -1);
}

const CommandRegistrar render_cmd(
    {"render",
     "render FILE.lws (--out DIR | --window) [--fps N] [--seconds S] [--every K] [--scale F] [--quiet] [--from MS] "
     "[--to MS] [--size WxH] [--max-frames N] [--root DIR] [--zbuffer on|off] [--exact-order] [--look engine|lightwave]",
     run_render});
const CommandRegistrar play_cmd(
    {"play", "play FILE.lws [--root DIR] [--windowed|--fullscreen] [--scale N] [--zbuffer on|off] [--look engine|lightwave]",
     run_play});

}  // namespace
