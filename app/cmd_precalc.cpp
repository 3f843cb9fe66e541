// `orvl precalc FILE.lws... [--step N] [--size WxH] [--root DIR] [--scale F]` builds the
// precalculation file of each scene (frames evaluated, never drawn);
// `orvl precalc --info FILE.PRK [--json] [--bits] [--root DIR]` prints what a file holds.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/command.h"
#include "object/surface_image.h"
#include "platform/file.h"
#include "platform/log.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "scene/precalc_file.h"
#include "scene/scene.h"

namespace {

using namespace orvl;

int usage(const std::string& what) {
  std::fprintf(stderr, "orvl precalc: %s\n", what.c_str());
  std::fprintf(stderr,
               "usage: orvl precalc FILE.lws... [--step N] [--size WxH] [--root DIR] [--scale F]\n"
               "       orvl precalc --info FILE.PRK [--json] [--bits] [--root DIR]\n");
  return 2;
}

bool parse_size(const std::string& text, int& w, int& h) {
  char* end = nullptr;
  long a = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || (*end != 'x' && *end != 'X')) return false;
  const char* second = end + 1;
  long b = std::strtol(second, &end, 10);
  if (end == second || *end || a < 16 || b < 16 || a > 8192 || b > 8192) return false;
  w = int(a);
  h = int(b);
  return true;
}

// A one-line bar on standard error, redrawn only when the percentage changes.
class ProgressBar {
 public:
  explicit ProgressBar(bool on) : on_(on) {}
  ~ProgressBar() { done(); }
  void show(int percent) {
    if (!on_ || percent == drawn_) return;
    percent = std::max(0, std::min(100, percent));
    drawn_ = percent;
    char bar[41];
    for (int i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : '.';
    bar[40] = 0;
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
  }
  void done() {
    if (on_ && drawn_ >= 0) std::fputc('\n', stderr);
    drawn_ = -1;
    on_ = false;
  }

 private:
  bool on_;
  int drawn_ = -1;
};

// The scene a file was built from, when it sits beside it under the matching name.
std::string scene_beside(const std::string& prk_path) {
  const size_t n = prk_path.size();
  if (n < 4 || prk_path[n - 4] != '.') return {};
  for (const char* ext : {"lws", "LWS"}) {
    std::string candidate = prk_path.substr(0, n - 3) + ext;
    if (data_file_exists(candidate)) return candidate;
  }
  return {};
}

// Polygon counts of the objects that take bits, in order, with their names.
struct BitObject {
  std::string name;
  int polygons;
};

bool load_bit_objects(const std::string& scene_path, const std::string& root, std::vector<BitObject>& out) {
  Scene scene;
  scene_construct(scene);
  // Building mode keeps the load from reading the very file being inspected.
  (void)scene_configure(scene, SceneFlags::BUILD_PRECALC, 640, 480, 1024, 1);
  scene_set_lightwave_root(scene, root);
  const bool ok = scene_load(scene, scene_path) == SceneStatus::ok;
  if (ok) {
    for (int i = 0; i < scene.object_count; ++i)
      if (precalc_object_takes_bits(scene.objects[i]))
        out.push_back({scene.objects[i].file_name, scene.objects[i].polygon_count});
  }
  scene_destroy(scene);
  return ok;
}

// `count` bits of the stream from bit `at` as '0'/'1'; bits past the stream read as '?'.
std::string bit_string(const std::vector<uint8_t>& stream, size_t at, size_t count) {
  std::string s(count, '0');
  for (size_t i = 0; i < count; ++i) {
    const size_t bit = at + i;
    if (bit / 8 >= stream.size())
      s[i] = '?';
    else if (stream[bit / 8] & (0x80 >> (bit % 8)))
      s[i] = '1';
  }
  return s;
}

int run_info(std::vector<std::string> args) {
  const bool json = take_flag(args, "--json");
  const bool bits = take_flag(args, "--bits");
  std::string root;
  bool missing = false;
  take_option(args, "--root", root, &missing);
  if (missing || args.size() != 1) return usage("--info wants one FILE.PRK");
  const std::string& path = args[0];

  std::vector<uint8_t> bytes;
  const FileStatus fs = read_whole_file(path, bytes);
  if (fs != FileStatus::ok) {
    std::fprintf(stderr, "orvl precalc: %s: %s\n", path.c_str(), file_status_text(fs));
    return 1;
  }
  PrecalcFile file;
  const PrecalcStatus st = precalc_parse(bytes.data(), bytes.size(), file);
  if (st != PrecalcStatus::ok) {
    std::fprintf(stderr, "orvl precalc: %s: %s\n", path.c_str(), precalc_status_text(st));
    return 1;
  }
  const size_t frames = file.frame_table.size();
  const size_t u = file.visibility.size();

  std::vector<BitObject> objects;
  std::string scene_path;
  if (bits) {
    log_set_echo(false);
    scene_path = scene_beside(path);
    if (scene_path.empty() || !load_bit_objects(scene_path, root, objects)) {
      objects.clear();
      scene_path.clear();
    }
  }
  // Without the scene the object boundaries are unknown: a frame's bits are shown whole.
  auto frame_bits = [&](size_t f) {
    std::vector<std::pair<std::string, std::string>> parts;
    const size_t at = size_t(file.frame_table[f]) * 8;
    if (!objects.empty()) {
      size_t bit = at;
      for (const BitObject& o : objects) {
        parts.emplace_back(o.name, bit_string(file.visibility, bit, size_t(o.polygons)));
        bit += size_t(o.polygons);
      }
    } else {
      const size_t end = f + 1 < frames ? file.frame_table[f + 1] : u;
      parts.emplace_back("", bit_string(file.visibility, at, (end - file.frame_table[f]) * 8));
    }
    return parts;
  };

  if (json) {
    nlohmann::json j;
    j["file"] = path;
    j["magic"] = "PRK3";
    j["width"] = file.width;
    j["height"] = file.height;
    j["step"] = file.step;
    j["U"] = u;
    j["C"] = file.compressed_size;
    j["T"] = frames * 4;
    j["frames"] = frames;
    j["offsets"] = file.frame_table;
    if (bits) {
      if (!scene_path.empty()) j["scene"] = scene_path;
      nlohmann::json all = nlohmann::json::array();
      for (size_t f = 0; f < frames; ++f) {
        nlohmann::json frame = nlohmann::json::array();
        for (const auto& [name, b] : frame_bits(f)) {
          if (objects.empty())
            frame.push_back(b);
          else
            frame.push_back({{"object", name}, {"bits", b}});
        }
        all.push_back(frame);
      }
      j["bits"] = all;
    }
    std::printf("%s\n", j.dump(2).c_str());
    return 0;
  }

  std::printf("file    %s\nmagic   PRK3\nsize    %d x %d\nstep    %d\n", path.c_str(), file.width, file.height,
              file.step);
  std::printf("U       %zu bytes\nC       %u bytes\nT       %zu bytes\nframes  %zu\n", u, file.compressed_size,
              frames * 4, frames);
  if (bits) {
    if (scene_path.empty())
      std::printf("bits    whole frames (no scene beside the file to split them by object)\n");
    else
      std::printf("bits    per object of %s\n", scene_path.c_str());
  }
  for (size_t f = 0; f < frames; ++f) {
    std::printf("frame %zu offset %u\n", f, file.frame_table[f]);
    if (!bits) continue;
    for (const auto& [name, b] : frame_bits(f))
      std::printf("  %s%s%s\n", name.c_str(), name.empty() ? "" : " ", b.c_str());
  }
  return 0;
}

int run_build(std::vector<std::string> args) {
  int step = 2, width = 640, height = 480;
  double scale = 1;
  std::string value, root;
  bool missing = false;
  if (take_option(args, "--step", value, &missing)) {
    char* end = nullptr;
    long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || v < 1 || v > kMaxPrecalcStep) return usage("--step wants a whole number from 1 to 8");
    step = int(v);
  }
  if (take_option(args, "--size", value, &missing) && !parse_size(value, width, height))
    return usage("--size wants WIDTHxHEIGHT (16 to 8192)");
  if (take_option(args, "--scale", value, &missing)) {
    char* end = nullptr;
    scale = std::strtod(value.c_str(), &end);
    if (value.empty() || *end || !(scale > 0) || scale > 1e6) return usage("--scale wants a positive number");
  }
  take_option(args, "--root", root, &missing);
  if (missing) return usage("an option is missing its value");
  if (args.empty()) return usage("no scene named");
  for (const std::string& a : args)
    if (a.rfind("--", 0) == 0) return usage("unknown option " + a);

  log_echo_to_stderr(true);
  log_set_echo(false);
  // Frames are evaluated, never drawn: the GL calls of the evaluation go nowhere.
  GlBackendScope no_gl(GlBackend::noop);
  frame_hooks().precalc_record_frame = precalc_record_frame;
  const bool tty = isatty(STDERR_FILENO) != 0;
  int failures = 0;
  for (const std::string& path : args) {
    const auto start = std::chrono::steady_clock::now();
    Scene scene;
    scene_construct(scene);
    (void)scene_configure(scene, SceneFlags::BUILD_PRECALC | SceneFlags::COMMON_RENDERING, width, height, 1024, step);
    scene_set_lightwave_root(scene, root);
    reset_texture_counter();
    const SceneStatus st = scene_load(scene, path);
    if (st != SceneStatus::ok) {
      std::fprintf(stderr, "orvl precalc: %s: %s%s%s\n", path.c_str(), scene_failure_text(scene, st),
                   scene.error_path.empty() ? "" : ": ", scene.error_path.c_str());
      scene_destroy(scene);
      ++failures;
      continue;
    }
    if (scale != 1) scene_scale(scene, float(scale));
    scene_reset_motions(scene);
    const std::string name = precalc_file_name(path);
    {
      ProgressBar bar(tty);
      // One call per recorded frame; the recorder finishes the file itself at the last
      // frame. The bound only guards against a build that would never end.
      const size_t bound = precalc_table_entries(scene) + 2;
      for (size_t i = 0; i < bound; ++i) {
        scene_render_frame(scene, 0);
        bar.show(int(scene.progress));
        if (scene.precalc.precalc_started && !scene.precalc.precalc_open) break;
      }
      if (scene.precalc.precalc_open) (void)precalc_finish(scene);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int frames = scene.precalc.frames_recorded;
    const int stream = scene.precalc.precalc_length;
    const bool written = scene.precalc.precalc_outcome == 1;
    scene_destroy(scene);
    if (!written) {
      std::fprintf(stderr, "orvl precalc: %s: no file written (%s)\n", path.c_str(),
                   name.empty() ? "the path does not end in .lws" : "see the log above");
      for (const std::string& line : log_lines())
        if (line.find("recalculation") != std::string::npos) std::fprintf(stderr, "  %s\n", line.c_str());
      ++failures;
      continue;
    }
    // Read the new file back: the figures printed are those of the file on disk.
    std::vector<uint8_t> bytes;
    PrecalcFile file;
    if (read_whole_file(name, bytes) != FileStatus::ok ||
        precalc_parse(bytes.data(), bytes.size(), file, width, height) != PrecalcStatus::ok ||
        file.frame_table.size() != size_t(frames) || file.visibility.size() != size_t(stream)) {
      std::fprintf(stderr, "orvl precalc: %s: the file written does not read back\n", name.c_str());
      ++failures;
      continue;
    }
    std::printf("%s: %d frames recorded, U %zu bytes, C %u bytes, %.2f s -> %s\n", path.c_str(), frames,
                file.visibility.size(), file.compressed_size, seconds, name.c_str());
    log_clear();
  }
  frame_hooks().precalc_record_frame = nullptr;
  return failures ? 1 : 0;
}

int run_precalc(const std::vector<std::string>& input) {
  std::vector<std::string> args = input;
  if (take_flag(args, "--info")) return run_info(args);
  return run_build(args);
}

const CommandRegistrar r({"precalc",
                          "precalc FILE.lws... [--step N] [--size WxH] [--root DIR] [--scale F] | "
                          "precalc --info FILE.PRK [--json] [--bits]  visibility files",
                          run_precalc});

}  // namespace
