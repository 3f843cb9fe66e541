// The control window: a platform-neutral model of the program's (hidden) main dialog.
//
// It stores what the show reads from it: the log list (every log line, with the last one
// selected), the display-mode list with its selection, the precalculation-step list
// (eight lines "preca. step N", the second selected), the playlist, the track bar and the
// enabled state of its buttons. It is never shown: start-up keeps it hidden and every log
// line is also echoed to standard output. Its menu resource is never attached to a window,
// so menu requests have no effect and every check state reads as unchecked.
// Process-wide; single-threaded.
#pragma once

#include <string>
#include <vector>

#include "render/display.h"

namespace orvl {

struct ControlWindow {
  bool exists = false;
  bool visible = false;
  bool enabled = true;
  int log_selection = -1;  // index into log_lines()
  DisplayModeList modes;
  std::vector<std::string> mode_lines;
  int mode_selection = -1;
  std::vector<std::string> precalc_lines;
  int precalc_selection = -1;
  std::vector<std::string> playlist;
  int track_bar = 0;  // 0..4, remembered between shows
  bool rendering_enabled = false, common_rendering_enabled = false, remove_enabled = false;
};

ControlWindow& control_window();

void control_window_create();
void control_window_destroy();

// Appends a line to the log and selects it; an empty text becomes a single space.
void control_log_append(const std::string& text);
void control_log_clear();
void control_log_select_first();

// Fills the display-mode list from the display layer and the precalculation-step list.
// A 640 x 480 mode at 16 or 32 bits is selected (a later one replaces an earlier one);
// without one, the desktop's own mode when the list marks it.
void control_fill_lists();
// The display-mode part of it, from a given mode table.
void control_set_modes(const DisplayModeList& modes);

// The menu is never attached: checks read as unchecked, enabling does nothing.
bool control_menu_checked(int item);

}  // namespace orvl
