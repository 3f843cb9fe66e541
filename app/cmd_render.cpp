// orvl render FILE.lws: draws one scene frame by frame, into pictures (headless, on the
// virtual clock) or into a window to watch it (real clock, Escape stops).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/command.h"
#include "object/texture_upload.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/png_writer.h"
#include "scene/scene.h"

namespace {

using namespace orvl;

bool parse_number(const std::string& text, double min, double& out) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !(v >= min) || v > 1e7) return false;
  out = v;
  return true;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "orvl render: %s\n", what.c_str());
  return 2;
}

int run_render(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  const bool window = take_flag(args, "--window");
  const bool quiet = take_flag(args, "--quiet");
  std::string root, out_dir, value;
  bool missing = false;
  double fps = 30, seconds = -1, every = 1, scale = 1;
  take_option(args, "--root", root, &missing);
  take_option(args, "--out", out_dir, &missing);
  if (take_option(args, "--fps", value, &missing) && !parse_number(value, 1, fps)) return usage_error("--fps wants a number from 1");
  if (take_option(args, "--seconds", value, &missing) && !parse_number(value, 0, seconds))
    return usage_error("--seconds wants a number from 0");
  if (take_option(args, "--every", value, &missing) && !parse_number(value, 1, every))
    return usage_error("--every wants a whole number from 1");
  if (take_option(args, "--scale", value, &missing) && !parse_number(value, 0.000001, scale))
    return usage_error("--scale wants a positive number");
  if (missing || args.size() != 1) return usage_error("usage: orvl render FILE.lws [--out DIR] [--window] ...");
  if (!window && out_dir.empty()) return usage_error("give --out DIR for pictures, or --window to watch");
  const std::string file = args[0];

  log_echo_to_stderr(true);
  log_set_echo(!quiet);
  display_setup(DisplaySetup{window ? DisplayBackend::window : DisplayBackend::headless, 1, false});
  display_reset();
  int stop = 0;
  display_bind_key(27, &stop, 1);
  const DisplayResult opened = display_open(DisplayOptions::DEPTH_BUFFER, 640, 480, 32, 0, 0, 0, "orvl - " + file);
  if (opened != DisplayResult::ok) {
    std::fprintf(stderr, "orvl render: cannot open the display: %s (%s)\n", display_result_text(opened),
                 display_error().c_str());
    return 1;
  }
  GLint max_texture = 1024;
  gl().GetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture);

  texture_counter = 0;
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, SceneFlags::MIPMAP | SceneFlags::BILINEAR | SceneFlags::DEPTH_BUFFER, 640, 480,
                        std::max<GLint>(64, max_texture), 1);
  scene_set_lightwave_root(scene, root);
  const SceneStatus st = scene_load(scene, file);
  if (st != SceneStatus::ok) {
    std::fprintf(stderr, "orvl render: %s: status %d (%s)%s%s\n", file.c_str(), int(st), scene_status_text(st),
                 scene.error_path.empty() ? "" : ": ", scene.error_path.c_str());
    (void)display_close();
    scene_destroy(scene);
    return 1;
  }
  if (scale != 1) scene_scale(scene, static_cast<float>(scale));
  upload_textures(scene);

  // Default length: the scene's own frame range at its own rate.
  const Motion& timing = scene.motions[0];
  if (seconds < 0)
    seconds = timing.frames_per_second > 0 ? std::max(0.0, double(timing.last_frame) / timing.frames_per_second) : 10;
  const long long frames = std::max(1LL, static_cast<long long>(std::llround(seconds * fps)));

  if (!out_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    FrameSink pictures = png_frame_sink(out_dir, "frame_");
    const uint32_t k = static_cast<uint32_t>(every);
    display_set_frame_sink([pictures, k](const DisplayFrame& f) {
      if (f.index % k == 0) pictures(f);
    });
  }

  if (!window) clock_set_virtual(1000);
  const uint32_t start = clock_now_ms();
  scene_reset_motions(scene);
  long long n = 0;
  for (; n < frames && !stop; ++n) {
    if (n > 0) display_frame();  // ends the previous frame (to the pictures) and pumps one message
    if (window) {
      if (clock_now_ms() - start > seconds * 1000) break;
    } else {
      clock_advance_virtual(static_cast<uint32_t>(start + std::llround((n * 1000.0) / fps) - clock_now_ms()));
    }
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR);
  }
  display_frame();  // hands the last frame over too
  display_set_frame_sink({});
  if (!window) clock_use_real();

  delete_textures();
  (void)display_close();
  scene_destroy(scene);
  std::fprintf(stderr, "%lld frames rendered%s%s\n", n, out_dir.empty() ? "" : " into ", out_dir.c_str());
  if (frame_state().dropped > 0)
    std::fprintf(stderr, "%lld triangles did not fit the draw list\n", frame_state().dropped);
  return 0;
}

const CommandRegistrar render_cmd(
    {"render",
     "render FILE.lws [--root DIR] (--out DIR | --window) [--fps N] [--seconds S] [--every K] [--scale F]",
     run_render});

}  // namespace
