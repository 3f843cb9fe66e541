// Scene record operations: defaults, configuration, clean-up, scaling, motion clocks.
#include "scene/scene.h"

#include <algorithm>
#include <utility>

#include "object/surface_image.h"
#include "platform/log.h"

namespace orvl {

namespace {

// Frees a vector's storage, not just its contents.
template <typename T>
void release(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

}  // namespace

const char* scene_status_text(SceneStatus s) {
  switch (s) {
    case SceneStatus::ok: return "loaded";
    case SceneStatus::file_not_found: return "file not found";
    case SceneStatus::out_of_memory: return "out of memory or capacity exceeded";
    case SceneStatus::bad_motion: return "bad motion";
    case SceneStatus::bad_object: return "object file not usable";
    case SceneStatus::not_a_scene: return "not a LightWave scene (the file does not start with \"LWSC\")";
    case SceneStatus::bad_scene: return "damaged or unsupported scene file";
  }
  return "unknown";
}

SceneStatus scene_status_from(LoadStatus s) {
  switch (s) {
    case LoadStatus::ok: return SceneStatus::ok;
    case LoadStatus::not_found: return SceneStatus::file_not_found;
    case LoadStatus::out_of_memory: return SceneStatus::out_of_memory;
    case LoadStatus::bad_format: return SceneStatus::bad_object;
  }
  return SceneStatus::bad_object;
}

void scene_construct(Scene& scene) {
  scene = Scene();
  scene_reset_motions(scene);
}

void scene_clear_counts(Scene& scene) {
  scene.object_count = 0;
  scene.light_count = 0;
  scene.motion_count = 0;
  scene.image_count = 0;
  scene.polygon_total = 0;
  scene.next_motion = 0;
  scene.next_key = 0;
  scene.parse.text_pos = 0;
  scene.object_data_pos = 0;
  scene.precalc.visibility_cursor = 0;
  scene.draw.metaform_range_count = 0;
}

void scene_destroy(Scene& scene) {
  // Surfaces own their image, particle and effect buffers, objects own their meshes and
  // emitters; releasing the object table releases all of it.
  release(scene.precalc.frame_table);
  release(scene.precalc.frame_table_out);
  release(scene.precalc.visibility);
  release(scene.parse.text);
  release(scene.object_data);
  release(scene.motions);
  release(scene.objects);
  release(scene.lights);
  release(scene.keys);
  release(scene.envelopes.channels);
  release(scene.envelopes.keys);
  scene.envelopes.format_version = 1;
  release(scene.normal_work);
  release(scene.image_names);
  release(scene.draw.draw_list);
  release(scene.draw.sort_keys);
  release(scene.draw.sort_scratch);
  release(scene.draw.group_order);
  release(scene.draw.group_scratch);
  release(scene.draw.sort_histogram);
  scene.lw = LwSceneInfo();
  scene.lw_motions = LwMotionTables();
  // Counts describe tables that no longer exist; zero them so that nothing indexes the
  // released storage.
  scene_clear_counts(scene);
}

int scene_configure(Scene& scene, uint32_t flags, int width, int height, int max_texture_size,
                    int precalc_step) {
  scene.flags = flags;
  scene.width = width;
  scene.height = height;
  scene.max_texture_size = max_texture_size;
  scene.precalc.precalc_step = precalc_step;
  scene.now = 0;
  scene.finished = 0;
  scene.texture_base = texture_counter + 1;
  return 0;
}

void scene_set_lightwave_root(Scene& scene, const std::string& root) { scene.lightwave_root = root; }

void scene_scale(Scene& scene, float factor) {
  scene.scale = factor;
  const double f = factor;
  auto mul = [f](float& v) { v = static_cast<float>(v * f); };
  const int lights = std::min<int>(scene.light_count, static_cast<int>(scene.lights.size()));
  for (int i = 0; i < lights; ++i) {
    for (float& v : scene.lights[i].reserved_position) mul(v);
    for (float& v : scene.lights[i].reserved_direction) mul(v);
  }
  const int objects = std::min<int>(scene.object_count, static_cast<int>(scene.objects.size()));
  for (int i = 0; i < objects; ++i) {
    SceneObject& o = scene.objects[i];
    if (o.static_image) continue;  // drawn in screen space, not in scene units
    for (float& v : o.pivot) mul(v);
    for (Surface& s : o.surfaces)
      for (float& v : s.extent) mul(v);
    for (Vertex& v : o.vertices) {
      mul(v.x);
      mul(v.y);
      mul(v.z);
    }
  }
  // Envelope keys are scaled too; the evaluation divides envelope values by the factor.
  const int keys = std::min<int>(scene.next_key, static_cast<int>(scene.keys.size()));
  for (int k = 0; k < keys; ++k)
    for (int c = 0; c < 3; ++c) mul(scene.keys[k].value[c]);
}

void scene_reset_motions(Scene& scene) {
  const int n = std::min<int>(scene.motion_count, static_cast<int>(scene.motions.size()));
  for (int m = 0; m < n; ++m) scene.motions[m].start_tick = 0;
}

bool scene_alloc_draw_buffers(Scene& scene) {
  const long long total = static_cast<long long>(std::max(scene.polygon_total, 0)) + 4096;
  const size_t entries = static_cast<size_t>(total) * 3;
  try {
    scene.draw.draw_list.assign(entries, DrawEntry());
    scene.draw.sort_keys.assign(entries, SortKey());
    scene.draw.sort_scratch.assign(entries, SortKey());
    scene.draw.group_order.assign(entries, SortKey());
    scene.draw.group_scratch.assign(entries, SortKey());
    scene.draw.sort_histogram.assign(257, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

SceneStatus scene_load_failed(Scene& scene, SceneStatus status) {
  scene_destroy(scene);
  scene.loaded = 0;
  return status;
}

SceneStatus scene_load_refused(Scene& scene, const std::string& why) {
  log_line("Scene " + scene.path + " refused: " + why);
  return scene_load_failed(scene, SceneStatus::out_of_memory);
}

}  // namespace orvl
