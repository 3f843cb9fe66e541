// Stop requests from outside: SIGINT (Ctrl-C) and SIGTERM.
//
// Long runs (the show, scene renders) install these handlers so that a signal ends them
// the way Escape does: the frame in progress is finished, the video is closed properly,
// everything is torn down and temporary files are removed, then the program exits with
// 128 + the signal number (130 for SIGINT, 143 for SIGTERM). The handler only sets a flag;
// the display loop (display_frame) turns it into an Escape key press, and loops without a
// display poll stop_requested(). A second signal while the first is being honoured ends
// the program at once, as if no handler were installed.
#pragma once

namespace orvl {

void stop_signals_install();
bool stop_requested();
// The signal that asked to stop (SIGINT or SIGTERM), 0 when none did.
int stop_signal();
// 128 + stop_signal(), 0 when no signal asked to stop.
int stop_exit_code();

}  // namespace orvl
