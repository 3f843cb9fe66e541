#include "codec/lzw_codec.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/atomic_file.h"
#include "platform/file.h"

namespace orvl {

const char* lzw_status_text(LzwStatus s) {
  switch (static_cast<int>(s)) {
    case 0: return "success";
    case 1: return "file cannot be opened (or stream finished)";
    case 2: return "out of memory";
    case 3: return "file cannot be created";
    case 4: return "end of data";
    case 5: return "archive entry is stored uncompressed";
    case 6: return "archive entry not found";
    case 7: return "damaged data";
    case 8: return "not a regular file";
    case 9: return "file too large";
  }
  return "unknown status";
}

namespace {

// The encoder switches after adding the entry that makes count 512, 1024, 2048.
int encoder_width(int count) { return count < 512 ? 9 : count < 1024 ? 10 : count < 2048 ? 11 : 12; }
// The decoder adds each entry one code later, so it switches one count earlier.
int decoder_width(int count) { return count < 511 ? 9 : count < 1023 ? 10 : count < 2047 ? 11 : 12; }

uint8_t percent_of(double part, double whole) {
  if (whole <= 0) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(part / whole * 100.0) & 0xFF);
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

template <typename F>
bool try_alloc(F&& f) {
  try {
    f();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

// Archive names compare upper-cased (ASCII letters only) and always carry a drive.
std::string archive_name(const char* s, size_t max) {
  std::string out;
  for (size_t i = 0; i < max && s[i]; ++i) {
    char c = s[i];
    out += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
  }
  return out;
}

long remaining_bytes(std::FILE* f) {
  long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(f);
  if (std::fseek(f, here, SEEK_SET) != 0 || end < here) return -1;
  return end - here;
}

// Opens an input file for reading; a FIFO or device is refused rather than waited on.
std::FILE* open_input(const std::string& file_name, LzwStatus& why) {
  FileStatus fs = FileStatus::ok;
  const int fd = open_regular_file(file_name, fs);
  if (fd < 0) {
    why = fs == FileStatus::not_regular ? LzwStatus::not_regular : LzwStatus::cannot_open;
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    why = LzwStatus::cannot_open;
  }
  return f;
}

}  // namespace

// --- input ----------------------------------------------------------------------------

void LzwCodec::reset_positions() {
  read_position_ = 0;
  bit_position_ = 0;
  width_ = 9;
}

LzwStatus LzwCodec::set_input(const uint8_t* buffer, size_t size) {
  reset_positions();
  ready_ = false;
  if (size > kMaxLzwOutput) return LzwStatus::out_of_memory;
  if (!try_alloc([&] { input_.assign(buffer, buffer + (buffer ? size : 0)); }))
    return LzwStatus::out_of_memory;
  ready_ = true;
  return LzwStatus::ok;
}

LzwStatus LzwCodec::load_input(const std::string& file_name) {
  reset_positions();
  ready_ = false;
  LzwStatus why = LzwStatus::ok;
  File f(open_input(file_name, why));
  if (!f) return why;
  long size = remaining_bytes(f.get());
  if (size < 0) return LzwStatus::cannot_open;
  if (uint64_t(size) > kMaxLzwOutput) return LzwStatus::too_large;
  if (!try_alloc([&] { input_.assign(size_t(size), 0); })) return LzwStatus::out_of_memory;
  if (std::fread(input_.data(), 1, input_.size(), f.get()) != input_.size()) {
    input_.clear();
    return LzwStatus::cannot_open;
  }
  ready_ = true;
  return LzwStatus::ok;
}

LzwStatus LzwCodec::load_entry(const std::string& entry_name, const std::string& archive_file_name) {
  LzwStatus why = LzwStatus::ok;
  File f(open_input(archive_file_name, why));
  if (!f) {
    reset_positions();
    ready_ = false;
    return why;
  }
  return load_entry(entry_name, f.get());
}

LzwStatus LzwCodec::load_entry(const std::string& entry_name, std::FILE* archive) {
  reset_positions();
  ready_ = false;
  std::string wanted = archive_name(entry_name.c_str(), entry_name.size());
  if (wanted.compare(0, 3, "C:\\") != 0) wanted = "C:\\" + wanted;

  uint8_t head[4];
  if (std::fread(head, 1, 4, archive) != 4) return LzwStatus::bad_data;
  uint32_t entries = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 |
                     uint32_t(head[3]) << 24;
  for (uint32_t e = 0; e < entries; ++e) {
    uint8_t rec[136];
    if (std::fread(rec, 1, sizeof rec, archive) != sizeof rec) return LzwStatus::bad_data;
    auto le32 = [&](int at) {
      return int32_t(uint32_t(rec[at]) | uint32_t(rec[at + 1]) << 8 | uint32_t(rec[at + 2]) << 16 |
                     uint32_t(rec[at + 3]) << 24);
    };
    int32_t plain = le32(128), packed = le32(132);
    if (plain < 0 || packed < 0) return LzwStatus::bad_data;
    int32_t stored = packed < plain ? packed : plain;
    // Refuse sizes the file cannot hold before allocating or seeking.
    long left = remaining_bytes(archive);
    if (left < 0 || stored > left) return LzwStatus::bad_data;
    if (archive_name(reinterpret_cast<const char*>(rec), 128) != wanted) {
      if (std::fseek(archive, stored, SEEK_CUR) != 0) return LzwStatus::bad_data;
      continue;
    }
    if (uint32_t(stored) > kMaxLzwOutput) return LzwStatus::out_of_memory;
    if (!try_alloc([&] { input_.assign(size_t(stored), 0); })) return LzwStatus::out_of_memory;
    if (std::fread(input_.data(), 1, input_.size(), archive) != input_.size()) {
      input_.clear();
      return LzwStatus::bad_data;
    }
    if (packed > plain) return LzwStatus::entry_stored;
    ready_ = true;
    return LzwStatus::ok;
  }
  return LzwStatus::entry_not_found;
}

void LzwCodec::input(const uint8_t*& buffer, uint32_t& size) const {
  buffer = input_.data();
  size = uint32_t(input_.size());
}

// --- dictionary -----------------------------------------------------------------------

namespace {

constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;  // code 4095 is never assigned

inline uint32_t child_key(int parent, uint8_t character) { return uint32_t(parent) << 8 | character; }

inline uint32_t slot_of(uint32_t key) {
  return (key * 2654435761u) >> (32 - 13);  // kHashSize == 1 << 13
}

}  // namespace

void LzwCodec::init_dictionary() {
  if (mode_ == 1) {
    children_.assign(kHashSize, kEmptySlot);
    entry_start_.clear();
    entry_length_.clear();
  } else {
    children_.clear();
    entry_start_.assign(kDictionarySize, 0);
    entry_length_.assign(kDictionarySize, 1);
  }
  count_ = kFirstFree;
}

void LzwCodec::reset_dictionary() {
  if (mode_ == 1) std::memset(children_.data(), 0xFF, children_.size() * sizeof(uint32_t));
  count_ = kFirstFree;
  width_ = 9;
}

int LzwCodec::find_child(int parent, uint8_t character) const {
  const uint32_t key = child_key(parent, character);
  for (uint32_t i = slot_of(key);; i = (i + 1) & (kHashSize - 1)) {
    uint32_t slot = children_[i];
    if (slot == kEmptySlot) return -1;
    if (slot >> 12 == key) return int(slot & 0xFFF);
  }
}

bool LzwCodec::add_entry(int parent, uint8_t character) {
  if (count_ >= kDictionarySize) return false;
  int code = count_++;
  if (mode_ == 1) {
    const uint32_t key = child_key(parent, character);
    uint32_t i = slot_of(key);
    while (children_[i] != kEmptySlot) i = (i + 1) & (kHashSize - 1);
    children_[i] = key << 12 | uint32_t(code);
  } else {
    // The new string is the previous one plus the first byte of the one after it, which
    // the output already holds right behind it.
    entry_start_[size_t(code)] = previous_start_;
    entry_length_[size_t(code)] = uint16_t(entry_length_[size_t(parent)] + 1);
  }
  return true;
}

LzwStatus LzwCodec::allocate_buffers() {
  // The output starts small and then doubles, so short streams stay cheap and long ones
  // copy each byte only a few times.
  if (!try_alloc([&] {
        output_.clear();
        output_.resize(kFirstOutput);
        init_dictionary();
      })) {
    return LzwStatus::out_of_memory;
  }
  output_length_ = 0;
  bit_accumulator_ = 0;
  bit_count_ = 0;
  width_ = 9;
  finished_ = false;
  have_previous_ = false;
  current_code_ = -1;
  previous_code_ = -1;
  previous_start_ = 0;
  return LzwStatus::ok;
}

bool LzwCodec::reserve_output(uint32_t n) {
  uint64_t need = uint64_t(output_length_) + n;
  if (need > kMaxLzwOutput) return false;
  if (need <= output_.size()) return true;
  uint64_t cap = std::max<uint64_t>(uint64_t(output_.size()) * 2, kFirstOutput);
  if (cap < need) cap = need;
  if (cap > kMaxLzwOutput) cap = kMaxLzwOutput;
  return try_alloc([&] { output_.resize(size_t(cap)); });
}

// --- encoding -------------------------------------------------------------------------

bool LzwCodec::write_code(int value, int width) {
  // At most 7 bits wait in the accumulator, so a 12-bit code leaves at most 19.
  bit_accumulator_ = bit_accumulator_ << width | uint32_t(value);
  bit_count_ += width;
  if (!reserve_output(2)) return false;
  while (bit_count_ >= 8) {
    bit_count_ -= 8;
    output_[output_length_++] = uint8_t(bit_accumulator_ >> bit_count_);
  }
  return true;
}

LzwStatus LzwCodec::begin_encode(const std::string& file_name) {
  LzwStatus st = load_input(file_name);
  if (st != LzwStatus::ok) return st;
  return begin_encode();
}

LzwStatus LzwCodec::begin_encode() {
  mode_ = 1;
  LzwStatus st = allocate_buffers();
  if (st != LzwStatus::ok) return st;
  if (!write_code(kClear, width_)) return LzwStatus::out_of_memory;
  return LzwStatus::ok;
}

LzwStatus LzwCodec::encode_one() {
  if (count_ >= kClearAt) {
    if (!write_code(kClear, width_)) return LzwStatus::out_of_memory;
    reset_dictionary();  // the pending string, one byte now, stays pending
  }
  if (read_position_ >= input_.size()) {
    if (current_code_ >= 0 && !write_code(current_code_, width_)) return LzwStatus::out_of_memory;
    // The decoder has caught up with every entry by now and reads the end code with
    // its own width, which is one bit wider at counts 511, 1023 and 2047.
    if (!write_code(kEnd, decoder_width(count_))) return LzwStatus::out_of_memory;
    if (!write_code(0, width_)) return LzwStatus::out_of_memory;
    finished_ = true;
    return LzwStatus::finished;
  }
  uint8_t byte = input_[read_position_++];
  if (current_code_ < 0) {
    current_code_ = byte;
    return LzwStatus::ok;
  }
  // The pending string is always the dictionary string of current_code_, so the
  // longer string is one of its children.
  int child = find_child(current_code_, byte);
  if (child >= 0) {
    current_code_ = child;
    return LzwStatus::ok;
  }
  if (!write_code(current_code_, width_)) return LzwStatus::out_of_memory;
  if (!add_entry(current_code_, byte)) return LzwStatus::bad_data;  // cannot happen: cleared at 4094
  width_ = encoder_width(count_);
  current_code_ = byte;
  return LzwStatus::ok;
}

LzwStatus LzwCodec::encode_step(uint8_t& input_percent, uint8_t& output_percent) {
  if (mode_ != 1 || children_.empty()) return LzwStatus::end_of_data;
  if (finished_) return LzwStatus::finished;
  LzwStatus st = encode_one();
  if (st != LzwStatus::ok) return st;
  input_percent = percent_of(read_position_, double(input_.size()));
  output_percent = percent_of(output_length_, double(input_.size()));
  return LzwStatus::ok;
}

LzwStatus LzwCodec::encode_all() {
  if (mode_ != 1 || children_.empty()) return LzwStatus::end_of_data;
  if (finished_) return LzwStatus::finished;
  LzwStatus st;
  while ((st = encode_one()) == LzwStatus::ok) {
  }
  return st;
}

void LzwCodec::end_encode() {
  children_.clear();
  children_.shrink_to_fit();
  entry_start_.clear();
  entry_start_.shrink_to_fit();
  entry_length_.clear();
  entry_length_.shrink_to_fit();
  input_.clear();
  input_.shrink_to_fit();
  output_.clear();
  output_.shrink_to_fit();
  output_length_ = 0;
  ready_ = false;
  finished_ = false;
}

// --- decoding -------------------------------------------------------------------------

bool LzwCodec::peek_bits(uint64_t at, int width, int& value) const {
  uint64_t total = uint64_t(input_.size()) * 8;
  if (at > total || total - at < uint64_t(width)) return false;
  int v = 0;
  for (int i = 0; i < width; ++i, ++at) v = (v << 1) | ((input_[at >> 3] >> (7 - (at & 7))) & 1);
  value = v;
  return true;
}

bool LzwCodec::read_code(int width, int& code) {
  const uint64_t byte = bit_position_ >> 3;
  if (byte + 3 <= input_.size()) {
    // Up to 7 bits of offset plus 12 bits of code lie within three bytes.
    const uint8_t* p = &input_[size_t(byte)];
    uint32_t bits = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    code = int(bits >> (24 - int(bit_position_ & 7) - width) & ((1u << width) - 1));
  } else if (!peek_bits(bit_position_, width, code)) {
    return false;
  }
  bit_position_ += uint64_t(width);
  return true;
}

LzwStatus LzwCodec::begin_decode(const std::string& file_name) {
  LzwStatus st = load_input(file_name);
  if (st != LzwStatus::ok) return st;
  return begin_decode();
}

LzwStatus LzwCodec::begin_decode() {
  mode_ = 0;
  return allocate_buffers();
}

LzwStatus LzwCodec::begin_decode_entry(const std::string& entry_name, const std::string& archive_file_name) {
  LzwStatus st = load_entry(entry_name, archive_file_name);
  if (st != LzwStatus::ok && st != LzwStatus::entry_stored) return st;
  bool ready = ready_;
  LzwStatus alloc = begin_decode();
  ready_ = ready;
  return alloc != LzwStatus::ok ? alloc : st;
}

LzwStatus LzwCodec::decode_one() {
  int code;
  // The end of the input without an end code ends the stream as well.
  if (!read_code(width_, code)) return LzwStatus::end_of_data;
  if (code == kEnd) return LzwStatus::end_of_data;
  if (width_ > 9 && count_ == (1 << (width_ - 1)) - 1 && (code >> 1) == kEnd) {
    // Older writers put the end code one bit narrower at these counts. What follows
    // it then is only the zero code's complete bytes, fewer bits than one code; a real
    // code here would be followed by at least an end code and more.
    uint64_t after = bit_position_ - 1;
    if (uint64_t(input_.size()) * 8 - after < uint64_t(width_)) return LzwStatus::end_of_data;
  }
  if (code == kClear) {
    reset_dictionary();
    if (!read_code(width_, code) || code == kEnd) return LzwStatus::end_of_data;
    if (code >= 256) return LzwStatus::bad_data;
    if (!reserve_output(1)) return LzwStatus::out_of_memory;
    previous_start_ = output_length_;
    output_[output_length_++] = uint8_t(code);
    previous_code_ = code;
    have_previous_ = true;
    return LzwStatus::ok;
  }
  if (!have_previous_) return LzwStatus::bad_data;  // data before the first clear code
  uint32_t start = output_length_;
  if (code < count_) {
    uint32_t n = code < 256 ? 1 : entry_length_[size_t(code)];
    if (!reserve_output(n)) return LzwStatus::out_of_memory;
    uint8_t* out = output_.data();
    if (code < 256)
      out[start] = uint8_t(code);
    else
      std::memcpy(out + start, out + entry_start_[size_t(code)], n);  // lies wholly before start
    if (!add_entry(previous_code_, out[start])) return LzwStatus::bad_data;
    output_length_ += n;
  } else if (code == count_) {
    // The string the encoder has just added: the previous string plus its own first byte.
    uint32_t n = previous_code_ < 256 ? 1 : entry_length_[size_t(previous_code_)];
    if (!reserve_output(n + 1)) return LzwStatus::out_of_memory;
    uint8_t* out = output_.data();
    std::memcpy(out + start, out + previous_start_, n);  // the previous string ends at start
    out[start + n] = out[previous_start_];
    if (!add_entry(previous_code_, out[start])) return LzwStatus::bad_data;
    output_length_ += n + 1;
  } else {
    return LzwStatus::bad_data;
  }
  width_ = decoder_width(count_);
  previous_code_ = code;
  previous_start_ = start;
  return LzwStatus::ok;
}

LzwStatus LzwCodec::decode_step(uint8_t& percent) {
  if (!ready_ || entry_start_.empty() || input_.empty()) return LzwStatus::end_of_data;
  percent = uint8_t(percent_of(double(bit_position_ >> 3), double(input_.size())) + 1);
  return decode_one();
}

LzwStatus LzwCodec::decode_all() {
  if (!ready_ || entry_start_.empty() || input_.empty()) return LzwStatus::end_of_data;
  LzwStatus st;
  while ((st = decode_one()) == LzwStatus::ok) {
  }
  return st;
}

void LzwCodec::end_decode() { end_encode(); }

// --- output ---------------------------------------------------------------------------

void LzwCodec::output(const uint8_t*& buffer, uint32_t& length) const {
  buffer = output_.data();
  length = output_length_;
}

void LzwCodec::take_output(std::vector<uint8_t>& out) {
  output_.resize(output_length_);
  out.swap(output_);
  output_.clear();
  output_length_ = 0;
}

LzwStatus LzwCodec::save_output(const std::string& file_name) {
  output_file_name_ = file_name;
  return write_file_atomic(file_name, output_.data(), output_length_) ? LzwStatus::ok : LzwStatus::cannot_create;
}

LzwStatus LzwCodec::save_input(const std::string& file_name) {
  return write_file_atomic(file_name, input_.data(), input_.size()) ? LzwStatus::ok : LzwStatus::cannot_create;
}

// --- one-shot helpers -----------------------------------------------------------------

LzwStatus lzw_compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  LzwCodec codec;
  LzwStatus st = codec.set_input(data, size);
  if (st == LzwStatus::ok) st = codec.begin_encode();
  if (st == LzwStatus::ok) st = codec.encode_all();
  if (st == LzwStatus::finished) {
    codec.take_output(out);
    st = LzwStatus::ok;
  }
  codec.end_encode();
  return st;
}

LzwStatus lzw_expand(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  LzwCodec codec;
  LzwStatus st = codec.begin_decode();
  if (st == LzwStatus::ok) st = codec.set_input(data, size);
  if (st == LzwStatus::ok) st = codec.decode_all();
  if (st == LzwStatus::end_of_data) {
    codec.take_output(out);
    st = LzwStatus::ok;
  }
  codec.end_decode();
  return st;
}

}  // namespace orvl
