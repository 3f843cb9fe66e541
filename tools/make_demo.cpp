// make-demo: writes the bundled demo show (scenes, objects, music) below a directory.
//   make-demo [DIR] [--music-seconds S] [--lightwave6]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/demo_lightwave6.h"
#include "tools/demo_show.h"

int main(int argc, char** argv) {
  std::string dir = "demo";
  orvl::DemoOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--music-seconds" && i + 1 < argc) {
      char* end = nullptr;
      options.music_seconds = std::strtod(argv[++i], &end);
      if (*end != '\0' || options.music_seconds < 0) {
        std::fprintf(stderr, "make-demo: bad --music-seconds value %s\n", argv[i]);
        return 2;
      }
    } else if (a == "--lightwave6") {
      options.lightwave6 = true;
    } else if (a == "-h" || a == "--help") {
      std::printf("usage: make-demo [DIR] [--music-seconds S] [--lightwave6]   (default DIR: demo)\n"
                  "  --lightwave6  also write the ninth scene in LightWave 6 formats (%s)\n",
                  orvl::kDemoLightWave6Scene);
      return 0;
    } else if (!a.empty() && a[0] != '-') {
      dir = a;
    } else {
      std::fprintf(stderr, "make-demo: unexpected argument %s (try --help)\n", a.c_str());
      return 2;
    }
  }
  auto t0 = std::chrono::steady_clock::now();
  orvl::DemoSummary summary;
  std::string error;
  if (!orvl::make_demo_show(dir, options, summary, error)) {
    std::fprintf(stderr, "make-demo: %s\n", error.c_str());
    return 1;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("make-demo: %d scenes, %d objects, %ld triangles, %d images, music %ld bytes in %s/ (%.0f ms)\n",
              summary.scenes, summary.objects, summary.triangles, summary.images, summary.music_bytes, dir.c_str(), ms);
  return 0;
}
