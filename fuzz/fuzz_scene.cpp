// Scene text from the fuzzer through the whole parser. Object files named by the input are
// looked up relative to the working directory, as the show would; none are expected there.
#include <cstddef>
#include <cstdint>

#include "platform/log.h"
#include "scene/scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvl::log_set_echo(false);
  orvl::log_clear();
  orvl::Scene scene;
  orvl::scene_construct(scene);
  (void)orvl::scene_configure(scene, 0, 640, 480, 1024, 0);
  (void)orvl::scene_load_text(scene, "fuzz.lws", data, size);
  orvl::scene_scale(scene, 50.0f);
  orvl::scene_reset_motions(scene);
  orvl::scene_destroy(scene);
  orvl::scene_destroy(scene);
  return 0;
}
