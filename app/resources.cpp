#include "app/resources.h"

namespace orvl {

// Defined in the source generated from the built sound library.
extern const unsigned char kEmbeddedSoundLibrary[];
extern const std::size_t kEmbeddedSoundLibrary_size;

ResourceBytes find_resource(std::string_view name) {
  if (name == "IDR_BASS") return {kEmbeddedSoundLibrary, kEmbeddedSoundLibrary_size};
  return {};
}

}  // namespace orvl
