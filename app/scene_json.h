// JSON and text views of a loaded Scene for the inspection commands (`orvl dump-scene`,
// and the pieces `orvl eval` shares).
//
// JSON keys are the Scene's member names (`first_frame`, `key_count`, `dissolve_envelope`,
// `ambient_color`, ...), nested as the records nest: `objects[i].pivot`,
// `motions[i].keys[k].value[0..8]`, `lights[i].color`. Floats are written in the shortest
// decimal form that reads back to the same 32-bit value. README.md lists every key.
// Only tables inside their counts are read, so a scene whose load failed prints safely.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "scene/scene.h"

namespace orvl {

// Keys keep the order they are written in, so the dump reads top-down like the scene.
using SceneJson = nlohmann::ordered_json;

// A float as the JSON number with the same shortest decimal text (0.1f -> 0.1).
SceneJson json_float(float v);
SceneJson json_floats(const float* v, int n);
// The same text for the plain-text dumps.
std::string float_text(float v);

SceneJson motion_json(const Scene& scene, int index);  // header and its keys
SceneJson object_json(const Scene& scene, int index);
SceneJson light_json(const Scene& scene, int index);

// The whole scene as `orvl dump-scene --json` prints it; `status` is what scene_load gave.
SceneJson scene_json(const Scene& scene, SceneStatus status);

// The same content as readable text, one item per line.
std::string scene_text(const Scene& scene, SceneStatus status);

}  // namespace orvl
