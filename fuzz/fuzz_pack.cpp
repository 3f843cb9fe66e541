// Pack archive: opens the input as a pack file and reads every entry. The reader only
// takes a path, so the input goes to a per-process temporary file first.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/file_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("orvl_fuzz_pack_" + std::to_string(::getpid()) + ".pak")).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);
  orvl::FileSource src;
  if (src.pack_open(path) == orvl::PackStatus::ok) {
    for (const orvl::PackEntry& e : src.pack_entries()) {
      std::vector<uint8_t> out;
      // Every entry the open accepted lies inside the file and expands to its size.
      if (!src.pack_read(e.name, out) || out.size() != src.pack_size_of(e.name)) abort();
    }
    if (src.pack_close() != orvl::PackStatus::ok) abort();
  }
  std::remove(path.c_str());
  return 0;
}
