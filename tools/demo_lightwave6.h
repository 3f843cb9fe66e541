// The demo's optional ninth scene, in LightWave 6 formats: scene/9lw6.lws (LWSC 3) with
// its LWO2 objects and their PNG picture in objects/. Not part of the fixed show of eight;
// play it with `orvl render DIR/scene/9lw6.lws --out PICTURES`.
//
// A UV-mapped globe turns under a null; a cube circles it on TCB, Hermite and 2D Bezier
// channels with oscillating and offset-repeating behaviours; a translucent double-sided
// ring spins; the camera zooms through an envelope and the light's intensity rises. The
// clip names an absolute path of the author's disk, so the picture is found by its file
// name beside the object.
#pragma once

#include <string>

namespace orvl {

inline constexpr const char* kDemoLightWave6Scene = "scene/9lw6.lws";

struct DemoSummary;

// Writes the scene below `out_dir` (its "scene" and "objects" folders must exist) and
// counts what it wrote into `summary`. False with `error` when a file cannot be written.
bool write_lightwave6_demo(const std::string& out_dir, DemoSummary& summary, std::string& error);

}  // namespace orvl
