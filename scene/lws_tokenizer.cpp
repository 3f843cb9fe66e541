#include "scene/lws_tokenizer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace orvl {

bool LwsScanner::find_keyword(const char* keyword) {
  const size_t len = std::strlen(keyword);
  if (len == 0) return true;
  const uint8_t first = static_cast<uint8_t>(keyword[0]);
  while (pos_ < size_) {
    if (text_[pos_++] != first) continue;
    size_t i = 1;
    // Each compared character is consumed, the mismatching one included, so a partial
    // match never makes the scan look at the same text twice.
    while (i < len) {
      if (pos_ >= size_) {
        pos_ = size_;
        return false;
      }
      if (text_[pos_++] != static_cast<uint8_t>(keyword[i])) break;
      ++i;
    }
    if (i == len) return true;
  }
  if (pos_ > size_) pos_ = size_;
  return false;
}

bool LwsScanner::starts_within(const char* keyword, size_t window) const {
  const size_t len = std::strlen(keyword);
  if (pos_ >= size_ || len > size_) return false;
  for (size_t w = 0; w < window; ++w) {
    size_t start = pos_ + w;
    if (start + len > size_) return false;
    if (std::memcmp(text_ + start, keyword, len) == 0) return true;
  }
  return false;
}

void LwsScanner::skip_line() {
  while (pos_ < size_ && text_[pos_] != '\n') ++pos_;
}

void LwsScanner::skip_blanks() {
  while (pos_ < size_ && is_blank(text_[pos_])) ++pos_;
}

void LwsScanner::skip_nonblanks() {
  while (pos_ < size_ && !is_blank(text_[pos_])) ++pos_;
}

void LwsScanner::next_field() {
  // The position may still be on the blanks in front of the number just read.
  skip_blanks();
  skip_nonblanks();
  skip_blanks();
}

size_t LwsScanner::number_start(bool& negative) const {
  size_t p = pos_;
  while (p < size_ && is_blank(text_[p])) ++p;
  negative = p < size_ && text_[p] == '-';
  return negative ? p + 1 : p;
}

int LwsScanner::read_int() const {
  bool negative = false;
  size_t p = number_start(negative);
  // Saturates instead of wrapping, so an absurd count stays absurd and is rejected.
  long long value = 0;
  while (p < size_ && text_[p] >= '0' && text_[p] <= '9') {
    if (value <= INT_MAX) value = value * 10 + (text_[p] - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

long double LwsScanner::read_float() const {
  bool negative = false;
  size_t p = number_start(negative);
  long double value = 0;
  while (p < size_ && text_[p] >= '0' && text_[p] <= '9') value = value * 10 + (text_[p++] - '0');
  if (p >= size_ || text_[p] != '.') return negative ? -value : value;
  ++p;
  int fraction_digits = 0;
  while (p < size_ && text_[p] >= '0' && text_[p] <= '9') {
    value = value * 10 + (text_[p++] - '0');
    ++fraction_digits;
  }
  const uint8_t after = p < size_ ? text_[p] : 0;
  if (after == 'e' || after == 'E' || after == 'd' || after == 'D') {
    // Exponent form: hand the text to the C library. The text is not zero-terminated, so
    // copy exactly what strtod could consume: blanks, sign, digits, point, exponent.
    size_t end = p + 1;
    if (end < size_ && (text_[end] == '+' || text_[end] == '-')) ++end;
    while (end < size_ && text_[end] >= '0' && text_[end] <= '9') ++end;
    std::string number(reinterpret_cast<const char*>(text_ + pos_), end - pos_);
    return std::strtod(number.c_str(), nullptr);
  }
  for (int i = 0; i < fraction_digits; ++i) value *= 0.1L;
  return negative ? -value : value;
}

std::string LwsScanner::rest_of_line() const {
  size_t p = pos_;
  while (p < size_ && text_[p] != '\r' && text_[p] != '\n' && text_[p] != 0) ++p;
  return p > pos_ ? std::string(reinterpret_cast<const char*>(text_ + pos_), p - pos_) : std::string();
}

}  // namespace orvl
