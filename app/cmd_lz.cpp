// `orvl lz compress IN OUT` / `orvl lz expand IN OUT --size N`: the LZ block codec on
// whole files. The block has no header, so expanding needs the original length.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "codec/lz_codec.h"
#include "platform/file.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: orvl lz compress IN OUT | orvl lz expand IN OUT --size N\n");
  return 2;
}

bool parse_size(const std::string& s, size_t& out) {
  if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  out = size_t(std::stoull(s));
  return true;
}

int run_lz(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  std::string size_text;
  bool missing = false;
  bool has_size = orvl::take_option(args, "--size", size_text, &missing);
  if (missing || args.size() != 3) return usage();
  const std::string& mode = args[0];
  const std::string& in_path = args[1];
  const std::string& out_path = args[2];
  bool expand = mode == "expand";
  if (!expand && mode != "compress") return usage();
  size_t size = 0;
  if (expand && (!has_size || !parse_size(size_text, size))) return usage();
  if (!expand && has_size) return usage();

  std::vector<uint8_t> in;
  orvl::FileStatus fs = orvl::read_whole_file(in_path, in);
  if (fs != orvl::FileStatus::ok) {
    std::fprintf(stderr, "orvl lz: %s: %s\n", in_path.c_str(), orvl::file_status_text(fs));
    return 1;
  }
  std::vector<uint8_t> out;
  orvl::LzStatus st = expand ? orvl::lz_expand(in.data(), in.size(), size, out)
                             : orvl::lz_compress(in.data(), in.size(), out);
  if (st != orvl::LzStatus::ok) {
    std::fprintf(stderr, "orvl lz: %s: %s\n", in_path.c_str(), orvl::lz_status_text(st));
    return 1;
  }
  if (!orvl::write_whole_file(out_path, out.data(), out.size())) {
    std::fprintf(stderr, "orvl lz: %s: cannot be written\n", out_path.c_str());
    return 1;
  }
  std::printf("%s %zu bytes -> %zu bytes\n", expand ? "expanded" : "compressed", in.size(), out.size());
  return 0;
}

const orvl::CommandRegistrar r({"lz", "lz compress|expand IN OUT [--size N]  LZ block codec (expand needs --size)",
                                run_lz});

}  // namespace
