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

namespace orvl {

constexpr int kMaxObjects = 50;
constexpr int kMaxMotions = 64;
constexpr int kMaxKeys = 5000;
constexpr int kMaxLights = 64;
constexpr int kMaxImageNames = 256;
constexpr int kMaxMetaformRanges = 64;
constexpr size_t kMaxPathLength = 255;  // paths and file names inside a scene
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
}  // namespace SceneFlags

enum class [[nodiscard]] SceneStatus : int {
  ok = 0,
  file_not_found = 1,  // scene or object file could not be opened (`error_path` says which)
  out_of_memory = 2,   // also: the scene file could not be read, or a capacity was exceeded
  bad_motion = 3,      // a motion block with a channel count other than 9
  bad_object = 4,      // the object loader's own failure (not an LWOB object), passed through
  not_a_scene = 5,     // the text does not start with "LWSC": not a LightWave scene
};
const char* scene_status_text(SceneStatus s);

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
};

struct SceneLight {
  float reserved_position[3] = {0, 0, 0};
  float color[3] = {0, 0, 0};
  float intensity = 0;
  float reserved_direction[3] = {0, 0, 0};
  int reserved_words[3] = {0, 0, 0};
  int motion = 0;
  int type = 0;  // 4 distant, 1 point, 2 spot (0 when the file gave another value)
};

struct ParticleEmitter;  // particle system state, owned through SceneObject::emitter

struct SceneObject {
  int polygon_count = 0;
  int vertex_count = 0;
  int surface_count = 0;
  int motion = 0;
  int parent = -1;
  int dissolve_envelope = -1;
  int deform = 0;
  float pivot[3] = {0, 0, 0};  // stored negated
  int dissolve = 0;            // 0..255
  std::vector<Triangle> polygons;
  std::vector<uint8_t> plots_buffer;  // vertex_count x 144 bytes for "_PLOTS_" objects
  std::vector<Vertex> vertices;
  std::vector<Vertex> transformed;
  std::vector<Vertex> transformed_parent;
  std::vector<Surface> surfaces;
  int needs_normals = 0;
  int metaform = 0;
  int no_dissolve = 0;
  float rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float position[3] = {0, 0, 0};
  float angles[3] = {0, 0, 0};  // radians
  float scale[3] = {1, 1, 1};
  int plots = 0;
  int particles = 0;
  std::shared_ptr<ParticleEmitter> emitter;
  float morph_amount = 0;
  int morph_target = -1;
  int morph_envelope = -1;
  int is_morph_target = 0;
  int static_image = 0;
  std::string file_name;    // the name on its "LoadObject" / "AddNullObject" line
  std::string loaded_path;  // the path the object file was opened as ("" for null objects)
};

// Per-vertex accumulator of the object loader's normal pass.
struct NormalAccumulator {
  float sum[3] = {0, 0, 0};
  int32_t count = 0;
};

// One queued triangle of the frame's draw list: the triangle and its three vertices
// (normally in the object's transformed array).
struct DrawEntry {
  const Triangle* triangle = nullptr;
  Vertex* vertex0 = nullptr;
  Vertex* vertex1 = nullptr;
  Vertex* vertex2 = nullptr;
};

// Depth key of a queued triangle (smallest camera-space z times 256) and its draw-list index.
struct SortKey {
  int32_t key = 0;
  int32_t index = 0;
};

struct Scene {
  float progress = 0;
  int finished = 0;
  std::string path;
  std::string error_path;
  int loaded = 1;
  int precalc_resolution_differs = 0;
  int precalc_invalid = 0;

  std::vector<SceneObject> objects;  // kMaxObjects entries once loading starts
  int precalc_file_step = 0;
  int current_frame = 0;
  uint32_t flags = 0;
  std::vector<uint8_t> visibility;

  int object_count = 0;
  int light_count = 0;
  int image_count = 0;
  int polygon_total = 0;
  int motion_count = 0;
  int current_dissolve = 0;

  std::vector<DrawEntry> draw_list;  // 3 x (polygon_total + 4096) entries
  std::vector<std::string> image_names;  // at most kMaxImageNames, each at most kMaxPathLength
  int metaform_ranges[kMaxMetaformRanges][2] = {};
  int metaform_range_count = 0;

  std::vector<Motion> motions;  // kMaxMotions entries once loading starts
  std::vector<SceneLight> lights;  // kMaxLights entries once loading starts
  std::vector<NormalAccumulator> normal_work;

  float channels[kNumChannels] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<MotionKey> keys;  // the key pool, kMaxKeys entries once loading starts

  float now = 0;
  float previous_now = 0;
  float x_offset = 0;
  int texture_base = 0;
  float camera_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float light_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  float light_position[3] = {0, 0, 0};
  float light_angles[3] = {0, 0, 0};
  float camera_position[3] = {0, 0, 0};
  float camera_angles[3] = {0, 0, 0};
  float object_angles[3] = {0, 0, 0};
  std::string lightwave_root;
  std::string work_path;

  // Parser and loader input: the file in memory and the read position.
  std::vector<uint8_t> text;
  std::vector<uint8_t> object_data;
  size_t text_pos = 0;
  size_t object_data_pos = 0;

  int next_motion = 0;
  int next_key = 0;
  float zoom_factor = 0;
  float view_zoom_factor = 0;
  int camera_parent = -1;
  float ambient_color[3] = {0, 0, 0.25f};
  float ambient_intensity = 0.25f;

  std::vector<int32_t> sort_histogram;  // 257 counters
  std::vector<SortKey> sort_keys;
  std::vector<SortKey> sort_scratch;
  uint32_t clear_mask = 0;

  // Object-loader work fields: the surface whose "SURF" chunk is being read.
  Surface* surface_cursor = nullptr;
  int image_missing = 0;
  float backdrop_color[3] = {0, 0, 0};
  int zoom_envelope = -1;
  float scale = 1.0f;
  int max_texture_size = 0;
  int video_frame_width = 0, video_frame_height = 0;

  int width = 0;
  int height = 0;

  // Precalculation state (the visibility stream and its frame table).
  int precalc_bytes = 0;
  uint8_t precalc_accumulator = 0;
  int precalc_length = 0;
  int precalc_capacity_mib = 0;
  std::vector<uint32_t> frame_table;
  size_t visibility_cursor = 0;
  int frames_recorded = 0;
  std::vector<uint32_t> frame_table_out;
  int precalc_started = 0;
  int precalc_open = 0;

  // Renderer state.
  int build_precalc = 0;
  int polygon_visible = 0;
  int precalc_step = 0;
  uint8_t bit_mask = 0;
  int object_index = 0;
  // Renderer limits already reported for this scene (one log line each).
  bool warned_draw_list_full = false;
  bool warned_extra_lights = false;
};

// Twelve RGB multipliers for the tinted copies of a particle surface's image.
extern float tint_table[kParticleTints * 3];

// Show-wide count of images loaded so far (each image's OpenGL texture name).
extern int texture_counter;

void scene_construct(Scene& scene);
void scene_destroy(Scene& scene);
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
void scene_scale(Scene& scene, float factor);
void scene_reset_motions(Scene& scene);
uint32_t round_up_pow2(uint32_t n);

}  // namespace orvl
