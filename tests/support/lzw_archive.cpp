#include "support/lzw_archive.h"

#include <cstring>

#include "codec/lzw_codec.h"

namespace orvl::testing {

namespace {
void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
}  // namespace

std::vector<uint8_t> make_lzw_archive(const std::vector<LzwArchiveItem>& items) {
  std::vector<uint8_t> out;
  put32(out, uint32_t(items.size()));
  for (const auto& item : items) {
    uint8_t name[128] = {};
    std::memcpy(name, item.name.data(), item.name.size() < 127 ? item.name.size() : 127);
    out.insert(out.end(), name, name + 128);
    put32(out, uint32_t(item.plain_size));
    put32(out, uint32_t(item.packed_size));
    out.insert(out.end(), item.data.begin(), item.data.end());
  }
  return out;
}

LzwArchiveItem lzw_archive_item(const std::string& name, const std::vector<uint8_t>& plain) {
  LzwArchiveItem item;
  item.name = name;
  item.plain_size = int32_t(plain.size());
  std::vector<uint8_t> packed;
  if (lzw_compress(plain.data(), plain.size(), packed) != LzwStatus::ok) packed.clear();
  if (packed.size() > plain.size()) {
    item.packed_size = int32_t(packed.size());
    item.data = plain;
  } else {
    item.packed_size = int32_t(packed.size());
    item.data = packed;
  }
  return item;
}

}  // namespace orvl::testing
