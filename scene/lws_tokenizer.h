// Forward scanner over a LightWave scene text held in memory (internal to the scene parser).
//
// The parser does not tokenize: it looks for fixed keywords from the current position on
// and reads numbers at known places. Every read is bounded by the text: a position at or
// past its end reads as a zero byte, so a number read there is 0 and a line skip stops.
// Positions may move past the end (steps over "the line feed and two blanks" at the end of
// a truncated file); they are clamped so that arithmetic on them cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvl {

class LwsScanner {
 public:
  LwsScanner(const uint8_t* text, size_t size) : text_(text), size_(size) {}

  size_t pos() const { return pos_; }
  void set_pos(size_t p) { pos_ = p > limit() ? limit() : p; }
  size_t size() const { return size_; }
  bool at_end() const { return pos_ >= size_; }

  // The byte at pos + offset, or 0 outside the text.
  uint8_t peek(size_t offset = 0) const {
    size_t p = pos_ + offset;
    return p < size_ ? text_[p] : 0;
  }

  void step(size_t n) { set_pos(pos_ + n); }
  void step_back() {
    if (pos_ > 0) --pos_;
  }

  // Forward search for `keyword` with no distance limit. Compared characters are consumed
  // and a mismatch resumes after them (no back-tracking). On success the position is just
  // past the keyword; otherwise it is the end of the text.
  bool find_keyword(const char* keyword);

  // True when `keyword` starts at pos + w for some w in 0..window-1 and lies inside the text.
  bool starts_within(const char* keyword, size_t window = 150) const;

  // Leaves the position on the next line feed (or at the end of the text).
  void skip_line();
  void skip_blanks();
  // Past the rest of the current number (and anything else up to the next blank).
  void skip_nonblanks();
  // Past the number at the position to the start of the next one on the same line.
  void next_field();

  // Numbers are read at the position without moving it.
  int read_int() const;
  long double read_float() const;

  // The text from the position up to a carriage return, line feed, zero byte or the end.
  std::string rest_of_line() const;

  static bool is_blank(uint8_t c) { return c == ' ' || c == '\t'; }

 private:
  // Steps over the blanks and a leading minus in front of a number (without moving the
  // scan); returns where its digits start.
  size_t number_start(bool& negative) const;
  // Positions stay below this bound so `pos + n` never wraps.
  size_t limit() const { return size_ + 4096; }

  const uint8_t* text_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace orvl
