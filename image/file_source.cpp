#include "image/file_source.h"

#include <sys/stat.h>

#include "platform/file.h"

namespace orvl {

uint32_t FileSource::size_of(const std::string& name) const {
  struct stat st {};
  std::string resolved = resolve_data_path(name);
  if (stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (static_cast<uint64_t>(st.st_size) > kMaxWholeFileBytes) return 0;
  return static_cast<uint32_t>(st.st_size);
}

bool FileSource::read_all(const std::string& name, std::vector<uint8_t>& out) const {
  out.clear();
  if (read_whole_file(name, out) != FileStatus::ok || out.empty()) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace orvl
