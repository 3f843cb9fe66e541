// Texture set-up of surfaces: a 256 x 256 particle surface decodes, tints and squares its
// image twelve times, once per tint.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "image/image.h"
#include "object/surface_image.h"
#include "platform/log.h"
#include "scene/scene.h"

namespace {

using namespace orvl;

void BM_ParticleSurfaceSetup(benchmark::State& state) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / ("orvl_bench_particle_" + std::to_string(getpid()) + ".tga");
  Img img;
  img.width = img.height = img.pitch = 256;
  img.format = kFormat32;
  img.pixels.resize(256 * 256);
  for (uint32_t i = 0; i < img.pixels.size(); ++i) img.pixels[i] = (i * 2654435761u) & 0xFFFFFFu;
  TgaCodec tga;
  if (tga.bind(&img) != ImgError::ok || tga.write(file.string()) != ImgError::ok) {
    state.SkipWithError("cannot write the image");
    return;
  }
  log_set_echo(false);
  Scene scene;
  scene_construct(scene);
  (void)scene_configure(scene, 0, 640, 480, 1024, 1);
  scene.objects.resize(kMaxObjects);
  scene.objects[0].surfaces.resize(1);
  Surface& surface = scene.objects[0].surfaces[0];
  surface.name = "spark__PARTICLES_";
  for (auto _ : state) {
    scene.image_count = 0;
    texture_counter = 0;
    ObjectLoadContext context;
    std::string path = "C:\\LIGHTWAVE\\" + file.string();
    if (load_surface_image(scene, context, surface, path, 0) != SurfaceImageStatus::ok) {
      state.SkipWithError("image not loaded");
      break;
    }
    benchmark::DoNotOptimize(surface.particle_pixels[11].data());
  }
  scene_destroy(scene);
  fs::remove(file);
}
BENCHMARK(BM_ParticleSurfaceSetup)->Unit(benchmark::kMillisecond);

}  // namespace
