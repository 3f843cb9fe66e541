// Orvl.ini: the playlist and the panel's options read from the input, written back and read
// again. The reader only takes a path, so the input goes to a per-process temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/panel_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = std::filesystem::temp_directory_path().string();
  static const std::string path = dir + "/orvl_fuzz_config_" + std::to_string(::getpid()) + ".ini";
  static const std::string again = path + ".again";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);

  const orvl::PlaylistRestore first = orvl::options_read_playlist(path);
  if (first.entries.size() > size_t(orvl::kPlaylistCapacity)) abort();
  const orvl::PanelSettings settings = orvl::panel_settings_read(path, orvl::Options{});
  const std::vector<std::string> paths = orvl::panel_playlist_paths(first);

  // What the panel writes reads back with one entry per path it could hold, in order.
  const std::string text = orvl::panel_config_text(paths, settings.options, settings.music,
                                                   settings.scene_directory, settings.music_directory);
  std::string error;
  if (!orvl::panel_config_write(again, text, &error)) abort();
  const orvl::PlaylistRestore second = orvl::options_read_playlist(again);
  size_t kept = 0;
  for (const std::string& p : paths)
    if (p.find_first_of("\r\n") == std::string::npos) ++kept;
  if (second.entries.size() != kept) abort();
  if (!orvl::panel_settings_read(again, orvl::Options{}).present) abort();
  std::remove(path.c_str());
  std::remove(again.c_str());
  return 0;
}
