// Writer of LightWave 6 scene files ("LWSC" 3, or 4/5 with item ids) from the same tables
// the scene reader fills (scene/lwsc.h), so a scene read back from the text equals the one
// written. Used by tests, benchmarks, fuzz seeds and the demo generator.
//
// Writes what it is given without checking it; a channel whose envelope index is outside
// the table is written as one key of its rest value (1 for scale channels, else 0).
// Numbers are written in the shortest form that reads back to the same float. `extra_lines` is inserted after every item (blocks the player skips).
#pragma once

#include <string>

#include "scene/lwsc.h"

namespace orvl {

struct LwscWriteOptions {
  bool item_ids = true;     // "LoadObjectLayer 1 10000000 path", "AddLight 20000000"
  std::string extra_lines;  // "\n"-separated text written after each item
};

std::string write_lwsc(const LwscScene& scene, const LwscWriteOptions& options = LwscWriteOptions());
bool write_lwsc_file(const std::string& path, const LwscScene& scene,
                     const LwscWriteOptions& options = LwscWriteOptions());

}  // namespace orvl
