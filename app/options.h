// Process-wide options, their start-up defaults, and the configuration file Orvl.ini.
//
// The options start all off (and the root directory empty); start-up switches the three
// dialog options on (options_set_startup_flags), then the defaults pass
// (options_apply_defaults) switches on the display and sound defaults and restores the
// playlist from Orvl.ini. The file is only ever read.
//
// Orvl.ini is looked for in the current directory (any letter case), else in
// $XDG_CONFIG_HOME/orvl/Orvl.ini, else ~/.config/orvl/Orvl.ini. It is read with libinih:
// section "LWS PLAYLIST", integer key "SceneCount", and keys "Scene0", "Scene1", ...;
// section and key names match in any letter case and the first occurrence of a key counts.
// The playlist lines are the key names "Scene<i>" for i from 0 to SceneCount - 1; the values
// of the Scene keys are kept beside them but nothing requires them. A missing file or key,
// or a count that is not a positive number, gives an empty playlist; a count beyond the
// playlist's capacity of 16 restores 16 lines and logs one line saying so.
#pragma once

#include <string>

#include "scene/look.h"
#include <vector>

namespace orvl {

struct Options {
  bool show_warnings = false;             // "Show warning message boxes used while loading scene(s)"
  bool warn_resolution_mismatch = false;  // "Warn when current resolution differs from precalculated file"
  bool show_splash = false;               // "Show splash screen at startup"
  bool full_screen = false;
  bool z_buffer = false;
  bool bilinear = false;
  bool mipmap = false;
  bool wait_vsync = false;
  bool rate_44100 = false;
  bool bits_16 = false;
  bool stereo = false;
  std::string lightwave_root;  // ends with a separator when set
  bool common_rendering = false;
  bool precalc_build = false;
  // Draw triangles in plain depth order instead of grouped by state (a check on the
  // grouping): section "Orvl", key "ExactDrawOrder", any nonzero number.
  bool exact_draw_order = false;
  // The look `orvl render` and `orvl play` draw in when no --look is given: section "Orvl",
  // key "Look", "engine" or "lightwave" (`look_set` false: the scene's default). The fixed
  // show always draws in the engine look.
  bool look_set = false;
  Look look = Look::engine;
};

// The process's options.
Options& options();

// The playlist holds at most this many scenes.
constexpr int kPlaylistCapacity = 16;

struct PlaylistEntry {
  std::string line;   // what the playlist shows: "Scene<i>"
  std::string value;  // that key's value in the file ("" when absent)
};

struct PlaylistRestore {
  std::string config_path;  // the file read, or "" when none was found
  int scene_count = 0;      // SceneCount as read (0 when absent)
  std::vector<PlaylistEntry> entries;
  bool buttons_enabled = false;  // "Rendering", "Common Rendering" and "Remove"
};

// Start-up's first step: warning boxes, resolution-mismatch warnings and the splash on.
void options_set_startup_flags(Options& o);

// The defaults pass: 44100 Hz, 16 bits, stereo, full screen, bilinear, mip-mapping and
// Z-buffer on, vertical sync off; then the drawing settings and the playlist from the
// configuration file.
PlaylistRestore options_apply_defaults(Options& o);

// Reads the drawing settings of section "Orvl" from the file at `path` into `o` (a missing
// file or key leaves them as they are).
void options_read_drawing(const std::string& path, Options& o);

// Where Orvl.ini is read from ("" when there is none).
std::string options_config_path();
// The per-user configuration file, $XDG_CONFIG_HOME/orvl/Orvl.ini or ~/.config/orvl/Orvl.ini,
// whether or not it exists ("" with neither variable set).
std::string options_user_config_path();

// Reads the playlist from the file at `path` (a missing file gives an empty playlist).
PlaylistRestore options_read_playlist(const std::string& path);

}  // namespace orvl
