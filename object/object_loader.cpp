// Placeholder until the loader lands: reports every object as missing.
#include "object/object_loader.h"

namespace orvl {

const char* load_status_text(LoadStatus s) {
  switch (s) {
    case LoadStatus::ok: return "loaded";
    case LoadStatus::not_found: return "file not found";
    case LoadStatus::out_of_memory: return "out of memory";
    case LoadStatus::bad_format: return "not a LightWave object";
  }
  return "unknown";
}

LoadStatus load_object(Scene& scene, std::string& name, bool retry) {
  if (!retry) name = name.size() > 13 ? name.substr(13) : std::string();
  scene.loaded = 0;
  return LoadStatus::not_found;
}

}  // namespace orvl
