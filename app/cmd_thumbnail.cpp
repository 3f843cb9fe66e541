// `orvl thumbnail IN OUT.png [--size N] [--look engine|lightwave]`: the picture a file manager
// shows for a LightWave file, run by the freedesktop thumbnailer entry (dist/orvl.thumbnailer).
//
// A scene is drawn from its own camera at one third of its length (by then most scenes have
// left their opening fade or black frame), 4:3 like the frame `orvl render` draws by
// default; when that moment shows hardly anything (under 5 %), the moments at 1/2, 2/3 and
// 5/6 are tried in turn and the fullest is kept. Object files its scene names but that are
// not there become null objects (the rest is drawn). A lone object (LWOB or LWO2, by its bytes) is drawn still, square, in the
// viewing scene of scene/lone_object.h: framed by its bounding sphere from LightWave's
// default view, under LightWave's default light; when that view shows it as hardly
// anything (under 5 % of the picture: a flat object edge-on, a thin one end-on), the view a
// quarter turn round (heading 90 degrees on the viewing scene's turntable) is drawn too and
// the one that covers more is kept. Each in its default look (scene/look.h:
// LightWave 5 scenes engine, the rest lightwave) unless --look says otherwise; Orvl.ini is
// not read, so a thumbnail never depends on who made it. Where nothing is drawn the picture
// is transparent (RenderSettings::transparent_background): no backdrop colour, no gradient.
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
#include "scene/lone_object.h"
#include "scene/look.h"

namespace {

using namespace orvl;

constexpr const char* kUsage = "usage: orvl thumbnail IN OUT.png [--size N] [--look engine|lightwave]";
constexpr int kDefaultSize = 256;
// Freedesktop sizes run from 128 (normal) to 1024 (xx-large); HiDPI doubles them.
constexpr int kMinSize = 16, kMaxSize = 2048;
// Up to this long side the picture is drawn at twice its size.
constexpr int kLargestSupersampled = 512;
// A lone object covering less of its picture than this is tried a quarter turn round too
// (a bounding sphere filling 0.7 of the side alone covers 38 %).
constexpr double kSmallCoverage = 0.05;
// The turntable's quarter turn, in milliseconds of its clock.
constexpr double kQuarterTurnMs = 1000;

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

// The share of the picture's pixels that anything covers.
double coverage(const std::vector<uint8_t>& rgba) {
  size_t covered = 0;
  for (size_t i = 3; i < rgba.size(); i += 4) covered += rgba[i] != 0;
  return rgba.empty() ? 0 : double(covered) * 4 / double(rgba.size());
}

// Draws the moment `tick` of the virtual clock and reduces it into `picture`; false when
// the frame cannot be read back.
bool draw(Scene& scene, const SceneRun& run, uint32_t tick, int factor, std::vector<uint8_t>& drawn,
          std::vector<uint8_t>& picture) {
  clock_set_virtual(tick);
  scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, run.render);
  int w = 0, h = 0;
  if (!display_read_frame(drawn, w, h) || w != run.width || h != run.height) return false;
  reduce(drawn, w, h, factor, picture);
  return true;
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
  // A lone object has no frame of its own: a square shows it largest in a file manager's
  // square cell.
  const bool lone = lone_object_file_kind(run.file) != LoneObjectKind::none;
  const int width = side, height = lone ? side : std::max(1, int(std::lround(side * 3.0 / 4.0)));
  const int factor = side <= kLargestSupersampled ? 2 : 1;
  run.width = width * factor;
  run.height = height * factor;
  run.render.transparent_background = true;
  // The turntable is never run, only set to one of two headings (see below).
  if (lone) run.turntable_seconds = 4 * kQuarterTurnMs / 1000.0;
  // What can be found of a scene is better than the file manager's generic icon.
  run.missing_null = true;

  log_set_echo(false);  // the load log is for the player's own windows, not a file manager's
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  Scene scene;
  const size_t log_before = log_lines().size();
  if (!open_scene(run, DisplayOptions::DEPTH_BUFFER, scene)) return 1;
  int absent = 0;
  for (size_t i = log_before; i < log_lines().size(); ++i)
    absent += log_lines()[i].find(": a null object stands in for it") != std::string::npos;
  if (!run.look_given) run.render.look = default_look_for_format(scene.lw.format_version);

  // A still object is drawn on the turntable stopped at its start (heading 0); one a
  // quarter turn later is the other view the thumbnail may need.
  const uint32_t base = 1000;
  clock_set_virtual(base);
  start_motions_at(scene, base);
  const double moment = lone ? 0 : scene_length_ms(scene) / 3.0;
  std::vector<uint8_t> drawn, picture, turned;
  bool read = draw(scene, run, base + uint32_t(std::llround(moment)), factor, drawn, picture);
  // From LightWave's default view a flat object standing edge-on (a polygon in the YZ plane)
  // or a long thin one pointing at the camera is hardly anything; a quarter turn shows its
  // face or its length. The view that covers more is kept.
  if (read && lone && coverage(picture) < kSmallCoverage &&
      draw(scene, run, base + uint32_t(std::llround(kQuarterTurnMs)), factor, drawn, turned) &&
      coverage(turned) > coverage(picture))
    picture.swap(turned);
  // A scene may be between shots at one third (its objects out of view, or not yet in):
  // later moments are tried, in order, until one shows something, and the fullest is kept.
  for (double later : {1.0 / 2, 2.0 / 3, 5.0 / 6}) {
    if (!read || lone || coverage(picture) >= kSmallCoverage) break;
    if (draw(scene, run, base + uint32_t(std::llround(scene_length_ms(scene) * later)), factor, drawn, turned) &&
        coverage(turned) > coverage(picture))
      picture.swap(turned);
  }
  clock_use_real();
  close_scene(scene);
  if (!read) {
    std::fprintf(stderr, "orvl thumbnail: %s: the picture could not be read back\n", run.file.c_str());
    return 1;
  }
  if (coverage(picture) == 0) {
    std::fprintf(stderr, "orvl thumbnail: %s: nothing is in view%s\n", run.file.c_str(),
                 absent ? (" (" + std::to_string(absent) + " of its object files not found)").c_str() : "");
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
