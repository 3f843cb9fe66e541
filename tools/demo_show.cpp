#include "tools/demo_show.h"

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/demo_pictures.h"
#include "tools/demo_scenes.h"
#include "tools/music_synth.h"

namespace orvl {

const DemoSlot kDemoSlots[kDemoSceneCount] = {
    {"scene/1vex.lws", true, 0.0, 22.0},     {"scene/2vex.lws", true, 22.0, 44.0},
    {"scene/3vex.lws", false, 44.0, 63.072}, {"scene/4vex.lws", false, 63.072, 68.0},
    {"scene/5vex.lws", false, 68.0, 85.0},   {"scene/6vex.lws", true, 85.0, 118.0},
    {"scene/7vex.lws", true, 118.0, 140.0},  {"scene/8vex.lws", false, 140.0, 151.0},
};

namespace {

bool make_dir(const std::string& path, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    error = "cannot create " + path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

bool make_demo_show(const std::string& out_dir, const DemoOptions& options, DemoSummary& summary,
                    std::string& error) {
  summary = DemoSummary{};
  for (const char* sub : {"scene", "objects", "music", "images"})
    if (!make_dir(out_dir + "/" + sub, error)) return false;
  if (!demo::write_pictures(out_dir + "/images", error)) return false;
  summary.images = demo::picture_count();
  demo::Output out{out_dir, summary, error};
  demo::write_scenes(out);
  if (!out.ok) return false;

  if (options.music_seconds > 0) {
    std::vector<int16_t> pcm = synth_demo_music(kDemoMusicRate, options.music_seconds);
    std::string path = out_dir + "/music/vexmarine.mp3";
    if (!encode_mp3(pcm, kDemoMusicRate, path, error)) return false;
    std::error_code ec;
    summary.music_bytes = static_cast<long>(std::filesystem::file_size(path, ec));
  }
  return true;
}

}  // namespace orvl
