// orvl play-music FILE [--seconds S]: plays one music file the way the show does (the sound
// library out of the executable, the default output or the silent fallback, the same log
// lines), until it ends or for S seconds. A quick check of a machine's sound set-up.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/command.h"
#include "app/sound_output.h"
#include "platform/file.h"

namespace {

constexpr double kMaxSeconds = 86400;

int play_music(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  std::string seconds_text;
  bool missing = false;
  bool timed = orvl::take_option(args, "--seconds", seconds_text, &missing);
  char* end = nullptr;
  double seconds = timed ? std::strtod(seconds_text.c_str(), &end) : 0.0;
  // !(a <= b) also catches NaN; a day is far more than any tune.
  if (args.size() != 1 || missing ||
      (timed && (end == seconds_text.c_str() || *end || !(seconds >= 0) || !(seconds <= kMaxSeconds)))) {
    std::fprintf(stderr, "usage: orvl play-music FILE [--seconds S]  (S from 0 to %.0f)\n", kMaxSeconds);
    return 2;
  }
  // The sound library opens the file itself and would wait forever on a FIFO or device.
  orvl::FileStatus fs = orvl::FileStatus::ok;
  const int fd = orvl::open_regular_file(args[0], fs);
  if (fd < 0) {
    std::fprintf(stderr, "orvl play-music: %s: %s\n", args[0].c_str(), orvl::file_status_text(fs));
    return 1;
  }
  ::close(fd);

  orvl::SoundLoadStatus status = orvl::sound_library_load();
  if (status != orvl::SoundLoadStatus::ok) {
    std::fprintf(stderr, "orvl play-music: %s\n", orvl::sound_load_status_text(status));
    return 1;
  }
  const orvl::SoundApi& api = orvl::sound_api();
  orvl::MusicState music;
  music.path = args[0];
  const bool warn = true;
  if (orvl::sound_show_start(api, music, {}, warn) == orvl::SoundStartResult::wrong_version ||
      music.path.empty()) {
    std::fprintf(stderr, "orvl play-music: %s: cannot be played\n", args[0].c_str());
    orvl::sound_library_release();
    return 1;
  }
  orvl::sound_show_play(api, music);

  auto is_playing = reinterpret_cast<int (*)(uint32_t)>(orvl::sound_library_symbol("ORVL_ChannelIsPlaying"));
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(seconds);
  while (timed ? std::chrono::steady_clock::now() - start < limit
               : (is_playing && music.handle != 0 && is_playing(music.handle)))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  // The show carries on silently when the music will not open; a check of one file says so.
  const bool opened = music.handle != 0;
  orvl::sound_show_end(api, music);
  orvl::sound_library_release();
  if (!opened) {
    std::fprintf(stderr, "orvl play-music: %s: cannot be played\n", args[0].c_str());
    return 1;
  }
  return 0;
}

const orvl::CommandRegistrar reg({"play-music",
                                  "play-music FILE [--seconds S]  play MP3/WAV/module music as the show does",
                                  play_music});

}  // namespace
