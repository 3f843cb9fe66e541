#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/control_window.h"
#include "app/splash.h"
#include "platform/log.h"

using namespace orvl;
using ::testing::ElementsAre;

TEST(ControlWindow, LogLinesAreSelectedAndEmptyOnesBecomeABlank) {
  log_set_echo(false);
  control_window_create();
  EXPECT_TRUE(control_window().exists);
  EXPECT_FALSE(control_window().visible);
  control_log_clear();
  control_log_append("first");
  control_log_append("");
  EXPECT_THAT(log_lines(), ElementsAre("first", " "));
  EXPECT_EQ(control_window().log_selection, 1);
  control_log_select_first();
  EXPECT_EQ(control_window().log_selection, 0);
  EXPECT_FALSE(control_menu_checked(40001));  // the menu is never attached
  control_window_destroy();
  log_set_echo(true);
}

TEST(ControlWindow, ModeListSelectsTheLast640x480At16Or32Bits) {
  control_window_create();
  DisplayModeList modes;
  const DisplayMode list[] = {{800, 600, 16}, {640, 480, 16}, {640, 480, 24}, {640, 480, 32}, {1024, 768, 32}};
  for (const DisplayMode& m : list) modes.modes[modes.count++] = m;
  control_set_modes(modes);
  const ControlWindow& w = control_window();
  EXPECT_THAT(w.mode_lines,
              ElementsAre("800x600 (16)", "640x480 (16)", "640x480 (24)", "640x480 (32)", "1024x768 (32)"));
  EXPECT_EQ(w.mode_selection, 3);

  DisplayModeList none;
  none.modes[none.count++] = DisplayMode{800, 600, 32};
  control_set_modes(none);
  EXPECT_EQ(control_window().mode_selection, -1);  // the show then uses the desktop's depth

  // ... unless the list marks the desktop's own mode: that one is shown chosen.
  DisplayModeList desk;
  desk.modes[desk.count++] = DisplayMode{1920, 1080, 24};
  desk.modes[desk.count++] = DisplayMode{1280, 1024, 24};
  desk.desktop = 1;
  control_set_modes(desk);
  EXPECT_EQ(control_window().mode_selection, 1);
  desk.modes[desk.count++] = DisplayMode{640, 480, 32};
  control_set_modes(desk);
  EXPECT_EQ(control_window().mode_selection, 2);  // 640 x 480 still comes first
}

TEST(ControlWindow, PrecalculationStepsSelectTheSecondLine) {
  control_window_create();
  control_fill_lists();
  const ControlWindow& w = control_window();
  ASSERT_EQ(w.precalc_lines.size(), 8u);
  EXPECT_EQ(w.precalc_lines[0], "preca. step 1");
  EXPECT_EQ(w.precalc_lines[7], "preca. step 8");
  EXPECT_EQ(w.precalc_selection, 1);
}

TEST(Splash, PictureIsTheSplashSizeAndNotBlank) {
  auto px = splash_picture();
  ASSERT_EQ(px.size(), size_t(kSplashWidth) * kSplashHeight);
  EXPECT_NE(px.front(), px[px.size() / 2]);
  EXPECT_EQ(px, splash_picture());
}

// The whole program, headless, in a directory without any show files: every scene fails to
// load and keeps its slot, the music is missing, and the run still ends normally.
TEST(Program, HeadlessRunWithoutShowFilesEndsNormally) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("orvl_program_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string cmd = "cd '" + dir.string() + "' && DISPLAY= WAYLAND_DISPLAY= SDL_AUDIODRIVER=dummy " +
                          ORVL_BINARY + " --headless --out pictures --fps 10 --every 100 > log.txt 2> err.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(dir / "log.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 30u);
  EXPECT_EQ(lines.front(), "ORVL states :");
  EXPECT_EQ(lines.back(), "Removing scene\\8vex.lws from memory (scene index : 7).");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Removing OpenGL internal library from memory."), lines.end());
  // 151 s at 10 frames per second, every 100th frame kept.
  EXPECT_TRUE(fs::exists(dir / "pictures" / "frame_000000.png"));
  EXPECT_TRUE(fs::exists(dir / "pictures" / "frame_001500.png"));
  fs::remove_all(dir);
}
