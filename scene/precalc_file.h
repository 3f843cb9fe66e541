// Precalculation file: one visibility bit per polygon for every recorded frame of a scene.
//
// A build runs the scene frame by frame at a fixed interval without drawing; after each
// evaluated frame `precalc_record_frame` appends one bit per polygon (faces the camera and
// lies at least partly in view) to an in-memory stream. `precalc_finish` compresses the
// stream with the LZW codec and writes the file. Playback reads the file when the scene
// loads (`precalc_read`) and the frame renderer then draws exactly the polygons whose bit
// is set, skipping its own facing and view tests.
//
// File (little-endian 32-bit signed integers, no padding):
//   "PRK3\0" | width | height | step | U | C | C bytes of LZW stream | T | T/4 offsets
// U is the length of the decoded stream, T the size of the frame table in bytes; entry i
// is where recorded frame i's bits begin in the decoded stream.
//
// Stream: per frame, for every object that takes bits (in object order), one bit per
// triangle, most significant bit first; each frame starts on a new byte, its last byte is
// padded with zero bits. The first entry belongs to frame step x frame step of the scene
// (motions advance before the first recording); playback frame f uses entry f / step.
//
// Name: the scene path with its ".lws" extension (any letter case) replaced by "PRK"; a
// path without that extension has no precalculation file. Reader and writer share the rule.
//
// Safety: every field is checked against the file's real size before it is used; a file
// that contradicts itself is invalid and the scene plays without it. The writer builds the
// whole file in memory and replaces the old one only once the new one is complete and on
// disk, so no failure leaves a partial file under the real name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/scene.h"

namespace orvl {

enum class [[nodiscard]] PrecalcStatus : int {
  ok = 0,
  no_file = 1,        // nothing under the scene's precalculation name
  invalid = 2,        // wrong magic, truncated, or fields that contradict each other
  other_size = 3,     // built for another output size
  no_name = 4,        // the scene path has no ".lws" extension
  write_failed = 5,   // the file could not be created, written, flushed or renamed
  out_of_memory = 6,  // no memory for the stream or the table
  not_building = 7,   // precalc_finish without a build in progress
};
const char* precalc_status_text(PrecalcStatus s);

constexpr char kPrecalcMagic[5] = {'P', 'R', 'K', '3', '\0'};
constexpr size_t kPrecalcHeaderBytes = 25;  // magic, width, height, step, U, C
// Largest U, C or T accepted or written: far above any real scene, small enough that a
// hostile header cannot make the reader allocate without bound.
constexpr uint32_t kMaxPrecalcField = uint32_t(1) << 30;
constexpr int kMaxPrecalcStep = 8;
constexpr size_t kPrecalcGrowBytes = size_t(1) << 20;  // the stream grows in these steps

// "dir/1vex.lws" -> "dir/1vex.PRK"; "" when the path does not end in ".lws" (any case).
std::string precalc_file_name(const std::string& scene_path);

// The contents of one file.
struct PrecalcFile {
  int32_t width = 0;
  int32_t height = 0;
  int32_t step = 0;
  uint32_t compressed_size = 0;     // C (filled by the reader)
  std::vector<uint8_t> visibility;  // U bytes
  std::vector<uint32_t> frame_table;
};

// Checks and decodes a whole file held in memory. With a non-zero `want_width`, a file
// built for another size gives `other_size` (its width, height and step are still filled
// in) before the rest is looked at. Anything else wrong gives `invalid`; nothing is read
// outside [data, data + size).
PrecalcStatus precalc_parse(const uint8_t* data, size_t size, PrecalcFile& out, int want_width = 0,
                            int want_height = 0);
// The file's bytes: header, compressed stream, table. `invalid` when a field would not fit.
PrecalcStatus precalc_encode(const PrecalcFile& file, std::vector<uint8_t>& out);
// Writes `bytes` under `path` through a temporary file in the same folder that is renamed
// over the old one once written and flushed. `error` (optional) receives the reason.
PrecalcStatus precalc_write_file(const std::string& path, const std::vector<uint8_t>& bytes,
                                 std::string* error = nullptr);

// Objects that take bits: at least one triangle, and neither a morph target, a static
// image nor a particle emitter (the frame renderer applies the same filter).
bool precalc_object_takes_bits(const SceneObject& object);
// Bytes one frame of `scene` occupies in the stream.
size_t precalc_frame_bytes(const Scene& scene);
// True when the loaded stream answers the current frame: its entry (current_frame /
// precalc_file_step) is in the table, the visibility cursor stands there, and the frame's
// bytes (up to the next entry, or the end of the stream) are exactly what the scene's
// objects take. A scene changed since its file was built, or a frame past the table,
// gives false: the renderer then uses its own tests for that frame.
bool precalc_frame_usable(const Scene& scene);
// The recorder's test on three camera-space vertices for an output of width x height:
// faces the camera (or double-sided), not wholly nearer than one unit, and not wholly
// beyond one side of the view (|X| <= width/height, |Y| <= 1.5 height/width after the
// division by -z).
bool precalc_polygon_visible(const Vertex& p0, const Vertex& p1, const Vertex& p2, bool double_sided,
                             int width, int height);
// Frame-table entries a build of `scene` can fill: one per call until the camera reaches
// the last frame at precalc_step x frame step per call (at least one; capped so the table
// stays within kMaxPrecalcField bytes).
size_t precalc_table_entries(const Scene& scene);

// Scene load: reads the scene's file if there is one. No file: no stream and no flag.
// Invalid: `precalc_invalid`. Other size: `precalc_invalid` and
// `precalc_resolution_differs`. Otherwise `visibility`, `frame_table` and
// `precalc_file_step` are set. One log line for a file that is not used.
PrecalcStatus precalc_read(Scene& scene);

// Called once per evaluated frame while a build runs (SceneFlags::BUILD_PRECALC). The first
// call starts the build (a path without ".lws" records nothing, with a log line); each call
// appends one frame; the call in which the camera reaches the last frame (or the table is
// full) also runs `precalc_finish`. Later calls record nothing.
void precalc_record_frame(Scene& scene);
// Appends one byte to the stream being built; false when memory runs out.
bool precalc_put_byte(Scene& scene, uint8_t byte);
// Compresses the stream and writes the file; releases the build's buffers either way and
// logs the outcome. `not_building` when no build is open (already finished or never begun).
PrecalcStatus precalc_finish(Scene& scene);
// Ends a build that did not reach the scene's last frame (stopped, or out of time): nothing
// is written, the old file stays, one log line says so. False when no build was open.
bool precalc_abandon(Scene& scene);

}  // namespace orvl
