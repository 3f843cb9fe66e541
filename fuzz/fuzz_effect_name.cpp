// Surface names and video frame paths from the fuzzer through the effect name readers, the
// frame naming and the particle count reader. The input is split at its first NUL: the
// part before is a surface name, the part after a frame path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvl::log_set_echo(false);
  orvl::log_clear();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string name = input.substr(0, nul);
  const std::string path = nul == std::string::npos ? input : input.substr(nul + 1);

  const orvl::EffectName parsed = orvl::parse_effect_name(name);
  if (parsed.frame_count < 0) std::abort();

  std::string frame;
  for (int k : {0, 7, 12345}) {
    if (!orvl::video_frame_name(path, k, frame)) break;
    if (frame.size() > path.size() + 5) std::abort();  // at most the number's digits are added
  }
  // A handful of frames at most: the names may point anywhere, nothing is expected there.
  (void)orvl::video_init(8, 8, path, parsed.frame_count % 3, parsed.flip);
  int w = 0, h = 0;
  for (int i = 0; i < 4; ++i) (void)orvl::video_next_frame(w, h);
  orvl::video_free();

  orvl::Surface surface;
  surface.name = name;
  std::vector<orvl::Triangle> polygons(name.size() % 3);
  for (auto& t : polygons) t.surface = &surface;
  orvl::ParticleEmitter emitter;
  (void)orvl::particles_setup(emitter, polygons);
  if (emitter.count < 0 || emitter.count > orvl::kParticlePool) std::abort();
  return 0;
}
