// Program start-up and the run of the show: what `orvl` does with no arguments.
//
// In order: the control window (hidden), the splash, the sound library, the OpenGL check,
// the display-mode and precalculation-step lists, the option defaults and the playlist,
// one run of the show, then tear-down and exit. Every step is logged (and echoed to
// standard output). The same run can go headless: frames are rendered off-screen on the
// virtual clock at a fixed rate and written as PNG pictures and/or piped into a video.
#pragma once

#include <string>

#include "render/display.h"
#include "app/show.h"

namespace orvl {

struct RunOptions {
  ShowMode mode = ShowMode::rendering;
  DisplayBackend backend = DisplayBackend::automatic;
  bool windowed = false;     // play in a window instead of full screen
  int scale = 1;             // window size multiplier (the picture stays 640 x 480)
  // Headless output (used when the display is headless).
  std::string out_dir;       // PNG pictures go here ("" = none)
  int fps = 30;              // frames per second of show time on the virtual clock
  int every = 1;             // write every K-th frame as a picture
  std::string video_path;    // .mp4 made with ffmpeg from all frames and the music ("" = none)
  bool exact_order = false;  // draw in plain depth order (RenderSettings::exact_order)
};

// Exit codes: 0 after a show (also one abandoned for a wrong sound library), -1 when no
// OpenGL context can be made, the sound library's own code when it cannot be loaded.
int program_main(const RunOptions& run);

struct Options;
struct ControlWindow;

// The show's settings from the options and the control window's selections (display mode,
// precalculation step, track bar); `full_screen` is the option after what the command line
// and the output allow. Start-up and the panel both start shows with these.
ShowSettings show_settings_from(ShowMode mode, const Options& opt, const ControlWindow& cw, bool full_screen);

// The colour depth of the desktop (32 when there is no desktop).
int desktop_bits_per_pixel();

}  // namespace orvl
