// orvl panel [--windowed]: the control window as a desktop window.
#include "app/command.h"
#include "app/panel_gtk.h"

namespace {

int run_panel(const std::vector<std::string>& args) { return orvl::panel_main(args); }

const orvl::CommandRegistrar panel_cmd(
    {"panel", "panel [--windowed]        the control window: playlist, options, dialogs, the show", run_panel});

}  // namespace
