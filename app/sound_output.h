// Sound output: the sound library's life in the process and the show's use of it.
//
// Start-up (sound_library_load) takes the library out of the program's "IDR_BASS" resource,
// writes it to a fresh temporary file named ORV* in the temporary directory ($TMPDIR, else
// /tmp), loads it with dlopen and looks its 13 entry points up by name into a SoundApi
// table. Each failure shows its critical message box and returns a status; the caller then
// ends the process with kSoundLoadFailureExitCode. The file is deleted as soon as dlopen
// has loaded it, so nothing is left in the temporary directory however the process ends;
// sound_library_release (exit) unloads the library.
//
// The show sequencer drives the music with sound_show_start / sound_show_play /
// sound_show_end on a MusicState it owns; every step writes its log line, and the warning
// boxes appear only when the caller says warnings are shown. These take the SoundApi to
// use, so tests can drive them with a recording table instead of the real library.
#pragma once

#include <cstdint>
#include <string>

#include "app/resources.h"
#include "app/show.h"
#include "platform/sound/orvl_sound.h"

namespace orvl {

// The entry points, as looked up by name. All are non-null in a loaded table.
struct SoundApi {
  decltype(&BASS_Init) init = nullptr;
  decltype(&BASS_GetDeviceDescription) get_device_description = nullptr;
  decltype(&BASS_GetInfo) get_info = nullptr;
  decltype(&BASS_GetVersion) get_version = nullptr;
  decltype(&BASS_Start) start = nullptr;
  decltype(&BASS_Stop) stop = nullptr;
  decltype(&BASS_StreamCreateFile) stream_create_file = nullptr;
  decltype(&BASS_MusicLoad) music_load = nullptr;
  decltype(&BASS_MusicPlay) music_play = nullptr;
  decltype(&BASS_StreamPlay) stream_play = nullptr;
  decltype(&BASS_ChannelStop) channel_stop = nullptr;
  decltype(&BASS_MusicFree) music_free = nullptr;
  decltype(&BASS_Free) free = nullptr;
};

enum class [[nodiscard]] SoundLoadStatus : int {
  ok = 0,
  missing_resource = 1,  // no "IDR_BASS" resource, or an empty one
  cannot_write = 2,      // the temporary file could not be created or written
  cannot_load = 3,       // dlopen refused the file, or an entry point is missing
};
const char* sound_load_status_text(SoundLoadStatus s);

// The process exit code after a failed load: the user has seen the message box, so the
// program leaves quietly rather than reporting an error to whatever started it.
constexpr int kSoundLoadFailureExitCode = 0;

// The only version of the library the program works with.
constexpr uint32_t kSoundLibraryVersion = 0x80000;

struct SoundLoadEnv {
  ResourceProvider resource = find_resource;
  std::string temp_dir;  // empty: $TMPDIR when set and non-empty, else /tmp
};

// Loads the library (once; a second call while loaded returns ok and changes nothing).
SoundLoadStatus sound_library_load(const SoundLoadEnv& env = {});
// Unloads the library (its temporary file was deleted as soon as it was loaded); nothing
// when not loaded.
void sound_library_release();
bool sound_library_loaded();
// The table of the loaded library (all null when not loaded).
const SoundApi& sound_api();
// Where the loaded library was written, the name it is loaded under (the file itself is
// already gone; empty when not loaded).
const std::string& sound_library_path();
// Any other symbol of the loaded library (its diagnostics), or null.
void* sound_library_symbol(const char* name);

bool sound_version_ok(const SoundApi& api);

enum class MusicKind : int { stream = 0, module = 1 };

// The show's music, owned by the sequencer for one run.
struct MusicState {
  std::string path;  // empty: no music
  MusicKind kind = MusicKind::stream;
  uint32_t handle = 0;
  bool no_sound = false;  // the device failed and the silent device stands in
};

// The Sound menu's three check marks; all unchecked gives 22050 Hz, 16 bits, stereo.
struct SoundFormatChoice {
  bool rate_44100 = false;
  bool bits_8 = false;
  bool mono = false;
};

// True when `path` contains ".MP3", ".mp3", ".WAV" or ".wav" anywhere (other spellings of
// the extension, such as ".Mp3", are modules).
bool music_path_is_stream(const std::string& path);

enum class [[nodiscard]] SoundStartResult : int {
  ok = 0,             // music opened, or dropped after an open failure (path then empty)
  wrong_version = 1,  // the library is not the expected version: the show is abandoned
};

// Which output sound_show_start opens: the default device (the silent one standing in
// when it fails), or the silent one directly, without probing the real devices.
enum class SoundDevice : int { automatic = 0, silent = 1 };

// Opens the output and the music of `music.path` (which must be set).
SoundStartResult sound_show_start(const SoundApi& api, MusicState& music,
                                  const SoundFormatChoice& format, bool show_warnings,
                                  void* owner_window = nullptr,
                                  SoundDevice device = SoundDevice::automatic);
// Starts the music when music.path is still set.
void sound_show_play(const SoundApi& api, const MusicState& music);
// Stops and frees the music and the output (for a show whose music path is set).
void sound_show_end(const SoundApi& api, MusicState& music);

// Gives the show its music steps (music_start, music_play, music_end) on `music`, which
// must outlive the show: the show's Windows-style music path is resolved to a real file,
// and without a loaded sound library the show plays silent.
void sound_attach_show_music(ShowHost& host, MusicState& music, const SoundFormatChoice& format,
                             bool show_warnings, void* owner_window, SoundDevice device);

}  // namespace orvl
