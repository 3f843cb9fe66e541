// `orvl lzw compress IN OUT` / `orvl lzw expand IN OUT [--size N]`: the LZW stream codec
// on whole files, driven step by step so that large inputs show a progress bar on a
// terminal.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command.h"
#include "codec/lzw_codec.h"
#include "platform/file.h"

namespace {

constexpr size_t kProgressAbove = size_t(1) << 20;

int usage() {
  std::fprintf(stderr, "usage: orvl lzw compress IN OUT | orvl lzw expand IN OUT [--size N]\n");
  return 2;
}

// A one-line bar on standard error, redrawn only when the percentage changes.
class ProgressBar {
 public:
  explicit ProgressBar(bool on) : on_(on) {}
  ~ProgressBar() {
    if (on_ && drawn_ >= 0) std::fputc('\n', stderr);
  }
  void show(int percent) {
    if (!on_ || percent == drawn_) return;
    if (percent > 100) percent = 100;
    drawn_ = percent;
    char bar[41];
    int fill = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
    bar[40] = 0;
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
  }

 private:
  bool on_;
  int drawn_ = -1;
};

int fail(const std::string& file, orvl::LzwStatus st) {
  std::fprintf(stderr, "orvl lzw: %s: %s\n", file.c_str(), orvl::lzw_status_text(st));
  return 1;
}

int run_lzw(const std::vector<std::string>& argv) {
  orvl::CodecArgs a;
  if (!orvl::parse_codec_args(argv, a) || (a.has_size && !a.expand)) return usage();
  const std::string& in_path = a.in_path;
  const std::string& out_path = a.out_path;
  const bool expand = a.expand;
  const bool has_size = a.has_size;
  const size_t size = a.size;

  orvl::LzwCodec codec;
  orvl::LzwStatus st = codec.load_input(in_path);
  if (st != orvl::LzwStatus::ok) return fail(in_path, st);
  const uint8_t* buf;
  uint32_t in_size;
  codec.input(buf, in_size);
  bool tty = ::isatty(STDERR_FILENO) && in_size > kProgressAbove;

  uint32_t out_size;
  {
    ProgressBar bar(tty);
    if (expand) {
      st = codec.begin_decode();
      uint8_t pct = 0;
      while (st == orvl::LzwStatus::ok) {
        st = codec.decode_step(pct);
        bar.show(pct - 1);
      }
      if (st != orvl::LzwStatus::end_of_data) return fail(in_path, st);
    } else {
      st = codec.begin_encode();
      uint8_t in_pct = 0, out_pct = 0;
      while (st == orvl::LzwStatus::ok) {
        st = codec.encode_step(in_pct, out_pct);
        bar.show(in_pct);
      }
      if (st != orvl::LzwStatus::finished) return fail(in_path, st);
    }
    bar.show(100);
    codec.output(buf, out_size);
  }
  if (has_size) {
    if (out_size < size) {
      std::fprintf(stderr, "orvl lzw: %s: stream holds %u bytes, fewer than %zu\n", in_path.c_str(), out_size,
                   size);
      return 1;
    }
    out_size = uint32_t(size);
  }
  std::string why;
  if (!orvl::write_whole_file(out_path, buf, out_size, &why)) {
    std::fprintf(stderr, "orvl lzw: %s: %s\n", out_path.c_str(), why.c_str());
    return 1;
  }
  std::printf("%s %u bytes -> %u bytes\n", expand ? "expanded" : "compressed", in_size, out_size);
  return 0;
}

const orvl::CommandRegistrar r({"lzw", "lzw compress|expand IN OUT [--size N]  LZW stream codec", run_lzw});

}  // namespace
