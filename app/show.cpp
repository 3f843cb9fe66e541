#include "app/show.h"

#include <memory>
#include <vector>

#include "effects/effects.h"
#include "object/surface_image.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/frame_renderer.h"
#include "render/gl_api.h"
#include "render/texture_upload.h"
#include "scene/precalc_file.h"

namespace orvl {

const ShowEntry kShowTable[kShowScenes] = {
    {"scene\\1vex.lws", true, 22000},  {"scene\\2vex.lws", true, 44000},
    {"scene\\3vex.lws", false, 63072}, {"scene\\4vex.lws", false, 68000},
    {"scene\\5vex.lws", false, 85000}, {"scene\\6vex.lws", true, 118000},
    {"scene\\7vex.lws", true, 140000}, {"scene\\8vex.lws", false, 151000},
};
const char* const kShowMusic = "music\\vexmarine.mp3";

const char* show_result_text(ShowResult r) {
  switch (r) {
    case ShowResult::played: return "played";
    case ShowResult::abandoned: return "abandoned (wrong sound library)";
    case ShowResult::display_failed: return "the display could not be opened";
  }
  return "unknown";
}

uint32_t show_scene_flags(const ShowSettings& s) {
  uint32_t flags = 0;
  if (s.mipmap) flags |= SceneFlags::MIPMAP;
  if (s.bilinear) flags |= SceneFlags::BILINEAR;
  if (s.z_buffer) flags |= SceneFlags::DEPTH_BUFFER;
  if (s.mode == ShowMode::build_precalc) flags |= SceneFlags::BUILD_PRECALC;
  if (s.mode != ShowMode::rendering) flags |= SceneFlags::COMMON_RENDERING;
  return flags;
}

uint32_t show_scene_duration_ms(const Scene& s) {
  if (s.motions.empty()) return 0;  // a scene that failed to parse has no timing left
  const Motion& h = s.motions[0];
  const double rate = double(h.frame_step) * h.frames_per_second;
  if (!(rate > 0) || !(h.last_frame > 0)) return 0;
  const double ms = double(h.last_frame) * 1000.0 / rate;
  return ms >= 4.0e9 ? 4000000000u : static_cast<uint32_t>(ms);
}

namespace {

// One scene to play: the fixed show's entries, or the playlist's with their ends filled in
// once the scenes are loaded.
struct PlayEntry {
  std::string path;
  bool scaled = false;
  uint32_t end_ms = 0;
};
using PlayTable = std::vector<PlayEntry>;

PlayTable play_table(const ShowSettings& settings) {
  PlayTable table;
  if (settings.playlist.empty()) {
    for (const ShowEntry& e : kShowTable) table.push_back({e.path, e.scaled, e.end_ms});
  } else {
    for (const std::string& p : settings.playlist) table.push_back({p, false, 0});
  }
  return table;
}

// An empty log line is written as a single blank, as the log list shows it.
void log_blank() { log_line(" "); }

template <typename F, typename... A>
void call(const F& f, A&&... args) {
  if (f) f(std::forward<A>(args)...);
}

using SceneList = std::vector<std::unique_ptr<Scene>>;

// The record's own destructor releases whatever scene_destroy left; one call is enough.
void destroy_scene(std::unique_ptr<Scene>& s) {
  if (!s) return;
  effects_free(*s);  // whatever a failed start prepared goes with it
  scene_destroy(*s);
  s.reset();
}

void destroy_scenes(SceneList& scenes) {
  for (auto& s : scenes) destroy_scene(s);
}

// A scene that failed to load has no tables left: its slot shows the cleared backdrop.
void present_cleared(const ShowSettings& settings) {
  const GlApi& g = gl();
  g.ClearColor(0, 0, 0, 1);
  g.Clear(GL_COLOR_BUFFER_BIT | (settings.z_buffer ? GL_DEPTH_BUFFER_BIT : 0));
}

// Writes the settings to the log; returns the colour depth the display is opened with.
int log_settings(const ShowSettings& settings) {
  log_clear();
  log_line("ORVL states :");
  log_line("Newtek LightWave 5.X root path : " + settings.lightwave_root);
  log_blank();
  log_line("OpenGL states :");
  log_line(settings.mipmap ? "Using mipmap." : "Not using mipmap.");
  log_line(settings.bilinear ? "Using a Bilinear filter." : "Not using a Bilinear filter.");
  log_line(settings.z_buffer ? "Using a Z-Buffer." : "Not using a Z-Buffer.");
  log_line(settings.wait_vsync ? "Waiting for vertical synchronisation while rendering."
                               : "Not waiting for vertical synchronisation while rendering.");
  int mode_w = settings.mode_width, mode_h = settings.mode_height, bpp = settings.mode_bpp;
  if (!settings.mode_selected) {
    mode_w = kShowWidth;
    mode_h = kShowHeight;
    bpp = settings.desktop_bpp;
    log_line("No display mode selected: using " + std::to_string(mode_w) + " x " + std::to_string(mode_h) +
             " at the desktop's " + std::to_string(bpp) + " bpp.");
  }
  log_line("Wanted resolution : " + std::to_string(mode_w) + " x " + std::to_string(mode_h) + " (" +
           std::to_string(bpp) + " bpp) " + (settings.full_screen ? "(fullscreen)" : "(windowed)"));
  return bpp;
}

// Loads the scenes of the table; a scene that fails keeps its slot with `loaded` = 0. A
// playlist's end moments follow from each scene's own length, one after the other.
SceneList load_scenes(const ShowSettings& settings, ShowHost& host, PlayTable& table) {
  const int count = static_cast<int>(table.size());
  const uint32_t flags = show_scene_flags(settings);
  const int precalc_step = settings.precalc_step_index + 1;
  log_blank();
  call(host.remember_track_bar, settings.track_bar_position);
  log_line(std::to_string(count) + " scenes to load :");

  // Whatever mode was chosen, the scenes are made for 640 x 480; only the depth stays.
  reset_texture_counter();
  call(host.control_window_repaint);
  log_blank();
  log_line("Scene index : 1");
  log_line("Path : " + table[0].path);

  SceneList scenes(count);
  uint32_t playlist_end = 0;
  for (int k = 0; k < count; ++k) {
    call(host.loading_progress, k + 1, count, table[k].path);
    scenes[k] = std::make_unique<Scene>();
    Scene& s = *scenes[k];
    scene_construct(s);
    (void)scene_configure(s, flags, kShowWidth, kShowHeight, settings.max_texture_size, precalc_step);
    scene_set_lightwave_root(s, settings.lightwave_root);
    // The status is not examined: a scene that failed keeps its slot (loaded = 0).
    (void)scene_load(s, table[k].path);
    particles_setup_scene(s);
    if (table[k].scaled) scene_scale(s, kShowScale);
    if (!settings.playlist.empty()) table[k].end_ms = playlist_end += show_scene_duration_ms(s);
  }
  return scenes;
}

// One warning box naming every scene whose file was built for another output size.
void warn_other_sizes(ShowHost& host, const SceneList& scenes) {
  std::string which;
  for (const auto& s : scenes)
    if (s->precalc.precalc_resolution_differs) which += "\n" + s->path;
  if (which.empty()) return;
  call(host.message_box,
       "These scenes have a precalculation file built for another resolution than " + std::to_string(kShowWidth) +
           " x " + std::to_string(kShowHeight) + "; they play without it:" + which,
       std::string("Precalculation file"), MessageKind::warning);
}

// Opens the music unless building the precalculation; false: the show is abandoned.
bool start_music(std::string& music, bool precalc, ShowHost& host) {
  log_blank();
  if (music.empty() || precalc) {
    log_line("No music played.");
    return true;
  }
  log_line("Wanted played music while rendering : " + music);
  return !host.music_start || host.music_start(music);
}

// Opens the output: the precalculation dialog, or the display window with the textures
// uploaded and the music playing. False (scenes already destroyed): the window failed.
bool open_output(const ShowSettings& settings, ShowHost& host, int bpp, SceneList& scenes,
                 const std::string& music, int& stop) {
  if (settings.mode == ShowMode::build_precalc) {
    call(host.precalc_dialog_open, std::string("Wait while building precalculation file ...."));
    return true;
  }
  log_line("Initializing OpenGL internal library.");
  display_reset();
  display_bind_key(kEscapeKey, &stop, kKeyBindingQuit);
  call(host.close_splash);
  log_line("Creating OpenGL output window.");
  uint32_t display_options = 0;
  if (settings.full_screen) display_options |= DisplayOptions::FULL_SCREEN;
  if (settings.z_buffer) display_options |= DisplayOptions::DEPTH_BUFFER;
  if (settings.wait_vsync) display_options |= DisplayOptions::WAIT_VSYNC;
  const DisplayResult r = display_open(display_options, kShowWidth, kShowHeight, bpp, 0, 0, 0, "ORVL output window");
  if (r == DisplayResult::no_pixel_format) {
    log_line("Removing scenes from memory.");
    destroy_scenes(scenes);
    log_line("8bpp desktop video mode not supported.");
    call(host.message_box,
         std::string("Your desktop configuration must be surely set to a 8 bits video mode.\nPlease use higher video mode."),
         std::string("OpenGL window initialization failure"), MessageKind::error);
    call(host.control_window_focus);
    return false;
  }
  if (r != DisplayResult::ok) {
    log_line("Removing scenes from memory.");
    destroy_scenes(scenes);
    call(host.message_box, std::string("Please verify your OpenGL installation (perhaps a DLL problem)."),
         std::string("OpenGL window initialization failure"), MessageKind::error);
    delete_textures();
    call(host.control_window_focus);
    return false;
  }
  log_line("Uploading textures to OpenGL.");
  for (auto& s : scenes) upload_textures(*s);
  if (!music.empty()) call(host.music_play);
  return true;
}

// Announces the first scene, then shows each scene until its end moment on one clock.
// Returns how many scenes got at least one frame.
int play(const ShowSettings& settings, ShowHost& host, SceneList& scenes, const PlayTable& table,
         const int& stop) {
  const bool precalc = settings.mode == ShowMode::build_precalc;
  log_blank();
  const std::string first_path = scenes[0]->path;
  if (precalc) {
    log_line("Start Rendering :");
    call(host.precalc_dialog_scene, first_path);
    log_line("Start Precalculating.");
    log_line(first_path);
  } else {
    log_line(settings.mode == ShowMode::common_rendering ? "Start Common Rendering :" : "Start Rendering :");
    call(host.control_window_enable, false);
    std::string title;
    if (settings.mode == ShowMode::common_rendering)
      title = "Common buffer used";
    else
      title = first_path + (scenes[0]->precalc.visibility.empty() ? "" : " (precalculated)");
    display_set_title(title);
    log_line(title);
  }

  // Building: the recorder writes each scene's file right after its last frame.
  auto* const saved_recorder = frame_hooks().precalc_record_frame;
  if (precalc) frame_hooks().precalc_record_frame = precalc_record_frame;
  int shown = 0;
  bool stopped = false;
  const uint32_t t0 = clock_now_ms();
  const int count = static_cast<int>(scenes.size());
  for (int k = 0; k < count; ++k) {
    Scene& s = *scenes[k];
    scene_reset_motions(s);
    const uint32_t end = t0 + table[k].end_ms;
    if (clock_now_ms() < end) {  // else an overrun: this scene's moment has passed
      ++shown;
      bool go_on = true;
      do {
        if (!precalc) display_frame();
        go_on = stop == 0;
        if (s.loaded) {
          scene_render_frame(s, ClearBits::DEPTH | ClearBits::COLOR, settings.render);
          if (precalc) call(host.precalc_progress, k, s.progress);
        } else if (!precalc) {
          present_cleared(settings);
        }
        call(host.after_frame, k, static_cast<const Scene&>(s));
        // A finished recording has nothing left to do in the rest of its slot.
      } while (go_on && clock_now_ms() < end && !(precalc && s.precalc.precalc_started && !s.precalc.precalc_open));
      stopped = !go_on;
    }
    if (precalc) {
      (void)precalc_abandon(s);  // the slot ended before the last frame: no file
      call(host.precalc_result, k, s.path, s.precalc.precalc_outcome == 1);
    }
    if (stopped) {
      // The remaining scenes are skipped; in building mode they are reported as not built.
      for (int rest = k + 1; precalc && rest < count; ++rest)
        call(host.precalc_result, rest, scenes[rest]->path, false);
      break;
    }
  }
  frame_hooks().precalc_record_frame = saved_recorder;
  return shown;
}

void tear_down(bool precalc, ShowHost& host, SceneList& scenes, const std::string& music) {
  log_blank();
  log_line("Removing 2D effects from memory.");
  // Every scene's: an effect kind prepared only for a later scene would otherwise stay.
  for (auto& s : scenes)
    if (s) effects_free(*s);

  if (precalc) {
    call(host.precalc_dialog_close);
  } else {
    if (!music.empty()) call(host.music_end);
    log_line("Removing OpenGL textures from memory.");
    delete_textures();
    log_line("Removing OpenGL internal library from memory.");
    (void)display_close();
  }

  for (size_t i = 0; i < scenes.size(); ++i) {
    log_line("Removing " + scenes[i]->path + " from memory (scene index : " + std::to_string(i) + ").");
    destroy_scene(scenes[i]);
  }
}

}  // namespace

ShowResult show_run(const ShowSettings& settings, ShowHost& host, int* scenes_shown) {
  if (scenes_shown) *scenes_shown = 0;
  const bool precalc = settings.mode == ShowMode::build_precalc;

  call(host.loading_open, std::string("Wait while loading and precalculating ...."));
  const int bpp = log_settings(settings);
  PlayTable table = play_table(settings);
  SceneList scenes = load_scenes(settings, host, table);

  std::string music = settings.playlist.empty() ? std::string(kShowMusic) : settings.playlist_music;
  if (!start_music(music, precalc, host)) {
    destroy_scenes(scenes);
    call(host.loading_close);
    call(host.control_window_focus);
    return ShowResult::abandoned;
  }

  if (!precalc && settings.warn_resolution_mismatch) warn_other_sizes(host, scenes);

  log_blank();
  log_line("Initializing 2D effects.");
  effects_install_hooks();
  for (auto& s : scenes) effects_init(*s);
  log_blank();
  call(host.loading_close);

  int stop = 0;
  if (!open_output(settings, host, bpp, scenes, music, stop)) return ShowResult::display_failed;
  const int shown = play(settings, host, scenes, table, stop);
  if (scenes_shown) *scenes_shown = shown;
  tear_down(precalc, host, scenes, music);
  return ShowResult::played;
}

}  // namespace orvl
