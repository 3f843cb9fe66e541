#include "platform/window.h"

#include <cstdlib>

namespace orvl {

std::unique_ptr<WindowBackend> window_backend_create_sdl();
std::unique_ptr<WindowBackend> window_backend_create_headless();
std::unique_ptr<WindowBackend> window_backend_create_null();

const char* window_backend_name(WindowBackendKind k) {
  switch (k) {
    case WindowBackendKind::sdl: return "sdl";
    case WindowBackendKind::headless: return "egl-headless";
    case WindowBackendKind::null: return "null";
  }
  return "?";
}

const char* window_status_text(WindowStatus s) {
  switch (s) {
    case WindowStatus::ok: return "ok";
    case WindowStatus::failed: return "window or OpenGL context could not be created";
    case WindowStatus::no_pixel_format: return "no pixel format matches the request";
    case WindowStatus::mode_refused: return "full-screen display mode change refused";
  }
  return "unknown window status";
}

std::unique_ptr<WindowBackend> window_backend_create(WindowBackendKind kind) {
  switch (kind) {
    case WindowBackendKind::sdl: return window_backend_create_sdl();
    case WindowBackendKind::headless: return window_backend_create_headless();
    case WindowBackendKind::null: return window_backend_create_null();
  }
  return nullptr;
}

bool window_display_available() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

void window_centre_position(int screen_w, int screen_h, int w, int h, int& x, int& y) {
  // C++ division truncates toward zero, which is what a window wider than the screen gets.
  x = (screen_w - w) / 2;
  y = (screen_h - h) / 2;
}

std::vector<int> window_depth_candidates(int bits_per_pixel) {
  // The request asks for as many depth bits as colour bits; platforms offer a few sizes,
  // so the nearest ones follow, then no depth buffer at all.
  std::vector<int> sizes = {16, 24, 32};
  std::vector<int> out;
  int want = bits_per_pixel > 0 ? bits_per_pixel : 16;
  out.push_back(want);
  while (!sizes.empty()) {
    size_t best = 0;
    for (size_t i = 1; i < sizes.size(); i++) {
      int di = std::abs(sizes[i] - want), db = std::abs(sizes[best] - want);
      if (di < db || (di == db && sizes[i] > sizes[best])) best = i;
    }
    if (sizes[best] != want) out.push_back(sizes[best]);
    sizes.erase(sizes.begin() + long(best));
  }
  out.push_back(0);
  return out;
}

}  // namespace orvl
