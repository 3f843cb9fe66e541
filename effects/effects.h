// 2D effects: the surface-name keywords that switch them on, the four texture effects
// (plasma, sinus dots, star field, video), the particle emitters, and the one random
// generator they all draw from.
//
// Texture effects draw into a surface's effect buffer (texture_width x texture_height
// RGBA words, red first in memory) once per drawn frame; the video instead hands out a
// whole frame that the renderer uploads into the top-left corner of the texture. Each
// kind keeps ONE process-wide state shared by every surface of that kind in every scene:
// preparing a kind again replaces (and frees) what the previous preparation held, and
// two surfaces of one kind both advance the same phases, each frame.
//
// Keywords are case-sensitive substrings of the surface name. Preparation tests a name in
// the order "_STARFIELD_", "_SINUSDOTS_", "_PLASMA_", "_VIDEO_"; the frame renderer steps
// "_VIDEO_" first. A name holding two effect keywords is therefore prepared as one effect
// and stepped as another.
//
// Safety rules the algorithms keep, whatever the content:
//  - Every write and erase is clipped to the buffer it is given: a dot or star that
//    computes to x = W or y = H (or anything else outside) is skipped, both when drawn
//    and when erased. A buffer of another size than the state was prepared for is drawn
//    clipped.
//  - A plasma whose source failed to load, or holds fewer than W + 61 pixels (each row
//    reads W pixels starting 1 to 61 pixels in), does not step: its buffers keep their
//    contents. plasma_init reports why; the registry logs one line per surface.
//  - A video whose frame path has no "." in its file name is refused (no frames). Frames
//    are 0 .. N-1 of the count in the surface name (a count of 0 means the one frame 0).
//    A frame that fails to load, or whose size differs from the first frame that loaded,
//    is skipped when its turn comes (null from video_next_frame: the texture keeps its
//    previous picture). The frame count text is cut at 15 characters; counts are
//    clamped to 0 .. kMaxVideoFrames.
//  - Particle counts above the pool (4096) are clamped, and a particle object with fewer
//    than two triangles or a surface name shorter than two characters gets no particles;
//    each with one log line.
//
// No step allocates. Single-threaded (the show's thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "object/mesh.h"

namespace orvl {

struct Scene;
struct SceneObject;

// ---------------------------------------------------------------------------------------
// Scenes. The show runs particles_setup_scene after loading each scene, effects_init on
// every scene once all are loaded, and effects_free on every scene at the end (any kind
// still prepared is then released, whichever scene prepared it). effects_install_hooks
// plugs the per-frame steps into the frame renderer; without it effect surfaces keep
// their texture and particle objects draw nothing.
void effects_install_hooks();
// Gives every particle object of the scene its emitter (once; later calls skip objects
// that have one).
void particles_setup_scene(Scene& scene);
// Prepares the effect of every surface that owns an effect buffer, in object and surface
// order; the last surface of a kind defines that kind's state. Logs one line per surface
// whose effect cannot run (plasma source missing or too small, video refused or without
// frames, frame count text cut).
void effects_init(Scene& scene);
// Releases the kinds whose surfaces the scene holds.
void effects_free(Scene& scene);
// Puts everything that steps per drawn frame back where a fresh start has it, without
// loading anything again: the random sequence from seed 1, every particle dead, plasma
// phases 0, dots and stars prepared anew on cleared buffers, the video at frame 0,
// texture scrolling at 0. A viewer that seeks restarts and steps up to the target frame.
void effects_restart(Scene& scene);

// ---------------------------------------------------------------------------------------
// Random generator: s = s * 214013 + 2531011 (mod 2^32), result bits 16..30 of s (0..32767).
// Starts at seed 1 with the process; the show never reseeds it. The first draws are 41,
// 18467, 6334, 26500.
int effect_random();
// Restarts the sequence (commands start every run from 1; tests pin their draws).
void effect_random_seed(uint32_t seed);

// ---------------------------------------------------------------------------------------
// A buffer to draw into: width x height RGBA words, row 0 first.
struct EffectBuffer {
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
};

enum class [[nodiscard]] EffectStatus : int {
  ok = 0,
  source_missing = 1,     // the plasma source image could not be loaded
  source_too_small = 2,   // the plasma source holds fewer than W + 61 pixels
  bad_frame_path = 3,     // a video frame path without a "." in its file name
  no_frames = 4,          // not one video frame could be loaded
  bad_size = 5,           // width or height below 1 or above kMaxEffectSide
};
const char* effect_status_text(EffectStatus s);

constexpr int kMaxEffectSide = 8192;

// Packs RGBA bytes into a buffer word in memory order (red first).
uint32_t rgba_word(uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// Loads an image file as RGBA words (bytes red, green, blue, 0), optionally upside down.
// False (and `pixels` empty, size 0 x 0) when it cannot be read or decoded.
bool load_effect_image(const std::string& file, bool flip, PixelBuffer& pixels, int& width,
                       int& height);

// ---------------------------------------------------------------------------------------
// Plasma: every row of the buffer is a run of W source pixels, shifted by two sine waves.
struct PlasmaState {
  int32_t width = 0, height = 0;
  PixelBuffer source;  // source pixels, row after row
  float phase_sin = 0, phase_cos = 0;
};
PlasmaState& plasma_state();
// Pixels the source must hold for a buffer `width` wide.
constexpr size_t plasma_source_needed(int width) { return static_cast<size_t>(width) + 61; }
EffectStatus plasma_init(int width, int height, const std::string& source_file);
// The same with the source already in memory (RGBA words).
EffectStatus plasma_init_pixels(int width, int height, PixelBuffer source);
// True when the prepared source is large enough to step.
bool plasma_ready();
void plasma_step(EffectBuffer buffer);
void plasma_free();

// ---------------------------------------------------------------------------------------
// Sinus dots: 128 white points on a Lissajous curve that moves every frame.
constexpr int kSinusDots = 128;
struct SinusDotsState {
  int32_t width = 0, height = 0;
  std::array<std::array<int32_t, 2>, kSinusDots> dots{};  // {x, y} drawn last
  float phase_x = 0, phase_y = 0;
};
SinusDotsState& sinus_dots_state();
void sinus_dots_init(int width, int height);
// Erases the dots drawn last (in this buffer), then draws the next curve.
void sinus_dots_step(EffectBuffer buffer);

// ---------------------------------------------------------------------------------------
// Star field: 256 stars flying toward the viewer, grey by depth.
constexpr int kStars = 256;
struct Star {
  float x = 0, y = 0, z = 0, speed = 0;
  int32_t pixel_x = 0, pixel_y = 0;  // where it was drawn last
};
struct StarFieldState {
  int32_t width = 0, height = 0;
  std::array<Star, kStars> stars{};
};
StarFieldState& star_field_state();
// Draws 4 random numbers per star (x, y, z, speed).
void star_field_init(int width, int height);
void star_field_step(EffectBuffer buffer);
// Screen position of a star on a width x height buffer.
void star_project(const Star& star, int width, int height, int32_t& px, int32_t& py);
// Grey level of a star at depth z: 216 at z = 1 down to 63 near z = 5.
int star_grey(float z);

// ---------------------------------------------------------------------------------------
// Video: a numbered image sequence played into a texture, one frame per drawn frame.
constexpr int kMaxVideoFrames = 10000;
struct VideoFrame {
  PixelBuffer pixels;  // empty when the frame is skipped
  int32_t width = 0, height = 0;
};
struct VideoState {
  int32_t frame_count = 0;  // frames shown in the loop (at least 1 once prepared)
  int32_t position = 0;     // next frame to hand out
  std::vector<VideoFrame> frames;
  int32_t frame_width = 0, frame_height = 0;      // size every usable frame has
  int32_t surface_width = 0, surface_height = 0;  // kept for reference
};
VideoState& video_state();
// File name of frame k for a frame path: the path with its last "." and what follows
// removed, together with the digits right before that "."; then k in decimal; then the
// extension (from the last "." on). False when the file name part has no ".".
bool video_frame_name(const std::string& path, int k, std::string& out);
// Loads frames 0 .. max(count, 1) - 1 named after `frame_path` (upside down when `flip`).
EffectStatus video_init(int width, int height, const std::string& frame_path, int count,
                        bool flip);
// The frame at the current position (null when that frame is skipped or nothing is
// prepared), then advances the position, looping.
const uint32_t* video_next_frame(int& width, int& height);
void video_free();

// ---------------------------------------------------------------------------------------
// Surface names.
enum class EffectKind : int { none = 0, star_field = 1, sinus_dots = 2, plasma = 3, video = 4 };
constexpr size_t kMaxFrameCountText = 15;
struct EffectName {
  EffectKind kind = EffectKind::none;  // as preparation matches (first of the four)
  int frame_count = 0;                 // video: the count after "_VIDEO_"
  bool flip = true;                    // video: false when "_STATIC_IMAGE_" is present
  bool count_cut = false;              // the count text ran past 15 characters
};
// Reads a surface name the way preparation does. Owning an effect buffer is the
// caller's test ("__2DEFFECT_" surfaces have one).
EffectName parse_effect_name(const std::string& name);
// The decimal count right after "_VIDEO_" up to the next "_" (at least one character is
// taken; leading blanks and one sign allowed; 0 without digits; cut at 15 characters;
// negative counts give 0, large ones saturate).
int parse_frame_count(const std::string& name, bool* cut = nullptr);

// ---------------------------------------------------------------------------------------
// Particles: the first triangle of a particle object emits small textured quads in camera
// space that fade out, optionally shrink toward the view axis ("DOWNSIZE") and fall
// ("FALL"), and respawn when they die. All emitters share one pool of 4096.
constexpr int kParticlePool = 4096;
constexpr int kParticleTextures = 11;  // textures base .. base + 10
// Camera-space units a falling particle drops per frame are (r mod 20 x 0.0001 + 0.0005)
// times this scale, i.e. 0.075 .. 0.36 units per frame (visible in the demo at 30 fps).
constexpr float kParticleFallScale = 150.0f;
constexpr float kParticleDownsize = 0.985f;

struct Particle {
  float life = 0;  // 0 .. 254 while alive, below 0 when dead
  float decay = 0;
  float fall_speed = 0;
  std::array<Vertex, 4> corners{};
  Triangle triangle_a, triangle_b;  // copies of the object's first two triangles
  int alpha = 0;                    // both triangles' dissolve_ref point here
};
struct ParticleEmitter {
  int32_t cursor = 0;
  int32_t count = 0;
  float corners[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};  // emitter triangle, camera space
  int32_t fall = 0;
  int32_t downsize = 0;
  int16_t base_texture = 0;
};
std::array<Particle, kParticlePool>& particle_pool();

enum class [[nodiscard]] ParticleStatus : int {
  ok = 0,
  clamped = 1,        // the name asked for more than the pool; count is 4096
  too_few_triangles = 2,
  short_name = 3,     // surface name below two characters (or no surface)
};
// Reads the count and flags from the first triangle's surface name (which loses its last
// two characters), and fills particles 0 .. count - 1 with copies of the first two
// triangles. Draws one random number per particle. Logs one line when it clamps or refuses;
// a refused emitter has count 0.
ParticleStatus particles_setup(ParticleEmitter& emitter, std::vector<Triangle>& polygons);

// Kills every particle of the emitter (they are born again by the next steps).
void particles_restart(ParticleEmitter& emitter);
// Queues the living particles where they stand, moving nothing (a held frame).
void particles_queue(ParticleEmitter& emitter, void (*sink)(void*, const Triangle*, Vertex*, Vertex*, Vertex*, int32_t),
                     void* context);

// Where the step queues its triangles (the frame renderer's draw list during play).
using ParticleSink = void (*)(void* context, const Triangle* triangle, Vertex* v0, Vertex* v1,
                              Vertex* v2, int32_t key);
// One frame: moves, respawns and queues the particles. `camera` are the object's
// transformed vertices, `first` its first triangle.
void particles_step(ParticleEmitter& emitter, const Triangle& first, const Vertex* camera,
                    size_t vertex_count, ParticleSink sink, void* context);

}  // namespace orvl
