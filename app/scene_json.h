// JSON and text views of a loaded Scene for the inspection commands (`orvl dump-scene`,
// `orvl dump-object`, and the pieces `orvl eval` shares).
//
// JSON keys are the Scene's member names (`first_frame`, `key_count`, `dissolve_envelope`,
// `ambient_color`, ...), nested as the records nest: `objects[i].pivot`,
// `motions[i].keys[k].value[0..8]`, `lights[i].color`. Floats are written in the shortest
// decimal form that reads back to the same 32-bit value; names and paths that are not UTF-8
// are read as Latin-1 (LightWave 5 wrote 8-bit Windows/Amiga text), so any byte prints.
// README.md lists every key.
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
// A name or path as a JSON string: kept when it is UTF-8 already (a path typed by the user),
// otherwise each byte read as Latin-1 (names written inside the files), so dumping never
// fails on 8-bit text.
SceneJson json_text(const std::string& text);

// What the object loader built, the same in both dumps: the counts (`polygon_count`,
// `vertex_count`, `surface_count`) and the loader's flags (`deform`, `needs_normals`,
// `metaform`, `no_dissolve`, `plots`, `particles`, `static_image`), added to `j` or as one
// line of "name value" pairs; and the object's surfaces, points and triangles in full.
void add_object_counts(SceneJson& j, const SceneObject& o);
void add_object_flags(SceneJson& j, const SceneObject& o);
std::string object_counts_text(const SceneObject& o);
std::string object_flags_text(const SceneObject& o);
void add_object_geometry(SceneJson& j, const SceneObject& o);  // surfaces, vertices, polygons
std::string object_geometry_text(const SceneObject& o);          // "surfaces:", "points:", "triangles:"

// A surface's LightWave record (object/lw_surface.h) with every field under its member
// name, enums by name (`channel`, `projection`, `wrap_u`, `blend`, ...), a layer's LWO2
// ordinal as hexadecimal bytes. `dump-object --json` prints it as `surfaces[].lightwave`.
SceneJson lw_surface_json(const LwSurfaceParams& lw);

SceneJson motion_json(const Scene& scene, int index);  // header and its keys
SceneJson object_json(const Scene& scene, int index);
SceneJson light_json(const Scene& scene, int index);

// The whole scene as `orvl dump-scene --json` prints it; `status` is what scene_load gave.
SceneJson scene_json(const Scene& scene, SceneStatus status);

// The same content as readable text, one item per line.
std::string scene_text(const Scene& scene, SceneStatus status);

}  // namespace orvl
