#include "codec/lz_codec.h"

#include <cstring>
#include <memory>
#include <new>

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
  bit_mask_ = 0;
  match_position_ = 0;
  match_length_ = 0;
  links_.fill(Links{});
  parent_.fill(0);
  text_.fill(0);
  order_of_.fill(0);
  symbol_at_.fill(0);
  order_freq_.fill(0);
  order_cum_.fill(0);
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
    order_cum_[k - 1] = order_cum_[k] + 1;
  }
  order_freq_[0] = 0;  // sentinel: differs from every real frequency
  pos_cum_[N] = 0;
  for (int i = N; i >= 1; --i) pos_cum_[i - 1] = pos_cum_[i] + 10000 / (i + 200);
}

void LzCodec::update_model(int s) {
  if (order_cum_[0] >= kMaxCum) {
    uint32_t c = 0;
    for (int i = kSymbols; i > 0; --i) {
      order_cum_[i] = c;
      order_freq_[i] = (order_freq_[i] + 1) / 2;
      c += order_freq_[i];
    }
    order_cum_[0] = c;
  }
  // Find the lowest order holding the same frequency as s. Frequencies never increase
  // with the order (the model keeps them sorted), so after a short walk, which is all
  // that skewed data needs, a binary search finds the start of a long run of equal
  // counts (common in random data).
  const uint32_t f = order_freq_[s];
  int i = s;
  for (int steps = 0; steps < 8 && order_freq_[i - 1] == f; ++steps) --i;
  if (order_freq_[i - 1] == f) {
    int lo = 1, hi = i - 1;  // order_freq_[hi] == f; order_freq_[0] is the 0 sentinel
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (order_freq_[mid] > f)
        lo = mid + 1;
      else
        hi = mid;
    }
    i = lo;
  }
  if (i < s) {
    int ci = symbol_at_[i], cs = symbol_at_[s];
    symbol_at_[i] = cs;
    symbol_at_[s] = ci;
    order_of_[ci] = s;
    order_of_[cs] = i;
  }
  ++order_freq_[i];
  for (int j = i - 1; j >= 0; --j) ++order_cum_[j];
}

// --- match trees ----------------------------------------------------------------------

void LzCodec::init_tree() {
  for (int i = N + 1; i <= N + 256; ++i) link_right(i) = kNil;
  for (int i = 0; i < N; ++i) parent_[i] = kNil;
}

namespace {

// Index (1..F) of the first byte where a[1..] and b[1..] differ, F when the first F - 1
// agree. Both pointers have at least F + 8 readable bytes (the window is padded).
inline int first_difference(const uint8_t* a, const uint8_t* b) {
  constexpr int F = LzCodec::F;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (int i = 1; i < F; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      int d = i + __builtin_ctzll(x ^ y) / 8;
      return d < F ? d : F;
    }
  }
  return F;
#else
  for (int i = 1; i < F; ++i)
    if (a[i] != b[i]) return i;
  return F;
#endif
}

}  // namespace

void LzCodec::insert_node(int r) {
  const uint8_t* key = &text_[r];
  int p = N + 1 + key[0];
  link_right(r) = link_left(r) = kNil;
  match_length_ = 0;
  int cmp = 1;
  for (;;) {
    int32_t& next = cmp >= 0 ? link_right(p) : link_left(p);
    if (next == kNil) {
      next = r;
      parent_[r] = p;
      return;
    }
    p = next;
    int i = first_difference(key, &text_[p]);
    cmp = i < F ? int(key[i]) - int(text_[p + i]) : 0;
    if (i > kThreshold) {
      int distance = (r - p) & (N - 1);
      if (i > match_length_) {
        match_position_ = distance;
        match_length_ = i;
        if (i >= F) break;
      } else if (i == match_length_ && distance < match_position_) {
        // Of equally long matches on the search path the nearest is coded.
        match_position_ = distance;
      }
    }
  }
  // Full-length match: r takes p's place, so the tree keeps one node per string.
  parent_[r] = parent_[p];
  link_left(r) = link_left(p);
  link_right(r) = link_right(p);
  parent_[link_left(p)] = r;
  parent_[link_right(p)] = r;
  if (link_right(parent_[p]) == p)
    link_right(parent_[p]) = r;
  else
    link_left(parent_[p]) = r;
  parent_[p] = kNil;
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

void LzCodec::put_bit(uint32_t bit) {
  if (bit) bit_buffer_ |= bit_mask_;
  bit_mask_ >>= 1;
  if (bit_mask_ == 0) {
    if (output_cursor_ == output_end_) {
      // The buffer is sized for the worst case seen in practice plus slack; grow
      // rather than overrun should an input ever beat that.
      size_t used = output_.size();
      output_.resize(used * 2 + 64);
      output_cursor_ = output_.data() + used;
      output_end_ = output_.data() + output_.size();
    }
    *output_cursor_++ = uint8_t(bit_buffer_);
    ++bytes_written_;
    bit_buffer_ = 0;
    bit_mask_ = 128;
  }
}

void LzCodec::put_bits(uint32_t bit, uint32_t count) {
  for (; count > 0; --count) put_bit(bit);
}

void LzCodec::output_bit(uint32_t bit) {
  put_bit(bit);
  put_bits(!bit, shifts_);
  shifts_ = 0;
}

void LzCodec::narrow(uint32_t cum_high, uint32_t cum_low, uint32_t total) {
  uint32_t range = high_ - low_;
  high_ = low_ + range * cum_high / total;
  low_ = low_ + range * cum_low / total;
  for (;;) {
    if (high_ <= Q2) {
      output_bit(0);
    } else if (low_ >= Q2) {
      output_bit(1);
      low_ -= Q2;
      high_ -= Q2;
    } else if (low_ >= Q1 && high_ <= Q3) {
      ++shifts_;
      low_ -= Q1;
      high_ -= Q1;
    } else {
      break;
    }
    low_ += low_;
    high_ += high_;
  }
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
  bit_mask_ = 128;
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
inline int first_at_most(const uint32_t* a, int n, uint32_t x) {
  const uint32_t* base = a;
  while (n > 1) {
    int half = n / 2;
    base = base[half] > x ? base + half : base;
    n -= half;
  }
  return int(base - a) + (*base > x);
}

}  // namespace

uint32_t LzCodec::get_bit() {
  bit_mask_ >>= 1;
  if (bit_mask_ == 0) {
    // Past the end of damaged or short data the bits read as 0.
    bit_buffer_ = input_cursor_ < input_end_ ? *input_cursor_++ : 0;
    bit_mask_ = 128;
  }
  return (bit_buffer_ & bit_mask_) != 0;
}

void LzCodec::widen_decoder() {
  for (;;) {
    if (low_ >= Q2) {
      value_ -= Q2;
      low_ -= Q2;
      high_ -= Q2;
    } else if (low_ >= Q1 && high_ <= Q3) {
      value_ -= Q1;
      low_ -= Q1;
      high_ -= Q1;
    } else if (high_ > Q2) {
      break;
    }
    low_ += low_;
    high_ += high_;
    value_ = 2 * value_ + get_bit();
  }
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
  int p = first_at_most(&pos_cum_[1], N, x);
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
  bit_mask_ = 0;
  input_cursor_ = input_;
  output_.clear();
  if (input_length_ > kMaxLzBlock) return LzStatus::too_large;
  if (input_length_ == 0) return LzStatus::ok;
  if (!input_) input_end_ = input_cursor_ = nullptr;

  for (int i = 0; i < 17; ++i) value_ = 2 * value_ + get_bit();
  start_model();
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
