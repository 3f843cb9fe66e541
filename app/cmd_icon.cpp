// orvl icon FILE.png: the program's icon (the splash picture) as a PNG file.
#include <algorithm>
#include <cstdio>

#include "app/command.h"
#include "app/splash.h"
#include "render/png_writer.h"

namespace {

int run_icon(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "orvl icon: wants one output file (try 'orvl help')\n");
    return 2;
  }
  // Square, as icon themes want: the picture centred on a band of its own top and bottom rows.
  const std::vector<uint32_t> px = orvl::splash_picture();
  const int side = orvl::kSplashWidth;
  const int top = (side - orvl::kSplashHeight) / 2;
  std::vector<uint8_t> rgba(size_t(side) * side * 4);
  for (int y = 0; y < side; ++y) {
    const int sy = std::min(std::max(y - top, 0), orvl::kSplashHeight - 1);
    for (int x = 0; x < side; ++x) {
      const uint32_t c = px[size_t(sy) * orvl::kSplashWidth + x];
      uint8_t* d = &rgba[(size_t(y) * side + x) * 4];
      d[0] = uint8_t(c >> 16);
      d[1] = uint8_t(c >> 8);
      d[2] = uint8_t(c);
      d[3] = 255;
    }
  }
  std::string error;
  if (!orvl::png_write_rgba(args[0], rgba.data(), side, side, size_t(side) * 4, &error)) {
    std::fprintf(stderr, "orvl icon: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

const orvl::CommandRegistrar icon_cmd({"icon", "icon FILE.png             write the program's icon as a PNG picture", run_icon});

}  // namespace
