// LZ block codec: LZSS over a 4096-byte window with an adaptive arithmetic coder.
//
// `LzCodec` compresses one memory block into another and back. The pack archive packs
// its directory and entries with it. The compressed block has no header: the caller
// keeps the uncompressed length and the compressed length beside the block.
//
// The encoder is a faithful LZARI: matches are found by walking one binary search tree
// per first byte, the window starts as 4036 spaces with only the 60 positions before
// the first input byte in the trees, and the window bytes past the end of the input are
// whatever an earlier byte left there (zero after `reset`). Its output is pinned byte for
// byte by reference vectors, so the search, the tie-breaking and the ending must not be
// "improved".
//
// Use: `reset`, `set_input`, then `compress` or `decompress`, then `output` /
// `take_output` (and `compressed_length` after compressing). The state is about 110 KiB
// of fixed arrays; a run allocates only its output.
//
// Speed without changing a bit of the output: the tree walk picks its next link by index
// rather than by branch (the direction is data, so a branch mispredicts half the time)
// and its links are 16-bit so the trees, the window and the parents share the level-one
// cache; the model finds the first order of a frequency in a table rather than by search;
// bits go out and come in through word-sized accumulators; and the decoder maps a
// position's cumulative count to the position through one shared table.
//
// Bad input: decompression cannot detect damaged data (an arithmetic code decodes any
// bit string); it reads nothing past the `available` compressed bytes (missing bits read
// as 0) and writes exactly the requested length. Blocks above kMaxLzBlock are refused
// before anything is allocated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvl {

enum class [[nodiscard]] LzStatus : int {
  ok = 0,
  out_of_memory = 1,  // the output buffer could not be allocated
  too_large = 2,      // the block (or the length to produce) exceeds kMaxLzBlock
};
const char* lz_status_text(LzStatus s);

// Largest block either direction accepts: far above any archive entry, small enough
// that a hostile length cannot exhaust memory.
constexpr uint32_t kMaxLzBlock = uint32_t(1) << 30;

class LzCodec {
 public:
  static constexpr int N = 4096;       // window size
  static constexpr int F = 60;         // longest match
  static constexpr int kThreshold = 2; // a match must be longer than this to be coded
  static constexpr int kNil = N;       // empty tree link
  static constexpr int kSymbols = 256 - kThreshold + F;  // 314: bytes, then lengths 3..60
  static constexpr uint32_t Q1 = 0x8000, Q2 = 0x10000, Q3 = 0x18000, Q4 = 0x20000;
  static constexpr uint32_t kMaxCum = Q1 - 1;

  // Clears the whole state (window included) and sets the coder registers.
  void reset();
  // The block to compress: `length` bytes at `buffer` (not owned, must outlive the run).
  void set_input(const uint8_t* buffer, uint32_t length);
  // The block to decompress: `available` compressed bytes at `buffer`, from which
  // `length` bytes are to be produced.
  void set_input(const uint8_t* buffer, uint32_t length, uint32_t available);

  LzStatus compress();
  LzStatus decompress();

  // Result of the last run: compressed bytes (compressed_length of them) or the
  // produced block. Empty for an empty block.
  const std::vector<uint8_t>& output() const { return output_; }
  std::vector<uint8_t> take_output() { return std::move(output_); }
  uint32_t compressed_length() const { return compressed_length_; }

 private:
  // Bytes of zero past the window so the match compare can load 16 bytes at a time.
  static constexpr int kTextPad = 16;

  void start_model();
  void update_model(int order);
  void init_tree();
  int16_t& link_left(int i) { return links_[size_t(i)].child[0]; }
  int16_t& link_right(int i) { return links_[size_t(i)].child[1]; }
  void insert_node(int r);
  void delete_node(int p);

  void put_word(uint32_t bits, uint32_t count);  // the low `count` (<= 32) bits, highest first
  void put_bits(uint32_t bit, uint32_t count);
  void output_bit(uint32_t bit);
  void narrow(uint32_t cum_high, uint32_t cum_low, uint32_t total);
  void encode_symbol(int c);
  void encode_position(int p);
  void encode_end();

  uint32_t get_bits(int count);  // the next `count` (<= 32) input bits, first highest
  void widen_decoder();
  int decode_symbol();
  int decode_position();

  // Bits waiting to go out (the low `bit_count_` bits, first bit highest) or, decoding,
  // bits read ahead (the high `bit_count_` bits).
  uint64_t bit_buffer_ = 0;
  int bit_count_ = 0;
  int match_position_ = 0;
  int match_length_ = 0;
  // Both child links of a node side by side (left, right): the tree walk reads one of
  // them per node. Entries N + 1 + c are the roots, one per first byte; they only use the
  // right link.
  struct Links {
    int16_t child[2] = {0, 0};
  };
  std::array<Links, N + 257> links_{};
  std::array<int16_t, N + 1> parent_{};
  std::array<uint8_t, N + F - 1 + kTextPad> text_{};
  std::array<int32_t, kSymbols> order_of_{};
  std::array<int32_t, kSymbols + 1> symbol_at_{};
  uint32_t low_ = 0, high_ = Q4, value_ = 0;
  std::array<uint32_t, kSymbols + 1> order_freq_{};
  // Cumulative counts stay below kMaxCum, so 16 bits hold them and the increment after
  // every symbol touches half the memory; the array is padded to whole 8-count steps.
  std::array<uint16_t, (kSymbols + 1 + 7) / 8 * 8> order_cum_{};
  // The lowest order holding each frequency that some order holds; other entries are
  // stale and never read.
  std::array<uint16_t, kMaxCum + 1> first_order_of_{};
  std::array<uint32_t, N + 1> pos_cum_{};
  const uint16_t* position_of_ = nullptr;  // shared table: cumulative count -> position
  uint32_t position_count_ = 0;
  uint32_t bytes_written_ = 0;
  uint32_t shifts_ = 0;
  const uint8_t* input_cursor_ = nullptr;
  const uint8_t* input_end_ = nullptr;
  uint8_t* output_cursor_ = nullptr;
  uint8_t* output_end_ = nullptr;
  const uint8_t* input_ = nullptr;
  std::vector<uint8_t> output_;
  uint32_t input_length_ = 0;
  uint32_t input_available_ = 0;
  uint32_t compressed_length_ = 0;
};

// One-shot helpers; the codec state lives on the heap for the call.
LzStatus lz_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
LzStatus lz_expand(const uint8_t* data, size_t size, size_t length, std::vector<uint8_t>& out);

}  // namespace orvl
