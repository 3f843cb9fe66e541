// The SDL2 window: a compatibility-profile OpenGL context in a desktop window, in full
// screen, or in SDL's offscreen driver when there is no display.
#include "platform/window_sdl.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvl {

uint32_t sdl_virtual_key(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return uint32_t('A' + (k - SDLK_a));
  if (k >= SDLK_0 && k <= SDLK_9) return uint32_t(k);
  if (k >= SDLK_F1 && k <= SDLK_F12) return VirtualKey::F1 + uint32_t(k - SDLK_F1);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return VirtualKey::NUMPAD0 + 1 + uint32_t(k - SDLK_KP_1);
  switch (k) {
    case SDLK_ESCAPE: return VirtualKey::ESCAPE;
    case SDLK_RETURN: case SDLK_KP_ENTER: return VirtualKey::RETURN;
    case SDLK_BACKSPACE: return VirtualKey::BACK;
    case SDLK_TAB: return VirtualKey::TAB;
    case SDLK_SPACE: return VirtualKey::SPACE;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VirtualKey::SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VirtualKey::CONTROL;
    case SDLK_LALT: case SDLK_RALT: return VirtualKey::MENU;
    case SDLK_PAUSE: return VirtualKey::PAUSE;
    case SDLK_CAPSLOCK: return VirtualKey::CAPITAL;
    case SDLK_PAGEUP: return VirtualKey::PRIOR;
    case SDLK_PAGEDOWN: return VirtualKey::NEXT;
    case SDLK_END: return VirtualKey::END;
    case SDLK_HOME: return VirtualKey::HOME;
    case SDLK_LEFT: return VirtualKey::LEFT;
    case SDLK_UP: return VirtualKey::UP;
    case SDLK_RIGHT: return VirtualKey::RIGHT;
    case SDLK_DOWN: return VirtualKey::DOWN;
    case SDLK_PRINTSCREEN: return VirtualKey::SNAPSHOT;
    case SDLK_INSERT: return VirtualKey::INSERT;
    case SDLK_DELETE: return VirtualKey::DELETE_KEY;
    case SDLK_KP_0: return VirtualKey::NUMPAD0;
    case SDLK_KP_MULTIPLY: return VirtualKey::MULTIPLY;
    case SDLK_KP_PLUS: return VirtualKey::ADD;
    case SDLK_KP_MINUS: return VirtualKey::SUBTRACT;
    case SDLK_KP_PERIOD: return VirtualKey::DECIMAL;
    case SDLK_KP_DIVIDE: return VirtualKey::DIVIDE;
    case SDLK_NUMLOCKCLEAR: return VirtualKey::NUMLOCK;
    case SDLK_SCROLLLOCK: return VirtualKey::SCROLL;
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_EQUALS: return 0xBB;
    case SDLK_COMMA: return 0xBC;
    case SDLK_MINUS: return 0xBD;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    case SDLK_BACKQUOTE: return 0xC0;
    case SDLK_LEFTBRACKET: return 0xDB;
    case SDLK_BACKSLASH: return 0xDC;
    case SDLK_RIGHTBRACKET: return 0xDD;
    case SDLK_QUOTE: return 0xDE;
    default: return 0;
  }
}

namespace {

// Keys whose key-down is followed by a character message on desktop keyboards. SDL's
// text input leaves out control characters, so they are made here.
uint32_t control_character(SDL_Keycode k) {
  switch (k) {
    case SDLK_ESCAPE: return 27;
    case SDLK_RETURN: case SDLK_KP_ENTER: return 13;
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    default: return 0;
  }
}

// Decodes UTF-8 text into code points; malformed bytes come through as themselves.
int decode_text(const char* text, size_t max_bytes, WindowMessage* out, int capacity) {
  int n = 0;
  size_t i = 0;
  auto byte = [&](size_t k) { return uint8_t(text[k]); };
  while (i < max_bytes && text[i] && n < capacity) {
    uint8_t b = byte(i);
    uint32_t cp = b;
    size_t len = 1;
    if (b >= 0xF0 && b < 0xF8) len = 4, cp = b & 0x07;
    else if (b >= 0xE0) len = 3, cp = b & 0x0F;
    else if (b >= 0xC0) len = 2, cp = b & 0x1F;
    bool ok = len > 1;
    for (size_t k = 1; ok && k < len; k++) {
      if (i + k >= max_bytes || (byte(i + k) & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (!ok) cp = b, len = 1;
    out[n++] = WindowMessage{WindowMessageKind::character, cp, 0, 0};
    i += len;
  }
  return n;
}

uint32_t modifiers_of(Uint16 mod) {
  uint32_t m = 0;
  if (mod & KMOD_SHIFT) m |= KeyModifier::SHIFT;
  if (mod & KMOD_CTRL) m |= KeyModifier::CONTROL;
  if (mod & KMOD_ALT) m |= KeyModifier::ALT;
  return m;
}

uint32_t pointer_button(Uint8 b) {
  switch (b) {
    case SDL_BUTTON_LEFT: return PointerButton::LEFT;
    case SDL_BUTTON_MIDDLE: return PointerButton::MIDDLE;
    case SDL_BUTTON_RIGHT: return PointerButton::RIGHT;
    default: return 0;
  }
}

// SDL's button state as PointerButton bits.
uint32_t pointer_mask(Uint32 state) {
  uint32_t m = 0;
  if (state & SDL_BUTTON_LMASK) m |= 1u << (PointerButton::LEFT - 1);
  if (state & SDL_BUTTON_MMASK) m |= 1u << (PointerButton::MIDDLE - 1);
  if (state & SDL_BUTTON_RMASK) m |= 1u << (PointerButton::RIGHT - 1);
  return m;
}

}  // namespace

int sdl_translate_event(const SDL_Event& e, WindowMessage* out, int capacity) {
  if (capacity <= 0) return 0;
  WindowMessage m;
  m.kind = WindowMessageKind::other;
  switch (e.type) {
    case SDL_KEYDOWN: {
      SDL_Keycode k = e.key.keysym.sym;
      bool sys = (e.key.keysym.mod & KMOD_ALT) || k == SDLK_F10 || k == SDLK_LALT || k == SDLK_RALT;
      m.kind = sys ? WindowMessageKind::sys_key_down : WindowMessageKind::key_down;
      m.code = sdl_virtual_key(k);
      m.modifiers = modifiers_of(e.key.keysym.mod);
      out[0] = m;
      uint32_t ch = sys ? 0 : control_character(k);
      if (ch && capacity > 1) {
        out[1] = WindowMessage{WindowMessageKind::character, ch, 0, 0};
        return 2;
      }
      return 1;
    }
    case SDL_KEYUP:
      m.kind = WindowMessageKind::key_up;
      m.code = sdl_virtual_key(e.key.keysym.sym);
      break;
    case SDL_TEXTINPUT: {
      int n = decode_text(e.text.text, sizeof e.text.text, out, capacity);
      if (n > 0) return n;
      break;  // empty text: still one message
    }
    case SDL_QUIT:
      m.kind = WindowMessageKind::quit;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (const uint32_t b = pointer_button(e.button.button)) {
        m.kind = e.type == SDL_MOUSEBUTTONDOWN ? WindowMessageKind::pointer_down : WindowMessageKind::pointer_up;
        m.code = b;
        m.x = e.button.x;
        m.y = e.button.y;
        m.modifiers = modifiers_of(Uint16(SDL_GetModState()));
      }
      break;
    case SDL_MOUSEMOTION:
      if (const uint32_t held = pointer_mask(e.motion.state)) {
        m.kind = WindowMessageKind::pointer_drag;
        m.code = held;
        m.x = e.motion.x;
        m.y = e.motion.y;
        m.dx = e.motion.xrel;
        m.dy = e.motion.yrel;
        m.modifiers = modifiers_of(Uint16(SDL_GetModState()));
      }
      break;
    case SDL_MOUSEWHEEL:
      m.kind = WindowMessageKind::wheel;
      m.dy = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      break;
    case SDL_DROPFILE:
      if (e.drop.file) {
        m.kind = WindowMessageKind::drop;
        m.path = e.drop.file;
      }
      break;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: m.kind = WindowMessageKind::close; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          m.kind = WindowMessageKind::size;
          m.width = e.window.data1;
          m.height = e.window.data2;
          break;
        case SDL_WINDOWEVENT_EXPOSED: m.kind = WindowMessageKind::paint; break;
        default: break;
      }
      break;
    default:
      break;
  }
  out[0] = m;
  return 1;
}

namespace {

class SdlWindow final : public WindowBackend {
 public:
  ~SdlWindow() override { close(); }
  WindowBackendKind kind() const override { return WindowBackendKind::sdl; }

  WindowStatus open(const WindowRequest& r) override {
    close();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return fail(WindowStatus::failed);
    video_ = true;
    int scale = std::max(1, r.scale);
    int w = r.width * scale, h = r.height * scale;
    int colour = r.bits_per_pixel <= 16 ? 5 : 8;

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    int x = 0, y = 0;
    SDL_DisplayMode mode{};
    bool change_mode = r.full_screen && !r.desktop_full_screen;
    bool cover_desktop = r.desktop_full_screen;
    if (change_mode) {
      // The nearest mode the display has, at least as large as asked for. When that is the
      // mode the desktop already runs in there is nothing to switch (a one-mode Xvfb screen):
      // cover the desktop instead, which needs no window manager's help.
      SDL_DisplayMode want{};
      want.format = r.bits_per_pixel <= 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB888;
      want.w = r.width;
      want.h = r.height;
      if (!SDL_GetClosestDisplayMode(0, &want, &mode)) return fail(WindowStatus::mode_refused);
      SDL_DisplayMode desk{};
      if (SDL_GetDesktopDisplayMode(0, &desk) == 0 && desk.w == mode.w && desk.h == mode.h) {
        change_mode = false;
        cover_desktop = true;
      }
    }
    if (cover_desktop) {
      // A borderless window over the whole display: needs no window manager's help.
      SDL_Rect bounds;
      if (SDL_GetDisplayBounds(0, &bounds) == 0) {
        x = bounds.x;
        y = bounds.y;
        w = bounds.w;
        h = bounds.h;
      }
      flags |= SDL_WINDOW_BORDERLESS;
    } else if (change_mode) {
      flags |= SDL_WINDOW_FULLSCREEN | SDL_WINDOW_BORDERLESS;
    } else if (r.probe) {
      x = y = 0;
    } else {
      SDL_DisplayMode desk;
      if (SDL_GetDesktopDisplayMode(0, &desk) == 0) {
        window_centre_position(desk.w, desk.h, w, h, x, y);
      } else {
        x = y = int(SDL_WINDOWPOS_CENTERED);
      }
    }

    bool window_failed = false;
    std::vector<int> depths = r.probe ? std::vector<int>{0} : window_depth_candidates(r.bits_per_pixel);
    for (int depth : depths) {
      SDL_GL_ResetAttributes();
      SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, r.probe ? 0 : 1);
      SDL_GL_SetAttribute(SDL_GL_RED_SIZE, colour);
      SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, colour == 5 ? 6 : 8);
      SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, colour);
      SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
      SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
      window_ = SDL_CreateWindow(r.title.c_str(), x, y, w, h, flags);
      if (!window_) {
        window_failed = true;
        error_ = SDL_GetError();
        continue;
      }
      window_failed = false;
      context_ = SDL_GL_CreateContext(window_);
      if (context_) break;
      error_ = SDL_GetError();
      SDL_DestroyWindow(window_);
      window_ = nullptr;
    }
    if (!context_) {
      // No GL window at all while a plain window opens: the platform has no pixel format
      // for us. Anything else is a failure to create the window or the context.
      WindowStatus s = WindowStatus::failed;
      if (window_failed) {
        SDL_Window* plain = SDL_CreateWindow("", 0, 0, 16, 16, SDL_WINDOW_HIDDEN);
        if (plain) {
          SDL_DestroyWindow(plain);
          s = WindowStatus::no_pixel_format;
        }
      }
      std::string why = error_;
      close();
      error_ = why;
      return s;
    }
    SDL_GL_MakeCurrent(window_, context_);
    if (r.probe) return WindowStatus::ok;
    if (change_mode && SDL_SetWindowDisplayMode(window_, &mode) != 0)
      return fail(WindowStatus::mode_refused);
    SDL_ShowWindow(window_);  // the mode changes here
    if (change_mode) {
      full_screen_ = true;
      SDL_DisplayMode now{};
      int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
      if (SDL_GetCurrentDisplayMode(display, &now) != 0 || now.w != mode.w || now.h != mode.h) {
        error_ = "display mode stayed " + std::to_string(now.w) + "x" + std::to_string(now.h);
        std::string why = error_;
        close();
        error_ = why;
        return WindowStatus::mode_refused;
      }
    }
    if (r.full_screen || r.desktop_full_screen) {
      SDL_ShowCursor(SDL_DISABLE);
      cursor_hidden_ = true;
    }
    if (cover_desktop) {
      // set_full_screen(false) goes back to a window of the asked size, centred.
      covering_ = true;
      saved_w_ = r.width * scale;
      saved_h_ = r.height * scale;
      SDL_DisplayMode desk;
      if (SDL_GetDesktopDisplayMode(0, &desk) == 0) window_centre_position(desk.w, desk.h, saved_w_, saved_h_, saved_x_, saved_y_);
    }
    SDL_RaiseWindow(window_);
    SDL_DisableScreenSaver();
    screen_saver_off_ = true;

    int current = SDL_GL_GetSwapInterval();
    swap_control_ = SDL_GL_SetSwapInterval(current) == 0;
    return WindowStatus::ok;
  }

  void close() override {
    if (full_screen_ && window_) SDL_SetWindowFullscreen(window_, 0);
    full_screen_ = false;
    if (cursor_hidden_) SDL_ShowCursor(SDL_ENABLE);
    cursor_hidden_ = false;
    if (context_) {
      SDL_GL_MakeCurrent(window_, nullptr);
      SDL_GL_DeleteContext(context_);
      context_ = nullptr;
    }
    if (window_) {
      SDL_DestroyWindow(window_);
      window_ = nullptr;
      if (screen_saver_off_) SDL_EnableScreenSaver();
      screen_saver_off_ = false;
    }
    if (video_) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      video_ = false;
    }
    pending_count_ = pending_head_ = 0;
    covering_ = false;
  }

  void swap() override {
    if (window_) SDL_GL_SwapWindow(window_);
  }
  bool has_swap_interval() const override { return swap_control_; }
  void set_swap_interval(int interval) override {
    if (swap_control_) SDL_GL_SetSwapInterval(interval);
  }

  bool poll(WindowMessage& out) override {
    if (pending_count_ > 0) {
      out = pending_[pending_head_];
      pending_head_ = (pending_head_ + 1) % kPending;
      pending_count_--;
      return true;
    }
    if (!video_) return false;
    SDL_Event e;
    if (!SDL_PollEvent(&e)) return false;
    WindowMessage msgs[kPending];
    int n = sdl_translate_event(e, msgs, kPending);
    if (e.type == SDL_DROPFILE && e.drop.file) SDL_free(e.drop.file);  // the path is copied
    for (int i = 0; i < n; i++) {
      if (msgs[i].kind == WindowMessageKind::size) drawable_size(msgs[i].width, msgs[i].height);
    }
    out = msgs[0];
    // The rest wait for the next calls, as a translated key's character does.
    for (int i = 1; i < n; i++) {
      pending_[(pending_head_ + pending_count_) % kPending] = msgs[i];
      pending_count_++;
    }
    return true;
  }

  void set_title(const std::string& title) override {
    if (window_) SDL_SetWindowTitle(window_, title.c_str());
  }
  void drawable_size(int& w, int& h) const override {
    w = h = 0;
    if (window_) SDL_GL_GetDrawableSize(window_, &w, &h);
  }
  const std::string& error() const override { return error_; }
  bool set_full_screen(bool on) override {
    if (!window_ || full_screen_) return false;  // a changed display mode stays as opened
    if (on == covering_) return true;
    if (on) {
      // A borderless window over the display, as open() covers the desktop: it needs no
      // window manager (a full-screen request alone is a hint that Xvfb never acts on).
      SDL_Rect bounds;
      if (SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &bounds) != 0) return false;
      SDL_GetWindowPosition(window_, &saved_x_, &saved_y_);
      SDL_GetWindowSize(window_, &saved_w_, &saved_h_);
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, bounds.x, bounds.y);
      SDL_SetWindowSize(window_, bounds.w, bounds.h);
      SDL_RaiseWindow(window_);
    } else {
      SDL_SetWindowSize(window_, saved_w_, saved_h_);
      SDL_SetWindowPosition(window_, saved_x_, saved_y_);
      SDL_SetWindowBordered(window_, SDL_TRUE);
    }
    SDL_ShowCursor(on ? SDL_DISABLE : SDL_ENABLE);
    cursor_hidden_ = on;
    covering_ = on;
    return true;
  }

 private:
  WindowStatus fail(WindowStatus s) {
    std::string why = SDL_GetError();
    close();
    error_ = why;
    return s;
  }

  static constexpr int kPending = 32;
  SDL_Window* window_ = nullptr;
  SDL_GLContext context_ = nullptr;
  bool video_ = false;
  bool swap_control_ = false;
  bool full_screen_ = false;
  bool cursor_hidden_ = false;
  bool screen_saver_off_ = false;
  bool covering_ = false;  // set_full_screen(true) in force
  int saved_x_ = 0, saved_y_ = 0, saved_w_ = 0, saved_h_ = 0;
  std::string error_;
  WindowMessage pending_[kPending];
  int pending_head_ = 0, pending_count_ = 0;
};

}  // namespace

std::unique_ptr<WindowBackend> window_backend_create_sdl() { return std::make_unique<SdlWindow>(); }

std::vector<WindowMode> window_list_modes() {
  std::vector<WindowMode> out;
  // With no desktop there are no modes to offer (SDL would fall back to its offscreen
  // driver and report made-up ones), unless a driver was asked for by name.
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (!window_display_available() && !(driver && *driver)) return out;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return out;
  SDL_DisplayMode desk{};
  const bool have_desk = SDL_GetDesktopDisplayMode(0, &desk) == 0;
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    const bool is_desk = have_desk && m.w == desk.w && m.h == desk.h && m.format == desk.format;
    out.push_back(WindowMode{m.w, m.h, int(SDL_BITSPERPIXEL(m.format)), is_desk});
  }
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return out;
}

}  // namespace orvl
