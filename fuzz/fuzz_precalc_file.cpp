// Precalculation files from the fuzzer through the reader: header, compressed stream and
// frame table. A file the reader accepts must survive being written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "scene/precalc_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvl::PrecalcFile file;
  if (orvl::precalc_parse(data, size, file) != orvl::PrecalcStatus::ok) {
    // The size check comes first on the load path: it must not read more than the header.
    (void)orvl::precalc_parse(data, size, file, 640, 480);
    return 0;
  }
  for (uint32_t entry : file.frame_table)
    if (entry > file.visibility.size()) std::abort();
  std::vector<uint8_t> again;
  if (orvl::precalc_encode(file, again) != orvl::PrecalcStatus::ok) std::abort();
  orvl::PrecalcFile back;
  if (orvl::precalc_parse(again.data(), again.size(), back, file.width, file.height) != orvl::PrecalcStatus::ok ||
      back.visibility != file.visibility || back.frame_table != file.frame_table || back.step != file.step)
    std::abort();
  return 0;
}
