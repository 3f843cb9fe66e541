// Building blocks of the demo generator's meshes: vectors, placements, a deterministic
// random source, an LWOB mesh under construction and the primitives the scenes are made of.
// Internal to the generator (tools/demo_show.h is its manual).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/lwob_writer.h"

namespace orvl::demo {

constexpr double kPi = 3.14159265358979323846;

// Surface "FLAG" bits the player reads.
constexpr uint16_t kSmooth = 0x4;
constexpr uint16_t kFlat = 0x80;
constexpr uint16_t kDoubleSided = 0x100;
constexpr uint16_t kAdditive = 0x200;

struct V3 {
  double x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Placement of a primitive: local (x, y, z) maps to o + x u + y v + z w.
struct Basis {
  V3 o, u{1, 0, 0}, v{0, 1, 0}, w{0, 0, 1};
  V3 at(double x, double y, double z) const { return o + u * x + v * y + w * z; }
};
inline Basis at(V3 o) { return Basis{o}; }
// Local z along the world Y axis (rings lying flat, upright cylinders).
inline Basis flat_at(V3 o) { return Basis{o, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}}; }

// Deterministic pseudo-random numbers (xorshift32), so every run writes the same bytes.
class Random {
 public:
  explicit Random(uint32_t seed) : s_(seed ? seed : 1) {}
  double next() {  // 0 <= x < 1
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return (s_ & 0xFFFFFF) / double(0x1000000);
  }
  double range(double a, double b) { return a + (b - a) * next(); }

 private:
  uint32_t s_;
};

// An object under construction: points in world units (multiplied by `unit` when stored),
// polygons oriented so that they face the side a hint says is outside.
class Mesh {
 public:
  explicit Mesh(double unit) : unit_(unit) {}

  int surface(const std::string& name, uint8_t r, uint8_t g, uint8_t b, uint16_t flags) {
    w_.add_surface(name).colr(r, g, b).flag(flags);
    return static_cast<int>(w_.surfaces().size());
  }
  int point(V3 p) {
    return w_.add_point(static_cast<float>(p.x * unit_), static_cast<float>(p.y * unit_),
                        static_cast<float>(p.z * unit_));
  }
  // A polygon seen from `outside` is stored clockwise, the player's front side.
  void face(std::vector<int> idx, int surf, V3 outside) {
    V3 p0 = pos(idx[0]);
    V3 n = cross(pos(idx[1]) - p0, pos(idx[2]) - p0);
    if (dot(n, outside) < 0) std::reverse(idx.begin(), idx.end());
    std::vector<uint16_t> pts(idx.begin(), idx.end());
    w_.add_polygon(std::move(pts), static_cast<uint16_t>(surf));
    triangles_ += static_cast<long>(idx.size()) - 2;
    if (boxes_.size() < size_t(surf)) boxes_.resize(size_t(surf));
    for (int i : idx) boxes_[size_t(surf) - 1].add(pos(i) * unit_);
  }
  // Orientation from a centre: the polygon faces away from `centre`.
  void face_from(std::vector<int> idx, int surf, V3 centre) {
    V3 c;
    for (int i : idx) c = c + pos(i);
    c = c * (1.0 / idx.size());
    face(std::move(idx), surf, c - centre);
  }
  V3 pos(int i) const { return points_[i]; }
  int add(V3 p) {
    points_.push_back(p);
    return point(p);
  }

  // The surface of a number that surface() returned, to add its texture sub-chunks.
  LwobSurface& surf(int number) { return w_.surfaces()[number - 1]; }

  long triangles() const { return triangles_; }
  size_t point_count() const { return points_.size(); }
  // Writes the object. A colour image without a texture size and centre is given its
  // surface's bounding box as both, which is where the engine spreads the image: LightWave
  // (and the lightwave look) would otherwise take a size of 1 and repeat it across the
  // surface.
  bool write(const std::string& path) const;

 private:
  struct Box {
    bool any = false;
    V3 lo, hi;
    void add(V3 p) {
      lo = any ? V3{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)} : p;
      hi = any ? V3{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)} : p;
      any = true;
    }
  };
  double unit_;
  std::vector<Box> boxes_;  // per surface, in stored units
  LwobWriter w_;
  std::vector<V3> points_;
  long triangles_ = 0;
};

// Unit sphere grid of `seg` x `rings` with a radius per direction (for morph pairs the
// same call with another radius gives the same point numbering).
void sphere(Mesh& m, const Basis& b, V3 radii, int seg, int rings, int surf,
            const std::function<double(V3)>& radial = nullptr);
// Torus around the basis' w axis: major radius R, tube radius r.
void torus(Mesh& m, const Basis& b, double R, double r, int su, int sv, int surf);
// Box of half-extents `h`.
void box(Mesh& m, const Basis& b, V3 h, int surf);
// Cylinder along the basis' w axis from -half to +half, closed with caps when asked.
void cylinder(Mesh& m, const Basis& b, double radius, double half, int seg, int surf, bool caps);
// Height field over x, z in [-size, size] with n x n cells; one of two surfaces per cell
// picked by height, so hills and valleys get their own colours.
void landscape(Mesh& m, double size, int n, const std::function<double(double, double)>& h,
               int low_surf, int high_surf, double threshold);
// Tiny triangles scattered on a spherical shell: a star field drawn without culling.
void star_field(Mesh& m, int count, double r_min, double r_max, double size, int surf,
                uint32_t seed);
// A small spaceship along +z (nose forward), about 18 units long, made of primitives.
void spaceship(Mesh& m, uint8_t r, uint8_t g, uint8_t b);
// The engines' exhaust: additive glows behind the engines.
void ship_flames(Mesh& m);

// 5 x 7 dot patterns of the closing title (its picture and its letters in 3D).
extern const char* const kLetters[4][7];

}  // namespace orvl::demo
