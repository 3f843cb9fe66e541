// `orvl dump-object FILE.lwo [--json] [--strict] [--layer N]`: loads one object (LWOB, or
// LWO2 with all its layers or layer N as "LoadObjectLayer" numbers them) the way a scene
// would and prints what the loader built: points, triangles, surfaces and object flags.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/json_text.h"
#include "app/command.h"
#include "app/scene_json.h"
#include "object/object_loader.h"
#include "platform/log.h"
#include "scene/scene.h"

namespace orvl {
namespace {

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

SceneJson to_json(const SceneObject& o, const std::vector<std::string>& missing, const std::string& file) {
  SceneJson j;
  j["status"] = 0;
  j["file"] = json_text(file);
  add_object_counts(j, o);
  add_object_flags(j, o);
  SceneJson images = SceneJson::array();
  for (const auto& m : missing) images.push_back(json_text(m));
  j["missing_images"] = std::move(images);
  add_object_geometry(j, o);
  // Only here, not in dump-scene's objects: the record is what an exporter reads.
  for (size_t i = 0; i < o.surfaces.size() && i < j["surfaces"].size(); ++i)
    j["surfaces"][i]["lightwave"] = lw_surface_json(o.surfaces[i].lw);
  return j;
}

void print_text(const SceneObject& o, const std::vector<std::string>& missing, const std::string& file) {
  std::printf("object %s\nstatus 0 (loaded)\n", file.c_str());
  std::printf("%s\n", object_counts_text(o).c_str());
  std::printf("flags: %s\n", object_flags_text(o).c_str());
  for (const auto& m : missing) std::printf("missing image: %s\n", m.c_str());
  std::fputs(object_geometry_text(o).c_str(), stdout);
}

int dump_object(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  const bool json = take_flag(args, "--json");
  const bool strict = take_flag(args, "--strict");
  std::string layer_text;
  bool missing_value = false;
  const bool has_layer = take_option(args, "--layer", layer_text, &missing_value);
  int layer = 0;
  if (has_layer) {
    char* end = nullptr;
    const long v = std::strtol(layer_text.c_str(), &end, 10);
    if (layer_text.empty() || *end != '\0' || v < 1 || v > 65536) missing_value = true;
    layer = static_cast<int>(v);
  }
  if (missing_value || args.size() != 1 || args[0].rfind("--", 0) == 0) {
    std::fprintf(stderr, "usage: orvl dump-object FILE.lwo [--json] [--strict] [--layer N]\n");
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
  options.layer = layer;
  // A file named on the command line is opened as given: no 13-character drop.
  std::string name = file;
  ObjectLoadContext context;
  LoadStatus st = load_object(scene, context, name, true, options);
  if (st != LoadStatus::ok) {
    if (context.image_missing)
      std::fprintf(stderr, "orvl dump-object: %s: status %d (image not found: %s)\n",
                   file.c_str(), int(st), context.error_path.c_str());
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

const CommandRegistrar reg({"dump-object", "dump-object FILE.lwo [--json] [--strict] [--layer N]",
                            dump_object});

}  // namespace
}  // namespace orvl
