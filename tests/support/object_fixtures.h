// Helpers for tests that load LWOB objects: an empty scene with its tables in place (what
// construction and configuration give), temporary directories, and small writer objects.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "object/object_loader.h"
#include "object/surface_image.h"
#include "scene/scene.h"
#include "tools/lwob_writer.h"

namespace orvl::testing {

inline void prepare_object_scene(Scene& scene, int width = 640, int height = 480) {
  scene.objects.resize(kMaxObjects);
  scene.motions.resize(kMaxMotions);
  scene.lights.resize(kMaxLights);
  scene.width = width;
  scene.height = height;
  scene.max_texture_size = 1024;
  scene.texture_base = texture_counter + 1;
}

inline LoadStatus load_written(Scene& scene, const LwobWriter& w,
                               const ObjectLoadOptions& options = {},
                               ObjectLoadContext* context = nullptr) {
  ObjectLoadContext local;
  return load_object_data(scene, context ? *context : local, w.bytes(), options);
}

// A unit quad in the plane z = 0 (points 0..3 counter-clockwise from the lower left) on
// surface 1 named `surface`.
inline LwobSurface& quad_object(LwobWriter& w, const std::string& surface = "Default") {
  w.add_point(0, 0, 0);
  w.add_point(1, 0, 0);
  w.add_point(1, 1, 0);
  w.add_point(0, 1, 0);
  w.add_polygon({0, 1, 2, 3}, 1);
  return w.add_surface(surface);
}

// One triangle facing the camera 5 units ahead, on surface 1 named `surface`.
inline LwobSurface& triangle_object(LwobWriter& w, const std::string& surface = "Plain") {
  w.add_point(0, 0, 5);
  w.add_point(0, 1, 5);
  w.add_point(1, 0, 5);
  w.add_polygon({0, 1, 2}, 1);
  return w.add_surface(surface);
}

struct TempDir {
  std::filesystem::path root;
  explicit TempDir(const std::string& tag) {
    root = std::filesystem::temp_directory_path() /
           ("orvl_" + tag + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
  }
  ~TempDir() { std::filesystem::remove_all(root); }
  std::string path(const std::string& rel) const { return (root / rel).string(); }
  std::string touch(const std::string& rel, const std::string& content = "x") const {
    std::filesystem::path p = root / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
};

// Runs the current test with another working directory, restoring it afterwards.
struct ScopedCwd {
  std::filesystem::path saved = std::filesystem::current_path();
  explicit ScopedCwd(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
  ~ScopedCwd() { std::filesystem::current_path(saved); }
};

// Thirteen characters that stand for the author's drive and folder in data files.
inline const std::string kPrefix = "C:\\LightWave\\";

}  // namespace orvl::testing
