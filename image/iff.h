// Bounds-checked reading of IFF-style chunked files (LWOB objects, ILBM pictures).
//
// `ByteReader` reads big- and little-endian numbers from a byte span and checks before
// every read: a read that does not fit fails, leaves the position unchanged and makes the
// reader's `ok()` false for good, so a caller may read a whole record and test once.
// `ChunkWalker` steps over chunks (4-character ID, 16- or 32-bit big-endian size, data,
// optionally a pad byte after odd sizes) inside a span. A chunk whose declared size runs
// past the end of the span is reported as truncated and ends the walk; what to do with a
// truncated file is the caller's decision. Nothing here allocates or keeps state beyond
// the span it was given, which must outlive the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvl {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool at_end() const { return pos_ >= size_; }
  // False once any read, skip or seek has failed.
  bool ok() const { return ok_; }

  bool seek(size_t pos);
  bool skip(size_t n);

  bool u8(uint8_t& v);
  bool u16be(uint16_t& v);
  bool u32be(uint32_t& v);
  bool f32be(float& v);  // IEEE single precision, big-endian bit pattern
  bool u16le(uint16_t& v);
  bool u32le(uint32_t& v);
  // Points `out` at the next n bytes and steps over them.
  bool bytes(size_t n, const uint8_t*& out);
  // Four bytes compared with a 4-character ID such as "FORM".
  bool id_is(const char* id) const;

  // Reads a zero-terminated string. The terminator may be missing at the end of the span:
  // the string then ends there. Steps over string and terminator, and over one pad byte
  // too when `pad_even` is set and string plus terminator have odd length (if present).
  // Returns the string's length; `out` receives at most `max_keep` characters.
  size_t cstring(std::string& out, bool pad_even, size_t max_keep = SIZE_MAX);

 private:
  bool fail() {
    ok_ = false;
    return false;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool ok_ = true;
};

struct IffChunk {
  char id[5] = {0, 0, 0, 0, 0};  // zero-terminated copy of the ID
  uint32_t size = 0;             // as declared
  size_t offset = 0;             // of the data, within the walker's span
  const uint8_t* data = nullptr;
  bool is(const char* four) const;
  ByteReader reader() const { return ByteReader(data, size); }
};

enum class ChunkSize { u16, u32 };

class ChunkWalker {
 public:
  // Walks [start, size) of `data`. `pad_odd`: an odd-sized chunk is followed by a pad byte.
  ChunkWalker(const uint8_t* data, size_t size, size_t start, ChunkSize width, bool pad_odd)
      : data_(data), size_(size), pos_(start), width_(width), pad_odd_(pad_odd) {}

  // Next complete chunk; false at the end of the span, when fewer bytes than a chunk
  // header remain (`leftover()` then counts them), or when the chunk's data runs past the
  // end (`truncated()` is then true and `chunk` describes the header that was read).
  bool next(IffChunk& chunk);
  bool truncated() const { return truncated_; }
  size_t leftover() const { return leftover_; }
  size_t pos() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  ChunkSize width_;
  bool pad_odd_;
  bool truncated_ = false;
  size_t leftover_ = 0;
};

}  // namespace orvl
