// Opening one file for a command of its own; see app/scene_run.h.
#include "app/scene_run.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/command.h"
#include "app/options.h"
#include "effects/effects.h"
#include "object/surface_image.h"
#include "platform/file.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/gl_api.h"
#include "render/texture_upload.h"
#include "scene/lone_object.h"

namespace orvl {

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


int usage(const char* cmd, const std::string& what) {
  std::fprintf(stderr, "orvl %s: %s\n", cmd, what.c_str());
  return 2;
}


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

bool take_missing(std::vector<std::string>& args, bool& null_objects, std::string& error) {
  std::string value;
  bool missing = false;
  if (!take_option(args, "--missing", value, &missing)) {
    if (missing) error = "--missing wants null";
    return !missing;
  }
  if (value != "null") return error = "--missing wants null (a null object in place of an absent object file)", false;
  null_objects = true;
  return true;
}

void report_missing_objects(const char* cmd, size_t log_before) {
  const std::vector<std::string>& lines = log_lines();
  for (size_t i = log_before; i < lines.size(); ++i)
    if (lines[i].find(": a null object stands in for it") != std::string::npos)
      std::fprintf(stderr, "orvl %s: %s\n", cmd, lines[i].c_str());
}

// The look of a scene when --look did not choose: Look= in Orvl.ini, else the scene's
// generation (LightWave 5 scenes the engine look, later scenes and lone objects lightwave).
void settle_look(SceneRun& run, const Scene& scene) {
  if (run.look_given) return;
  Options o;
  options_read_drawing(options_config_path(), o);
  run.render.look = o.look_set ? o.look : default_look_for_format(scene.lw.format_version);
}

namespace {

// Whether the run's file may be loaded at all, said before anything opens for it: a FIFO or
// a device never becomes a scene (in the words and with the status a load would give), and
// --layer / --turntable belong to object files. Prints the reason when not.
bool file_may_load(const SceneRun& run, bool& lone) {
  FileStatus probe = FileStatus::ok;
  const int fd = open_regular_file(resolve_data_path(run.file), probe);
  if (fd >= 0) (void)close(fd);
  if (probe == FileStatus::not_regular || probe == FileStatus::no_access) {
    std::fprintf(stderr, "orvl %s: %s: status %d (%s): %s\n", run.cmd, run.file.c_str(),
                 int(SceneStatus::file_not_found), file_status_text(probe), run.file.c_str());
    return false;
  }
  lone = lone_object_file_kind(run.file) != LoneObjectKind::none;
  if (!lone && fd >= 0 && run.object_options_given) {
    std::fprintf(stderr, "orvl %s: %s: --layer and --turntable are for object files, and this is not an LWOB or LWO2 object\n",
                 run.cmd, run.file.c_str());
    return false;
  }
  return true;
}

// Loads the file into the open display's context and uploads its textures. False (the
// reason printed) leaves the scene for the caller to destroy.
bool load_into_display(const SceneRun& run, bool lone, Scene& scene) {
  GLint max_texture = 1024;
  gl().GetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture);
  reset_texture_counter();
  scene_construct(scene);
  uint32_t flags = SceneFlags::MIPMAP | SceneFlags::BILINEAR;
  if (run.z_buffer) flags |= SceneFlags::DEPTH_BUFFER;
  if (run.missing_null) flags |= SceneFlags::MISSING_NULL;
  (void)scene_configure(scene, flags, run.width, run.height, std::max<GLint>(64, max_texture), 1);
  scene_set_lightwave_root(scene, run.root);
  LoneObjectOptions lone_options;
  lone_options.layer = run.layer;
  lone_options.turntable_seconds = run.turntable_seconds;
  const SceneStatus st = lone ? scene_load_lone_object(scene, run.file, lone_options) : scene_load(scene, run.file);
  if (st != SceneStatus::ok) {
    std::fprintf(stderr, "orvl %s: %s: status %d (%s)%s%s\n", run.cmd, run.file.c_str(), int(st),
                 scene_failure_text(scene, st), scene.error_path.empty() ? "" : ": ", scene.error_path.c_str());
    return false;
  }
  if (run.scene_scale != 1) scene_scale(scene, run.scene_scale);
  particles_setup_scene(scene);
  effects_init(scene);
  upload_textures(scene);
  return true;
}

}  // namespace

// Opens the display and loads the scene into it; prints the reason and returns false on failure.
bool open_scene(const SceneRun& run, uint32_t display_options, Scene& scene) {
  bool lone = false;
  if (!file_may_load(run, lone)) return false;
  display_reset();
  const DisplayResult opened =
      display_open(display_options, run.width, run.height, 32, 0, 0, 0, "orvl - " + run.file);
  if (opened != DisplayResult::ok) {
    std::fprintf(stderr, "orvl %s: cannot open the display: %s (%s)\n", run.cmd, display_result_text(opened),
                 display_error().c_str());
    return false;
  }
  if (!load_into_display(run, lone, scene)) {
    (void)display_close();
    scene_destroy(scene);
    return false;
  }
  return true;
}

bool load_scene(const SceneRun& run, Scene& scene) {
  bool lone = false;
  if (!display_is_open() || !file_may_load(run, lone)) return false;
  if (load_into_display(run, lone, scene)) return true;
  scene_destroy(scene);
  return false;
}

bool take_music(std::vector<std::string>& args, SceneRun& run, std::string& error) {
  bool missing = false;
  if (!take_option(args, "--music", run.music, &missing)) {
    if (missing) error = "--music wants a music file (MP3, WAV or a module)";
    return !missing;
  }
  if (run.music.empty()) return error = "--music wants a music file (MP3, WAV or a module)", false;
  return true;
}

bool run_music_start(const SceneRun& run, RunMusic& music) {
  if (run.music.empty()) return true;
  // The sound library opens the file itself and would wait for ever on a FIFO or device.
  FileStatus fs = FileStatus::ok;
  const int fd = open_regular_file(resolve_data_path(run.music), fs);
  if (fd < 0) {
    std::fprintf(stderr, "orvl %s: %s: %s\n", run.cmd, run.music.c_str(), file_status_text(fs));
    return false;
  }
  (void)close(fd);
  const SoundLoadStatus loaded = sound_library_load();
  if (loaded != SoundLoadStatus::ok) {
    std::fprintf(stderr, "orvl %s: %s\n", run.cmd, sound_load_status_text(loaded));
    return false;
  }
  music.library = true;
  music.state = MusicState();
  music.state.path = resolve_data_path(run.music);
  const SoundApi& api = sound_api();
  // A library of another version was never started: nothing to stop but the library.
  if (sound_show_start(api, music.state, {}, false) == SoundStartResult::wrong_version) music.state.path.clear();
  if (music.state.path.empty()) {
    std::fprintf(stderr, "orvl %s: %s: cannot be played\n", run.cmd, run.music.c_str());
    run_music_stop(music);
    return false;
  }
  // Without a sound device the silent one stands in, as in the show: the run goes on unheard.
  if (music.state.no_sound)
    std::fprintf(stderr, "orvl %s: no sound output here; %s is not heard\n", run.cmd, run.music.c_str());
  sound_show_play(api, music.state);
  return true;
}

void run_music_stop(RunMusic& music) {
  if (!music.library) return;
  if (!music.state.path.empty()) sound_show_end(sound_api(), music.state);
  sound_library_release();
  music = RunMusic();
}

void close_scene(Scene& scene) {
  effects_free(scene);
  delete_textures();
  (void)display_close();
  scene_destroy(scene);
  if (frame_state().dropped > 0)
    std::fprintf(stderr, "%lld triangles did not fit the draw list\n", frame_state().dropped);
}

void unload_scene(Scene& scene) {
  effects_free(scene);
  delete_textures();
  scene_destroy(scene);
}

// The scene's own length in milliseconds: its last frame at its frame rate.
double scene_length_ms(const Scene& scene) {
  if (scene.motions.empty()) return 10000.0;
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
  if (!take_missing(args, run.missing_null, error)) return false;
  if (!take_music(args, run, error)) return false;
  double number = 0;
  if (take_option(args, "--layer", value, &missing)) {
    if (!parse_number(value, 1, kLoneMaxLayer, number) || number != std::floor(number))
      return error = "--layer wants a whole number from 1 to " + std::to_string(kLoneMaxLayer), false;
    run.layer = int(number);
    run.object_options_given = true;
  }
  if (take_option(args, "--turntable", value, &missing)) {
    if (!parse_number(value, 0, kLoneMaxTurntableSeconds, number) || (number > 0 && number < kLoneMinTurntableSeconds))
      return error = "--turntable wants 0 (still) or seconds per turn from 0.1 to 86400", false;
    run.turntable_seconds = number;
    run.object_options_given = true;
  }
  if (missing) return error = "an option is missing its value", false;
  return true;
}

}  // namespace orvl
