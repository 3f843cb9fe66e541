// Where the image library gets whole files from: the disk, or a pack archive.
//
// `Img::load` makes a fresh FileSource for every file unless it is handed one. With no
// pack in use, names are read from disk through the platform file layer, so
// Windows-style paths and letter case from data files resolve as everywhere else. Once a
// source has a pack in use (`use_pack`), size_of and read_all answer from the archive
// instead of the disk, and a name missing from the archive is missing even if a file of
// that name exists on disk. The flag stays set after the pack is closed (everything is
// then missing); only a new FileSource reads from disk again.
//
// A pack ("FXLK") is one file holding many named files. Layout, integers unsigned
// 32-bit little-endian:
//   0   "FXLK"
//   4   directory size (uncompressed)
//   8   compressed directory size
//   12  the directory, LZ-compressed (always, whatever its size)
//   ..  the entries' data back to back, in directory order
// The directory is a run of records {name, NUL, uncompressed size, stored size} that
// fills the directory size exactly. An entry whose stored size equals its uncompressed
// size holds the file's bytes XORed with 0x5D; any smaller stored size is LZ output.
// Names are written as the writer was given them; the reader lower-cases them and turns
// '/' into '\', and lookups normalise the asked-for name the same way.
//
// Reading: pack_open (or use_pack), lookups and reads, pack_close. Writing: pack_create,
// pack_add_buffer / pack_add_file (everything stays in memory), pack_close, which writes
// the whole file. Destroying a source closes its pack the same way, so a pack being
// written is written then. The pack is written through the atomic writer: until
// pack_close succeeds an existing file of that name is left as it was, and a pack that
// fails to write leaves nothing behind.
//
// Bad input: the LZ decoder cannot tell damaged data from good, so a pack is checked
// against its sizes when it is opened and refused as a whole (`bad_directory`,
// `truncated`, `too_large`) when its directory records do not fill the directory size
// exactly, a stored size exceeds its uncompressed size or is far too small to expand to
// it, the entries reach past the end of the file, or any size needs more than
// kMaxPackBlock bytes of memory. Nothing is allocated before the size that asks for it
// has been checked, and the pack file is closed on every failed open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace orvl {

class AtomicFile;
class LzCodec;

// The pack's own result codes. 0 and 5 to 14 are the archive's classic numbering; 15 and
// above report what the classic reader did not check.
enum class [[nodiscard]] PackStatus : int {
  ok = 0,
  cannot_open = 5,       // the pack file cannot be opened
  cannot_create = 6,     // the pack file cannot be created
  already_open = 10,     // a pack is already open on this source
  not_open = 11,         // no pack is open
  not_writing = 12,      // the pack is not open for writing
  bad_magic = 13,        // the file does not begin with "FXLK"
  empty_directory = 14,  // the directory unpacks to nothing
  bad_directory = 15,    // records overrun the directory, or an entry's sizes are impossible
  truncated = 16,        // the file ends before the directory or the entries it lists
  too_large = 17,        // a size needs more than kMaxPackBlock bytes
  write_failed = 18,     // writing the pack file failed (it is incomplete)
  unreadable_file = 19,  // pack_add_file: the file cannot be read
};
const char* pack_status_text(PackStatus s);

constexpr char kPackMagic[4] = {'F', 'X', 'L', 'K'};
constexpr uint8_t kPackScrambleMask = 0x5D;
constexpr uint32_t kPackHeaderSize = 12;
// Largest directory or entry a pack may hold, either way.
constexpr uint32_t kMaxPackBlock = uint32_t(1) << 30;
// The LZ coder spends at least about nine bits on a 60-byte match, so nothing it writes
// expands more than about 52-fold. An entry claiming more than this ratio did not come
// from the compressor; refusing it keeps a few hostile bytes from asking for a gigabyte.
constexpr uint32_t kMaxPackExpansion = 128;

// Lower-cased (ASCII), every '/' turned into '\'.
std::string normalise_pack_name(const std::string& name);
// XORs every byte with kPackScrambleMask, in place; twice restores the data.
void scramble(uint8_t* data, size_t size);

struct PackEntry {
  std::string name;           // normalised when read from a pack, as given when added
  std::vector<uint8_t> data;  // stored bytes; only while writing
  uint32_t size = 0;          // uncompressed size
  uint32_t stored_size = 0;
  uint64_t offset = 0;        // where its data starts in the pack file (reading)

  bool compressed() const { return stored_size != size; }
};

class FileSource {
 public:
  FileSource();
  ~FileSource();
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Size of the named file in bytes; 0 when it is missing, unreadable or empty.
  uint32_t size_of(const std::string& name);
  // The whole file into `out`; false (and `out` empty) when it is missing, unreadable
  // or empty.
  bool read_all(const std::string& name, std::vector<uint8_t>& out);

  // pack_open, and on success route size_of/read_all through the pack.
  bool use_pack(const std::string& pack_name);
  bool using_pack() const { return use_pack_; }

  PackStatus pack_open(const std::string& pack_name);
  // Creates the pack's temporary beside `pack_name` (cannot_create when it cannot be
  // made); the name itself is only replaced by a successful pack_close.
  PackStatus pack_create(const std::string& pack_name);
  // Adds an entry under `name` (kept as given; cut at an embedded NUL). The pack takes
  // the buffer: it keeps either the compressed bytes or, when compression does not make
  // it smaller, the buffer itself scrambled.
  PackStatus pack_add_buffer(const std::string& name, std::vector<uint8_t> buffer);
  // Adds the file at `path` from disk under the entry name `path`. An existing empty file
  // becomes an empty entry; a missing or unreadable one gives unreadable_file and adds
  // nothing.
  PackStatus pack_add_file(const std::string& path);
  // Reading: closes the file. Writing: writes the whole pack first (write_failed if that
  // fails, with the reason in pack_write_error(); the source is closed either way).
  PackStatus pack_close();
  // Why the last pack_create or pack_close failed ("No space left on device").
  const std::string& pack_write_error() const { return write_error_; }

  // The entry's uncompressed bytes into `out`; false when the pack is not open for
  // reading, the name is not in it, or the file cannot be read back.
  bool pack_read(const std::string& name, std::vector<uint8_t>& out);
  uint32_t pack_size_of(const std::string& name) const;
  uint32_t pack_stored_size_of(const std::string& name) const;

  bool pack_is_open() const { return file_ != nullptr || out_ != nullptr; }
  bool pack_writing() const { return writing_; }
  // Entries in directory order (for listing and extraction).
  const std::vector<PackEntry>& pack_entries() const { return entries_; }

 private:
  const PackEntry* find_entry(const std::string& name) const;
  PackStatus fail_open(PackStatus s);
  PackStatus read_directory(uint64_t file_size);
  PackStatus write_pack();
  LzCodec& codec();

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;  // reading
  std::unique_ptr<AtomicFile> out_;              // writing
  std::string write_error_;
  bool writing_ = false;
  // While writing: the running total of name length + 9 over the entries added.
  uint32_t directory_size_ = 0;
  std::vector<PackEntry> entries_;
  bool use_pack_ = false;
  std::unique_ptr<LzCodec> codec_;  // made on first use; about 70 KiB
};

}  // namespace orvl
