// One scene (or later, one object) opened for a command of its own: `orvl render`, `orvl play`
// and whatever else draws a single file outside the fixed show.
//
// Owns: the run's settings (`SceneRun`), the options every such command shares, the choice
// of look, and opening the display with the scene loaded and its textures uploaded. Called by
// app/cmd_scene.cpp (render) and app/cmd_play.cpp (play).
//
// Errors: the functions print their own one-line reason to standard error, prefixed with
// "orvl CMD:", and return false; `usage` returns the exit code 2 for bad arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/sound_output.h"
#include "render/frame_renderer.h"
#include "scene/scene.h"

namespace orvl {

struct SceneRun {
  const char* cmd = "render";
  std::string file, root;
  int width = 640, height = 480;
  bool z_buffer = true;
  float scene_scale = 1;
  RenderSettings render;
  bool look_given = false;  // --look was on the command line
  // Lone objects (scene/lone_object.h): --layer and --turntable.
  int layer = 0;
  double turntable_seconds = 10;
  bool object_options_given = false;
  bool missing_null = false;  // --missing null
  std::string music;          // --music FILE: played while the window runs, muxed into a video
};

// Without an explicit end a render stops after this many frames (about 55 minutes at 30
// frames per second).
constexpr double kDefaultMaxFrames = 100000;

// A decimal number in [min, max]; false (out untouched) when the text is anything else.
bool parse_number(const std::string& text, double min, double max, double& out);
// "WIDTHxHEIGHT" with both sides from 16 to 8192.
bool parse_size(const std::string& text, int& w, int& h);
// Prints "orvl CMD: WHAT" and returns 2.
int usage(const char* cmd, const std::string& what);

// --look engine|lightwave; false with `error` set when the value is neither.
bool take_look(std::vector<std::string>& args, SceneRun& run, std::string& error);
// --root, --scene-scale, --zbuffer, --missing null, --layer N (1 to 65536) and --turntable SECONDS (0 to
// 86400); false with `error` set when one is malformed.
bool common_options(std::vector<std::string>& args, SceneRun& run, std::string& error);
// --missing null: an object file that is not there becomes a null object in its place
// (SceneFlags::MISSING_NULL); false with `error` set for any other value. `null_objects` is
// set when the option was given. Shared by render, play, eval, dump-scene and export.
bool take_missing(std::vector<std::string>& args, bool& null_objects, std::string& error);
// After a load with --missing null: the log's "not found" lines since `log_before` on
// standard error, prefixed "orvl CMD: ", for commands that keep the log quiet.
void report_missing_objects(const char* cmd, size_t log_before);
// The look of a scene when --look did not choose: Look= in Orvl.ini, else the scene's
// generation (LightWave 5 scenes the engine look, later scenes and lone objects lightwave).
void settle_look(SceneRun& run, const Scene& scene);

// Opens the display and loads the scene into it; prints the reason and returns false on
// failure (nothing is left open then). A file that is an LWOB or LWO2 object (by its bytes)
// becomes a lone object's viewing scene (scene/lone_object.h) with the run's layer and
// turntable; --layer or --turntable on a scene file is refused.
bool open_scene(const SceneRun& run, uint32_t display_options, Scene& scene);
// Undoes open_scene.
void close_scene(Scene& scene);
// The same load into the display that is already open, the window and its GL context kept
// (the player's dropped files): the same refusals and messages as open_scene; false when
// nothing is open or the file does not load (the scene is left destroyed then). The caller
// has unloaded whatever scene the context held before, since texture numbers start again.
bool load_scene(const SceneRun& run, Scene& scene);
// Undoes load_scene (or open_scene's load): the effects, the textures and the scene go, the
// display stays open.
void unload_scene(Scene& scene);

// The music of a window run (`--music`): the sound library and its stream or module.
struct RunMusic {
  MusicState state;
  bool library = false;  // the sound library was loaded for it
};
// --music FILE: false with `error` set when the file is not a readable regular file.
bool take_music(std::vector<std::string>& args, SceneRun& run, std::string& error);
// Starts `run.music` playing from its beginning (nothing when none is set). False, with the
// reason printed, when the library or the file cannot be opened; nothing is left open then.
// `orvl play` and `render --window` call it right before their clock starts.
bool run_music_start(const SceneRun& run, RunMusic& music);
// Stops and frees the music and the library; nothing when none was started.
void run_music_stop(RunMusic& music);

// The scene's own length in milliseconds: its last frame at its frame rate.
double scene_length_ms(const Scene& scene);
// Starts every motion at `tick`, as if the scene had begun then.
void start_motions_at(Scene& scene, uint32_t tick);

}  // namespace orvl
