#include "render/display.h"

#include <cstring>
#include <memory>

#include "platform/log.h"
#include "platform/signals.h"
#include "render/gl_api.h"

namespace orvl {

namespace {

uint32_t g_open_serial = 0;

struct DisplayState {
  uint32_t options = 0;
  float clear_color[3] = {0, 0, 0};
  int bits_per_pixel = 0;
  int width = 0, height = 0;  // the picture's configured size

  std::unique_ptr<WindowBackend> backend;
  bool swap_interval = false;

  int* quit_flag = nullptr;
  KeyBinding bindings[kMaxKeyBindings];
  int binding_count = 0;
  bool binding_overflow_logged = false;

  // A posted quit waits behind every other message, as on desktop message queues.
  bool quit_posted = false;

  int viewport[4] = {0, 0, 0, 0};
  bool letterboxed = false;

  DisplaySetup setup;
  MessageListener listener;
  FrameSink sink;
  FrameWanted wanted;  // empty: every frame
  uint32_t sink_index = 0;
  std::vector<uint8_t> readback;  // bottom row first, as GL reads
  std::vector<uint8_t> frame;     // top row first, for the sink

  std::string error;
};

DisplayState& state() {
  static DisplayState s;
  return s;
}

uint32_t clear_mask(const DisplayState& s) {
  return GL_COLOR_BUFFER_BIT | ((s.options & DisplayOptions::DEPTH_BUFFER) ? GL_DEPTH_BUFFER_BIT : 0);
}

// With a viewport smaller than the drawable the borders must stay black: the scissor keeps
// every clear of the frame inside the picture, and the borders are cleared here once per
// frame because a swapped back buffer holds no defined content.
void clear_borders(const DisplayState& s) {
  if (!s.letterboxed) return;
  const GlApi& g = gl();
  g.Disable(GL_SCISSOR_TEST);
  g.ClearColor(0, 0, 0, 1);
  g.Clear(GL_COLOR_BUFFER_BIT);
  g.Enable(GL_SCISSOR_TEST);
  g.ClearColor(s.clear_color[0], s.clear_color[1], s.clear_color[2], 1.0f);
}

void set_viewport(DisplayState& s, int dw, int dh) {
  const GlApi& g = gl();
  int v[4];
  display_letterbox(s.width, s.height, dw, dh, v);
  std::memcpy(s.viewport, v, sizeof v);
  g.Viewport(v[0], v[1], v[2], v[3]);
  bool box = v[0] != 0 || v[1] != 0 || v[2] != dw || v[3] != dh;
  if (box) {
    g.Scissor(v[0], v[1], v[2], v[3]);
    if (!s.letterboxed) g.Enable(GL_SCISSOR_TEST);
  } else if (s.letterboxed) {
    g.Disable(GL_SCISSOR_TEST);
  }
  s.letterboxed = box;
}

// Reads the drawable bottom-up and hands it to the sink top-down.
bool read_frame(DisplayState& s, std::vector<uint8_t>& out, int& w, int& h) {
  if (!s.backend) return false;
  s.backend->drawable_size(w, h);
  if (w <= 0 || h <= 0) return false;
  size_t row = size_t(w) * 4;
  s.readback.resize(row * size_t(h));  // only grows when the drawable does
  out.resize(row * size_t(h));
  gl().PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl().ReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, s.readback.data());
  for (int y = 0; y < h; y++)
    std::memcpy(out.data() + size_t(y) * row, s.readback.data() + size_t(h - 1 - y) * row, row);
  return true;
}

void end_frame(DisplayState& s) {
  int w = 0, h = 0;
  if (s.sink && s.backend) s.backend->drawable_size(w, h);
  if (w > 0 && h > 0) {
    const uint32_t index = s.sink_index++;
    if ((!s.wanted || s.wanted(index)) && read_frame(s, s.frame, w, h)) {
      DisplayFrame f;
      f.rgba = s.frame.data();
      f.width = w;
      f.height = h;
      f.index = index;
      s.sink(f);
    }
  }
  if (s.backend) s.backend->swap();
}

WindowBackendKind choose_backend(DisplayBackend b) {
  switch (b) {
    case DisplayBackend::window: return WindowBackendKind::sdl;
    case DisplayBackend::headless: return WindowBackendKind::headless;
    case DisplayBackend::null: return WindowBackendKind::null;
    case DisplayBackend::automatic: break;
  }
  return window_display_available() ? WindowBackendKind::sdl : WindowBackendKind::headless;
}

}  // namespace

const char* display_result_text(DisplayResult r) {
  switch (r) {
    case DisplayResult::ok: return "ok";
    case DisplayResult::failed: return "window or OpenGL context could not be created";
    case DisplayResult::no_pixel_format: return "no pixel format matches the request";
    case DisplayResult::mode_refused: return "full-screen display mode change refused";
  }
  return "unknown display result";
}

void display_setup(const DisplaySetup& setup) { state().setup = setup; }

void display_reset() {
  DisplayState& s = state();
  // A window still open here would otherwise be lost with its context.
  if (s.backend) s.backend->close();
  s.backend.reset();
  s.quit_flag = nullptr;
  s.binding_count = 0;
  s.binding_overflow_logged = false;
  // A quit left by an earlier close belongs to that show, not to the next one.
  s.quit_posted = false;
  s.letterboxed = false;
  s.swap_interval = false;
  s.listener = nullptr;
}

void display_bind_key(int key, int* target, int flags) {
  DisplayState& s = state();
  if (flags & kKeyBindingQuit) s.quit_flag = target;
  if (s.binding_count < kMaxKeyBindings) {
    s.bindings[s.binding_count++] = KeyBinding{key, target, flags};
  } else if (!s.binding_overflow_logged) {
    s.binding_overflow_logged = true;
    log_format("Display : key binding table full (%d), key %d ignored", kMaxKeyBindings, key);
  }
  if (target) *target = 0;
}

DisplayResult display_open(uint32_t options, int width, int height, int bits_per_pixel, int red,
                           int green, int blue, const std::string& title) {
  DisplayState& s = state();
  if (s.backend) {
    s.backend->close();
    s.backend.reset();
  }
  s.options = options;
  s.bits_per_pixel = bits_per_pixel;
  s.clear_color[0] = float(red & 0xFF) * 0.003921569f;
  s.clear_color[1] = float(green & 0xFF) * 0.003921569f;
  s.clear_color[2] = float(blue & 0xFF) * 0.003921569f;
  s.error.clear();
  s.letterboxed = false;
  s.swap_interval = false;
  // The frustum divides by both sides; an empty picture has no window to show it in.
  if (width <= 0 || height <= 0) {
    s.error = "empty window size";
    return DisplayResult::failed;
  }
  s.width = width;
  s.height = height;

  WindowRequest req;
  req.width = width;
  req.height = height;
  req.bits_per_pixel = bits_per_pixel;
  req.full_screen = (options & DisplayOptions::FULL_SCREEN) != 0;
  req.desktop_full_screen = s.setup.desktop_full_screen;
  req.scale = s.setup.scale > 0 ? s.setup.scale : 1;
  req.title = title;

  s.backend = window_backend_create(choose_backend(s.setup.backend));
  WindowStatus ws = s.backend->open(req);
  if (ws != WindowStatus::ok) {
    s.error = s.backend->error();
    s.backend.reset();
    return DisplayResult(int(ws));
  }

  // The size message that follows showing the window sets the viewport.
  WindowMessage size_msg;
  size_msg.kind = WindowMessageKind::size;
  s.backend->drawable_size(size_msg.width, size_msg.height);
  (void)display_window_proc(size_msg);

  const GlApi& g = gl();
  g.MatrixMode(GL_PROJECTION);
  g.LoadIdentity();
  g.MatrixMode(GL_MODELVIEW);
  g.LoadIdentity();
  g.Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  g.Enable(GL_COLOR_MATERIAL);
  g.Disable(GL_DITHER);
  g.Disable(GL_POLYGON_SMOOTH);
  g.Disable(GL_CULL_FACE);
  g.Disable(GL_NORMALIZE);
  g.Disable(GL_POLYGON_STIPPLE);
  g.Disable(GL_POLYGON_OFFSET_FILL);
  g.Disable(GL_DEPTH_TEST);
  g.Disable(GL_ALPHA_TEST);

  // The frustum goes onto the model-view matrix; the projection stays the identity.
  float w = float(width), h = float(height);
  if (width > height) {
    float half = 0.5f * w / h;
    g.Frustum(-half, half, -0.5f, 0.5f, 1.0, 3000000.0);
  } else {
    float half = 0.5f * h / w;
    g.Frustum(-0.5f, 0.5f, -half, half, 1.0, 3000000.0);
  }

  if (options & DisplayOptions::DEPTH_BUFFER) {
    g.DepthFunc(GL_LEQUAL);
    g.DepthRange(0.0, 1.0);
    g.Enable(GL_DEPTH_TEST);
  }

  clear_borders(s);
  g.ClearColor(s.clear_color[0], s.clear_color[1], s.clear_color[2], 1.0f);
  g.Clear(clear_mask(s));
  end_frame(s);

  s.swap_interval = s.backend->has_swap_interval();
  ++g_open_serial;
  return DisplayResult::ok;
}

namespace {
int take_message();
int take_one(DisplayState& s);
}  // namespace

// A stop signal (SIGINT, SIGTERM) counts as Escape: whoever bound Escape ends the loop
// after this frame, exactly as if the key had been pressed.
int display_frame() {
  const int r = take_message();
  if (stop_requested()) {
    WindowMessage esc{};
    esc.kind = WindowMessageKind::key_down;
    esc.code = 27;
    (void)display_window_proc(esc);
  }
  return r;
}

namespace {
int take_message() {
  DisplayState& s = state();
  if (s.backend) {
    end_frame(s);
    if ((s.options & DisplayOptions::WAIT_VSYNC) && s.swap_interval) s.backend->set_swap_interval(1);
    clear_borders(s);
    if (s.options & DisplayOptions::CLEAR_AFTER_SWAP) {
      gl().ClearColor(s.clear_color[0], s.clear_color[1], s.clear_color[2], 1.0f);
      gl().Clear(clear_mask(s));
    }
  }
  return take_one(s) == 0 ? 0 : 1;
}

// One waiting message through the window procedure and the listener: 0 for a quit, 1 for
// any other, -1 when none was waiting.
int take_one(DisplayState& s) {
  WindowMessage m;
  bool got = s.backend && s.backend->poll(m);
  if (!got && s.quit_posted) {
    s.quit_posted = false;
    m = WindowMessage{};
    m.kind = WindowMessageKind::quit;
    got = true;
  }
  if (!got) return -1;
  if (m.kind == WindowMessageKind::quit) {
    if (s.quit_flag) *s.quit_flag = 1;
    if (s.listener) s.listener(m);
    return 0;
  }
  (void)display_window_proc(m);
  if (s.listener) s.listener(m);
  return 1;
}
}  // namespace

void display_set_message_listener(MessageListener listener) { state().listener = std::move(listener); }

int display_pump(int max_messages) {
  DisplayState& s = state();
  for (int i = 0; i < max_messages; ++i) {
    const int r = take_one(s);
    if (r < 0) return 1;
    if (r == 0) return 0;
  }
  return 1;
}

bool display_set_full_screen(bool on) {
  DisplayState& s = state();
  return s.backend && s.backend->set_full_screen(on);
}

void display_set_title(const std::string& title) {
  DisplayState& s = state();
  if (s.backend) s.backend->set_title(title);
}

int display_close() {
  DisplayState& s = state();
  s.quit_posted = true;
  if (s.backend) {
    s.backend->close();
    s.backend.reset();
  }
  s.letterboxed = false;
  return 0;
}

int display_list_modes(DisplayModeList* list) {
  if (!list) return 0;
  *list = DisplayModeList{};
  for (const WindowMode& m : window_list_modes()) {
    if (m.bits_per_pixel <= 14) continue;
    if (list->count >= kMaxDisplayModes) break;  // further modes are dropped
    if (m.desktop && list->desktop < 0) list->desktop = list->count;
    list->modes[list->count++] = DisplayMode{m.width, m.height, m.bits_per_pixel};
  }
  return 0;
}

DisplayProcResult display_window_proc(const WindowMessage& m) {
  DisplayState& s = state();
  for (int i = 0; i < s.binding_count; i++)
    if (s.bindings[i].target) *s.bindings[i].target = 0;

  switch (m.kind) {
    case WindowMessageKind::size:
      set_viewport(s, m.width, m.height);
      return DisplayProcResult::handled;
    case WindowMessageKind::close:
      if (s.quit_flag) *s.quit_flag = 1;
      s.quit_posted = true;
      return DisplayProcResult::handled;
    case WindowMessageKind::key_down:
    case WindowMessageKind::character: {
      int key = int(m.code & 0xFFFF);
      for (int i = 0; i < s.binding_count; i++) {
        if (s.bindings[i].key == key) {
          if (s.bindings[i].target) *s.bindings[i].target = 1;
          break;
        }
      }
      if (m.kind == WindowMessageKind::character && m.code == 27 && s.quit_flag) *s.quit_flag = 1;
      return DisplayProcResult::handled;
    }
    case WindowMessageKind::sys_key_down:
      // System keys (Alt combinations, F10) do nothing during a show.
      return DisplayProcResult::handled;
    case WindowMessageKind::sys_command:
      // Neither the screen saver nor monitor power-down may start during a show.
      if (m.code == kSysCommandScreenSave || m.code == kSysCommandMonitorPower)
        return DisplayProcResult::handled;
      return DisplayProcResult::default_processing;
    default:
      return DisplayProcResult::default_processing;
  }
}

void display_set_frame_sink(FrameSink sink, FrameWanted wanted) {
  DisplayState& s = state();
  s.sink = std::move(sink);
  s.wanted = std::move(wanted);
  s.sink_index = 0;
}

bool display_read_frame(std::vector<uint8_t>& rgba, int& width, int& height) {
  width = height = 0;
  return read_frame(state(), rgba, width, height);
}

bool display_is_open() { return state().backend != nullptr; }

WindowBackendKind display_backend_kind() {
  const DisplayState& s = state();
  return s.backend ? s.backend->kind() : choose_backend(s.setup.backend);
}

const std::string& display_error() { return state().error; }

void display_viewport(int out[4]) { std::memcpy(out, state().viewport, sizeof state().viewport); }

void display_letterbox(int pw, int ph, int dw, int dh, int out[4]) {
  dw = dw > 0 ? dw : 0;
  dh = dh > 0 ? dh : 0;
  int w = dw, h = dh;
  if (pw > 0 && ph > 0 && dw > 0 && dh > 0) {
    int64_t wide = int64_t(dw) * ph, tall = int64_t(dh) * pw;
    if (wide > tall) w = int(int64_t(dh) * pw / ph);  // drawable wider: borders left and right
    else if (wide < tall) h = int(int64_t(dw) * ph / pw);
  }
  out[0] = (dw - w) / 2;
  out[1] = (dh - h) / 2;
  out[2] = w;
  out[3] = h;
}

}  // namespace orvl

namespace orvl {
uint32_t display_open_serial() { return g_open_serial; }
}  // namespace orvl
