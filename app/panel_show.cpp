// The show as the panel starts it: the same settings the start-up run takes, from the
// options as the panel's commands left them.
#include <algorithm>

#include "app/control_window.h"
#include "app/panel_model.h"
#include "app/sound_output.h"
#include "app/startup.h"
#include "platform/file.h"
#include "platform/log.h"
#include "render/gl_caps.h"

namespace orvl {

ShowResult panel_run_show(const ShowRequest& request, const SoundFormatChoice& format, bool windowed,
                          ShowHost host) {
  const Options& opt = options();
  ControlWindow& cw = control_window();
  ShowSettings settings = show_settings_from(request.mode, opt, cw, opt.full_screen && !windowed);
  if (request.playlist) {
    settings.playlist = request.scenes;
    settings.playlist_music = request.music;
  }

  MusicState music;
  const bool warnings = opt.show_warnings;
  host.music_start = [&](std::string& path) {
    if (!sound_library_loaded()) {  // nothing to play it with: the show goes on silent
      log_line("No sound library loaded: no music played.");
      path.clear();
      return true;
    }
    music.path = resolve_data_path(path);
    if (sound_show_start(sound_api(), music, format, warnings, &cw) == SoundStartResult::wrong_version)
      return false;
    if (music.path.empty()) path.clear();
    return true;
  };
  host.music_play = [&] { sound_show_play(sound_api(), music); };
  host.music_end = [&] {
    if (!music.path.empty()) sound_show_end(sound_api(), music);
  };
  auto enable = host.control_window_enable;
  host.control_window_enable = [&cw, enable](bool on) {
    cw.enabled = on;
    if (enable) enable(on);
  };
  host.remember_track_bar = [&cw](int position) { cw.track_bar = position; };
  return show_run(settings, host);
}

}  // namespace orvl
