// Subcommand dispatch for the one `orvl` binary.
//
// Each command lives in app/cmd_<name>.cpp and registers itself with a static
// `CommandRegistrar`; main() looks the first argument up here. Commands return the
// process exit code (0 success) and print their own one-line errors.
#pragma once

#include <string>
#include <vector>

namespace orvl {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandInfo {
  const char* name;   // first word on the command line, e.g. "dump-scene"
  const char* usage;  // one line shown by `orvl help`
  CommandFn run;      // receives the arguments after the name
};

void register_command(const CommandInfo& info);
const CommandInfo* find_command(const std::string& name);
std::vector<CommandInfo> all_commands();

struct CommandRegistrar {
  explicit CommandRegistrar(const CommandInfo& info) { register_command(info); }
};

// Small argument helpers shared by the commands.
// Removes "--name" from args and returns true if it was there.
bool take_flag(std::vector<std::string>& args, const std::string& name);
// Removes "--name VALUE" (or "--name=VALUE") and stores VALUE; false when absent.
// A "--name" without a value sets `missing_value`.
bool take_option(std::vector<std::string>& args, const std::string& name, std::string& value,
                 bool* missing_value = nullptr);

// "compress|expand IN OUT [--size N]", the arguments of the codec commands. False when the
// words are off or N is not a whole number; whether --size is wanted is the caller's rule.
struct CodecArgs {
  bool expand = false;
  std::string in_path, out_path;
  bool has_size = false;
  size_t size = 0;
};
bool parse_codec_args(std::vector<std::string> args, CodecArgs& out);

}  // namespace orvl
