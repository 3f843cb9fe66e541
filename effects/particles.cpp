// Particle emitters: quads born on an object's first triangle in camera space.
#include <cmath>
#include <limits>

#include "effects/effects.h"
#include "platform/log.h"

namespace orvl {
namespace {

std::array<Particle, kParticlePool> g_pool;

bool contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

int16_t texture_pick(int16_t base) {
  return static_cast<int16_t>(base + effect_random() % kParticleTextures);
}

int32_t particle_key(float z) {
  const double k = double(z) * 256.0;
  if (!(k > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (k >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(k);
}

}  // namespace

std::array<Particle, kParticlePool>& particle_pool() { return g_pool; }

ParticleStatus particles_setup(ParticleEmitter& emitter, std::vector<Triangle>& polygons) {
  emitter = ParticleEmitter{};
  if (polygons.size() < 2) {
    log_line("Particle object with fewer than two triangles: no particles.");
    return ParticleStatus::too_few_triangles;
  }
  Surface* surface = polygons[0].surface;
  if (!surface || surface->name.size() < 2) {
    log_line("Particle surface name too short to hold a count: no particles.");
    return ParticleStatus::short_name;
  }
  std::string& name = surface->name;
  name.resize(name.size() - 2);
  size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  long long n = 0;
  for (size_t i = digits; i < name.size(); ++i) {
    n = n * 10 + (name[i] - '0');
    if (n > kParticlePool) n = kParticlePool + 1LL;  // saturate: only "more than the pool" matters
  }
  ParticleStatus status = ParticleStatus::ok;
  if (n > kParticlePool) {
    log_format("Particle surface %s asks for more than %d particles; using %d.", name.c_str(),
               kParticlePool, kParticlePool);
    n = kParticlePool;
    status = ParticleStatus::clamped;
  }
  emitter.count = static_cast<int32_t>(n);
  emitter.base_texture = polygons[0].texture;
  for (int i = 0; i < emitter.count; ++i) {
    Particle& p = g_pool[static_cast<size_t>(i)];
    p.life = -1.0f;
    p.triangle_a = polygons[0];
    p.triangle_b = polygons[1];
    p.triangle_a.flags |= TriangleFlags::PARTICLE;
    p.triangle_b.flags |= TriangleFlags::PARTICLE;
    p.triangle_a.texture = p.triangle_b.texture = texture_pick(emitter.base_texture);
    p.triangle_a.dissolve_ref = p.triangle_b.dissolve_ref = &p.alpha;
  }
  emitter.fall = contains(name, "FALL") ? 1 : 0;
  emitter.downsize = contains(name, "DOWNSIZE") ? 1 : 0;
  return status;
}

void particles_step(ParticleEmitter& emitter, const Triangle& first, const Vertex* camera,
                    size_t vertex_count, ParticleSink sink, void* context) {
  if (emitter.count <= 0 || !camera) return;
  for (int k = 0; k < 3; ++k) {
    const int32_t v = first.corners[k];
    if (v < 0 || static_cast<size_t>(v) >= vertex_count) return;
    emitter.corners[3 * k + 0] = camera[v].x;
    emitter.corners[3 * k + 1] = camera[v].y;
    emitter.corners[3 * k + 2] = camera[v].z;
  }
  const float* c = emitter.corners;
  const float x0 = c[0], y0 = c[1], z0 = c[2], x1 = c[3], y1 = c[4], x2 = c[6], y2 = c[7];
  const int count = emitter.count > kParticlePool ? kParticlePool : emitter.count;

  for (int i = 0; i < count; ++i) {
    emitter.cursor = i;
    Particle& p = g_pool[static_cast<size_t>(i)];
    if (p.life >= 0) {
      p.life -= p.decay;
      if (emitter.fall)
        for (Vertex& v : p.corners) v.y -= p.fall_speed;
      continue;
    }
    const float pos[4][2] = {{x0, y0}, {x1, y1}, {x2, y2}, {x0, y2}};
    for (int k = 0; k < 4; ++k) p.corners[k] = Vertex{pos[k][0], pos[k][1], z0, 0, 0, 0};
    p.life = static_cast<float>(effect_random() % 255);
    p.decay = static_cast<float>(effect_random() % 20 + 1);
    p.fall_speed = emitter.fall
                       ? static_cast<float>((effect_random() % 20 * 0.0001 + 0.0005) * kParticleFallScale)
                       : 0.0f;
    p.alpha = static_cast<int>(p.life);
    p.triangle_a.dissolve_ref = p.triangle_b.dissolve_ref = &p.alpha;
    p.triangle_a.texture = p.triangle_b.texture = texture_pick(emitter.base_texture);
  }

  const int32_t key = particle_key(z0);
  for (int i = 0; i < count; ++i) {
    emitter.cursor = i;
    Particle& p = g_pool[static_cast<size_t>(i)];
    if (p.life < 0) continue;
    if (emitter.downsize)
      for (Vertex& v : p.corners) {
        v.x *= kParticleDownsize;
        v.y *= kParticleDownsize;
      }
    p.alpha = static_cast<int>(p.life);
    p.triangle_a.dissolve_ref = p.triangle_b.dissolve_ref = &p.alpha;
    if (sink) {
      sink(context, &p.triangle_a, &p.corners[0], &p.corners[1], &p.corners[2], key);
      sink(context, &p.triangle_b, &p.corners[0], &p.corners[2], &p.corners[3], key);
    }
  }
}

void particles_restart(ParticleEmitter& emitter) {
  const int count = emitter.count > kParticlePool ? kParticlePool : emitter.count;
  for (int i = 0; i < count; ++i) g_pool[static_cast<size_t>(i)].life = -1.0f;
  emitter.cursor = 0;
}

void particles_queue(ParticleEmitter& emitter, ParticleSink sink, void* context) {
  if (emitter.count <= 0 || !sink) return;
  const int count = emitter.count > kParticlePool ? kParticlePool : emitter.count;
  const int32_t key = particle_key(emitter.corners[2]);
  for (int i = 0; i < count; ++i) {
    Particle& p = g_pool[static_cast<size_t>(i)];
    if (p.life < 0) continue;
    sink(context, &p.triangle_a, &p.corners[0], &p.corners[1], &p.corners[2], key);
    sink(context, &p.triangle_b, &p.corners[0], &p.corners[2], &p.corners[3], key);
  }
}

}  // namespace orvl
