// Feeds raw bytes to the image decoder as a png file.
#include "fuzz/image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz_decode_as(orvl::ImgFileType::png, data, size);
}
