#include "tools/demo_scenes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "tools/demo_geometry.h"
#include "tools/demo_pictures.h"
#include "tools/lwob_writer.h"
#include "tools/lws_writer.h"

namespace orvl::demo {

namespace {

constexpr double kBarSeconds = 2.0;  // 120 beats per minute, four beats a bar

// Heading and pitch (degrees) that turn a viewer at `from` to look at `to`; LightWave's
// camera looks along +z, heading turns towards +x and a positive pitch looks down.
std::pair<double, double> aim(V3 from, V3 to) {
  V3 d = to - from;
  double h = std::atan2(d.x, d.z) * 180 / kPi;
  double p = -std::atan2(d.y, std::sqrt(d.x * d.x + d.z * d.z)) * 180 / kPi;
  return {h, p};
}

class SceneMaker {
 public:
  SceneMaker(Output& out, int index) : out_(out), index_(index), slot_(kDemoSlots[index]) {
    unit_ = slot_.scaled ? 1.0 / 50.0 : 1.0;
    s.first_frame = 0;
    // One second beyond the slot, so the camera never reaches its end inside the slot.
    s.last_frame = static_cast<float>(
        std::ceil((slot_.end_seconds - slot_.start_seconds + 1.0) * kDemoFramesPerSecond));
    s.frame_step = 1;
    s.frames_per_second = static_cast<float>(kDemoFramesPerSecond);
    s.ambient_intensity = 0.2f;
  }

  double unit() const { return unit_; }
  Mesh mesh() const { return Mesh(unit_); }
  int last_frame() const { return static_cast<int>(s.last_frame); }
  // Scene frame of a moment of the show clock, and of the start of a bar of the music.
  int frame_at(double show_seconds) const {
    return std::max(0, static_cast<int>(std::lround((show_seconds - slot_.start_seconds) *
                                                    kDemoFramesPerSecond)));
  }
  int bar(double n) const { return frame_at(n * kBarSeconds); }
  // Seconds of scene time of a frame.
  static double seconds(int frame) { return frame / kDemoFramesPerSecond; }

  LwsKey key(int frame, V3 p, V3 hpb = {}, V3 scale = {1, 1, 1}) const {
    LwsKey k;
    k.frame = frame;
    k.value = {f(p.x * unit_), f(p.y * unit_), f(p.z * unit_), f(hpb.x), f(hpb.y), f(hpb.z),
               f(scale.x),     f(scale.y),     f(scale.z)};
    return k;
  }
  static LwsKey tcb(LwsKey k, float t, float c, float b) {
    k.tension = t;
    k.continuity = c;
    k.bias = b;
    return k;
  }
  static LwsKey linear(LwsKey k) {
    k.linear = 1;
    return k;
  }
  // Camera key at `from` looking at `to`, with a bank.
  LwsKey look(int frame, V3 from, V3 to, double bank = 0) {
    auto [h, p] = aim(from, to);
    if (have_heading_) {  // take the short way round between keys
      while (h - last_heading_ > 180) h -= 360;
      while (h - last_heading_ < -180) h += 360;
    }
    have_heading_ = true;
    last_heading_ = h;
    return key(frame, from, {h, p, bank});
  }

  static LwsEnvelope envelope(std::vector<std::pair<int, float>> keys, int linear = 0) {
    LwsEnvelope e;
    for (auto [frame, v] : keys) {
      LwsEnvelopeKey k;
      k.frame = frame;
      k.value = v;
      k.linear = linear;
      e.keys.push_back(k);
    }
    return e;
  }

  // Writes the mesh as objects/s<N>_<name>.lwo and adds it; returns its 1-based number.
  int add(Mesh& m, const std::string& name, std::vector<LwsKey> motion) {
    std::string rel = "objects/s" + std::to_string(index_ + 1) + "_" + name + ".lwo";
    if (out_.ok && !m.write(out_.dir + "/" + rel)) {
      out_.ok = false;
      out_.error = "cannot write " + out_.dir + "/" + rel;
    }
    ++out_.summary.objects;
    out_.summary.triangles += m.triangles();
    triangles_ += m.triangles();
    LwsObject o;
    o.load_path = std::string(kDemoPathPrefix) + "objects\\s" + std::to_string(index_ + 1) + "_" +
                  name + ".lwo";
    o.motion = std::move(motion);
    s.objects.push_back(std::move(o));
    return static_cast<int>(s.objects.size());
  }
  int add_null(const std::string& name, std::vector<LwsKey> motion) {
    LwsObject o;
    o.null_name = name;
    o.motion = std::move(motion);
    s.objects.push_back(std::move(o));
    return static_cast<int>(s.objects.size());
  }
  LwsObject& object(int number) { return s.objects[number - 1]; }
  void pivot(int number, V3 p) {
    object(number).pivot = std::array<float, 3>{f(p.x * unit_), f(p.y * unit_), f(p.z * unit_)};
  }
  void light(const std::string& name, int type, std::array<int, 3> colour, float intensity,
             std::vector<LwsKey> motion) {
    LwsLight l;
    l.name = name;
    l.type = type;
    l.color = colour;
    l.intensity = intensity;
    l.motion = std::move(motion);
    s.lights.push_back(std::move(l));
  }

  void write() {
    std::string path = out_.dir + "/" + slot_.file;
    if (out_.ok && !write_lws_file(path, s)) {
      out_.ok = false;
      out_.error = "cannot write " + path;
    }
    ++out_.summary.scenes;
  }

  LwsScene s;

 private:
  static float f(double v) { return static_cast<float>(v); }

  Output& out_;
  int index_;
  DemoSlot slot_;
  double unit_ = 1.0;
  long triangles_ = 0;
  bool have_heading_ = false;
  double last_heading_ = 0;
};

// A w x h rectangle across the x and y axes around `c`, seen from -z: a screen for a 2D
// effect, or a particle emitter (whose first triangle, three corners of the rectangle, is
// where the particles are born, and whose second gives the particle quads their other half).
void screen_rect(Mesh& m, V3 c, double w, double h, int surf) {
  m.face({m.add(c + V3{-w / 2, -h / 2, 0}), m.add(c + V3{w / 2, -h / 2, 0}), m.add(c + V3{w / 2, h / 2, 0}),
          m.add(c + V3{-w / 2, h / 2, 0})},
         surf, {0, 0, -1});
}

// A particle emitter of `size` units with the spark picture (twelve tinted copies).
Mesh particle_emitter(const SceneMaker& sc, const std::string& surface_name, double size) {
  Mesh m = sc.mesh();
  int surf = m.surface(surface_name, 255, 255, 255, kAdditive | kDoubleSided);
  colour_image(m.surf(surf), kAxisZ, "spark.tga");
  screen_rect(m, {0, 0, 0}, size, size, surf);
  return m;
}

// Scene 1, 0 to 22 s: a ship arrives at a ringed planet past its moon.
void scene_arrival(Output& out) {
  SceneMaker sc(out, 0);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {2, 2, 12};

  Mesh stars = sc.mesh();
  star_field(stars, 500, 1500, 2200, 4.0, stars.surface("Stars_PLOTS_", 255, 255, 240, 0), 11);
  sc.add(stars, "stars", {sc.key(0, {0, 0, 0})});

  const V3 planet_at{-60, -30, 700};
  Mesh planet = sc.mesh();
  int sea = planet.surface("PlanetSea", 230, 240, 255, kSmooth);
  colour_image(planet.surf(sea), kAxisZ, "oceanSCRT.jpg");  // the sea drifts sideways
  int land = planet.surface("PlanetLand", 80, 150, 70, kSmooth);
  sphere(planet, at({0, 0, 0}), {160, 160, 160}, 32, 18, sea);
  Random rnd(7);  // continents: raised patches sitting just above the sea
  for (int i = 0; i < 9; ++i) {
    double th = rnd.range(0, 2 * kPi), ph = rnd.range(0.6, 2.5);
    V3 d{std::sin(ph) * std::cos(th), std::cos(ph), std::sin(ph) * std::sin(th)};
    sphere(planet, at(d * 130), {45, 45, 45}, 10, 6, land);
  }
  sc.add(planet, "planet",
         {sc.key(0, planet_at, {0, 10, 0}), sc.key(end, planet_at, {50, 10, 0})});

  Mesh ring = sc.mesh();
  int ring_surf = ring.surface("PlanetRing", 255, 255, 255, kAdditive | kDoubleSided);
  colour_image(ring.surf(ring_surf), kAxisY, "rings.iff");  // seen from above: its bands
  torus(ring, flat_at({0, 0, 0}), 260, 18, 48, 3, ring_surf);
  sc.add(ring, "ring", {sc.key(0, planet_at, {0, -22, 12}), sc.key(end, planet_at, {30, -22, 12})});

  // The moon hangs on a null that turns around the planet: a parent with its own motion.
  int orbit = sc.add_null("MoonOrbit", {sc.key(0, planet_at, {0, 0, 0}),
                                        sc.linear(sc.key(end, planet_at, {100, 0, 0}))});
  Mesh moon = sc.mesh();
  int moon_surf = moon.surface("Moon", 240, 235, 230, kFlat);
  colour_image(moon.surf(moon_surf), kAxisX, "craters.bmp");
  sphere(moon, at({0, 0, 0}), {34, 34, 34}, 16, 10, moon_surf);
  int moon_obj = sc.add(moon, "moon", {sc.key(0, {-380, 60, 0}, {0, 0, 0}),
                                       sc.key(end, {-380, 60, 0}, {200, 0, 0})});
  sc.object(moon_obj).parent = orbit;

  // The ship flies on a null course; the ship banks under it and the flames hang on the ship.
  auto ship_at = [&](double t) {  // seconds of scene time
    double u = t / 22.0;
    return V3{40 * std::sin(u * kPi * 1.5), 10 * std::sin(u * kPi * 3), -120 + 560 * u};
  };
  std::vector<LwsKey> course;
  for (int b = 0; b <= 12; b += 2) {
    int fr = std::min(sc.bar(b), end);
    V3 p = ship_at(sc.seconds(fr)), q = ship_at(sc.seconds(fr) + 0.5);
    auto [h, pitch] = aim(p, q);
    course.push_back(sc.key(fr, p, {h, pitch, 0}));
  }
  int course_null = sc.add_null("ShipCourse", course);
  Mesh ship = sc.mesh();
  spaceship(ship, 200, 200, 210);
  int ship_obj = sc.add(ship, "ship",
                        {sc.key(0, {0, 0, 0}, {0, 0, 0}), sc.tcb(sc.key(sc.bar(4), {0, 0, 0}, {0, 0, -25}), 0, 0.5, 0),
                         sc.tcb(sc.key(sc.bar(7), {0, 0, 0}, {0, 0, 20}), 0, -0.5, 0.3),
                         sc.key(sc.bar(10), {0, 0, 0}, {0, 0, 0})});
  sc.object(ship_obj).parent = course_null;
  Mesh flames = sc.mesh();
  ship_flames(flames);
  int flame_obj = sc.add(flames, "flames", {sc.key(0, {0, 0, 0})});
  sc.object(flame_obj).parent = ship_obj;
  std::vector<std::pair<int, float>> flicker;  // a pulse on every beat
  for (int beat = 0; beat * 15 <= end; ++beat)
    flicker.push_back({beat * 15, (beat % 2) ? 0.45f : 0.0f});
  sc.object(flame_obj).dissolve = SceneMaker::envelope(flicker);

  // Camera: behind the ship, round to its side on bar 4, then far back on bar 8 to show the
  // planet.
  std::vector<LwsKey> cam;
  auto ship_sec = [&](double bar_n) { return ship_at(bar_n * kBarSeconds); };
  cam.push_back(sc.look(0, ship_sec(0) + V3{10, 14, -50}, ship_sec(0)));
  cam.push_back(sc.look(sc.bar(2), ship_sec(2) + V3{-10, 7, -32}, ship_sec(2)));
  cam.push_back(sc.tcb(sc.look(sc.bar(4), ship_sec(4) + V3{-32, 5, -4}, ship_sec(4), 5), 0.3, 0, 0));
  cam.push_back(sc.look(sc.bar(6), ship_sec(6) + V3{-26, 6, 18}, ship_sec(6)));
  cam.push_back(sc.look(sc.bar(7), ship_sec(7) + V3{-8, 28, -22}, ship_sec(7)));
  cam.push_back(sc.tcb(sc.look(sc.bar(8), ship_sec(8) + V3{30, 25, -90}, planet_at), -0.3, 0, 0.4));
  cam.push_back(sc.look(end, ship_sec(11) + V3{60, 50, -260}, planet_at));
  sc.s.camera.motion = cam;

  // Title card: a picture laid over the screen at its own size, fading out over the
  // first bars. While it is opaque it covers everything; once it fades it writes no depth.
  Mesh title = sc.mesh();
  int card = title.surface("Title__STATIC_IMAGE__", 255, 255, 255, 0);
  colour_image(title.surf(card), kAxisZ, "title.tga");
  title.face({title.add({-1, 1, 0}), title.add({-1, -1, 0}), title.add({1, -1, 0}), title.add({1, 1, 0})},
             card, {0, 0, -1});
  int title_obj = sc.add(title, "title", {sc.key(0, {0, 0, 0})});
  sc.object(title_obj).dissolve =
      SceneMaker::envelope({{0, 0.0f}, {sc.bar(1), 0.0f}, {sc.bar(2), 1.0f}, {end, 1.0f}}, 1);

  sc.light("Sun", 0, {255, 245, 220}, 1.0f, {sc.key(0, {-3000, 2500, -1500})});
  sc.light("PlanetGlow", 1, {80, 120, 255}, 0.6f, {sc.key(0, {800, -400, 900})});
  sc.write();
}

// Scene 2, 22 to 44 s: through a row of turning gates over a wire-frame grid.
void scene_gates(Output& out) {
  SceneMaker sc(out, 1);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {0, 0, 20};

  Mesh grid = sc.mesh();
  int wire = grid.surface("Grid__WIREFRAME2", 40, 200, 255, 0);
  landscape(grid, 500, 24, [](double x, double z) { return -45 + 6 * std::sin(x * 0.02) * std::cos(z * 0.015); },
            wire, wire, 0);
  sc.add(grid, "grid", {sc.key(0, {0, 0, 300})});

  const int gates = 8;
  for (int i = 0; i < gates; ++i) {
    Mesh g = sc.mesh();
    uint8_t red = static_cast<uint8_t>(255 - i * 20), blue = static_cast<uint8_t>(80 + i * 20);
    torus(g, at({0, 0, 0}), 30, 3, 28, 8, g.surface("Gate", red, 120, blue, kSmooth));
    for (int k = 0; k < 4; ++k) {  // lamps on the gate
      double a = kPi / 4 + k * kPi / 2;
      box(g, at({33 * std::cos(a), 33 * std::sin(a), 0}), {2, 2, 2},
          k == 0 ? g.surface("Lamp", 255, 255, 200, kFlat) : 2);
    }
    double z = 80.0 * i;
    double spin = (i % 2) ? 90 : -90;
    sc.add(g, "gate" + std::to_string(i + 1),
           {sc.key(0, {0, 0, z}, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, z}, {0, 0, spin * 2}))});
  }

  // A ring of blocks built off-centre, turning about its own middle through a pivot.
  const V3 ring_centre{0, 0, 820};
  Mesh ring = sc.mesh();
  int block = ring.surface("RingBlock", 255, 200, 60, kFlat);
  for (int i = 0; i < 20; ++i) {
    double a = 2 * kPi * i / 20;
    box(ring, at(ring_centre + V3{60 * std::cos(a), 60 * std::sin(a), 0}), {5, 5, 5}, block);
  }
  int ring_obj = sc.add(ring, "blockring",
                        {sc.key(0, ring_centre, {0, 0, 0}), sc.linear(sc.key(end, ring_centre, {0, 0, 360}))});
  sc.pivot(ring_obj, ring_centre);

  // Camera: through gate after gate, one gate every bar, weaving a little.
  std::vector<LwsKey> cam;
  for (int b = 0; b <= 11; ++b) {
    double z = -60 + 56.0 * b;
    V3 from{12 * std::sin(b * 1.3), 6 * std::cos(b * 0.9), z};
    V3 to{0, 0, z + 120};
    LwsKey k = sc.look(std::min(sc.bar(11 + b), end), from, to, 8 * std::sin(b * 0.7));
    cam.push_back(sc.tcb(k, 0, b % 3 == 0 ? 0.4f : 0.0f, 0));
  }
  cam.push_back(sc.look(end, {0, 25, 620}, ring_centre));
  sc.s.camera.motion = cam;

  sc.light("Key", 0, {255, 255, 255}, 0.9f, {sc.key(0, {1000, 2000, -1000})});
  sc.light("Searchlight", 2, {255, 180, 120}, 0.8f,
           {sc.key(0, {0, 100, 0}, {0, 60, 0}), sc.key(end, {0, 100, 600}, {0, 60, 0})});
  sc.write();
}

// Scene 3, 44 to 63.072 s: a ball that turns into a star and back, lit by coloured lights
// circling it; the camera orbits on a null and zooms in on the beat.
void scene_morph(Output& out) {
  SceneMaker sc(out, 2);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {10, 0, 16};

  auto spikes = [](V3 d) {
    double th = std::atan2(d.z, d.x), ph = std::acos(std::clamp(d.y, -1.0, 1.0));
    return 1.0 + 0.45 * std::pow(std::fabs(std::sin(3 * th) * std::sin(3 * ph)), 3);
  };
  Mesh ball = sc.mesh();
  sphere(ball, at({0, 0, 0}), {10, 10, 10}, 40, 24, ball.surface("MorphBall", 255, 190, 110, kSmooth));
  Mesh star = sc.mesh();
  sphere(star, at({0, 0, 0}), {10, 10, 10}, 40, 24, star.surface("MorphStar", 255, 190, 110, kSmooth),
         spikes);
  int ball_obj = sc.add(ball, "ball",
                        {sc.key(0, {0, 0, 0}, {0, 0, 0}), sc.key(end, {0, 0, 0}, {360, 180, 0})});
  int star_obj = sc.add(star, "star", {sc.key(0, {0, 0, 0})});
  std::vector<std::pair<int, float>> morph;
  for (int b = 22, i = 0; sc.bar(b) <= end; ++b, ++i) morph.push_back({sc.bar(b), (i % 2) ? 1.0f : 0.0f});
  LwsEnvelope env = SceneMaker::envelope(morph);
  for (size_t i = 0; i < env.keys.size(); ++i) env.keys[i].tension = 0.6f;  // hold at the ends
  sc.object(ball_obj).metamorph = env;
  sc.object(ball_obj).morph_target = star_obj;

  // Satellites: small cubes on a frame that spins the other way.
  Mesh sats = sc.mesh();
  int cube = sats.surface("Satellite", 255, 220, 120, kFlat);
  for (int i = 0; i < 12; ++i) {
    double a = 2 * kPi * i / 12;
    box(sats, at({22 * std::cos(a), 3 * std::sin(3 * a), 22 * std::sin(a)}), {1.2, 1.2, 1.2}, cube);
  }
  sc.add(sats, "satellites", {sc.key(0, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, 0}, {-540, 0, 0}))});

  int pivot_null = sc.add_null("CameraRig", {sc.key(0, {0, 0, 0}, {0, 0, 0}),
                                             sc.linear(sc.key(end, {0, 0, 0}, {300, 0, 0}))});

  // A plasma floor under the ball: its rows wave with two sines every frame.
  Mesh floor = sc.mesh();
  int plasma = floor.surface("Floor__2DEFFECT_PLASMA__", 255, 255, 255, kDoubleSided);
  colour_image(floor.surf(plasma), kAxisY, "plasma.tga");
  reflection_image(floor.surf(plasma), "plasma.tga");  // the plasma's source picture
  floor.face({floor.add({-45, -20, -45}), floor.add({45, -20, -45}), floor.add({45, -20, 45}),
              floor.add({-45, -20, 45})},
             plasma, {0, 1, 0});
  sc.add(floor, "plasma_floor", {sc.key(0, {0, 0, 0})});

  // Sparks falling from above the ball, on the camera's rig so they always face it.
  Mesh sparks = particle_emitter(sc, "Sparks_FALL__PARTICLES_160__", 2.5);
  sc.object(sc.add(sparks, "falling_sparks", {sc.key(0, {0, 17, 0})})).parent = pivot_null;
  sc.s.camera.motion = {sc.look(0, {0, 12, -48}, {0, 0, 0}),
                        sc.tcb(sc.look(sc.bar(26), {0, -8, -40}, {0, 0, 0}), 0, 0, -0.5),
                        sc.look(end, {0, 20, -55}, {0, 0, 0})};
  sc.s.camera.parent = pivot_null;
  std::vector<std::pair<int, float>> zoom;
  for (int b = 22; sc.bar(b) <= end; b += 2) {
    zoom.push_back({sc.bar(b), 3.2f});
    if (sc.bar(b + 1) <= end) zoom.push_back({sc.bar(b + 1), 4.6f});
  }
  sc.s.camera.zoom_envelope = SceneMaker::envelope(zoom);

  auto circle = [&](double r, double y, double phase, double turns) {
    std::vector<LwsKey> keys;
    for (int i = 0; i <= 16; ++i) {
      double a = phase + turns * 2 * kPi * i / 16;
      keys.push_back(sc.key(end * i / 16, {r * std::cos(a), y, r * std::sin(a)}));
    }
    return keys;
  };
  sc.light("Red", 1, {255, 40, 40}, 1.0f, circle(60, 20, 0, 2));
  sc.light("Blue", 1, {40, 80, 255}, 1.0f, circle(60, -10, kPi, -2));
  sc.light("Top", 2, {255, 255, 200}, 0.6f, {sc.key(0, {0, 80, -20}, {0, 90, 0})});
  sc.light("Fill", 0, {200, 200, 255}, 0.6f, {sc.key(0, {-1000, 800, 1500})});
  sc.write();
}

// Scene 4, 63.072 to 68 s: a spinning rush down a tunnel through glowing rings.
void scene_tunnel(Output& out) {
  SceneMaker sc(out, 3);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {0, 0, 0};

  Mesh tunnel = sc.mesh();
  int wall_a = tunnel.surface("TunnelWall__NO_MIPMAPPING__", 200, 160, 230, kFlat | kDoubleSided);
  // Seen along X the picture runs down the tunnel; its scroll code moves the bands.
  colour_image(tunnel.surf(wall_a), kAxisX, "energySCLT.tga");
  int wall_b = tunnel.surface("TunnelStripe", 40, 160, 200, kFlat | kDoubleSided);
  const int seg = 16, sections = 40;
  std::vector<int> idx;
  for (int k = 0; k <= sections; ++k)
    for (int s = 0; s < seg; ++s) {
      double a = 2 * kPi * s / seg;
      idx.push_back(tunnel.add({14 * std::cos(a), 14 * std::sin(a), -20 + 12.0 * k}));
    }
  for (int k = 0; k < sections; ++k)
    for (int s = 0; s < seg; ++s) {
      int n = (s + 1) % seg;
      double a = 2 * kPi * (s + 0.5) / seg;
      tunnel.face({idx[k * seg + s], idx[k * seg + n], idx[(k + 1) * seg + n], idx[(k + 1) * seg + s]},
                  (k + s) % 4 == 0 ? wall_b : wall_a, V3{-std::cos(a), -std::sin(a), 0});
    }
  sc.add(tunnel, "tunnel", {sc.key(0, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, -300}))});

  // Down the tunnel a star field rushes towards the viewer, filling the screen at the end.
  Mesh exit = sc.mesh();
  int stars = exit.surface("Exit__2DEFFECT__STARFIELD_", 255, 255, 255, kDoubleSided);
  colour_image(exit.surf(stars), kAxisZ, "screen.tga");
  screen_rect(exit, {0, 0, 260}, 28, 28, stars);
  sc.add(exit, "tunnel_exit", {sc.key(0, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, -300}))});

  Mesh rings = sc.mesh();
  int glow = rings.surface("Glow", 255, 120, 40, kAdditive);
  for (int i = 0; i < 10; ++i) torus(rings, at({0, 0, 40.0 + 45 * i}), 9, 0.8, 20, 4, glow);
  int rings_obj = sc.add(rings, "rings",
                         {sc.key(0, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, -420}, {0, 0, 0}))});
  sc.object(rings_obj).dissolve = SceneMaker::envelope({{0, 1.0f}, {20, 0.0f}, {end - 30, 0.0f}, {end, 1.0f}});

  sc.s.camera.motion = {sc.key(0, {0, 0, 0}, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, 0}, {0, 0, 540}))};
  sc.light("Headlight", 1, {255, 255, 255}, 1.0f, {sc.key(0, {0, 0, -10})});
  sc.light("Deep", 1, {255, 60, 200}, 0.8f, {sc.key(0, {0, 0, 200})});
  sc.write();
}

// Scene 5, 68 to 85 s: low over a flat-shaded landscape behind the ship.
void scene_landscape(Output& out) {
  SceneMaker sc(out, 4);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {60, 90, 150};

  auto height = [](double x, double z) {
    return 30 * std::sin(x * 0.011) * std::cos(z * 0.009) + 14 * std::sin(x * 0.031 + z * 0.023) +
           6 * std::cos(z * 0.05 - x * 0.02);
  };
  Mesh land = sc.mesh();
  int grass = land.surface("Grass__MIPMAPPING__", 230, 240, 220, kFlat);
  int rock = land.surface("Rock__BILINEAR__", 230, 220, 210, kFlat);
  colour_image(land.surf(grass), kAxisY, "grass.jpg");  // from above, over the whole land
  colour_image(land.surf(rock), kAxisY, "rock.bmp");
  landscape(land, 600, 44, height, grass, rock, 18);
  sc.add(land, "land", {sc.key(0, {0, -40, 400})});

  // A painted sky on a wall beyond the far end of the land, unlit.
  Mesh sky = sc.mesh();
  int sky_surf = sky.surface("Sky", 255, 255, 255, kDoubleSided);
  colour_image(sky.surf(sky_surf), kAxisZ, "sky.jpg");
  sky.face({sky.add({-1400, -60, 1050}), sky.add({1400, -60, 1050}), sky.add({1400, 700, 1050}),
            sky.add({-1400, 700, 1050})},
           sky_surf, {0, 0, -1});
  sc.add(sky, "sky", {sc.key(0, {0, 0, 0})});

  Mesh towers = sc.mesh();
  int steel = towers.surface("Tower", 200, 200, 210, kSmooth);
  int beacon = towers.surface("Beacon", 255, 60, 40, kAdditive);
  for (int i = 0; i < 6; ++i) {
    double x = (i % 2 ? 70 : -70), z = 80 + 140.0 * i;
    double y = height(x, z - 400) - 40;
    cylinder(towers, flat_at({x, y + 30, z}), 4, 30, 10, steel, true);
    sphere(towers, at({x, y + 64, z}), {5, 5, 5}, 8, 5, beacon);
  }
  sc.add(towers, "towers", {sc.key(0, {0, 0, 0})});

  auto path = [](double t) { return V3{50 * std::sin(t * 0.35), 30 + 8 * std::sin(t * 0.9), -40 + 52 * t}; };
  std::vector<LwsKey> ship_keys;
  for (int b = 34; b <= 43; ++b) {
    int fr = std::min(sc.bar(b), end);
    double t = sc.seconds(fr);
    V3 p = path(t), q = path(t + 0.3);
    auto [h, pitch] = aim(p, q);
    double bank = -30 * std::cos(t * 0.35);
    ship_keys.push_back(sc.tcb(sc.key(fr, p, {h, pitch, bank}), 0.0f, 0.2f, (b % 2) ? 0.3f : -0.3f));
  }
  Mesh ship = sc.mesh();
  spaceship(ship, 220, 120, 60);
  int ship_obj = sc.add(ship, "ship", ship_keys);
  // Embers left behind the ship: they keep their place on screen and shrink to its centre.
  Mesh embers = particle_emitter(sc, "Embers_DOWNSIZE__PARTICLES_120__", 1.6);
  sc.object(sc.add(embers, "embers", {sc.key(0, {0, 0, -10})})).parent = ship_obj;

  // A billboard ahead plays the clip (frames turned upside down as loaded, like any video
  // on a model).
  Mesh board = sc.mesh();
  int clip = board.surface("Billboard__2DEFFECT__VIDEO_8_", 255, 255, 255, kDoubleSided);
  colour_image(board.surf(clip), kAxisZ, "clip0.tga");
  screen_rect(board, {0, 120, 1000}, 320, 240, clip);
  sc.add(board, "billboard", {sc.key(0, {0, 0, 0})});
  Mesh flames = sc.mesh();
  ship_flames(flames);
  sc.object(sc.add(flames, "flames", {sc.key(0, {0, 0, 0})})).parent = ship_obj;

  std::vector<LwsKey> cam;
  const V3 offsets[] = {{0, 12, -45}, {-30, 6, -25}, {0, 30, -60}, {35, 4, -20}, {0, 10, -40}};
  for (int i = 0; i < 5; ++i) {
    int fr = std::min(sc.bar(34 + 2 * i), end);
    V3 p = path(sc.seconds(fr));
    cam.push_back(sc.tcb(sc.look(fr, p + offsets[i], p + V3{0, 0, 10}), -0.2f, 0, 0));
  }
  cam.push_back(sc.look(end, path(sc.seconds(end)) + V3{0, 40, -90}, path(sc.seconds(end))));
  sc.s.camera.motion = cam;

  sc.light("LowSun", 0, {255, 210, 160}, 1.1f, {sc.key(0, {-2000, 900, 3000})});
  sc.light("SkyFill", 1, {120, 150, 255}, 0.4f, {sc.key(0, {0, 3000, 0})});
  sc.write();
}

// Scene 6, 85 to 118 s: a robot arm (a chain of parents turning about pivots) handles a
// pulsing metaform blob while solar panels fade in around it.
void scene_machine(Output& out) {
  SceneMaker sc(out, 5);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {16, 16, 24};

  Mesh floor = sc.mesh();
  int tile_a = floor.surface("FloorDark", 110, 110, 120, kFlat);
  int tile_b = floor.surface("FloorLight__NO_BILINEAR__", 230, 230, 240, kFlat);
  colour_image(floor.surf(tile_a), kAxisY, "plates.bmp");
  colour_image(floor.surf(tile_b), kAxisY, "plates.bmp");
  const int n = 16;
  const double cell = 12;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double x = (i - n / 2) * cell, z = (j - n / 2) * cell;
      int a = floor.add({x, 0, z}), b = floor.add({x + cell, 0, z});
      int c = floor.add({x + cell, 0, z + cell}), d = floor.add({x, 0, z + cell});
      floor.face({a, b, c, d}, (i + j) % 2 ? tile_a : tile_b, {0, 1, 0});
    }
  sc.add(floor, "floor", {sc.key(0, {0, 0, 0})});

  // Arm: base turns, upper arm swings about its shoulder, forearm about its elbow, claw
  // spins at the wrist. Each part is modelled where it sits at rest; the pivots are the
  // joints.
  int paint = 0;
  Mesh base = sc.mesh();
  paint = base.surface("ArmBase", 230, 200, 150, kSmooth);
  // Warning stripes with a chrome sheen over them: both images on one surface.
  colour_image(base.surf(paint), kAxisZ, "hazard.tga");
  reflection_image(base.surf(paint), "chrome.jpg");
  cylinder(base, flat_at({0, 4, 0}), 9, 4, 16, paint, true);
  cylinder(base, flat_at({0, 12, 0}), 4, 5, 12, paint, true);
  int base_obj = sc.add(base, "armbase", {sc.key(0, {0, 0, 0}, {0, 0, 0}),
                                          sc.key(sc.bar(46.5), {0, 0, 0}, {90, 0, 0}),
                                          sc.key(sc.bar(50.5), {0, 0, 0}, {-60, 0, 0}),
                                          sc.key(sc.bar(54.5), {0, 0, 0}, {120, 0, 0}),
                                          sc.key(end, {0, 0, 0}, {0, 0, 0})});
  Mesh upper = sc.mesh();
  paint = upper.surface("ArmUpper", 230, 160, 30, kSmooth);
  box(upper, at({0, 28, 0}), {2.5, 12, 2.5}, paint);
  sphere(upper, at({0, 16, 0}), {4, 4, 4}, 10, 6, upper.surface("Joint", 80, 80, 90, kSmooth));
  // A part turning about a pivot is placed at the pivot, so that at rest it stays put.
  const V3 shoulder{0, 16, 0}, elbow{0, 40, 0}, wrist{0, 40, 21};
  int upper_obj = sc.add(upper, "armupper",
                         {sc.key(0, shoulder, {0, -20, 0}), sc.key(sc.bar(48.5), shoulder, {0, 35, 0}),
                          sc.key(sc.bar(52.5), shoulder, {0, -10, 0}), sc.key(end, shoulder, {0, 40, 0})});
  sc.pivot(upper_obj, shoulder);
  sc.object(upper_obj).parent = base_obj;
  Mesh fore = sc.mesh();
  paint = fore.surface("ArmFore", 230, 160, 30, kSmooth);
  box(fore, at({0, 40, 10}), {2, 2, 10}, paint);
  sphere(fore, at({0, 40, 0}), {3.2, 3.2, 3.2}, 10, 6, fore.surface("Joint", 80, 80, 90, kSmooth));
  int fore_obj = sc.add(fore, "armfore",
                        {sc.key(0, elbow, {0, 30, 0}), sc.key(sc.bar(47.5), elbow, {0, -10, 0}),
                         sc.key(sc.bar(51.5), elbow, {0, 50, 0}), sc.key(end, elbow, {0, 0, 0})});
  sc.pivot(fore_obj, elbow);
  sc.object(fore_obj).parent = upper_obj;
  Mesh claw = sc.mesh();
  paint = claw.surface("Claw", 200, 200, 210, kFlat);
  box(claw, at({0, 40, 21}), {3, 3, 1}, paint);
  box(claw, at({2.2, 40, 24}), {0.6, 1.5, 3}, paint);
  box(claw, at({-2.2, 40, 24}), {0.6, 1.5, 3}, paint);
  int claw_obj = sc.add(claw, "claw", {sc.key(0, wrist, {0, 0, 0}),
                                       sc.linear(sc.key(end, wrist, {0, 0, 720}))});
  sc.pivot(claw_obj, wrist);
  sc.object(claw_obj).parent = fore_obj;

  // The blob: one metaform object, breathing on the beat.
  Mesh blob = sc.mesh();
  int blob_surf = blob.surface("Blob__METAFORM__", 80, 255, 140, kSmooth);
  reflection_image(blob.surf(blob_surf), "chrome.jpg");
  sphere(blob, at({0, 0, 0}), {8, 8, 8}, 20, 12, blob_surf,
         [](V3 d) { return 1 + 0.2 * std::sin(5 * d.x) * std::cos(4 * d.z); });
  std::vector<LwsKey> blob_keys;
  for (int beat = 0; beat * 15 <= end; beat += 2) {
    double s = (beat % 4) ? 0.85 : 1.15;
    blob_keys.push_back(sc.key(beat * 15, {-40, 14, 25}, {beat * 6.0, 0, 0}, {s, 1 / s, s}));
  }
  sc.add(blob, "blob", blob_keys);

  // Solar panels on a null: double sided, unfolding one after another on the bars.
  int panel_rig = sc.add_null("PanelRig", {sc.key(0, {30, 30, 30}, {0, 0, 0}),
                                           sc.linear(sc.key(end, {30, 30, 30}, {180, 0, 0}))});
  for (int i = 0; i < 4; ++i) {
    Mesh panel = sc.mesh();
    int cellsurf = panel.surface("SolarPanel", 230, 230, 255, kFlat | kDoubleSided);
    colour_image(panel.surf(cellsurf), kAxisZ, "panel.iff");
    int a = panel.add({-6, -8, 0}), b = panel.add({6, -8, 0}), c = panel.add({6, 8, 0}), d = panel.add({-6, 8, 0});
    panel.face({a, b, c, d}, cellsurf, {0, 0, -1});
    double ang = i * 90.0;
    double r = 18;
    V3 place{r * std::sin(ang * kPi / 180), 0, r * std::cos(ang * kPi / 180)};
    int in = sc.bar(44 + i);
    const V3 folded{0.05, 0.05, 0.05};
    int p = sc.add(panel, "panel" + std::to_string(i + 1),
                   {sc.key(0, place, {ang, 0, 0}, folded), sc.key(in, place, {ang, 90, 0}, folded),
                    sc.tcb(sc.key(in + 60, place, {ang, 180, 0}), 0.5f, 0, 0),
                    sc.key(end, place, {ang, 720, 0})});
    sc.object(p).parent = panel_rig;
  }

  std::vector<LwsKey> cam;
  cam.push_back(sc.look(0, {-10, 70, -80}, {0, 25, 0}));
  cam.push_back(sc.look(sc.bar(46.5), {45, 40, -50}, {0, 28, 10}));
  cam.push_back(sc.tcb(sc.look(sc.bar(50.5), {-55, 30, -20}, {-20, 22, 15}), 0.5, 0, 0));
  cam.push_back(sc.look(sc.bar(54.5), {0, 55, -45}, {10, 28, 10}));
  cam.push_back(sc.look(sc.bar(58.5), {70, 45, 10}, {20, 28, 20}));
  cam.push_back(sc.look(end, {60, 60, 70}, {10, 25, 10}));
  sc.s.camera.motion = cam;

  sc.light("Overhead", 2, {255, 250, 230}, 1.0f, {sc.key(0, {0, 200, 0}, {0, 90, 0})});
  sc.light("Rim", 0, {120, 160, 255}, 0.6f, {sc.key(0, {2000, 800, 2000})});
  sc.light("Warm", 1, {255, 140, 60}, 0.5f,
           {sc.key(0, {-100, 40, -60}), sc.key(sc.bar(52.5), {100, 40, -60}), sc.key(end, {-100, 40, -60})});
  sc.write();
}

// Scene 7, 118 to 140 s: a fleet in formation fires on a station that goes up in flames.
void scene_fleet(Output& out) {
  SceneMaker sc(out, 6);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {4, 0, 10};

  Mesh stars = sc.mesh();
  star_field(stars, 400, 1500, 2200, 4.0, stars.surface("Stars_PLOTS_", 220, 220, 255, 0), 23);
  sc.add(stars, "stars", {sc.key(0, {0, 0, 0})});

  const V3 station_at{0, 0, 400};
  Mesh station = sc.mesh();
  int hull = station.surface("Station", 170, 170, 180, kSmooth);
  sphere(station, at({0, 0, 0}), {30, 30, 30}, 20, 12, hull);
  torus(station, flat_at({0, 0, 0}), 60, 6, 32, 6, station.surface("StationRing", 120, 120, 140, kSmooth));
  for (int i = 0; i < 4; ++i) {
    double a = kPi * i / 2;
    box(station, at({33 * std::cos(a), 0, 33 * std::sin(a)}), {2, 2, 2}, hull);
  }
  int boom = sc.bar(66);
  int station_obj = sc.add(station, "station",
                           {sc.key(0, station_at, {0, 0, 0}), sc.linear(sc.key(boom + 30, station_at, {60, 0, 0})),
                            sc.linear(sc.key(boom + 31, station_at, {60, 0, 0}, {0.001, 0.001, 0.001})),
                            sc.key(end, station_at, {90, 0, 0}, {0.001, 0.001, 0.001})});
  sc.object(station_obj).dissolve =
      SceneMaker::envelope({{0, 0.0f}, {boom, 0.0f}, {boom + 30, 1.0f}, {end, 1.0f}}, 1);

  // Sparks round the station: a particle surface's image (twelve tinted copies). The emitter
  // gets a single small triangle, so nothing of the scene hangs on its drawing.
  Mesh sparks = sc.mesh();
  int spark_surf = sparks.surface("Sparks__PARTICLES_150__", 255, 255, 255, kAdditive);
  colour_image(sparks.surf(spark_surf), kAxisZ, "spark.tga");
  screen_rect(sparks, {0, 0, 0}, 6, 6, spark_surf);
  sc.add(sparks, "sparks", {sc.key(0, station_at + V3{0, 40, 0})});

  Mesh blast = sc.mesh();
  sphere(blast, at({0, 0, 0}), {40, 40, 40}, 16, 10, blast.surface("Blast", 255, 160, 60, kAdditive));
  int blast_obj = sc.add(blast, "blast",
                         {sc.key(0, station_at, {0, 0, 0}, {0.01, 0.01, 0.01}),
                          sc.key(boom - 5, station_at, {0, 0, 0}, {0.01, 0.01, 0.01}),
                          sc.key(boom + 40, station_at, {60, 30, 0}, {2.5, 2.5, 2.5}),
                          sc.key(end, station_at, {90, 40, 0}, {3.5, 3.5, 3.5})});
  sc.object(blast_obj).dissolve =
      SceneMaker::envelope({{0, 1.0f}, {boom - 5, 1.0f}, {boom, 0.0f}, {boom + 90, 0.2f}, {end, 0.9f}});
  Mesh wave = sc.mesh();
  torus(wave, flat_at({0, 0, 0}), 40, 3, 40, 4, wave.surface("Shockwave", 255, 230, 160, kAdditive | kDoubleSided));
  int wave_obj = sc.add(wave, "shockwave",
                        {sc.key(0, station_at, {0, 0, 20}, {0.01, 0.01, 0.01}),
                         sc.key(boom, station_at, {0, 0, 20}, {0.01, 0.01, 0.01}),
                         sc.tcb(sc.key(boom + 120, station_at, {30, 0, 20}, {6, 6, 6}), -0.5f, 0, 0.8f),
                         sc.key(end, station_at, {40, 0, 20}, {8, 8, 8})});
  sc.object(wave_obj).dissolve =
      SceneMaker::envelope({{0, 1.0f}, {boom, 1.0f}, {boom + 10, 0.0f}, {boom + 150, 1.0f}, {end, 1.0f}}, 1);

  // Fleet: a null flies the formation in; five ships hang on it.
  int fleet = sc.add_null("Fleet", {sc.key(0, {-40, 10, -200}, {10, 0, 0}),
                                    sc.tcb(sc.key(sc.bar(64), {0, 0, 150}, {0, 0, 0}), 0.4f, 0, 0),
                                    sc.key(end, {40, 40, 220}, {-20, -10, 0})});
  const V3 slots[5] = {{0, 0, 0}, {-22, 4, -18}, {22, 4, -18}, {-44, 8, -36}, {44, 8, -36}};
  int lead_ship = 0;
  for (int i = 0; i < 5; ++i) {
    Mesh ship = sc.mesh();
    spaceship(ship, static_cast<uint8_t>(150 + 20 * i), 160, static_cast<uint8_t>(220 - 25 * i));
    ship_flames(ship);
    double wobble = 3 + i;
    int s = sc.add(ship, "ship" + std::to_string(i + 1),
                   {sc.key(0, slots[i], {0, 0, 0}), sc.key(sc.bar(62), slots[i] + V3{0, wobble, 0}, {0, 0, 10}),
                    sc.key(sc.bar(66), slots[i] + V3{0, -wobble, 0}, {0, 0, -10}), sc.key(end, slots[i], {0, 0, 0})});
    sc.object(s).parent = fleet;
    if (i == 0) lead_ship = s;
  }
  // Laser bolts from the lead ship, blinking on the beat.
  Mesh laser = sc.mesh();
  int beam = laser.surface("Laser", 255, 40, 40, kAdditive);
  for (double x : {-3.8, 3.8}) box(laser, at({x, 0, 60}), {0.4, 0.4, 40}, beam);
  int laser_obj = sc.add(laser, "laser", {sc.key(0, {0, 0, 0})});
  sc.object(laser_obj).parent = lead_ship;
  std::vector<std::pair<int, float>> blink{{0, 1.0f}};
  for (int beat = sc.bar(63) / 15; beat * 15 < boom; ++beat) {
    blink.push_back({beat * 15, 0.0f});
    blink.push_back({beat * 15 + 7, 1.0f});
  }
  blink.push_back({end, 1.0f});
  sc.object(laser_obj).dissolve = SceneMaker::envelope(blink, 1);

  std::vector<LwsKey> cam;
  // Where the fleet is while it flies in (its null moves about evenly until bar 64).
  auto fleet_at = [&](double t) {
    double u = t / sc.seconds(sc.bar(64));
    return V3{-40 + 40 * u, 10 - 10 * u, -200 + 350 * u};
  };
  cam.push_back(sc.look(0, fleet_at(0) + V3{30, 10, 70}, fleet_at(0)));
  for (int b = 60; b <= 61; ++b) {
    V3 f = fleet_at(sc.seconds(sc.bar(b)));
    cam.push_back(sc.look(sc.bar(b), f + (b == 60 ? V3{45, 12, 15} : V3{55, 15, -25}), f));
  }
  cam.push_back(sc.tcb(sc.look(sc.bar(63), {-60, 40, 60}, {0, 0, 150}), 0, 0, 0.5));
  cam.push_back(sc.look(sc.bar(65), {-120, 60, 150}, station_at));
  cam.push_back(sc.look(sc.bar(67), {-200, 100, 120}, station_at));
  cam.push_back(sc.look(end, {-260, 120, 100}, station_at));
  sc.s.camera.motion = cam;

  sc.light("Star", 0, {255, 240, 230}, 1.0f, {sc.key(0, {-2000, 1500, -2000})});
  sc.light("Fire", 1, {255, 90, 30}, 0.9f,
           {sc.key(0, station_at + V3{0, 0, -80}), sc.key(end, station_at + V3{0, 0, -80})});
  sc.write();
}

// Scene 8, 140 to 151 s: the title rises out of a wire-frame globe and fades with the music.
void scene_finale(Output& out) {
  SceneMaker sc(out, 7);
  const int end = sc.last_frame();
  sc.s.backdrop_color = {0, 0, 0};

  Mesh stars = sc.mesh();
  star_field(stars, 300, 800, 1200, 2.5, stars.surface("Stars_PLOTS_", 255, 255, 255, 0), 31);
  sc.add(stars, "stars", {sc.key(0, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, 0}, {40, 0, 0}))});

  Mesh globe = sc.mesh();
  sphere(globe, at({0, 0, 0}), {60, 60, 60}, 24, 12, globe.surface("Globe__WIREFRAME2", 80, 160, 255, 0));
  sc.add(globe, "globe", {sc.key(0, {0, 0, 60}, {0, 0, 0}), sc.linear(sc.key(end, {0, 0, 60}, {-120, 30, 0}))});

  // Sinus dots on a screen behind the title.
  Mesh dots = sc.mesh();
  int curve = dots.surface("Curve__2DEFFECT__SINUSDOTS_", 255, 255, 255, kDoubleSided);
  colour_image(dots.surf(curve), kAxisZ, "dots.tga");
  screen_rect(dots, {0, 0, 105}, 64, 48, curve);
  sc.add(dots, "dots_screen", {sc.key(0, {0, 0, 0})});

  // The clip again, over the whole screen as the finale opens (a static image: frames kept
  // as loaded), fading out like the title card of the first scene.
  Mesh clip = sc.mesh();
  int full = clip.surface("Clip__STATIC_IMAGE____2DEFFECT__VIDEO_8__STATIC_IMAGE_", 255, 255, 255, 0);
  colour_image(clip.surf(full), kAxisZ, "clip0.tga");
  clip.face({clip.add({-1, 1, 0}), clip.add({-1, -1, 0}), clip.add({1, -1, 0}), clip.add({1, 1, 0})}, full,
            {0, 0, -1});
  int clip_obj = sc.add(clip, "clip", {sc.key(0, {0, 0, 0})});
  sc.object(clip_obj).dissolve = SceneMaker::envelope(
      {{0, 0.0f}, {sc.frame_at(142.0), 0.0f}, {sc.frame_at(144.0), 1.0f}, {end, 1.0f}}, 1);

  const uint8_t colours[4][3] = {{255, 90, 60}, {255, 200, 60}, {80, 220, 120}, {80, 160, 255}};
  for (int l = 0; l < 4; ++l) {
    Mesh letter = sc.mesh();
    int surf = letter.surface("Letter", colours[l][0], colours[l][1], colours[l][2], kSmooth);
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (kLetters[l][row][col] == '#') box(letter, at({col * 2.4 - 4.8, 7.2 - row * 2.4, 0}), {1.1, 1.1, 1.1}, surf);
    double x = -21 + 14.0 * l;
    int in = sc.bar(70) + 15 * l;
    int o = sc.add(letter, "letter" + std::to_string(l + 1),
                   {sc.key(0, {x, -40, 60}, {0, -90, 0}), sc.key(in, {x, -40, 60}, {0, -90, 0}),
                    sc.tcb(sc.key(in + 45, {x, 0, 60}, {0, 0, 0}), 0, 0, -0.6f),
                    sc.key(sc.bar(74), {x, 2, 60}, {15, 0, 0}), sc.key(end, {x, 0, 60}, {-10, 0, 0})});
    sc.object(o).dissolve = SceneMaker::envelope(
        {{0, 1.0f}, {in, 1.0f}, {in + 30, 0.0f}, {sc.frame_at(148.0), 0.0f}, {sc.frame_at(151.0), 1.0f}});
  }

  sc.s.camera.motion = {sc.look(0, {0, 10, 10}, {0, 0, 60}), sc.look(sc.bar(72), {0, 4, 14}, {0, 0, 60}),
                        sc.look(end, {0, 0, -5}, {0, 0, 60})};
  sc.s.camera.zoom_envelope = SceneMaker::envelope(
      {{0, 2.2f}, {sc.bar(71), 3.2f}, {sc.bar(73), 3.6f}, {end, 2.8f}});

  sc.light("Key", 0, {255, 255, 255}, 1.0f, {sc.key(0, {-500, 800, -1000})});
  sc.light("Sweep", 2, {255, 120, 255}, 0.7f,
           {sc.key(0, {-200, 50, -100}), sc.key(end, {200, 50, -100})});
  sc.write();
}

}  // namespace

void write_scenes(Output& out) {
  scene_arrival(out);
  scene_gates(out);
  scene_morph(out);
  scene_tunnel(out);
  scene_landscape(out);
  scene_machine(out);
  scene_fleet(out);
  scene_finale(out);
}

}  // namespace orvl::demo
