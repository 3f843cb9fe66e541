// The one way the program writes a file: into a temporary beside the target, then renamed
// over it.
//
// A reader of the target sees either the old file or the complete new one, never a half
// written one: on a full disk, a failed write, a failed close or a crash the old target is
// left exactly as it was and the temporary is removed (or, after a crash, left under a
// hidden name `.NAME.orvl-XXXXXX` beside the target, never as the target).
//
//   AtomicFile f;
//   if (!f.open(path, &error) || !f.write(data, n) || !f.commit(&error)) report(error);
//
// The temporary is created with O_CREAT|O_EXCL|O_NOFOLLOW, so a link planted under its
// name is never followed. `open_at` works below a directory descriptor, for callers that
// walk a directory tree without following links (pack extraction). A target that already
// exists keeps its permission bits. Every write is checked, then the data is flushed to
// the disk (fsync) and the close is checked before the rename; the first failure is kept
// with its reason (strerror text) and every later call fails. Destroying an AtomicFile
// that was not committed removes the temporary.
#pragma once

#include <cstddef>
#include <string>

namespace orvl {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary for `path` in the same folder. False (reason in `error`) when
  // the folder cannot be opened or the temporary cannot be created.
  bool open(const std::string& path, std::string* error = nullptr);
  // The same for the entry `name` (no '/') of the open directory `dir_fd` (not taken over).
  bool open_at(int dir_fd, const std::string& name, std::string* error = nullptr);
  // Appends `n` bytes; false once anything has failed.
  bool write(const void* data, size_t n);
  // Flushes, closes and renames the temporary over the target. False (reason in `error`,
  // temporary removed, target untouched) when any step, or any earlier write, failed.
  bool commit(std::string* error = nullptr);
  // Drops the temporary without touching the target.
  void discard();

  bool is_open() const { return fd_ >= 0; }
  // The reason of the first failure ("No space left on device"), empty while all is well.
  const std::string& error() const { return error_; }

 private:
  bool start(int dir_fd, bool own_dir, const std::string& name, std::string* error);
  bool fail(const char* step, int err);

  int dir_fd_ = -1;
  bool own_dir_ = false;
  int fd_ = -1;
  std::string name_, temp_name_, error_;
};

// Writes `size` bytes to `path` through an AtomicFile. False with the reason in `error`.
bool write_file_atomic(const std::string& path, const void* data, size_t size, std::string* error = nullptr);

}  // namespace orvl
