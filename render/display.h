// The display layer: the one output window (or off-screen surface) and its OpenGL context,
// the initial GL state and projection, the per-frame swap and message step, and key
// bindings that reach the caller's flags.
//
// Process-wide singleton, single-threaded. The show calls, in order: display_reset,
// display_bind_key (Escape to its stop flag), display_open, display_set_title, then per
// loop pass display_frame followed by the frame's drawing, and display_close at the end.
// The swap in display_frame therefore shows the frame drawn in the previous pass.
//
// Apart from the viewport, this layer sets the only matrix state of the system: both
// matrices are loaded with the identity and a perspective frustum (near 1, far 3,000,000,
// the shorter side of the picture spanning -0.5..0.5) is multiplied onto the MODEL-VIEW
// matrix, so light positions pass through it too. Scenes were made against that look.
//
// Where the frames go (`DisplaySetup`, read by display_open):
//   window    an SDL2 window with a compatibility-profile context. Full screen switches to
//             the nearest display mode at least as large as the picture (none, or a
//             refused switch, gives mode_refused); when that mode is the desktop's own,
//             a borderless window covers the desktop instead, which also works with no
//             window manager (Xvfb);
//   headless  an off-screen RGBA8 + DEPTH24 framebuffer on Mesa's surfaceless EGL;
//   null      no GL context at all (call recording, message tests);
//   automatic headless when no display is reachable (no DISPLAY / WAYLAND_DISPLAY), else window.
// The picture keeps its configured size for the frustum and everything the scene sees;
// `scale` makes the window larger and a desktop-sized full screen may differ in shape:
// the viewport then keeps the picture's shape, centred, with black borders.
//
// A viewer of its own (app/viewer.h) also listens to every message taken (keys with their
// modifiers, pointer drags, the wheel, dropped files), may take several per frame and may
// switch the window to cover the desktop and back.
//
// Every ended frame can go to a frame sink (rows top first, RGBA bytes).
// Capacities: 128 key bindings (further bindings are ignored and logged), 256 listed
// display modes (the rest are dropped). All GL goes through gl() (render/gl_api.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace orvl {

// Bits of the options word given to display_open.
namespace DisplayOptions {
constexpr uint32_t FULL_SCREEN = 0x1;       // change the display mode, no border, no cursor
constexpr uint32_t DEPTH_BUFFER = 0x2;      // depth test LEQUAL; clears include depth
constexpr uint32_t CLEAR_AFTER_SWAP = 0x4;  // clear colour (and depth) after every swap
constexpr uint32_t WAIT_VSYNC = 0x8;        // swap interval 1 after every swap
}  // namespace DisplayOptions

enum class [[nodiscard]] DisplayResult : int {
  ok = 0,
  failed = 1,           // window, surface or context could not be made
  no_pixel_format = 2,  // the platform offers no pixel format for the request
  mode_refused = 5,     // the full-screen display mode change was refused
};
const char* display_result_text(DisplayResult r);

// A key's target is 1 while that key's message is being handled and 0 after any other
// message. Flag 0x1 makes the target the quit flag as well.
struct KeyBinding {
  int key = 0;
  int* target = nullptr;
  int flags = 0;
};
constexpr int kMaxKeyBindings = 128;
constexpr int kKeyBindingQuit = 0x1;

struct DisplayMode {
  int width = 0, height = 0, bits_per_pixel = 0;
};
constexpr int kMaxDisplayModes = 256;
struct DisplayModeList {
  int count = 0;
  DisplayMode modes[kMaxDisplayModes];
  int desktop = -1;  // index of the desktop's own mode, -1 when not listed or not known
};

// One ended frame: width x height RGBA pixels, rows top first, no padding.
struct DisplayFrame {
  const uint8_t* rgba = nullptr;
  int width = 0, height = 0;
  uint32_t index = 0;  // 0 for the first frame handed to the current sink
};
using FrameSink = std::function<void(const DisplayFrame&)>;

enum class DisplayBackend : int { automatic = 0, window = 1, headless = 2, null = 3 };

struct DisplaySetup {
  DisplayBackend backend = DisplayBackend::automatic;
  int scale = 1;                     // window size = picture size x scale
  bool desktop_full_screen = false;  // cover the desktop without a mode change
};

// Applies to the next display_open (display_reset keeps it).
void display_setup(const DisplaySetup& setup);

void display_reset();
void display_bind_key(int key, int* target, int flags);

// Only the low byte of red, green and blue is used.
DisplayResult display_open(uint32_t options, int width, int height, int bits_per_pixel, int red,
                           int green, int blue, const std::string& title);
// Ends the frame (sink, swap, swap interval, optional clear) and handles at most one
// message. Returns 0 when a quit message was taken, else 1.
int display_frame();
void display_set_title(const std::string& title);
int display_close();
int display_list_modes(DisplayModeList* list);

enum class DisplayProcResult : int {
  handled = 0,
  default_processing = 1,  // left to the platform (which does nothing on ours)
};
// The window procedure: every message taken by display_frame (and the size of a freshly
// opened window) goes through here.
DisplayProcResult display_window_proc(const WindowMessage& m);

// Every message display_frame or display_pump takes goes to `listener` too, after the
// window procedure (an empty function stops it). display_reset forgets it.
using MessageListener = std::function<void(const WindowMessage&)>;
void display_set_message_listener(MessageListener listener);
// Takes up to `max_messages` more waiting messages without ending a frame (display_frame
// takes one per frame, which lags behind a dragged mouse). Returns 0 when a quit message
// was taken, else 1.
int display_pump(int max_messages);
// Covers the desktop without a mode change (true) or goes back to the window; false when
// the backend has no window to change (headless, null). The viewport follows the size
// message that comes after a change.
bool display_set_full_screen(bool on);

// Says whether the sink needs the ended frame with this index.
using FrameWanted = std::function<bool(uint32_t index)>;

// Every frame ended from now on goes to `sink` (an empty function stops it). The frame
// index restarts at 0. With `wanted`, a frame it refuses still takes its index but is
// neither read back from OpenGL nor handed over (reading a frame back costs more than
// drawing many).
void display_set_frame_sink(FrameSink sink, FrameWanted wanted = {});

// Reads what is drawn so far into `rgba` (rows top first). False when nothing is open.
bool display_read_frame(std::vector<uint8_t>& rgba, int& width, int& height);

bool display_is_open();
WindowBackendKind display_backend_kind();
// Why the last display_open failed (platform text), empty after success.
const std::string& display_error();
// The viewport last set: x, y, width, height.
void display_viewport(int out[4]);
// Counts successful display_open calls: GL objects made under an older number (shader
// programs) belong to a context that may be gone and are made again.
uint32_t display_open_serial();

// The largest rectangle of the picture's shape (pw x ph) centred in a drawable of dw x dh.
void display_letterbox(int pw, int ph, int dw, int dh, int out[4]);

}  // namespace orvl
