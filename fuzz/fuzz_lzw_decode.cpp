// LZW stream codec: decodes the bytes after the first one in one go and step by step
// (the first byte picks the calling order) and demands the same result; also reads
// them as an archive and round-trips them through the encoder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/lzw_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t* body = data + 1;
  size_t n = size - 1;
  std::vector<uint8_t> once;
  orvl::LzwStatus st1 = orvl::lzw_expand(body, n, once);

  orvl::LzwCodec codec;
  orvl::LzwStatus st = orvl::LzwStatus::ok;
  if (data[0] & 1) {
    if (codec.set_input(body, n) != orvl::LzwStatus::ok || codec.begin_decode() != orvl::LzwStatus::ok) abort();
  } else {
    if (codec.begin_decode() != orvl::LzwStatus::ok || codec.set_input(body, n) != orvl::LzwStatus::ok) abort();
  }
  uint8_t pct = 0;
  while (st == orvl::LzwStatus::ok) {
    st = codec.decode_step(pct);
    if (st == orvl::LzwStatus::ok && (pct < 1 || pct > 101)) abort();
  }
  const uint8_t* buf;
  uint32_t len;
  codec.output(buf, len);
  bool same = st1 == orvl::LzwStatus::ok ? st == orvl::LzwStatus::end_of_data && std::vector<uint8_t>(buf, buf + len) == once
                                         : st == st1;
  if (!same) abort();
  codec.end_decode();

  if ((data[0] & 2) && n > 0) {
    if (std::FILE* f = fmemopen(const_cast<uint8_t*>(body), n, "rb")) {
      (void)codec.load_entry("c:\\a", f);
      std::fclose(f);
    }
  }
  std::vector<uint8_t> packed, back;
  if (orvl::lzw_compress(body, n, packed) != orvl::LzwStatus::ok) abort();
  if (orvl::lzw_expand(packed.data(), packed.size(), back) != orvl::LzwStatus::ok) abort();
  if (back != std::vector<uint8_t>(body, body + n)) abort();
  return 0;
}
