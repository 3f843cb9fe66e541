// One scene (or lone object) on its own, off-screen: `orvl render FILE --out DIR` draws it on
// the virtual clock into one PNG per frame (deterministic pictures for users, checks and
// tests), `--video FILE.mp4` into ffmpeg with the --music as its sound track, through the
// show's video path (app/video_pipe.h); `--window` hands it to the window of `orvl play`.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/command.h"
#include "app/scene_run.h"
#include "app/video_pipe.h"
#include "platform/file.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "render/display.h"
#include "render/png_writer.h"

namespace orvl {
// The window of `orvl play`, in app/cmd_play.cpp.
int play_window(SceneRun& run, bool full, int window_scale, double seconds);
}  // namespace orvl

namespace {

using namespace orvl;

constexpr const char* kRenderUsage =
    "usage: orvl render FILE.lws [--root DIR] (--out DIR | --video FILE.mp4 | --window) [--music FILE] [--fps N] [--seconds S] [--every K] "
    "[--scale F] [--quiet] [--from MS] [--to MS] [--size WxH] [--max-frames N] [--zbuffer on|off] [--look engine|lightwave] "
    "[--missing null] [--layer N] [--turntable S]";


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
  std::string video_path;
  take_option(args, "--video", video_path, &missing);
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
  const bool offscreen = !out_dir.empty() || !video_path.empty();
  if (missing || args.size() != 1 || offscreen == window) return usage("render", kRenderUsage);
  if (!video_path.empty() && fps != std::floor(fps))
    return usage("render", "--video wants a whole --fps (frames per second of the video)");
  if (!run.music.empty() && !window && video_path.empty())
    std::fprintf(stderr, "orvl render: --music is heard in a video (--video) or a window (--window); pictures have none\n");
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
  if (!out_dir.empty()) std::filesystem::create_directories(out_dir, ec);
  if (!out_dir.empty() && (ec || !std::filesystem::is_directory(out_dir, ec))) {
    std::fprintf(stderr, "orvl render: %s: cannot make the output folder: %s\n", out_dir.c_str(),
                 ec ? ec.message().c_str() : "a file of that name is in the way");
    return 1;
  }
  if (!run.music.empty()) {
    FileStatus fs = FileStatus::ok;
    const int fd = open_regular_file(resolve_data_path(run.music), fs);
    if (fd < 0) {
      std::fprintf(stderr, "orvl render: %s: %s\n", run.music.c_str(), file_status_text(fs));
      return 1;
    }
    (void)close(fd);
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
  // The video takes every frame (at --fps); --every thins out the pictures only.
  VideoPipe video;
  bool video_open = false;
  if (!video_path.empty()) {
    video_open = video.open(video_path, run.width, run.height, int(fps),
                            run.music.empty() ? std::string() : resolve_data_path(run.music));
    if (!video_open)
      std::fprintf(stderr, "orvl render: %s: ffmpeg stopped: %s\n", video_path.c_str(), video.error().c_str());
  }
  for (long long n = first; n <= last; ++n) {
    clock_set_virtual(base + static_cast<uint32_t>(std::llround(n * 1000.0 / fps)));
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
    const bool picture = !out_dir.empty() && (n - first) % step == 0;
    if (picture || video_open) {
      int w = 0, h = 0;
      const bool read = display_read_frame(rgba, w, h);
      if (video_open && read && w == run.width && h == run.height) (void)video.write(rgba.data(), rgba.size());
      if (picture) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06lld.png", n);
        const std::string path = (std::filesystem::path(out_dir) / name).string();
        std::string err;
        if (!read) {
          err = "the frame could not be read back";
        } else if (png_write_frame(path, rgba.data(), w, h, size_t(w) * 4, &err)) {
          ++written;
          err.clear();
        }
        if (!err.empty() && failed++ == 0) std::fprintf(stderr, "orvl render: %s: %s\n", path.c_str(), err.c_str());
      }
    }
    if (progress) std::fprintf(stderr, "\rframe %lld of %lld", n - first + 1, last - first + 1);
    if (stop_requested()) break;
  }
  if (progress) std::fprintf(stderr, "\n");
  clock_use_real();
  close_scene(scene);
  if (!out_dir.empty())
    std::fprintf(stderr, "%d pictures written to %s%s\n", written, out_dir.c_str(),
                 failed ? (", " + std::to_string(failed) + " could not be written").c_str() : "");
  bool video_failed = !video_path.empty() && !video_open;
  if (video_open) {
    if (video.close()) {
      std::fprintf(stderr, "Video written to %s\n", video_path.c_str());
    } else {
      std::fprintf(stderr, "orvl render: %s: ffmpeg stopped: %s; no video was written\n", video_path.c_str(),
                   video.error().c_str());
      video_failed = true;
    }
  }
  if (stop_requested()) return stop_exit_code();
  return failed || video_failed ? 1 : 0;
}

const CommandRegistrar render_cmd(
    {"render",
     "render FILE.lws (--out DIR | --video FILE.mp4 | --window) [--music FILE] [--fps N] [--seconds S] [--every K] [--scale F] [--quiet] [--from MS] "
     "[--to MS] [--size WxH] [--max-frames N] [--root DIR] [--zbuffer on|off] [--exact-order] [--look engine|lightwave] [--missing null]\n"
     "         render FILE.lwo (--out DIR | --video FILE.mp4 | --window) [--layer N] [--turntable S] (and the options above)",
     run_render});

}  // namespace
