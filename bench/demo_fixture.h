// The demo show, with its LightWave 6 scene and without music, written once per benchmark run
// into a temporary folder and removed at exit: the scenes the look, pose and seek benchmarks
// draw. `files` names the nine scenes relative to `dir`, in slot order; `ok` is false when the
// show could not be written (the benchmarks then skip with an error).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"

namespace orvl::bench {

class DemoFixture {
 public:
  static const DemoFixture& get() {
    static const DemoFixture demo;
    return demo;
  }
  std::string dir;
  bool ok = false;
  std::vector<std::string> files;

 private:
  DemoFixture() {
    dir = (std::filesystem::temp_directory_path() / ("orvl_bench_demo_" + std::to_string(getpid()))).string();
    DemoOptions options;
    options.music_seconds = 0;
    options.lightwave6 = true;
    DemoSummary summary;
    std::string error;
    ok = make_demo_show(dir, options, summary, error);
    for (int i = 0; i < kDemoSceneCount; ++i) files.push_back(kDemoSlots[i].file);
    files.push_back(kDemoLightWave6Scene);
  }
  ~DemoFixture() { std::filesystem::remove_all(dir); }
};

}  // namespace orvl::bench
