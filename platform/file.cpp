#include "platform/file.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace orvl {

const char* file_status_text(FileStatus s) {
  switch (s) {
    case FileStatus::ok: return "ok";
    case FileStatus::not_found: return "file not found";
    case FileStatus::read_error: return "read error";
    case FileStatus::too_large: return "file too large";
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

FileStatus read_whole_file(const std::string& path, std::vector<uint8_t>& out, size_t max_bytes) {
  out.clear();
  std::string resolved = resolve_data_path(path);
  if (!is_regular(resolved)) return FileStatus::not_found;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(resolved.c_str(), "rb"), std::fclose);
  if (!f) return FileStatus::not_found;
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return FileStatus::read_error;
  long size = std::ftell(f.get());
  if (size < 0) return FileStatus::read_error;
  if (static_cast<unsigned long>(size) > max_bytes) return FileStatus::too_large;
  std::rewind(f.get());
  try {
    out.resize(static_cast<size_t>(size));
  } catch (...) {
    return FileStatus::read_error;
  }
  if (size > 0 && std::fread(out.data(), 1, out.size(), f.get()) != out.size()) {
    out.clear();
    return FileStatus::read_error;
  }
  return FileStatus::ok;
}

bool write_whole_file(const std::string& path, const void* data, size_t size) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!f) return false;
  if (size > 0 && std::fwrite(data, 1, size, f.get()) != size) return false;
  return std::fflush(f.get()) == 0;
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
