// LZW stream codec: variable-width LZW (9 to 12 bits, clear code 256, end code 257,
// codes packed most significant bit first) over whole in-memory buffers.
//
// The precalculation file stores its visibility bit stream with it. The codec runs one
// step at a time, one input byte per `encode_step` and one code per `decode_step`, so a
// caller can show progress; both directions keep the whole input and output in memory.
// It also reads one entry out of a simple LZW archive file (`load_entry`).
//
// Compressing: `set_input`, `begin_encode()`, `encode_step` until it returns nonzero,
// `output`, `end_encode`. Decompressing: `begin_decode()`, `set_input`, `decode_step`
// until nonzero, `output` (the caller keeps as many bytes as it knows the data to be),
// `end_decode`. `encode_all` / `decode_all` run the remaining steps at once without
// progress, and `take_output` hands the result over without a copy.
//
// Speed: the encoder finds a string's extension in a hash table keyed by (code, byte)
// and packs codes through a bit accumulator; the decoder copies each string from where
// it first appeared in the output. The output grows geometrically, so both directions
// run at a rate that does not fall with the size of the data.
//
// Stream: a clear code, data codes, the end code, then a zero code that only completes
// the last byte (the stream is the complete bytes). The encoder widens its codes after
// count 511/1023/2047 entries, the decoder (one entry behind) one code earlier. The end
// code is written with the width the decoder expects at that point; the decoder also
// accepts the one-bit-narrower end code that older writers put at those three counts.
//
// Bad input: a stream that does not begin with the clear code, a code that is neither
// in the dictionary nor the next one to be assigned, or a dictionary overflow gives
// `bad_data`; the end of the input without an end code ends decoding like the end code.
// Nothing is read outside the input. Output stops at kMaxLzwOutput (`out_of_memory`).
// Archives: records whose sizes are negative or run past the end of the file give
// `bad_data`; an entry above kMaxLzwOutput is refused before allocating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace orvl {

enum class [[nodiscard]] LzwStatus : int {
  ok = 0,
  cannot_open = 1,  // the file cannot be opened
  finished = 1,     // from encode_step: the stream is complete
  out_of_memory = 2,
  cannot_create = 3,
  end_of_data = 4,      // end code, end of input, or nothing to decode
  entry_stored = 5,     // the archive entry is stored uncompressed (the input holds it)
  entry_not_found = 6,
  bad_data = 7,  // damaged stream or archive
  not_regular = 8,  // the input is a directory, FIFO or device
  too_large = 9,    // the input holds more than kMaxLzwOutput bytes
};
const char* lzw_status_text(LzwStatus s);

// Largest input or output buffer the codec holds.
constexpr uint32_t kMaxLzwOutput = uint32_t(1) << 30;

class LzwCodec {
 public:
  static constexpr int kClear = 256;
  static constexpr int kEnd = 257;
  static constexpr int kFirstFree = 258;
  static constexpr int kDictionarySize = 4096;
  static constexpr int kClearAt = 4094;  // the encoder starts over at this count
  static constexpr uint32_t kFirstOutput = 64u << 10;
  static constexpr int kHashSize = 8192;  // twice the dictionary: short probe runs

  LzwStatus set_input(const uint8_t* buffer, size_t size);
  LzwStatus load_input(const std::string& file_name);
  LzwStatus load_entry(const std::string& entry_name, const std::string& archive_file_name);
  // The same from an archive already open for reading (positioned at its start).
  LzwStatus load_entry(const std::string& entry_name, std::FILE* archive);

  LzwStatus begin_encode();
  LzwStatus begin_encode(const std::string& file_name);
  LzwStatus encode_step(uint8_t& input_percent, uint8_t& output_percent);
  // Every remaining step: returns what the last `encode_step` would (finished normally).
  LzwStatus encode_all();
  void end_encode();

  LzwStatus begin_decode();
  LzwStatus begin_decode(const std::string& file_name);
  LzwStatus begin_decode_entry(const std::string& entry_name, const std::string& archive_file_name);
  LzwStatus decode_step(uint8_t& percent);
  // Every remaining step: returns what the last `decode_step` would (end_of_data normally).
  LzwStatus decode_all();
  void end_decode();

  // Buffers stay owned by the codec until the matching end operation.
  void output(const uint8_t*& buffer, uint32_t& length) const;
  // Moves the output into `out` (exactly its length); the codec's output is empty after.
  void take_output(std::vector<uint8_t>& out);
  void input(const uint8_t*& buffer, uint32_t& size) const;
  LzwStatus save_output(const std::string& file_name);
  LzwStatus save_input(const std::string& file_name);

  bool ready() const { return ready_; }
  int code_width() const { return width_; }
  int count() const { return count_; }

 private:
  LzwStatus allocate_buffers();
  void reset_positions();
  void init_dictionary();
  void reset_dictionary();
  LzwStatus encode_one();
  LzwStatus decode_one();
  bool write_code(int value, int width);
  bool read_code(int width, int& code);
  bool peek_bits(uint64_t at, int width, int& value) const;
  bool add_entry(int parent, uint8_t character);
  int find_child(int parent, uint8_t character) const;
  bool reserve_output(uint32_t n);

  int mode_ = 0;  // 1 while compressing, 0 while decompressing
  bool ready_ = false;
  bool finished_ = false;
  bool have_previous_ = false;
  uint32_t read_position_ = 0;
  uint64_t bit_position_ = 0;  // next input bit to decode; the byte is bit_position_ / 8
  // Encoder: bits not yet forming a whole byte are the low `bit_count_` bits.
  uint32_t bit_accumulator_ = 0;
  int bit_count_ = 0;
  // The output's first output_length_ bytes are valid; the vector is its capacity.
  uint32_t output_length_ = 0;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
  int width_ = 9;
  std::string output_file_name_;
  int count_ = 0;
  int current_code_ = -1;  // -1: nothing pending
  int previous_code_ = -1;
  // Encoder: (parent << 8 | byte) << 12 | code per slot, all ones when empty.
  std::vector<uint32_t> children_;
  // Decoder: where each entry's string starts in the output, and its length.
  std::vector<uint32_t> entry_start_;
  std::vector<uint16_t> entry_length_;
  uint32_t previous_start_ = 0;  // the string of previous_code_ in the output
};

// One-shot helpers over the step-wise codec.
LzwStatus lzw_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
// Decodes until the end code or the end of the input.
LzwStatus lzw_expand(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace orvl
