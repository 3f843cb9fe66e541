// `orvl effect KIND --size N ... --out FILE.png`: runs one texture effect on a square
// buffer outside any scene, for looking at an effect and for tests.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command.h"
#include "effects/effects.h"
#include "platform/file.h"
#include "platform/log.h"

namespace {

constexpr const char* kUsage =
    "effect plasma|sinusdots|starfield|video --size N [--source IMG | --frames PATH --count N "
    "[--static]] [--steps K] (--out FILE.png | --raw FILE)  run a 2D effect on an N x N buffer";
constexpr long kMaxSteps = 1000000;

bool parse_number(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::strtol(text.c_str(), nullptr, 10);
  return out >= min && out <= max;
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "orvl effect: %s\nusage: orvl %s\n", why.c_str(), kUsage);
  return 2;
}

bool write_png(const std::string& path, const std::vector<uint32_t>& pixels, int side,
               std::string& why) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(side);
  image.height = png_uint_32(side);
  image.format = PNG_FORMAT_RGBA;  // the buffer's bytes are red, green, blue, alpha
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) {
    why = image.message;
    return false;
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr)) {
    why = image.message;
    return false;
  }
  if (!orvl::write_whole_file(path, bytes.data(), size)) {
    why = "cannot write the file";
    return false;
  }
  return true;
}

// The frame goes into the buffer's top-left corner, as the renderer uploads it into the
// texture; a frame larger than the buffer is skipped as the renderer skips it.
void copy_frame(std::vector<uint32_t>& buffer, int side, const uint32_t* frame, int fw, int fh) {
  if (!frame || fw <= 0 || fh <= 0 || fw > side || fh > side) return;
  for (int y = 0; y < fh; ++y)
    std::memcpy(&buffer[size_t(y) * side], frame + size_t(y) * fw, size_t(fw) * sizeof(uint32_t));
}

int run(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  orvl::log_echo_to_stderr(true);
  std::string size_text, source, frames, count_text, steps_text = "1", out, raw;
  bool missing = false;
  const bool has_size = orvl::take_option(args, "--size", size_text, &missing);
  const bool has_source = orvl::take_option(args, "--source", source, &missing);
  const bool has_frames = orvl::take_option(args, "--frames", frames, &missing);
  const bool has_count = orvl::take_option(args, "--count", count_text, &missing);
  orvl::take_option(args, "--steps", steps_text, &missing);
  const bool has_out = orvl::take_option(args, "--out", out, &missing);
  const bool has_raw = orvl::take_option(args, "--raw", raw, &missing);
  const bool still = orvl::take_flag(args, "--static");
  if (missing) return usage_error("an option lacks its value");
  if (args.size() != 1) return usage_error("name one effect");
  const std::string kind = args[0];
  if (kind != "plasma" && kind != "sinusdots" && kind != "starfield" && kind != "video")
    return usage_error("unknown effect " + kind);
  long side = 0, steps = 0, count = 0;
  if (!has_size || !parse_number(size_text, 1, orvl::kMaxEffectSide, side))
    return usage_error("--size must be 1 to " + std::to_string(orvl::kMaxEffectSide));
  if (!parse_number(steps_text, 0, kMaxSteps, steps))
    return usage_error("--steps must be 0 to " + std::to_string(kMaxSteps));
  if (!has_out && !has_raw) return usage_error("give --out or --raw");
  if ((kind == "plasma") != has_source) return usage_error("--source goes with plasma only");
  if ((kind == "video") != has_frames || (kind == "video") != has_count)
    return usage_error("--frames and --count go with video only");
  if (still && kind != "video") return usage_error("--static goes with video only");
  if (has_count && !parse_number(count_text, 0, orvl::kMaxVideoFrames, count))
    return usage_error("--count must be 0 to " + std::to_string(orvl::kMaxVideoFrames));

  const int n = static_cast<int>(side);
  std::vector<uint32_t> buffer(size_t(n) * n, 0);
  const orvl::EffectBuffer eb{buffer.data(), n, n};
  orvl::effect_random_seed(1);
  orvl::EffectStatus st = orvl::EffectStatus::ok;
  if (kind == "plasma") {
    if (!orvl::data_file_exists(source)) {
      std::fprintf(stderr, "orvl effect: %s: not a readable file\n", source.c_str());
      return 1;
    }
    st = orvl::plasma_init(n, n, source);
  } else if (kind == "sinusdots") {
    orvl::sinus_dots_init(n, n);
  } else if (kind == "starfield") {
    orvl::star_field_init(n, n);
  } else {
    st = orvl::video_init(n, n, frames, static_cast<int>(count), !still);
  }
  if (st != orvl::EffectStatus::ok) {
    std::fprintf(stderr, "orvl effect: %s: %s\n", kind.c_str(), orvl::effect_status_text(st));
    return 1;
  }
  for (long i = 0; i < steps; ++i) {
    if (kind == "plasma") {
      orvl::plasma_step(eb);
    } else if (kind == "sinusdots") {
      orvl::sinus_dots_step(eb);
    } else if (kind == "starfield") {
      orvl::star_field_step(eb);
    } else {
      int fw = 0, fh = 0;
      const uint32_t* frame = orvl::video_next_frame(fw, fh);
      copy_frame(buffer, n, frame, fw, fh);
    }
  }
  orvl::plasma_free();
  orvl::video_free();
  std::string why;
  if (has_out && !write_png(out, buffer, n, why)) {
    std::fprintf(stderr, "orvl effect: %s: %s\n", out.c_str(), why.c_str());
    return 1;
  }
  if (has_raw && !orvl::write_whole_file(raw, buffer.data(), buffer.size() * sizeof(uint32_t))) {
    std::fprintf(stderr, "orvl effect: %s: cannot write the file\n", raw.c_str());
    return 1;
  }
  return 0;
}

const orvl::CommandRegistrar kRegistrar({"effect", kUsage, run});

}  // namespace
