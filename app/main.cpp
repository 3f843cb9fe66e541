// orvl entry point: no arguments plays the show; a first argument names a subcommand.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/command.h"
#include "effects/effects.h"
#include "image/image.h"

namespace {

int print_help(const std::vector<std::string>&) {
  std::printf("orvl - LightWave 5 scene player\n\nusage: orvl [COMMAND [ARGS...]]\n\ncommands:\n");
  for (const auto& c : orvl::all_commands()) std::printf("  %s\n", c.usage);
  return 0;
}

const orvl::CommandRegistrar help_cmd({"help", "help                      list the commands", print_help});

#ifndef ORVL_VERSION
#error "ORVL_VERSION comes from the project's version in CMakeLists.txt"
#endif

int print_version(const std::vector<std::string>&) {
  std::printf("orvl %s\n", ORVL_VERSION);
  return 0;
}

const orvl::CommandRegistrar version_cmd({"version", "version                   print the version (also --version)", print_version});

}  // namespace

namespace {

// ORVL_MAX_PIXELS: how many pixels one decoded picture may have (default 64 Mpx).
bool apply_pixel_budget() {
  const char* text = std::getenv("ORVL_MAX_PIXELS");
  if (!text || !*text) return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (*end || errno || v == 0 || text[0] == '-') {
    std::fprintf(stderr, "orvl: ORVL_MAX_PIXELS wants a positive whole number of pixels, got '%s'\n", text);
    return false;
  }
  orvl::img_set_pixel_budget(v);
  return true;
}

int run_main(int argc, char** argv) {
  // Every write is checked; a reader that went away (a closed pipe, a stopped ffmpeg) is
  // an error to report, not a reason to die silently.
  std::signal(SIGPIPE, SIG_IGN);
  if (!apply_pixel_budget()) return 2;
  orvl::effects_install_hooks();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    if (const auto* show = orvl::find_command("show")) return show->run(args);
    return print_help(args);
  }
  std::string name = args.front();
  if (name == "--help" || name == "-h") return print_help(args);
  if (name == "--version") return print_version(args);
  // Options without a command are the show's own ("orvl --headless --out DIR").
  if (name.rfind("--", 0) == 0) {
    if (const auto* show = orvl::find_command("show")) return show->run(args);
  }
  args.erase(args.begin());
  const orvl::CommandInfo* cmd = orvl::find_command(name);
  if (!cmd) {
    std::fprintf(stderr, "orvl: unknown command '%s' (try 'orvl help')\n", name.c_str());
    return 2;
  }
  // Every command answers --help with its synopsis.
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::printf("usage: orvl %s\n", cmd->usage);
      return 0;
    }
  }
  return cmd->run(args);
}

}  // namespace

// Commands report their own errors; whatever still escapes one (a library's exception)
// ends the program with one line and exit status 1, never with an abort.
int main(int argc, char** argv) {
  try {
    return run_main(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvl: %s\n", e.what());
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvl: unexpected error\n");
  }
  return 1;
}
