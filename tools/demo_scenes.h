// The eight scenes of the demo show: each writes its objects and its scene file. Internal to
// the generator (tools/demo_show.h is its manual).
#pragma once

#include <string>

#include "tools/demo_show.h"

namespace orvl::demo {

// Where the scenes go and what they report; the first failure clears `ok` and sets `error`.
struct Output {
  std::string dir;
  DemoSummary& summary;
  std::string& error;
  bool ok = true;
};

// Writes scene/1vex.lws .. scene/8vex.lws and their objects below `out.dir`.
void write_scenes(Output& out);

}  // namespace orvl::demo
