// Feeds raw bytes to the LWOB object loader as if they were an object file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "object/object_loader.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "scene/scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (orvl::log_set_echo(false), true);
  (void)quiet;
  orvl::log_clear();
  orvl::reset_texture_counter();
  orvl::Scene scene;
  scene.objects.resize(orvl::kMaxObjects);
  scene.motions.resize(orvl::kMaxMotions);
  scene.width = 640;
  scene.height = 480;
  orvl::ObjectLoadOptions options;
  options.images_required = false;  // image names are arbitrary bytes here
  orvl::ObjectLoadContext context;
  (void)orvl::load_object_data(scene, context, std::vector<uint8_t>(data, data + size), options);
  return 0;
}
