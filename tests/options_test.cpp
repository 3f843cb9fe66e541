// Option defaults and the playlist restored from Orvl.ini.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/log.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

// Runs a test in its own empty current directory with a controlled XDG_CONFIG_HOME and HOME.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_echo(false);
    log_clear();
    root = fs::temp_directory_path() / ("orvl_options_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "cwd");
    old_cwd = fs::current_path();
    fs::current_path(root / "cwd");
    save_env("XDG_CONFIG_HOME", xdg);
    save_env("HOME", home);
    ::setenv("XDG_CONFIG_HOME", (root / "xdg").c_str(), 1);
    ::setenv("HOME", (root / "home").c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(old_cwd);
    restore_env("XDG_CONFIG_HOME", xdg);
    restore_env("HOME", home);
    fs::remove_all(root);
  }

  static void save_env(const char* name, std::optional<std::string>& slot) {
    if (const char* v = std::getenv(name)) slot = v;
  }
  static void restore_env(const char* name, const std::optional<std::string>& slot) {
    if (slot) ::setenv(name, slot->c_str(), 1);
    else ::unsetenv(name);
  }

  std::string write(const fs::path& path, const std::string& text) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  static std::vector<std::string> lines(const PlaylistRestore& r) {
    std::vector<std::string> v;
    for (const auto& e : r.entries) v.push_back(e.line);
    return v;
  }

  fs::path root, old_cwd;
  std::optional<std::string> xdg, home;
};

TEST(OptionDefaults, StartUpLeavesTheDocumentedValuesInForce) {
  Options o;
  o.wait_vsync = true;  // whatever was there before, the defaults pass switches it off
  options_set_startup_flags(o);
  (void)options_apply_defaults(o);
  EXPECT_TRUE(o.show_warnings);
  EXPECT_TRUE(o.warn_resolution_mismatch);
  EXPECT_TRUE(o.show_splash);
  EXPECT_TRUE(o.full_screen);
  EXPECT_TRUE(o.z_buffer);
  EXPECT_TRUE(o.bilinear);
  EXPECT_TRUE(o.mipmap);
  EXPECT_FALSE(o.wait_vsync);
  EXPECT_TRUE(o.rate_44100);
  EXPECT_TRUE(o.bits_16);
  EXPECT_TRUE(o.stereo);
  EXPECT_EQ(o.lightwave_root, "");
  EXPECT_FALSE(o.common_rendering);
  EXPECT_FALSE(o.precalc_build);
}

TEST_F(ConfigTest, SceneCountListsTheSceneKeysInOrder) {
  write("Orvl.ini",
        "[LWS PLAYLIST]\nSceneCount=3\nScene0=scene\\a.lws\nScene2=scene\\c.lws\nScene1=scene\\b.lws\n");
  Options o;
  PlaylistRestore r = options_apply_defaults(o);
  EXPECT_EQ(lines(r), (std::vector<std::string>{"Scene0", "Scene1", "Scene2"}));
  EXPECT_EQ(r.entries[1].value, "scene\\b.lws");
  EXPECT_TRUE(r.buttons_enabled);
  EXPECT_EQ(fs::path(r.config_path).filename(), "Orvl.ini");
}

TEST_F(ConfigTest, ExactDrawOrderIsReadFromItsOwnSection) {
  write("Orvl.ini", "[LWS PLAYLIST]\nSceneCount=1\nExactDrawOrder=1\n[orvl]\nexactdraworder=2\n");
  Options o;
  PlaylistRestore r = options_apply_defaults(o);
  EXPECT_TRUE(o.exact_draw_order);
  EXPECT_EQ(lines(r), (std::vector<std::string>{"Scene0"}));
  std::string off = write(root / "off.ini", "[LWS PLAYLIST]\nExactDrawOrder=1\n[Orvl]\nExactDrawOrder=0\n");
  options_read_drawing(off, o);
  EXPECT_FALSE(o.exact_draw_order);
}

TEST_F(ConfigTest, LookIsReadFromTheOrvlSectionAndAnUnknownOneIsIgnored) {
  Options o;
  options_read_drawing(write(root / "lw.ini", "[LWS PLAYLIST]\nLook=engine\n[Orvl]\nlook=LightWave\n"), o);
  EXPECT_TRUE(o.look_set);
  EXPECT_EQ(o.look, Look::lightwave);
  Options bad;
  options_read_drawing(write(root / "bad.ini", "[Orvl]\nLook=blender\n"), bad);
  EXPECT_FALSE(bad.look_set);
}

TEST_F(ConfigTest, CountsThatAddNothingDisableTheButtons) {
  for (const char* count : {"0", "-2", "three", ""}) {
    SCOPED_TRACE(count);
    std::string path = write(root / "cwd" / "Orvl.ini", std::string("[LWS PLAYLIST]\nSceneCount=") +
                                                           count + "\nScene0=x\n");
    PlaylistRestore r = options_read_playlist(path);
    EXPECT_TRUE(r.entries.empty());
    EXPECT_FALSE(r.buttons_enabled);
  }
}

TEST_F(ConfigTest, MissingFileSectionOrKeyGivesAnEmptyPlaylistQuietly) {
  PlaylistRestore none = options_read_playlist(options_config_path());
  EXPECT_EQ(none.config_path, "");
  EXPECT_TRUE(none.entries.empty());
  EXPECT_FALSE(none.buttons_enabled);

  std::string other = write(root / "other.ini", "[PLAYLIST]\nSceneCount=3\n");
  EXPECT_TRUE(options_read_playlist(other).entries.empty());
  std::string no_key = write(root / "nokey.ini", "[LWS PLAYLIST]\nScene0=a\n");
  EXPECT_TRUE(options_read_playlist(no_key).entries.empty());
  EXPECT_TRUE(log_lines().empty());
}

TEST_F(ConfigTest, ProfileRulesForNamesNumbersAndRepeatedKeys) {
  std::string path = write(root / "p.ini",
                           "; comment\n[other]\nSceneCount=9\n[lws playlist]\nscenecount = 2abc\n"
                           "SCENE1=b\nSceneCount=5\nScene1=ignored\n");
  PlaylistRestore r = options_read_playlist(path);
  EXPECT_EQ(r.scene_count, 2);
  EXPECT_EQ(lines(r), (std::vector<std::string>{"Scene0", "Scene1"}));
  EXPECT_EQ(r.entries[0].value, "");
  EXPECT_EQ(r.entries[1].value, "b");
}

TEST_F(ConfigTest, CountBeyondThePlaylistCapacityIsCappedAndLogged) {
  std::string path = write(root / "big.ini", "[LWS PLAYLIST]\nSceneCount=2000000000\n");
  PlaylistRestore r = options_read_playlist(path);
  EXPECT_EQ(r.entries.size(), size_t(kPlaylistCapacity));
  EXPECT_EQ(r.entries.back().line, "Scene15");
  ASSERT_EQ(log_lines().size(), 1u);
  EXPECT_NE(log_lines()[0].find("2000000000"), std::string::npos);
}

TEST_F(ConfigTest, CurrentDirectoryThenXdgConfigHome) {
  EXPECT_EQ(options_config_path(), "");
  std::string home_file = write(root / "home" / ".config" / "orvl" / "Orvl.ini", "");
  EXPECT_EQ(options_config_path(), "") << "XDG_CONFIG_HOME is set: ~/.config is not its stand-in";
  std::string xdg_file = write(root / "xdg" / "orvl" / "Orvl.ini", "");
  EXPECT_EQ(options_config_path(), xdg_file);
  write(root / "cwd" / "ORVL.INI", "");  // copied from Windows in capitals: still found
  EXPECT_EQ(fs::path(options_config_path()).filename(), "ORVL.INI");

  fs::remove(root / "cwd" / "ORVL.INI");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(options_config_path(), home_file);
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
  EXPECT_EQ(options_config_path(), home_file);
}

}  // namespace
