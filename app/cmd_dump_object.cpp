// `orvl dump-object FILE.lwo [--json] [--strict]`: loads one LWOB object the way a scene
// would and prints what the loader built: points, triangles, surfaces and object flags.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/json_text.h"

#include "app/command.h"
#include "object/object_loader.h"
#include "platform/log.h"
#include "scene/scene.h"

namespace orvl {
namespace {

// LightWave 5 wrote names in the Windows/Amiga 8-bit sets; Latin-1 is the common subset.
std::string latin1_to_utf8(const std::string& s) { return json_text(s); }

// The object is loaded into an empty scene set up for the 640 x 480 show output, so
// static-image quads get the show's aspect ratio.
void prepare_scene(Scene& scene, const std::string& file) {
  scene_construct(scene);
  (void)scene_configure(scene, 0, 640, 480, 1024, 0);
  // The tables a scene load would allocate before handing objects to the loader.
  scene.objects.resize(kMaxObjects);
  scene.motions.resize(kMaxMotions);
  scene.lights.resize(kMaxLights);
  // Images are also looked for beside the object (the scene folder of the lookup).
  scene.path = file;
}

nlohmann::json triple(const float* v) { return {v[0], v[1], v[2]}; }
nlohmann::json rgb(const uint8_t* c) { return {c[0], c[1], c[2]}; }

nlohmann::json to_json(const SceneObject& o, const std::vector<std::string>& missing,
                       const std::string& file) {
  using nlohmann::json;
  json j;
  j["status"] = 0;
  j["file"] = latin1_to_utf8(file);
  j["polygon_count"] = o.polygon_count;
  j["vertex_count"] = o.vertex_count;
  j["surface_count"] = o.surface_count;
  j["needs_normals"] = o.needs_normals;
  j["deform"] = o.deform;
  j["metaform"] = o.metaform;
  j["static_image"] = o.static_image;
  j["no_dissolve"] = o.no_dissolve;
  j["plots"] = o.plots;
  j["particles"] = o.particles;
  j["missing_images"] = json::array();
  for (const auto& m : missing) j["missing_images"].push_back(latin1_to_utf8(m));
  j["surfaces"] = json::array();
  for (const Surface& s : o.surfaces) {
    j["surfaces"].push_back({
        {"name", latin1_to_utf8(s.name)},
        {"color", rgb(s.color)},
        {"lw_flags", s.lw_flags},
        {"axis", s.axis},
        {"flags", surface_triangle_flags(s)},
        {"texture", s.texture},
        {"reflection_texture", s.reflection_texture},
        {"image_path", latin1_to_utf8(s.image_path)},
        {"reflection_path", latin1_to_utf8(s.reflection_path)},
        {"scroll_flags", s.scroll_flags},
        {"line_width", s.line_width},
        {"box", {s.box[0], s.box[1], s.box[2], s.box[3], s.box[4], s.box[5]}},
        {"extent", triple(s.extent)},
        {"texture_width", s.texture_width},
        {"texture_height", s.texture_height},
        {"image_width", s.image_width},
        {"image_height", s.image_height},
    });
  }
  j["vertices"] = json::array();
  for (const Vertex& v : o.vertices)
    j["vertices"].push_back({{"position", {v.x, v.y, v.z}}, {"normal", {v.nx, v.ny, v.nz}}});
  j["polygons"] = json::array();
  const Surface* first = o.surfaces.data();
  for (const Triangle& t : o.polygons) {
    j["polygons"].push_back({
        {"corners", {t.corners[0], t.corners[1], t.corners[2]}},
        {"surface", t.surface ? t.surface - first : -1},
        {"color", rgb(t.color)},
        {"uv", {t.uv[0], t.uv[1], t.uv[2], t.uv[3], t.uv[4], t.uv[5]}},
        {"normal", triple(t.normal)},
        {"texture", t.texture},
        {"reflection_texture", t.reflection_texture},
        {"flags", t.flags},
    });
  }
  return j;
}

void print_text(const SceneObject& o, const std::vector<std::string>& missing,
                const std::string& file) {
  std::printf("object %s\nstatus 0 (loaded)\n", file.c_str());
  std::printf("polygon_count %d vertex_count %d surface_count %d\n", o.polygon_count,
              o.vertex_count, o.surface_count);
  std::printf(
      "flags: needs_normals %d deform %d metaform %d static_image %d no_dissolve %d plots %d "
      "particles %d\n",
      o.needs_normals, o.deform, o.metaform, o.static_image, o.no_dissolve, o.plots, o.particles);
  for (const auto& m : missing) std::printf("missing image: %s\n", m.c_str());
  std::printf("surfaces:\n");
  for (size_t i = 0; i < o.surfaces.size(); ++i) {
    const Surface& s = o.surfaces[i];
    std::printf(
        "  [%zu] \"%s\" color %d %d %d lw_flags 0x%04x axis %d flags 0x%04x texture %d "
        "reflection_texture %d image_path \"%s\" reflection_path \"%s\" scroll_flags 0x%x "
        "line_width %d texture_size %dx%d image_size %dx%d\n",
        i, s.name.c_str(), s.color[0], s.color[1], s.color[2], s.lw_flags, s.axis,
        surface_triangle_flags(s), s.texture, s.reflection_texture, s.image_path.c_str(),
        s.reflection_path.c_str(), s.scroll_flags, s.line_width, s.texture_width, s.texture_height,
        s.image_width, s.image_height);
  }
  std::printf("points:\n");
  for (size_t i = 0; i < o.vertices.size(); ++i) {
    const Vertex& v = o.vertices[i];
    std::printf("  [%zu] %g %g %g normal %g %g %g\n", i, v.x, v.y, v.z, v.nx, v.ny, v.nz);
  }
  std::printf("triangles:\n");
  const Surface* first = o.surfaces.data();
  for (size_t i = 0; i < o.polygons.size(); ++i) {
    const Triangle& t = o.polygons[i];
    std::printf(
        "  [%zu] corners %d %d %d surface %ld color %d %d %d uv %g %g %g %g %g %g normal %g %g %g "
        "texture %d reflection_texture %d flags 0x%04x\n",
        i, t.corners[0], t.corners[1], t.corners[2], long(t.surface - first), t.color[0],
        t.color[1], t.color[2], t.uv[0], t.uv[1], t.uv[2], t.uv[3], t.uv[4], t.uv[5],
        t.normal[0], t.normal[1], t.normal[2], t.texture, t.reflection_texture, t.flags);
  }
}

int dump_object(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  const bool json = take_flag(args, "--json");
  const bool strict = take_flag(args, "--strict");
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) {
    std::fprintf(stderr, "usage: orvl dump-object FILE.lwo [--json] [--strict]\n");
    return 2;
  }
  const std::string file = args[0];
  log_echo_to_stderr(true);

  Scene scene;
  prepare_scene(scene, file);
  std::vector<std::string> missing;
  ObjectLoadOptions options;
  options.images_required = strict;
  options.missing_images = &missing;
  // A file named on the command line is opened as given: no 13-character drop.
  std::string name = file;
  LoadStatus st = load_object(scene, name, true, options);
  if (st != LoadStatus::ok) {
    if (scene.image_missing)
      std::fprintf(stderr, "orvl dump-object: %s: status %d (image not found: %s)\n",
                   file.c_str(), int(st), scene.error_path.c_str());
    else
      std::fprintf(stderr, "orvl dump-object: %s: status %d (%s)\n", file.c_str(), int(st),
                   load_status_text(st));
    return 1;
  }
  const SceneObject& o = scene.objects[0];
  if (json)
    std::printf("%s\n", json_dump(to_json(o, missing, file), 1).c_str());
  else
    print_text(o, missing, file);
  return 0;
}

const CommandRegistrar reg({"dump-object", "dump-object FILE.lwo [--json] [--strict]",
                            dump_object});

}  // namespace
}  // namespace orvl
