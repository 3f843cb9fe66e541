// The splash window shown while the show loads: a 186 x 128 picture of our own under the
// caption "Orvalis v1.6". Only on a desktop; `close` is safe to call any number of times.
#pragma once

#include <cstdint>
#include <vector>

struct SDL_Window;

namespace orvl {

constexpr int kSplashWidth = 186;
constexpr int kSplashHeight = 128;
constexpr const char* kSplashCaption = "Orvalis v1.6";

// The splash picture as 0x00RRGGBB pixels, rows top first (deterministic).
std::vector<uint32_t> splash_picture();

class Splash {
 public:
  Splash() = default;
  Splash(const Splash&) = delete;
  Splash& operator=(const Splash&) = delete;
  ~Splash() { close(); }
  // Shows and paints the window at once; false when no window can be made.
  bool show();
  void close();
  bool shown() const { return window_ != nullptr; }

 private:
  SDL_Window* window_ = nullptr;
};

}  // namespace orvl
