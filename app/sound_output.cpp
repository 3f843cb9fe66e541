#include "app/sound_output.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/message_box.h"
#include "platform/file.h"
#include "platform/log.h"

namespace orvl {
namespace {

struct LoadedLibrary {
  void* handle = nullptr;
  std::string path;
  SoundApi api;

  // A process that ends without calling sound_library_release still removes its file.
  ~LoadedLibrary() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

LoadedLibrary& loaded() {
  static LoadedLibrary l;
  return l;
}

std::string temp_directory(const SoundLoadEnv& env) {
  if (!env.temp_dir.empty()) return env.temp_dir;
  const char* t = std::getenv("TMPDIR");
  if (t && *t) return t;
  return "/tmp";
}

// Creates a new file ORVxxxxxx in `dir` and writes `bytes` to it. Empty on any failure
// (then nothing is left behind).
std::string write_temporary_copy(const std::string& dir, const ResourceBytes& bytes) {
  std::string name = dir;
  if (name.back() != '/') name += '/';
  name += "ORVXXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return {};
  std::string path(buf.data());
  size_t done = 0;
  while (done < bytes.size) {
    ssize_t n = ::write(fd, bytes.data + done, bytes.size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

template <typename Fn>
bool look_up(void* lib, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(::dlsym(lib, name));
  return out != nullptr;
}

bool look_up_all(void* lib, SoundApi& api) {
  // Every pointer is called without a test later, so a library missing any one of them is
  // refused here as not loadable.
  return look_up(lib, "BASS_Init", api.init) &&
         look_up(lib, "BASS_GetDeviceDescription", api.get_device_description) &&
         look_up(lib, "BASS_GetInfo", api.get_info) &&
         look_up(lib, "BASS_GetVersion", api.get_version) &&
         look_up(lib, "BASS_Start", api.start) && look_up(lib, "BASS_Stop", api.stop) &&
         look_up(lib, "BASS_StreamCreateFile", api.stream_create_file) &&
         look_up(lib, "BASS_MusicLoad", api.music_load) &&
         look_up(lib, "BASS_MusicPlay", api.music_play) &&
         look_up(lib, "BASS_StreamPlay", api.stream_play) &&
         look_up(lib, "BASS_ChannelStop", api.channel_stop) &&
         look_up(lib, "BASS_MusicFree", api.music_free) && look_up(lib, "BASS_Free", api.free);
}

SoundLoadStatus fail(SoundLoadStatus status, const char* text, const char* title) {
  message_box_show(text, title, MessageIcon::error);
  return status;
}

}  // namespace

const char* sound_load_status_text(SoundLoadStatus s) {
  switch (s) {
    case SoundLoadStatus::ok: return "ok";
    case SoundLoadStatus::missing_resource: return "sound library resource missing";
    case SoundLoadStatus::cannot_write: return "cannot write the sound library's temporary file";
    case SoundLoadStatus::cannot_load: return "cannot load the sound library";
  }
  return "unknown sound load status";
}

SoundLoadStatus sound_library_load(const SoundLoadEnv& env) {
  LoadedLibrary& lib = loaded();
  if (lib.handle) return SoundLoadStatus::ok;

  ResourceBytes bytes = env.resource ? env.resource("IDR_BASS") : ResourceBytes{};
  if (!bytes.data || bytes.size == 0)
    return fail(SoundLoadStatus::missing_resource, "Can't get the BASS.DLL resource",
                "Critical & Internal error");

  std::string path = write_temporary_copy(temp_directory(env), bytes);
  if (path.empty()) return fail(SoundLoadStatus::cannot_write, "Can't write BASS.DLL", "Critical error");

  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  SoundApi api;
  if (!handle || !look_up_all(handle, api)) {
    if (handle) ::dlclose(handle);
    ::unlink(path.c_str());
    return fail(SoundLoadStatus::cannot_load, "Can't load BASS.DLL", "Critical error");
  }
  // Loaded: the file has done its job. Removing it now leaves nothing behind in $TMPDIR
  // however the program ends (a signal, a crash).
  ::unlink(path.c_str());
  lib.handle = handle;
  lib.path = path;
  lib.api = api;
  return SoundLoadStatus::ok;
}

void sound_library_release() {
  LoadedLibrary& lib = loaded();
  if (lib.handle) ::dlclose(lib.handle);
  lib.handle = nullptr;
  lib.path.clear();
  lib.api = SoundApi{};
}

bool sound_library_loaded() { return loaded().handle != nullptr; }
const SoundApi& sound_api() { return loaded().api; }
const std::string& sound_library_path() { return loaded().path; }
void* sound_library_symbol(const char* name) {
  return loaded().handle ? ::dlsym(loaded().handle, name) : nullptr;
}

bool sound_version_ok(const SoundApi& api) { return api.get_version() == kSoundLibraryVersion; }

bool music_path_is_stream(const std::string& path) {
  for (const char* ext : {".MP3", ".mp3", ".WAV", ".wav"})
    if (path.find(ext) != std::string::npos) return true;
  return false;
}

SoundStartResult sound_show_start(const SoundApi& api, MusicState& music,
                                  const SoundFormatChoice& format, bool show_warnings,
                                  void* owner_window, SoundDevice device) {
  const uint32_t rate = format.rate_44100 ? 44100 : 22050;
  const uint32_t flags = (format.bits_8 ? ORVL_SOUND_INIT_8BITS : 0u) | (format.mono ? ORVL_SOUND_INIT_MONO : 0u);
  log_line(std::string("Wanted sound output configuration : ") +
           (format.rate_44100 ? "44100 Khz, " : "22050 Khz, ") + (format.bits_8 ? "8 bits, " : "16 bits, ") +
           (format.mono ? "mono." : "stereo."));

  if (!sound_version_ok(api)) {
    log_line("BASS 0.8 was not loaded, incorrect internal BASS.DLL");
    if (show_warnings)
      message_box_show("BASS 0.8 was not loaded", "Incorrect internal BASS.DLL", MessageIcon::error);
    return SoundStartResult::wrong_version;
  }

  log_line("Initializing BASS.");
  music.no_sound = false;
  if (device == SoundDevice::silent) {
    (void)api.init(-2, rate, flags, owner_window);
    music.no_sound = true;
  } else if (!api.init(-1, rate, flags, owner_window)) {
    log_line("Digital sound system initilization failed, switching to NO SOUND.");
    if (show_warnings)
      message_box_show("Digital sound system initialization failed, switching to NO SOUND.",
                       "BASS 0.8 failure", MessageIcon::warning);
    (void)api.init(-2, rate, flags, owner_window);
    music.no_sound = true;
  }
  (void)api.start();

  if (music_path_is_stream(music.path)) {
    log_line("Opening stream.");
    music.kind = MusicKind::stream;
    music.handle = api.stream_create_file(0, music.path.c_str(), 0, 0, 0);
  } else {
    log_line("Loading music into memory.");
    music.kind = MusicKind::module;
    music.handle = api.music_load(0, music.path.c_str(), 0, 0, ORVL_SOUND_MUSIC_RAMP);
  }

  // On the silent device a zero handle is not worth a complaint: nothing would be heard.
  if (music.handle == 0 && !music.no_sound) {
    log_line("File not opened, switching to no sound output.");
    if (show_warnings)
      message_box_show("This file can not be opened :\n" + music.path + "\n\nSwitching to NO SOUND.",
                       "BASS 0.8 failure", MessageIcon::warning);
    (void)api.stop();
    (void)api.free();
    music.path.clear();
  }
  return SoundStartResult::ok;
}

void sound_show_play(const SoundApi& api, const MusicState& music) {
  if (music.path.empty()) return;
  if (music.kind == MusicKind::stream)
    (void)api.stream_play(music.handle, 0, 0);
  else
    (void)api.music_play(music.handle);
}

void sound_show_end(const SoundApi& api, MusicState& music) {
  log_line("Removing BASS music from memory.");
  (void)api.channel_stop(music.handle);
  (void)api.music_free(music.handle);
  log_line("Stopping BASS.");
  (void)api.stop();
  log_line("Removing BASS from memory.");
  (void)api.free();
  music.handle = 0;
}

void sound_attach_show_music(ShowHost& host, MusicState& music, const SoundFormatChoice& format,
                             bool show_warnings, void* owner_window, SoundDevice device) {
  host.music_start = [&music, format, show_warnings, owner_window, device](std::string& path) {
    if (!sound_library_loaded()) {  // nothing to play it with: the show goes on silent
      log_line("No sound library loaded: no music played.");
      path.clear();
      return true;
    }
    // Paths in the show are written the Windows way; the library opens real files.
    music.path = resolve_data_path(path);
    if (sound_show_start(sound_api(), music, format, show_warnings, owner_window, device) ==
        SoundStartResult::wrong_version)
      return false;
    if (music.path.empty()) path.clear();
    return true;
  };
  host.music_play = [&music] { sound_show_play(sound_api(), music); };
  host.music_end = [&music] {
    if (!music.path.empty()) sound_show_end(sound_api(), music);
  };
}

}  // namespace orvl
