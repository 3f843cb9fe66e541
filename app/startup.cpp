#include "app/startup.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/control_window.h"
#include "app/message_box.h"
#include "app/options.h"
#include "app/sound_output.h"
#include "app/video_pipe.h"
#include "app/splash.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/mesh_draw.h"
#include "render/png_writer.h"

namespace orvl {

int desktop_bits_per_pixel() {
  if (!window_display_available()) return 32;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return 32;
  SDL_DisplayMode mode;
  int bpp = 32;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0) bpp = SDL_BITSPERPIXEL(mode.format);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return bpp > 24 ? 32 : bpp;
}

namespace {

// Headless output: a fixed frame rate on the virtual clock, frames to pictures and video.
// Lives for the whole show: the frame sink and the host's after-frame hook refer to it.
class HeadlessOutput {
 public:
  void start(const RunOptions& run, ShowHost& host) {
    fps_ = std::max(1, run.fps);
    // A build draws nothing; its own progress bar replaces the speed lines.
    quiet_ = run.mode == ShowMode::build_precalc;
    clock_set_virtual(1000);
    start_ = clock_now_ms();
    const int every = std::max(1, run.every);
    FrameSink pictures;
    if (!run.out_dir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(run.out_dir, ec);
      pictures = png_frame_sink(run.out_dir, "frame_");
    }
    if (!run.video_path.empty()) {
      video_open_ = video_.open(run.video_path, kShowWidth, kShowHeight, fps_, resolve_data_path(kShowMusic));
      if (!video_open_)
        std::fprintf(stderr, "orvl: %s: ffmpeg stopped: %s\n", run.video_path.c_str(), video_.error().c_str());
    }
    // Only frames a picture or the video takes are read back from OpenGL.
    const bool any_pictures = static_cast<bool>(pictures);
    display_set_frame_sink(
        [this, pictures, every](const DisplayFrame& f) {
          if (pictures && f.index % static_cast<uint32_t>(every) == 0) pictures(f);
          if (video_open_ && f.width == kShowWidth && f.height == kShowHeight)
            (void)video_.write(f.rgba, size_t(f.width) * f.height * 4);
        },
        [this, any_pictures, every](uint32_t index) {
          return video_open_ || (any_pictures && index % static_cast<uint32_t>(every) == 0);
        });
    host.after_frame = [this](int k, const Scene&) { advance(k); };
  }

  void finish(const RunOptions& run) {
    display_set_frame_sink({});
    if (video_open_ && video_.close()) std::fprintf(stderr, "Video written to %s\n", run.video_path.c_str());
    if (!run.video_path.empty() && video_.failed())
      std::fprintf(stderr, "orvl: %s: ffmpeg stopped: %s; no video was written\n", run.video_path.c_str(),
                   video_.error().c_str());
    if (!run.out_dir.empty()) std::fprintf(stderr, "Pictures written to %s\n", run.out_dir.c_str());
    clock_use_real();
  }
  // The video was asked for and could not be written.
  bool video_failed() const { return video_.failed(); }

 private:
  // After frame n of scene k: the clock moves to frame n + 1, progress every 5 s of show.
  void advance(int k) {
    ++frames_;
    // Frame n starts at n * 1000 / fps milliseconds of show time.
    const uint32_t target = start_ + static_cast<uint32_t>(frames_ * 1000 / fps_);
    clock_advance_virtual(target - clock_now_ms());
    const int second = static_cast<int>((clock_now_ms() - start_) / 1000);
    if (quiet_ || second == last_report_second_ || second % 5 != 0) return;
    last_report_second_ = second;
    // Rendering speed in real time, over the frames since the last report.
    const auto now = std::chrono::steady_clock::now();
    const double real = std::chrono::duration<double>(now - report_time_).count();
    const double fps = real > 0 ? double(frames_ - report_frames_) / real : 0.0;
    report_time_ = now;
    report_frames_ = frames_;
    std::fprintf(stderr, "scene %d, %3d s of show time, %lld frames, %.0f frames per second\n", k + 1, second,
                 frames_, fps);
  }

  int fps_ = 30;
  bool quiet_ = false;
  long long frames_ = 0;
  uint32_t start_ = 0;
  int last_report_second_ = -1;
  std::chrono::steady_clock::time_point report_time_ = std::chrono::steady_clock::now();
  long long report_frames_ = 0;
  VideoPipe video_;
  bool video_open_ = false;
};

// The show's settings from the options, the command line and the control window.
ShowSettings show_settings_for(const RunOptions& run, const Options& opt, const ControlWindow& cw,
                               bool headless) {
  ShowSettings settings = show_settings_from(run.mode, opt, cw, opt.full_screen && !run.windowed && !headless);
  settings.render.exact_order = settings.render.exact_order || run.exact_order;
  return settings;
}

// The shell's side of the show: music, dialogs (as lines on stderr), splash, control window.
void attach_shell(ShowHost& host, MusicState& music, const Options& opt, ControlWindow& cw, Splash& splash,
                  bool headless) {
  // Headless, nothing is heard (the video takes the music from its file), so the silent
  // device stands in from the start instead of after a probe of the real ones. The Sound
  // menu is never attached: no format is checked.
  sound_attach_show_music(host, music, SoundFormatChoice(), opt.show_warnings, &cw,
                          headless ? SoundDevice::silent : SoundDevice::automatic);
  host.loading_open = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  host.loading_progress = [](int k, int n, const std::string& path) {
    std::fprintf(stderr, "Loading scene %d of %d : %s\n", k, n, path.c_str());
  };
  host.close_splash = [&] { splash.close(); };
  host.control_window_enable = [&](bool on) { cw.enabled = on; };
  host.remember_track_bar = [&](int position) { cw.track_bar = position; };
  host.message_box = [](const std::string& text, const std::string& title, MessageKind kind) {
    message_box_show(text, title, kind == MessageKind::warning ? MessageIcon::warning : MessageIcon::error);
  };
  host.precalc_dialog_open = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

// The precalculation dialog on a terminal: a bar redrawn as each scene advances (its
// progress percentage), then one line per scene saying whether its file was written.
class PrecalcReport {
 public:
  void attach(ShowHost& host) {
    bar_ = isatty(STDERR_FILENO) != 0;
    host.precalc_progress = [this](int k, float percent) { progress(k, percent); };
    host.precalc_result = [this](int k, const std::string& path, bool written) { result(k, path, written); };
  }
  int failures() const { return failures_; }

 private:
  void progress(int k, float percent) {
    const int p = std::max(0, std::min(100, int(percent)));
    if (!bar_ || p == drawn_) return;
    drawn_ = p;
    std::fprintf(stderr, "\rscene %d [%-40s] %3d%%", k + 1, std::string(size_t(p * 40 / 100), '#').c_str(), p);
    std::fflush(stderr);
  }
  void result(int k, const std::string& path, bool written) {
    if (bar_ && drawn_ >= 0) std::fputc('\n', stderr);
    drawn_ = -1;
    std::fprintf(stderr, "scene %d: %s: %s\n", k + 1, path.c_str(),
                 written ? "precalculation file written" : "NO precalculation file written");
    if (!written) ++failures_;
  }

  bool bar_ = false;
  int drawn_ = -1;
  int failures_ = 0;
};

// Sound library and GL context; on failure everything started is undone and the exit
// code returned.
bool start_libraries(bool headless, Splash& splash, int& exit_code) {
  if (sound_library_load() != SoundLoadStatus::ok) {
    splash.close();
    control_window_destroy();
    exit_code = kSoundLoadFailureExitCode;
    return false;
  }
  if (gl_probe(headless ? DisplayBackend::headless : DisplayBackend::automatic) != GlProbeResult::ok) {
    sound_library_release();
    splash.close();
    message_box_show("GL context creation failed", "OpenGL initialization failure", MessageIcon::error);
    control_window_destroy();
    exit_code = -1;
    return false;
  }
  return true;
}

}  // namespace

int program_main(const RunOptions& run) {
  stop_signals_install();  // SIGINT and SIGTERM end the show like Escape
  Options& opt = options();
  options_set_startup_flags(opt);
  control_window_create();

  const bool headless = run.backend == DisplayBackend::headless ||
                        (run.backend == DisplayBackend::automatic && !window_display_available());
  display_setup(DisplaySetup{headless ? DisplayBackend::headless : run.backend, std::max(1, run.scale), false});

  Splash splash;
  if (!headless && opt.show_splash) splash.show();
  int exit_code = 0;
  if (!start_libraries(headless, splash, exit_code)) return exit_code;

  control_fill_lists();
  PlaylistRestore playlist = options_apply_defaults(opt);
  ControlWindow& cw = control_window();
  for (const auto& e : playlist.entries) cw.playlist.push_back(e.line);
  cw.rendering_enabled = cw.common_rendering_enabled = cw.remove_enabled = playlist.buttons_enabled;

  const ShowSettings settings = show_settings_for(run, opt, cw, headless);
  MusicState music;
  ShowHost host;
  attach_shell(host, music, opt, cw, splash, headless);
  PrecalcReport precalc_report;
  precalc_report.attach(host);
  HeadlessOutput output;
  if (headless) output.start(run, host);

  const ShowResult result = show_run(settings, host);
  if (headless) output.finish(run);
  (void)result;
  splash.close();
  control_window_destroy();
  sound_library_release();
  if (stop_requested()) return stop_exit_code();
  if (headless && output.video_failed()) return 1;
  // A build that left scenes without their file is not a success.
  return run.mode == ShowMode::build_precalc && precalc_report.failures() > 0 ? 1 : 0;
}

ShowSettings show_settings_from(ShowMode mode, const Options& opt, const ControlWindow& cw, bool full_screen) {
  ShowSettings settings;
  settings.mode = mode;
  settings.mipmap = opt.mipmap;
  settings.bilinear = opt.bilinear;
  settings.z_buffer = opt.z_buffer;
  settings.wait_vsync = opt.wait_vsync;
  settings.full_screen = full_screen;
  settings.lightwave_root = opt.lightwave_root;
  // A selection the list does not hold (a stale index) means no mode was chosen.
  settings.mode_selected = cw.mode_selection >= 0 && cw.mode_selection < cw.modes.count;
  if (settings.mode_selected) {
    const DisplayMode& m = cw.modes.modes[cw.mode_selection];
    settings.mode_width = m.width;
    settings.mode_height = m.height;
    settings.mode_bpp = m.bits_per_pixel;
  }
  settings.desktop_bpp = desktop_bits_per_pixel();
  settings.precalc_step_index = std::clamp(cw.precalc_selection, 0, 7);
  settings.max_texture_size = gl_caps().max_texture_size > 0 ? gl_caps().max_texture_size : 1024;
  settings.track_bar_position = cw.track_bar;
  settings.render.exact_order = opt.exact_draw_order;
  settings.warn_resolution_mismatch = opt.warn_resolution_mismatch;
  return settings;
}

}  // namespace orvl
