// The player of `orvl play`; see app/viewer.h.
#include "app/viewer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "effects/effects.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/png_writer.h"
#include "scene/lone_object.h"
#include "scene/lw_scene.h"

namespace orvl {

// ---------------------------------------------------------------------------------------
// Transport.

void Transport::start(uint32_t now, double length, double frame) {
  length_ms = length > 0 && std::isfinite(length) ? length : 0;
  frame_ms = frame > 0 && std::isfinite(frame) ? frame : 1000.0 / 30;
  anchor_ms = 0;
  anchor_tick = now;
}

double Transport::time(uint32_t now) const {
  if (paused) return anchor_ms;
  // Ticks wrap after 49 days: the difference of two uint32 values is still right.
  const double t = anchor_ms + double(uint32_t(now - anchor_tick)) * speed;
  return std::clamp(t, 0.0, length_ms);
}

void Transport::update(uint32_t now) {
  if (paused) return;
  const double t = anchor_ms + double(uint32_t(now - anchor_tick)) * speed;
  if (t < length_ms) return;
  if (loop && length_ms > 0) {
    anchor_ms = std::fmod(t, length_ms);
  } else {
    anchor_ms = length_ms;
    paused = true;
  }
  anchor_tick = now;
}

void Transport::seek_to(uint32_t now, double ms) {
  if (!std::isfinite(ms)) return;
  anchor_ms = std::clamp(ms, 0.0, length_ms);
  anchor_tick = now;
}

void Transport::step_frames(uint32_t now, int frames) {
  const double t = time(now);
  set_paused(now, true);
  const double whole = std::round(t / frame_ms) + frames;
  seek_to(now, whole * frame_ms);
}

void Transport::set_paused(uint32_t now, bool on) {
  anchor_ms = time(now);
  anchor_tick = now;
  paused = on;
}

void Transport::set_speed(uint32_t now, double s) {
  anchor_ms = time(now);
  anchor_tick = now;
  speed = std::clamp(s, kMinSpeed, kMaxSpeed);
}

// ---------------------------------------------------------------------------------------
// Keys.

ViewerAction viewer_action(const WindowMessage& m) {
  if (m.kind == WindowMessageKind::character) {
    // `?` lies on different keys on different layouts: its character says it.
    return m.code == '?' ? ViewerAction::key_list : ViewerAction::none;
  }
  if (m.kind != WindowMessageKind::key_down) return ViewerAction::none;
  const bool shift = (m.modifiers & KeyModifier::SHIFT) != 0;
  switch (m.code) {
    case VirtualKey::SPACE: return ViewerAction::pause;
    case VirtualKey::LEFT: return shift ? ViewerAction::seek_back_long : ViewerAction::seek_back;
    case VirtualKey::RIGHT: return shift ? ViewerAction::seek_forward_long : ViewerAction::seek_forward;
    case VirtualKey::DOWN: return ViewerAction::seek_back_long;
    case VirtualKey::UP: return ViewerAction::seek_forward_long;
    case 0xBC: return ViewerAction::frame_back;     // ,
    case 0xBE: return ViewerAction::frame_forward;  // .
    case VirtualKey::HOME: return ViewerAction::restart;
    case 'L': return ViewerAction::loop;
    case 0xDB: return ViewerAction::slower;  // [
    case 0xDD: return ViewerAction::faster;  // ]
    case 'C': return ViewerAction::free_camera;
    case 'R': return ViewerAction::scene_camera;
    case 'F': return ViewerAction::full_screen;
    case 'S': return ViewerAction::screenshot;
    case 'H': return ViewerAction::overlay;
    case VirtualKey::F1: return ViewerAction::key_list;
    case 'Q': case VirtualKey::ESCAPE: return ViewerAction::quit;
    default: return ViewerAction::none;
  }
}

// ---------------------------------------------------------------------------------------
// Free camera.

void FreeCamera::look_from(const LwMatrix& camera, const double centre[3], double scene_radius, double zoom_factor) {
  const double eye[3] = {camera.m[3], camera.m[7], camera.m[11]};
  double d[3] = {centre[0] - eye[0], centre[1] - eye[1], centre[2] - eye[2]};
  double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  radius = scene_radius > 0 && std::isfinite(scene_radius) ? scene_radius : 1;
  if (!(len > 1e-9 * radius) || !std::isfinite(len)) {
    // Standing at the centre: keep the scene camera's direction and step back.
    d[0] = camera.m[2], d[1] = camera.m[6], d[2] = camera.m[10];
    len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(len > 0)) d[0] = 0, d[1] = 0, d[2] = 1, len = 1;
    distance = 3 * radius;
  } else {
    distance = len;
  }
  for (int k = 0; k < 3; ++k) target[k] = centre[k];
  // Forward (+Z turned by heading, then pitch) is (sin h cos p, -sin p, cos h cos p).
  pitch = std::asin(std::clamp(-d[1] / len, -1.0, 1.0));
  heading = std::atan2(d[0], d[2]);
  zoom = zoom_factor > 0.01 && std::isfinite(zoom_factor) ? zoom_factor : 3.2;
  on = true;
}

void FreeCamera::orbit(double dx, double dy) {
  heading += dx * 0.01;
  pitch = std::clamp(pitch + dy * 0.01, -1.55, 1.55);
}

void FreeCamera::pan(double dx, double dy, double view_height) {
  // One pixel at the target's distance: the picture spans 2 distance / zoom vertically.
  const double unit = 2.0 * distance / (zoom * std::max(1.0, view_height));
  const LwMatrix w = world();
  for (int k = 0; k < 3; ++k) target[k] += -w.m[k * 4 + 0] * dx * unit + w.m[k * 4 + 1] * dy * unit;
}

void FreeCamera::dolly(int steps) {
  distance *= std::pow(0.85, steps);
  distance = std::clamp(distance, 1e-3 * radius, 1e4 * radius);
}

LwMatrix FreeCamera::world() const {
  const double channels[9] = {target[0], target[1], target[2], heading, pitch, 0, 1, 1, 1};
  // T(-pivot) with the pivot at +distance on Z puts the eye that far behind the target.
  const float pivot[3] = {0, 0, float(distance)};
  return lw_local_matrix(channels, pivot);
}

void scene_bounds_at(const Scene& scene, double frame, double centre[3], double& radius) {
  LwPose pose;
  lw_pose_size(scene, pose);
  centre[0] = centre[1] = centre[2] = 0;
  radius = 1;
  if (!lw_pose_at(scene, frame, pose)) return;
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  bool any = false;
  for (int i = 0; i < scene.object_count && size_t(i) < pose.object_world.size(); ++i) {
    const SceneObject& o = scene.objects[i];
    if (o.polygon_count <= 0 || o.is_morph_target || o.static_image) continue;
    const LwMatrix& w = pose.object_world[size_t(i)];
    for (const Vertex& v : o.vertices) {
      const double p[3] = {w.m[0] * v.x + w.m[1] * v.y + w.m[2] * v.z + w.m[3],
                           w.m[4] * v.x + w.m[5] * v.y + w.m[6] * v.z + w.m[7],
                           w.m[8] * v.x + w.m[9] * v.y + w.m[10] * v.z + w.m[11]};
      if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) continue;
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
      any = true;
    }
  }
  if (!any) return;
  double r2 = 0;
  for (int k = 0; k < 3; ++k) {
    centre[k] = 0.5 * (lo[k] + hi[k]);
    r2 += 0.25 * (hi[k] - lo[k]) * (hi[k] - lo[k]);
  }
  radius = std::sqrt(r2) > 0 ? std::sqrt(r2) : 1;
}

// ---------------------------------------------------------------------------------------
// Files.

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string extension_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return lower(path.substr(dot));
}

std::string stem_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? "orvl" : name;
}

}  // namespace

bool viewer_file_playable(const std::string& path, std::string& why) {
  const std::string ext = extension_of(path);
  if (ext != ".lws" && ext != ".lwo") {
    why = path + " is not a LightWave scene or object (.lws, .lwo)";
    return false;
  }
  FileStatus status = FileStatus::ok;
  const int fd = open_regular_file(resolve_data_path(path), status);
  if (fd < 0) {
    why = path + ": " + file_status_text(status);
    return false;
  }
  char head[4] = {};
  const ssize_t n = read(fd, head, sizeof head);
  (void)::close(fd);
  // An object is what the lone-object loader takes, so a drop it cannot load is refused here.
  const bool playable = ext == ".lws" ? n == 4 && std::memcmp(head, "LWSC", 4) == 0
                                      : lone_object_file_kind(path) != LoneObjectKind::none;
  if (playable) return true;
  why = path + (ext == ".lws" ? " is not a LightWave scene" : " is not a LightWave object");
  return false;
}

// ---------------------------------------------------------------------------------------
// Overlay: a 5 x 7 bitmap font (capitals; small letters are drawn as capitals), drawn as
// quads in the picture's pixels.

namespace {

// Rows top first, bit 4 the leftmost column; characters 32 ('') to 95 ('_').
const uint8_t kFont[64][7] = {
    {0, 0, 0, 0, 0, 0, 0},                          // space
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04},     // !
    {0x0A, 0x0A, 0, 0, 0, 0, 0},                    // "
    {0x0A, 0x1F, 0x0A, 0x0A, 0x1F, 0x0A, 0x00},     // #
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04},     // $
    {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},     // %
    {0x08, 0x14, 0x14, 0x08, 0x15, 0x12, 0x0D},     // &
    {0x04, 0x04, 0, 0, 0, 0, 0},                    // '
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02},     // (
    {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},     // )
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00},     // *
    {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},     // +
    {0x00, 0x00, 0x00, 0x00, 0x06, 0x02, 0x04},     // ,
    {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},     // -
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},     // .
    {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10},     // /
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},     // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},     // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},     // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},     // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},     // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},     // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},     // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},     // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},     // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},     // 9
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},     // :
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},     // ;
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02},     // <
    {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},     // =
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08},     // >
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},     // ?
    {0x0E, 0x11, 0x17, 0x15, 0x17, 0x10, 0x0E},     // @
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},     // A
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},     // B
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},     // C
    {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E},     // D
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},     // E
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},     // F
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},     // G
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},     // H
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},     // I
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},     // J
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},     // K
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},     // L
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},     // M
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},     // N
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},     // O
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},     // P
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},     // Q
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},     // R
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},     // S
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},     // T
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},     // U
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},     // V
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},     // W
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},     // X
    {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},     // Y
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},     // Z
    {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},     // [
    {0x10, 0x10, 0x08, 0x04, 0x02, 0x01, 0x01},     // backslash
    {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},     // ]
    {0x04, 0x0A, 0x11, 0, 0, 0, 0},                 // ^
    {0, 0, 0, 0, 0, 0, 0x1F},                       // _
};

const uint8_t* glyph(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') u = static_cast<unsigned char>(u - 'a' + 'A');
  if (u == '|') return kFont['!' - 32];
  if (u < 32 || u > 95) u = '?';
  return kFont[u - 32];
}

constexpr int kGlyphAdvance = 6, kLineAdvance = 9;

// Text at (x, y) (top left, picture pixels) in blocks of `px` pixels.
void draw_text(const GlApi& g, int x, int y, int px, const char* text) {
  int cx = x;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') {
      cx = x;
      y += kLineAdvance * px;
      continue;
    }
    const uint8_t* rows = glyph(*p);
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 5; ++c) {
        if (!(rows[r] & (0x10 >> c))) continue;
        const float x0 = float(cx + c * px), y0 = float(y + r * px);
        g.Vertex3f(x0, y0, 0);
        g.Vertex3f(x0 + float(px), y0, 0);
        g.Vertex3f(x0 + float(px), y0 + float(px), 0);
        g.Vertex3f(x0, y0 + float(px), 0);
      }
    cx += kGlyphAdvance * px;
  }
}

void text_extent(const char* text, int& columns, int& lines) {
  columns = 0;
  lines = 1;
  int col = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') {
      ++lines;
      col = 0;
    } else {
      columns = std::max(columns, ++col);
    }
  }
}

// A dark box with text in it.
void draw_panel(const GlApi& g, int x, int y, int px, const char* text) {
  int columns = 0, lines = 0;
  text_extent(text, columns, lines);
  const float pad = float(3 * px);
  const float x0 = float(x) - pad, y0 = float(y) - pad;
  const float x1 = float(x + columns * kGlyphAdvance * px) + pad, y1 = float(y + lines * kLineAdvance * px) + pad;
  g.Enable(GL_BLEND);
  g.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  g.Color4ub(0, 0, 0, 170);
  g.Begin(GL_QUADS);
  g.Vertex3f(x0, y0, 0);
  g.Vertex3f(x1, y0, 0);
  g.Vertex3f(x1, y1, 0);
  g.Vertex3f(x0, y1, 0);
  g.End();
  g.Disable(GL_BLEND);
  g.Color4ub(255, 255, 255, 255);
  g.Begin(GL_QUADS);
  draw_text(g, x, y, px, text);
  g.End();
}

const char kKeyList[] =
    "Space         pause / resume\n"
    "Left / Right  seek 1 s\n"
    "Shift+Left / Shift+Right, Down / Up  seek 10 s\n"
    ",  /  .       one frame back / forward (paused)\n"
    "Home          restart\n"
    "L             loop on / off\n"
    "[  /  ]       speed x0.5 / x2 (1/8 to 8)\n"
    "C             free camera on / off\n"
    "R             back to the scene camera\n"
    "F             full screen on / off\n"
    "S             screenshot\n"
    "H             overlay on / off\n"
    "?  /  F1      this key list\n"
    "Q  /  Esc     quit\n"
    "Mouse: left drag orbits, right or middle drag pans,\n"
    "       the wheel dollies (free camera)";

const char* base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path.c_str() : path.c_str() + slash + 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Player.

namespace {

// The length the player plays: where the engine's camera reaches the last frame.
double play_length_ms(const Scene& scene) {
  if (scene.motions.empty() || !(scene.motions[0].frames_per_second > 0)) return 10000.0;
  const double step = scene.motions[0].frame_step > 0 ? scene.motions[0].frame_step : 1.0;
  return scene_length_ms(scene) / step;
}

double frames_per_second(const Scene& scene) {
  return !scene.motions.empty() && scene.motions[0].frames_per_second > 0 ? scene.motions[0].frames_per_second : 30.0;
}

// Motions started so that the clock's `now` reads as media time `ms`. The last
// millisecond is never reached: there the engine's camera finishes and restarts every
// motion evaluated after it (lights, zoom) at its first frame.
void set_motion_time(Scene& scene, uint32_t now, double ms, double length) {
  const double t = std::min(ms, std::max(0.0, length - 0.5));
  float tick = static_cast<float>(double(now) - t);
  if (tick == 0.0f) tick = -1e-3f;  // 0 means "not started"
  scene_reset_motions(scene);
  scene.finished = 0;
  for (int m = 0; m < scene.motion_count && m < int(scene.motions.size()); ++m) scene.motions[m].start_tick = tick;
}

}  // namespace

double Player::media_ms() const { return transport_.time(clock_now_ms()); }

void Player::say(const std::string& text) {
  message_ = text;
  message_until_ = clock_now_ms() + 4000;
}

bool Player::open_file(const std::string& file) {
  SceneRun run = run_;
  run.file = file;
  uint32_t options = run.z_buffer ? DisplayOptions::DEPTH_BUFFER : 0;
  if (options_.full_screen) options |= DisplayOptions::FULL_SCREEN;
  if (!open_scene(run, options, scene_)) return false;
  full_screen_ = options_.full_screen;
  display_set_message_listener([this](const WindowMessage& m) { handle(m); });
  scene_loaded(run);
  return true;
}

// A dropped file in the window that is open: its size, full screen, listener and GL
// context (with the lightwave look's programs) stay as they are.
bool Player::load_file(const std::string& file) {
  SceneRun run = run_;
  run.file = file;
  if (!load_scene(run, scene_)) return false;
  scene_loaded(run);
  return true;
}

void Player::scene_loaded(const SceneRun& run) {
  run_ = run;
  settle_look(run_, scene_);
  open_ = true;
  display_set_title("orvl - " + run_.file);
  effects_restart(scene_);
  steps_done_ = 0;
  last_t_ = 0;
  camera_.on = false;
  dragging_ = false;
  // From the start, keeping pause, speed and loop.
  transport_.start(clock_now_ms(), play_length_ms(scene_), 1000.0 / frames_per_second(scene_));
}

bool Player::open(const SceneRun& run, const ViewerOptions& options) {
  close();
  run_ = run;
  options_ = options;
  overlay_ = options.overlay;
  effects_install_hooks();  // the effects step with the player's time, whoever runs it
  transport_ = Transport{};
  transport_.loop = options.loop;
  if (!open_file(run.file)) return false;
  const uint32_t now = clock_now_ms();
  started_ = now;
  fps_tick_ = now;
  frames_ = 0;
  start_music();
  return true;
}

void Player::close() {
  if (!open_) return;
  stop_music();
  close_scene(scene_);
  open_ = false;
}

void Player::drop(const std::string& path) {
  std::string why;
  if (!viewer_file_playable(path, why)) {
    say(why);
    std::fprintf(stderr, "orvl play: %s\n", why.c_str());
    return;
  }
  const std::string before = run_.file;
  // --layer / --turntable were meant for the file on the command line; a dropped scene
  // would be refused for them.
  run_.object_options_given = false;
  const uint32_t now = clock_now_ms();
  const double at = transport_.time(now);
  stop_music();
  // Texture numbers and the effects' buffers start again with every load: the scene before
  // goes first, and comes back from its file when the new one fails.
  unload_scene(scene_);
  open_ = false;
  if (load_file(path)) {
    start_music();
    say(std::string("playing ") + base_name(path));
    return;
  }
  // The new file failed (its reason is on standard error): the scene before plays on.
  if (load_file(before)) {
    transport_.seek_to(clock_now_ms(), at);
    start_music();
    music_follow(true);
  } else {
    (void)display_close();
    quit_ = true;
  }
  say(std::string(base_name(path)) + " could not be opened");
}

void Player::seek(double ms) {
  transport_.seek_to(clock_now_ms(), ms);
  restart_effects_ = true;
  music_follow(true);
}

void Player::settle_camera() {
  const double frame = transport_.time(clock_now_ms()) / transport_.frame_ms;
  LwPose pose;
  lw_pose_size(scene_, pose);
  if (!lw_pose_at(scene_, frame, pose)) pose.camera_world = LwMatrix{};
  double centre[3], radius = 1;
  scene_bounds_at(scene_, frame, centre, radius);
  camera_.look_from(pose.camera_world, centre, radius, pose.zoom);
}

void Player::handle(const WindowMessage& m) {
  if (!open_) return;
  const uint32_t now = clock_now_ms();
  switch (m.kind) {
    case WindowMessageKind::close:
    case WindowMessageKind::quit:
      quit_ = true;
      return;
    case WindowMessageKind::drop:
      // Loaded between frames, not while the display is still handing out this pass's
      // messages.
      pending_drop_ = m.path;
      return;
    case WindowMessageKind::pointer_down:
      dragging_ = true;
      return;
    case WindowMessageKind::pointer_up:
      dragging_ = false;
      return;
    case WindowMessageKind::pointer_drag: {
      if (!camera_.on) settle_camera();
      const bool left = (m.code & (1u << (PointerButton::LEFT - 1))) != 0;
      int vp[4];
      display_viewport(vp);
      if (left) camera_.orbit(m.dx, m.dy);
      else camera_.pan(m.dx, m.dy, vp[3] > 0 ? vp[3] : run_.height);
      return;
    }
    case WindowMessageKind::wheel:
      if (!camera_.on) settle_camera();
      camera_.dolly(m.dy);
      return;
    default: break;
  }
  bool seeked = false;
  switch (viewer_action(m)) {
    case ViewerAction::none: return;
    case ViewerAction::pause: {
      const bool resume = transport_.paused;
      if (resume && !transport_.loop && transport_.time(now) >= transport_.length_ms)
        transport_.seek_to(now, 0), seeked = true;
      transport_.set_paused(now, !resume);
      break;
    }
    case ViewerAction::seek_back: transport_.seek_by(now, -1000), seeked = true; break;
    case ViewerAction::seek_forward: transport_.seek_by(now, 1000), seeked = true; break;
    case ViewerAction::seek_back_long: transport_.seek_by(now, -10000), seeked = true; break;
    case ViewerAction::seek_forward_long: transport_.seek_by(now, 10000), seeked = true; break;
    case ViewerAction::frame_back: transport_.step_frames(now, -1), seeked = true; break;
    case ViewerAction::frame_forward: transport_.step_frames(now, 1), seeked = true; break;
    case ViewerAction::restart: transport_.seek_to(now, 0), seeked = true; break;
    case ViewerAction::loop:
      transport_.loop = !transport_.loop;
      say(transport_.loop ? "loop on" : "loop off");
      break;
    case ViewerAction::slower: transport_.set_speed(now, transport_.speed * 0.5); break;
    case ViewerAction::faster: transport_.set_speed(now, transport_.speed * 2); break;
    case ViewerAction::free_camera:
      if (camera_.on) camera_.on = false;
      else settle_camera();
      break;
    case ViewerAction::scene_camera: camera_.on = false; break;
    case ViewerAction::full_screen:
      if (display_set_full_screen(!full_screen_)) full_screen_ = !full_screen_;
      else say("full screen is not available on this display");
      break;
    case ViewerAction::screenshot: shot_wanted_ = true; break;
    case ViewerAction::overlay: overlay_ = !overlay_; break;
    case ViewerAction::key_list: key_list_ = !key_list_; break;
    case ViewerAction::quit: quit_ = true; break;
  }
  if (seeked) restart_effects_ = true;
  music_follow(seeked);
}

bool Player::frame() {
  if (!open_) return false;
  display_frame();
  display_pump(64);
  if (!pending_drop_.empty()) {
    const std::string path = pending_drop_;
    pending_drop_.clear();
    drop(path);
  }
  if (quit_ || stop_requested() || !open_) return false;
  const uint32_t now = clock_now_ms();
  if (options_.seconds >= 0 && double(uint32_t(now - started_)) > options_.seconds * 1000.0) return false;
  const bool was_paused = transport_.paused;
  transport_.update(now);
  const double t = transport_.time(now);
  // Back at the start after the end (the loop): the music starts again with the scene.
  const bool wrapped = !transport_.paused && !restart_effects_ && t < last_t_;
  if (transport_.paused != was_paused || wrapped) music_follow(wrapped);
  last_t_ = t;
  set_motion_time(scene_, now, t, transport_.length_ms);

  // Per-frame effects follow media time at the scene's frame rate: a seek (or a loop back to
  // the start) restarts them and steps them up to the target frame, so that every moment
  // has one picture whichever way it was reached.
  const long long target = static_cast<long long>(std::floor(t / transport_.frame_ms + 1e-9));
  long long steps = target - steps_done_;
  if (restart_effects_ || steps < 0) {
    effects_restart(scene_);
    steps = target;
    restart_effects_ = false;
  }
  steps = std::min<long long>(steps, kMaxEffectSteps);
  steps_done_ = target;

  RenderSettings settings = run_.render;
  settings.effect_steps = int(steps);
  if (camera_.on) {
    camera_world_ = camera_.world();
    settings.camera_world = &camera_world_;
    settings.camera_zoom = camera_.zoom;
  }
  scene_render_frame(scene_, ClearBits::DEPTH | ClearBits::COLOR, settings);
  ++frames_;
  if (shot_wanted_) {
    shot_wanted_ = false;
    take_screenshot();
  }
  draw_overlay();

  ++fps_frames_;
  const uint32_t since = uint32_t(now - fps_tick_);
  if (since >= 1000) {
    fps_ = fps_frames_ * 1000.0 / since;
    fps_frames_ = 0;
    fps_tick_ = now;
  }
  // A paused picture needs no more than a few passes a second on the real clock.
  if (transport_.paused && !clock_is_virtual() && !dragging_)
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  return true;
}

void Player::take_screenshot() {
  std::vector<uint8_t> rgba;
  int w = 0, h = 0;
  if (!display_read_frame(rgba, w, h)) {
    say("screenshot failed: nothing to read");
    std::fprintf(stderr, "orvl play: screenshot failed: nothing to read\n");
    return;
  }
  int vp[4];
  display_viewport(vp);
  // The picture only: rows top first, the viewport counted from the bottom.
  int x = std::clamp(vp[0], 0, w), cw = std::clamp(vp[2], 0, w - x);
  int top = std::clamp(h - (vp[1] + vp[3]), 0, h), ch = std::clamp(vp[3], 0, h - top);
  if (cw <= 0 || ch <= 0) x = 0, top = 0, cw = w, ch = h;
  std::string dir = options_.shots_dir;
  if (dir.empty()) dir = path_directory(resolve_data_path(run_.file));
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string stem = stem_of(run_.file);
  std::string path;
  char number[16];
  for (int n = 1; n < 100000; ++n) {
    std::snprintf(number, sizeof number, "-%04d.png", n);
    path = dir + stem + number;
    if (access(path.c_str(), F_OK) != 0) break;
  }
  std::string error;
  const uint8_t* first = rgba.data() + (size_t(top) * size_t(w) + size_t(x)) * 4;
  if (!png_write_frame(path, first, cw, ch, size_t(w) * 4, &error)) {
    say("screenshot not written: " + error);
    std::fprintf(stderr, "orvl play: screenshot not written: %s\n", error.c_str());
    return;
  }
  last_shot_ = path;
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  say(std::string("screenshot ") + base_name(path));
}

void Player::draw_overlay() {
  const uint32_t now = clock_now_ms();
  const bool show_message = !message_.empty() && int32_t(message_until_ - now) > 0;
  if (!overlay_ && !key_list_ && !show_message) return;
  const GlApi& g = gl();
  int vp[4];
  display_viewport(vp);
  const int w = std::max(1, vp[2]), h = std::max(1, vp[3]);
  const int px = std::max(1, h / 240);
  if (g.UseProgram) g.UseProgram(0);
  g.MatrixMode(GL_PROJECTION);
  g.PushMatrix();
  g.LoadIdentity();
  g.Ortho(0, w, h, 0, -1, 1);
  g.MatrixMode(GL_MODELVIEW);
  g.PushMatrix();
  g.LoadIdentity();
  const GLboolean depth = g.IsEnabled(GL_DEPTH_TEST);
  g.Disable(GL_DEPTH_TEST);
  g.Disable(GL_LIGHTING);
  g.Disable(GL_TEXTURE_2D);
  g.Disable(GL_CULL_FACE);
  g.Disable(GL_ALPHA_TEST);
  g.Disable(GL_FOG);
  const int margin = 6 * px;
  if (overlay_ && !key_list_) {  // the key list covers the middle: the overlay waits
    char text[1024];
    const double t = transport_.time(now);
    const double fps_scene = 1000.0 / transport_.frame_ms;
    char speed[16];
    if (transport_.speed >= 1) std::snprintf(speed, sizeof speed, "x%g", transport_.speed);
    else std::snprintf(speed, sizeof speed, "x1/%g", 1.0 / transport_.speed);
    std::snprintf(text, sizeof text,
                  "%s\n"
                  "time %.3f / %.3f s  frame %.2f\n"
                  "speed %s  %s  loop %s\n"
                  "fps %.1f\n"
                  "triangles %d  batches %d\n"
                  "look %s%s",
                  base_name(run_.file), t / 1000.0, transport_.length_ms / 1000.0, t * fps_scene / 1000.0, speed,
                  transport_.paused ? "paused" : "playing", transport_.loop ? "on" : "off", fps_,
                  frame_state().triangles, frame_state().batches, look_name(run_.render.look),
                  camera_.on ? "  free camera" : "");
    draw_panel(g, margin, margin, px, text);
  }
  if (key_list_) {
    int columns = 0, lines = 0;
    text_extent(kKeyList, columns, lines);
    const int x = std::max(margin, (w - columns * kGlyphAdvance * px) / 2);
    const int y = std::max(margin, (h - lines * kLineAdvance * px) / 2);
    draw_panel(g, x, y, px, kKeyList);
  }
  if (show_message) draw_panel(g, margin, h - margin - 7 * px, px, message_.c_str());
  if (depth) g.Enable(GL_DEPTH_TEST);
  g.MatrixMode(GL_PROJECTION);
  g.PopMatrix();
  g.MatrixMode(GL_MODELVIEW);
  g.PopMatrix();
}

void Player::attach_music(const MusicState* music, uint32_t rate) {
  music_ = music && !music->path.empty() && music->handle != 0 ? music : nullptr;
  music_rate_ = rate > 0 ? rate : 22050;
  music_paused_ = false;
  music_muted_ = false;
  music_follow(true);
}

// The music from the start, with a scene that (re)starts.
void Player::start_music() {
  music_paused_ = true;  // stopped by stop_music (or never started): play it
  music_follow(true);
}

// Pauses with the transport, moves on a seek (and on a speed change, since muted music runs
// on at its own pace), is muted at speeds other than 1.
void Player::music_follow(bool seeked) {
  if (!music_ || !sound_library_loaded()) return;
  const SoundApi& api = sound_api();
  using SetPosition = int (*)(uint32_t, int64_t);
  using SetMute = int (*)(uint32_t, int);
  static SetPosition set_position = nullptr;
  static SetMute set_mute = nullptr;
  if (!set_position) set_position = reinterpret_cast<SetPosition>(sound_library_symbol("ORVL_ChannelSetPosition"));
  if (!set_mute) set_mute = reinterpret_cast<SetMute>(sound_library_symbol("ORVL_ChannelSetMute"));
  const uint32_t h = music_->handle;
  const bool muted = transport_.speed != 1;
  if ((seeked || muted != music_muted_) && set_position) {
    const double t = transport_.time(clock_now_ms());
    (void)set_position(h, static_cast<int64_t>(t * music_rate_ / 1000.0));
  }
  if (muted != music_muted_ && set_mute) {
    (void)set_mute(h, muted ? 1 : 0);
    music_muted_ = muted;
  }
  if (transport_.paused != music_paused_) {
    if (transport_.paused) (void)api.channel_stop(h);
    else if (music_->kind == MusicKind::stream) (void)api.stream_play(h, 0, 0);
    else (void)api.music_play(h);
    music_paused_ = transport_.paused;
  }
}

// Holds the music while no scene plays; its owner frees it.
void Player::stop_music() {
  if (!music_ || !sound_library_loaded()) return;
  (void)sound_api().channel_stop(music_->handle);
  music_paused_ = true;
}

int player_run(const SceneRun& run, const ViewerOptions& options) {
  display_setup(DisplaySetup{DisplayBackend::automatic, std::max(1, options.scale), false});
  Player player;
  if (!player.open(run, options)) return 1;
  RunMusic music;
  if (!run_music_start(run, music)) {
    player.close();
    return 1;
  }
  // run_music_start opens the output as the show's Sound menu leaves it by default.
  player.attach_music(&music.state, 22050);
  const uint32_t start = clock_now_ms();
  while (player.frame()) {
  }
  const long long frames = player.frames_drawn();
  const double secs = uint32_t(clock_now_ms() - start) / 1000.0;
  player.close();
  run_music_stop(music);
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f frames per second)%s\n", frames, secs,
               secs > 0 ? frames / secs : 0.0, player.quit_asked() || stop_requested() ? ", stopped" : "");
  return stop_requested() ? stop_exit_code() : 0;
}

}  // namespace orvl
