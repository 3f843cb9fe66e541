#include "image/file_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "codec/lz_codec.h"
#include "platform/atomic_file.h"
#include "platform/file.h"

namespace orvl {

const char* pack_status_text(PackStatus s) {
  switch (s) {
    case PackStatus::ok: return "success";
    case PackStatus::cannot_open: return "the pack file cannot be opened";
    case PackStatus::cannot_create: return "the pack file cannot be created";
    case PackStatus::already_open: return "a pack is already open on this source";
    case PackStatus::not_open: return "no pack is open";
    case PackStatus::not_writing: return "the pack is not open for writing";
    case PackStatus::bad_magic: return "the file does not begin with \"FXLK\"";
    case PackStatus::empty_directory: return "the directory unpacks to nothing";
    case PackStatus::bad_directory: return "the directory is damaged";
    case PackStatus::truncated: return "the pack file is shorter than its directory says";
    case PackStatus::too_large: return "a size in the pack is too large";
    case PackStatus::write_failed: return "the pack file could not be written";
    case PackStatus::unreadable_file: return "the file cannot be read";
  }
  return "unknown status";
}

std::string normalise_pack_name(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    else if (c == '/') c = '\\';
  }
  return out;
}

void scramble(uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) data[i] ^= kPackScrambleMask;
}

namespace {

uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

bool read_exact(std::FILE* f, void* dst, size_t n) { return n == 0 || std::fread(dst, 1, n, f) == n; }

// An LZ block of `stored` bytes claiming to expand to `size` bytes: could the compressor
// have written it?
bool plausible_expansion(uint32_t stored, uint32_t size) {
  return uint64_t(size) <= uint64_t(stored) * kMaxPackExpansion;
}

}  // namespace

FileSource::FileSource() = default;

FileSource::~FileSource() {
  if (pack_is_open()) (void)pack_close();
}

LzCodec& FileSource::codec() {
  if (!codec_) codec_ = std::make_unique<LzCodec>();
  return *codec_;
}

// --- disk or pack ---------------------------------------------------------------------

uint32_t FileSource::size_of(const std::string& name) {
  if (use_pack_) return pack_size_of(name);
  struct stat st {};
  std::string resolved = resolve_data_path(name);
  if (stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (static_cast<uint64_t>(st.st_size) > kMaxWholeFileBytes) return 0;
  return static_cast<uint32_t>(st.st_size);
}

bool FileSource::read_all(const std::string& name, std::vector<uint8_t>& out) {
  out.clear();
  bool ok = use_pack_ ? pack_read(name, out) : read_whole_file(name, out) == FileStatus::ok;
  if (!ok || out.empty()) {
    out.clear();
    return false;
  }
  return true;
}

bool FileSource::use_pack(const std::string& pack_name) {
  if (pack_open(pack_name) != PackStatus::ok) return false;
  use_pack_ = true;
  return true;
}

// --- reading --------------------------------------------------------------------------

PackStatus FileSource::fail_open(PackStatus s) {
  file_.reset();
  out_.reset();
  writing_ = false;
  entries_.clear();
  directory_size_ = 0;
  return s;
}

PackStatus FileSource::pack_open(const std::string& pack_name) {
  if (pack_is_open()) return PackStatus::already_open;
  FileStatus fs = FileStatus::ok;
  uint64_t file_size = 0;
  const int fd = open_regular_file(resolve_data_path(pack_name), fs, &file_size);
  if (fd < 0) return PackStatus::cannot_open;
  file_.reset(::fdopen(fd, "rb"));
  if (!file_) {
    ::close(fd);
    return PackStatus::cannot_open;
  }
  writing_ = false;

  uint8_t magic[4];
  if (!read_exact(file_.get(), magic, 4) || std::memcmp(magic, kPackMagic, 4) != 0)
    return fail_open(PackStatus::bad_magic);
  PackStatus s = read_directory(file_size);
  return s == PackStatus::ok ? s : fail_open(s);
}

PackStatus FileSource::read_directory(uint64_t file_size) {
  uint8_t sizes[8];
  if (!read_exact(file_.get(), sizes, 8)) return PackStatus::truncated;
  const uint32_t dir_size = get_u32(sizes);
  const uint32_t packed_size = get_u32(sizes + 4);
  if (dir_size > kMaxPackBlock || packed_size > kMaxPackBlock) return PackStatus::too_large;
  if (dir_size == 0) return PackStatus::empty_directory;
  if (kPackHeaderSize + uint64_t(packed_size) > file_size) return PackStatus::truncated;
  if (!plausible_expansion(packed_size, dir_size)) return PackStatus::bad_directory;

  std::vector<uint8_t> directory;
  {
    std::vector<uint8_t> packed;
    try {
      packed.resize(packed_size);
    } catch (const std::bad_alloc&) {
      return PackStatus::too_large;
    }
    if (!read_exact(file_.get(), packed.data(), packed.size())) return PackStatus::truncated;
    LzCodec& lz = codec();
    lz.reset();
    lz.set_input(packed.data(), dir_size, packed_size);
    if (lz.decompress() != LzStatus::ok) return PackStatus::too_large;
    directory = lz.take_output();
  }

  // Every record must end inside the directory, and together they must fill it. A
  // directory of tiny records costs far more as a table than as bytes, so the table
  // is held to the same limit.
  uint64_t offset = kPackHeaderSize + uint64_t(packed_size);
  uint64_t table_bytes = 0;
  size_t pos = 0;
  while (pos < directory.size()) {
    const uint8_t* start = directory.data() + pos;
    const void* nul = std::memchr(start, 0, directory.size() - pos);
    if (!nul) return PackStatus::bad_directory;
    size_t name_len = size_t(static_cast<const uint8_t*>(nul) - start);
    if (directory.size() - pos - name_len - 1 < 8) return PackStatus::bad_directory;
    PackEntry e;
    e.name = normalise_pack_name(std::string(reinterpret_cast<const char*>(start), name_len));
    e.size = get_u32(start + name_len + 1);
    e.stored_size = get_u32(start + name_len + 5);
    if (e.size > kMaxPackBlock) return PackStatus::too_large;
    if (e.stored_size > e.size || !plausible_expansion(e.stored_size, e.size)) return PackStatus::bad_directory;
    e.offset = offset;
    offset += e.stored_size;
    if (offset > file_size) return PackStatus::truncated;
    table_bytes += sizeof(PackEntry) + name_len;
    if (table_bytes > kMaxPackBlock) return PackStatus::too_large;
    try {
      entries_.push_back(std::move(e));
    } catch (const std::bad_alloc&) {
      return PackStatus::too_large;
    }
    pos += name_len + 9;
  }
  return PackStatus::ok;
}

const PackEntry* FileSource::find_entry(const std::string& name) const {
  if (!file_ || writing_ || entries_.empty()) return nullptr;
  const std::string wanted = normalise_pack_name(name);
  for (const PackEntry& e : entries_)
    if (e.name == wanted) return &e;
  return nullptr;
}

uint32_t FileSource::pack_size_of(const std::string& name) const {
  const PackEntry* e = find_entry(name);
  return e ? e->size : 0;
}

uint32_t FileSource::pack_stored_size_of(const std::string& name) const {
  const PackEntry* e = find_entry(name);
  return e ? e->stored_size : 0;
}

bool FileSource::pack_read(const std::string& name, std::vector<uint8_t>& out) {
  out.clear();
  const PackEntry* e = find_entry(name);
  if (!e) return false;
  std::vector<uint8_t> stored;
  try {
    stored.resize(e->stored_size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The file may have changed since it was opened: a short read is a missing entry.
  if (fseeko(file_.get(), off_t(e->offset), SEEK_SET) != 0 || !read_exact(file_.get(), stored.data(), stored.size()))
    return false;
  if (!e->compressed()) {
    scramble(stored.data(), stored.size());
    out = std::move(stored);
    return true;
  }
  LzCodec& lz = codec();
  lz.reset();
  lz.set_input(stored.data(), e->size, e->stored_size);
  if (lz.decompress() != LzStatus::ok) return false;
  out = lz.take_output();
  return out.size() == e->size;
}

// --- writing --------------------------------------------------------------------------

PackStatus FileSource::pack_create(const std::string& pack_name) {
  if (pack_is_open()) return PackStatus::already_open;
  write_error_.clear();
  auto out = std::make_unique<AtomicFile>();
  if (!out->open(pack_name, &write_error_)) return PackStatus::cannot_create;
  out_ = std::move(out);
  writing_ = true;
  entries_.clear();
  directory_size_ = 0;
  return PackStatus::ok;
}

PackStatus FileSource::pack_add_buffer(const std::string& given_name, std::vector<uint8_t> buffer) {
  if (!pack_is_open()) return PackStatus::not_open;
  if (!writing_) return PackStatus::not_writing;
  // The directory stores names NUL-terminated.
  std::string name = given_name.substr(0, given_name.find('\0'));
  if (buffer.size() > kMaxPackBlock || uint64_t(directory_size_) + name.size() + 9 > kMaxPackBlock)
    return PackStatus::too_large;

  PackEntry e;
  e.name = std::move(name);
  e.size = uint32_t(buffer.size());
  LzCodec& lz = codec();
  lz.reset();
  lz.set_input(buffer.data(), e.size);
  // A block the codec could not compress (out of memory) is simply stored.
  if (lz.compress() == LzStatus::ok && lz.compressed_length() < e.size) {
    std::vector<uint8_t> packed = lz.take_output();
    packed.resize(lz.compressed_length());
    packed.shrink_to_fit();
    e.data = std::move(packed);
    e.stored_size = uint32_t(e.data.size());
  } else {
    scramble(buffer.data(), buffer.size());
    e.data = std::move(buffer);
    e.stored_size = e.size;
  }
  lz.reset();  // drop the codec's output buffer
  directory_size_ += uint32_t(e.name.size()) + 9;
  entries_.push_back(std::move(e));
  return PackStatus::ok;
}

PackStatus FileSource::pack_add_file(const std::string& path) {
  if (!pack_is_open()) return PackStatus::not_open;
  if (!writing_) return PackStatus::not_writing;
  std::vector<uint8_t> data;
  if (read_whole_file(path, data, kMaxPackBlock) != FileStatus::ok) return PackStatus::unreadable_file;
  return pack_add_buffer(path, std::move(data));
}

PackStatus FileSource::write_pack() {
  std::vector<uint8_t> directory;
  directory.reserve(directory_size_);
  for (const PackEntry& e : entries_) {
    directory.insert(directory.end(), e.name.begin(), e.name.end());
    directory.push_back(0);
    put_u32(directory, e.size);
    put_u32(directory, e.stored_size);
  }
  LzCodec& lz = codec();
  lz.reset();
  lz.set_input(directory.data(), uint32_t(directory.size()));
  if (lz.compress() != LzStatus::ok) return PackStatus::write_failed;
  const uint32_t packed_size = lz.compressed_length();

  std::vector<uint8_t> sizes;
  put_u32(sizes, uint32_t(directory.size()));
  put_u32(sizes, packed_size);
  AtomicFile& f = *out_;
  bool ok = f.write(kPackMagic, 4) && f.write(sizes.data(), sizes.size()) && f.write(lz.output().data(), packed_size);
  for (const PackEntry& e : entries_) ok = ok && f.write(e.data.data(), e.data.size());
  lz.reset();
  // The commit flushes, checks the close and only then puts the pack in place.
  ok = ok && f.commit(&write_error_);
  if (!ok && write_error_.empty()) write_error_ = f.error();
  return ok ? PackStatus::ok : PackStatus::write_failed;
}

PackStatus FileSource::pack_close() {
  if (!pack_is_open()) return PackStatus::not_open;
  PackStatus s = writing_ ? write_pack() : PackStatus::ok;
  file_.reset();
  out_.reset();  // an uncommitted temporary is removed here
  writing_ = false;
  entries_.clear();
  entries_.shrink_to_fit();
  directory_size_ = 0;
  return s;
}

}  // namespace orvl
