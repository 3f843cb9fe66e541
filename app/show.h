// Show sequencer: plays the fixed show of eight scenes over one music file on one clock.
//
// `show_run` loads every scene (with its objects and images), starts the music, prepares
// the 2D effects, opens the display, uploads the textures, then shows each scene from the
// end of the previous one to its own end moment on a clock that starts with the first
// frame; Escape or a closed window ends the show after the frame in progress. Every step
// writes its line to the log. In build-precalculation mode there is no display and no
// music: the scenes are only evaluated and recorded; each scene's file is written as soon
// as its last frame is recorded, and a scene whose time slot (or the show) ends first
// leaves its old file alone and is reported as not built.
//
// The sequencer owns its eight Scenes for one run. What belongs to the shell (sound
// output, dialogs, the splash, the control window, message boxes) is reached through
// `ShowHost`, so tests can run a whole show headless on the virtual clock and check every
// call. Display, renderer, texture upload and the 2D effects are called directly: each
// scene's particle emitters are set up as it loads, every scene's effects are prepared
// once all are loaded, and the effects of every scene are released at the end.
// Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/frame_renderer.h"
#include "scene/scene.h"

namespace orvl {

struct ShowEntry {
  const char* path;  // relative to the current directory, as the show names it
  bool scaled;       // multiplied by kShowScale after loading
  uint32_t end_ms;   // shown until this many milliseconds after the show clock starts
};
constexpr int kShowScenes = 8;
extern const ShowEntry kShowTable[kShowScenes];
constexpr float kShowScale = 50.0f;
extern const char* const kShowMusic;
constexpr int kShowWidth = 640;
constexpr int kShowHeight = 480;
constexpr int kEscapeKey = 27;

enum class ShowMode : int { rendering = 0, common_rendering = 1, build_precalc = 2 };

struct ShowSettings {
  ShowMode mode = ShowMode::rendering;
  bool mipmap = true, bilinear = true, z_buffer = true, wait_vsync = false, full_screen = true;
  std::string lightwave_root;
  // The display mode chosen in the control window; none selected uses 640 x 480 at the
  // desktop's depth.
  bool mode_selected = false;
  int mode_width = 640, mode_height = 480, mode_bpp = 32;
  int desktop_bpp = 32;
  int precalc_step_index = 1;  // selected line of the precalculation-step list (0..7)
  int max_texture_size = 1024;
  int track_bar_position = 0;
  // "Warn when current resolution differs from precalculated file": one warning box for
  // all scenes whose file was built for another output size.
  bool warn_resolution_mismatch = false;
  // When set, these scenes are played instead of the fixed show, in order, each from the
  // end of the one before it to its own last frame, over `music` ("" plays none).
  std::vector<std::string> playlist;
  std::string playlist_music;
  // How every frame is drawn (the look stays the engine's for the fixed show).
  RenderSettings render;
};

enum class MessageKind : int { error = 0, warning = 1 };

// The shell's side of a show. Every member may be left empty: it then does nothing
// (music_start then reports success without music).
struct ShowHost {
  // Opens the music (path may be cleared when it cannot be opened); false abandons the show.
  std::function<bool(std::string& music_path)> music_start;
  std::function<void()> music_play;
  std::function<void()> music_end;
  std::function<void(const std::string& text)> loading_open;
  std::function<void(int scene, int count, const std::string& path)> loading_progress;
  std::function<void()> loading_close;
  std::function<void(const std::string& text)> precalc_dialog_open;
  std::function<void(const std::string& scene_path)> precalc_dialog_scene;
  std::function<void()> precalc_dialog_close;
  // Building: the scene being recorded and how far it has got (its `progress`, 0..100).
  std::function<void(int scene_index, float percent)> precalc_progress;
  // Building: once per scene, whether its file was written.
  std::function<void(int scene_index, const std::string& path, bool written)> precalc_result;
  std::function<void()> close_splash;
  std::function<void(bool enabled)> control_window_enable;
  std::function<void()> control_window_focus;
  std::function<void()> control_window_repaint;
  std::function<void(const std::string& text, const std::string& title, MessageKind kind)> message_box;
  // After every frame of the loop (headless runs advance their virtual clock here).
  std::function<void(int scene_index, const Scene& scene)> after_frame;
  // Where the show keeps its track bar position between runs.
  std::function<void(int position)> remember_track_bar;
};

enum class [[nodiscard]] ShowResult : int {
  played = 0,          // the show ran (to its end or until Escape)
  abandoned = 1,       // wrong sound library: scenes destroyed before anything was shown
  display_failed = 2,  // the display could not be opened (see the log and the message box)
};
const char* show_result_text(ShowResult r);

// Plays the show once. `scenes_shown` (optional) receives how many scenes got at least one
// frame, for callers that report progress.
ShowResult show_run(const ShowSettings& settings, ShowHost& host, int* scenes_shown = nullptr);

// How long a scene plays: its last frame at its frame rate (0 when it could not be parsed).
uint32_t show_scene_duration_ms(const Scene& scene);

// The scene options word for these settings.
uint32_t show_scene_flags(const ShowSettings& settings);

}  // namespace orvl
