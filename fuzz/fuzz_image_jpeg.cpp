// Feeds raw bytes to the image decoder as a jpeg file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (orvl::log_set_echo(false), true);
  (void)quiet;
  orvl::log_clear();
  orvl::Img img;
  img.type = orvl::ImgFileType::jpeg;
  (void)img.set_file_data(std::vector<uint8_t>(data, data + size));
  orvl::ImgDecoder dec;
  if (dec.bind(&img).decode() == orvl::ImgError::ok) {
    // A successful decode must describe its buffer exactly.
    if (img.pixels.size() != static_cast<size_t>(img.width) * img.height || img.pitch != img.width)
      __builtin_trap();
  } else if (!img.pixels.empty()) {
    __builtin_trap();  // a failed decode must leave nothing to read
  }
  img.release();
  return 0;
}
