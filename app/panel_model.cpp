#include "app/panel_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/file.h"
#include "render/gl_caps.h"

namespace orvl {
namespace {

using namespace panel_id;

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string current_directory() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  return ec ? std::string() : dir;
}

std::string too_long_text(const std::string& path, size_t limit) {
  return "This path is longer than " + std::to_string(limit - 1) + " characters and cannot be used:\n\n" + path;
}

// Commands that only make sense with scenes in the playlist.
constexpr int kPlaylistCommands[] = {kCmdRemove,      kCmdRemoveAll,    kCmdRendering,
                                     kCmdCommonRendering, kCmdBuildPrecalc, kCmdPlayPlaylist,
                                     kRenderingButton, kCommonRenderingButton, kRemoveButton,
                                     kPlayPlaylistButton};

}  // namespace

const std::vector<MenuEntry>& panel_menu() {
  using K = MenuEntryKind;
  static const std::vector<MenuEntry> menu = {
      {0, K::submenu, "&File", 0},
      {1, K::submenu, "Start", 0},
      {2, K::command, "Rendering", kCmdRendering},
      {2, K::command, "Common rendering", kCmdCommonRendering},
      {2, K::command, "Build precalculation", kCmdBuildPrecalc},
      {1, K::command, "Play playlist", kCmdPlayPlaylist},
      {1, K::separator, "", 0},
      {1, K::submenu, "Playlist", 0},
      {2, K::command, "Insert...", kCmdInsert},
      {2, K::command, "Remove", kCmdRemove},
      {2, K::command, "Remove All", kCmdRemoveAll},
      {1, K::submenu, "Music", 0},
      {2, K::command, "Select...", kCmdMusicSelect},
      {2, K::command, "Remove", kCmdMusicRemove},
      {1, K::separator, "", 0},
      {1, K::command, "Exit", kCmdExit},
      {0, K::submenu, "&Configuration", 0},
      {1, K::command, "Orvl...", kCmdConfiguration},
      {1, K::check, "LightWave Look", kCmdLightWaveLook},
      {1, K::submenu, "OpenGL", 0},
      {2, K::command, "Installed board...", kCmdGlBoard},
      {2, K::separator, "", 0},
      {2, K::check, "Full-Screen", kCmdFullScreen},
      {2, K::check, "Z-Buffer", kCmdZBuffer},
      {2, K::check, "Bilinear", kCmdBilinear},
      {2, K::check, "Mip-Mapping", kCmdMipmap},
      {2, K::check, "Wait VSYNC", kCmdWaitVsync},
      {1, K::submenu, "Sound", 0},
      {2, K::command, "Installed board...", kCmdSoundBoard},
      {2, K::separator, "", 0},
      {2, K::check, "8 Bits", kCmdBits8},
      {2, K::check, "16 Bits", kCmdBits16},
      {2, K::separator, "", 0},
      {2, K::check, "22050 Hz", kCmdRate22050},
      {2, K::check, "44100 Hz", kCmdRate44100},
      {2, K::separator, "", 0},
      {2, K::check, "Mono", kCmdMono},
      {2, K::check, "Stereo", kCmdStereo},
      {0, K::submenu, "&Help", 0},
      {1, K::command, "&View HTML Doc...", kCmdHtmlDoc},
      {1, K::command, "About...", kCmdAbout},
  };
  return menu;
}

AboutText panel_about_text() {
  AboutText a;
  a.build_line = std::string("Built on ") + __DATE__ + " " + __TIME__;
  return a;
}

std::string panel_absolute_path(const std::string& path) {
  if (path.empty()) return path;
  std::filesystem::path p(path);
  if (p.is_relative()) p = std::filesystem::path(current_directory()) / p;
  return p.lexically_normal().string();
}

PanelModel::PanelModel(Options& options, PanelUi& ui, const SoundApi* sound)
    : options_(options), ui_(ui), sound_(sound) {
  enable_playlist_commands(false);
  set_enabled(kCmdMusicRemove, false);
  sync_checks_from_options();
}

bool PanelModel::enabled(int id) const {
  auto it = enabled_.find(id);
  return it == enabled_.end() || it->second;
}

bool PanelModel::checked(int id) const {
  auto it = checked_.find(id);
  return it != checked_.end() && it->second;
}

void PanelModel::enable_playlist_commands(bool on) {
  for (int id : kPlaylistCommands) set_enabled(id, on);
}

void PanelModel::set_playlist(std::vector<std::string> entries) {
  if (entries.size() > size_t(kPlaylistCapacity)) entries.resize(kPlaylistCapacity);
  playlist_ = std::move(entries);
  enable_playlist_commands(!playlist_.empty());
}

void PanelModel::set_music(const std::string& path) {
  music_ = path;
  set_enabled(kCmdMusicRemove, !music_.empty());
}

void PanelModel::sync_checks_from_options() {
  set_checked(kCmdFullScreen, options_.full_screen);
  set_checked(kCmdZBuffer, options_.z_buffer);
  set_checked(kCmdBilinear, options_.bilinear);
  set_checked(kCmdMipmap, options_.mipmap);
  set_checked(kCmdWaitVsync, options_.wait_vsync);
  set_checked(kCmdRate44100, options_.rate_44100);
  set_checked(kCmdRate22050, !options_.rate_44100);
  set_checked(kCmdBits16, options_.bits_16);
  set_checked(kCmdBits8, !options_.bits_16);
  set_checked(kCmdStereo, options_.stereo);
  set_checked(kCmdMono, !options_.stereo);
  set_checked(kCmdLightWaveLook, options_.look_set && options_.look == Look::lightwave);
}

SoundFormatChoice PanelModel::sound_format() const {
  SoundFormatChoice f;
  f.rate_44100 = checked(kCmdRate44100);
  f.bits_8 = checked(kCmdBits8);
  f.mono = checked(kCmdMono);
  return f;
}

void PanelModel::toggle(int id, bool& option) {
  const bool was = checked(id);
  set_checked(id, !was);
  option = !was;
}

void PanelModel::radio(int chosen, int partner, bool& option, bool on) {
  set_checked(chosen, true);
  set_checked(partner, false);
  option = on;
}

void PanelModel::command(int id) {
  switch (id) {
    case kCmdRendering:
    case kRenderingButton: run_show(ShowMode::rendering); break;
    case kCmdCommonRendering:
    case kCommonRenderingButton: run_show(ShowMode::common_rendering); break;
    case kCmdBuildPrecalc: run_show(ShowMode::build_precalc); break;
    case kCmdPlayPlaylist:
    case kPlayPlaylistButton: play_playlist(); break;
    case kCmdInsert:
    case kInsertButton: insert(); break;
    case kCmdRemove:
    case kRemoveButton: remove(); break;
    case kCmdRemoveAll:
      playlist_.clear();
      enable_playlist_commands(false);
      break;
    case kCmdMusicSelect: select_music(); break;
    case kCmdMusicRemove:
      set_enabled(kCmdMusicRemove, false);
      music_.clear();
      break;
    case kCmdExit: quit_ = true; break;
    case kCmdConfiguration: configuration(); break;
    case kCmdGlBoard: gl_show_report(); break;
    case kCmdFullScreen: toggle(id, options_.full_screen); break;
    case kCmdZBuffer: toggle(id, options_.z_buffer); break;
    case kCmdBilinear: toggle(id, options_.bilinear); break;
    case kCmdMipmap: toggle(id, options_.mipmap); break;
    case kCmdWaitVsync: toggle(id, options_.wait_vsync); break;
    case kCmdLightWaveLook: {
      // Once chosen here the look is the user's for every scene: checked lightwave,
      // unchecked engine.
      bool lightwave = false;
      toggle(id, lightwave);
      options_.look_set = true;
      options_.look = lightwave ? Look::lightwave : Look::engine;
      break;
    }
    case kCmdSoundBoard: sound_device(); break;
    case kCmdRate22050: radio(id, kCmdRate44100, options_.rate_44100, false); break;
    case kCmdRate44100: radio(id, kCmdRate22050, options_.rate_44100, true); break;
    case kCmdBits8: radio(id, kCmdBits16, options_.bits_16, false); break;
    case kCmdBits16: radio(id, kCmdBits8, options_.bits_16, true); break;
    case kCmdMono: radio(id, kCmdStereo, options_.stereo, false); break;
    case kCmdStereo: radio(id, kCmdMono, options_.stereo, true); break;
    case kCmdHtmlDoc: documentation(); break;
    case kCmdAbout:
      ui_.set_window_enabled(false);
      ui_.run_about(panel_about_text());
      ui_.set_window_enabled(true);
      break;
    default: return;
  }
  ui_.refresh();
}

void PanelModel::insert() {
  ui_.set_window_enabled(false);
  OpenFileRequest r;
  r.title = "Insert scene(s) into playlist";
  r.filters = {{"LightWave 5.X Scenes (*.LWS)", "*.LWS"}};
  r.default_extension = "*.LWS";
  r.initial_directory = insert_dir_;
  r.multiple = true;
  r.buffer_chars = kInsertBufferChars;
  const std::vector<std::string> files = ui_.choose_files(r);
  std::string last_dir;
  for (const std::string& file : files) {
    // Stored absolute: the configuration dialog moves the current directory.
    const std::string path = panel_absolute_path(file);
    if (path.size() >= kInsertBufferChars) {
      ui_.message(too_long_text(path, kInsertBufferChars), "Scene selection failure", MessageIcon::error);
      continue;
    }
    if (playlist_.size() >= size_t(kPlaylistCapacity)) {
      ui_.message("You can't load more than " + std::to_string(kPlaylistCapacity) + " scenes !",
                  "Scene selection failure", MessageIcon::error);
      break;
    }
    playlist_.push_back(path);
    last_dir = path_directory(path);
  }
  if (!files.empty()) {
    // The commands follow what the playlist holds, so a choice that was wholly refused
    // does not enable removal from an empty list.
    enable_playlist_commands(!playlist_.empty());
    const std::string dir = path_directory(panel_absolute_path(files.front()));
    if (dir.size() < kInsertBufferChars) insert_dir_ = dir;
  }
  ui_.refresh();
  ui_.set_window_enabled(true);
}

void PanelModel::remove() {
  std::vector<int> selection = ui_.playlist_selection();
  const int count = static_cast<int>(playlist_.size());
  selection.erase(std::remove_if(selection.begin(), selection.end(), [&](int i) { return i < 0 || i >= count; }),
                  selection.end());
  if (selection.empty()) {
    if (!playlist_.empty()) playlist_.pop_back();
  } else {
    // Highest first, so the indices still to remove stay valid.
    std::sort(selection.begin(), selection.end(), std::greater<int>());
    selection.erase(std::unique(selection.begin(), selection.end()), selection.end());
    for (int i : selection) playlist_.erase(playlist_.begin() + i);
  }
  if (playlist_.empty()) enable_playlist_commands(false);
}

void PanelModel::select_music() {
  ui_.set_window_enabled(false);
  OpenFileRequest r;
  r.title = "Select a BASS 0.8 supported Audio File";
  r.filters = {{"All BASS 0.8 supported Audio Files", "*.MP3;*.WAV;*.MO3;*.MOD;*.XM;*.IT"},
               {"MPEG Audio Files (*.MP3)", "*.MP3"},
               {"Microsoft Waveform Audio Files (*.WAV)", "*.WAV"},
               {"BASS Mp3 Module (*.MO3)", "*.MO3"},
               {"Protracker Modules (*.MOD)", "*.MOD"},
               {"eXtended Modules (*.XM)", "*.XM"},
               {"Impulse Tracker Modules (*.IT)", "*.IT"},
               {"Screamtracker 3 Modules (*.S3M)", "*.S3M"}};
  r.default_extension = "*.*";
  r.initial_directory = music_dir_;
  r.multiple = false;
  r.buffer_chars = kMusicBufferChars;
  const std::vector<std::string> files = ui_.choose_files(r);
  if (!files.empty()) {
    const std::string path = panel_absolute_path(files.front());
    if (path.size() >= kMusicBufferChars) {
      ui_.message(too_long_text(path, kMusicBufferChars), "Music selection failure", MessageIcon::error);
    } else {
      music_ = path;
      music_dir_ = path_directory(path);
      set_enabled(kCmdMusicRemove, true);
    }
  }
  // A cancelled choice leaves an earlier music in place (and an unset one unset).
  ui_.set_window_enabled(true);
}

void PanelModel::run_show(ShowMode mode) {
  options_.common_rendering = mode != ShowMode::rendering;
  options_.precalc_build = mode == ShowMode::build_precalc;
  ShowRequest r;
  r.mode = mode;
  if (mode == ShowMode::common_rendering) ui_.set_window_visible(false);
  ui_.play(r);
  if (mode != ShowMode::build_precalc) ui_.set_window_visible(true);
}

void PanelModel::play_playlist() {
  if (playlist_.empty()) return;
  ShowRequest r;
  r.playlist = true;
  r.music = music_;
  std::string missing;
  for (const std::string& path : playlist_) {
    if (is_regular_file(path))
      r.scenes.push_back(path);
    else
      missing += "\n" + path;
  }
  // Missing files stay in the list (they may come back) and are named once per play.
  if (!missing.empty())
    ui_.message("These scenes cannot be found and are skipped:\n" + missing, "Scene selection failure",
                MessageIcon::warning);
  if (r.scenes.empty()) return;
  options_.common_rendering = false;
  options_.precalc_build = false;
  ui_.play(r);
  ui_.set_window_visible(true);
}

void PanelModel::configuration() {
  ui_.set_window_enabled(false);
  ConfigDialog d;
  d.show_splash = options_.show_splash;
  d.warn_resolution = options_.warn_resolution_mismatch;
  d.show_warnings = options_.show_warnings;
  d.root = options_.lightwave_root;
  ui_.run_configuration(d);
  ui_.set_window_enabled(true);
}

void PanelModel::config_search(ConfigDialog& d) {
  std::string folder;
  if (!ui_.choose_folder("Select your LightWave 5.X root directory", &folder) || folder.empty()) return;
  if (folder.back() != '/') folder += '/';
  d.root = folder;
}

bool PanelModel::config_exit(ConfigDialog& d) {
  std::string text = d.root;
  if (text.size() >= kRootEditChars) {
    ui_.message("The LightWave path information is too long !", "Invalid information", MessageIcon::error);
    return false;
  }
  if (text.empty()) {
    ui_.message("The LightWave path information is empty !", "Information needed", MessageIcon::error);
    return false;
  }
  if (text.back() != '/') text += '/';
  const std::string absolute = panel_absolute_path(text);
  const std::string saved = current_directory();
  if (::chdir(text.c_str()) != 0) {
    ui_.message("The given LightWave path information is invalid !", "Invalid information", MessageIcon::error);
    if (!saved.empty()) (void)::chdir(saved.c_str());
    return false;
  }
  // The current directory stays at the new root, as scene paths are resolved against it.
  options_.lightwave_root = absolute.back() == '/' ? absolute : absolute + '/';
  options_.show_splash = d.show_splash;
  options_.warn_resolution_mismatch = d.warn_resolution;
  options_.show_warnings = d.show_warnings;
  return true;
}

bool PanelModel::sound_device_fill(SoundDeviceDialog* d) {
  const SoundApi* api = sound_;
  if (!api || !api->get_version || api->get_version() != kSoundLibraryVersion) {
    ui_.message("BASS 0.8 was not loaded", "Incorrect internal BASS.DLL", MessageIcon::error);
    ui_.focus_window();
    return false;
  }
  if (!api->init(-2, 22050, 0, nullptr)) {
    ui_.message("Digital sound system initialization failed.", "BASS 0.8 failure", MessageIcon::warning);
    ui_.focus_window();
    return false;
  }
  const char* description = nullptr;
  d->texts[kSndDescription] =
      api->get_device_description(-2, &description) && description ? description : "";
  OrvlSoundInfo info{};
  info.size = 44;
  if (api->get_info(&info)) {
    d->checks[kSndCertified] = (info.flags & ORVL_SOUND_CAPS_CERTIFIED) != 0;
    d->checks[kSndHardware] = (info.flags & ORVL_SOUND_CAPS_EMULATED) == 0;
    d->checks[kSndMono] = (info.flags & ORVL_SOUND_CAPS_MONO) != 0;
    d->checks[kSndStereo] = (info.flags & ORVL_SOUND_CAPS_STEREO) != 0;
    d->checks[kSnd8Bits] = (info.flags & ORVL_SOUND_CAPS_8BITS) != 0;
    d->checks[kSnd16Bits] = (info.flags & ORVL_SOUND_CAPS_16BITS) != 0;
    d->texts[kSndMemTotal] = std::to_string(info.hw_memory_total);
    d->texts[kSndMemFree] = std::to_string(info.hw_memory_free);
    d->texts[kSndMinRate] = std::to_string(info.min_rate);
    d->texts[kSndMaxRate] = std::to_string(info.max_rate);
  }
  api->free();
  return true;
}

void PanelModel::sound_device() {
  SoundDeviceDialog d;
  if (!sound_device_fill(&d)) return;
  ui_.set_window_enabled(false);
  ui_.run_sound_device(d);
  ui_.set_window_enabled(true);
}

std::string PanelModel::documentation_path() { return current_directory() + "/Orvl_16.htm"; }

void PanelModel::documentation() {
  const std::string path = documentation_path();
  if (!is_regular_file(path) || !ui_.open_document(path))
    ui_.message("A problem has occured when trying to open\n\n" + path, "File not found", MessageIcon::error);
}

}  // namespace orvl
