// `orvl image info FILE` and `orvl image convert IN OUT`: the image library's readers and
// writers from the command line, for users checking their textures and for tests.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/command.h"
#include "export/json_text.h"
#include "image/image.h"
#include "platform/file.h"
#include "platform/log.h"
#include "render/png_writer.h"

namespace {

using orvl::Img;
using orvl::ImgDecoder;
using orvl::ImgError;

constexpr const char* kUsage =
    "image info FILE [--json] | convert IN OUT [--quality N]  image type, size, result; "
    "convert to .tga .jpg .ppm .png";

int code_of(ImgError e) { return static_cast<int>(e); }

std::string lower_extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

struct Loaded {
  ImgError load = ImgError::ok;
  ImgError decode = ImgError::ok;
};

Loaded load_and_decode(const std::string& path, Img& img) {
  Loaded r;
  ImgDecoder dec;
  dec.bind(&img);
  r.load = img.load(path);
  r.decode = r.load == ImgError::ok ? dec.decode() : r.load;
  return r;
}

// Packed rows of red, green, blue bytes (the library's words hold 0x00RRGGBB), with an
// opaque alpha byte after each pixel when `alpha` is set.
std::vector<uint8_t> pixel_rows(const Img& img, bool alpha) {
  const size_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> out(static_cast<size_t>(img.width) * img.height * channels);
  uint8_t* p = out.data();
  for (uint32_t y = 0; y < img.height; ++y)
    for (uint32_t x = 0; x < img.width; ++x, p += channels) {
      const uint32_t v = img.pixels[static_cast<size_t>(y) * img.pitch + x];
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      if (alpha) p[3] = 255;
    }
  return out;
}

bool write_ppm(const std::string& path, const Img& img, std::string* why) {
  std::string header = "P6\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  const auto rgb = pixel_rows(img, false);
  bytes.insert(bytes.end(), rgb.begin(), rgb.end());
  return orvl::write_whole_file(path, bytes.data(), bytes.size(), why);
}

bool write_png(const std::string& path, const Img& img, std::string* why) {
  const auto rgba = pixel_rows(img, true);
  return orvl::png_write_frame(path, rgba.data(), int(img.width), int(img.height), size_t(img.width) * 4, why);
}

// The library says "File not found" for every file it could not read; the file layer
// knows whether it was missing, a directory, empty or too large.
std::string unreadable_reason(const std::string& file) {
  orvl::FileStatus st = orvl::FileStatus::ok;
  uint64_t size = 0;
  const int fd = orvl::open_regular_file(orvl::resolve_data_path(file), st, &size);
  if (fd < 0) return orvl::file_status_text(st);
  ::close(fd);
  if (size == 0) return "the file is empty";
  if (size > orvl::kMaxWholeFileBytes) return orvl::file_status_text(orvl::FileStatus::too_large);
  return orvl::file_status_text(orvl::FileStatus::read_error);
}

int fail(const std::string& file, ImgError e) {
  if (e == ImgError::file_not_found) {
    std::fprintf(stderr, "orvl image: %s: %s (%d)\n", file.c_str(), unreadable_reason(file).c_str(), code_of(e));
    return 1;
  }
  std::fprintf(stderr, "orvl image: %s: %s (%d)\n", file.c_str(), orvl::img_error_text(e), code_of(e));
  return 1;
}

int run_info(std::vector<std::string> args) {
  const bool json = orvl::take_flag(args, "--json");
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: orvl %s\n", kUsage);
    return 2;
  }
  const std::string& path = args[0];
  Img img;
  const Loaded r = load_and_decode(path, img);
  const ImgError result = r.decode;
  if (json) {
    nlohmann::json j = {{"file", path},
                        {"type", orvl::img_file_type_name(img.type)},
                        {"type_code", static_cast<int>(img.type)},
                        {"file_size", img.file_size()},
                        {"width", img.width},
                        {"height", img.height},
                        {"code", code_of(result)},
                        {"message", orvl::img_error_text(result)}};
    std::printf("%s\n", orvl::json_dump(j, 2).c_str());
  } else {
    std::printf("file      : %s\n", path.c_str());
    std::printf("type      : %s (%d)\n", orvl::img_file_type_name(img.type), static_cast<int>(img.type));
    std::printf("file size : %u bytes\n", img.file_size());
    std::printf("size      : %u x %u\n", img.width, img.height);
    std::printf("result    : %d %s\n", code_of(result), orvl::img_error_text(result));
  }
  return result == ImgError::ok ? 0 : fail(path, result);
}

int run_convert(std::vector<std::string> args) {
  std::string quality_text;
  bool missing = false;
  int quality = 90;
  if (orvl::take_option(args, "--quality", quality_text, &missing)) {
    char* end = nullptr;
    const long q = std::strtol(quality_text.c_str(), &end, 10);
    if (quality_text.empty() || *end != '\0' || q < 1 || q > 100) {
      std::fprintf(stderr, "orvl image: --quality wants a number from 1 to 100, got '%s'\n", quality_text.c_str());
      return 2;
    }
    quality = static_cast<int>(q);
  }
  if (missing || args.size() != 2) {
    std::fprintf(stderr, "usage: orvl %s\n", kUsage);
    return 2;
  }
  const std::string& in = args[0];
  const std::string& out = args[1];
  const std::string ext = lower_extension(out);
  if (ext != ".tga" && ext != ".jpg" && ext != ".jpeg" && ext != ".ppm" && ext != ".png") {
    std::fprintf(stderr, "orvl image: %s: unknown output type (use .tga, .jpg, .ppm or .png)\n", out.c_str());
    return 2;
  }
  Img img;
  const Loaded r = load_and_decode(in, img);
  if (r.decode != ImgError::ok) return fail(in, r.decode);

  ImgError e = ImgError::ok;
  std::string why;
  if (ext == ".tga") {
    orvl::TgaCodec tga;
    (void)tga.bind(&img);
    e = tga.write(out, &why);
  } else if (ext == ".jpg" || ext == ".jpeg") {
    orvl::JpegCodec jpeg;
    (void)jpeg.bind(&img);
    e = jpeg.write(out, static_cast<int>(orvl::JpegDct::slow_integer), static_cast<int8_t>(quality), true, &why);
  } else if (ext == ".ppm") {
    e = write_ppm(out, img, &why) ? ImgError::ok : ImgError::undefined;
  } else {
    e = write_png(out, img, &why) ? ImgError::ok : ImgError::undefined;
  }
  // A file that could not be written says why, not just "Undefined error".
  if (e != ImgError::ok && !why.empty()) {
    std::fprintf(stderr, "orvl image: %s: %s\n", out.c_str(), why.c_str());
    return 1;
  }
  if (e != ImgError::ok) return fail(out, e);
  std::printf("%s -> %s (%u x %u)\n", in.c_str(), out.c_str(), img.width, img.height);
  return 0;
}

int run_image(const std::vector<std::string>& all) {
  // Library messages (libjpeg's) go to stderr so stdout stays the command's output.
  orvl::log_echo_to_stderr(true);
  std::vector<std::string> args = all;
  if (args.empty()) {
    std::fprintf(stderr, "usage: orvl %s\n", kUsage);
    return 2;
  }
  const std::string sub = args.front();
  args.erase(args.begin());
  if (sub == "info") return run_info(args);
  if (sub == "convert") return run_convert(args);
  std::fprintf(stderr, "orvl image: unknown subcommand '%s'\nusage: orvl %s\n", sub.c_str(), kUsage);
  return 2;
}

const orvl::CommandRegistrar reg({"image", kUsage, run_image});

}  // namespace
