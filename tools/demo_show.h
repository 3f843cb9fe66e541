// The bundled demo show: a deterministic generator of eight scenes, their objects and the
// music, laid out as the player expects below one directory:
//   scene/1vex.lws .. scene/8vex.lws, objects/*.lwo, images/*, music/vexmarine.mp3
//
// Called by the `make-demo` tool (which only parses its arguments) and by the tests. Every
// mesh is built procedurally; object paths inside the scene files start with the 13-character
// author prefix `kDemoPathPrefix`, which the loader drops before opening the rest relative to
// the working directory, so the show plays with the output directory as working directory.
// Image paths inside the objects carry the same prefix; the pictures are procedural and
// written as BMP, Targa, IFF ILBM and JPEG files.
// Scenes 1, 2, 6 and 7 are authored 50 times smaller because the show scales them by 50.
//
// Bad input: an output directory that cannot be created or written gives false and a message
// naming the file; nothing is left half-described (files already written stay on disk).
#pragma once

#include <string>

namespace orvl {

// Thirteen characters standing for the author's drive and folder.
inline constexpr const char* kDemoPathPrefix = "C:\\LIGHTWAVE\\";

// One entry of the show: scene file, whether the show scales it by 50, and its slot.
struct DemoSlot {
  const char* file;  // relative to the output directory, as the show names it
  bool scaled;
  double start_seconds;
  double end_seconds;
};
inline constexpr int kDemoSceneCount = 8;
extern const DemoSlot kDemoSlots[kDemoSceneCount];

inline constexpr double kDemoFramesPerSecond = 30.0;
inline constexpr double kDemoShowSeconds = 151.0;

struct DemoOptions {
  double music_seconds = kDemoShowSeconds;  // 0: write no music file
  bool lightwave6 = false;  // also the optional ninth scene (tools/demo_lightwave6.h)
};

// Counts of what was written, for the tool's summary line.
struct DemoSummary {
  int scenes = 0;
  int objects = 0;
  int images = 0;
  long triangles = 0;  // polygons split into triangles, over all objects
  long music_bytes = 0;
};

// Writes the whole show below `out_dir` (created when missing). Returns false with `error`
// set when a directory or file cannot be written or the music cannot be encoded.
bool make_demo_show(const std::string& out_dir, const DemoOptions& options, DemoSummary& summary,
                    std::string& error);

}  // namespace orvl
