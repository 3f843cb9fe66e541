// Reader of LightWave 6 and later scene files ("LWSC" versions 3 to 5, and the compact
// version 2 of LightWave 5.6) into plain tables, for the scene loader to turn into a Scene.
//
// The text is read line by line. Items: LoadObjectLayer (layer, optional hex item id,
// path), LoadObject, AddNullObject, AddLight and AddCamera; item ids are hexadecimal with
// the kind in the top digit (1 objects and nulls, 2 lights, 3 cameras); items written
// without ids get the ids LightWave would give them, in order. After an item: its motion
// (NumChannels and one "Channel n" envelope block per channel), ParentItem (by id),
// PivotPosition, ObjectDissolve, LightColor, LightIntensity, LightType, ZoomFactor, names.
// Scene-wide: FirstFrame, LastFrame, FrameStep, FramesPerSecond, AmbientColor,
// AmbientIntensity, BackdropColor. Values that may be animated are either a number or
// "(envelope)" followed by an envelope block. Any other block, at any depth, is stepped
// over by its braces; Plugin ... EndPlugin sections are stepped over whole; any other line
// is ignored.
//
// Units as the scene uses them after reading: times in seconds, rotations in radians,
// colours 0..1. Version 2 stores rotation keys in degrees and colours as 0..255; they are
// converted here. Version 2 keys name their span shape with codes of their own; only the
// code LightWave 5.6 writes for TCB keys (2) is known, and any other fails the read with
// `unsupported_shape` rather than guessing.
//
// Bad input fails with a status and the line it was found on, and `out` left empty: a block
// that never closes, a key count larger than the lines that follow, a key line without its
// numbers, a channel number outside the motion, a span shape or behaviour outside 0..5.
// Nothing is allocated for a count before the lines it promises have been seen, and
// `LwscLimits` caps the items and keys (the scene loader passes its own capacities).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/envelope.h"

namespace orvl {

enum class [[nodiscard]] LwscStatus : int {
  ok = 0,
  not_lwsc = 1,             // no "LWSC" first line
  unsupported_version = 2,  // not a version this reader knows (1 belongs to LightWave 5)
  bad_syntax = 3,           // see the comment above; `error_line` says where
  too_many = 4,             // items or keys beyond the limits
  unsupported_shape = 5,    // a version 2 key with a shape code of unknown meaning
};
const char* lwsc_status_text(LwscStatus s);

struct LwscLimits {
  uint32_t max_items = 4096;
  uint32_t max_keys = 1u << 20;
};

enum class LwscItemKind : uint8_t { object = 0, null_object = 1, light = 2, camera = 3 };
const char* lwsc_item_kind_name(LwscItemKind k);

// One envelope: a run of `LwscScene::keys`, sorted by time.
struct LwscEnvelope {
  uint32_t first_key = 0;
  uint32_t key_count = 0;
  EnvBehavior pre = EnvBehavior::constant;
  EnvBehavior post = EnvBehavior::constant;
};

constexpr int kLwscChannels = 9;  // X, Y, Z, heading, pitch, bank, scale X, Y, Z

struct LwscItem {
  LwscItemKind kind = LwscItemKind::object;
  uint32_t id = 0;
  int layer = 1;
  std::string path;  // object file, or the null object's name
  std::string name;  // LightName / CameraName
  bool has_parent = false;
  uint32_t parent_id = 0;
  int parent = -1;  // index into LwscScene::items, resolved after reading (-1: none found)
  float pivot[3] = {0, 0, 0};
  int channel_count = 0;
  int32_t channels[kLwscChannels] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};  // envelope index
  float dissolve = 0;
  int32_t dissolve_envelope = -1;
  float color[3] = {1, 1, 1};
  float intensity = 1;
  int32_t intensity_envelope = -1;
  int light_type = 0;  // 0 distant, 1 point, 2 spot, 3 linear, 4 area
  float zoom = 3.2f;
  int32_t zoom_envelope = -1;
};

struct LwscScene {
  int version = 0;
  double first_frame = 1, last_frame = 60, frame_step = 1, frames_per_second = 30;
  float ambient_color[3] = {1, 1, 1};
  float ambient_intensity = 0.25f;
  float backdrop_color[3] = {0, 0, 0};
  std::vector<LwscItem> items;
  std::vector<LwscEnvelope> envelopes;
  std::vector<EnvKey> keys;
  uint32_t error_line = 0;  // 1-based line of the first problem (0: none)

  // Value of envelope `e` at `seconds` (0 for an index outside the table).
  double evaluate(int32_t e, double seconds) const;
};

// The version number on the second line of an "LWSC" file, or 0 when the text does not
// start like one.
int lwsc_version(const uint8_t* text, size_t size);

LwscStatus lwsc_read(const uint8_t* text, size_t size, LwscScene& out,
                     const LwscLimits& limits = LwscLimits());

}  // namespace orvl
