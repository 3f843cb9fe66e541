#include "app/splash.h"

#include <SDL.h>

#include <cmath>

namespace orvl {

std::vector<uint32_t> splash_picture() {
  std::vector<uint32_t> px(size_t(kSplashWidth) * kSplashHeight);
  // A dusk gradient with a ringed planet: enough to say "something is loading".
  const double cx = kSplashWidth * 0.62, cy = kSplashHeight * 0.48, r = 30.0;
  for (int y = 0; y < kSplashHeight; ++y) {
    for (int x = 0; x < kSplashWidth; ++x) {
      double t = double(y) / kSplashHeight;
      double red = 20 + 60 * t, green = 10 + 30 * t, blue = 60 + 90 * (1 - t);
      double dx = x - cx, dy = y - cy;
      double d = std::sqrt(dx * dx + dy * dy);
      if (d < r) {
        double shade = 0.35 + 0.65 * std::max(0.0, (-dx - dy) / (r * 1.4) + 0.5);
        red = 230 * shade;
        green = 150 * shade;
        blue = 80 * shade;
      }
      // The ring: a thin tilted ellipse, hidden behind the planet's upper half.
      double ex = dx / 58.0, ey = (dy - dx * 0.25) / 12.0;
      double e = ex * ex + ey * ey;
      if (e > 0.82 && e < 1.0 && !(d < r && dy - dx * 0.25 < 0)) {
        red = 240;
        green = 220;
        blue = 180;
      }
      if ((x * 7 + y * 13) % 211 == 0 && d > r) red = green = blue = 255;  // stars
      px[size_t(y) * kSplashWidth + x] = (uint32_t(red) << 16) | (uint32_t(green) << 8) | uint32_t(blue);
    }
  }
  return px;
}

bool Splash::show() {
  if (window_) return true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  window_ = SDL_CreateWindow(kSplashCaption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kSplashWidth,
                             kSplashHeight, SDL_WINDOW_SHOWN);
  if (!window_) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
    std::vector<uint32_t> pixels = splash_picture();
    SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(
        pixels.data(), kSplashWidth, kSplashHeight, 32, kSplashWidth * 4, SDL_PIXELFORMAT_RGB888);
    if (picture) {
      SDL_BlitSurface(picture, nullptr, surface, nullptr);
      SDL_FreeSurface(picture);
    }
    SDL_UpdateWindowSurface(window_);
  }
  SDL_PumpEvents();
  return true;
}

void Splash::close() {
  if (!window_) return;
  SDL_DestroyWindow(window_);
  window_ = nullptr;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace orvl
