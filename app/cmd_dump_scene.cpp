// `orvl dump-scene FILE.lws [--root DIR] [--json] [--missing null]`: loads a scene with its objects the way
// the show does and prints what the parser and the object loader made of it.
#include <cstdio>
#include <memory>

#include "app/command.h"
#include "export/json_text.h"
#include "app/scene_json.h"
#include "app/scene_run.h"
#include "platform/log.h"
#include "scene/scene.h"

namespace {

int dump_scene(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  const bool as_json = orvl::take_flag(args, "--json");
  std::string root, error;
  bool missing_root = false, null_objects = false;
  orvl::take_option(args, "--root", root, &missing_root);
  if (!orvl::take_missing(args, null_objects, error)) {
    std::fprintf(stderr, "orvl dump-scene: %s\n", error.c_str());
    return 2;
  }
  if (missing_root || args.size() != 1 || args[0].rfind("--", 0) == 0) {
    std::fprintf(stderr, "usage: orvl dump-scene FILE.lws [--root DIR] [--json] [--missing null]\n");
    return 2;
  }
  const std::string& file = args[0];

  // Standard output carries only the dump and a failure is one line on standard error, so
  // the step log stays quiet; `loaded_path` shows where each object was found.
  orvl::log_set_echo(false);

  auto scene = std::make_unique<orvl::Scene>();
  orvl::scene_construct(*scene);
  (void)orvl::scene_configure(*scene, null_objects ? orvl::SceneFlags::MISSING_NULL : 0, 640, 480, 1024, 0);
  orvl::scene_set_lightwave_root(*scene, root);
  const size_t log_before = orvl::log_lines().size();
  const orvl::SceneStatus status = orvl::scene_load(*scene, file);
  orvl::report_missing_objects("dump-scene", log_before);
  // A refused scene says why in the log (which limit, which block); carry that into the
  // one-line error when no missing file explains it.
  std::string detail = scene->error_path;
  if (detail.empty() && orvl::log_lines().size() > log_before) detail = orvl::log_lines().back();

  if (as_json) {
    std::string text = orvl::json_dump(orvl::scene_json(*scene, status), 2);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  } else if (status == orvl::SceneStatus::ok) {
    std::string text = orvl::scene_text(*scene, status);
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  const char* reason = orvl::scene_failure_text(*scene, status);
  orvl::scene_destroy(*scene);
  if (status != orvl::SceneStatus::ok) {
    std::fprintf(stderr, "orvl dump-scene: %s: status %d (%s)%s%s\n", file.c_str(), static_cast<int>(status),
                 reason, detail.empty() ? "" : ": ", detail.c_str());
    return 1;
  }
  return 0;
}

const orvl::CommandRegistrar registrar({"dump-scene", "dump-scene FILE.lws [--root DIR] [--json] [--missing null]  print a loaded scene",
                                        dump_scene});

}  // namespace
