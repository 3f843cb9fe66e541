// Plasma, sinus dots and star field: per-frame drawing into effect buffers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "effects/effects.h"
#include "image/image.h"

namespace orvl {
namespace {

uint32_t g_seed = 1;
PlasmaState g_plasma;
SinusDotsState g_dots;
StarFieldState g_stars;

bool inside(const EffectBuffer& b, int32_t x, int32_t y) {
  return b.pixels && x >= 0 && y >= 0 && x < b.width && y < b.height;
}

void put(const EffectBuffer& b, int32_t x, int32_t y, uint32_t value) {
  if (inside(b, x, y)) b.pixels[static_cast<size_t>(y) * b.width + x] = value;
}

// One dot of the curve at phases a, b on a width x height buffer.
void dot_position(double a, double b, int w, int h, int32_t& x, int32_t& y) {
  x = w / 2 + static_cast<int32_t>(std::sin(a) * (w / 2));
  y = h / 2 + static_cast<int32_t>(std::sin(b) * (h / 2));
}

bool sane_size(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxEffectSide && height <= kMaxEffectSide;
}

}  // namespace

int effect_random() {
  g_seed = g_seed * 214013u + 2531011u;
  return static_cast<int>((g_seed >> 16) & 0x7fff);
}

void effect_random_seed(uint32_t seed) { g_seed = seed; }

const char* effect_status_text(EffectStatus s) {
  switch (s) {
    case EffectStatus::ok: return "ready";
    case EffectStatus::source_missing: return "source image could not be loaded";
    case EffectStatus::source_too_small: return "source image too small";
    case EffectStatus::bad_frame_path: return "frame path has no extension";
    case EffectStatus::no_frames: return "no frame could be loaded";
    case EffectStatus::bad_size: return "bad buffer size";
  }
  return "unknown";
}

uint32_t rgba_word(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  const uint8_t bytes[4] = {r, g, b, a};
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

bool load_effect_image(const std::string& file, bool flip, PixelBuffer& pixels, int& width,
                       int& height) {
  pixels.clear();
  width = height = 0;
  Img img;
  ImgDecoder dec;
  dec.bind(&img);
  bool ok = img.load(file) == ImgError::ok && dec.decode() == ImgError::ok &&
            img.swap_red_blue() == ImgError::ok && (!flip || img.flip(0) == ImgError::ok);
  // Readers set pitch to width; anything else would not be a plain run of rows.
  ok = ok && img.pitch == img.width && img.layout_ok();
  if (ok) {
    // Bytes now red, green, blue, 0 in memory whatever the host's word order.
    (void)img.keep_pixels(1);
    pixels = std::move(img.pixels);
    pixels.resize(static_cast<size_t>(img.width) * img.height);
    width = static_cast<int>(img.width);
    height = static_cast<int>(img.height);
  }
  img.release();
  return ok;
}

// ---- Plasma ---------------------------------------------------------------------------

PlasmaState& plasma_state() { return g_plasma; }

EffectStatus plasma_init_pixels(int width, int height, PixelBuffer source) {
  g_plasma = PlasmaState{};
  if (!sane_size(width, height)) return EffectStatus::bad_size;
  g_plasma.width = width;
  g_plasma.height = height;
  g_plasma.source = std::move(source);
  if (g_plasma.source.empty()) return EffectStatus::source_missing;
  return plasma_ready() ? EffectStatus::ok : EffectStatus::source_too_small;
}

EffectStatus plasma_init(int width, int height, const std::string& source_file) {
  PixelBuffer pixels;
  int w = 0, h = 0;
  load_effect_image(source_file, false, pixels, w, h);
  return plasma_init_pixels(width, height, std::move(pixels));
}

bool plasma_ready() {
  return g_plasma.width > 0 && g_plasma.source.size() >= plasma_source_needed(g_plasma.width);
}

void plasma_step(EffectBuffer buffer) {
  // A missing or short source would be read past its end: the buffer keeps its contents.
  if (!plasma_ready() || !buffer.pixels) return;
  const int W = g_plasma.width;
  const size_t run = static_cast<size_t>(std::min(W, buffer.width));
  float a = g_plasma.phase_sin;
  float b = g_plasma.phase_cos;
  for (int y = 0; y < g_plasma.height; ++y) {
    const int s = static_cast<int>(15.0 * std::sin(a)) - static_cast<int>(15.0 * std::cos(b));
    if (y < buffer.height)
      std::memcpy(buffer.pixels + static_cast<size_t>(y) * buffer.width,
                  g_plasma.source.data() + 31 + s, run * sizeof(uint32_t));
    a += 0.09f;
    b += 0.114f;
  }
  g_plasma.phase_sin += 0.109f;
  g_plasma.phase_cos += 0.094f;
}

void plasma_free() { g_plasma = PlasmaState{}; }

// ---- Sinus dots -----------------------------------------------------------------------

SinusDotsState& sinus_dots_state() { return g_dots; }

void sinus_dots_init(int width, int height) {
  g_dots = SinusDotsState{};
  g_dots.width = width;
  g_dots.height = height;
  double a = 0, b = 0;
  for (auto& dot : g_dots.dots) {
    dot_position(a, b, width, height, dot[0], dot[1]);
    a += 0.027;
    b += 0.017;
  }
  g_dots.phase_x = static_cast<float>(a);
  g_dots.phase_y = static_cast<float>(b);
}

void sinus_dots_step(EffectBuffer buffer) {
  for (const auto& dot : g_dots.dots) put(buffer, dot[0], dot[1], 0);
  g_dots.phase_x += 0.039f;
  g_dots.phase_y += 0.053f;
  float a = g_dots.phase_x;
  float b = g_dots.phase_y;
  const uint32_t white = rgba_word(255, 255, 255, 255);
  for (auto& dot : g_dots.dots) {
    dot_position(a, b, g_dots.width, g_dots.height, dot[0], dot[1]);
    put(buffer, dot[0], dot[1], white);
    a += 0.027f;
    b += 0.017f;
  }
}

// ---- Star field -----------------------------------------------------------------------

StarFieldState& star_field_state() { return g_stars; }

void star_project(const Star& star, int width, int height, int32_t& px, int32_t& py) {
  px = static_cast<int32_t>(star.x / star.z * static_cast<float>(width / 4)) + width / 2;
  py = static_cast<int32_t>(star.y / star.z * static_cast<float>(height / 4)) + height / 2;
}

int star_grey(float z) { return 63 + static_cast<int>(38.4f * (5.0f - z)); }

void star_field_init(int width, int height) {
  g_stars = StarFieldState{};
  g_stars.width = width;
  g_stars.height = height;
  for (Star& s : g_stars.stars) {
    s.x = static_cast<float>((2000 - effect_random() % 4000) * 0.001);
    s.y = static_cast<float>((2000 - effect_random() % 4000) * 0.001);
    s.z = static_cast<float>((effect_random() % 4000) * 0.001 + 1.0);
    s.speed = static_cast<float>((effect_random() % 2000 + 1000) * 0.00001);
    star_project(s, width, height, s.pixel_x, s.pixel_y);
  }
}

void star_field_step(EffectBuffer buffer) {
  for (Star& s : g_stars.stars) {
    put(buffer, s.pixel_x, s.pixel_y, 0);
    star_project(s, g_stars.width, g_stars.height, s.pixel_x, s.pixel_y);
    const int m = star_grey(s.z);
    const uint8_t grey = static_cast<uint8_t>(m < 0 ? 0 : m > 255 ? 255 : m);
    put(buffer, s.pixel_x, s.pixel_y, rgba_word(grey, grey, grey, 0));
    s.z -= s.speed;
    if (s.z < 1.0f) s.z += 4.0f;
  }
}

}  // namespace orvl
