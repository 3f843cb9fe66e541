// The panel's side of Orvl.ini: the playlist's paths and the options, read at start-up and
// written back when the panel closes.
#include <ini.h>
#include <strings.h>

#include <cstdlib>
#include <filesystem>

#include "app/options.h"
#include "app/panel_model.h"
#include "platform/atomic_file.h"
#include "platform/file.h"

namespace orvl {
namespace {

constexpr const char* kPanelSection = "ORVL OPTIONS";

struct BoolKey {
  const char* key;
  bool Options::*member;
};
constexpr BoolKey kBoolKeys[] = {
    {"ShowWarnings", &Options::show_warnings},
    {"WarnResolution", &Options::warn_resolution_mismatch},
    {"ShowSplash", &Options::show_splash},
    {"FullScreen", &Options::full_screen},
    {"ZBuffer", &Options::z_buffer},
    {"Bilinear", &Options::bilinear},
    {"MipMapping", &Options::mipmap},
    {"WaitVSync", &Options::wait_vsync},
    {"Rate44100", &Options::rate_44100},
    {"Bits16", &Options::bits_16},
    {"Stereo", &Options::stereo},
};

int collect_settings(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, kPanelSection) != 0) return 1;
  auto* s = static_cast<PanelSettings*>(user);
  s->present = true;
  for (const BoolKey& k : kBoolKeys) {
    if (::strcasecmp(name, k.key) == 0) {
      s->options.*k.member = std::atoi(value) != 0;
      return 1;
    }
  }
  if (::strcasecmp(name, "LightWaveRoot") == 0) s->options.lightwave_root = value;
  else if (::strcasecmp(name, "Music") == 0) s->music = value;
  else if (::strcasecmp(name, "SceneDirectory") == 0) s->scene_directory = value;
  else if (::strcasecmp(name, "MusicDirectory") == 0) s->music_directory = value;
  return 1;
}

bool representable(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

}  // namespace

PanelSettings panel_settings_read(const std::string& path, const Options& defaults) {
  PanelSettings s;
  s.options = defaults;
  if (path.empty()) return s;
  if (ini_parse(path.c_str(), collect_settings, &s) < 0) s.present = false;
  return s;
}

std::vector<std::string> panel_playlist_paths(const PlaylistRestore& restore) {
  std::vector<std::string> paths;
  for (const PlaylistEntry& e : restore.entries)
    paths.push_back(e.value.empty() ? e.line : panel_absolute_path(e.value));
  return paths;
}

std::string panel_config_text(const std::vector<std::string>& playlist, const Options& o,
                              const std::string& music, const std::string& scene_directory,
                              const std::string& music_directory) {
  std::vector<const std::string*> kept;
  for (const std::string& p : playlist)
    if (representable(p) && kept.size() < size_t(kPlaylistCapacity)) kept.push_back(&p);
  std::string t = "[LWS PLAYLIST]\nSceneCount=" + std::to_string(kept.size()) + "\n";
  for (size_t i = 0; i < kept.size(); ++i) t += "Scene" + std::to_string(i) + "=" + *kept[i] + "\n";
  t += std::string("\n[") + kPanelSection + "]\n";
  for (const BoolKey& k : kBoolKeys) t += std::string(k.key) + "=" + (o.*k.member ? "1" : "0") + "\n";
  auto text_key = [&t](const char* key, const std::string& value) {
    if (representable(value)) t += std::string(key) + "=" + value + "\n";
  };
  text_key("LightWaveRoot", o.lightwave_root);
  text_key("Music", music);
  text_key("SceneDirectory", scene_directory);
  text_key("MusicDirectory", music_directory);
  // The drawing settings live in section "Orvl", where `orvl render` and `orvl play` read
  // them too; a key the user never set stays out, so the scene's own default still holds.
  if (o.look_set || o.exact_draw_order) {
    t += "\n[Orvl]\n";
    if (o.look_set) t += std::string("Look=") + (o.look == Look::lightwave ? "lightwave" : "engine") + "\n";
    if (o.exact_draw_order) t += "ExactDrawOrder=1\n";
  }
  return t;
}

std::string panel_config_write_path(const std::string& read_path) {
  if (!read_path.empty()) return panel_absolute_path(read_path);
  return options_user_config_path();
}

bool panel_config_write(const std::string& path, const std::string& text, std::string* error) {
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  // Through the atomic writer: a crash or a full disk leaves the old configuration or the
  // new one, never half of it.
  return write_file_atomic(path, text.data(), text.size(), error);
}

}  // namespace orvl
