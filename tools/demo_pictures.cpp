#include "tools/demo_pictures.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "tools/demo_geometry.h"
#include "tools/demo_show.h"
#include "tools/image_writer.h"

namespace orvl::demo {

namespace {

// ---------------------------------------------------------------------------------------
// Pictures. Each is computed from its coordinates (and a fixed hash), so every run writes
// the same bytes; the file names and formats are chosen by kPictures below.

constexpr uint32_t rgb(int r, int g, int b) {
  return uint32_t(std::clamp(r, 0, 255)) << 16 | uint32_t(std::clamp(g, 0, 255)) << 8 |
         uint32_t(std::clamp(b, 0, 255));
}

// Smooth value noise in 0..1 with a period of `cells` cells across `size` pixels, so
// the pictures tile without a seam when a texture repeats while scrolling.
double noise(double x, double y, int cells, uint32_t seed) {
  auto lattice = [&](int i, int j) {
    i = ((i % cells) + cells) % cells;
    j = ((j % cells) + cells) % cells;
    uint32_t h = uint32_t(i) * 73856093u ^ uint32_t(j) * 19349663u ^ seed * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xFFFF) / 65535.0;
  };
  const int i = static_cast<int>(std::floor(x)), j = static_cast<int>(std::floor(y));
  double fx = x - i, fy = y - j;
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  const double a = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * fx;
  const double b = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * fx;
  return a + (b - a) * fy;
}

// Three octaves of noise over a picture of `size` pixels, tiling at its edges.
double fractal(uint32_t x, uint32_t y, uint32_t size, int cells, uint32_t seed) {
  double sum = 0, amp = 0.5, total = 0;
  for (int o = 0; o < 3; ++o) {
    const int c = cells << o;
    sum += amp * noise(x * double(c) / size, y * double(c) / size, c, seed + o);
    total += amp;
    amp *= 0.5;
  }
  return sum / total;
}

template <typename F>
RgbPicture picture(uint32_t w, uint32_t h, F colour) {
  RgbPicture p;
  p.width = w;
  p.height = h;
  p.pixels.resize(size_t(w) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p.pixels[size_t(y) * w + x] = colour(x, y);
  return p;
}

// Rolling sea: deep blue with lighter crests (scrolls sideways in the scene).
RgbPicture ocean_picture() {
  return picture(128, 128, [](uint32_t x, uint32_t y) {
    const double n = fractal(x, y, 128, 4, 3);
    const double crest = std::pow(n, 3.0);
    return rgb(int(20 + 200 * crest), int(70 + 120 * n), int(150 + 100 * n));
  });
}

// Concentric bands for the planet's ring seen from above.
RgbPicture rings_picture() {
  return picture(128, 128, [](uint32_t x, uint32_t y) {
    const double dx = x - 63.5, dy = y - 63.5;
    const double r = std::sqrt(dx * dx + dy * dy) / 64.0;
    const double band = 0.5 + 0.5 * std::sin(r * 60) * std::sin(r * 23 + 1);
    // Dim: the ring is additive and its near and far sides add up.
    return rgb(int(30 + 110 * band), int(20 + 70 * band), int(10 + 40 * band));
  });
}

// Grey moon rock with dark craters.
RgbPicture craters_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    double v = 0.55 + 0.35 * fractal(x, y, 64, 4, 11);
    const int c[5][3] = {{14, 18, 7}, {40, 44, 9}, {50, 14, 6}, {24, 48, 5}, {8, 52, 4}};
    for (const auto& k : c) {
      const double d = std::hypot(double(x) - k[0], double(y) - k[1]) / k[2];
      if (d < 1) v *= 0.55 + 0.35 * d;
      else if (d < 1.25) v *= 1.2;
    }
    const int g = int(255 * v);
    return rgb(g, g - 6, g - 14);
  });
}

// Glowing bands that run round the tunnel.
RgbPicture energy_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    const double n = fractal(x, y, 64, 4, 21);
    const double band = 0.5 + 0.5 * std::sin((x + 4 * n) * 2 * kPi / 8);
    return rgb(int(90 + 160 * band), int(30 + 60 * n), int(140 + 110 * band));
  });
}

// Meadow and rock for the landscape.
RgbPicture grass_picture() {
  return picture(256, 256, [](uint32_t x, uint32_t y) {
    const double n = fractal(x, y, 256, 32, 31);
    return rgb(int(60 + 60 * n), int(110 + 100 * n), int(40 + 30 * n));
  });
}
RgbPicture rock_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    const double n = fractal(x, y, 64, 4, 41);
    const double streak = 0.5 + 0.5 * std::sin((y + 20 * n) * 0.6);
    const int g = int(110 + 90 * n + 30 * streak);
    return rgb(g, g - 15, g - 35);
  });
}

// A sky: blue gradient to a pale horizon with soft clouds.
RgbPicture sky_picture() {
  return picture(256, 128, [](uint32_t x, uint32_t y) {
    const double t = y / 127.0;  // 0 at the top
    const double cloud = std::max(0.0, fractal(x, y * 2, 256, 4, 51) - 0.45) * 1.8;
    const double r = 50 + 150 * t, g = 90 + 130 * t, b = 190 + 50 * t;
    return rgb(int(r + (255 - r) * cloud), int(g + (255 - g) * cloud), int(b + (255 - b) * cloud));
  });
}

// Floor plates: a checkerboard of brushed metal with dark seams.
RgbPicture plates_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    if (x % 16 == 0 || y % 16 == 0) return rgb(30, 30, 36);
    const bool light = ((x / 16) + (y / 16)) % 2 == 0;
    const double n = fractal(x, y, 64, 8, 61);
    const int g = int((light ? 170 : 90) + 40 * n);
    return rgb(g, g, g + 10);
  });
}

// Warning stripes for the arm's base.
RgbPicture hazard_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    return ((x + y) / 8) % 2 ? rgb(30, 30, 30) : rgb(240, 190, 30);
  });
}

// A chrome reflection: bright sky above a dark floor, a highlight near the top.
RgbPicture chrome_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    const double t = y / 63.0;
    const double hl = std::exp(-(std::pow(x - 40.0, 2) + std::pow(y - 16.0, 2)) / 60.0);
    const int base = t < 0.5 ? int(120 + 200 * (0.5 - t)) : int(40 + 60 * (1 - t));
    return rgb(base + int(255 * hl), base + int(255 * hl), base + 30 + int(255 * hl));
  });
}

// Solar cells: dark blue squares in a silver grid.
RgbPicture panel_picture() {
  return picture(32, 48, [](uint32_t x, uint32_t y) {
    if (x % 8 == 0 || y % 8 == 0) return rgb(190, 190, 200);
    return rgb(20 + int(x % 8) * 4, 40 + int(y % 8) * 4, 150 + int((x + y) % 8) * 8);
  });
}

// A soft white glow for the particles (tinted by the loader).
RgbPicture spark_picture() {
  return picture(32, 32, [](uint32_t x, uint32_t y) {
    const double d = std::hypot(x - 15.5, y - 15.5) / 16.0;
    const int g = int(255 * std::max(0.0, 1 - d) * std::max(0.0, 1 - d));
    return rgb(g, g, g);
  });
}

// The title card: the show's name in dot letters over a dark gradient with a frame. Its
// size is not a power of two: the static image keeps it unscaled.
RgbPicture title_picture() {
  return picture(200, 112, [](uint32_t x, uint32_t y) {
    if (x < 4 || y < 4 || x >= 196 || y >= 108) return rgb(220, 170, 60);
    int r = 10 + int(y / 4), g = 10 + int(y / 5), b = 40 + int(y);
    // Four letters of 5 x 7 dots, 8 pixels a dot, centred.
    const int left = 100 - (4 * 48 - 8) / 2, top = 56 - 28;
    const int lx = int(x) - left, ly = int(y) - top;
    if (lx >= 0 && ly >= 0 && ly < 56 && lx < 4 * 48) {
      const int l = lx / 48, col = (lx % 48) / 8, row = ly / 8;
      if (col < 5 && kLetters[l][row][col] == '#') {
        const int shade = 255 - 12 * row;
        return rgb(shade, shade - 40 - 20 * l, 80 + 40 * l);
      }
    }
    return rgb(r, g, b);
  });
}

// The plasma's source: its first row is the band every row of the plasma copies (shifted
// by two waves), so it carries bright colour stripes; the rest only has to be there.
RgbPicture plasma_picture() {
  return picture(256, 256, [](uint32_t x, uint32_t y) {
    const double t = (x + 7 * y) * 2 * kPi / 64.0;
    return rgb(int(128 + 127 * std::sin(t)), int(128 + 127 * std::sin(t + 2.1)), int(128 + 127 * std::sin(t + 4.2)));
  });
}

// Frame k of the demo's video: a bright ball circling a clock face with a hand, and an
// arrow pointing up in the corner so any turned-over frame shows.
template <int K>
RgbPicture clip_picture() {
  return picture(128, 96, [](uint32_t x, uint32_t y) {
    const double a = 2 * kPi * K / kVideoFrames;
    const double cx = 64 + 30 * std::sin(a), cy = 48 - 30 * std::cos(a);
    const double d = std::hypot(x - cx, y - cy);
    if (d < 10) return rgb(255, 230 - int(d * 8), 60);
    // The hand from the centre to the ball.
    const double hx = cx - 64, hy = cy - 48, t = std::clamp(((x - 64.0) * hx + (y - 48.0) * hy) / (hx * hx + hy * hy), 0.0, 1.0);
    if (std::hypot(x - 64 - t * hx, y - 48 - t * hy) < 2) return rgb(240, 240, 255);
    // Arrow up in the top-left corner.
    if (x >= 10 && x < 14 && y >= 8 && y < 30) return rgb(255, 60, 60);
    if (y >= 8 && y < 16 && int(x) >= 12 - int(y - 8) && int(x) <= 12 + int(y - 8)) return rgb(255, 60, 60);
    const double r = std::hypot(x - 64.0, y - 48.0);
    if (std::abs(r - 40) < 1.5) return rgb(90, 160, 255);
    return rgb(10, 20 + int(y / 3), 50 + int(x / 4));
  });
}

// What sinus dots and star fields draw on: their buffer is as large as this picture, which
// itself is never seen (the effect's buffer replaces it).
// (A faint frame keeps them from being blank files.)
RgbPicture screen_picture() {
  return picture(128, 128, [](uint32_t x, uint32_t y) {
    return (x == 0 || y == 0 || x == 127 || y == 127) ? rgb(40, 40, 60) : rgb(0, 0, 0);
  });
}

RgbPicture dots_picture() {
  return picture(64, 64, [](uint32_t x, uint32_t y) {
    return (x == 0 || y == 0 || x == 63 || y == 63) ? rgb(40, 40, 60) : rgb(0, 0, 0);
  });
}

enum class PictureFormat { bmp, tga, jpeg, ilbm_packed, ilbm_plain };

struct PictureFile {
  const char* name;  // below images/
  PictureFormat format;
  RgbPicture (*make)();
};

// Every picture the scenes name, in all four formats the player reads.
const PictureFile kPictures[] = {
    {"title.tga", PictureFormat::tga, title_picture},
    {"oceanSCRT.jpg", PictureFormat::jpeg, ocean_picture},
    {"rings.iff", PictureFormat::ilbm_packed, rings_picture},
    {"craters.bmp", PictureFormat::bmp, craters_picture},
    {"energySCLT.tga", PictureFormat::tga, energy_picture},
    {"grass.jpg", PictureFormat::jpeg, grass_picture},
    {"rock.bmp", PictureFormat::bmp, rock_picture},
    {"sky.jpg", PictureFormat::jpeg, sky_picture},
    {"plates.bmp", PictureFormat::bmp, plates_picture},
    {"hazard.tga", PictureFormat::tga, hazard_picture},
    {"chrome.jpg", PictureFormat::jpeg, chrome_picture},
    {"panel.iff", PictureFormat::ilbm_plain, panel_picture},
    {"spark.tga", PictureFormat::tga, spark_picture},
    {"plasma.tga", PictureFormat::tga, plasma_picture},
    {"screen.tga", PictureFormat::tga, screen_picture},
    {"dots.tga", PictureFormat::tga, dots_picture},
    {"clip0.tga", PictureFormat::tga, clip_picture<0>},
    {"clip1.tga", PictureFormat::tga, clip_picture<1>},
    {"clip2.tga", PictureFormat::tga, clip_picture<2>},
    {"clip3.tga", PictureFormat::tga, clip_picture<3>},
    {"clip4.tga", PictureFormat::tga, clip_picture<4>},
    {"clip5.tga", PictureFormat::tga, clip_picture<5>},
    {"clip6.tga", PictureFormat::tga, clip_picture<6>},
    {"clip7.tga", PictureFormat::tga, clip_picture<7>},
};
static_assert(kVideoFrames == 8, "one clip picture per video frame");

}  // namespace

// Image paths inside the objects carry the same 13-character author prefix as the objects.
std::string image_path(const std::string& file) {
  return std::string(kDemoPathPrefix) + "images\\" + file;
}

void colour_image(LwobSurface& s, uint16_t axis, const std::string& file) {
  s.ctex().tflg(axis).timg(image_path(file));
}
void reflection_image(LwobSurface& s, const std::string& file) { s.rtex().timg(image_path(file)); }

int picture_count() { return static_cast<int>(std::size(kPictures)); }

bool write_pictures(const std::string& dir, std::string& error) {
  for (const PictureFile& f : kPictures) {
    const std::string path = dir + "/" + f.name;
    const RgbPicture pic = f.make();
    bool ok = false;
    switch (f.format) {
      case PictureFormat::bmp: ok = write_file_bytes(path, bmp24_bytes(pic)); break;
      case PictureFormat::tga: ok = write_tga_picture(pic, path); break;
      case PictureFormat::jpeg: ok = write_jpeg_picture(pic, path, 90); break;
      case PictureFormat::ilbm_packed: ok = write_file_bytes(path, ilbm24_bytes(pic, true)); break;
      case PictureFormat::ilbm_plain: ok = write_file_bytes(path, ilbm24_bytes(pic, false)); break;
    }
    if (!ok) {
      error = "cannot write " + path;
      return false;
    }
  }
  return true;
}

}  // namespace orvl::demo
