#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/atomic_file.h"

namespace orvl {

const char* file_status_text(FileStatus s) {
  switch (s) {
    case FileStatus::ok: return "ok";
    case FileStatus::not_found: return "file not found";
    case FileStatus::read_error: return "read error";
    case FileStatus::too_large: return "file too large";
    case FileStatus::not_regular: return "not a regular file";
    case FileStatus::no_access: return "permission denied";
  }
  return "unknown";
}

namespace {

bool is_regular(const std::string& p) {
  struct stat st {};
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

// Finds `name` in directory `dir` ignoring case; empty when there is no such entry.
std::string match_entry(const std::string& dir, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.empty() ? "." : dir.c_str()), closedir);
  if (!d) return {};
  while (dirent* e = readdir(d.get())) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) return e->d_name;
  }
  return {};
}

}  // namespace

std::string resolve_data_path(const std::string& path) {
  std::string mapped = path;
  for (char& c : mapped)
    if (c == '\\') c = '/';
  if (mapped.empty() || exists(mapped)) return mapped;

  // Walk component by component, keeping what exists and matching the rest by case.
  std::string result;
  size_t pos = 0;
  if (mapped[0] == '/') {
    result = "/";
    pos = 1;
  }
  while (pos <= mapped.size()) {
    size_t slash = mapped.find('/', pos);
    if (slash == std::string::npos) slash = mapped.size();
    std::string comp = mapped.substr(pos, slash - pos);
    pos = slash + 1;
    if (comp.empty()) continue;
    std::string candidate = result + comp;
    if (comp != "." && comp != ".." && !exists(candidate)) {
      std::string dir = result.empty() ? std::string(".") : result;
      std::string found = match_entry(dir, comp);
      if (found.empty()) return mapped;
      candidate = result + found;
    }
    result = candidate;
    if (slash < mapped.size()) result += '/';
  }
  return result;
}

bool data_file_exists(const std::string& path) { return is_regular(resolve_data_path(path)); }

int open_regular_file(const std::string& path, FileStatus& status, uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    status = errno == EACCES || errno == EPERM ? FileStatus::no_access
             : errno == EISDIR                 ? FileStatus::not_regular
                                               : FileStatus::not_found;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    status = FileStatus::not_regular;
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (size) *size = uint64_t(st.st_size);
  status = FileStatus::ok;
  return fd;
}

FileStatus read_whole_file(const std::string& path, std::vector<uint8_t>& out, size_t max_bytes) {
  out.clear();
  FileStatus status = FileStatus::ok;
  uint64_t size = 0;
  const int fd = open_regular_file(resolve_data_path(path), status, &size);
  if (fd < 0) return status;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (size > max_bytes) return FileStatus::too_large;
  try {
    out.resize(static_cast<size_t>(size));
  } catch (...) {
    return FileStatus::read_error;
  }
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // an error, or the file shrank under us
      out.clear();
      return FileStatus::read_error;
    }
    done += size_t(n);
  }
  return FileStatus::ok;
}

bool write_whole_file(const std::string& path, const void* data, size_t size, std::string* error) {
  return write_file_atomic(path, data, size, error);
}

std::string path_directory(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string path_join(const std::string& dir, const std::string& rel) {
  if (dir.empty()) return rel;
  char last = dir.back();
  if (last == '/' || last == '\\') return dir + rel;
  return dir + "/" + rel;
}

}  // namespace orvl
