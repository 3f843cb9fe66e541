// The player of `orvl play`: one scene (or lone object) in a window with transport keys, a
// free camera, screenshots, an overlay and dropped files, in the manner of desktop media
// players and 3D viewers.
//
// Owns: the media time of the scene on the screen (`Transport`: pause, speed, seeking,
// looping, frame steps), the viewer's own camera (`FreeCamera`), the overlay and its bitmap
// font, screenshots, and the loop that draws it all (`Player`). Called by app/cmd_play.cpp
// (`player_run`); tests and the seek benchmark drive a `Player` directly.
//
// Time. The one clock (platform/clock.h) runs; the transport turns it into media time,
//     media = anchor + (now - anchor tick) x speed     (held while paused),
// and every frame the motions are started at now - media (their start ticks), so any media
// time, fractional frames included, is exactly what the motion evaluation shows. Media time
// runs from 0 to the scene's length: its last frame at its frame rate (the camera's frame
// step counted, since the engine's scene ends when its camera does). Seeking before 0 or past
// the end clamps. At the end a looping player starts again at 0; otherwise it pauses there.
// Frame steps move by one frame of the scene's frame rate from the nearest whole frame.
//
// What steps once per drawn frame (2D-effect textures, the video, scrolling textures and the
// particles, see effects/effects.h) steps once per frame of the scene's frame rate of media
// time instead, so that it pauses and changes speed with the motions; every seek restarts it
// (effects_restart) and steps it up from 0 to the target frame, so one moment has one
// picture however it was reached (a seek costs one step per frame before the target).
// Particles caught up that way are born where their emitter stands at the target frame
// rather than at each skipped frame, so they differ from the same moment played through. The fixed show keeps its own clock (app/show.h);
// nothing here touches it.
//
// Keys (key-down messages; `?` as a character): Space pause/resume; Left/Right seek 1 s;
// Shift+Left/Right and Down/Up seek 10 s; `,` / `.` one frame back/forward (pausing first);
// Home restart; `l` loop on/off; `[` / `]` speed x0.5 / x2 from 1/8 to 8; `c` free camera
// on/off; `r` back to the scene camera; `f` full screen on/off; `s` screenshot; `h` overlay
// on/off; `?` or F1 key list; `q` / Escape quit (exit code 0). Mouse: left drag orbits the
// free camera about the scene's centre, right or middle drag pans, the wheel dollies; a drag
// switches the free camera on.
//
// Screenshots: the picture as rendered, without overlay or key list, cropped to the picture
// (letterbox borders left out), as an RGB PNG through the atomic writer, named
// STEM-NNNN.png (the first number not taken) in --shots DIR or beside the scene file; the
// path goes to standard output. A failure goes to standard error and the overlay, and the
// player goes on.
//
// Dropping a file: a .lws or .lwo (any case) whose first bytes say LightWave (LWSC, or an
// IFF FORM of LWOB / LWO2 / LWLO) replaces the scene inside the same window and GL context
// (load_scene, app/scene_run.h): the old scene's textures are freed and the new one's
// uploaded, the window keeps its size, place and full-screen state, the title names the new
// file, and it plays from 0 with the transport's speed and loop kept. Anything else, or a
// file that then fails to load, gives an overlay message and the scene before plays on
// (loaded again at its time when the new one failed).
//
// Music follows (when the run has music): paused with the transport, moved on every seek,
// muted at speeds other than 1.
//
// Nothing is allocated per frame once a scene is open (the overlay formats into fixed
// buffers); a seek allocates nothing either. Single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "app/scene_run.h"
#include "app/sound_output.h"
#include "platform/window.h"
#include "scene/lw_info.h"
#include "scene/scene.h"

namespace orvl {

// Media time from the one clock.
struct Transport {
  double length_ms = 0;          // media time runs 0 .. length_ms
  double frame_ms = 1000.0 / 30; // one frame of the scene's frame rate
  double speed = 1;              // 1/8 .. 8
  bool paused = false;
  bool loop = true;
  double anchor_ms = 0;          // media time at anchor_tick
  uint32_t anchor_tick = 0;

  void start(uint32_t now, double length, double frame);
  double time(uint32_t now) const;
  // Wraps (loop) or holds and pauses at the end; call once per frame before reading time.
  void update(uint32_t now);
  void seek_to(uint32_t now, double ms);  // clamped to 0 .. length
  void seek_by(uint32_t now, double delta_ms) { seek_to(now, time(now) + delta_ms); }
  void step_frames(uint32_t now, int frames);  // pauses, then whole frames from the nearest
  void set_paused(uint32_t now, bool on);
  void set_speed(uint32_t now, double s);  // clamped to 1/8 .. 8
};

constexpr double kMinSpeed = 0.125, kMaxSpeed = 8;

// What a key message asks for.
enum class ViewerAction : int {
  none = 0,
  pause = 1,
  seek_back = 2,
  seek_forward = 3,
  seek_back_long = 4,
  seek_forward_long = 5,
  frame_back = 6,
  frame_forward = 7,
  restart = 8,
  loop = 9,
  slower = 10,
  faster = 11,
  free_camera = 12,
  scene_camera = 13,
  full_screen = 14,
  screenshot = 15,
  overlay = 16,
  key_list = 17,
  quit = 18,
};
ViewerAction viewer_action(const WindowMessage& m);

// The viewer's own camera: looks at `target` from `distance` away, turned by heading and
// pitch (LightWave's conventions, radians), with the zoom factor of the scene camera it
// replaced. Its world matrix goes to RenderSettings::camera_world.
struct FreeCamera {
  bool on = false;
  double target[3] = {0, 0, 0};
  double distance = 10, heading = 0, pitch = 0, zoom = 3.2;
  double radius = 1;  // the scene's bounding radius: the dolly's smallest step

  // From where `camera` (a world matrix) stands, looking at `centre`.
  void look_from(const LwMatrix& camera, const double centre[3], double scene_radius, double zoom_factor);
  void orbit(double dx_pixels, double dy_pixels);
  // Moves the target so that the scene follows the pointer on a picture `view_height` high.
  void pan(double dx_pixels, double dy_pixels, double view_height);
  void dolly(int steps);
  LwMatrix world() const;
};

// Centre and radius of every drawn vertex at playback frame `frame` (LightWave's pose); a
// scene with nothing to draw gives the origin and radius 1.
void scene_bounds_at(const Scene& scene, double frame, double centre[3], double& radius);

struct ViewerOptions {
  std::string shots_dir;  // empty: beside the scene file
  bool loop = true;
  bool overlay = false;
  bool full_screen = false;
  int scale = 1;          // window size = picture size x scale
  double seconds = -1;    // end after this much clock time (not negative)
};

// Whether `path` names a file the player can play: a .lws / .lwo whose first bytes say so.
bool viewer_file_playable(const std::string& path, std::string& why);

class Player {
 public:
  Player() = default;
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  ~Player() { close(); }

  // Opens the run's file in the display (its backend as display_setup chose) and starts it
  // at media time 0; false (the reason printed) when it cannot be opened.
  bool open(const SceneRun& run, const ViewerOptions& options);
  void close();
  // One pass of the loop: ends the previous frame, takes the waiting messages, draws the
  // frame at the current media time (then the overlay). False once the player should end.
  bool frame();
  // What a message does (the display's listener calls it; tests call it directly).
  void handle(const WindowMessage& m);
  // Opens a dropped file in place of the current one (see the header comment).
  void drop(const std::string& path);
  // Seeks as the keys do (clamped; effects restart at the next frame; the music follows).
  void seek(double ms);
  // Music that follows the transport from now on (null: none): a stream or module of the
  // loaded sound library, opened and started by the caller at media time 0 on an output of
  // `rate` Hz; it must outlive the player or be detached first.
  void attach_music(const MusicState* music, uint32_t rate);

  const Transport& transport() const { return transport_; }
  Transport& transport() { return transport_; }
  double media_ms() const;
  const FreeCamera& camera() const { return camera_; }
  bool overlay_on() const { return overlay_; }
  bool key_list_on() const { return key_list_; }
  bool full_screen() const { return full_screen_; }
  bool quit_asked() const { return quit_; }
  const std::string& last_shot() const { return last_shot_; }
  const std::string& message() const { return message_; }
  const std::string& file() const { return run_.file; }
  const Scene& scene() const { return scene_; }
  // Frames drawn and effect steps taken since open.
  long long frames_drawn() const { return frames_; }
  long long effect_steps_done() const { return steps_done_; }

 private:
  void start_music();
  void music_follow(bool seeked);
  void stop_music();
  void take_screenshot();
  void draw_overlay();
  void say(const std::string& text);
  bool open_file(const std::string& file);
  bool load_file(const std::string& file);
  void scene_loaded(const SceneRun& run);
  void settle_camera();

  SceneRun run_;
  ViewerOptions options_;
  Scene scene_;
  bool open_ = false;
  Transport transport_;
  FreeCamera camera_;
  LwMatrix camera_world_;
  bool overlay_ = false, key_list_ = false, full_screen_ = false, quit_ = false;
  bool shot_wanted_ = false;
  bool restart_effects_ = false;  // a seek since the last frame
  std::string last_shot_, message_, pending_drop_;
  uint32_t message_until_ = 0;
  uint32_t started_ = 0;
  long long frames_ = 0, steps_done_ = 0;
  // Frames per second of the drawing, over the last second or so.
  uint32_t fps_tick_ = 0;
  int fps_frames_ = 0;
  double fps_ = 0;
  bool dragging_ = false;
  // The music as it was last set, to follow the transport.
  const MusicState* music_ = nullptr;
  uint32_t music_rate_ = 22050;
  bool music_paused_ = false, music_muted_ = false;
  double last_t_ = 0;
};

// `orvl play`: the player until q, Escape, a closed window, a stop signal or `seconds`.
// Returns 0, 1 when the file cannot be opened, or the stop signal's exit code.
int player_run(const SceneRun& run, const ViewerOptions& options);

}  // namespace orvl
