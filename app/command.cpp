#include "app/command.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvl {
namespace {
std::vector<CommandInfo>& registry() {
  static std::vector<CommandInfo> r;
  return r;
}
}  // namespace

void register_command(const CommandInfo& info) { registry().push_back(info); }

const CommandInfo* find_command(const std::string& name) {
  for (const auto& c : registry())
    if (name == c.name) return &c;
  return nullptr;
}

std::vector<CommandInfo> all_commands() {
  auto v = registry();
  std::sort(v.begin(), v.end(),
            [](const CommandInfo& a, const CommandInfo& b) { return std::strcmp(a.name, b.name) < 0; });
  return v;
}

bool take_flag(std::vector<std::string>& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return false;
  args.erase(it);
  return true;
}

bool take_option(std::vector<std::string>& args, const std::string& name, std::string& value,
                 bool* missing_value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        if (missing_value) *missing_value = true;
        args.erase(args.begin() + static_cast<long>(i));
        return false;
      }
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      value = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool parse_codec_args(std::vector<std::string> args, CodecArgs& out) {
  std::string size_text;
  bool missing = false;
  out.has_size = take_option(args, "--size", size_text, &missing);
  if (missing || args.size() != 3) return false;
  out.expand = args[0] == "expand";
  if (!out.expand && args[0] != "compress") return false;
  out.in_path = args[1];
  out.out_path = args[2];
  if (out.has_size) {
    if (size_text.empty() || size_text.find_first_not_of("0123456789") != std::string::npos) return false;
    // A whole number too large for any buffer is still a number: the command refuses it
    // as too large (exit 1), not as a usage error. It saturates instead of wrapping.
    const size_t digits = size_text.find_first_not_of('0');
    out.size = digits == std::string::npos       ? 0
               : size_text.size() - digits > 18 ? SIZE_MAX
                                                : size_t(std::stoull(size_text));
  }
  return true;
}

}  // namespace orvl
