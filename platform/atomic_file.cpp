#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace orvl {

namespace {

// Six letters or digits, different for every call in this process and unlikely to be
// the same in another one.
std::string random_suffix() {
  static std::atomic<uint64_t> counter{0};
  uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (uint64_t(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s;
  for (int i = 0; i < 6; ++i) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 29;
    s += kChars[x % 62];
  }
  return s;
}

bool write_all(int fd, const uint8_t* p, size_t n, int& err) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (w == 0) {
      err = EIO;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::fail(const char* step, int err) {
  if (error_.empty()) error_ = std::string(step) + ": " + std::strerror(err);
  return false;
}

bool AtomicFile::open(const std::string& path, std::string* error) {
  discard();
  error_.clear();
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    fail("cannot be created", name.empty() ? EINVAL : EISDIR);
    if (error) *error = error_;
    return false;
  }
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) {
    fail("its folder cannot be opened", errno);
    if (error) *error = error_;
    return false;
  }
  return start(dfd, true, name, error);
}

bool AtomicFile::open_at(int dir_fd, const std::string& name, std::string* error) {
  discard();
  error_.clear();
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    fail("cannot be created", EINVAL);
    if (error) *error = error_;
    return false;
  }
  return start(dir_fd, false, name, error);
}

bool AtomicFile::start(int dir_fd, bool own_dir, const std::string& name, std::string* error) {
  dir_fd_ = dir_fd;
  own_dir_ = own_dir;
  name_ = name;
  // An existing target keeps its permission bits; a new one gets 0666 less the umask.
  mode_t mode = 0666;
  struct stat st {};
  const bool exists = ::fstatat(dir_fd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  // A directory, device or FIFO of that name is never replaced by a file.
  if (exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    error_ = "cannot be replaced: not a regular file";
    if (error) *error = error_;
    discard();
    return false;
  }
  const bool keep_mode = exists && S_ISREG(st.st_mode);
  if (keep_mode) mode = st.st_mode & 07777;
  // Names longer than the folder allows are cut; the suffix keeps them apart.
  const std::string base = "." + name_.substr(0, 200) + ".orvl-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = base + random_suffix();
    const int fd = ::openat(dir_fd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_ = fd;
      temp_name_ = temp;
      if (keep_mode) (void)::fchmod(fd_, mode);  // the umask may have narrowed it
      return true;
    }
    if (errno != EEXIST) break;
  }
  fail("cannot be created", errno);
  if (error) *error = error_;
  discard();
  return false;
}

bool AtomicFile::write(const void* data, size_t n) {
  if (fd_ < 0) return fail("cannot be written", EBADF);
  if (!error_.empty()) return false;
  int err = 0;
  if (!write_all(fd_, static_cast<const uint8_t*>(data), n, err)) return fail("cannot be written", err);
  return true;
}

bool AtomicFile::commit(std::string* error) {
  bool ok = fd_ >= 0 ? error_.empty() : fail("cannot be written", EBADF);
  if (ok && ::fsync(fd_) != 0 && errno != EINVAL) ok = fail("cannot be written", errno);
  if (fd_ >= 0) {
    // The close reports what delayed writes (NFS, quotas) could not store.
    if (::close(fd_) != 0 && ok) ok = fail("cannot be written", errno);
    fd_ = -1;
  }
  if (ok && ::renameat(dir_fd_, temp_name_.c_str(), dir_fd_, name_.c_str()) != 0)
    ok = fail("cannot replace the old file", errno);
  if (ok) {
    temp_name_.clear();
    (void)::fsync(dir_fd_);  // the rename itself reaches the disk; not every file system can
  }
  if (!ok && error) *error = error_;
  discard();
  return ok;
}

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_name_.empty() && dir_fd_ >= 0) (void)::unlinkat(dir_fd_, temp_name_.c_str(), 0);
  temp_name_.clear();
  if (own_dir_ && dir_fd_ >= 0) ::close(dir_fd_);
  dir_fd_ = -1;
  own_dir_ = false;
}

bool write_file_atomic(const std::string& path, const void* data, size_t size, std::string* error) {
  AtomicFile f;
  if (!f.open(path, error)) return false;
  if (!f.write(data, size)) {
    if (error) *error = f.error();
    return false;
  }
  return f.commit(error);
}

}  // namespace orvl
