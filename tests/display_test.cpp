#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/log.h"
#include "platform/window_sdl.h"
#include "render/display.h"
#include "render/gl_api.h"
#include "render/png_writer.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

WindowMessage msg(WindowMessageKind kind, uint32_t code = 0, int w = 0, int h = 0) {
  WindowMessage m;
  m.kind = kind;
  m.code = code;
  m.width = w;
  m.height = h;
  return m;
}

// Every test starts from a closed display on the null backend with the recorder.
struct DisplayTest : ::testing::Test {
  GlBackendScope scope{GlBackend::recorder};
  void SetUp() override {
    display_reset();
    display_setup(DisplaySetup{DisplayBackend::null, 1, false});
    display_set_frame_sink(nullptr);
    null_window_clear();
    gl_recorder().reset();
  }
  void TearDown() override {
    display_close();
    display_reset();
    null_window_clear();
  }
  void open(uint32_t options, int w = 640, int h = 480) {
    ASSERT_EQ(display_open(options, w, h, 32, 0, 0, 0, "test"), DisplayResult::ok);
  }
  const GlCall& frustum() const { return *gl_recorder().of(GlFunc::Frustum).at(0); }
};

}  // namespace

TEST_F(DisplayTest, OpenSetsTheInitialStateInOrder) {
  ASSERT_EQ(display_open(DisplayOptions::DEPTH_BUFFER, 640, 480, 16, 0x133, 102, 0, "t"),
            DisplayResult::ok);
  std::vector<std::string> want = {
      "glViewport(0, 0, 640, 480)",
      "glMatrixMode(GL_PROJECTION)",
      "glLoadIdentity()",
      "glMatrixMode(GL_MODELVIEW)",
      "glLoadIdentity()",
      "glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST)",
      "glEnable(GL_COLOR_MATERIAL)",
      "glDisable(GL_DITHER)",
      "glDisable(GL_POLYGON_SMOOTH)",
      "glDisable(GL_CULL_FACE)",
      "glDisable(GL_NORMALIZE)",
      "glDisable(GL_POLYGON_STIPPLE)",
      "glDisable(GL_POLYGON_OFFSET_FILL)",
      "glDisable(GL_DEPTH_TEST)",
      "glDisable(GL_ALPHA_TEST)",
      "glFrustum(-0.666667, 0.666667, -0.5, 0.5, 1, 3e+06)",
      "glDepthFunc(GL_LEQUAL)",
      "glDepthRange(0, 1)",
      "glEnable(GL_DEPTH_TEST)",
      // Only the low byte of each colour counts: 0x133 is 0x33.
      "glClearColor(0.2, 0.4, 0, 1)",
      "glClear(GL_COLOR_BUFFER_BIT|GL_DEPTH_BUFFER_BIT)",
  };
  EXPECT_EQ(gl_recorder().texts(), want);
  EXPECT_EQ(null_window_swaps(), 1);  // the cleared frame is shown once
  EXPECT_TRUE(display_is_open());
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::null);
}

TEST_F(DisplayTest, FrustumFollowsTheLongerSideAndIgnoresTheScale) {
  open(0);
  EXPECT_NEAR(frustum().args[0], -0.6666667, 1e-6);
  EXPECT_NEAR(frustum().args[1], 0.6666667, 1e-6);
  EXPECT_EQ(frustum().args[2], -0.5);
  EXPECT_EQ(frustum().args[3], 0.5);
  EXPECT_EQ(frustum().args[4], 1.0);
  EXPECT_EQ(frustum().args[5], 3000000.0);
  // Without the depth buffer: colour-only clear, no depth state.
  EXPECT_EQ(gl_recorder().of(GlFunc::Clear).at(0)->arg(0), double(GL_COLOR_BUFFER_BIT));
  EXPECT_EQ(gl_recorder().count(GlFunc::DepthFunc), 0u);
  EXPECT_EQ(gl_recorder().count(GlFunc::Enable), 1u);  // colour material only

  gl_recorder().reset();
  open(0, 480, 640);
  EXPECT_EQ(frustum().args[0], -0.5);
  EXPECT_NEAR(frustum().args[3], 0.6666667, 1e-6);

  gl_recorder().reset();
  open(0, 300, 300);
  EXPECT_EQ(frustum().text(), "glFrustum(-0.5, 0.5, -0.5, 0.5, 1, 3e+06)");

  gl_recorder().reset();
  display_setup(DisplaySetup{DisplayBackend::null, 3, false});
  open(0);
  EXPECT_EQ(frustum().text(), "glFrustum(-0.666667, 0.666667, -0.5, 0.5, 1, 3e+06)");
  EXPECT_EQ(gl_recorder().calls.at(0).text(), "glViewport(0, 0, 1920, 1440)");
  EXPECT_EQ(gl_recorder().count(GlFunc::Scissor), 0u);  // same shape: no borders
}

TEST_F(DisplayTest, EmptyWindowSizeFailsWithoutTouchingGl) {
  EXPECT_EQ(display_open(0, 0, 480, 32, 0, 0, 0, "t"), DisplayResult::failed);
  EXPECT_EQ(display_open(0, 640, -1, 32, 0, 0, 0, "t"), DisplayResult::failed);
  EXPECT_TRUE(gl_recorder().calls.empty());
  EXPECT_FALSE(display_is_open());
  EXPECT_FALSE(display_error().empty());
}

TEST_F(DisplayTest, FrameSwapsThenClearsOnlyWhenAsked) {
  open(DisplayOptions::DEPTH_BUFFER | DisplayOptions::CLEAR_AFTER_SWAP | DisplayOptions::WAIT_VSYNC);
  size_t mark = gl_recorder().calls.size();
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(null_window_swaps(), 2);
  EXPECT_EQ(gl_recorder().texts_from(mark),
            (std::vector<std::string>{"glClearColor(0, 0, 0, 1)",
                                      "glClear(GL_COLOR_BUFFER_BIT|GL_DEPTH_BUFFER_BIT)"}));

  display_reset();
  gl_recorder().reset();
  open(0);
  mark = gl_recorder().calls.size();
  int flag = 0;
  EXPECT_EQ(display_frame(), 1);  // nothing queued: goes on, no flag, no GL call
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(gl_recorder().calls.size(), mark);
}

TEST_F(DisplayTest, EscapeReachesTheStopFlagThroughKeyDownAndCharacter) {
  int stop = 5, space = 5, other = 5;
  display_bind_key(27, &stop, kKeyBindingQuit);
  display_bind_key(' ', &space, 0);
  display_bind_key(' ', &other, 0);  // shadowed: the first binding of a key wins
  EXPECT_EQ(stop, 0);
  EXPECT_EQ(space, 0);
  open(0);

  null_window_push(msg(WindowMessageKind::key_down, 27));
  null_window_push(msg(WindowMessageKind::character, 27));
  null_window_push(msg(WindowMessageKind::key_up, 27));
  null_window_push(msg(WindowMessageKind::key_down, 0x10020));  // only the low 16 bits count
  null_window_push(msg(WindowMessageKind::paint));

  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(stop, 1);  // the binding's target is the stop flag
  stop = 0;
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(stop, 1);  // cleared, set again by the binding, and by the Escape character
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(stop, 0);  // any later message clears every target
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(space, 1);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(space, 0);
  EXPECT_EQ(display_frame(), 1);  // queue empty
}

TEST_F(DisplayTest, EscapeCharacterAloneSetsTheQuitFlag) {
  int stop = 0, a = 0;
  display_bind_key(27, &stop, kKeyBindingQuit);
  display_bind_key('A', &a, 0);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::character, 'A')), DisplayProcResult::handled);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(stop, 0);
  // A binding for another key and a character 27: the character still stops the show.
  display_reset();
  display_bind_key('Q', &a, 0);
  display_bind_key(1000, &stop, kKeyBindingQuit);
  display_window_proc(msg(WindowMessageKind::character, 27));
  EXPECT_EQ(stop, 1);
  EXPECT_EQ(a, 0);
  // Nothing bound at all: nothing to set, nothing breaks.
  display_reset();
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::character, 27)), DisplayProcResult::handled);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::close)), DisplayProcResult::handled);
}

TEST_F(DisplayTest, CloseSetsTheFlagAndPostsAQuitThatWaitsBehindOtherMessages) {
  int stop = 0;
  display_bind_key(27, &stop, kKeyBindingQuit);
  open(0);
  null_window_push(msg(WindowMessageKind::close));
  null_window_push(msg(WindowMessageKind::paint));
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(stop, 1);
  stop = 0;
  EXPECT_EQ(display_frame(), 1);  // the paint first
  EXPECT_EQ(stop, 0);             // (and it cleared the target)
  EXPECT_EQ(display_frame(), 0);  // then the quit: consumed, not dispatched
  EXPECT_EQ(stop, 1);
  EXPECT_EQ(display_frame(), 1);  // taken only once

  // A quit from the platform (a signal, the last window gone) ends the show the same way.
  stop = 0;
  null_window_push(msg(WindowMessageKind::quit));
  EXPECT_EQ(display_frame(), 0);
  EXPECT_EQ(stop, 1);
}

TEST_F(DisplayTest, CloseLeavesAQuitForThisShowOnly) {
  int stop = 0;
  display_bind_key(27, &stop, kKeyBindingQuit);
  open(0);
  EXPECT_EQ(display_close(), 0);
  EXPECT_FALSE(display_is_open());
  EXPECT_EQ(display_frame(), 0);
  EXPECT_EQ(stop, 1);

  // The next show starts with an empty queue.
  display_close();
  display_reset();
  stop = 0;
  display_bind_key(27, &stop, kKeyBindingQuit);
  open(0);
  EXPECT_EQ(display_frame(), 1);
  EXPECT_EQ(stop, 0);
}

TEST_F(DisplayTest, SystemKeysAndScreenSaverCommandsStopHere) {
  int t = 0;
  display_bind_key(VirtualKey::F10, &t, 0);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::sys_key_down, VirtualKey::F10)),
            DisplayProcResult::handled);
  EXPECT_EQ(t, 0);  // system keys never reach the bindings
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::sys_command, kSysCommandScreenSave)),
            DisplayProcResult::handled);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::sys_command, kSysCommandMonitorPower)),
            DisplayProcResult::handled);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::sys_command, 0xF060)),
            DisplayProcResult::default_processing);
  EXPECT_EQ(display_window_proc(msg(WindowMessageKind::other)),
            DisplayProcResult::default_processing);
}

TEST_F(DisplayTest, BindingTableStopsAtItsCapacity) {
  log_set_echo(false);
  log_clear();
  std::vector<int> targets(kMaxKeyBindings + 2, 7);
  for (int i = 0; i < kMaxKeyBindings + 2; i++) display_bind_key(100 + i, &targets[i], 0);
  EXPECT_EQ(targets[kMaxKeyBindings + 1], 0);  // target still reset
  display_window_proc(msg(WindowMessageKind::key_down, 100 + kMaxKeyBindings));
  EXPECT_EQ(targets[kMaxKeyBindings], 0);  // never bound
  display_window_proc(msg(WindowMessageKind::key_down, 100 + kMaxKeyBindings - 1));
  EXPECT_EQ(targets[kMaxKeyBindings - 1], 1);
  ASSERT_EQ(log_lines().size(), 1u);
  EXPECT_NE(log_lines()[0].find("key binding table full"), std::string::npos);
  log_set_echo(true);
}

TEST_F(DisplayTest, OtherShapesGetACentredPictureWithBlackBorders) {
  int v[4];
  display_letterbox(640, 480, 1280, 1024, v);  // taller: bands above and below
  EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{0, 32, 1280, 960}));
  display_letterbox(640, 480, 1920, 1080, v);  // wider: bands left and right
  EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{240, 0, 1440, 1080}));
  display_letterbox(640, 480, 1024, 768, v);
  EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{0, 0, 1024, 768}));
  display_letterbox(640, 480, 0, 0, v);  // minimised
  EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{0, 0, 0, 0}));

  open(DisplayOptions::DEPTH_BUFFER);
  size_t mark = gl_recorder().calls.size();
  null_window_push(msg(WindowMessageKind::size, 0, 1280, 1024));
  display_frame();
  display_viewport(v);
  EXPECT_EQ(v[1], 32);
  EXPECT_EQ(gl_recorder().texts_from(mark),
            (std::vector<std::string>{"glViewport(0, 32, 1280, 960)", "glScissor(0, 32, 1280, 960)",
                                      "glEnable(GL_SCISSOR_TEST)"}));
  // Each following frame blacks out the borders, then lets the scissor guard the picture.
  mark = gl_recorder().calls.size();
  display_frame();
  EXPECT_EQ(gl_recorder().texts_from(mark),
            (std::vector<std::string>{"glDisable(GL_SCISSOR_TEST)", "glClearColor(0, 0, 0, 1)",
                                      "glClear(GL_COLOR_BUFFER_BIT)", "glEnable(GL_SCISSOR_TEST)",
                                      "glClearColor(0, 0, 0, 1)"}));
  mark = gl_recorder().calls.size();
  null_window_push(msg(WindowMessageKind::size, 0, 1280, 960));
  display_frame();
  EXPECT_EQ(gl_recorder().texts_from(mark).back(), "glDisable(GL_SCISSOR_TEST)");
  mark = gl_recorder().calls.size();
  display_frame();
  EXPECT_EQ(gl_recorder().calls.size(), mark);  // no borders, no calls
}

TEST_F(DisplayTest, FrameSinkGetsEveryEndedFrameTopRowFirst) {
  open(0, 4, 2);
  gl_recorder().read_fill = {9, 8, 7, 255};
  std::vector<DisplayFrame> got;
  std::vector<uint8_t> first_pixel;
  display_set_frame_sink([&](const DisplayFrame& f) {
    got.push_back(f);
    first_pixel.assign(f.rgba, f.rgba + 4);
  });
  display_frame();
  display_frame();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].index, 0u);
  EXPECT_EQ(got[1].index, 1u);
  EXPECT_EQ(got[1].width, 4);
  EXPECT_EQ(got[1].height, 2);
  EXPECT_EQ(first_pixel, (std::vector<uint8_t>{9, 8, 7, 255}));
  EXPECT_EQ(gl_recorder().of(GlFunc::ReadPixels).at(0)->text(),
            "glReadPixels(0, 0, 4, 2, GL_RGBA, GL_UNSIGNED_BYTE, out)");

  // Frames the sink does not want keep their index but are never read back.
  got.clear();
  std::vector<uint32_t> asked;
  display_set_frame_sink([&](const DisplayFrame& f) { got.push_back(f); },
                         [&](uint32_t index) {
                           asked.push_back(index);
                           return index % 3 == 0;
                         });
  const size_t reads = gl_recorder().of(GlFunc::ReadPixels).size();
  for (int k = 0; k < 7; ++k) display_frame();
  EXPECT_EQ(asked, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].index, 3u);
  EXPECT_EQ(got[2].index, 6u);
  EXPECT_EQ(gl_recorder().of(GlFunc::ReadPixels).size(), reads + 3);
  display_set_frame_sink(nullptr);
}

TEST_F(DisplayTest, TitleAndModeListAreSafeWhenNothingIsOpen) {
  display_set_title("before open");  // no window: nothing happens
  DisplayModeList list;
  list.count = 99;
  EXPECT_EQ(display_list_modes(&list), 0);
  EXPECT_LE(list.count, kMaxDisplayModes);
  for (int i = 0; i < list.count; i++) EXPECT_GT(list.modes[i].bits_per_pixel, 14);
  EXPECT_EQ(display_list_modes(nullptr), 0);
}

TEST_F(DisplayTest, BackendChoiceFollowsTheDesktop) {
  const char* x = std::getenv("DISPLAY");
  const char* wl = std::getenv("WAYLAND_DISPLAY");
  std::string saved_x = x ? x : "", saved_wl = wl ? wl : "";
  display_setup(DisplaySetup{DisplayBackend::automatic, 1, false});
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::headless);
  setenv("DISPLAY", "", 1);  // set but empty is no display either
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::headless);
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::sdl);
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::headless);
  if (x) setenv("DISPLAY", saved_x.c_str(), 1); else unsetenv("DISPLAY");
  if (wl) setenv("WAYLAND_DISPLAY", saved_wl.c_str(), 1); else unsetenv("WAYLAND_DISPLAY");
}

TEST_F(DisplayTest, PlatformWithoutAnyGlFormatGivesResultTwo) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);  // windows, but no OpenGL at all
  display_setup(DisplaySetup{DisplayBackend::window, 1, false});
  EXPECT_EQ(display_open(0, 640, 480, 8, 0, 0, 0, "t"), DisplayResult::no_pixel_format);
  EXPECT_FALSE(display_is_open());
  EXPECT_FALSE(display_error().empty());
  EXPECT_TRUE(gl_recorder().calls.empty());
  unsetenv("SDL_VIDEODRIVER");
}

TEST(WindowHelpers, CentringAndDepthChoices) {
  int x, y;
  window_centre_position(1024, 768, 640, 480, x, y);
  EXPECT_EQ(x, 192);
  EXPECT_EQ(y, 144);
  window_centre_position(600, 400, 641, 480, x, y);
  EXPECT_EQ(x, -20);  // truncated toward zero
  EXPECT_EQ(y, -40);
  EXPECT_EQ(window_depth_candidates(16), (std::vector<int>{16, 24, 32, 0}));
  EXPECT_EQ(window_depth_candidates(32), (std::vector<int>{32, 24, 16, 0}));
  EXPECT_EQ(window_depth_candidates(24), (std::vector<int>{24, 32, 16, 0}));
  EXPECT_EQ(window_depth_candidates(8), (std::vector<int>{8, 16, 24, 32, 0}));
}

TEST(SdlTranslation, KeysTextWindowAndQuitEvents) {
  WindowMessage out[8];
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = SDLK_ESCAPE;
  ASSERT_EQ(sdl_translate_event(e, out, 8), 2);
  EXPECT_EQ(out[0].kind, WindowMessageKind::key_down);
  EXPECT_EQ(out[0].code, 27u);
  EXPECT_EQ(out[1].kind, WindowMessageKind::character);
  EXPECT_EQ(out[1].code, 27u);
  EXPECT_EQ(sdl_translate_event(e, out, 1), 1);  // no room: the key-down alone

  e.key.keysym.sym = SDLK_q;
  ASSERT_EQ(sdl_translate_event(e, out, 8), 1);  // its character comes as text input
  EXPECT_EQ(out[0].code, uint32_t('Q'));
  e.key.keysym.sym = SDLK_F4;
  e.key.keysym.mod = KMOD_LALT;
  sdl_translate_event(e, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::sys_key_down);
  e.key.keysym.mod = 0;
  e.key.keysym.sym = SDLK_F10;
  EXPECT_EQ(sdl_translate_event(e, out, 8), 1);
  EXPECT_EQ(out[0].kind, WindowMessageKind::sys_key_down);
  EXPECT_EQ(out[0].code, uint32_t(VirtualKey::F10));
  e.type = SDL_KEYUP;
  e.key.keysym.sym = SDLK_LEFT;
  sdl_translate_event(e, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::key_up);
  EXPECT_EQ(out[0].code, uint32_t(VirtualKey::LEFT));

  SDL_Event t{};
  t.type = SDL_TEXTINPUT;
  std::strcpy(t.text.text, "a\xC3\xA9\xE2\x82\xAC\xFF");  // a, e-acute, euro, a stray byte
  ASSERT_EQ(sdl_translate_event(t, out, 8), 4);
  EXPECT_EQ(out[0].code, uint32_t('a'));
  EXPECT_EQ(out[1].code, 0xE9u);
  EXPECT_EQ(out[2].code, 0x20ACu);
  EXPECT_EQ(out[3].code, 0xFFu);
  std::memset(t.text.text, 'x', sizeof t.text.text);  // unterminated: stops at the field end
  EXPECT_EQ(sdl_translate_event(t, out, 8), 8);

  SDL_Event w{};
  w.type = SDL_WINDOWEVENT;
  w.window.event = SDL_WINDOWEVENT_CLOSE;
  sdl_translate_event(w, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::close);
  w.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  w.window.data1 = 800;
  w.window.data2 = 600;
  sdl_translate_event(w, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::size);
  EXPECT_EQ(out[0].width, 800);
  w.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
  sdl_translate_event(w, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::other);
  SDL_Event q{};
  q.type = SDL_QUIT;
  EXPECT_EQ(sdl_translate_event(q, out, 8), 1);
  EXPECT_EQ(out[0].kind, WindowMessageKind::quit);
  SDL_Event m{};
  m.type = SDL_MOUSEMOTION;
  sdl_translate_event(m, out, 8);
  EXPECT_EQ(out[0].kind, WindowMessageKind::other);
}

// The SDL window on SDL's offscreen driver: real events through the real pump.
TEST(SdlWindow, PumpTakesOneEventPerFrame) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  GlBackendScope scope(GlBackend::recorder);
  display_reset();
  display_setup(DisplaySetup{DisplayBackend::window, 1, false});
  int stop = 0;
  display_bind_key(27, &stop, kKeyBindingQuit);
  DisplayResult r = display_open(0, 64, 48, 32, 0, 0, 0, "pump");
  // SDL's offscreen driver makes its GL context through EGL, which works with no display.
  ASSERT_EQ(r, DisplayResult::ok) << display_error();
  EXPECT_EQ(display_backend_kind(), WindowBackendKind::sdl);
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);

  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = SDLK_ESCAPE;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e.type = SDL_KEYUP;
  ASSERT_EQ(SDL_PushEvent(&e), 1);

  EXPECT_EQ(display_frame(), 1);  // key-down
  EXPECT_EQ(stop, 1);
  stop = 0;
  EXPECT_EQ(display_frame(), 1);  // its character
  EXPECT_EQ(stop, 1);
  EXPECT_EQ(display_frame(), 1);  // key-up clears the target
  EXPECT_EQ(stop, 0);
  EXPECT_EQ(display_frame(), 1);

  SDL_Event q{};
  q.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&q), 1);
  EXPECT_EQ(display_frame(), 0);
  EXPECT_EQ(stop, 1);
  display_set_title("new title");

  display_close();
  display_reset();
  unsetenv("SDL_VIDEODRIVER");
}

// Real pixels: Mesa's surfaceless EGL, read back and written as PNG.
TEST(HeadlessDisplay, ClearDrawReadBackAndWritePng) {
  display_reset();
  display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  DisplayResult r = display_open(DisplayOptions::DEPTH_BUFFER, 64, 48, 32, 51, 102, 204, "png");
  ASSERT_EQ(r, DisplayResult::ok) << display_error();
  ASSERT_EQ(display_backend_kind(), WindowBackendKind::headless);
  auto near = [](const uint8_t* p, int r, int g, int b) {
    return std::abs(p[0] - r) <= 1 && std::abs(p[1] - g) <= 1 && std::abs(p[2] - b) <= 1;
  };

  std::vector<uint8_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(display_read_frame(px, w, h));
  ASSERT_EQ(w, 64);
  ASSERT_EQ(h, 48);
  EXPECT_TRUE(near(&px[0], 51, 102, 204));
  EXPECT_TRUE(near(&px[(47 * 64 + 63) * 4], 51, 102, 204));

  // A flat quad over the top half, in camera space (the frustum is on the model-view
  // matrix): at z = -2 the picture spans x -1.33..1.33 and y -1..1.
  const GlApi& g = gl();
  g.Color3ub(250, 20, 10);
  g.Begin(GL_TRIANGLES);
  g.Vertex3f(-2, 0, -2);
  g.Vertex3f(2, 0, -2);
  g.Vertex3f(2, 2, -2);
  g.Vertex3f(-2, 0, -2);
  g.Vertex3f(2, 2, -2);
  g.Vertex3f(-2, 2, -2);
  g.End();
  EXPECT_EQ(g.GetError(), GLenum(GL_NO_ERROR));

  fs::path dir = fs::temp_directory_path() / ("orvl_display_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  display_set_frame_sink(png_frame_sink(dir.string()));
  EXPECT_EQ(display_frame(), 1);
  display_set_frame_sink(nullptr);

  std::vector<uint8_t> file;
  int fw = 0, fh = 0;
  std::string why;
  ASSERT_TRUE(png_read_rgba((dir / "frame_000000.png").string(), file, fw, fh, &why)) << why;
  ASSERT_EQ(fw, 64);
  ASSERT_EQ(fh, 48);
  EXPECT_TRUE(near(&file[(5 * 64 + 32) * 4], 250, 20, 10));   // top half: the quad
  EXPECT_TRUE(near(&file[(40 * 64 + 32) * 4], 51, 102, 204));  // bottom half: clear colour
  EXPECT_EQ(file[(40 * 64 + 32) * 4 + 3], 255);

  // The logging table prints each call and still draws.
  {
    GlBackendScope logging(GlBackend::logging);
    testing::internal::CaptureStderr();
    gl().ClearColor(0, 1, 0, 1);
    gl().Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("glClearColor(0, 1, 0, 1)\n"), std::string::npos);
    EXPECT_NE(printed.find("glClear(GL_COLOR_BUFFER_BIT|GL_DEPTH_BUFFER_BIT)\n"),
              std::string::npos);
  }
  ASSERT_TRUE(display_read_frame(px, w, h));
  EXPECT_TRUE(near(&px[(5 * 64 + 32) * 4], 0, 255, 0));

  display_close();
  display_reset();
  fs::remove_all(dir);
}

TEST(PngWriter, RoundTripAndRefusals) {
  fs::path dir = fs::temp_directory_path() / ("orvl_png_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // Rows 12 bytes apart for 2 pixels: the padding must not reach the file.
  std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99,
                             9, 10, 11, 12, 13, 14, 15, 16, 99, 99, 99, 99};
  std::string path = (dir / "a.png").string();
  std::string why;
  ASSERT_TRUE(png_write_rgba(path, px.data(), 2, 2, 12, &why)) << why;
  std::vector<uint8_t> back;
  int w, h;
  ASSERT_TRUE(png_read_rgba(path, back, w, h));
  EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));

  EXPECT_FALSE(png_write_rgba(path, px.data(), 0, 2, 12, &why));
  EXPECT_FALSE(png_write_rgba(path, px.data(), 4, 2, 12, &why));  // stride shorter than a row
  EXPECT_FALSE(png_write_rgba((dir / "no/such/dir/b.png").string(), px.data(), 2, 2, 12, &why));
  EXPECT_FALSE(why.empty());
  std::ofstream(dir / "c.png") << "not a png";
  EXPECT_FALSE(png_read_rgba((dir / "c.png").string(), back, w, h, &why));
  EXPECT_TRUE(back.empty());
  fs::remove_all(dir);
}
