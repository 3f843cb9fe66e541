#include "image/iff.h"

#include <cstring>

namespace orvl {

bool ByteReader::seek(size_t pos) {
  if (pos > size_) return fail();
  pos_ = pos;
  return true;
}

bool ByteReader::skip(size_t n) {
  if (n > remaining()) return fail();
  pos_ += n;
  return true;
}

bool ByteReader::u8(uint8_t& v) {
  if (remaining() < 1) return fail();
  v = data_[pos_++];
  return true;
}

bool ByteReader::u16be(uint16_t& v) {
  if (remaining() < 2) return fail();
  v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return true;
}

bool ByteReader::u32be(uint32_t& v) {
  if (remaining() < 4) return fail();
  const uint8_t* p = data_ + pos_;
  v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
  pos_ += 4;
  return true;
}

bool ByteReader::f32be(float& v) {
  uint32_t bits;
  if (!u32be(bits)) return false;
  std::memcpy(&v, &bits, sizeof v);
  return true;
}

bool ByteReader::u16le(uint16_t& v) {
  if (remaining() < 2) return fail();
  v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool ByteReader::u32le(uint32_t& v) {
  if (remaining() < 4) return fail();
  const uint8_t* p = data_ + pos_;
  v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
  pos_ += 4;
  return true;
}

bool ByteReader::bytes(size_t n, const uint8_t*& out) {
  if (n > remaining()) return fail();
  out = data_ + pos_;
  pos_ += n;
  return true;
}

bool ByteReader::id_is(const char* id) const {
  return remaining() >= 4 && std::memcmp(data_ + pos_, id, 4) == 0;
}

size_t ByteReader::cstring(std::string& out, bool pad_even, size_t max_keep) {
  const uint8_t* start = data_ + pos_;
  size_t avail = remaining();
  const void* nul = avail ? std::memchr(start, 0, avail) : nullptr;
  size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - start) : avail;
  out.assign(reinterpret_cast<const char*>(start), len < max_keep ? len : max_keep);
  size_t step = len + (nul ? 1 : 0);
  if (pad_even && ((len + 1) & 1) && step < avail) ++step;
  pos_ += step;
  return len;
}

bool IffChunk::is(const char* four) const { return std::memcmp(id, four, 4) == 0; }

bool ChunkWalker::next(IffChunk& chunk) {
  if (truncated_ || pos_ >= size_) return false;
  size_t header = width_ == ChunkSize::u32 ? 8 : 6;
  if (size_ - pos_ < header) {
    leftover_ = size_ - pos_;
    pos_ = size_;
    return false;
  }
  const uint8_t* p = data_ + pos_;
  std::memcpy(chunk.id, p, 4);
  chunk.id[4] = 0;
  chunk.size = width_ == ChunkSize::u32
                   ? (uint32_t(p[4]) << 24) | (uint32_t(p[5]) << 16) | (uint32_t(p[6]) << 8) | p[7]
                   : (uint32_t(p[4]) << 8) | p[5];
  chunk.offset = pos_ + header;
  chunk.data = data_ + chunk.offset;
  if (chunk.size > size_ - chunk.offset) {
    truncated_ = true;
    return false;
  }
  pos_ = chunk.offset + chunk.size;
  // A pad byte missing at the very end of the span is tolerated: writers often drop it.
  if (pad_odd_ && (chunk.size & 1) && pos_ < size_) ++pos_;
  return true;
}

}  // namespace orvl
