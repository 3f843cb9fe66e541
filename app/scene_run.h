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
// --root, --scene-scale and --zbuffer; false with `error` set when one is malformed.
bool common_options(std::vector<std::string>& args, SceneRun& run, std::string& error);
// The look of a scene when --look did not choose: Look= in Orvl.ini, else the scene's
// generation (LightWave 5 scenes the engine look, later scenes and lone objects lightwave).
void settle_look(SceneRun& run, const Scene& scene);

// Opens the display and loads the scene into it; prints the reason and returns false on
// failure (nothing is left open then).
bool open_scene(const SceneRun& run, uint32_t display_options, Scene& scene);
// Undoes open_scene.
void close_scene(Scene& scene);

// The scene's own length in milliseconds: its last frame at its frame rate.
double scene_length_ms(const Scene& scene);
// Starts every motion at `tick`, as if the scene had begun then.
void start_motions_at(Scene& scene, uint32_t tick);

}  // namespace orvl
