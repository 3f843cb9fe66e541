// The player of `orvl play`: transport rules, keys, and the player itself on the demo show
// drawn headless with the virtual clock, plus real SDL events on SDL's offscreen driver.
#include "app/viewer.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "app/sound_output.h"
#include "render/png_writer.h"
#include "scene/lw_scene.h"
#include "scene/motion.h"
#include "tools/demo_show.h"

namespace {

using namespace orvl;
namespace fs = std::filesystem;

WindowMessage key(uint32_t code, uint32_t modifiers = 0) {
  WindowMessage m;
  m.kind = WindowMessageKind::key_down;
  m.code = code;
  m.modifiers = modifiers;
  return m;
}

WindowMessage drag(uint32_t button, int dx, int dy) {
  WindowMessage m;
  m.kind = WindowMessageKind::pointer_drag;
  m.code = 1u << (button - 1);
  m.dx = dx;
  m.dy = dy;
  return m;
}

TEST(Transport, ClampsWrapsHoldsAndScalesTime) {
  Transport t;
  t.start(5000, 10000, 1000.0 / 30);
  EXPECT_DOUBLE_EQ(t.time(5000 + 2500), 2500);
  t.seek_to(7500, -300);  // before 0
  EXPECT_DOUBLE_EQ(t.time(7500), 0);
  t.seek_to(7500, 99999);  // past the end
  EXPECT_DOUBLE_EQ(t.time(7500), 10000);
  t.seek_to(7500, 9000);
  t.update(7500 + 1500);  // looping: 10500 wraps to 500
  EXPECT_DOUBLE_EQ(t.time(9000), 500);
  EXPECT_FALSE(t.paused);

  t.loop = false;
  t.seek_to(9000, 9000);
  t.update(9000 + 1500);  // not looping: holds the end, paused
  EXPECT_TRUE(t.paused);
  EXPECT_DOUBLE_EQ(t.time(20000), 10000);

  t.set_paused(20000, false);
  t.seek_to(20000, 1000);
  t.set_speed(20000, 2);
  EXPECT_DOUBLE_EQ(t.time(20500), 2000);
  for (int i = 0; i < 10; ++i) t.set_speed(20500, t.speed * 2);
  EXPECT_DOUBLE_EQ(t.speed, kMaxSpeed);
  for (int i = 0; i < 20; ++i) t.set_speed(20500, t.speed * 0.5);
  EXPECT_DOUBLE_EQ(t.speed, kMinSpeed);

  // Frame steps pause and move whole frames from the nearest frame.
  t.set_speed(20500, 1);
  t.seek_to(20500, 100.2);  // nearest frame 3 (100 ms)
  t.step_frames(20500, 1);
  EXPECT_TRUE(t.paused);
  EXPECT_NEAR(t.time(30000), 4 * 1000.0 / 30, 1e-9);
  t.step_frames(30000, -2);
  EXPECT_NEAR(t.time(30000), 2 * 1000.0 / 30, 1e-9);
  t.seek_to(30000, 0);
  t.step_frames(30000, -1);
  EXPECT_DOUBLE_EQ(t.time(30000), 0);
}

TEST(ViewerKeys, EveryKeyOfTheListHasItsAction) {
  using A = ViewerAction;
  EXPECT_EQ(viewer_action(key(VirtualKey::SPACE)), A::pause);
  EXPECT_EQ(viewer_action(key(VirtualKey::LEFT)), A::seek_back);
  EXPECT_EQ(viewer_action(key(VirtualKey::RIGHT)), A::seek_forward);
  EXPECT_EQ(viewer_action(key(VirtualKey::LEFT, KeyModifier::SHIFT)), A::seek_back_long);
  EXPECT_EQ(viewer_action(key(VirtualKey::RIGHT, KeyModifier::SHIFT)), A::seek_forward_long);
  EXPECT_EQ(viewer_action(key(VirtualKey::DOWN)), A::seek_back_long);
  EXPECT_EQ(viewer_action(key(VirtualKey::UP)), A::seek_forward_long);
  EXPECT_EQ(viewer_action(key(0xBC)), A::frame_back);
  EXPECT_EQ(viewer_action(key(0xBE)), A::frame_forward);
  EXPECT_EQ(viewer_action(key(VirtualKey::HOME)), A::restart);
  EXPECT_EQ(viewer_action(key('L')), A::loop);
  EXPECT_EQ(viewer_action(key(0xDB)), A::slower);
  EXPECT_EQ(viewer_action(key(0xDD)), A::faster);
  EXPECT_EQ(viewer_action(key('C')), A::free_camera);
  EXPECT_EQ(viewer_action(key('R')), A::scene_camera);
  EXPECT_EQ(viewer_action(key('F')), A::full_screen);
  EXPECT_EQ(viewer_action(key('S')), A::screenshot);
  EXPECT_EQ(viewer_action(key('H')), A::overlay);
  EXPECT_EQ(viewer_action(key(VirtualKey::F1)), A::key_list);
  EXPECT_EQ(viewer_action(key('Q')), A::quit);
  EXPECT_EQ(viewer_action(key(VirtualKey::ESCAPE)), A::quit);
  WindowMessage question;
  question.kind = WindowMessageKind::character;
  question.code = '?';
  EXPECT_EQ(viewer_action(question), A::key_list);
  question.code = 's';  // the character after the key-down of S does nothing more
  EXPECT_EQ(viewer_action(question), A::none);
  EXPECT_EQ(viewer_action(key('X')), A::none);
}

// The demo show, written once, with the working directory in it (the show's files name
// each other relative to it).
class PlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string((fs::temp_directory_path() / ("orvl_viewer_" + std::to_string(getpid()))).string());
    DemoOptions options;
    options.music_seconds = 0;
    DemoSummary summary;
    std::string error;
    ok_ = make_demo_show(*dir_, options, summary, error);
    old_cwd_ = new fs::path(fs::current_path());
    if (ok_) fs::current_path(*dir_);
    log_set_echo(false);
  }
  static void TearDownTestSuite() {
    fs::current_path(*old_cwd_);
    fs::remove_all(*dir_);
    delete dir_;
    delete old_cwd_;
  }
  void SetUp() override {
    ASSERT_TRUE(ok_);
    clock_set_virtual(1000);
    display_setup(DisplaySetup{DisplayBackend::headless, 1, false});
  }
  void TearDown() override {
    player_.close();
    clock_use_real();
    display_reset();
  }

  bool open(const std::string& file, Look look = Look::engine) {
    SceneRun run;
    run.cmd = "play";
    run.file = file;
    run.width = 160;
    run.height = 120;
    run.render.look = look;
    run.look_given = true;
    ViewerOptions options;
    options.shots_dir = *dir_;
    return player_.open(run, options);
  }
  // One pass after `ms` more on the clock, then the picture as drawn.
  std::vector<uint8_t> frame_after(uint32_t ms) {
    clock_advance_virtual(ms);
    EXPECT_TRUE(player_.frame());
    std::vector<uint8_t> rgba;
    int w = 0, h = 0;
    EXPECT_TRUE(display_read_frame(rgba, w, h));
    return rgba;
  }

  static std::string* dir_;
  static fs::path* old_cwd_;
  static bool ok_;
  Player player_;
};
std::string* PlayerTest::dir_ = nullptr;
fs::path* PlayerTest::old_cwd_ = nullptr;
bool PlayerTest::ok_ = false;

// Scene 3 has a plasma floor and falling particles: both step per frame and must hold.
TEST_F(PlayerTest, PauseHoldsTheFrameAndSeekingLandsOnTheSamePictureFromEitherSide) {
  ASSERT_TRUE(open("scene/3vex.lws"));
  frame_after(0);
  const std::vector<uint8_t> playing = frame_after(2000);
  EXPECT_NEAR(player_.media_ms(), 2000, 1e-6);
  player_.handle(key(VirtualKey::SPACE));
  const std::vector<uint8_t> paused_a = frame_after(700);
  const std::vector<uint8_t> paused_b = frame_after(900);
  EXPECT_TRUE(player_.transport().paused);
  EXPECT_NEAR(player_.media_ms(), 2000, 1e-6);
  EXPECT_EQ(paused_a, paused_b) << "a paused player keeps drawing the same picture";
  EXPECT_EQ(paused_a, playing);

  // Right: 3 s; then from 5 s back to 3 s; both land on 3000 ms and the same picture.
  player_.handle(key(VirtualKey::RIGHT));
  EXPECT_NEAR(player_.media_ms(), 3000, 1e-6);
  const std::vector<uint8_t> from_before = frame_after(10);
  player_.handle(key(VirtualKey::RIGHT));
  player_.handle(key(VirtualKey::RIGHT));
  const std::vector<uint8_t> at_five = frame_after(10);
  EXPECT_NE(at_five, from_before);
  player_.handle(key(VirtualKey::LEFT));
  player_.handle(key(VirtualKey::LEFT));
  EXPECT_NEAR(player_.media_ms(), 3000, 1e-6);
  const std::vector<uint8_t> from_after = frame_after(10);
  EXPECT_EQ(from_before, from_after) << "effects restart and step up to the target frame";
  EXPECT_EQ(player_.effect_steps_done(), 90);  // 3 s at 30 frames per second

  // Shift+Left / Down: 10 s back clamps at 0; Up / Shift+Right forward clamps at the end.
  player_.handle(key(VirtualKey::LEFT, KeyModifier::SHIFT));
  EXPECT_NEAR(player_.media_ms(), 0, 1e-6);
  player_.handle(key(VirtualKey::UP));
  EXPECT_NEAR(player_.media_ms(), 10000, 1e-6);
  for (int i = 0; i < 5; ++i) player_.handle(key(VirtualKey::RIGHT, KeyModifier::SHIFT));
  EXPECT_NEAR(player_.media_ms(), player_.transport().length_ms, 1e-6);
  frame_after(10);
  player_.handle(key(VirtualKey::DOWN));
  EXPECT_NEAR(player_.media_ms(), player_.transport().length_ms - 10000, 1e-6);

  // Frame steps.
  player_.handle(key(VirtualKey::HOME));
  player_.handle(key(0xBE));
  player_.handle(key(0xBE));
  EXPECT_NEAR(player_.media_ms(), 2000.0 / 30, 1e-6);
  const std::vector<uint8_t> frame2 = frame_after(10);
  player_.handle(key(0xBC));
  const std::vector<uint8_t> frame1 = frame_after(10);
  EXPECT_NEAR(player_.media_ms(), 1000.0 / 30, 1e-6);
  EXPECT_NE(frame1, frame2);
}

TEST_F(PlayerTest, SpeedAndLoopFollowTheKeys) {
  ASSERT_TRUE(open("scene/4vex.lws"));
  const double length = player_.transport().length_ms;
  ASSERT_GT(length, 2000);
  frame_after(0);
  player_.handle(key(0xDD));  // ] x2
  frame_after(500);
  EXPECT_NEAR(player_.media_ms(), 1000, 1e-6);
  player_.handle(key(0xDB));  // [ x1
  player_.handle(key(0xDB));  // [ x0.5
  EXPECT_DOUBLE_EQ(player_.transport().speed, 0.5);
  frame_after(1000);
  EXPECT_NEAR(player_.media_ms(), 1500, 1e-6);
  player_.handle(key(0xDD));

  // Loop on (the default): past the end starts again.
  EXPECT_TRUE(player_.transport().loop);
  player_.transport().seek_to(clock_now_ms(), length - 100);
  frame_after(300);
  EXPECT_NEAR(player_.media_ms(), 200, 1e-6);
  EXPECT_FALSE(player_.transport().paused);
  // Loop off: the end holds and pauses; Space starts again from 0.
  player_.handle(key('L'));
  EXPECT_FALSE(player_.transport().loop);
  player_.transport().seek_to(clock_now_ms(), length - 100);
  frame_after(300);
  EXPECT_NEAR(player_.media_ms(), length, 1e-6);
  EXPECT_TRUE(player_.transport().paused);
  player_.handle(key(VirtualKey::SPACE));
  EXPECT_NEAR(player_.media_ms(), 0, 1e-6);
  EXPECT_FALSE(player_.transport().paused);
  player_.handle(key('Q'));
  EXPECT_FALSE(player_.frame());
}

// Orbiting changes the view and `r` gives back the scene camera's picture, in both looks.
TEST_F(PlayerTest, OrbitPanAndDollyChangeTheViewAndRRestoresIt) {
  for (Look look : {Look::engine, Look::lightwave}) {
    SCOPED_TRACE(look_name(look));
    ASSERT_TRUE(open("scene/2vex.lws", look));
    player_.handle(key(VirtualKey::SPACE));
    const std::vector<uint8_t> scene_view = frame_after(10);
    player_.handle(key('C'));
    ASSERT_TRUE(player_.camera().on);
    player_.handle(drag(PointerButton::LEFT, 80, 20));
    const std::vector<uint8_t> orbited = frame_after(10);
    EXPECT_NE(orbited, scene_view);
    const double heading = player_.camera().heading;
    player_.handle(drag(PointerButton::RIGHT, 15, 0));
    EXPECT_DOUBLE_EQ(player_.camera().heading, heading) << "a right drag pans, it does not orbit";
    const std::vector<uint8_t> panned = frame_after(10);
    EXPECT_NE(panned, orbited);
    const double distance = player_.camera().distance;
    WindowMessage wheel;
    wheel.kind = WindowMessageKind::wheel;
    wheel.dy = 2;
    player_.handle(wheel);
    EXPECT_NEAR(player_.camera().distance, distance * 0.85 * 0.85, 1e-9 * distance);
    EXPECT_NE(frame_after(10), panned);
    player_.handle(key('R'));
    EXPECT_FALSE(player_.camera().on);
    EXPECT_EQ(frame_after(10), scene_view);
    player_.close();
  }
}

// The engine look takes a viewer's camera as it takes its own: the scene camera's world
// matrix and zoom handed over as an override draw the very picture the scene camera draws.
TEST_F(PlayerTest, TheEngineLookDrawsTheSceneCameraGivenAsOverrideAsItsOwn) {
  for (const char* file : {"scene/1vex.lws", "scene/7vex.lws"}) {
    SCOPED_TRACE(file);
    SceneRun run;
    run.file = file;
    run.width = 160;
    run.height = 120;
    Scene scene;
    ASSERT_TRUE(open_scene(run, DisplayOptions::DEPTH_BUFFER, scene));
    if (scene.camera_parent >= 0 || scene.lw.camera.motion != 0) {
      close_scene(scene);
      continue;  // the engine adds a parent's angles instead of composing them
    }
    start_motions_at(scene, 1000 - 3000);
    RenderSettings settings;
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, settings);
    std::vector<uint8_t> own, given;
    int w = 0, h = 0;
    ASSERT_TRUE(display_read_frame(own, w, h));
    LwPose pose;
    lw_pose_current(scene, pose);
    settings.camera_world = &pose.camera_world;
    settings.camera_zoom = scene.zoom_factor / kZoomNormalise;
    scene_render_frame(scene, ClearBits::DEPTH | ClearBits::COLOR, settings);
    ASSERT_TRUE(display_read_frame(given, w, h));
    size_t differ = 0;
    for (size_t i = 0; i < own.size(); ++i) differ += std::abs(int(own[i]) - int(given[i])) > 2;
    EXPECT_LT(differ, own.size() / 200) << "the override moved the view";
    close_scene(scene);
  }
}

TEST_F(PlayerTest, ScreenshotsAreWrittenWithoutTheOverlayAndAFailureDoesNotStopPlayback) {
  ASSERT_TRUE(open("scene/5vex.lws"));
  player_.handle(key(VirtualKey::SPACE));
  const std::vector<uint8_t> plain = frame_after(10);
  player_.handle(key('H'));
  EXPECT_TRUE(player_.overlay_on());
  player_.handle(key('S'));
  const std::vector<uint8_t> with_overlay = frame_after(10);
  EXPECT_NE(with_overlay, plain) << "the overlay draws";
  const std::string shot = player_.last_shot();
  ASSERT_FALSE(shot.empty());
  EXPECT_EQ(shot, *dir_ + "/5vex-0001.png");
  std::vector<uint8_t> png;
  int w = 0, h = 0;
  ASSERT_TRUE(png_read_rgba(shot, png, w, h));
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  ASSERT_EQ(png.size(), plain.size());
  for (size_t i = 0; i < png.size(); i += 4)
    ASSERT_EQ(std::memcmp(&png[i], &plain[i], 3), 0) << "the screenshot is the picture without the overlay, pixel " << i / 4;
  player_.handle(key('S'));
  frame_after(10);
  EXPECT_EQ(player_.last_shot(), *dir_ + "/5vex-0002.png");

  // The key list draws too, over the picture.
  player_.handle(key('H'));
  player_.handle(key(VirtualKey::F1));
  EXPECT_TRUE(player_.key_list_on());
  EXPECT_NE(frame_after(10), plain);
  player_.handle(key(VirtualKey::F1));
  player_.close();

  // A folder that cannot be written: reported, and the player plays on.
  const std::string locked = *dir_ + "/locked";
  fs::create_directories(locked);
  chmod(locked.c_str(), 0500);
  const bool root = access(locked.c_str(), W_OK) == 0;  // root writes anywhere
  SceneRun run;
  run.file = "scene/5vex.lws";
  run.width = 160;
  run.height = 120;
  ViewerOptions options;
  options.shots_dir = locked;
  ASSERT_TRUE(player_.open(run, options));
  player_.handle(key('S'));
  frame_after(10);
  if (!root) {
    EXPECT_TRUE(player_.last_shot().empty());
    EXPECT_NE(player_.message().find("screenshot not written"), std::string::npos) << player_.message();
  }
  frame_after(500);
  EXPECT_NEAR(player_.media_ms(), 510, 1e-6);
  chmod(locked.c_str(), 0700);
}

TEST_F(PlayerTest, ADroppedSceneReplacesTheCurrentOneAndAnythingElseIsRefused) {
  ASSERT_TRUE(open("scene/6vex.lws", Look::lightwave));  // the look lone objects are drawn in
  frame_after(10);
  // Every drop below happens inside this window and its GL context: none opens another.
  const uint32_t serial = display_open_serial();
  std::ofstream(*dir_ + "/notes.txt") << "hello";
  std::ofstream(*dir_ + "/fake.lws") << "not a scene";
  WindowMessage m;
  m.kind = WindowMessageKind::drop;
  m.path = *dir_ + "/notes.txt";
  player_.handle(m);
  frame_after(10);
  EXPECT_EQ(player_.file(), "scene/6vex.lws");
  EXPECT_NE(player_.message().find("is not a LightWave scene or object"), std::string::npos) << player_.message();
  m.path = *dir_ + "/fake.lws";
  player_.handle(m);
  frame_after(10);
  EXPECT_EQ(player_.file(), "scene/6vex.lws");
  EXPECT_NE(player_.message().find("is not a LightWave scene"), std::string::npos);
  EXPECT_NEAR(player_.media_ms(), 30, 1e-6) << "the scene plays on";

  m.path = *dir_ + "/scene/8vex.lws";
  player_.handle(m);
  const std::vector<uint8_t> dropped = frame_after(10);
  EXPECT_EQ(player_.file(), m.path);
  EXPECT_NEAR(player_.media_ms(), 0, 1e-6) << "the dropped scene starts at 0";
  EXPECT_EQ(display_open_serial(), serial) << "the drop reopened the window";
  frame_after(40);
  EXPECT_NEAR(player_.media_ms(), 40, 1e-6);

  // An object that says LWO2 and then breaks off: the scene before is loaded again at its time.
  std::ofstream(*dir_ + "/broken.lwo", std::ios::binary) << std::string("FORM\0\0\0\x40LWO2LAYR\0\0", 18);
  m.path = *dir_ + "/broken.lwo";
  player_.handle(m);
  frame_after(10);
  EXPECT_EQ(player_.file(), *dir_ + "/scene/8vex.lws");
  EXPECT_NE(player_.message().find("broken.lwo could not be opened"), std::string::npos) << player_.message();
  EXPECT_NEAR(player_.media_ms(), 50, 1e-6);
  EXPECT_EQ(display_open_serial(), serial);

  // An object plays as its viewing scene (a turntable): the picture turns as time runs.
  m.path = *dir_ + "/objects/s1_ship.lwo";
  player_.handle(m);
  const std::vector<uint8_t> first = frame_after(10);
  EXPECT_EQ(player_.file(), m.path);
  EXPECT_GT(player_.transport().length_ms, 0);
  EXPECT_NE(frame_after(2500), first);
  EXPECT_EQ(display_open_serial(), serial);

  // The scene dropped into the used context draws what it draws in a fresh one: the old
  // scene's textures and state are gone and the new one's are there.
  // The drop's overlay message covers the bottom rows: the rows above it are compared.
  player_.close();
  ASSERT_TRUE(open(*dir_ + "/scene/8vex.lws", Look::lightwave));
  const std::vector<uint8_t> fresh = frame_after(0);
  ASSERT_EQ(fresh.size(), dropped.size());
  const size_t above = size_t(160 * 4) * 90;
  EXPECT_TRUE(std::equal(fresh.begin(), fresh.begin() + long(above), dropped.begin()))
      << "the dropped scene differs from the same scene opened afresh";
}

// Music follows the transport: it stops with a pause, moves with every seek, plays again.
TEST_F(PlayerTest, MusicPausesAndSeeksWithTheTransport) {
  ASSERT_EQ(sound_library_load(), SoundLoadStatus::ok);
  const SoundApi& api = sound_api();
  auto position = reinterpret_cast<int64_t (*)(uint32_t)>(sound_library_symbol("ORVL_ChannelGetPosition"));
  auto playing = reinterpret_cast<int (*)(uint32_t)>(sound_library_symbol("ORVL_ChannelIsPlaying"));
  ASSERT_NE(position, nullptr);
  ASSERT_NE(playing, nullptr);
  // 30 s of silence, 16-bit mono at 22050 Hz.
  const uint32_t frames = 22050 * 30, bytes = frames * 2;
  std::string wav = "RIFF";
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) wav += char(v >> (8 * i)); };
  u32(36 + bytes);
  wav += "WAVEfmt ";
  u32(16);
  wav += std::string("\x01\x00\x01\x00", 4);
  u32(22050);
  u32(22050 * 2);
  wav += std::string("\x02\x00\x10\x00", 4);
  wav += "data";
  u32(bytes);
  wav += std::string(bytes, '\0');
  const std::string path = *dir_ + "/silence.wav";
  std::ofstream(path, std::ios::binary) << wav;
  ASSERT_EQ(api.init(-2, 22050, 0, nullptr), 1);
  MusicState music;
  music.path = path;
  music.handle = api.stream_create_file(0, path.c_str(), 0, 0, 0);
  ASSERT_NE(music.handle, 0u);
  ASSERT_EQ(api.stream_play(music.handle, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);

  ASSERT_TRUE(open("scene/3vex.lws"));
  player_.attach_music(&music, 22050);
  frame_after(500);
  player_.handle(key(VirtualKey::SPACE));
  EXPECT_EQ(playing(music.handle), 0) << "paused with the scene";
  player_.handle(key(VirtualKey::RIGHT));
  EXPECT_EQ(position(music.handle), int64_t(1500 * 22.05)) << "moved with the seek";
  player_.handle(key(VirtualKey::UP));
  EXPECT_EQ(position(music.handle), int64_t(11500 * 22.05));
  player_.handle(key(0xDD));  // x2: muted, and moved back into step when it returns to x1
  player_.handle(key(VirtualKey::SPACE));
  EXPECT_EQ(playing(music.handle), 1) << "playing again";
  frame_after(500);
  EXPECT_NEAR(player_.media_ms(), 12500, 1e-6);
  player_.handle(key(0xDB));
  const int64_t back = position(music.handle);
  EXPECT_GE(back, int64_t(12500 * 22.05));
  EXPECT_LT(back, int64_t(12700 * 22.05)) << "in step with the scene after x2";
  player_.close();
  (void)api.free();
  sound_library_release();
}

// Real SDL events through SDL's offscreen driver and the display's message pump.
TEST_F(PlayerTest, SdlKeyAndMouseEventsReachThePlayer) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  display_setup(DisplaySetup{DisplayBackend::window, 1, false});
  if (!open("scene/2vex.lws")) {
    unsetenv("SDL_VIDEODRIVER");
    GTEST_SKIP() << "SDL's offscreen driver gives no GL context here";
  }
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = SDLK_SPACE;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e.key.keysym.sym = SDLK_RIGHT;
  e.key.keysym.mod = KMOD_LSHIFT;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  clock_advance_virtual(10);
  EXPECT_TRUE(player_.frame());
  EXPECT_TRUE(player_.transport().paused);
  EXPECT_NEAR(player_.media_ms(), 10010, 1e-6) << "paused at 10 ms, then Shift+Right";

  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.state = SDL_BUTTON_LMASK;
  motion.motion.xrel = 30;
  ASSERT_EQ(SDL_PushEvent(&motion), 1);
  clock_advance_virtual(10);
  EXPECT_TRUE(player_.frame());
  ASSERT_TRUE(player_.camera().on) << "a drag switches the free camera on";
  const double heading = player_.camera().heading, distance = player_.camera().distance;
  ASSERT_EQ(SDL_PushEvent(&motion), 1);
  SDL_Event wheel{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.y = 1;
  ASSERT_EQ(SDL_PushEvent(&wheel), 1);
  clock_advance_virtual(10);
  EXPECT_TRUE(player_.frame());
  EXPECT_NEAR(player_.camera().heading, heading + 0.3, 1e-9);
  EXPECT_NEAR(player_.camera().distance, distance * 0.85, 1e-9 * distance);

  // A file dropped on the window covering the desktop plays in that same window.
  player_.handle(key('F'));
  clock_advance_virtual(10);
  EXPECT_TRUE(player_.frame());  // the size message of the change
  const bool full = player_.full_screen();
  const uint32_t serial = display_open_serial();
  int viewport[4];
  display_viewport(viewport);
  const std::string dropped = *dir_ + "/scene/8vex.lws";
  SDL_Event drop{};
  drop.type = SDL_DROPFILE;
  drop.drop.file = SDL_strdup(dropped.c_str());
  ASSERT_EQ(SDL_PushEvent(&drop), 1);
  clock_advance_virtual(10);
  EXPECT_TRUE(player_.frame());
  EXPECT_EQ(player_.file(), dropped);
  EXPECT_EQ(display_open_serial(), serial) << "the drop reopened the window";
  EXPECT_EQ(player_.full_screen(), full) << "full screen lost with the drop";
  int after[4];
  display_viewport(after);
  EXPECT_TRUE(std::equal(after, after + 4, viewport)) << "the window changed size with the drop";
  e.key.keysym.sym = SDLK_q;
  e.key.keysym.mod = 0;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  clock_advance_virtual(10);
  EXPECT_FALSE(player_.frame());
  player_.close();
  unsetenv("SDL_VIDEODRIVER");
}

}  // namespace
