// The OpenGL capability record: what the driver offers, read once at start-up.
//
// `gl_probe` makes sure a rendering context can be created at all and, on that occasion,
// copies the vendor, renderer and version strings, the extension list, the number of
// lights and the largest texture size. It uses a throw-away context that is never shown
// (a hidden SDL window on a desktop, the headless EGL context where there is no display);
// when the display is already open it reads the display's own context instead. The largest
// texture size is what every scene is configured with. `gl_report_lines` /
// `gl_show_report` turn the record into the readable report of the log.
//
// The extension list is kept whole (today's drivers report several kilobytes); its
// separating spaces become CR LF pairs, a trailing space is dropped. Process-wide record;
// single-threaded. All GL goes through gl().
#pragma once

#include <string>
#include <vector>

#include "render/display.h"

namespace orvl {

struct GlCaps {
  std::string vendor, renderer, version;
  std::string extensions;  // names separated by "\r\n"
  int max_lights = 0;
  std::string max_lights_text;
  int max_texture_size = 0;
  std::string max_texture_size_text;
};

enum class [[nodiscard]] GlProbeResult : int {
  ok = 0,
  no_context = 1,  // no rendering context could be created
};
const char* gl_probe_result_text(GlProbeResult r);

// Fills the record. `backend` chooses where the throw-away context lives (automatic: as
// the display would choose). On failure the record is left as it was.
GlProbeResult gl_probe(DisplayBackend backend = DisplayBackend::automatic);
const GlCaps& gl_caps();

// "A B " -> "A\r\nB": every space followed by another character becomes CR LF, a space at
// the very end is dropped, everything else is copied.
std::string gl_extensions_text(const char* extensions);

// The report, one entry per log line (empty entries are the report's blank lines).
std::vector<std::string> gl_report_lines(const GlCaps& caps);
// Clears the log and writes the report of the current record into it.
void gl_show_report();

}  // namespace orvl
