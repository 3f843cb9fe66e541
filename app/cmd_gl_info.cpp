// orvl gl-info: the OpenGL capability report that start-up reads.
#include <cstdio>

#include "app/command.h"
#include "render/gl_caps.h"

namespace {

int run_gl_info(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  orvl::DisplayBackend backend = orvl::DisplayBackend::automatic;
  if (orvl::take_flag(args, "--headless")) backend = orvl::DisplayBackend::headless;
  if (!args.empty()) {
    std::fprintf(stderr, "orvl gl-info: unexpected argument %s\n", args.front().c_str());
    return 2;
  }
  if (orvl::gl_probe(backend) != orvl::GlProbeResult::ok) {
    std::fprintf(stderr, "orvl gl-info: GL context creation failed\n");
    return 1;
  }
  for (const std::string& line : orvl::gl_report_lines(orvl::gl_caps())) std::printf("%s\n", line.c_str());
  return 0;
}

const orvl::CommandRegistrar gl_info_cmd({"gl-info", "gl-info [--headless]    the OpenGL capability report", run_gl_info});

}  // namespace
