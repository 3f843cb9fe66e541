// The control panel's commands and dialogs, driven through a fake UI.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "app/panel_model.h"
#include "platform/log.h"

namespace fs = std::filesystem;
using namespace orvl;
using namespace orvl::panel_id;

namespace {

struct FakeUi : PanelUi {
  std::vector<OpenFileRequest> requests;
  std::vector<std::vector<std::string>> answers;  // one per choose_files call
  std::vector<MessageBoxRequest> messages;
  std::vector<int> selection;
  std::vector<ShowRequest> shows;
  std::vector<std::string> events;
  std::vector<std::string> opened;
  bool open_ok = true;
  std::string folder;
  std::function<void(ConfigDialog&)> config_script;
  std::vector<SoundDeviceDialog> sound_dialogs;
  std::vector<AboutText> abouts;

  void set_window_enabled(bool on) override { events.push_back(on ? "enable" : "disable"); }
  void set_window_visible(bool on) override { events.push_back(on ? "show" : "hide"); }
  std::vector<std::string> choose_files(const OpenFileRequest& r) override {
    requests.push_back(r);
    if (answers.empty()) return {};
    auto a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  bool choose_folder(const std::string& title, std::string* out) override {
    events.push_back("folder:" + title);
    if (folder.empty()) return false;
    *out = folder;
    return true;
  }
  void message(const std::string& text, const std::string& title, MessageIcon icon) override {
    messages.push_back({text, title, icon});
  }
  std::vector<int> playlist_selection() override { return selection; }
  void refresh() override {}
  void run_about(const AboutText& a) override { abouts.push_back(a); }
  void run_configuration(ConfigDialog& d) override {
    events.push_back("config");
    if (config_script) config_script(d);
  }
  void run_sound_device(const SoundDeviceDialog& d) override { sound_dialogs.push_back(d); }
  bool open_document(const std::string& path) override {
    opened.push_back(path);
    return open_ok;
  }
  void play(const ShowRequest& r) override {
    shows.push_back(r);
    events.push_back("play");
  }
};

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_echo(false);
    root = fs::temp_directory_path() / ("orvl_panel_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "scenes");
    old_cwd = fs::current_path();
    fs::current_path(root);
    options_set_startup_flags(opt);
    opt.z_buffer = false;
    opt.full_screen = true;
    opt.rate_44100 = opt.bits_16 = opt.stereo = true;
  }
  void TearDown() override {
    fs::current_path(old_cwd);
    fs::remove_all(root);
  }
  std::string scene(const std::string& name) {
    fs::path p = root / "scenes" / name;
    std::ofstream(p) << "LWSC\n1\n";
    return p.string();
  }
  Options opt;
  FakeUi ui;
  fs::path root, old_cwd;
};

TEST_F(PanelTest, PlaylistInsertionStopsAtCapacityAndRemovalFollowsSelection) {
  PanelModel m(opt, ui);
  EXPECT_FALSE(m.enabled(kCmdRendering));
  EXPECT_FALSE(m.enabled(kRemoveButton));
  EXPECT_TRUE(m.enabled(kInsertButton));

  std::vector<std::string> fourteen;
  for (int i = 0; i < 14; ++i) fourteen.push_back("old" + std::to_string(i) + ".lws");
  m.set_playlist(fourteen);
  EXPECT_TRUE(m.enabled(kCmdRendering));

  // Three files into fourteen: two go in, the third meets the limit and nothing after it.
  ui.answers = {{scene("a.lws"), scene("b.lws"), scene("c.lws")}};
  m.command(kInsertButton);
  ASSERT_EQ(ui.requests.size(), 1u);
  const OpenFileRequest& r = ui.requests[0];
  EXPECT_EQ(r.title, "Insert scene(s) into playlist");
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].name, "LightWave 5.X Scenes (*.LWS)");
  EXPECT_EQ(r.filters[0].patterns, "*.LWS");
  EXPECT_TRUE(r.multiple);
  EXPECT_EQ(r.buffer_chars, 260u);
  ASSERT_EQ(m.playlist().size(), 16u);
  EXPECT_EQ(m.playlist()[15], (root / "scenes" / "b.lws").string());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "You can't load more than 16 scenes !");
  EXPECT_EQ(ui.messages[0].title, "Scene selection failure");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::error);
  EXPECT_EQ(ui.events, (std::vector<std::string>{"disable", "enable"}));

  // Nothing selected: only the last entry goes.
  m.command(kCmdRemove);
  ASSERT_EQ(m.playlist().size(), 15u);
  EXPECT_EQ(m.playlist()[14], (root / "scenes" / "a.lws").string());
  // A selection goes from the highest index down, so every selected entry leaves.
  ui.selection = {0, 14, 2};
  m.command(kRemoveButton);
  ASSERT_EQ(m.playlist().size(), 12u);
  EXPECT_EQ(m.playlist()[0], "old1.lws");
  EXPECT_EQ(m.playlist()[1], "old3.lws");
  EXPECT_EQ(m.playlist()[11], "old13.lws");
  ui.selection.clear();
  m.command(kCmdRemoveAll);
  EXPECT_TRUE(m.playlist().empty());
  for (int id : {kCmdRemove, kCmdRemoveAll, kCmdRendering, kCmdCommonRendering, kCmdBuildPrecalc,
                 kRenderingButton, kCommonRenderingButton, kRemoveButton})
    EXPECT_FALSE(m.enabled(id)) << id;

  // Relative choices are stored absolute, and their folder is where the next choice starts.
  fs::current_path(root / "scenes");
  ui.answers = {{"a.lws"}};
  m.command(kCmdInsert);
  ASSERT_EQ(m.playlist().size(), 1u);
  EXPECT_EQ(m.playlist()[0], (root / "scenes" / "a.lws").string());
  for (int id : {kCmdRemove, kCmdRemoveAll, kCmdRendering, kCmdCommonRendering, kCmdBuildPrecalc,
                 kRenderingButton, kCommonRenderingButton, kRemoveButton})
    EXPECT_TRUE(m.enabled(id)) << id;
  ui.answers = {};
  m.command(kCmdInsert);
  EXPECT_EQ(ui.requests.back().initial_directory, (root / "scenes").string() + "/");

  // Removing the last entry of a one-entry list disables the commands again.
  m.command(kCmdRemove);
  EXPECT_TRUE(m.playlist().empty());
  EXPECT_FALSE(m.enabled(kCmdRendering));
  EXPECT_FALSE(m.enabled(kRemoveButton));

  // A path that does not fit the 260-character result is refused aloud, not cut short.
  const std::string long_path = "/" + std::string(300, 'x') + ".lws";
  ui.messages.clear();
  ui.answers = {{long_path, scene("ok.lws")}};
  m.command(kCmdInsert);
  ASSERT_EQ(m.playlist().size(), 1u);
  EXPECT_EQ(m.playlist()[0], (root / "scenes" / "ok.lws").string());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find(long_path), std::string::npos);
  // Only the long path chosen: nothing is added, nothing is enabled.
  m.command(kCmdRemoveAll);
  ui.answers = {{long_path}};
  m.command(kCmdInsert);
  EXPECT_TRUE(m.playlist().empty());
  EXPECT_FALSE(m.enabled(kCmdRemove));
}

TEST_F(PanelTest, TogglesFlipTheirMarkAndRadioPairsStayExclusive) {
  PanelModel m(opt, ui);
  // The marks start from the options.
  EXPECT_FALSE(m.checked(kCmdZBuffer));
  EXPECT_TRUE(m.checked(kCmdFullScreen));
  m.command(kCmdZBuffer);  // unchecked: the option goes on and the item is checked
  EXPECT_TRUE(opt.z_buffer);
  EXPECT_TRUE(m.checked(kCmdZBuffer));
  m.command(kCmdZBuffer);
  EXPECT_FALSE(opt.z_buffer);
  EXPECT_FALSE(m.checked(kCmdZBuffer));
  m.command(kCmdFullScreen);
  EXPECT_FALSE(opt.full_screen);
  m.command(kCmdWaitVsync);
  EXPECT_TRUE(opt.wait_vsync);

  m.command(kCmdRate22050);
  EXPECT_FALSE(opt.rate_44100);
  EXPECT_TRUE(m.checked(kCmdRate22050));
  EXPECT_FALSE(m.checked(kCmdRate44100));
  m.command(kCmdBits8);
  m.command(kCmdMono);
  SoundFormatChoice f = m.sound_format();
  EXPECT_FALSE(f.rate_44100);
  EXPECT_TRUE(f.bits_8);
  EXPECT_TRUE(f.mono);
  m.command(kCmdStereo);
  m.command(kCmdRate44100);
  m.command(kCmdBits16);
  EXPECT_TRUE(opt.stereo && opt.rate_44100 && opt.bits_16);
  EXPECT_FALSE(m.checked(kCmdMono) || m.checked(kCmdRate22050) || m.checked(kCmdBits8));
}

TEST_F(PanelTest, MusicSelectionKeepsOrClearsThePath) {
  PanelModel m(opt, ui);
  EXPECT_FALSE(m.enabled(kCmdMusicRemove));
  m.command(kCmdMusicSelect);  // cancelled with nothing set: still nothing
  EXPECT_EQ(m.music(), "");
  ASSERT_EQ(ui.requests.size(), 1u);
  const OpenFileRequest& r = ui.requests[0];
  EXPECT_EQ(r.title, "Select a BASS 0.8 supported Audio File");
  EXPECT_EQ(r.buffer_chars, 2048u);
  EXPECT_FALSE(r.multiple);
  ASSERT_EQ(r.filters.size(), 8u);
  EXPECT_EQ(r.filters[0].name, "All BASS 0.8 supported Audio Files");
  EXPECT_EQ(r.filters[0].patterns, "*.MP3;*.WAV;*.MO3;*.MOD;*.XM;*.IT");
  EXPECT_EQ(r.filters[7].name, "Screamtracker 3 Modules (*.S3M)");
  EXPECT_FALSE(m.enabled(kCmdMusicRemove));

  const std::string tune = (root / "scenes" / "tune.xm").string();
  ui.answers = {{tune}};
  m.command(kCmdMusicSelect);
  EXPECT_EQ(m.music(), tune);
  EXPECT_TRUE(m.enabled(kCmdMusicRemove));
  m.command(kCmdMusicSelect);  // cancelled: the chosen music stays, the folder is remembered
  EXPECT_EQ(m.music(), tune);
  EXPECT_EQ(ui.requests.back().initial_directory, (root / "scenes").string() + "/");

  ui.answers = {{"/" + std::string(2100, 'm') + ".mp3"}};
  m.command(kCmdMusicSelect);
  EXPECT_EQ(m.music(), tune);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].title, "Music selection failure");

  m.command(kCmdMusicRemove);
  EXPECT_EQ(m.music(), "");
  EXPECT_FALSE(m.enabled(kCmdMusicRemove));
}

TEST_F(PanelTest, ConfigurationDialogChecksThePath) {
  PanelModel m(opt, ui);
  fs::create_directories(root / "lw");
  std::vector<bool> results;
  ui.folder = (root / "lw").string();
  ui.config_script = [&](ConfigDialog& d) {
    EXPECT_EQ(d.title, "Orvalis v1.6 Configuration");
    EXPECT_TRUE(d.show_splash);
    d.root = "";
    results.push_back(m.config_exit(d));
    d.root = (root / "nowhere").string();
    results.push_back(m.config_exit(d));
    d.root = std::string(300, 'p');
    results.push_back(m.config_exit(d));
    m.config_search(d);
    EXPECT_EQ(d.root, (root / "lw").string() + "/");
    d.show_splash = false;
    d.show_warnings = false;
    results.push_back(m.config_exit(d));
  };
  m.command(kCmdConfiguration);
  EXPECT_EQ(results, (std::vector<bool>{false, false, false, true}));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0].text, "The LightWave path information is empty !");
  EXPECT_EQ(ui.messages[0].title, "Information needed");
  EXPECT_EQ(ui.messages[1].text, "The given LightWave path information is invalid !");
  EXPECT_EQ(ui.messages[1].title, "Invalid information");
  EXPECT_EQ(ui.messages[2].text, "The LightWave path information is too long !");
  EXPECT_EQ(ui.events[0], "disable");
  EXPECT_EQ(ui.events[2], "folder:Select your LightWave 5.X root directory");
  EXPECT_EQ(ui.events.back(), "enable");
  // Accepted: stored, the check boxes taken, and the current directory moved there.
  EXPECT_EQ(opt.lightwave_root, (root / "lw").string() + "/");
  EXPECT_FALSE(opt.show_splash);
  EXPECT_FALSE(opt.show_warnings);
  EXPECT_TRUE(opt.warn_resolution_mismatch);
  EXPECT_EQ(fs::current_path(), fs::canonical(root / "lw"));
}

// A sound library table whose answers the test sets.
struct FakeSound {
  static inline uint32_t version = 0x80000;
  static inline int init_result = 1;
  static inline uint32_t flags = 0;
  static inline int frees = 0;
  static inline uint32_t info_size = 0;
  static int init(int, uint32_t, uint32_t, void*) { return init_result; }
  static int describe(int, const char** d) {
    *d = "Test device";
    return 1;
  }
  static int info(OrvlSoundInfo* i) {
    info_size = i->size;
    i->flags = flags;
    i->hw_memory_total = 4096;
    i->hw_memory_free = 1024;
    i->min_rate = 4000;
    i->max_rate = 96000;
    return 1;
  }
  static uint32_t get_version() { return version; }
  static int free_device() {
    ++frees;
    return 1;
  }
  static SoundApi table() {
    SoundApi a;
    a.init = init;
    a.get_device_description = describe;
    a.get_info = info;
    a.get_version = get_version;
    a.free = free_device;
    return a;
  }
};

TEST_F(PanelTest, SoundDeviceDialogShowsTheCapabilities) {
  SoundApi api = FakeSound::table();
  PanelModel m(opt, ui, &api);
  FakeSound::flags = 0x40 | 0x100 | 0x800;  // certified, mono, 16-bit; 0x20 clear: hardware
  m.command(kCmdSoundBoard);
  ASSERT_EQ(ui.sound_dialogs.size(), 1u);
  const SoundDeviceDialog& d = ui.sound_dialogs[0];
  EXPECT_EQ(d.title, "Sound Configuration");
  EXPECT_EQ(FakeSound::info_size, 44u);
  EXPECT_EQ(FakeSound::frees, 1);
  EXPECT_EQ(d.texts.at(kSndDescription), "Test device");
  EXPECT_TRUE(d.checks.at(kSndCertified));
  EXPECT_TRUE(d.checks.at(kSndHardware));
  EXPECT_TRUE(d.checks.at(kSndMono));
  EXPECT_FALSE(d.checks.at(kSndStereo));
  EXPECT_FALSE(d.checks.at(kSnd8Bits));
  EXPECT_TRUE(d.checks.at(kSnd16Bits));
  EXPECT_EQ(d.texts.at(kSndMemTotal), "4096");
  EXPECT_EQ(d.texts.at(kSndMemFree), "1024");
  EXPECT_EQ(d.texts.at(kSndMinRate), "4000");
  EXPECT_EQ(d.texts.at(kSndMaxRate), "96000");

  FakeSound::flags = 0x20 | 0x200 | 0x400;  // emulated: no hardware support
  m.command(kCmdSoundBoard);
  ASSERT_EQ(ui.sound_dialogs.size(), 2u);
  EXPECT_FALSE(ui.sound_dialogs[1].checks.at(kSndHardware));
  EXPECT_FALSE(ui.sound_dialogs[1].checks.at(kSndCertified));
  EXPECT_TRUE(ui.sound_dialogs[1].checks.at(kSndStereo));
  EXPECT_TRUE(ui.sound_dialogs[1].checks.at(kSnd8Bits));

  FakeSound::init_result = 0;
  m.command(kCmdSoundBoard);
  FakeSound::init_result = 1;
  FakeSound::version = 0x70000;
  m.command(kCmdSoundBoard);
  FakeSound::version = 0x80000;
  EXPECT_EQ(ui.sound_dialogs.size(), 2u);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, "Digital sound system initialization failed.");
  EXPECT_EQ(ui.messages[0].title, "BASS 0.8 failure");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::warning);
  EXPECT_EQ(ui.messages[1].text, "BASS 0.8 was not loaded");
  EXPECT_EQ(ui.messages[1].title, "Incorrect internal BASS.DLL");
  EXPECT_EQ(FakeSound::frees, 2);  // a failed init is not freed
}

TEST_F(PanelTest, AboutDocumentationAndShows) {
  PanelModel m(opt, ui);
  m.command(kCmdAbout);
  ASSERT_EQ(ui.abouts.size(), 1u);
  EXPECT_EQ(ui.abouts[0].title, "About Orvalis v1.6");
  EXPECT_EQ(ui.abouts[0].version, "Version 1.6");
  EXPECT_TRUE(std::regex_match(ui.abouts[0].build_line,
                               std::regex("Built on [A-Z][a-z]{2} [ 0-9]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d")))
      << ui.abouts[0].build_line;

  // No documentation in the current directory: the failure names the path.
  m.command(kCmdHtmlDoc);
  const std::string doc = (fs::current_path() / "Orvl_16.htm").string();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "A problem has occured when trying to open\n\n" + doc);
  EXPECT_EQ(ui.messages[0].title, "File not found");
  EXPECT_TRUE(ui.opened.empty());
  std::ofstream(doc) << "<html></html>";
  ui.open_ok = false;  // the desktop has no handler
  m.command(kCmdHtmlDoc);
  EXPECT_EQ(ui.messages.size(), 2u);
  ui.open_ok = true;
  m.command(kCmdHtmlDoc);
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.opened, (std::vector<std::string>{doc, doc}));

  // The three modes of the fixed show, and the window's visibility around them.
  ui.events.clear();
  m.command(kCommonRenderingButton);
  EXPECT_TRUE(opt.common_rendering);
  EXPECT_FALSE(opt.precalc_build);
  m.command(kCmdBuildPrecalc);
  EXPECT_TRUE(opt.common_rendering && opt.precalc_build);
  m.command(kRenderingButton);
  EXPECT_FALSE(opt.common_rendering || opt.precalc_build);
  EXPECT_EQ(ui.events, (std::vector<std::string>{"hide", "play", "show", "play", "play", "show"}));
  ASSERT_EQ(ui.shows.size(), 3u);
  EXPECT_EQ(ui.shows[0].mode, ShowMode::common_rendering);
  EXPECT_EQ(ui.shows[1].mode, ShowMode::build_precalc);
  EXPECT_FALSE(ui.shows[2].playlist);

  // The playlist plays what exists; a missing scene stays listed and is named once.
  const std::string here = scene("here.lws");
  const std::string gone = (root / "scenes" / "gone.lws").string();
  m.set_playlist({gone, here});
  ui.answers = {{(root / "tune.mp3").string()}};
  m.command(kCmdMusicSelect);
  m.command(kPlayPlaylistButton);
  ASSERT_EQ(ui.shows.size(), 4u);
  EXPECT_TRUE(ui.shows[3].playlist);
  EXPECT_EQ(ui.shows[3].scenes, (std::vector<std::string>{here}));
  EXPECT_EQ(ui.shows[3].music, (root / "tune.mp3").string());
  EXPECT_EQ(m.playlist().size(), 2u);
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_NE(ui.messages[2].text.find(gone), std::string::npos);

  m.command(kCmdExit);
  EXPECT_TRUE(m.quit_requested());
}

}  // namespace

namespace {

TEST_F(PanelTest, LookItemIsSavedAsLookInTheOrvlSectionOnlyOnceChosen) {
  PanelModel m(opt, ui);
  m.sync_checks_from_options();
  // Never chosen: unchecked, and nothing written, so each scene keeps its own default.
  EXPECT_FALSE(m.checked(kCmdLightWaveLook));
  EXPECT_EQ(panel_config_text({}, opt, "", "", "").find("Look="), std::string::npos);
  const std::string path = (root / "look.ini").string();
  std::string error;
  for (const Look want : {Look::lightwave, Look::engine}) {
    m.command(kCmdLightWaveLook);
    EXPECT_EQ(m.checked(kCmdLightWaveLook), want == Look::lightwave);
    EXPECT_TRUE(opt.look_set);
    EXPECT_EQ(opt.look, want);
    // Written where `orvl render` and `orvl play` read it, beside an exact draw order
    // that a hand-edited file had, and read back into a fresh set of options.
    opt.exact_draw_order = true;
    ASSERT_TRUE(panel_config_write(path, panel_config_text({}, opt, "", "", ""), &error)) << error;
    Options read;
    options_read_drawing(path, read);
    EXPECT_TRUE(read.look_set);
    EXPECT_EQ(read.look, want);
    EXPECT_TRUE(read.exact_draw_order);
    // And the mark follows the file on the next start.
    PanelModel next(read, ui);
    next.sync_checks_from_options();
    EXPECT_EQ(next.checked(kCmdLightWaveLook), want == Look::lightwave);
  }
}

TEST_F(PanelTest, ConfigurationFileKeepsPathsAndOptionsAcrossRuns) {
  Options saved = opt;
  saved.z_buffer = true;
  saved.wait_vsync = true;
  saved.stereo = false;
  saved.lightwave_root = "/lw/root/";
  const std::string a = scene("a b.lws");  // a space, kept as it is
  const std::string text = panel_config_text({a, "/x/y\nz.lws", "/c.lws"}, saved, "/m/tune.xm", "/s/", "/m/");
  // A line break cannot live in a profile value: that entry is left out, not split.
  EXPECT_EQ(text.find("z.lws"), std::string::npos);

  const std::string path = (root / "cfg" / "Orvl.ini").string();
  std::string error;
  ASSERT_TRUE(panel_config_write(path, text, &error)) << error;
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  const PlaylistRestore restore = options_read_playlist(path);
  EXPECT_EQ(restore.scene_count, 2);
  EXPECT_EQ(panel_playlist_paths(restore), (std::vector<std::string>{a, "/c.lws"}));

  Options defaults;
  const PanelSettings s = panel_settings_read(path, defaults);
  ASSERT_TRUE(s.present);
  EXPECT_TRUE(s.options.z_buffer && s.options.wait_vsync && s.options.show_splash);
  EXPECT_FALSE(s.options.stereo);
  EXPECT_EQ(s.options.lightwave_root, "/lw/root/");
  EXPECT_EQ(s.music, "/m/tune.xm");
  EXPECT_EQ(s.scene_directory, "/s/");
  EXPECT_FALSE(panel_settings_read((root / "none.ini").string(), defaults).present);

  // A hand-written relative Scene value is taken against the current directory; a key
  // without a value shows its own name.
  std::ofstream(root / "hand.ini") << "[LWS PLAYLIST]\nSceneCount=2\nScene0=scenes/a b.lws\n";
  EXPECT_EQ(panel_playlist_paths(options_read_playlist((root / "hand.ini").string())),
            (std::vector<std::string>{a, "Scene1"}));

  // Written back where it was read, else in the per-user folder.
  EXPECT_EQ(panel_config_write_path(path), path);
  const char* old_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string kept = old_xdg ? old_xdg : "";
  ::setenv("XDG_CONFIG_HOME", (root / "xdg").c_str(), 1);
  EXPECT_EQ(panel_config_write_path(""), (root / "xdg" / "orvl" / "Orvl.ini").string());
  if (old_xdg) ::setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
  // A folder in the way: the write fails and says so; the old file is untouched.
  fs::create_directories(root / "cfg" / "Blocked.ini");
  EXPECT_FALSE(panel_config_write((root / "cfg" / "Blocked.ini").string(), text, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
