// `orvl export`: a scene or a lone object to glTF 2.0 (export/gltf_export.h), or a whole
// folder tree of them with a JSON summary.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/command.h"
#include "app/scene_json.h"
#include "export/gltf_export.h"
#include "export/json_text.h"
#include "object/object_loader.h"
#include "platform/file.h"
#include "platform/log.h"
#include "scene/look.h"
#include "scene/scene.h"

namespace orvl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: orvl export IN.lws|IN.lwo [-o OUT.glb|OUT.gltf] [--fps N] [--root DIR] [--from MS --to MS]\n"
    "                   [--look lightwave] [--no-pointer] [--layer N] [--size WxH] [--missing null]\n"
    "       orvl export DIR --out DIR2 [the same options]\n";

int usage_error(const std::string& what) {
  std::fprintf(stderr, "orvl export: %s\n%s", what.c_str(), kUsage);
  return 2;
}

struct Job {
  GltfOptions gltf;
  std::string root;
  int layer = 0;
  bool missing_null = false;  // --missing null
};

bool ends_with_ci(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

bool parse_number(const std::string& s, double lo, double hi, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return *end == '\0' && std::isfinite(out) && out >= lo && out <= hi;
}

// Loads `in` (scene or object) and writes `out`. False with `reason`; `inputs` gets the files
// the export read (the scene and its objects), for the folder form's up-to-date check.
bool export_one(const std::string& in, const std::string& out, const Job& job, std::string& reason,
                std::vector<std::string>* inputs = nullptr) {
  FileStatus fst;
  const int fd = open_regular_file(in, fst);
  if (fd < 0) {
    reason = std::string("cannot be opened: ") + file_status_text(fst);
    return false;
  }
  ::close(fd);
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, job.missing_null ? SceneFlags::MISSING_NULL : 0, job.gltf.width, job.gltf.height, 2048, 0);
  scene_set_lightwave_root(scene, job.root);
  GltfOptions options = job.gltf;
  bool ok = true;
  if (ends_with_ci(in, ".lwo") || ends_with_ci(in, ".lw") || !ends_with_ci(in, ".lws")) {
    // A lone object, loaded the way dump-object does: surface images it cannot find are left out.
    scene.objects.resize(kMaxObjects);
    scene.motions.resize(kMaxMotions);
    scene.lights.resize(kMaxLights);
    scene.path = in;
    std::vector<std::string> missing;
    ObjectLoadOptions lo;
    lo.images_required = false;
    lo.missing_images = &missing;
    lo.layer = job.layer;
    std::string name = in;
    ObjectLoadContext context;
    const LoadStatus st = load_object(scene, context, name, true, lo);
    if (st != LoadStatus::ok) {
      reason = std::string("object not loaded: ") + load_status_text(st);
      ok = false;
    } else {
      scene.objects[0].file_name = in;
      for (const std::string& m : missing) log_format("glTF export: %s: image not found: %s", in.c_str(), m.c_str());
    }
    options.animate = false;
    if (inputs) inputs->push_back(in);
  } else {
    const SceneStatus st = scene_load(scene, in);
    if (st != SceneStatus::ok) {
      reason = std::string("scene not loaded: ") + scene_status_text(st);
      if (!scene.error_path.empty() && scene.error_path != in) reason += " (" + scene.error_path + ")";
      ok = false;
    } else if (inputs) {
      inputs->push_back(in);
      for (int i = 0; i < scene.object_count && i < int(scene.objects.size()); ++i)
        if (!scene.objects[size_t(i)].loaded_path.empty()) inputs->push_back(scene.objects[size_t(i)].loaded_path);
    }
  }
  if (ok) {
    GltfDocument doc;
    std::string why;
    GltfStatus st = gltf_build(scene, options, doc, &why);
    if (st == GltfStatus::ok) st = gltf_write(doc, out, &why);
    if (st != GltfStatus::ok) {
      reason = std::string(gltf_status_text(st)) + (why.empty() ? "" : ": " + why);
      ok = false;
    }
  }
  scene_destroy(scene);
  scene_destroy(scene);
  return ok;
}

double mtime_of(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

void progress(size_t done, size_t total, const std::string& name) {
  if (!::isatty(2)) return;
  const int width = 30;
  const int filled = total ? int(width * done / total) : width;
  std::fprintf(stderr, "\r[%s%s] %zu/%zu %-40.40s", std::string(size_t(filled), '#').c_str(),
               std::string(size_t(width - filled), ' ').c_str(), done, total, name.c_str());
  if (done == total) std::fprintf(stderr, "\n");
}

int export_folder(const std::string& dir, const std::string& out_dir, const Job& job) {
  std::vector<std::string> scenes, objects;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
  if (ec) {
    std::fprintf(stderr, "orvl export: %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec)) continue;
    const std::string p = it->path().string();
    if (ends_with_ci(p, ".lws")) scenes.push_back(p);
    else if (ends_with_ci(p, ".lwo")) objects.push_back(p);
  }
  std::sort(scenes.begin(), scenes.end());
  std::sort(objects.begin(), objects.end());
  SceneJson written = SceneJson::array(), skipped = SceneJson::array(), failed = SceneJson::array();
  std::set<std::string> used;
  const size_t total = scenes.size() + objects.size();
  size_t done = 0;
  auto target_of = [&](const std::string& in) {
    fs::path rel = fs::relative(fs::path(in), fs::path(dir), ec);
    if (ec || rel.empty()) rel = fs::path(in).filename();
    rel.replace_extension(".glb");
    return (fs::path(out_dir) / rel).string();
  };
  auto run = [&](const std::string& in, bool is_scene) {
    const std::string out = target_of(in);
    fs::create_directories(fs::path(out).parent_path(), ec);
    std::vector<std::string> inputs;
    std::string reason;
    const double out_time = mtime_of(out);
    // A scene is loaded before its up-to-date check: only the load says which objects it reads.
    Job quick = job;
    bool ok;
    if (out_time >= 0) {
      const std::string probe = out + ".orvl-probe.glb";
      ok = export_one(in, probe, quick, reason, &inputs);
      double newest = 0;
      for (const std::string& f : inputs) newest = std::max(newest, mtime_of(f));
      if (ok && newest < out_time) {
        std::remove(probe.c_str());
        skipped.push_back(json_text(out));
      } else if (ok) {
        ok = std::rename(probe.c_str(), out.c_str()) == 0;
        if (!ok) reason = std::string("cannot be renamed: ") + std::strerror(errno), std::remove(probe.c_str());
        else written.push_back(json_text(out));
      }
    } else {
      ok = export_one(in, out, job, reason, &inputs);
      if (ok) written.push_back(json_text(out));
    }
    if (!ok) failed.push_back({{"input", json_text(in)}, {"reason", json_text(reason)}});
    if (is_scene)
      for (const std::string& f : inputs) used.insert(fs::weakly_canonical(fs::path(f), ec).string());
    progress(++done, total, fs::path(in).filename().string());
  };
  for (const std::string& s : scenes) run(s, true);
  for (const std::string& o : objects) {
    if (used.count(fs::weakly_canonical(fs::path(o), ec).string())) {
      ++done;
      continue;
    }
    run(o, false);
  }
  if (total == 0) progress(0, 0, "");
  SceneJson summary = {{"written", written}, {"skipped", skipped}, {"failed", failed}};
  std::printf("%s\n", json_dump(summary, 2).c_str());
  return failed.empty() ? 0 : 1;
}

int run_export(const std::vector<std::string>& in) {
  std::vector<std::string> args = in;
  if (take_flag(args, "--help")) {
    std::printf("%s", kUsage);
    return 0;
  }
  bool missing = false;
  Job job;
  std::string out, out_dir, fps, from, to, look, missing_mode, layer, size;
  const bool has_o = take_option(args, "-o", out, &missing);
  const bool has_out = take_option(args, "--out", out_dir, &missing);
  const bool has_fps = take_option(args, "--fps", fps, &missing);
  take_option(args, "--root", job.root, &missing);
  const bool has_from = take_option(args, "--from", from, &missing);
  const bool has_to = take_option(args, "--to", to, &missing);
  const bool has_look = take_option(args, "--look", look, &missing);
  const bool has_missing = take_option(args, "--missing", missing_mode, &missing);
  const bool has_layer = take_option(args, "--layer", layer, &missing);
  const bool has_size = take_option(args, "--size", size, &missing);
  job.gltf.pointer = !take_flag(args, "--no-pointer");
  if (missing) return usage_error("an option is missing its value");
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) return usage_error("expected one scene, object or folder");
  double v = 0;
  if (has_fps) {
    if (!parse_number(fps, 0.001, 1000, v)) return usage_error("--fps wants a rate from 0.001 to 1000");
    job.gltf.fps = v;
  }
  if (has_from) {
    if (!parse_number(from, 0, 1e12, v)) return usage_error("--from wants milliseconds");
    job.gltf.from_ms = v;
  }
  if (has_to) {
    if (!parse_number(to, 0, 1e12, v)) return usage_error("--to wants milliseconds");
    job.gltf.to_ms = v;
  }
  if (has_from && has_to && job.gltf.from_ms > job.gltf.to_ms) return usage_error("--from lies after --to");
  if (has_look) {
    Look l = Look::lightwave;
    if (!parse_look(look, l)) return usage_error("--look wants lightwave or engine");
    // The engine look's camera-space rules have no glTF counterpart; the file is LightWave's.
    if (l != Look::lightwave) return usage_error("export writes LightWave's own transforms: --look lightwave only");
  }
  if (has_missing) {
    if (missing_mode != "null") return usage_error("--missing wants null (a null object in place of an absent object file)");
    job.missing_null = true;
  }
  if (has_layer) {
    if (!parse_number(layer, 1, 65536, v) || v != std::floor(v)) return usage_error("--layer wants a layer number from 1");
    job.layer = int(v);
  }
  if (has_size) {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 1 || h < 1 || w > 65535 || h > 65535)
      return usage_error("--size wants WIDTHxHEIGHT");
    job.gltf.width = w, job.gltf.height = h;
  }
  const std::string input = args[0];
  log_set_echo(false);
  std::error_code ec;
  if (has_out && !fs::is_directory(input, ec)) {
    std::fprintf(stderr, "orvl export: %s: not a folder\n", input.c_str());
    return 1;
  }
  if (fs::is_directory(input, ec)) {
    if (!has_out) return usage_error("a folder needs --out DIR2");
    if (has_o) return usage_error("-o names one file; a folder takes --out");
    return export_folder(input, out_dir, job);
  }
  if (has_out) return usage_error("--out is for folders; a file takes -o");
  if (!has_o) {
    const size_t dot = input.find_last_of('.');
    const size_t slash = input.find_last_of('/');
    out = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? input.substr(0, dot) : input) + ".glb";
  }
  std::string reason;
  if (!export_one(input, out, job, reason)) {
    std::fprintf(stderr, "orvl export: %s: %s\n", input.c_str(), reason.c_str());
    for (const std::string& line : log_lines())
      if (line.find("glTF export") != std::string::npos) std::fprintf(stderr, "  %s\n", line.c_str());
    return 1;
  }
  for (const std::string& line : log_lines())
    if (line.find("glTF export") != std::string::npos) std::fprintf(stderr, "orvl export: %s\n", line.c_str());
  return 0;
}

const CommandRegistrar registrar({"export",
                                   "export IN.lws|IN.lwo [-o OUT.glb|OUT.gltf] [--fps N] [--root DIR] [--from MS --to MS]\n"
                                   "                            [--look lightwave] [--no-pointer] [--layer N] [--size WxH] [--missing null]\n"
                                   "                            | export DIR --out DIR2: glTF 2.0 with the animation",
                                   run_export});

}  // namespace
}  // namespace orvl
