// LZ block codec: expands arbitrary bits to a length taken from the first two bytes,
// and round-trips the same bytes through the compressor.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/lz_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t length = (size_t(data[0]) << 8 | data[1]) & 0x3FFF;  // up to 16 KiB
  std::vector<uint8_t> out;
  if (orvl::lz_expand(data + 2, size - 2, length, out) != orvl::LzStatus::ok || out.size() != length) abort();
  std::vector<uint8_t> packed, back;
  if (orvl::lz_compress(data + 2, size - 2, packed) != orvl::LzStatus::ok) abort();
  if (orvl::lz_expand(packed.data(), packed.size(), size - 2, back) != orvl::LzStatus::ok) abort();
  if (back != std::vector<uint8_t>(data + 2, data + size)) abort();
  return 0;
}
