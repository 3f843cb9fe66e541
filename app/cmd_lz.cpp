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

int run_lz(const std::vector<std::string>& argv) {
  orvl::CodecArgs a;
  // The block has no header: expanding needs the length, compressing takes none.
  if (!orvl::parse_codec_args(argv, a) || a.expand != a.has_size) return usage();
  const std::string& in_path = a.in_path;
  const std::string& out_path = a.out_path;
  const bool expand = a.expand;
  const size_t size = a.size;

  if (expand && size > orvl::kMaxLzBlock) {
    std::fprintf(stderr, "orvl lz: --size %zu is too large: a block holds at most 1 GiB\n", size);
    return 1;
  }
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
  std::string why;
  if (!orvl::write_whole_file(out_path, out.data(), out.size(), &why)) {
    std::fprintf(stderr, "orvl lz: %s: %s\n", out_path.c_str(), why.c_str());
    return 1;
  }
  std::printf("%s %zu bytes -> %zu bytes\n", expand ? "expanded" : "compressed", in.size(), out.size());
  return 0;
}

const orvl::CommandRegistrar r({"lz", "lz compress|expand IN OUT [--size N]  LZ block codec (expand needs --size)",
                                run_lz});

}  // namespace
