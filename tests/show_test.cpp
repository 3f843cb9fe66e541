#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "effects/effects.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/display.h"
#include "render/gl_api.h"
#include "app/show.h"
#include "platform/file.h"
#include "scene/precalc_file.h"
#include "support/object_fixtures.h"
#include "tools/image_writer.h"
#include "tools/lws_writer.h"

using namespace orvl;
using namespace orvl::testing;
using ::testing::ElementsAre;

namespace {

// Eight small scenes laid out as the show names them, played in a temporary working
// directory on the virtual clock, drawing into the GL recorder through the null display.
struct ShowFixture : ::testing::Test {
  TempDir dir{"show"};
  std::unique_ptr<ScopedCwd> cwd;
  GlBackendScope recorder{GlBackend::recorder};
  ShowSettings settings;
  ShowHost host;
  std::vector<std::pair<int, uint32_t>> frames;  // scene index, tick of each frame
  uint32_t step_ms = 1000;

  void SetUp() override {
    log_set_echo(false);
    gl_recorder().reset();
    LwobWriter w;
    triangle_object(w);
    std::filesystem::create_directories(dir.root / "objects");
    std::filesystem::create_directories(dir.root / "scene");
    ASSERT_TRUE(w.write(dir.path("objects/tri.lwo")));
    for (int k = 1; k <= kShowScenes; ++k) {
      LwsScene lws;
      LwsObject o;
      o.load_path = kPrefix + "objects\\tri.lwo";
      lws.objects.push_back(o);
      ASSERT_TRUE(write_lws_file(dir.path("scene/" + std::to_string(k) + "vex.lws"), lws));
    }
    cwd = std::make_unique<ScopedCwd>(dir.root);
    display_setup(DisplaySetup{DisplayBackend::null, 1, false});
    null_window_clear();
    clock_set_virtual(100000);
    settings.mode_selected = true;
    settings.mode_bpp = 16;
    host.after_frame = [this](int k, const Scene&) {
      frames.emplace_back(k, clock_now_ms());
      clock_advance_virtual(step_ms);
    };
  }
  void TearDown() override {
    cwd.reset();
    clock_use_real();
    display_setup(DisplaySetup{});
    log_set_echo(true);
  }

  std::vector<int> scenes_with_frames() const {
    std::vector<int> out;
    for (auto& f : frames)
      if (out.empty() || out.back() != f.first) out.push_back(f.first);
    return out;
  }
  bool logged(const std::string& line) const {
    const auto& l = log_lines();
    return std::find(l.begin(), l.end(), line) != l.end();
  }
};

}  // namespace

TEST_F(ShowFixture, PlaysEveryScenePartOfTheClockAndLogsEachStep) {
  int music_calls = 0;
  host.music_start = [&](std::string& path) {
    EXPECT_EQ(path, "music\\vexmarine.mp3");
    ++music_calls;
    return true;
  };
  host.music_play = [&] { ++music_calls; };
  host.music_end = [&] { ++music_calls; };
  int shown = 0;
  ASSERT_EQ(show_run(settings, host, &shown), ShowResult::played);
  EXPECT_EQ(shown, 8);
  EXPECT_EQ(music_calls, 3);
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
  // Each scene's frames lie within its slot of the show clock (t0 = 100000).
  for (auto& [k, tick] : frames) {
    EXPECT_LT(tick, 100000 + kShowTable[k].end_ms) << "scene " << k;
    if (k > 0) {
      EXPECT_GE(tick, 100000 + kShowTable[k - 1].end_ms) << "scene " << k;
    }
  }
  const auto& l = log_lines();
  ASSERT_GE(l.size(), 20u);
  EXPECT_THAT(std::vector<std::string>(l.begin(), l.begin() + 16),
              ElementsAre("ORVL states :", "Newtek LightWave 5.X root path : ", " ", "OpenGL states :",
                          "Using mipmap.", "Using a Bilinear filter.", "Using a Z-Buffer.",
                          "Not waiting for vertical synchronisation while rendering.",
                          "Wanted resolution : 640 x 480 (16 bpp) (fullscreen)", " ", "8 scenes to load :", " ",
                          "Scene index : 1", "Path : scene\\1vex.lws", " ",
                          "Wanted played music while rendering : music\\vexmarine.mp3"));
  EXPECT_TRUE(logged("Initializing 2D effects."));
  EXPECT_TRUE(logged("Creating OpenGL output window."));
  EXPECT_TRUE(logged("Uploading textures to OpenGL."));
  EXPECT_TRUE(logged("Start Rendering :"));
  EXPECT_TRUE(logged("scene\\1vex.lws"));  // the window title
  EXPECT_EQ(l[l.size() - 11], "Removing 2D effects from memory.");
  EXPECT_EQ(l[l.size() - 10], "Removing OpenGL textures from memory.");
  EXPECT_EQ(l[l.size() - 9], "Removing OpenGL internal library from memory.");
  EXPECT_EQ(l[l.size() - 8], "Removing scene\\1vex.lws from memory (scene index : 0).");
  EXPECT_EQ(l.back(), "Removing scene\\8vex.lws from memory (scene index : 7).");
}

TEST_F(ShowFixture, AnOverrunSkipsTheNextSceneWithoutAFrame) {
  host.after_frame = [this](int k, const Scene&) {
    frames.emplace_back(k, clock_now_ms());
    clock_advance_virtual(k == 0 ? 45000 : 1000);  // scene 1 overruns scene 2's end
  };
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 2, 3, 4, 5, 6, 7));
}

TEST_F(ShowFixture, EscapeDuringSceneThreeEndsTheShow) {
  host.after_frame = [this](int k, const Scene&) {
    frames.emplace_back(k, clock_now_ms());
    clock_advance_virtual(1000);
    if (k == 2 && frames.size() > 1 && frames[frames.size() - 2].first == 2) {
      null_window_push({WindowMessageKind::key_down, VirtualKey::ESCAPE});
      null_window_push({WindowMessageKind::character, 27});
    }
  };
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 1, 2));
  // The frame in progress when Escape arrived still ended normally: tear-down ran.
  EXPECT_TRUE(logged("Removing OpenGL internal library from memory."));
}

TEST_F(ShowFixture, WrongSoundLibraryAbandonsBeforeAnythingIsShown) {
  bool closed = false;
  host.music_start = [](std::string&) { return false; };
  host.loading_close = [&] { closed = true; };
  ASSERT_EQ(show_run(settings, host), ShowResult::abandoned);
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(closed);
  EXPECT_FALSE(logged("Initializing 2D effects."));
  EXPECT_FALSE(display_is_open());
}

TEST_F(ShowFixture, PrecalculationModeHasNoMusicAndNoDisplay) {
  settings.mode = ShowMode::build_precalc;
  bool music = false, dialog = false;
  host.music_start = [&](std::string&) { return music = true; };
  host.precalc_dialog_open = [&](const std::string& t) {
    EXPECT_EQ(t, "Wait while building precalculation file ....");
    dialog = true;
  };
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_FALSE(music);
  EXPECT_TRUE(dialog);
  EXPECT_TRUE(logged("No music played."));
  EXPECT_TRUE(logged("Start Precalculating."));
  EXPECT_FALSE(logged("Creating OpenGL output window."));
  EXPECT_EQ(gl_recorder().count(GlFunc::Clear), 0u);  // frames are evaluated, never drawn
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
}

TEST_F(ShowFixture, BuiltFilesArePlayedAndAnotherSizeWarnsOnce) {
  settings.mode = ShowMode::build_precalc;
  std::vector<int> built;
  host.precalc_result = [&](int k, const std::string&, bool written) {
    if (written) built.push_back(k);
  };
  // One second per frame: only scene 6's slot (33 s) holds the 30 frames of a 60-frame
  // scene at step 2; the others stop early and leave no file.
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_THAT(built, ElementsAre(5));
  EXPECT_FALSE(std::filesystem::exists(dir.path("scene/1vex.PRK")));
  EXPECT_TRUE(logged("Precalculation of scene\\1vex.lws stopped after 22 frames, before its last frame: no file written."));

  built.clear();
  step_ms = 100;
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_THAT(built, ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
  for (int k = 1; k <= kShowScenes; ++k) EXPECT_TRUE(std::filesystem::exists(dir.path("scene/" + std::to_string(k) + "vex.PRK")));

  // Two files built for 800 x 600: ignored, and with the option one box names both.
  PrecalcFile other;
  other.width = 800;
  other.height = 600;
  other.step = 2;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(precalc_encode(other, bytes), PrecalcStatus::ok);
  ASSERT_TRUE(write_whole_file(dir.path("scene/3vex.PRK"), bytes.data(), bytes.size()));
  ASSERT_TRUE(write_whole_file(dir.path("scene/5vex.PRK"), bytes.data(), bytes.size()));
  std::vector<std::string> boxes;
  host.message_box = [&](const std::string& text, const std::string&, MessageKind kind) {
    EXPECT_EQ(kind, MessageKind::warning);
    boxes.push_back(text);
  };
  settings.mode = ShowMode::rendering;
  settings.warn_resolution_mismatch = true;
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("scene\\3vex.lws\nscene\\5vex.lws"), std::string::npos) << boxes[0];
  EXPECT_TRUE(logged("scene\\1vex.lws (precalculated)"));  // the window title

  settings.warn_resolution_mismatch = false;
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ShowFixture, MissingScenesKeepTheirSlotsAndNoSelectionUsesTheDesktopDepth) {
  std::filesystem::remove(dir.path("scene/4vex.lws"));
  settings.mode_selected = false;
  settings.desktop_bpp = 24;
  settings.mode = ShowMode::common_rendering;
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
  EXPECT_TRUE(logged("Wanted resolution : 640 x 480 (24 bpp) (fullscreen)"));
  EXPECT_TRUE(logged("Start Common Rendering :"));
  EXPECT_TRUE(logged("Common buffer used"));
}

TEST_F(ShowFixture, ANoPixelFormatDisplayEndsTheShowWithTheEightBitMessage) {
  std::vector<std::string> boxes;
  host.message_box = [&](const std::string& text, const std::string& title, MessageKind) {
    boxes.push_back(title + ": " + text);
  };
  null_window_fail_next_open(WindowStatus::no_pixel_format);
  ASSERT_EQ(show_run(settings, host), ShowResult::display_failed);
  EXPECT_TRUE(frames.empty());
  const auto& l = log_lines();
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[l.size() - 2], "Removing scenes from memory.");
  EXPECT_EQ(l.back(), "8bpp desktop video mode not supported.");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            "OpenGL window initialization failure: Your desktop configuration must be surely set to a 8 bits "
            "video mode.\nPlease use higher video mode.");
}

TEST_F(ShowFixture, OtherDisplayFailuresAskToCheckTheOpenGLInstallation) {
  std::vector<std::string> boxes;
  host.message_box = [&](const std::string& text, const std::string&, MessageKind) { boxes.push_back(text); };
  null_window_fail_next_open(WindowStatus::mode_refused);
  ASSERT_EQ(show_run(settings, host), ShowResult::display_failed);
  EXPECT_EQ(log_lines().back(), "Removing scenes from memory.");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Please verify your OpenGL installation (perhaps a DLL problem).");
  EXPECT_FALSE(logged("Uploading textures to OpenGL."));
}

TEST_F(ShowFixture, APlaylistPlaysEachSceneToItsLastFrameOverItsMusic) {
  // Two scenes of 2 s and 3 s (60 and 90 frames at 30 per second), the second one twice;
  // a scene that cannot be loaded takes no time.
  for (auto [name, frames_long] : {std::pair<const char*, float>{"a.lws", 60}, {"b.lws", 90}}) {
    LwsScene lws;
    lws.last_frame = frames_long;
    LwsObject o;
    o.load_path = kPrefix + "objects\\tri.lwo";
    lws.objects.push_back(o);
    ASSERT_TRUE(write_lws_file(dir.path(name), lws));
  }
  settings.playlist = {dir.path("a.lws"), dir.path("missing.lws"), dir.path("b.lws"), dir.path("b.lws")};
  settings.playlist_music = "";
  step_ms = 100;
  bool music = false;
  host.music_start = [&](std::string&) { return music = true; };
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_FALSE(music);
  EXPECT_TRUE(logged("4 scenes to load :"));
  EXPECT_TRUE(logged("No music played."));
  EXPECT_THAT(scenes_with_frames(), ElementsAre(0, 2, 3));
  int per_scene[4] = {0, 0, 0, 0};
  for (auto& f : frames) ++per_scene[f.first];
  EXPECT_EQ(per_scene[0], 20);  // 2 s in 100 ms frames
  EXPECT_EQ(per_scene[2], 30);
  EXPECT_EQ(per_scene[3], 30);
  EXPECT_EQ(frames.back().second, 100000u + 7900u);

  // With music, the playlist's own file is what the host is asked to open.
  settings.playlist = {dir.path("a.lws")};
  settings.playlist_music = "/music/tune.xm";
  std::string asked;
  host.music_start = [&](std::string& path) {
    asked = path;
    return true;
  };
  frames.clear();
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_EQ(asked, "/music/tune.xm");
}

// Scene 3 holds a plasma and scene 4 a particle emitter: the emitter is set up as its scene
// loads, both effects run while their scenes play, and the plasma prepared for a scene
// other than the first is released when the show ends.
TEST_F(ShowFixture, EffectsOfEveryScenePlayAndAreReleasedAtTheEnd) {
  std::filesystem::create_directories(dir.root / "images");
  RgbPicture pic;
  pic.width = pic.height = 16;
  for (uint32_t i = 0; i < 256; ++i) pic.pixels.push_back(i * 0x010203u & 0xFFFFFF);
  ASSERT_TRUE(write_tga_picture(pic, dir.path("images/plasma.tga")));
  LwobWriter plasma;
  plasma.add_point(0, 0, 5);
  plasma.add_point(0, 1, 5);
  plasma.add_point(1, 0, 5);
  plasma.add_polygon({0, 1, 2}, 1);
  plasma.add_surface("__2DEFFECT_PLASMA__").ctex().timg(kPrefix + "images\\plasma.tga").rtex().timg(
      kPrefix + "images\\plasma.tga");
  ASSERT_TRUE(plasma.write(dir.path("objects/plasma.lwo")));
  LwobWriter sparks;
  for (float y : {0.f, 1.f})
    for (float x : {0.f, 1.f}) sparks.add_point(x, y, 5);
  sparks.add_polygon({0, 1, 3, 2}, 1);
  sparks.add_surface("Sparks__PARTICLES_9__");
  ASSERT_TRUE(sparks.write(dir.path("objects/sparks.lwo")));
  for (auto [k, file] : {std::pair<int, const char*>{3, "plasma.lwo"}, {4, "sparks.lwo"}}) {
    LwsScene lws;
    LwsObject o;
    o.load_path = kPrefix + "objects\\" + file;
    lws.objects.push_back(o);
    ASSERT_TRUE(write_lws_file(dir.path("scene/" + std::to_string(k) + "vex.lws"), lws));
  }
  effects_install_hooks();
  bool plasma_ran = false;
  int particles = -1;
  host.after_frame = [&](int k, const Scene& s) {
    if (k == 2) plasma_ran = plasma_ready() && plasma_state().phase_sin > 0;
    if (k == 3 && s.objects[0].emitter) particles = s.objects[0].emitter->count;
    clock_advance_virtual(step_ms);
  };
  ASSERT_EQ(show_run(settings, host), ShowResult::played);
  EXPECT_TRUE(plasma_ran);
  EXPECT_EQ(particles, 9);
  EXPECT_TRUE(plasma_state().source.empty());
  EXPECT_TRUE(logged("Removing 2D effects from memory."));
}
