#include "codec/lz_codec.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <new>
#include <vector>

// The match compare reads the window eight bytes at a time and ranks the first
// differing byte by its place in the word.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the match compare assumes a little-endian machine"
#endif

namespace orvl {

const char* lz_status_text(LzStatus s) {
  switch (s) {
    case LzStatus::ok: return "success";
    case LzStatus::out_of_memory: return "out of memory";
    case LzStatus::too_large: return "block too large";
  }
  return "unknown status";
}

void LzCodec::reset() {
  bit_buffer_ = 0;
  bit_count_ = 0;
  match_position_ = 0;
  match_length_ = 0;
  links_.fill(Links{});
  parent_.fill(0);
  text_.fill(0);
  order_of_.fill(0);
  symbol_at_.fill(0);
  order_freq_.fill(0);
  order_cum_.fill(0);
  // first_order_of_ needs no clearing: the model writes every entry it later reads.
  pos_cum_.fill(0);
  low_ = 0;
  high_ = Q4;
  value_ = 0;
  shifts_ = 0;
  bytes_written_ = 0;
  input_cursor_ = input_end_ = input_ = nullptr;
  output_cursor_ = output_end_ = nullptr;
  output_.clear();
  output_.shrink_to_fit();
  input_length_ = input_available_ = compressed_length_ = 0;
}

void LzCodec::set_input(const uint8_t* buffer, uint32_t length) { set_input(buffer, length, length); }

void LzCodec::set_input(const uint8_t* buffer, uint32_t length, uint32_t available) {
  input_ = input_cursor_ = buffer;
  input_end_ = buffer ? buffer + available : buffer;
  input_length_ = length;
  input_available_ = buffer ? available : 0;
  output_cursor_ = output_.data();
}

// --- adaptive model -------------------------------------------------------------------

void LzCodec::start_model() {
  order_cum_[kSymbols] = 0;
  for (int k = kSymbols; k >= 1; --k) {
    order_of_[k - 1] = k;
    symbol_at_[k] = k - 1;
    order_freq_[k] = 1;
    order_cum_[k - 1] = uint16_t(order_cum_[k] + 1);
  }
  order_freq_[0] = 0;  // sentinel: differs from every real frequency
  first_order_of_[1] = 1;
  pos_cum_[N] = 0;
  for (int i = N; i >= 1; --i) pos_cum_[i - 1] = pos_cum_[i] + 10000 / (i + 200);
}

void LzCodec::update_model(int s) {
  if (order_cum_[0] >= kMaxCum) {
    uint32_t c = 0;
    for (int i = kSymbols; i > 0; --i) {
      order_cum_[i] = uint16_t(c);
      order_freq_[i] = (order_freq_[i] + 1) / 2;
      c += order_freq_[i];
      first_order_of_[order_freq_[i]] = uint16_t(i);  // the last write is the lowest order
    }
    order_cum_[0] = uint16_t(c);
  }
  // Frequencies never increase with the order (the model keeps them sorted), so the
  // orders holding s's frequency form one run; s moves to its start and the start's
  // frequency grows by one.
  const uint32_t f = order_freq_[s];
  const int i = first_order_of_[f];
  if (i < s) {
    int ci = symbol_at_[i], cs = symbol_at_[s];
    symbol_at_[i] = cs;
    symbol_at_[s] = ci;
    order_of_[ci] = s;
    order_of_[cs] = i;
  }
  order_freq_[i] = f + 1;
  // The run of f now starts one later, if it goes on; the run of f + 1 either already
  // started before i or starts at i.
  if (i < kSymbols && order_freq_[i + 1] == f) first_order_of_[f] = uint16_t(i + 1);
  if (order_freq_[i - 1] != f + 1) first_order_of_[f + 1] = uint16_t(i);
#if defined(__SSE2__)
  // Eight counts per step, the last step masked: no scalar tail to mispredict.
  const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i limit = _mm_set1_epi16(int16_t(i));
  for (int j = 0; j < i; j += 8) {
    __m128i* at = reinterpret_cast<__m128i*>(&order_cum_[size_t(j)]);
    const __m128i below = _mm_cmplt_epi16(_mm_add_epi16(lanes, _mm_set1_epi16(int16_t(j))), limit);
    _mm_storeu_si128(at, _mm_sub_epi16(_mm_loadu_si128(at), below));  // below is -1 or 0
  }
#else
  for (int j = 0; j < i; ++j) ++order_cum_[j];
#endif
}

// --- match trees ----------------------------------------------------------------------

void LzCodec::init_tree() {
  for (int i = N + 1; i <= N + 256; ++i) link_right(i) = kNil;
  for (int i = 0; i < N; ++i) parent_[i] = kNil;
}

namespace {

// Index (9..F - 1) of the first byte where a[9..] and b[9..] differ, F when bytes 9 to
// F - 1 agree. Both have 64 readable bytes from index 9 (the window is padded).
inline int first_difference_after_8(const uint8_t* a, const uint8_t* b) {
  constexpr int F = LzCodec::F;
  uint64_t differ;
#if defined(__SSE2__)
  uint64_t same = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 9 + 16 * k));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 9 + 16 * k));
    same |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(u, v)))) << (16 * k);
  }
  differ = ~same;
#else
  differ = 0;
  for (int k = 0; k < F - 9; ++k) differ |= uint64_t(a[9 + k] != b[9 + k]) << k;
#endif
  differ &= (uint64_t(1) << (F - 9)) - 1;
  return differ ? 9 + __builtin_ctzll(differ) : F;
}

}  // namespace

void LzCodec::insert_node(int r) {
  const uint8_t* key = &text_[r];
  const uint8_t* text = text_.data();
  int16_t* links = &links_[0].child[0];  // node p's left link at 2p, right link at 2p + 1
  static_assert(sizeof(Links) == 4, "a node's two links form one 32-bit word");
  int p = N + 1 + key[0];
  links[2 * r] = links[2 * r + 1] = int16_t(kNil);
  int best_length = 0, best_position = match_position_;
  int side = 1;  // right: the roots only use their right link
  int from = p;
  int next = links[2 * p + 1];
  for (;;) {
    if (next == kNil) {
      links[2 * from + side] = int16_t(r);
      parent_[r] = int16_t(from);
      match_length_ = best_length;
      match_position_ = best_position;
      return;
    }
    p = next;
    // Both links of p are read now, beside its bytes, so the way on is one select after
    // the compare rather than a load.
    uint32_t both;
    std::memcpy(&both, &links[2 * p], sizeof both);
    // First differing byte of key[1..] and text[p + 1..], and which string is greater.
    // Most strings differ in their first eight bytes; the rest is compared at once.
    const uint8_t* other = text + p;
    int i;
    uint64_t x, y;
    std::memcpy(&x, key + 1, 8);
    std::memcpy(&y, other + 1, 8);
    if (x != y) {
      i = 1 + (__builtin_ctzll(x ^ y) >> 3);
      side = __builtin_bswap64(x) > __builtin_bswap64(y);
    } else {
      i = first_difference_after_8(key, other);
      side = i < F ? key[i] > other[i] : 1;  // equal strings go right
    }
    // Of equally long matches on the search path the nearest is coded.
    const int distance = (r - p) & (N - 1);
    // Masks rather than branches: whether a node beats the best so far is data.
    const int length = i & -int(i > kThreshold);
    const uint32_t better = uint32_t(length > best_length) |
                            (uint32_t(length == best_length) & uint32_t(length != 0) &
                             uint32_t(distance < best_position));
    const int mask = -int(better);
    best_length = (length & mask) | (best_length & ~mask);
    best_position = (distance & mask) | (best_position & ~mask);
    if (i >= F) break;
    next = int((both >> (side << 4)) & 0xFFFF);  // a shift, not a branch: side is data
    from = p;
  }
  match_length_ = best_length;
  match_position_ = best_position;
  // Full-length match: r takes p's place, so the tree keeps one node per string.
  parent_[r] = parent_[p];
  link_left(r) = link_left(p);
  link_right(r) = link_right(p);
  parent_[link_left(p)] = int16_t(r);
  parent_[link_right(p)] = int16_t(r);
  if (link_right(parent_[p]) == p)
    link_right(parent_[p]) = int16_t(r);
  else
    link_left(parent_[p]) = int16_t(r);
  parent_[p] = int16_t(kNil);
}

void LzCodec::delete_node(int p) {
  if (parent_[p] == kNil) return;
  int q;
  if (link_right(p) == kNil) {
    q = link_left(p);
  } else if (link_left(p) == kNil) {
    q = link_right(p);
  } else {
    q = link_left(p);
    if (link_right(q) != kNil) {
      do q = link_right(q);
      while (link_right(q) != kNil);
      link_right(parent_[q]) = link_left(q);
      parent_[link_left(q)] = parent_[q];
      link_left(q) = link_left(p);
      parent_[link_left(p)] = q;
    }
    link_right(q) = link_right(p);
    parent_[link_right(p)] = q;
  }
  parent_[q] = parent_[p];
  // Roots (N + 1 .. N + 256) only ever have a right child: a node under a root is
  // always its right child.
  if (link_right(parent_[p]) == p)
    link_right(parent_[p]) = q;
  else
    link_left(parent_[p]) = q;
  parent_[p] = kNil;
}

// --- bit output -----------------------------------------------------------------------

void LzCodec::put_word(uint32_t bits, uint32_t count) {
  // Fewer than 8 bits wait, so 32 more still fit the accumulator.
  bit_buffer_ = bit_buffer_ << count | bits;
  bit_count_ += int(count);
  while (bit_count_ >= 8) {
    if (output_cursor_ == output_end_) {
      // The buffer is sized for the worst case seen in practice plus slack; grow
      // rather than overrun should an input ever beat that.
      size_t used = output_.size();
      output_.resize(used * 2 + 64);
      output_cursor_ = output_.data() + used;
      output_end_ = output_.data() + output_.size();
    }
    bit_count_ -= 8;
    *output_cursor_++ = uint8_t(bit_buffer_ >> bit_count_);
    ++bytes_written_;
  }
}

void LzCodec::put_bits(uint32_t bit, uint32_t count) {
  while (count > 0) {
    const uint32_t n = count < 32 ? count : 32;
    put_word(bit ? uint32_t((uint64_t(1) << n) - 1) : 0, n);
    count -= n;
  }
}

void LzCodec::output_bit(uint32_t bit) {
  put_bits(bit, 1);
  put_bits(!bit, shifts_);
  shifts_ = 0;
}

void LzCodec::narrow(uint32_t cum_high, uint32_t cum_low, uint32_t total) {
  uint32_t range = high_ - low_;
  high_ = low_ + range * cum_high / total;
  low_ = low_ + range * cum_low / total;
  // Renormalising one bit at a time branches on the data at every bit. In 17-bit terms
  // with L = low and H = high - 1, it first shifts out every leading bit that L and H
  // share (each one an output bit, the first followed by the pending opposite bits),
  // then, while L reads 01.. and H 10.., drops their second bit and counts it pending.
  // Both runs have closed forms.
  uint32_t L = low_, H = high_ - 1;
  const uint32_t shared = (L ^ H) ? uint32_t(__builtin_clz(L ^ H)) - 15 : 17;
  if (shared > 0) {
    const uint32_t bits = L >> (17 - shared);
    output_bit(bits >> (shared - 1));
    put_word(bits & ((1u << (shared - 1)) - 1), shared - 1);
    L = (L << shared) & 0x1FFFF;
    H = ((H << shared) | ((1u << shared) - 1)) & 0x1FFFF;
  }
  const uint32_t stop = (~L | H) & 0xFFFF;  // a 0 in L or a 1 in H below the top bit
  const uint32_t pending = stop ? uint32_t(__builtin_clz(stop)) - 16 : 16;
  if (pending > 0) {
    shifts_ += pending;
    L = (L << pending) & 0xFFFF;
    H = 0x10000 | ((H << pending) & 0xFFFF) | ((1u << pending) - 1);
  }
  low_ = L;
  high_ = H + 1;
}

void LzCodec::encode_symbol(int c) {
  int s = order_of_[c];
  narrow(order_cum_[s - 1], order_cum_[s], order_cum_[0]);
  update_model(s);
}

void LzCodec::encode_position(int p) { narrow(pos_cum_[p], pos_cum_[p + 1], pos_cum_[0]); }

void LzCodec::encode_end() {
  ++shifts_;
  output_bit(low_ < Q1 ? 0 : 1);
  put_bits(0, 7);  // completes a partly filled last byte
}

// --- compression ----------------------------------------------------------------------

LzStatus LzCodec::compress() {
  low_ = 0;
  high_ = Q4;
  value_ = 0;
  shifts_ = 0;
  bytes_written_ = 0;
  bit_buffer_ = 0;
  bit_count_ = 0;
  compressed_length_ = 0;
  output_.clear();
  if (input_length_ > kMaxLzBlock) return LzStatus::too_large;
  if (input_length_ == 0 || !input_) return LzStatus::ok;
  try {
    // Twice the input, plus room for the coder's end bits on tiny blocks.
    output_.assign(size_t(input_length_) * 2 + 16, 0);
  } catch (const std::bad_alloc&) {
    return LzStatus::out_of_memory;
  }
  output_cursor_ = output_.data();
  output_end_ = output_.data() + output_.size();

  start_model();
  init_tree();
  std::memset(text_.data(), ' ', N - F);
  const uint8_t* in = input_;
  const uint8_t* in_end = input_ + input_length_;
  int s = 0, r = N - F;
  int len = 0;
  while (len < F && in < in_end) text_[r + len++] = *in++;
  // The window starts as spaces: the F positions before r are searchable at once.
  for (int i = 1; i <= F; ++i) insert_node(r - i);
  insert_node(r);
  do {
    if (match_length_ > len) match_length_ = len;
    if (match_length_ <= kThreshold) {
      match_length_ = 1;
      encode_symbol(text_[r]);
    } else {
      encode_symbol(255 - kThreshold + match_length_);
      encode_position(match_position_ - 1);
    }
    int last = match_length_;
    int i = 0;
    for (; i < last && in < in_end; ++i) {
      delete_node(s);
      uint8_t c = *in++;
      text_[s] = c;
      if (s < F - 1) text_[s + N] = c;  // mirror so compares need no wrap
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      insert_node(r);
    }
    for (; i < last; ++i) {
      delete_node(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len) insert_node(r);
    }
  } while (len > 0);
  encode_end();
  compressed_length_ = bytes_written_;
  input_cursor_ = in;
  output_.resize(compressed_length_);
  output_cursor_ = output_end_ = nullptr;
  return LzStatus::ok;
}

// --- decompression --------------------------------------------------------------------

namespace {

// Index of the first of n non-increasing values that is <= x (the last one always is:
// both tables end in 0). Branch-free: the decoder's symbol is data, so a branchy
// search mispredicts about every other step.
template <typename T>
inline int first_at_most(const T* a, int n, uint32_t x) {
  const T* base = a;
  while (n > 1) {
    int half = n / 2;
    base = base[half] > x ? base + half : base;
    n -= half;
  }
  return int(base - a) + (*base > x);
}

// For every cumulative count x below the total, the position p whose interval
// [pos_cum_[p + 1], pos_cum_[p]) holds it. The counts are fixed, so one table serves
// every codec.
const std::vector<uint16_t>& position_of_count() {
  static const std::vector<uint16_t> table = [] {
    constexpr int N = LzCodec::N;
    std::vector<uint32_t> cum(N + 1, 0);
    for (int i = N; i >= 1; --i) cum[size_t(i - 1)] = cum[size_t(i)] + uint32_t(10000 / (i + 200));
    std::vector<uint16_t> t(cum[0]);
    for (int p = 0; p < N; ++p)
      for (uint32_t x = cum[size_t(p + 1)]; x < cum[size_t(p)]; ++x) t[x] = uint16_t(p);
    return t;
  }();
  return table;
}

}  // namespace

uint32_t LzCodec::get_bits(int count) {
  if (bit_count_ < count) {
    // Top up to at least 57 bits; past the end of damaged or short data the bits read as 0.
    while (bit_count_ <= 56) {
      const uint64_t byte = input_cursor_ < input_end_ ? *input_cursor_++ : 0;
      bit_buffer_ |= byte << (56 - bit_count_);
      bit_count_ += 8;
    }
  }
  if (count == 0) return 0;
  const uint32_t bits = uint32_t(bit_buffer_ >> (64 - count));
  bit_buffer_ <<= count;
  bit_count_ -= count;
  return bits;
}

void LzCodec::widen_decoder() {
  // The bit-by-bit loop takes the same number of steps as the encoder's and ends in the
  // same low and high (where the two differ on the way, only in the top bit), so the
  // encoder's closed form applies. The value keeps its distance to low, doubled and
  // fed one input bit per step.
  const uint32_t distance = value_ - low_;
  uint32_t L = low_, H = high_ - 1;
  const uint32_t shared = (L ^ H) ? uint32_t(__builtin_clz(L ^ H)) - 15 : 17;
  if (shared > 0) {
    L = (L << shared) & 0x1FFFF;
    H = ((H << shared) | ((1u << shared) - 1)) & 0x1FFFF;
  }
  const uint32_t stop = (~L | H) & 0xFFFF;
  const uint32_t pending = stop ? uint32_t(__builtin_clz(stop)) - 16 : 16;
  if (pending > 0) {
    L = (L << pending) & 0xFFFF;
    H = 0x10000 | ((H << pending) & 0xFFFF) | ((1u << pending) - 1);
  }
  const int steps = int(shared + pending);  // at most 33
  const uint64_t fed = steps > 32 ? uint64_t(get_bits(32)) << 1 | get_bits(1) : get_bits(steps);
  value_ = L + uint32_t((uint64_t(distance) << steps) + fed);
  low_ = L;
  high_ = H + 1;
}

int LzCodec::decode_symbol() {
  uint32_t range = high_ - low_;
  uint32_t x = ((value_ - low_ + 1) * order_cum_[0] - 1) / range;
  int s = 1 + first_at_most(&order_cum_[1], kSymbols, x);
  high_ = low_ + range * order_cum_[s - 1] / order_cum_[0];
  low_ = low_ + range * order_cum_[s] / order_cum_[0];
  widen_decoder();
  int c = symbol_at_[s];
  update_model(s);
  return c;
}

int LzCodec::decode_position() {
  uint32_t range = high_ - low_;
  uint32_t x = ((value_ - low_ + 1) * pos_cum_[0] - 1) / range;
  // Counts at or past the first interval's start (only damaged data gets there) give 0,
  // as a search of the intervals would.
  int p = x < position_count_ ? position_of_[x] : 0;
  high_ = low_ + range * pos_cum_[p] / pos_cum_[0];
  low_ = low_ + range * pos_cum_[p + 1] / pos_cum_[0];
  widen_decoder();
  return p;
}

LzStatus LzCodec::decompress() {
  low_ = 0;
  high_ = Q4;
  value_ = 0;
  shifts_ = 0;
  bytes_written_ = 0;
  bit_buffer_ = 0;
  bit_count_ = 0;
  input_cursor_ = input_;
  output_.clear();
  if (input_length_ > kMaxLzBlock) return LzStatus::too_large;
  if (input_length_ == 0) return LzStatus::ok;
  if (!input_) input_end_ = input_cursor_ = nullptr;

  value_ = get_bits(17);
  start_model();
  const std::vector<uint16_t>& positions = position_of_count();
  position_of_ = positions.data();
  position_count_ = uint32_t(positions.size());
  std::memset(text_.data(), ' ', N - F);
  int r = N - F;
  try {
    output_.assign(input_length_, 0);
  } catch (const std::bad_alloc&) {
    return LzStatus::out_of_memory;
  }
  uint8_t* out = output_.data();
  uint8_t* out_end = out + input_length_;
  while (out < out_end) {
    int c = decode_symbol();
    if (c < 256) {
      *out++ = uint8_t(c);
      text_[r] = uint8_t(c);
      r = (r + 1) & (N - 1);
    } else {
      int start = (r - decode_position() - 1) & (N - 1);
      int count = c - 255 + kThreshold;
      for (int k = 0; k < count && out < out_end; ++k) {
        uint8_t b = text_[(start + k) & (N - 1)];
        *out++ = b;
        text_[r] = b;
        r = (r + 1) & (N - 1);
      }
    }
  }
  return LzStatus::ok;
}

// --- one-shot helpers -----------------------------------------------------------------

LzStatus lz_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  if (size > kMaxLzBlock) return LzStatus::too_large;
  std::unique_ptr<LzCodec> codec(new (std::nothrow) LzCodec);
  if (!codec) return LzStatus::out_of_memory;
  codec->reset();
  codec->set_input(data, uint32_t(size));
  LzStatus st = codec->compress();
  if (st == LzStatus::ok) out = codec->take_output();
  return st;
}

LzStatus lz_expand(const uint8_t* data, size_t size, size_t length, std::vector<uint8_t>& out) {
  out.clear();
  if (length > kMaxLzBlock) return LzStatus::too_large;
  // Compressed bytes beyond what any block could need are never read anyway.
  if (size > size_t(kMaxLzBlock) * 2 + 16) size = size_t(kMaxLzBlock) * 2 + 16;
  std::unique_ptr<LzCodec> codec(new (std::nothrow) LzCodec);
  if (!codec) return LzStatus::out_of_memory;
  codec->reset();
  codec->set_input(data, uint32_t(length), uint32_t(size));
  LzStatus st = codec->decompress();
  if (st == LzStatus::ok) out = codec->take_output();
  return st;
}

}  // namespace orvl
