#include "app/options.h"

#include <ini.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>

#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

constexpr const char* kSection = "LWS PLAYLIST";
constexpr const char* kConfigName = "Orvl.ini";
constexpr const char* kDrawingSection = "Orvl";

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return ::strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

using KeyValues = std::map<std::string, std::string, CaseInsensitiveLess>;

int collect_playlist_keys(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, kSection) != 0) return 1;
  // Profile files let the first occurrence of a key win; emplace keeps the first.
  static_cast<KeyValues*>(user)->emplace(name, value);
  return 1;
}

int collect_drawing_keys(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, kDrawingSection) != 0) return 1;
  static_cast<KeyValues*>(user)->emplace(name, value);
  return 1;
}

// Profile-file integers: optional sign and leading digits; anything else reads as 0, and a
// value beyond the int range saturates.
int profile_int(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  if (errno == ERANGE || v > INT_MAX) return v < 0 ? INT_MIN : INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

bool regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Options& options() {
  static Options o;
  return o;
}

void options_set_startup_flags(Options& o) {
  o.show_warnings = true;
  o.warn_resolution_mismatch = true;
  o.show_splash = true;
}

std::string options_config_path() {
  // Windows looked the file up without regard to case; content copied from there keeps
  // whatever case it had.
  if (data_file_exists(kConfigName)) return resolve_data_path(kConfigName);
  std::string path = options_user_config_path();
  return !path.empty() && regular_file(path) ? path : std::string();
}

std::string options_user_config_path() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = path_join(home, ".config");
  } else {
    return {};
  }
  return path_join(path_join(base, "orvl"), kConfigName);
}

PlaylistRestore options_read_playlist(const std::string& path) {
  PlaylistRestore r;
  KeyValues keys;
  if (!path.empty() && regular_file(path) && ini_parse(path.c_str(), collect_playlist_keys, &keys) >= 0)
    r.config_path = path;
  // ini_parse reports a malformed line by its number but has still read the rest; the
  // keys it found count, as a profile reader would take them.
  auto count = keys.find("SceneCount");
  if (count != keys.end()) r.scene_count = profile_int(count->second);

  int n = r.scene_count;
  if (n > kPlaylistCapacity) {
    log_format("%s : SceneCount %d is more than the playlist holds, %d scenes restored.",
               path.c_str(), n, kPlaylistCapacity);
    n = kPlaylistCapacity;
  }
  for (int i = 0; i < n; ++i) {
    std::string key = "Scene" + std::to_string(i);
    auto it = keys.find(key);
    r.entries.push_back({key, it == keys.end() ? std::string() : it->second});
  }
  r.buttons_enabled = !r.entries.empty();
  return r;
}

void options_read_drawing(const std::string& path, Options& o) {
  KeyValues keys;
  if (path.empty() || !regular_file(path)) return;
  ini_parse(path.c_str(), collect_drawing_keys, &keys);
  auto exact = keys.find("ExactDrawOrder");
  if (exact != keys.end()) o.exact_draw_order = profile_int(exact->second) != 0;
  auto look = keys.find("Look");
  if (look != keys.end()) {
    Look chosen = Look::engine;
    if (parse_look(look->second, chosen)) {
      o.look_set = true;
      o.look = chosen;
    } else {
      log_line(path + ": Look=" + look->second + " is neither engine nor lightwave; the scene's own look is used.");
    }
  }
}

PlaylistRestore options_apply_defaults(Options& o) {
  o.rate_44100 = true;
  o.bits_16 = true;
  o.stereo = true;
  o.full_screen = true;
  o.bilinear = true;
  o.mipmap = true;
  o.z_buffer = true;
  o.wait_vsync = false;
  const std::string path = options_config_path();
  options_read_drawing(path, o);
  return options_read_playlist(path);
}

}  // namespace orvl
