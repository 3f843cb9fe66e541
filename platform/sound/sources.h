// Decoders behind the sound library's channels. Internal to the library.
//
// Every source hands out interleaved signed 16-bit stereo frames at the rate it was opened
// for, pulled by the mixer a callback-sized block at a time. Opening parses enough of the
// data to know it is usable; a source that cannot be opened is simply not created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvl::sound {

class Source {
 public:
  virtual ~Source() = default;
  // Writes up to `frames` stereo frames to `out`; fewer than asked means the end was reached.
  virtual size_t read(int16_t* out, size_t frames) = 0;
  // Back to the first frame; false if the decoder cannot restart.
  virtual bool rewind() = 0;
};

// MP3 data (ID3 tags and a LAME/Xing header are handled by the decoder).
std::unique_ptr<Source> open_mp3(std::vector<uint8_t> data, int rate);
// A RIFF WAVE file in any encoding SDL's loader accepts.
std::unique_ptr<Source> open_wav(std::vector<uint8_t> data, int rate);
// True when the data starts like a RIFF WAVE file (the stream opener's format choice).
bool looks_like_wav(const std::vector<uint8_t>& data);
// A tracker module; `ramp` enables volume ramping.
std::unique_ptr<Source> open_module(std::vector<uint8_t> data, int rate, bool ramp);

}  // namespace orvl::sound
