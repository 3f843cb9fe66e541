// The sound library's device, channel table and mixer, and its C entry points.
//
// One device at a time. Its mix runs on another thread: SDL's audio callback for a real
// output, or our own clock thread for the silent device, which mixes at the same pace and
// throws the result away so that channels advance and end exactly as they would audibly.
//
// Locking: `g_api` serialises the entry points; `g_mix` guards what the mixing thread reads
// (channel table, run flag). SDL is never called with `g_mix` held, because SDL holds its
// own device lock while it runs our callback, which then takes `g_mix`.
#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound/orvl_sound.h"
#include "platform/sound/sources.h"

namespace orvl::sound {
namespace {

constexpr uint32_t kMinRate = 4000;
constexpr uint32_t kMaxRate = 96000;
// A music file is read whole; this is far above any real track and keeps a bad length
// from exhausting memory.
constexpr size_t kMaxFileBytes = size_t(1) << 30;
constexpr int kSilentDevice = -2;
constexpr int kDefaultDevice = -1;

struct Channel {
  std::unique_ptr<Source> source;
  bool is_module = false;
  bool playing = false;
  bool loop = false;
  bool muted = false;
  int64_t frames = 0;  // mixed so far, at the device rate
};

struct Device {
  bool open = false;
  bool silent = false;
  bool running = false;  // between BASS_Start and BASS_Stop
  uint32_t rate = 0;
  bool mono = false;
  bool bits8 = false;
  SDL_AudioDeviceID sdl = 0;
  size_t block_frames = 0;
  std::vector<int32_t> mix;      // block_frames stereo frames
  std::vector<int16_t> scratch;  // one channel's block
  std::vector<uint8_t> discard;  // the silent device's output block
  std::map<uint32_t, Channel> channels;
  uint32_t next_handle = 1;
  std::thread clock;
  bool clock_quit = false;
};

std::mutex g_api;
std::mutex g_mix;
std::condition_variable g_clock_wake;
Device g_dev;

size_t output_frame_bytes() { return (g_dev.bits8 ? 1u : 2u) * (g_dev.mono ? 1u : 2u); }

// Mixes `frames` (at most one block) of every playing channel into `out` in the device's
// output format. Caller holds g_mix.
void mix_block(uint8_t* out, size_t frames) {
  int32_t* mix = g_dev.mix.data();
  std::fill(mix, mix + frames * 2, 0);
  int16_t* scratch = g_dev.scratch.data();
  for (auto& entry : g_dev.channels) {
    Channel& ch = entry.second;
    if (!ch.playing) continue;
    size_t got = 0;
    bool rewound_without_progress = false;
    while (got < frames) {
      size_t n = ch.source->read(scratch + got * 2, frames - got);
      got += n;
      if (got == frames) break;
      // The end: a looping channel starts again (once per block if the source is empty).
      if (ch.loop && !(n == 0 && rewound_without_progress) && ch.source->rewind()) {
        rewound_without_progress = n == 0;
        ch.frames = 0;
        continue;
      }
      ch.playing = false;
      break;
    }
    if (!ch.muted)
      for (size_t i = 0; i < got * 2; ++i) mix[i] += scratch[i];
    ch.frames += static_cast<int64_t>(got);
  }

  auto clamp16 = [](int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767)); };
  if (!g_dev.bits8 && !g_dev.mono) {
    auto* o = reinterpret_cast<int16_t*>(out);
    for (size_t i = 0; i < frames * 2; ++i) o[i] = clamp16(mix[i]);
  } else if (!g_dev.bits8) {
    auto* o = reinterpret_cast<int16_t*>(out);
    for (size_t i = 0; i < frames; ++i) o[i] = clamp16((mix[2 * i] + mix[2 * i + 1]) / 2);
  } else if (!g_dev.mono) {
    for (size_t i = 0; i < frames * 2; ++i) out[i] = static_cast<uint8_t>((clamp16(mix[i]) >> 8) + 128);
  } else {
    for (size_t i = 0; i < frames; ++i)
      out[i] = static_cast<uint8_t>((clamp16((mix[2 * i] + mix[2 * i + 1]) / 2) >> 8) + 128);
  }
}

void mix_output(uint8_t* out, size_t frames) {
  const size_t fb = output_frame_bytes();
  while (frames > 0) {
    size_t n = std::min(frames, g_dev.block_frames);
    mix_block(out, n);
    out += n * fb;
    frames -= n;
  }
}

void SDLCALL sdl_callback(void*, Uint8* stream, int len) {
  std::lock_guard<std::mutex> lock(g_mix);
  mix_output(stream, static_cast<size_t>(len) / output_frame_bytes());
}

// The silent device: wakes every 10 ms and mixes the frames the elapsed time is worth.
void silent_clock() {
  using clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(g_mix);
  auto last = clock::now();
  uint64_t owed_ns = 0;  // time not yet turned into whole frames
  while (!g_dev.clock_quit) {
    g_clock_wake.wait_for(lock, std::chrono::milliseconds(10));
    auto now = clock::now();
    uint64_t elapsed = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - last).count());
    last = now;
    if (!g_dev.running) {
      owed_ns = 0;
      continue;
    }
    owed_ns += elapsed;
    uint64_t frames = owed_ns * g_dev.rate / 1000000000u;
    owed_ns -= frames * 1000000000u / g_dev.rate;
    // After a long stall (a suspended machine, a stopped debugger) a real device does not
    // catch up either; skipping the backlog also keeps the lock from being held for ages.
    if (frames > g_dev.rate / 2) {
      frames = g_dev.rate / 2;
      owed_ns = 0;
    }
    while (frames > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(frames, g_dev.block_frames));
      mix_block(g_dev.discard.data(), n);
      frames -= n;
    }
  }
}

bool read_source_bytes(int in_memory, const void* file, uint32_t offset, uint32_t length,
                       std::vector<uint8_t>& out) {
  if (!file) return false;
  if (in_memory) {
    // Memory has no size of its own: the caller must say how much there is.
    if (length == 0) return false;
    const auto* p = static_cast<const uint8_t*>(file) + offset;
    out.assign(p, p + length);
    return true;
  }
  // Opened without blocking and refused unless regular: a FIFO or a device would hang
  // the caller (the show waits for its music to open).
  const int fd = ::open(static_cast<const char*>(file), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return false;
  }
  bool ok = false;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long size = std::ftell(f);
    if (size >= 0 && static_cast<uint64_t>(size) >= offset) {
      uint64_t avail = static_cast<uint64_t>(size) - offset;
      uint64_t want = length == 0 ? avail : length;
      if (want <= avail && want > 0 && want <= kMaxFileBytes &&
          std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
        out.resize(static_cast<size_t>(want));
        ok = std::fread(out.data(), 1, out.size(), f) == out.size();
      }
    }
  }
  std::fclose(f);
  return ok;
}

uint32_t add_channel(std::unique_ptr<Source> source, bool is_module, bool loop) {
  if (!source) return 0;
  std::lock_guard<std::mutex> lock(g_mix);
  if (g_dev.next_handle == 0) return 0;  // 2^32 - 1 channels opened: out of handles
  uint32_t handle = g_dev.next_handle++;
  Channel& ch = g_dev.channels[handle];
  ch.source = std::move(source);
  ch.is_module = is_module;
  ch.loop = loop;
  return handle;
}

std::string g_description;

template <typename F>
auto guarded(F f, decltype(f()) on_error) noexcept -> decltype(f()) {
  try {
    std::lock_guard<std::mutex> lock(g_api);
    return f();
  } catch (...) {
    return on_error;
  }
}

void close_device() {
  if (!g_dev.open) return;
  if (g_dev.silent) {
    {
      std::lock_guard<std::mutex> lock(g_mix);
      g_dev.clock_quit = true;
    }
    g_clock_wake.notify_all();
    if (g_dev.clock.joinable()) g_dev.clock.join();
  } else {
    SDL_CloseAudioDevice(g_dev.sdl);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  std::lock_guard<std::mutex> lock(g_mix);
  g_dev.channels.clear();
  g_dev.open = false;
  g_dev.running = false;
  g_dev.sdl = 0;
}

// A host that exits or unloads the library with the device still open must not leave the
// clock thread running (a joinable std::thread at exit would terminate the process).
struct CloseAtExit {
  ~CloseAtExit() { close_device(); }
} g_close_at_exit;

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints a page of configuration errors on a machine without a sound card before SDL
// gets to report the failure; the caller already turns that failure into one log line.
// The library is looked up, not linked: a machine without ALSA simply skips this.
void quiet_alsa_errors() {
  static bool done = false;
  if (done) return;
  done = true;
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (!alsa) alsa = ::dlopen("libasound.so.2", RTLD_NOW);
  if (!alsa) return;
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetHandler = int (*)(Handler);
  auto set = reinterpret_cast<SetHandler>(::dlsym(alsa, "snd_lib_error_set_handler"));
  if (set) set(ignore_alsa_error);
  // Stays loaded: SDL's ALSA backend uses this same instance.
}

int init_device(int device, uint32_t rate, uint32_t flags) {
  if (g_dev.open) return 0;
  if (rate < kMinRate || rate > kMaxRate) return 0;
  if (device != kSilentDevice && device != kDefaultDevice && device < 1) return 0;

  const bool bits8 = (flags & ORVL_SOUND_INIT_8BITS) != 0;
  const bool mono = (flags & ORVL_SOUND_INIT_MONO) != 0;
  // About 25-50 ms per block: short enough for prompt starts, long enough not to underrun.
  const size_t block = rate > 24000 ? 2048 : 1024;

  SDL_AudioDeviceID id = 0;
  size_t block_frames = block;
  if (device != kSilentDevice) {
    quiet_alsa_errors();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    const char* name = nullptr;
    if (device >= 1) {
      name = SDL_GetAudioDeviceName(device - 1, 0);
      if (!name) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 0;
      }
    }
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(rate);
    want.format = bits8 ? AUDIO_U8 : AUDIO_S16SYS;
    want.channels = mono ? 1 : 2;
    want.samples = static_cast<Uint16>(block);
    want.callback = sdl_callback;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts to whatever the hardware wants, so the callback
    // always sees exactly the format asked for.
    id = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (id == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return 0;
    }
    block_frames = std::max<size_t>(block, have.samples);
  }

  {
    std::lock_guard<std::mutex> lock(g_mix);
    g_dev.open = true;
    g_dev.silent = device == kSilentDevice;
    g_dev.running = false;
    g_dev.rate = rate;
    g_dev.mono = mono;
    g_dev.bits8 = bits8;
    g_dev.sdl = id;
    g_dev.block_frames = block_frames;
    g_dev.mix.assign(block_frames * 2, 0);
    g_dev.scratch.assign(block_frames * 2, 0);
    g_dev.discard.assign(block_frames * 4, 0);
    g_dev.clock_quit = false;
  }
  if (g_dev.silent) g_dev.clock = std::thread(silent_clock);
  return 1;
}

int set_running(bool run) {
  if (!g_dev.open) return 0;
  {
    std::lock_guard<std::mutex> lock(g_mix);
    g_dev.running = run;
  }
  if (!g_dev.silent) SDL_PauseAudioDevice(g_dev.sdl, run ? 0 : 1);
  return 1;
}

uint32_t open_channel(int in_memory, const void* file, uint32_t offset, uint32_t length,
                      uint32_t flags, bool module) {
  if (!g_dev.open) return 0;
  std::vector<uint8_t> data;
  if (!read_source_bytes(in_memory, file, offset, length, data)) return 0;
  const int rate = static_cast<int>(g_dev.rate);
  std::unique_ptr<Source> source;
  if (module) {
    source = open_module(std::move(data), rate, (flags & ORVL_SOUND_MUSIC_RAMP) != 0);
  } else if (looks_like_wav(data)) {
    source = open_wav(std::move(data), rate);
  } else {
    source = open_mp3(std::move(data), rate);
  }
  return add_channel(std::move(source), module, (flags & ORVL_SOUND_LOOP) != 0);
}

int play_channel(uint32_t handle, bool module, bool flush, uint32_t flags) {
  std::lock_guard<std::mutex> lock(g_mix);
  auto it = g_dev.channels.find(handle);
  if (it == g_dev.channels.end() || it->second.is_module != module) return 0;
  Channel& ch = it->second;
  if (flush) {
    if (!ch.source->rewind()) return 0;
    ch.frames = 0;
  }
  if (flags & ORVL_SOUND_LOOP) ch.loop = true;
  ch.playing = true;
  return 1;
}

}  // namespace
}  // namespace orvl::sound

using namespace orvl::sound;

extern "C" {

int BASS_Init(int device, uint32_t rate, uint32_t flags, void*) {
  return guarded([&] { return init_device(device, rate, flags); }, 0);
}

int BASS_GetDeviceDescription(int device, const char** description) {
  return guarded(
      [&]() -> int {
        if (!description) return 0;
        if (device == kSilentDevice) {
          g_description = "No sound (silent device)";
        } else if (device == kDefaultDevice) {
          const char* driver = SDL_WasInit(SDL_INIT_AUDIO) ? SDL_GetCurrentAudioDriver() : nullptr;
          g_description = driver ? std::string("Default output (") + driver + ")" : "Default output";
        } else if (device >= 1) {
          if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
          const char* name = SDL_GetAudioDeviceName(device - 1, 0);
          if (name) g_description = name;
          SDL_QuitSubSystem(SDL_INIT_AUDIO);
          if (!name) return 0;
        } else {
          return 0;
        }
        *description = g_description.c_str();
        return 1;
      },
      0);
}

int BASS_GetInfo(OrvlSoundInfo* info) {
  return guarded(
      [&]() -> int {
        if (!info || info->size < sizeof(OrvlSoundInfo) || !g_dev.open) return 0;
        uint32_t size = info->size;
        std::memset(info, 0, sizeof(OrvlSoundInfo));
        info->size = size;
        info->flags = ORVL_SOUND_CAPS_EMULATED | ORVL_SOUND_CAPS_MONO | ORVL_SOUND_CAPS_STEREO |
                      ORVL_SOUND_CAPS_8BITS | ORVL_SOUND_CAPS_16BITS;
        info->min_rate = kMinRate;
        info->max_rate = kMaxRate;
        return 1;
      },
      0);
}

uint32_t BASS_GetVersion(void) { return ORVL_SOUND_VERSION; }

int BASS_Start(void) {
  return guarded([] { return set_running(true); }, 0);
}

int BASS_Stop(void) {
  return guarded([] { return set_running(false); }, 0);
}

uint32_t BASS_StreamCreateFile(int in_memory, const void* file, uint32_t offset, uint32_t length,
                               uint32_t flags) {
  return guarded([&] { return open_channel(in_memory, file, offset, length, flags, false); }, 0u);
}

uint32_t BASS_MusicLoad(int in_memory, const void* file, uint32_t offset, uint32_t length,
                        uint32_t flags) {
  return guarded([&] { return open_channel(in_memory, file, offset, length, flags, true); }, 0u);
}

int BASS_MusicPlay(uint32_t handle) {
  return guarded([&] { return play_channel(handle, true, false, 0); }, 0);
}

int BASS_StreamPlay(uint32_t handle, int flush, uint32_t flags) {
  return guarded([&] { return play_channel(handle, false, flush != 0, flags); }, 0);
}

int BASS_ChannelStop(uint32_t handle) {
  return guarded(
      [&]() -> int {
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        if (it == g_dev.channels.end()) return 0;
        it->second.playing = false;
        return 1;
      },
      0);
}

int BASS_MusicFree(uint32_t handle) {
  return guarded(
      [&]() -> int {
        std::unique_ptr<Source> doomed;  // destroyed after the mixing lock is released
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        if (it == g_dev.channels.end()) return 0;
        doomed = std::move(it->second.source);
        g_dev.channels.erase(it);
        return 1;
      },
      0);
}

int BASS_Free(void) {
  return guarded(
      []() -> int {
        if (!g_dev.open) return 0;
        close_device();
        return 1;
      },
      0);
}

int64_t ORVL_ChannelGetPosition(uint32_t handle) {
  return guarded(
      [&]() -> int64_t {
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        return it == g_dev.channels.end() ? -1 : it->second.frames;
      },
      int64_t{-1});
}

int ORVL_ChannelSetPosition(uint32_t handle, int64_t frame) {
  return guarded(
      [&]() -> int {
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        if (it == g_dev.channels.end() || frame < 0) return 0;
        Channel& ch = it->second;
        if (!ch.source->rewind()) return 0;
        ch.frames = 0;
        std::vector<int16_t> skip(4096 * 2);
        int64_t left = frame;
        bool rewound_without_progress = false;
        while (left > 0) {
          const size_t want = static_cast<size_t>(std::min<int64_t>(left, 4096));
          const size_t n = ch.source->read(skip.data(), want);
          left -= static_cast<int64_t>(n);
          ch.frames += static_cast<int64_t>(n);
          if (n == want) {
            rewound_without_progress = false;
            continue;
          }
          // The end: a looping channel wraps (once, if the source is empty), others stop there.
          if (ch.loop && !(n == 0 && rewound_without_progress) && ch.source->rewind()) {
            rewound_without_progress = n == 0;
            ch.frames = 0;
            continue;
          }
          ch.playing = false;
          break;
        }
        return 1;
      },
      0);
}

int ORVL_ChannelSetMute(uint32_t handle, int muted) {
  return guarded(
      [&]() -> int {
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        if (it == g_dev.channels.end()) return 0;
        it->second.muted = muted != 0;
        return 1;
      },
      0);
}

int ORVL_ChannelIsPlaying(uint32_t handle) {
  return guarded(
      [&]() -> int {
        std::lock_guard<std::mutex> lock(g_mix);
        auto it = g_dev.channels.find(handle);
        return it != g_dev.channels.end() && it->second.playing ? 1 : 0;
      },
      0);
}

}  // extern "C"
