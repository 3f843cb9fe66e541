#include "tools/demo_geometry.h"

#include <algorithm>
#include <cmath>

namespace orvl::demo {

// Unit sphere grid of `seg` x `rings` with a radius per direction (for morph pairs the
// same call with another radius gives the same point numbering).
void sphere(Mesh& m, const Basis& b, V3 radii, int seg, int rings, int surf,
            const std::function<double(V3)>& radial) {
  auto put = [&](double th, double ph) {
    V3 d{std::sin(ph) * std::cos(th), std::cos(ph), std::sin(ph) * std::sin(th)};
    double k = radial ? radial(d) : 1.0;
    return m.add(b.at(d.x * radii.x * k, d.y * radii.y * k, d.z * radii.z * k));
  };
  int top = put(0, 0);
  std::vector<int> grid;
  for (int r = 1; r < rings; ++r)
    for (int s = 0; s < seg; ++s) grid.push_back(put(2 * kPi * s / seg, kPi * r / rings));
  int bottom = put(0, kPi);
  auto g = [&](int r, int s) { return grid[(r - 1) * seg + (s % seg)]; };
  for (int s = 0; s < seg; ++s) {
    m.face_from({top, g(1, s), g(1, s + 1)}, surf, b.o);
    m.face_from({bottom, g(rings - 1, s + 1), g(rings - 1, s)}, surf, b.o);
    for (int r = 1; r + 1 < rings; ++r)
      m.face_from({g(r, s), g(r + 1, s), g(r + 1, s + 1), g(r, s + 1)}, surf, b.o);
  }
}

// Torus around the basis' w axis: major radius R, tube radius r.
void torus(Mesh& m, const Basis& b, double R, double r, int su, int sv, int surf) {
  std::vector<int> idx;
  for (int i = 0; i < su; ++i)
    for (int j = 0; j < sv; ++j) {
      double a = 2 * kPi * i / su, c = 2 * kPi * j / sv;
      idx.push_back(m.add(b.at((R + r * std::cos(c)) * std::cos(a),
                               (R + r * std::cos(c)) * std::sin(a), r * std::sin(c))));
    }
  auto p = [&](int i, int j) { return idx[(i % su) * sv + (j % sv)]; };
  for (int i = 0; i < su; ++i) {
    double a = 2 * kPi * (i + 0.5) / su;
    V3 centre = b.at(R * std::cos(a), R * std::sin(a), 0);
    for (int j = 0; j < sv; ++j)
      m.face_from({p(i, j), p(i + 1, j), p(i + 1, j + 1), p(i, j + 1)}, surf, centre);
  }
}

void box(Mesh& m, const Basis& b, V3 h, int surf) {
  int c[8];
  for (int i = 0; i < 8; ++i)
    c[i] = m.add(b.at((i & 1) ? h.x : -h.x, (i & 2) ? h.y : -h.y, (i & 4) ? h.z : -h.z));
  const int faces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
  for (const auto& f : faces) m.face_from({c[f[0]], c[f[1]], c[f[2]], c[f[3]]}, surf, b.o);
}

// Cylinder along the basis' w axis from -half to +half, closed with caps when asked.
void cylinder(Mesh& m, const Basis& b, double radius, double half, int seg, int surf, bool caps) {
  std::vector<int> lo, hi;
  for (int s = 0; s < seg; ++s) {
    double a = 2 * kPi * s / seg;
    lo.push_back(m.add(b.at(radius * std::cos(a), radius * std::sin(a), -half)));
    hi.push_back(m.add(b.at(radius * std::cos(a), radius * std::sin(a), half)));
  }
  for (int s = 0; s < seg; ++s) {
    int n = (s + 1) % seg;
    double a = 2 * kPi * (s + 0.5) / seg;
    m.face({lo[s], lo[n], hi[n], hi[s]}, surf, b.u * std::cos(a) + b.v * std::sin(a));
  }
  if (caps) {
    m.face(lo, surf, b.w * -1.0);
    m.face(hi, surf, b.w);
  }
}

// Height field over x, z in [-size, size] with n x n cells; one of two surfaces per cell
// picked by height, so hills and valleys get their own colours.
void landscape(Mesh& m, double size, int n, const std::function<double(double, double)>& h,
               int low_surf, int high_surf, double threshold) {
  std::vector<int> idx;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      double x = -size + 2 * size * i / n, z = -size + 2 * size * j / n;
      idx.push_back(m.add({x, h(x, z), z}));
    }
  auto p = [&](int i, int j) { return idx[i * (n + 1) + j]; };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double avg = (m.pos(p(i, j)).y + m.pos(p(i + 1, j + 1)).y) * 0.5;
      int s = avg > threshold ? high_surf : low_surf;
      m.face({p(i, j), p(i + 1, j), p(i + 1, j + 1), p(i, j + 1)}, s, {0, 1, 0});
    }
}

// Tiny triangles scattered on a spherical shell: a star field drawn without culling.
void star_field(Mesh& m, int count, double r_min, double r_max, double size, int surf,
                uint32_t seed) {
  Random rnd(seed);
  for (int i = 0; i < count; ++i) {
    double th = rnd.range(0, 2 * kPi), y = rnd.range(-1, 1), rad = rnd.range(r_min, r_max);
    double ring = std::sqrt(1 - y * y);
    V3 c{ring * std::cos(th) * rad, y * rad, ring * std::sin(th) * rad};
    int a = m.add(c + V3{0, size, 0});
    int b = m.add(c + V3{size * 0.87, -size * 0.5, 0});
    int d = m.add(c + V3{-size * 0.87, -size * 0.5, 0});
    m.face({a, b, d}, surf, V3{0, 0, 0} - c);
  }
}

// A small spaceship along +z (nose forward), about 18 units long, made of primitives.
void spaceship(Mesh& m, uint8_t r, uint8_t g, uint8_t b) {
  int hull = m.surface("ShipHull", r, g, b, kSmooth);
  int glass = m.surface("ShipCockpit", 60, 140, 255, kSmooth);
  int wing = m.surface("ShipWing", 150, 150, 170, kFlat);
  int engine = m.surface("ShipEngine", 90, 90, 100, kSmooth);
  sphere(m, at({0, 0, 0}), {2.2, 1.6, 8.0}, 14, 8, hull);
  sphere(m, at({0, 1.3, 2.8}), {1.2, 0.9, 2.4}, 10, 6, glass);
  box(m, at({0, -0.2, -1.5}), {8.0, 0.25, 2.2}, wing);
  box(m, at({0, 2.3, -5.0}), {0.25, 2.0, 1.6}, wing);
  for (double x : {-3.8, 3.8}) cylinder(m, at({x, 0, -5.0}), 1.0, 2.2, 10, engine, true);
}

// The engines' exhaust: additive glows behind the engines.
void ship_flames(Mesh& m) {
  int glow = m.surface("ShipFlame", 255, 150, 40, kAdditive);
  for (double x : {-3.8, 3.8}) sphere(m, at({x, 0, -8.6}), {0.9, 0.9, 2.6}, 8, 5, glow);
}

// 5 x 7 dot patterns of the closing title.
const char* const kLetters[4][7] = {
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"},
    {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."},
    {"#....", "#....", "#....", "#....", "#....", "#....", "#####"},
};

bool Mesh::write(const std::string& path) const {
  LwobWriter w = w_;
  auto vec3 = [](double a, double b, double c) {
    std::vector<uint8_t> d;
    for (double v : {a, b, c}) lw_put_f32(d, static_cast<float>(v));
    return d;
  };
  for (size_t s = 0; s < w.surfaces().size() && s < boxes_.size(); ++s) {
    std::vector<LwChunk>& subs = w.surfaces()[s].subchunks;
    const auto is = [](const char* id) { return [id](const LwChunk& c) { return c.id == id; }; };
    const auto ctex = std::find_if(subs.begin(), subs.end(), is("CTEX"));
    if (ctex == subs.end() || !boxes_[s].any || std::any_of(subs.begin(), subs.end(), is("TSIZ"))) continue;
    // The colour texture's own sub-chunks follow it up to the next texture or the end.
    auto end = std::find_if(ctex + 1, subs.end(), [](const LwChunk& c) { return c.id.size() == 4 && c.id.substr(1) == "TEX"; });
    const Box& b = boxes_[s];
    const V3 size = b.hi - b.lo, centre = (b.lo + b.hi) * 0.5;
    // A flat surface has no size along its image's axis; LightWave wants one anyway.
    auto side = [](double v) { return v > 0 ? v : 1.0; };
    end = subs.insert(end, LwChunk{"TSIZ", vec3(side(size.x), side(size.y), side(size.z))});
    subs.insert(end + 1, LwChunk{"TCTR", vec3(centre.x, centre.y, centre.z)});
  }
  return w.write(path);
}

}  // namespace orvl::demo
