// The control panel's command model: what the control window does with its buttons and
// menu commands, free of any toolkit.
//
// `PanelModel` owns the state the commands change (the playlist, the music path, the
// remembered folders, the enabled and checked states of every button and menu item) and
// changes the process's Options. Whatever needs a real window (file choosers, the folder
// browser, message boxes, the modal dialogs, the documentation viewer, playing the show)
// goes through `PanelUi`; the GTK panel is one implementation of it, tests use a fake one.
//
// The identifiers are the control window's: buttons 1002-1006, the playlist 1000, menu
// commands 40001-40045 (40100 is our own "Play playlist"). The menu is attached, so check
// marks are real: a toggle flips its item's mark and the option follows the new mark.
//
// Dialog logic (configuration, sound device, about) lives here too, as small models the
// UI fills its widgets from and reports button presses to. Single-threaded.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/message_box.h"
#include "app/options.h"
#include "app/sound_output.h"
#include "app/show.h"

namespace orvl {

// Control and command identifiers.
namespace panel_id {
constexpr int kExit = 1;  // the dialogs' "EXIT" button
constexpr int kPlaylist = 1000;
constexpr int kRemoveButton = 1002;
constexpr int kInsertButton = 1003;
constexpr int kRenderingButton = 1004;
constexpr int kCommonRenderingButton = 1005;
constexpr int kPlayPlaylistButton = 1006;
constexpr int kTrackBar = 1058;
constexpr int kDisplayModes = 1059;
constexpr int kPrecalcSteps = 1060;
constexpr int kLog = 1063;

constexpr int kCmdExit = 40001;
constexpr int kCmdConfiguration = 40002;
constexpr int kCmdGlBoard = 40003;
constexpr int kCmdAbout = 40004;
constexpr int kCmdRate22050 = 40024;
constexpr int kCmdRate44100 = 40025;
constexpr int kCmdBits8 = 40026;
constexpr int kCmdBits16 = 40027;
constexpr int kCmdMono = 40028;
constexpr int kCmdStereo = 40029;
constexpr int kCmdZBuffer = 40030;
constexpr int kCmdBilinear = 40031;
constexpr int kCmdFullScreen = 40032;
constexpr int kCmdSoundBoard = 40033;
constexpr int kCmdMusicSelect = 40035;
constexpr int kCmdMusicRemove = 40036;
constexpr int kCmdInsert = 40038;
constexpr int kCmdRemove = 40039;
constexpr int kCmdRemoveAll = 40040;
constexpr int kCmdBuildPrecalc = 40041;
constexpr int kCmdCommonRendering = 40042;
constexpr int kCmdHtmlDoc = 40043;
constexpr int kCmdMipmap = 40044;
constexpr int kCmdWaitVsync = 40045;
constexpr int kCmdRendering = 40019;
constexpr int kCmdPlayPlaylist = 40100;
constexpr int kCmdLightWaveLook = 40101;  // our own: the look of the playlist's scenes

// Configuration dialog.
constexpr int kCfgSplash = 1028;
constexpr int kCfgRoot = 1029;
constexpr int kCfgSearch = 1030;
constexpr int kCfgWarnResolution = 1031;
constexpr int kCfgWarnings = 1032;
// About dialog.
constexpr int kAboutBuild = 1040;
// Sound-device dialog.
constexpr int kSndDescription = 1042;
constexpr int kSndHardware = 1045;
constexpr int kSndCertified = 1046;
constexpr int kSndMono = 1047;
constexpr int kSndStereo = 1048;
constexpr int kSnd8Bits = 1049;
constexpr int kSnd16Bits = 1050;
constexpr int kSndMinRate = 1051;
constexpr int kSndMaxRate = 1052;
constexpr int kSndMemTotal = 1053;
constexpr int kSndMemFree = 1054;
}  // namespace panel_id

// The menu bar as a flat table in display order: `depth` 0 is a top-level menu, deeper
// entries belong to the last shallower submenu entry before them.
enum class MenuEntryKind : int { submenu = 0, command = 1, check = 2, separator = 3 };
struct MenuEntry {
  int depth;
  MenuEntryKind kind;
  const char* label;  // '&' marks the mnemonic
  int id;             // 0 for submenus and separators
};
const std::vector<MenuEntry>& panel_menu();

// The result buffers of the file dialogs: a path must fit with its terminating NUL.
constexpr size_t kInsertBufferChars = 260;
constexpr size_t kMusicBufferChars = 2048;
constexpr size_t kRootEditChars = 256;

struct FileFilter {
  std::string name;
  std::string patterns;  // ";"-separated, e.g. "*.MP3;*.WAV"
};

struct OpenFileRequest {
  std::string title;
  std::vector<FileFilter> filters;
  std::string default_extension;
  std::string initial_directory;
  bool multiple = false;
  size_t buffer_chars = 0;
};

struct ShowRequest {
  ShowMode mode = ShowMode::rendering;
  bool playlist = false;  // play the playlist's scenes instead of the fixed show
  std::vector<std::string> scenes;  // playlist: the paths that exist, in order
  std::string music;                // playlist: the chosen music ("" none)
};

// What the about dialog shows.
struct AboutText {
  std::string title = "About Orvalis v1.6";
  std::string product = "Orvalis";
  std::string version = "Version 1.6";
  std::string build_line;  // "Built on " + build date and time
};
AboutText panel_about_text();

// The configuration dialog's state; the UI shows it and reports "Search..." and "EXIT".
struct ConfigDialog {
  std::string title = "Orvalis v1.6 Configuration";
  bool show_splash = false;
  bool warn_resolution = false;
  bool show_warnings = false;
  std::string root;  // the edit's text
};

// The sound-device dialog's content.
struct SoundDeviceDialog {
  std::string title = "Sound Configuration";
  std::map<int, bool> checks;         // check box id -> ticked
  std::map<int, std::string> texts;   // edit id -> text (description, rates, memory)
};

class PanelUi {
 public:
  virtual ~PanelUi() = default;
  virtual void set_window_enabled(bool enabled) = 0;
  virtual void set_window_visible(bool visible) = 0;
  // Full paths of the chosen files (empty: cancelled).
  virtual std::vector<std::string> choose_files(const OpenFileRequest& request) = 0;
  // The chosen folder; false when cancelled.
  virtual bool choose_folder(const std::string& title, std::string* folder) = 0;
  virtual void message(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  // The selected playlist indices, in any order.
  virtual std::vector<int> playlist_selection() = 0;
  // The model changed what the window shows (playlist, enables, checks, log).
  virtual void refresh() = 0;
  // Modal dialogs: each returns when its "EXIT" closed it.
  virtual void run_about(const AboutText& about) = 0;
  virtual void run_configuration(ConfigDialog& dialog) = 0;
  virtual void run_sound_device(const SoundDeviceDialog& dialog) = 0;
  // Opens a document with the desktop's default handler; false when that failed.
  virtual bool open_document(const std::string& path) = 0;
  // Plays the show (the UI makes the window insensitive while it plays).
  virtual void play(const ShowRequest& request) = 0;
  // Gives the keyboard focus to the control window.
  virtual void focus_window() {}
};

class PanelModel {
 public:
  PanelModel(Options& options, PanelUi& ui, const SoundApi* sound = nullptr);

  // Handles a command or button identifier; unknown identifiers do nothing.
  void command(int id);

  bool enabled(int id) const;
  bool checked(int id) const;
  bool quit_requested() const { return quit_; }
  void request_quit() { quit_ = true; }

  const std::vector<std::string>& playlist() const { return playlist_; }
  // Replaces the playlist (start-up restore); enables follow its emptiness. Entries past
  // the capacity are dropped.
  void set_playlist(std::vector<std::string> entries);
  const std::string& music() const { return music_; }
  void set_music(const std::string& path);
  std::string& insert_directory() { return insert_dir_; }
  std::string& music_directory() { return music_dir_; }

  // The check marks follow the options (called once the options are final).
  void sync_checks_from_options();
  // The Sound menu's marks, as the show reads them.
  SoundFormatChoice sound_format() const;

  // Dialog logic. `config_search` runs the folder browser into `d.root`; `config_exit`
  // checks the path and, when it is accepted, stores it and the check boxes and returns
  // true (the dialog then closes).
  void config_search(ConfigDialog& d);
  bool config_exit(ConfigDialog& d);
  // Fills the sound-device dialog from the library; false (after its message) when the
  // dialog must not open.
  bool sound_device_fill(SoundDeviceDialog* d);

  // The documentation path: current directory + "/Orvl_16.htm".
  static std::string documentation_path();

 private:
  void set_enabled(int id, bool on) { enabled_[id] = on; }
  void set_checked(int id, bool on) { checked_[id] = on; }
  void enable_playlist_commands(bool on);
  void toggle(int id, bool& option);
  void radio(int chosen, int partner, bool& option, bool on);
  void insert();
  void remove();
  void select_music();
  void run_show(ShowMode mode);
  void play_playlist();
  void configuration();
  void sound_device();
  void documentation();

  Options& options_;
  PanelUi& ui_;
  const SoundApi* sound_;
  std::map<int, bool> enabled_;
  std::map<int, bool> checked_;
  std::vector<std::string> playlist_;
  std::string music_;
  std::string insert_dir_, music_dir_;
  bool quit_ = false;
};

// Makes `path` absolute against the current directory and drops "." components; an
// empty path stays empty.
std::string panel_absolute_path(const std::string& path);

}  // namespace orvl

namespace orvl {

// Plays `request` with the process's options and the control window's selections (display
// mode, precalculation step, track bar). `host` brings the UI's own members (loading and
// precalculation dialogs, message boxes, per-frame pumping); the music and the control
// window's members are filled in here. `format` is the Sound menu's marks; `windowed`
// keeps the show out of full screen whatever the option says.
ShowResult panel_run_show(const ShowRequest& request, const SoundFormatChoice& format, bool windowed,
                          ShowHost host);

}  // namespace orvl

namespace orvl {

// What the panel keeps in Orvl.ini beside the playlist: the options and the music, in a
// section "ORVL OPTIONS" of its own. `present` is false when the file had no such section.
struct PanelSettings {
  bool present = false;
  Options options;
  std::string music, scene_directory, music_directory;
};

// Reads the panel's section from the file at `path` (absent file or section: not present).
// Values not given keep what `defaults` holds.
PanelSettings panel_settings_read(const std::string& path, const Options& defaults);

// The playlist as the panel shows it from a restored one: each "Scene" key's value (a path,
// made absolute against the current directory), or the key name when it has no value.
std::vector<std::string> panel_playlist_paths(const PlaylistRestore& restore);

// The configuration text the panel writes: the playlist section ("SceneCount" and the
// "Scene<i>" paths) and the panel's section. Entries that a profile file cannot hold (a
// line break in the path) are left out.
std::string panel_config_text(const std::vector<std::string>& playlist, const Options& options,
                              const std::string& music, const std::string& scene_directory,
                              const std::string& music_directory);

// Where the panel writes Orvl.ini: the file the start-up pass read, else the per-user
// configuration folder ($XDG_CONFIG_HOME/orvl, else ~/.config/orvl), which the start-up
// pass reads next when the current directory holds none. "" when neither is known.
std::string panel_config_write_path(const std::string& read_path);

// Writes `text` to `path` in one piece (the file is whole or untouched), creating its folder.
bool panel_config_write(const std::string& path, const std::string& text, std::string* error);

}  // namespace orvl
