// orvl [show] [options]: the show, in a window or headless.
#include <cstdio>
#include <cstdlib>

#include "app/command.h"
#include "app/startup.h"

namespace {

bool parse_int(const std::string& text, int min, int& out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < min || v > 100000) return false;
  out = static_cast<int>(v);
  return true;
}

int run_show(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  orvl::RunOptions run;
  if (orvl::take_flag(args, "--headless")) run.backend = orvl::DisplayBackend::headless;
  if (orvl::take_flag(args, "--window")) run.backend = orvl::DisplayBackend::window;
  if (orvl::take_flag(args, "--windowed")) run.windowed = true;
  if (orvl::take_flag(args, "--precalc")) run.mode = orvl::ShowMode::build_precalc;
  if (orvl::take_flag(args, "--common")) run.mode = orvl::ShowMode::common_rendering;
  if (orvl::take_flag(args, "--exact-order")) run.exact_order = true;
  std::string value;
  bool missing = false;
  if (orvl::take_option(args, "--scale", value, &missing) && !parse_int(value, 1, run.scale)) {
    std::fprintf(stderr, "orvl: --scale wants a whole number from 1\n");
    return 2;
  }
  if (orvl::take_option(args, "--fps", value, &missing) && !parse_int(value, 1, run.fps)) {
    std::fprintf(stderr, "orvl: --fps wants a whole number from 1\n");
    return 2;
  }
  if (orvl::take_option(args, "--every", value, &missing) && !parse_int(value, 1, run.every)) {
    std::fprintf(stderr, "orvl: --every wants a whole number from 1\n");
    return 2;
  }
  orvl::take_option(args, "--out", run.out_dir, &missing);
  orvl::take_option(args, "--video", run.video_path, &missing);
  if (missing || !args.empty()) {
    std::fprintf(stderr, "orvl: unexpected argument%s%s (try 'orvl help')\n", args.empty() ? "" : " ",
                 args.empty() ? "" : args.front().c_str());
    return 2;
  }
  if ((!run.out_dir.empty() || !run.video_path.empty()) && run.backend == orvl::DisplayBackend::automatic)
    run.backend = orvl::DisplayBackend::headless;
  return orvl::program_main(run);
}

const orvl::CommandRegistrar show_cmd(
    {"show",
     "show [--windowed] [--scale N] [--window|--headless] [--out DIR] [--fps N] [--every K] [--video F.mp4] [--precalc|--common] [--exact-order]",
     run_show});

}  // namespace
