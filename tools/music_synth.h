// Music for the bundled demo show, synthesised from code so that nothing recorded has
// to ship: drums, bass and a melody at 120 beats per minute (one bar = 2 s, so scene
// changes can be timed to bars), written as 16-bit stereo PCM and encoded to MP3 with
// LAME. Deterministic: the same arguments always give the same samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvl {

constexpr int kDemoMusicRate = 44100;
constexpr double kDemoBeatsPerMinute = 120.0;

// Interleaved stereo samples of `seconds` of music at `rate` samples per second.
std::vector<int16_t> synth_demo_music(int rate, double seconds);

// Encodes interleaved stereo PCM to an MP3 file (128 kbit/s). On failure returns false
// and says why in `error`.
bool encode_mp3(const std::vector<int16_t>& interleaved, int rate, const std::string& path,
                std::string& error);

}  // namespace orvl
