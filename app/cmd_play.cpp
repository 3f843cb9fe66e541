// One scene in a window: `orvl play FILE.lws` watches it on the real clock.
#include <cstdio>

#include "app/command.h"
#include "app/scene_run.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "render/display.h"

namespace orvl {

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
  RunMusic music;
  if (!run_music_start(run, music)) {
    close_scene(scene);
    return 1;
  }
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
  run_music_stop(music);
  close_scene(scene);
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f frames per second)%s\n", frames, secs,
               secs > 0 ? frames / secs : 0.0, stop || stop_requested() ? ", stopped" : "");
  return stop_requested() ? stop_exit_code() : 0;
}

}  // namespace orvl

namespace {

using namespace orvl;

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
    return usage("play", "usage: orvl play FILE.lws|FILE.lwo [--root DIR] [--windowed|--fullscreen] [--scale N] [--zbuffer on|off] [--look engine|lightwave] [--music FILE] [--missing null] [--layer N] [--turntable S]");
  run.file = args[0];
  stop_signals_install();
  return play_window(run, full, int(scale), -1);
}

const CommandRegistrar play_cmd(
    {"play", "play FILE.lws|FILE.lwo [--root DIR] [--windowed|--fullscreen] [--scale N] [--zbuffer on|off] [--look engine|lightwave] [--music FILE] [--missing null] [--layer N] [--turntable S]",
     run_play});

}  // namespace
