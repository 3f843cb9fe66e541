// Texture effects, effect names and particles on plain buffers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "platform/file.h"
#include "platform/log.h"
#include "render/png_writer.h"
#include "tools/image_writer.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

// A buffer with guard words on both sides: a write outside W x H shows up in the guards.
struct Guarded {
  static constexpr size_t kGuard = 300;
  static constexpr uint32_t kMark = 0xDEADBEEF;
  int w, h;
  std::vector<uint32_t> words;
  Guarded(int w_, int h_, uint32_t fill = 0)
      : w(w_), h(h_), words(size_t(w_) * h_ + 2 * kGuard, kMark) {
    std::fill(words.begin() + kGuard, words.end() - kGuard, fill);
  }
  uint32_t* pixels() { return words.data() + kGuard; }
  EffectBuffer buffer() { return {pixels(), w, h}; }
  uint32_t at(int x, int y) { return pixels()[size_t(y) * w + x]; }
  bool guards_intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (words[i] != kMark || words[words.size() - 1 - i] != kMark) return false;
    return true;
  }
  int count(uint32_t value) {
    int n = 0;
    for (int i = 0; i < w * h; ++i) n += pixels()[i] == value;
    return n;
  }
};

struct TempDir {
  fs::path root = fs::temp_directory_path() / ("orvl_effects_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(root); }
  ~TempDir() { fs::remove_all(root); }
  std::string file(const std::string& name) const { return (root / name).string(); }
};

// A w x h picture whose every pixel holds `value` + its index (0x00RRGGBB).
RgbPicture picture(uint32_t w, uint32_t h, uint32_t value) {
  RgbPicture p;
  p.width = w;
  p.height = h;
  for (uint32_t i = 0; i < w * h; ++i) p.pixels.push_back((value + i) & 0xFFFFFF);
  return p;
}

// The red byte of a buffer word (the first byte in memory).
uint8_t red_of(uint32_t word) {
  uint8_t b[4];
  std::memcpy(b, &word, 4);
  return b[0];
}

class Effects : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_echo(false);
    log_clear();
    effect_random_seed(1);
  }
  void TearDown() override {
    plasma_free();
    video_free();
  }
};

TEST_F(Effects, RandomGeneratorStartsAtSeedOne) {
  EXPECT_EQ(effect_random(), 41);
  EXPECT_EQ(effect_random(), 18467);
  EXPECT_EQ(effect_random(), 6334);
  EXPECT_EQ(effect_random(), 26500);
}

TEST_F(Effects, PlasmaRowsStartWhereTheWavesPutThemAndNeverReadPastTheSource) {
  // Source pixel i holds i, so each row's first word tells where it was copied from.
  const int W = 8, H = 4;
  PixelBuffer source(W + 61);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i);
  ASSERT_EQ(plasma_init_pixels(W, H, source), EffectStatus::ok);
  Guarded buf(W, H);
  plasma_step(buf.buffer());
  EXPECT_EQ(buf.at(0, 0), 16u);
  EXPECT_EQ(buf.at(0, 1), 18u);
  EXPECT_EQ(buf.at(0, 2), 19u);
  EXPECT_EQ(buf.at(W - 1, 0), 16u + W - 1);
  EXPECT_FLOAT_EQ(plasma_state().phase_sin, 0.109f);
  EXPECT_FLOAT_EQ(plasma_state().phase_cos, 0.094f);
  // Many frames sweep s over its whole range -30..30 within the W + 61 pixels.
  for (int i = 0; i < 500; ++i) plasma_step(buf.buffer());
  EXPECT_TRUE(buf.guards_intact());

  // One pixel short, or no source at all: the step leaves the buffer alone.
  source.pop_back();
  EXPECT_EQ(plasma_init_pixels(W, H, source), EffectStatus::source_too_small);
  Guarded untouched(W, H, 0x01020304);
  plasma_step(untouched.buffer());
  EXPECT_EQ(untouched.count(0x01020304), W * H);
  EXPECT_EQ(plasma_init(W, H, "no/such/plasma.tga"), EffectStatus::source_missing);
  plasma_step(untouched.buffer());
  EXPECT_EQ(untouched.count(0x01020304), W * H);

  // A buffer smaller than the prepared size is drawn clipped.
  source.push_back(0);
  ASSERT_EQ(plasma_init_pixels(16, 16, source), EffectStatus::source_too_small);
  ASSERT_EQ(plasma_init_pixels(W, H, source), EffectStatus::ok);
  Guarded small(4, 2);
  plasma_step(small.buffer());
  EXPECT_TRUE(small.guards_intact());
}

TEST_F(Effects, SinusDotsEraseWhatTheyDrewAndSkipPositionsOutsideTheBuffer) {
  sinus_dots_init(256, 256);
  const auto& dots = sinus_dots_state().dots;
  EXPECT_EQ(dots[0][0], 128);
  EXPECT_EQ(dots[0][1], 128);
  EXPECT_EQ(dots[1][0], 131);
  EXPECT_EQ(dots[1][1], 130);
  EXPECT_EQ(dots[2][0], 134);
  EXPECT_EQ(dots[2][1], 132);

  const uint32_t white = rgba_word(255, 255, 255, 255);
  Guarded buf(256, 256);
  for (int frame = 0; frame < 50; ++frame) {
    sinus_dots_step(buf.buffer());
    // Only this frame's dots are lit: last frame's were erased.
    int lit = 0;
    for (int i = 0; i < 256 * 256; ++i) lit += buf.pixels()[i] != 0;
    std::vector<bool> seen(256 * 256);
    int distinct = 0;
    for (const auto& d : dots)
      if (!seen[d[1] * 256 + d[0]]) seen[d[1] * 256 + d[0]] = true, ++distinct;
    ASSERT_EQ(lit, distinct);
    ASSERT_EQ(buf.count(white), distinct);
  }
  // A dot at x = W or y = H (a sine of exactly 1) is neither erased nor drawn.
  sinus_dots_state().dots[0] = {256, 10};
  sinus_dots_state().dots[1] = {10, 256};
  sinus_dots_state().dots[2] = {-1, -1};
  buf.pixels()[11 * 256] = 0x12345678;  // where x = W on row 10 would land if not skipped
  sinus_dots_step(buf.buffer());
  EXPECT_TRUE(buf.guards_intact());
  EXPECT_EQ(buf.at(0, 11), 0x12345678u);
}

TEST_F(Effects, StarFieldProjectsGreysByDepthAndWrapsBehindTheViewer) {
  Star s;
  s.x = 1;
  s.y = 0;
  s.z = 2;
  int32_t px = 0, py = 0;
  star_project(s, 256, 256, px, py);
  EXPECT_EQ(px, 160);
  EXPECT_EQ(py, 128);
  EXPECT_EQ(star_grey(1.0f), 216);
  EXPECT_EQ(star_grey(3.0f), 139);
  EXPECT_EQ(star_grey(4.5f), 82);

  star_field_init(256, 256);
  // Four draws per star, in the order x, y, z, speed.
  const int after_init = effect_random();
  effect_random_seed(1);
  for (int i = 0; i < 4 * kStars; ++i) effect_random();
  EXPECT_EQ(effect_random(), after_init);
  effect_random_seed(1);
  const int rx = effect_random(), ry = effect_random(), rz = effect_random(), rs = effect_random();
  const Star& first = star_field_state().stars[0];
  EXPECT_FLOAT_EQ(first.x, (2000 - rx % 4000) * 0.001f);
  EXPECT_FLOAT_EQ(first.y, (2000 - ry % 4000) * 0.001f);
  EXPECT_FLOAT_EQ(first.z, (rz % 4000) * 0.001f + 1.0f);
  EXPECT_FLOAT_EQ(first.speed, (rs % 2000 + 1000) * 0.00001f);

  // A star about to pass the viewer is drawn with its grey (alpha 0), then wraps to the back.
  Star& a = star_field_state().stars[0];
  a = Star{};
  a.x = 1;
  a.z = 1.005f;
  a.speed = 0.02f;
  Guarded buf(256, 256);
  star_field_step(buf.buffer());
  EXPECT_NEAR(a.z, 4.985f, 1e-5);
  int32_t ax = 0, ay = 0;
  star_project(Star{1, 0, 1.005f, 0, 0, 0}, 256, 256, ax, ay);
  EXPECT_EQ(buf.at(ax, ay), rgba_word(216, 216, 216, 0));

  // A star at x = 2, z = 1 projects onto x = W: skipped when drawn and when erased.
  Star& edge = star_field_state().stars[1];
  edge = Star{2, 2, 1, 0.0f, 0, 0};
  star_field_step(buf.buffer());
  EXPECT_EQ(edge.pixel_x, 256);
  star_field_step(buf.buffer());
  EXPECT_TRUE(buf.guards_intact());
}

TEST_F(Effects, VideoNamesItsFramesAndLoopsSkippingBadOnes) {
  std::string name;
  ASSERT_TRUE(video_frame_name("dir/anim05.tga", 3, name));
  EXPECT_EQ(name, "dir/anim3.tga");
  ASSERT_TRUE(video_frame_name("007.jpeg", 12, name));
  EXPECT_EQ(name, "12.jpeg");
  EXPECT_FALSE(video_frame_name("dir.v2/anim", 0, name));
  EXPECT_FALSE(video_frame_name("anim", 0, name));
  EXPECT_EQ(video_init(64, 64, "frames/anim", 3, true), EffectStatus::bad_frame_path);
  int w = -1, h = -1;
  EXPECT_EQ(video_next_frame(w, h), nullptr);

  // Frames 0..2 exist; frame 1 has another size, frame 3 is missing (and not wanted).
  EXPECT_EQ(log_lines().size(), 1u);
  log_clear();
  TempDir dir;
  ASSERT_TRUE(write_tga_picture(picture(4, 2, 0x100), dir.file("anim0.tga")));
  ASSERT_TRUE(write_tga_picture(picture(5, 2, 0x200), dir.file("anim1.tga")));
  ASSERT_TRUE(write_tga_picture(picture(4, 2, 0x300), dir.file("anim2.tga")));
  ASSERT_EQ(video_init(64, 64, dir.file("anim05.tga"), 3, false), EffectStatus::ok);
  const uint32_t* shown[7];
  for (auto& f : shown) f = video_next_frame(w, h);
  ASSERT_NE(shown[0], nullptr);
  EXPECT_EQ(shown[1], nullptr);  // wrong size: skipped when its turn comes
  ASSERT_NE(shown[2], nullptr);
  EXPECT_EQ(shown[3], shown[0]);  // frame 3 is never shown: the loop is 0, 1, 2
  EXPECT_EQ(shown[5], shown[2]);
  EXPECT_EQ(red_of(shown[0][0]), 0x00);  // bytes red, green, blue, 0 in memory
  EXPECT_EQ(red_of(shown[2][0]), 0x00);
  EXPECT_EQ(rgba_word(0, 3, 0, 0), shown[2][0]);
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(log_lines().size(), 1u);  // one line for the odd-sized frame

  // Flipped: the bottom row comes first. Count 0: frame 0 every time.
  ASSERT_EQ(video_init(64, 64, dir.file("anim0.tga"), 0, true), EffectStatus::ok);
  const uint32_t* f0 = video_next_frame(w, h);
  ASSERT_NE(f0, nullptr);
  EXPECT_EQ(f0[0], rgba_word(0, 1, 4, 0));  // pixel 4 of the file: 0x000104
  EXPECT_EQ(video_next_frame(w, h), f0);

  EXPECT_EQ(video_init(64, 64, dir.file("none7.tga"), 2, true), EffectStatus::no_frames);
  EXPECT_EQ(video_next_frame(w, h), nullptr);
}

TEST_F(Effects, SurfaceNamesChooseTheEffectAndTheVideoCount) {
  EffectName n = parse_effect_name("__2DEFFECT__VIDEO_24_");
  EXPECT_EQ(n.kind, EffectKind::video);
  EXPECT_EQ(n.frame_count, 24);
  EXPECT_TRUE(n.flip);
  n = parse_effect_name("__2DEFFECT__VIDEO_24__STATIC_IMAGE_");
  EXPECT_EQ(n.frame_count, 24);
  EXPECT_FALSE(n.flip);
  // An underscore right after the keyword starts the text, which holds no leading digits.
  EXPECT_EQ(parse_effect_name("__2DEFFECT__VIDEO__12_").frame_count, 0);
  EXPECT_EQ(parse_effect_name("_VIDEO_ +7x_").frame_count, 7);
  EXPECT_EQ(parse_effect_name("_VIDEO_-5_").frame_count, 0);
  n = parse_effect_name("_VIDEO_0000000000000012345_");  // 19 characters: cut at 15
  EXPECT_TRUE(n.count_cut);
  EXPECT_EQ(n.frame_count, 1);
  EXPECT_EQ(parse_effect_name("_VIDEO_99999999999999_").frame_count, 2147483647);
  // Preparation takes the star field before the video.
  EXPECT_EQ(parse_effect_name("__2DEFFECT__VIDEO_3__STARFIELD_").kind, EffectKind::star_field);
  EXPECT_EQ(parse_effect_name("_PLASMA__SINUSDOTS_").kind, EffectKind::sinus_dots);
  EXPECT_EQ(parse_effect_name("__2DEFFECT_plasma_").kind, EffectKind::none);
}

// ---- Particles --------------------------------------------------------------------------

struct Queued {
  const Triangle* triangle;
  Vertex v[3];
  int32_t key;
  int alpha;
};

void collect(void* context, const Triangle* t, Vertex* a, Vertex* b, Vertex* c, int32_t key) {
  static_cast<std::vector<Queued>*>(context)->push_back(
      {t, {*a, *b, *c}, key, t->dissolve_ref ? *t->dissolve_ref : -1});
}

struct Emitter {
  Surface surface;
  std::vector<Triangle> polygons{2};
  std::vector<Vertex> camera{{1, 2, -10}, {3, 2, -10}, {3, 5, -10}, {0, 0, 0}};
  ParticleEmitter emitter;
  explicit Emitter(const std::string& name, int16_t texture = 20) {
    surface.name = name;
    for (auto& t : polygons) t.surface = &surface, t.texture = texture;
    polygons[0].corners[0] = 0, polygons[0].corners[1] = 1, polygons[0].corners[2] = 2;
  }
  std::vector<Queued> step() {
    std::vector<Queued> out;
    particles_step(emitter, polygons[0], camera.data(), camera.size(), collect, &out);
    return out;
  }
};

TEST_F(Effects, ParticleCountsAndFlagsComeFromTheName) {
  Emitter a("__PARTICLES_40__");
  EXPECT_EQ(particles_setup(a.emitter, a.polygons), ParticleStatus::ok);
  EXPECT_EQ(a.emitter.count, 40);
  EXPECT_EQ(a.surface.name, "__PARTICLES_40");
  EXPECT_EQ(a.emitter.fall, 0);
  Emitter b("__PARTICLES_FALL_DOWNSIZE_40__");
  (void)particles_setup(b.emitter, b.polygons);
  EXPECT_EQ(b.emitter.count, 40);
  EXPECT_EQ(b.emitter.fall, 1);
  EXPECT_EQ(b.emitter.downsize, 1);
  Emitter c("__PARTICLES_40");  // the last two characters are the digits themselves
  (void)particles_setup(c.emitter, c.polygons);
  EXPECT_EQ(c.emitter.count, 0);

  log_clear();
  Emitter big("__PARTICLES_99999999999999999999__");
  EXPECT_EQ(particles_setup(big.emitter, big.polygons), ParticleStatus::clamped);
  EXPECT_EQ(big.emitter.count, kParticlePool);
  Emitter lone("__PARTICLES_10__");
  lone.polygons.resize(1);
  EXPECT_EQ(particles_setup(lone.emitter, lone.polygons), ParticleStatus::too_few_triangles);
  EXPECT_EQ(lone.emitter.count, 0);
  Emitter tiny("P");
  EXPECT_EQ(particles_setup(tiny.emitter, tiny.polygons), ParticleStatus::short_name);
  EXPECT_EQ(tiny.surface.name, "P");
  EXPECT_TRUE(tiny.step().empty());
  EXPECT_EQ(log_lines().size(), 3u);
}

TEST_F(Effects, ParticlesRespawnDrawFadeAndShareThePool) {
  Emitter e("__PARTICLES_FALL_DOWNSIZE_3__", 20);
  ASSERT_EQ(particles_setup(e.emitter, e.polygons), ParticleStatus::ok);
  auto& pool = particle_pool();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pool[i].life, -1.0f);
    EXPECT_EQ(pool[i].triangle_a.flags & TriangleFlags::PARTICLE, TriangleFlags::PARTICLE);
    EXPECT_GE(pool[i].triangle_a.texture, 20);
    EXPECT_LE(pool[i].triangle_a.texture, 30);
  }

  // Respawn draws, per particle: life, decay, fall speed, texture.
  effect_random_seed(77);
  std::vector<int> r(12);
  for (int& v : r) v = effect_random();
  effect_random_seed(77);
  std::vector<Queued> q = e.step();
  ASSERT_EQ(q.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pool[i].life, float(r[4 * i] % 255));
    EXPECT_EQ(pool[i].decay, float(r[4 * i + 1] % 20 + 1));
    EXPECT_FLOAT_EQ(pool[i].fall_speed, float((r[4 * i + 2] % 20 * 0.0001 + 0.0005) * kParticleFallScale));
    EXPECT_EQ(pool[i].triangle_a.texture, 20 + r[4 * i + 3] % 11);
    EXPECT_EQ(pool[i].triangle_b.texture, pool[i].triangle_a.texture);
    // Drawn in the frame it was born, with its life as alpha, already downsized once.
    EXPECT_EQ(q[2 * i].alpha, int(pool[i].life));
    EXPECT_FLOAT_EQ(q[2 * i].v[0].x, 1 * kParticleDownsize);
    EXPECT_FLOAT_EQ(q[2 * i].v[0].y, 2 * kParticleDownsize);
    EXPECT_FLOAT_EQ(q[2 * i + 1].v[2].x, 1 * kParticleDownsize);  // corner 3 is (x0, y2)
    EXPECT_FLOAT_EQ(q[2 * i + 1].v[2].y, 5 * kParticleDownsize);
  }
  for (const auto& item : q) {
    EXPECT_EQ(item.key, -2560);  // trunc(256 x z0) for every triangle of the frame
    EXPECT_EQ(item.v[0].z, -10.0f);
  }

  // A living particle: life 200, decay 20, falling 0.01 per frame.
  Particle& p = pool[0];
  p.life = 200;
  p.decay = 20;
  p.fall_speed = 0.01f;
  p.corners[0] = Vertex{10, -4, -7, 0, 0, 0};
  pool[1].life = 5;  // dies in this frame's first pass: not drawn
  pool[1].decay = 6;
  pool[2].life = 0;  // still alive with life 0 -> also below 0 after its decay
  pool[2].decay = 1;
  q = e.step();
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0].triangle, &p.triangle_a);
  EXPECT_EQ(q[0].alpha, 180);
  EXPECT_FLOAT_EQ(q[0].v[0].x, 10 * 0.985f);
  EXPECT_FLOAT_EQ(q[0].v[0].y, (-4 - 0.01f) * 0.985f);
  EXPECT_FLOAT_EQ(q[0].v[0].z, -7);
  // The dead ones respawn at the next step.
  EXPECT_EQ(e.step().size(), 6u);

  // A second emitter's set-up takes over the particles both use.
  Emitter other("__PARTICLES_2__", 50);
  (void)particles_setup(other.emitter, other.polygons);
  EXPECT_EQ(pool[0].triangle_a.surface, &other.surface);
  EXPECT_EQ(pool[2].triangle_a.surface, &e.surface);
  for (int i = 0; i < 2; ++i) EXPECT_GE(pool[i].triangle_a.texture, 50);
  pool[0].life = pool[1].life = -1;
  EXPECT_EQ(other.step().size(), 4u);
}

}  // namespace

namespace {

int run_orvl(const std::string& args) {
  const std::string cmd = std::string(ORVL_BINARY) + " " + args + " >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::vector<uint8_t> out;
  return read_whole_file(path, out) == FileStatus::ok ? out : std::vector<uint8_t>();
}

}  // namespace

TEST_F(Effects, EffectCommandWritesTheBufferAfterItsSteps) {
  TempDir dir;
  // Sinus dots: the PNG keeps the dots' alpha of 255 and the background's 0.
  ASSERT_EQ(run_orvl("effect sinusdots --size 64 --steps 3 --out " + dir.file("d.png") + " --raw " +
                     dir.file("d.raw")),
            0);
  std::vector<uint8_t> rgba;
  int w = 0, h = 0;
  ASSERT_TRUE(png_read_rgba(dir.file("d.png"), rgba, w, h));
  ASSERT_EQ(w, 64);
  EXPECT_EQ(rgba, file_bytes(dir.file("d.raw")));
  sinus_dots_init(64, 64);
  Guarded expected(64, 64);
  for (int i = 0; i < 3; ++i) sinus_dots_step(expected.buffer());
  EXPECT_EQ(std::memcmp(rgba.data(), expected.pixels(), rgba.size()), 0);

  // The star field starts from seed 1 in every run.
  ASSERT_EQ(run_orvl("effect starfield --size 32 --steps 2 --raw " + dir.file("s.raw")), 0);
  effect_random_seed(1);
  star_field_init(32, 32);
  Guarded stars(32, 32);
  star_field_step(stars.buffer());
  star_field_step(stars.buffer());
  const auto raw = file_bytes(dir.file("s.raw"));
  ASSERT_EQ(raw.size(), 32u * 32 * 4);
  EXPECT_EQ(std::memcmp(raw.data(), stars.pixels(), raw.size()), 0);

  // Video: step 2 shows frame 1 in the top-left corner.
  ASSERT_TRUE(write_tga_picture(picture(2, 2, 0x10), dir.file("v0.tga")));
  ASSERT_TRUE(write_tga_picture(picture(2, 2, 0x20), dir.file("v1.tga")));
  ASSERT_EQ(run_orvl("effect video --size 4 --frames " + dir.file("v0.tga") +
                     " --count 2 --static --steps 2 --raw " + dir.file("v.raw")),
            0);
  const auto video = file_bytes(dir.file("v.raw"));
  ASSERT_EQ(video.size(), 64u);
  EXPECT_EQ(video[2], 0x20);  // blue byte of pixel (0, 0) of frame 1
  EXPECT_EQ(video[4 * 4 + 2], 0x22);  // pixel (0, 1)
  EXPECT_EQ(video[4 * 3], 0);  // column 3 lies outside the 2 x 2 frame

  // Refusals: a plasma source too small, a frame path without a ".", bad arguments.
  ASSERT_TRUE(write_tga_picture(picture(8, 8, 0), dir.file("small.tga")));
  EXPECT_EQ(run_orvl("effect plasma --size 64 --source " + dir.file("small.tga") + " --out " +
                     dir.file("p.png")),
            1);
  EXPECT_FALSE(fs::exists(dir.file("p.png")));
  EXPECT_EQ(run_orvl("effect video --size 8 --frames " + dir.file("v") + " --count 2 --out " +
                     dir.file("x.png")),
            1);
  EXPECT_EQ(run_orvl("effect plasma --size 0 --source x --out y.png"), 2);
  EXPECT_EQ(run_orvl("effect sinusdots --size 8"), 2);
  EXPECT_EQ(run_orvl("effect wobble --size 8 --out y.png"), 2);
}
