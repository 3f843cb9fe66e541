// The scene record: one loaded LightWave scene with every table it needs to play.
//
// A `Scene` owns its objects (and their meshes), motions, key pool, lights, image names
// and the renderer's work buffers. Tables have the fixed capacities below; every writer
// checks them and fails the load with a log line naming the limit rather than growing.
// Created and configured by the show sequencer, filled by the scene parser and the object
// loader, read and updated each frame by the motion evaluation and the frame renderer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "object/mesh.h"
#include "object/object_loader.h"
#include "platform/file.h"
#include "scene/envelope.h"
#include "scene/lw_info.h"

namespace orvl {

constexpr int kMaxMotions = 64;
constexpr int kMaxKeys = 5000;
constexpr int kMaxLights = 64;
constexpr int kMaxMetaformRanges = 64;
constexpr size_t kMaxNameLength = 127;  // surface names and image paths
constexpr int kNumChannels = 9;         // X, Y, Z, heading, pitch, bank, scale X, Y, Z

// Bits of the scene options word.
namespace SceneFlags {
constexpr uint32_t BILINEAR = 0x1;
constexpr uint32_t COMMON_RENDERING = 0x2;
constexpr uint32_t LOADER_OPTION = 0x4;  // read by the object loader; the show never sets it
constexpr uint32_t DEPTH_BUFFER = 0x10;
constexpr uint32_t BUILD_PRECALC = 0x20;
constexpr uint32_t MIPMAP = 0x100;
// A surface image that cannot be found leaves that surface without it (one log line per
// image) instead of failing the load. LightWave 6 scenes only; lone objects set it.
constexpr uint32_t IMAGES_OPTIONAL = 0x200;
// An object file that cannot be found becomes a null object in its place (SceneObject::
// missing, one log line each) with its motion, parent, children and envelopes kept, instead
// of failing the load with file_not_found. Both scene readers; an object that is found but
// damaged, or a missing surface image, still fails.
constexpr uint32_t MISSING_NULL = 0x400;
// LWOB objects load with ObjectLoadOptions::light_unlit_surfaces. LightWave 6 scenes
// only; lone objects set it.
constexpr uint32_t LIGHT_UNLIT_SURFACES = 0x800;
}  // namespace SceneFlags

enum class [[nodiscard]] SceneStatus : int {
  ok = 0,
  file_not_found = 1,  // scene or object file could not be opened (`error_path` says which)
  out_of_memory = 2,   // also: the scene file could not be read, or a capacity was exceeded
  bad_motion = 3,      // a motion block with a channel count other than 9
  bad_object = 4,      // the object loader's own failure (not an LWOB object), passed through
  not_a_scene = 5,     // the text does not start with "LWSC": not a LightWave scene
  bad_scene = 6,       // a LightWave 6 scene that is damaged or of a layout not known
};
const char* scene_status_text(SceneStatus s);
// What to tell the user after a failed load: the file layer's reason when the scene file
// itself was refused for what it is ("not a regular file", "permission denied"), otherwise
// scene_status_text(s). The status number stays the same either way.
struct Scene;
const char* scene_failure_text(const Scene& scene, SceneStatus s);
// The scene's status for an object the loader could not load.
SceneStatus scene_status_from(LoadStatus s);

struct MotionKey {
  float value[kNumChannels] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  float tension = 0, continuity = 0, bias = 0;
  int linear = 0;  // 1: the segment ending at this key is linear
  int frame = 0;
};

struct Motion {
  float frames_per_second = 0;  // header 0 only
  int first_key = 0;
  int channel_count = 0;  // 9 for motions, 1 for envelopes
  int key_count = 0;
  int end_behavior = 0;
  float frame = 0;
  float first_frame = 0;   // header 0: the scene's first frame
  float frame_step = 1.0f; // header 0: the scene's frame step
  float last_frame = 0;    // header 0: the scene's last frame; others: last key's frame
  int reserved = 0;
  float start_tick = 0;  // 0: not started
  uint32_t advanced = 0;
  // LightWave 6 motions and envelopes: each channel is its own envelope, entries
  // envelope_first .. + channel_count of Scene::envelopes.channels (-1: LightWave 5 keys).
  int envelope_first = -1;
  uint8_t envelope_use = 0;     // EnvelopeUse of a one-channel envelope
  uint8_t negate_channels = 0;  // bit c: channel c is stored negated (the LightWave 5 parser's convention)
};

// How the value of a LightWave 6 one-channel envelope lands in channel 0, so that the
// LightWave 5 consumers (dissolve level, zoom) read it as they read their own keys.
enum class EnvelopeUse : uint8_t {
  value = 0,     // as it is (times the scene scale, as every envelope key is)
  dissolve = 1,  // 0..1 dissolve becomes the 0..255 opacity level
  zoom = 2,      // zoom factor
};

// One channel of a LightWave 6 motion: a run of `SceneEnvelopes::keys`, or a constant.
struct ChannelEnvelope {
  int first_key = 0;
  int key_count = 0;
  EnvBehavior pre = EnvBehavior::constant;
  EnvBehavior post = EnvBehavior::constant;
  float constant = 0;  // the value of a channel the file does not animate (no keys)
};

// Envelope tables of a LightWave 6 scene (empty for LightWave 5 scenes). Their keys count
// toward the same kMaxKeys pool as LightWave 5 motion keys.
struct SceneEnvelopes {
  int format_version = 1;   // LWSC version of the loaded scene
  double time_origin = 0;   // seconds at playback frame 0: FirstFrame / FramesPerSecond
  double file_frame_step = 1;  // "FrameStep" as read (playback runs in real time)
  std::vector<ChannelEnvelope> channels;
  std::vector<EnvKey> keys;
};

// Motions only LightWave's own reading needs (scene/lw_scene.h): LightWave 5 light
// intensity envelopes and a current camera other than the engine's, in the engine's own
// layout so that one evaluation serves both. The engine never evaluates them; their keys are
// in file units (the scene scale is applied when they are evaluated).
struct LwMotionTables {
  std::vector<Motion> motions;
  std::vector<MotionKey> keys;  // LightWave 5 keys of those motions
  SceneEnvelopes envelopes;     // LightWave 6 channels of those motions
};

struct SceneLight {
  float reserved_position[3] = {0, 0, 0};
  float color[3] = {0, 0, 0};
  float intensity = 0;
  float reserved_direction[3] = {0, 0, 0};
  int reserved_words[3] = {0, 0, 0};
  int motion = 0;
  int type = 0;  // 4 distant, 1 point, 2 spot (0 when the file gave another value)
  int intensity_envelope = -1;  // LightWave 6: motion of an animated intensity
};

// One queued triangle of the frame's draw list: the triangle and its three vertices
// (normally in the object's transformed array).
struct DrawEntry {
  const Triangle* triangle = nullptr;
  Vertex* vertex0 = nullptr;
  Vertex* vertex1 = nullptr;
  Vertex* vertex2 = nullptr;
  // The renderer's drawing-state code of the triangle, taken when it is queued, so that
  // grouping by state does not visit every triangle a second time.
  uint32_t state = 0;
};

// Depth key of a queued triangle (smallest camera-space z times 256) and its draw-list index.
struct SortKey {
  int32_t key = 0;
  int32_t index = 0;
};

// The object table (objects, image names, paths, display limits) is the base; the rest is
// the scene's own: timing, motions, lights, camera and the renderer's work.
// Precalculation: the visibility stream that replaces culling when a scene was
// precalculated, its frame table, and the recorder's state while one is built.
struct PrecalcState {
  bool precalc_resolution_differs = false;
  bool precalc_invalid = false;
  int precalc_file_step = 0;
  int precalc_step = 0;
  std::vector<uint8_t> visibility;
  size_t visibility_cursor = 0;
  std::vector<uint32_t> frame_table;
  // The recorder (filled while a precalculation file is built).
  bool build_precalc = false;
  int precalc_bytes = 0;
  uint8_t precalc_accumulator = 0;
  int precalc_length = 0;
  int precalc_capacity_mib = 0;
  int frames_recorded = 0;
  std::vector<uint32_t> frame_table_out;
  bool precalc_started = false;
  bool precalc_open = false;
  int precalc_outcome = 0;  // last build of this scene: 0 none, 1 file written, 2 failed
};

// The renderer's per-frame work buffers, sized when the scene loads.
struct DrawBuffers {
  std::vector<DrawEntry> draw_list;     // 3 x (polygon_total + 4096) entries
  std::vector<int32_t> sort_histogram;  // 257 counters
  std::vector<SortKey> sort_keys;
  std::vector<SortKey> sort_scratch;   // the depth sort's scratch, then the grouping's links
  std::vector<SortKey> group_order;    // the drawing order grouped by state (as many as sort_keys)
  std::vector<SortKey> group_scratch;
  int metaform_ranges[kMaxMetaformRanges][2] = {};
  int metaform_range_count = 0;
  uint32_t clear_mask = 0;
  bool polygon_visible = false;
  uint8_t bit_mask = 0;
  // Renderer limits already reported for this scene (one log line each).
  bool warned_draw_list_full = false;
  bool warned_lw_fog = false;  // lightwave look: a fog type drawn as linear was logged
  bool warned_extra_lights = false;
  bool warned_precalc_fallback = false;
};

// The scene parser's input: the scene file in memory and the read position.
struct ParserInput {
  std::vector<uint8_t> text;
  size_t text_pos = 0;
};

// The object table (objects, image names, paths, display limits) is the base; the rest is
// the scene's own, grouped by who works on it.
struct Scene : ObjectTable {
  std::string error_path;  // after a failed load: the file that could not be opened
  FileStatus error_file = FileStatus::ok;  // why the scene file itself could not be read
  float progress = 0;
  int finished = 0;
  int current_frame = 0;
  uint32_t flags = 0;

  // Motions, envelopes, their key pool and the lights, as the parser filled them.
  std::vector<Motion> motions;     // kMaxMotions entries once loading starts
  int motion_count = 0;
  int next_motion = 0;
  std::vector<MotionKey> keys;     // the key pool, kMaxKeys entries once loading starts
  int next_key = 0;
  std::vector<SceneLight> lights;  // kMaxLights entries once loading starts
  int light_count = 0;
  int zoom_envelope = -1;
  int camera_parent = -1;
  float scale = 1.0f;

  // Look: zoom, ambient light and backdrop.
  float zoom_factor = 0;
  float view_zoom_factor = 0;
  float ambient_color[3] = {0, 0, 0.25f};
  float ambient_intensity = 0.25f;
  float backdrop_color[3] = {0, 0, 0};

  // Evaluation of the current frame: show clock, channels, camera, lights, object.
  float now = 0;
  float previous_now = 0;
  float x_offset = 0;
  int current_dissolve = 0;
  float channels[kNumChannels] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  float camera_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float light_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float light_position[3] = {0, 0, 0};
  float light_angles[3] = {0, 0, 0};
  float camera_position[3] = {0, 0, 0};
  float camera_angles[3] = {0, 0, 0};
  float object_angles[3] = {0, 0, 0};
  int object_index = 0;
  int video_frame_width = 0, video_frame_height = 0;

  ParserInput parse;
  DrawBuffers draw;
  PrecalcState precalc;
  SceneEnvelopes envelopes;  // LightWave 6 channels and their keys
  LwSceneInfo lw;            // what LightWave's own look reads (scene/lw_info.h)
  LwMotionTables lw_motions; // animated values of `lw` the engine does not keep
};

void scene_construct(Scene& scene);
void scene_destroy(Scene& scene);
// Zeroes every table count and read position (the tables themselves are left alone).
void scene_clear_counts(Scene& scene);
// Sizes the renderer's draw list and sort buffers for the loaded polygons: three entries per
// triangle plus headroom, so nothing is allocated while frames are drawn. False when memory
// runs out (the buffers are then left as they were).
bool scene_alloc_draw_buffers(Scene& scene);
int scene_configure(Scene& scene, uint32_t flags, int width, int height, int max_texture_size,
                    int precalc_step);
void scene_set_lightwave_root(Scene& scene, const std::string& root);
// Reads a LightWave 5 scene file into a configured Scene: timing, objects (meshes through
// the object loader, null objects here), motions and envelopes, lights, camera, ambient and
// backdrop colours, then the renderer's buffers. A forward keyword scanner, not a general
// LWS reader: items must come in the order LightWave writes them. Any failure leaves the
// Scene cleaned up with `loaded` = 0: status 1 with `error_path` naming the missing scene,
// object or image file; 2 out of memory, an unreadable scene file or a full table (a log line
// names the limit); 3 a motion whose channel count is not 9; 4 an object the loader rejects.
SceneStatus scene_load(Scene& scene, const std::string& file_name);
// The same from scene text already in memory; `path` names the scene (its folder is one of
// the places object files are looked for).
SceneStatus scene_load_text(Scene& scene, const std::string& path, const uint8_t* data,
                            size_t size);
// LightWave 6 and later scenes (LWSC 2 to 5), chosen by scene_load and scene_load_text
// from the version line: the same record filled from the scene reader's tables. Objects
// and null objects take object entries in file order, lights light entries, the first
// camera motion 0; every channel keeps its own envelope. Objects load through the object
// loader (LWO2 or LWOB), as written, beside the scene, or below the LightWave root. A
// damaged scene fails with bad_scene, a full table or key pool with out_of_memory.
SceneStatus scene_load_lwsc(Scene& scene, const std::string& path, const uint8_t* data,
                            size_t size);
// How both readers stop a load: the scene is cleaned up with `loaded` = 0 and `status` is
// returned. A refusal (a limit or count the scene breaks) first logs
// "Scene PATH refused: WHY" and stops with out_of_memory.
SceneStatus scene_load_failed(Scene& scene, SceneStatus status);
SceneStatus scene_load_refused(Scene& scene, const std::string& why);
void scene_scale(Scene& scene, float factor);
void scene_reset_motions(Scene& scene);

}  // namespace orvl
