// `orvl thumbnail IN OUT.png [--size N] [--look engine|lightwave]`: the picture a file manager
// shows for a LightWave file, run by the freedesktop thumbnailer entry (dist/orvl.thumbnailer).
//
// A scene is drawn from its own camera at one third of its length (by then most scenes have
// left their opening fade or black frame), in its default look (scene/look.h) unless --look
// says otherwise; Orvl.ini is not read, so a thumbnail never depends on who made it. The
// picture is 4:3, the frame `orvl render` draws by default. Where nothing is drawn the
// picture is transparent (RenderSettings::transparent_background): no backdrop colour, no
// gradient.
//
// Objects and images are looked for as `orvl render` looks for them, with the folder above
// the scene's as the LightWave root.
//
// Off-screen only (the headless EGL display), on the virtual clock, no sound; nothing is
// written but OUT, through the atomic writer, and only after the picture is complete. The
// picture is drawn at twice its size (up to N = 512) and reduced with a box filter, which
// smooths the edges that a thumbnail of a few hundred pixels would otherwise show as steps.
//
// Exit status: 0 written; 1 the file cannot be drawn (not a LightWave file, unreadable,
// empty, a FIFO or device, nothing in view) or OUT cannot be written, with one line on
// standard error and no OUT; 2 bad arguments.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/scene_run.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/png_writer.h"
#include "scene/look.h"

namespace {

using namespace orvl;

constexpr const char* kUsage = "usage: orvl thumbnail IN OUT.png [--size N] [--look engine|lightwave]";
constexpr int kDefaultSize = 256;
// Freedesktop sizes run from 128 (normal) to 1024 (xx-large); HiDPI doubles them.
constexpr int kMinSize = 16, kMaxSize = 2048;
// Up to this long side the picture is drawn at twice its size.
constexpr int kLargestSupersampled = 512;

// `factor` x `factor` blocks of the drawn picture averaged into one pixel each. The drawn
// colours are premultiplied by their alpha (drawn over black), so sums of colour and of
// alpha average correctly; the result is straight alpha, as PNG keeps it.
void reduce(const std::vector<uint8_t>& drawn, int width, int height, int factor, std::vector<uint8_t>& out) {
  const int ow = width / factor, oh = height / factor;
  out.assign(size_t(ow) * size_t(oh) * 4, 0);
  for (int y = 0; y < oh; ++y) {
    for (int x = 0; x < ow; ++x) {
      unsigned sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < factor; ++dy) {
        const uint8_t* p = &drawn[(size_t(y * factor + dy) * size_t(width) + size_t(x * factor)) * 4];
        for (int dx = 0; dx < factor; ++dx, p += 4)
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
      }
      uint8_t* q = &out[(size_t(y) * size_t(ow) + size_t(x)) * 4];
      const unsigned n = unsigned(factor * factor);
      const unsigned alpha = (sum[3] + n / 2) / n;
      q[3] = uint8_t(alpha);
      if (sum[3] == 0) continue;  // fully transparent: colour 0
      for (int c = 0; c < 3; ++c) q[c] = uint8_t(std::min(255u, (sum[c] * 255u + sum[3] / 2) / sum[3]));
    }
  }
}

bool anything_drawn(const std::vector<uint8_t>& rgba) {
  for (size_t i = 3; i < rgba.size(); i += 4)
    if (rgba[i] != 0) return true;
  return false;
}

int run_thumbnail(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  SceneRun run;
  run.cmd = "thumbnail";
  std::string error, value;
  bool missing = false;
  if (!take_look(args, run, error)) return usage("thumbnail", error);
  double size = kDefaultSize;
  if (take_option(args, "--size", value, &missing) &&
      (!parse_number(value, kMinSize, kMaxSize, size) || size != std::floor(size)))
    return usage("thumbnail", "--size wants a whole number of pixels from " + std::to_string(kMinSize) + " to " +
                                  std::to_string(kMaxSize));
  if (missing || args.size() != 2) return usage("thumbnail", kUsage);
  run.file = args[0];
  const std::string out_path = args[1];
  // A file manager starts the thumbnailer in a folder of its own choosing, so the working
  // directory says nothing about where a scene's objects are. LightWave keeps content in
  // one folder with Scenes/, Objects/ and Images/ below it: the folder above the scene's
  // is taken as the LightWave root (names relative to the scene's own folder are tried
  // anyway).
  std::error_code ec;
  const std::filesystem::path content = std::filesystem::absolute(run.file, ec).parent_path().parent_path();
  if (!ec) run.root = content.string() + "/";

  const int side = int(size);
  const int width = side, height = std::max(1, int(std::lround(side * 3.0 / 4.0)));
  const int factor = side <= kLargestSupersampled ? 2 : 1;
  run.width = width * factor;
  run.height = height * factor;
  run.render.transparent_background = true;

  log_set_echo(false);  // the load log is for the player's own windows, not a file manager's
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  Scene scene;
  if (!open_scene(run, DisplayOptions::DEPTH_BUFFER, scene)) return 1;
  if (!run.look_given) run.render.look = default_look_for_format(scene.lw.format_version);

  const uint32_t base = 1000;
  clock_set_virtual(base);
  start_motions_at(scene, base);
  clock_set_virtual(base + uint32_t(std::llround(scene_length_ms(scene) / 3.0)));
  scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
  std::vector<uint8_t> drawn, picture;
  int dw = 0, dh = 0;
  const bool read = display_read_frame(drawn, dw, dh);
  clock_use_real();
  close_scene(scene);
  if (!read || dw != run.width || dh != run.height) {
    std::fprintf(stderr, "orvl thumbnail: %s: the picture could not be read back\n", run.file.c_str());
    return 1;
  }
  reduce(drawn, dw, dh, factor, picture);
  if (!anything_drawn(picture)) {
    std::fprintf(stderr, "orvl thumbnail: %s: nothing is in view\n", run.file.c_str());
    return 1;
  }
  if (!png_write_rgba(out_path, picture.data(), width, height, size_t(width) * 4, &error)) {
    std::fprintf(stderr, "orvl thumbnail: %s: %s\n", out_path.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

const CommandRegistrar thumbnail_cmd(
    {"thumbnail", "thumbnail IN OUT.png [--size N] [--look engine|lightwave]", run_thumbnail});

}  // namespace
