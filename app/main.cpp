// orvl entry point: no arguments plays the show; a first argument names a subcommand.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "effects/effects.h"

namespace {

int print_help(const std::vector<std::string>&) {
  std::printf("orvl - LightWave 5 scene player\n\nusage: orvl [COMMAND [ARGS...]]\n\ncommands:\n");
  for (const auto& c : orvl::all_commands()) std::printf("  %s\n", c.usage);
  return 0;
}

const orvl::CommandRegistrar help_cmd({"help", "help                      list the commands", print_help});

}  // namespace

int main(int argc, char** argv) {
  orvl::effects_install_hooks();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    if (const auto* show = orvl::find_command("show")) return show->run(args);
    return print_help(args);
  }
  std::string name = args.front();
  if (name == "--help" || name == "-h") return print_help(args);
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
  return cmd->run(args);
}
