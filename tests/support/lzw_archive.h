// Writer for the LZW archive files the codec reads entries from: a little-endian entry
// count, then per entry a 136-byte record (128-byte name, uncompressed and compressed
// sizes as signed 32-bit) followed by the smaller-sized data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl::testing {

struct LzwArchiveItem {
  std::string name;  // written as given (readers compare upper-cased)
  int32_t plain_size = 0;
  int32_t packed_size = 0;
  std::vector<uint8_t> data;  // written as is; its length is not checked against the sizes
};

std::vector<uint8_t> make_lzw_archive(const std::vector<LzwArchiveItem>& items);
// The usual entry: `plain` compressed with the codec, stored when that does not pay.
LzwArchiveItem lzw_archive_item(const std::string& name, const std::vector<uint8_t>& plain);

}  // namespace orvl::testing
