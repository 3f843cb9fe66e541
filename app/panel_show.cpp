// The show as the panel starts it: the same settings the start-up run takes, from the
// options as the panel's commands left them.
#include "app/control_window.h"
#include "app/panel_model.h"
#include "app/sound_output.h"
#include "app/startup.h"

namespace orvl {

ShowResult panel_run_show(const ShowRequest& request, const SoundFormatChoice& format, bool windowed,
                          ShowHost host) {
  const Options& opt = options();
  ControlWindow& cw = control_window();
  ShowSettings settings = show_settings_from(request.mode, opt, cw, opt.full_screen && !windowed);
  if (request.playlist) {
    settings.playlist = request.scenes;
    settings.playlist_music = request.music;
    // The playlist's scenes are ordinary content: drawn in the look the Configuration
    // menu (or Look= in Orvl.ini) chose; the fixed show keeps the engine look.
    if (opt.look_set) settings.render.look = opt.look;
  }

  MusicState music;
  sound_attach_show_music(host, music, format, opt.show_warnings, &cw, SoundDevice::automatic);
  auto enable = host.control_window_enable;
  host.control_window_enable = [&cw, enable](bool on) {
    cw.enabled = on;
    if (enable) enable(on);
  };
  host.remember_track_bar = [&cw](int position) { cw.track_bar = position; };
  return show_run(settings, host);
}

}  // namespace orvl
