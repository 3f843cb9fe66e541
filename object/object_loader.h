// LWOB object loader: reads one LightWave 5 object file into the next free object of a
// Scene, turning polygons into triangles with surface colours, flags, texture numbers,
// planar texture coordinates and normals. Called by the scene parser for every
// "LoadObject" line.
#pragma once

#include <string>

#include "scene/scene.h"

namespace orvl {

enum class [[nodiscard]] LoadStatus : int {
  ok = 0,
  not_found = 1,      // object file, or one of its surface images (then image_missing = 1)
  out_of_memory = 2,  // also used for a full scene table (a log line names the limit)
  bad_format = 4,     // not an LWOB form, or a structure the loader cannot use
};
const char* load_status_text(LoadStatus s);

// First attempt (retry false): drops the first 13 characters of `name` in place and opens
// the rest relative to the working directory. Retry: opens `name` unchanged.
LoadStatus load_object(Scene& scene, std::string& name, bool retry);

}  // namespace orvl
