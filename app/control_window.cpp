#include "app/control_window.h"

#include "platform/log.h"

namespace orvl {

ControlWindow& control_window() {
  static ControlWindow w;
  return w;
}

void control_window_create() {
  ControlWindow& w = control_window();
  w = ControlWindow{};
  w.exists = true;
  w.visible = false;  // created hidden and kept hidden for the whole run
}

void control_window_destroy() { control_window().exists = false; }

void control_log_append(const std::string& text) {
  log_line(text.empty() ? std::string(" ") : text);
  control_window().log_selection = static_cast<int>(log_lines().size()) - 1;
}

void control_log_clear() {
  log_clear();
  control_window().log_selection = -1;
}

void control_log_select_first() { control_window().log_selection = log_lines().empty() ? -1 : 0; }

void control_set_modes(const DisplayModeList& modes) {
  ControlWindow& w = control_window();
  w.modes = modes;
  w.mode_lines.clear();
  w.mode_selection = -1;
  for (int i = 0; i < w.modes.count; ++i) {
    const DisplayMode& m = w.modes.modes[i];
    w.mode_lines.push_back(std::to_string(m.width) + "x" + std::to_string(m.height) + " (" +
                           std::to_string(m.bits_per_pixel) + ")");
    // The show is made for 640 x 480; a later such mode replaces an earlier selection.
    if (m.width == 640 && m.height == 480 && (m.bits_per_pixel == 16 || m.bits_per_pixel == 32))
      w.mode_selection = i;
  }
  // A screen without such a mode (Xvfb's one mode, a panel that only knows its native size)
  // shows the desktop's own mode chosen, rather than a list that looks empty.
  if (w.mode_selection < 0 && w.modes.desktop >= 0 && w.modes.desktop < w.modes.count)
    w.mode_selection = w.modes.desktop;
}

void control_fill_lists() {
  ControlWindow& w = control_window();
  display_reset();
  DisplayModeList modes;
  (void)display_list_modes(&modes);
  control_set_modes(modes);
  w.precalc_lines.clear();
  for (int step = 1; step <= 8; ++step) w.precalc_lines.push_back("preca. step " + std::to_string(step));
  w.precalc_selection = 1;
}

bool control_menu_checked(int) { return false; }

}  // namespace orvl
