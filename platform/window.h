// Window backends: the one output window (or off-screen surface) with its OpenGL context,
// and the window messages it produces.
//
// The display layer (render/display.h) owns one backend at a time and drives it; nothing
// else calls these directly except tests. Backends, one file each:
//   sdl       an SDL2 window with a compatibility-profile context (desktop, Xvfb, or SDL's
//             own offscreen driver);
//   headless  EGL on Mesa's surfaceless platform, drawing into an RGBA8 + DEPTH24
//             framebuffer object of the window size; no messages;
//   null      no context at all; messages come from `null_window_push` (tests, and runs
//             that only need the call sequence).
// Besides keys, the sdl backend reports pointer buttons, drags (motion while a button is
// held; bare hovering stays `other`, so a moving mouse does not fill the queue), the wheel
// and files dropped onto the window: what a viewer of its own needs (app/viewer.h).
// Messages are modelled on the classic desktop window messages that the display rules
// are written in: key-down with virtual-key codes, a character message after keys that
// produce one, close, quit, size, system keys and commands. Single-threaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvl {

enum class WindowMessageKind : int {
  none = 0,
  key_down = 1,      // code: virtual-key code
  key_up = 2,        // code: virtual-key code
  character = 3,     // code: character (Unicode code point)
  close = 4,         // the user asked to close the window
  quit = 5,          // the application is asked to end
  size = 6,          // width/height: new drawable size in pixels
  sys_key_down = 7,  // Alt combinations and F10
  sys_command = 8,   // code: system command (0xF140 screen saver, 0xF170 monitor power)
  paint = 9,
  other = 10,        // anything else the platform reports (hovering, focus, ...)
  pointer_down = 11, // code: button (PointerButton); x, y: where, in window pixels
  pointer_up = 12,   // code: button; x, y
  pointer_drag = 13, // code: buttons held (PointerButton bits); x, y; dx, dy: the move
  wheel = 14,        // dy: steps, positive away from the user
  drop = 15,         // path: a file dropped onto the window
};

// Buttons of pointer messages: pointer_down/up name one, pointer_drag holds a mask of
// (1 << (button - 1)).
namespace PointerButton {
constexpr uint32_t LEFT = 1, MIDDLE = 2, RIGHT = 3;
}  // namespace PointerButton

// Modifier bits of key and pointer messages.
namespace KeyModifier {
constexpr uint32_t SHIFT = 0x1, CONTROL = 0x2, ALT = 0x4;
}  // namespace KeyModifier

struct WindowMessage {
  WindowMessageKind kind = WindowMessageKind::none;
  uint32_t code = 0;
  int width = 0, height = 0;
  int x = 0, y = 0, dx = 0, dy = 0;
  uint32_t modifiers = 0;  // KeyModifier bits held when the message was made
  std::string path = {};   // drop only (empty strings do not allocate)
};

// Virtual-key codes used by key bindings (the values desktop keyboards report).
namespace VirtualKey {
constexpr uint32_t BACK = 0x08, TAB = 0x09, RETURN = 0x0D, SHIFT = 0x10, CONTROL = 0x11,
                   MENU = 0x12, PAUSE = 0x13, CAPITAL = 0x14, ESCAPE = 0x1B, SPACE = 0x20,
                   PRIOR = 0x21, NEXT = 0x22, END = 0x23, HOME = 0x24, LEFT = 0x25, UP = 0x26,
                   RIGHT = 0x27, DOWN = 0x28, SNAPSHOT = 0x2C, INSERT = 0x2D, DELETE_KEY = 0x2E,
                   NUMPAD0 = 0x60, MULTIPLY = 0x6A, ADD = 0x6B, SUBTRACT = 0x6D, DECIMAL = 0x6E,
                   DIVIDE = 0x6F, F1 = 0x70, F10 = 0x79, NUMLOCK = 0x90, SCROLL = 0x91;
}  // namespace VirtualKey

constexpr uint32_t kSysCommandScreenSave = 0xF140;
constexpr uint32_t kSysCommandMonitorPower = 0xF170;

enum class WindowBackendKind : int { sdl = 0, headless = 1, null = 2 };
const char* window_backend_name(WindowBackendKind k);

// What to open. `scale` multiplies the window size (the picture keeps its configured size
// for everything but the viewport). `desktop_full_screen` takes the whole desktop without
// changing the display mode.
struct WindowRequest {
  int width = 640, height = 480, bits_per_pixel = 32;
  bool full_screen = false;
  bool desktop_full_screen = false;
  int scale = 1;
  std::string title;
  // A throw-away context for reading what the driver offers: never shown, single
  // buffered, no depth buffer, nothing about the desktop (screen saver, focus) touched.
  bool probe = false;
};

// Same values as the display layer's results.
enum class [[nodiscard]] WindowStatus : int {
  ok = 0,
  failed = 1,           // no window, no surface or no context
  no_pixel_format = 2,  // the platform offers no pixel format at all
  mode_refused = 5,     // the full-screen mode change was refused
};
const char* window_status_text(WindowStatus s);

struct WindowMode {
  int width = 0, height = 0, bits_per_pixel = 0;
  bool desktop = false;  // the mode the desktop runs in now
};

class WindowBackend {
 public:
  virtual ~WindowBackend() = default;
  virtual WindowBackendKind kind() const = 0;
  // Creates the window/surface and makes its context current. On failure nothing is left
  // open and `error()` says why.
  virtual WindowStatus open(const WindowRequest& request) = 0;
  virtual void close() = 0;
  // Shows the finished frame (a no-op where there is nothing to show).
  virtual void swap() = 0;
  // False when the platform offers no swap-interval control.
  virtual bool has_swap_interval() const = 0;
  virtual void set_swap_interval(int interval) = 0;
  // Takes one translated message off the platform's queue; false when there is none.
  virtual bool poll(WindowMessage& out) = 0;
  virtual void set_title(const std::string& title) = 0;
  // Size of what GL draws into, in pixels.
  virtual void drawable_size(int& width, int& height) const = 0;
  // Covers the desktop (true) or goes back to the window (false) without a mode change;
  // false where there is no window to change. A size message follows a change.
  virtual bool set_full_screen(bool) { return false; }
  virtual const std::string& error() const = 0;
};

std::unique_ptr<WindowBackend> window_backend_create(WindowBackendKind kind);

// True when a desktop session is reachable (DISPLAY or WAYLAND_DISPLAY is set).
bool window_display_available();

// The platform's display modes in its own order (SDL's list for the primary display), the
// desktop's own mode marked. Empty when there is no desktop or the video system cannot be
// started.
std::vector<WindowMode> window_list_modes();

// Top-left corner of a window of client size w x h centred on a screen, as integer
// halves truncated toward zero (a window larger than the screen gets a negative corner).
void window_centre_position(int screen_w, int screen_h, int w, int h, int& x, int& y);

// Depth-buffer sizes to try for a colour depth, nearest first; the last entry is 0
// (no depth buffer) so a format is found whenever the platform has one at all.
std::vector<int> window_depth_candidates(int bits_per_pixel);

// Messages the null backend returns from poll, in order.
void null_window_push(const WindowMessage& m);
void null_window_clear();
// How many frames the null backend has swapped since it was opened.
int null_window_swaps();
// Makes the null backend's next open fail with `status` (tests of the failure paths).
void null_window_fail_next_open(WindowStatus status);

}  // namespace orvl
