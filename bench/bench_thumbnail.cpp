// `orvl thumbnail` as a file manager runs it: one process per picture at the default size
// (256), from program start to the written PNG, for every scene and object of
// ../shared/testdata/lightwave and lightwave6 and every demo scene. The target: under one
// second for each of them on llvmpipe. The label says whether the file was drawn (files
// whose objects are absent end with status 1, which takes time too).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_run.h"
#include "support/shared_data.h"
#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"

namespace {

namespace fs = std::filesystem;

class ThumbnailInputs {
 public:
  static const ThumbnailInputs& get() {
    static const ThumbnailInputs inputs;
    return inputs;
  }
  std::string dir;                 // demo show, output pictures and the working directory
  std::vector<std::string> files;  // absolute paths

 private:
  ThumbnailInputs() {
    dir = (fs::temp_directory_path() / ("orvl_bench_thumbnail_" + std::to_string(getpid()))).string();
    orvl::DemoOptions options;
    options.music_seconds = 0;
    options.lightwave6 = true;
    orvl::DemoSummary summary;
    std::string error;
    if (orvl::make_demo_show(dir + "/demo", options, summary, error)) {
      for (int i = 0; i < orvl::kDemoSceneCount; ++i) files.push_back(dir + "/demo/" + orvl::kDemoSlots[i].file);
      files.push_back(dir + "/demo/" + orvl::kDemoLightWave6Scene);
    }
    std::error_code ec;
    fs::create_directories(dir + "/cwd", ec);
    std::vector<std::string> shared;
    for (const char* sub : {"lightwave", "lightwave6"}) {
      const fs::path folder = fs::path(orvl::test::shared_testdata_dir()) / sub;
      if (!fs::is_directory(folder, ec)) continue;
      for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".lws" || ext == ".lwo")) shared.push_back(e.path().string());
      }
    }
    std::sort(shared.begin(), shared.end());
    files.insert(files.end(), shared.begin(), shared.end());
  }
  ~ThumbnailInputs() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

constexpr int kMaxFiles = 80;

void BM_Thumbnail(benchmark::State& state) {
  const ThumbnailInputs& inputs = ThumbnailInputs::get();
  const size_t index = size_t(state.range(0));
  if (index >= inputs.files.size()) {
    state.SkipWithError("no such file");
    return;
  }
  const std::string& file = inputs.files[index];
  orvl_test::ChildSetup setup;
  setup.args = {"thumbnail", file, inputs.dir + "/thumb.png"};
  setup.cwd = inputs.dir + "/cwd";
  int status = -1;
  for (auto _ : state) status = orvl_test::run_child(ORVL_BINARY, setup).exit_code;
  state.SetLabel(fs::path(file).filename().string() + (status == 0 ? "" : " (not drawn: status " + std::to_string(status) + ")"));
}
BENCHMARK(BM_Thumbnail)->DenseRange(0, kMaxFiles - 1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
