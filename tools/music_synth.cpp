#include "tools/music_synth.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/atomic_file.h"

namespace orvl {
namespace {

constexpr double kPi = 3.14159265358979323846;

double note_hz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Small deterministic noise source for drums.
struct Noise {
  uint32_t state = 0x12345678u;
  double next() {
    state = state * 1664525u + 1013904223u;
    return (static_cast<double>(state >> 8) / 8388608.0) - 1.0;
  }
};

// Chord roots of the eight-bar cycle (A minor, F, C, G, ...), as MIDI notes.
constexpr int kBassRoots[8] = {45, 41, 48, 43, 45, 41, 43, 40};
// Melody steps over each bar's root: scale degrees of A minor pentatonic.
constexpr int kPentatonic[5] = {0, 3, 5, 7, 10};

}  // namespace

std::vector<int16_t> synth_demo_music(int rate, double seconds) {
  const size_t frames = static_cast<size_t>(std::max(0.0, seconds) * rate);
  std::vector<float> left(frames, 0.f), right(frames, 0.f);
  const double beat = 60.0 / kDemoBeatsPerMinute;
  const double bar = 4 * beat;
  const int bars = static_cast<int>(std::ceil(seconds / bar));
  Noise noise;

  auto add = [&](size_t start, size_t length, float pan, auto&& voice) {
    for (size_t i = 0; i < length && start + i < frames; ++i) {
      float s = voice(static_cast<double>(i) / rate);
      left[start + i] += s * (1.0f - pan);
      right[start + i] += s * pan;
    }
  };

  for (int b = 0; b < bars; ++b) {
    const double bar_start = b * bar;
    const int root = kBassRoots[b % 8];
    const int section = b / 8;  // the arrangement thickens every eight bars

    for (int q = 0; q < 4; ++q) {
      size_t t = static_cast<size_t>((bar_start + q * beat) * rate);
      // Kick on every beat: a falling sine.
      add(t, static_cast<size_t>(0.25 * rate), 0.5f, [](double x) {
        double f = 50.0 + 90.0 * std::exp(-x * 30.0);
        return static_cast<float>(0.55 * std::sin(2 * kPi * f * x) * std::exp(-x * 9.0));
      });
      // Snare on beats 2 and 4 once the intro is over.
      if (section > 0 && (q == 1 || q == 3)) {
        add(t, static_cast<size_t>(0.18 * rate), 0.45f, [&](double x) {
          return static_cast<float>(0.3 * noise.next() * std::exp(-x * 22.0));
        });
      }
      // Hi-hats on the off-beats.
      size_t h = static_cast<size_t>((bar_start + q * beat + beat / 2) * rate);
      add(h, static_cast<size_t>(0.05 * rate), 0.65f, [&](double x) {
        return static_cast<float>(0.12 * noise.next() * std::exp(-x * 80.0));
      });
    }

    // Bass: eighth notes on the root, octave jump on the last two.
    for (int e = 0; e < 8; ++e) {
      int midi = root + (e >= 6 ? 12 : 0);
      double f = note_hz(midi);
      size_t t = static_cast<size_t>((bar_start + e * beat / 2) * rate);
      add(t, static_cast<size_t>(beat / 2 * rate), 0.5f, [f](double x) {
        double saw = 2.0 * (x * f - std::floor(x * f + 0.5));
        return static_cast<float>(0.22 * saw * std::exp(-x * 4.0));
      });
    }

    // Melody from the second section on: a sixteen-step pattern derived from the bar.
    if (section >= 1 && section != 4) {
      for (int s = 0; s < 8; ++s) {
        if (((b * 7 + s * 3) % 5) == 0) continue;  // rests keep it breathing
        int degree = kPentatonic[(b + s * 2 + section) % 5];
        int midi = 69 + degree + ((s % 4 == 3) ? 12 : 0);
        double f = note_hz(midi);
        size_t t = static_cast<size_t>((bar_start + s * beat / 2) * rate);
        float pan = (s % 2) ? 0.35f : 0.65f;
        add(t, static_cast<size_t>(0.45 * beat * rate), pan, [f](double x) {
          double env = std::min(1.0, x * 200.0) * std::exp(-x * 5.0);
          double tri = 2.0 * std::fabs(2.0 * (x * f - std::floor(x * f + 0.5))) - 1.0;
          return static_cast<float>(0.16 * (0.6 * std::sin(2 * kPi * f * x) + 0.4 * tri) * env);
        });
      }
    }
  }

  // Fade in over the first second and out over the last three.
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / rate;
    double g = std::min(1.0, t) * std::min(1.0, std::max(0.0, (seconds - t) / 3.0));
    auto clip = [](double v) {
      return static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
    };
    out[2 * i] = clip(std::tanh(left[i] * g));
    out[2 * i + 1] = clip(std::tanh(right[i] * g));
  }
  return out;
}

bool encode_mp3(const std::vector<int16_t>& interleaved, int rate, const std::string& path,
                std::string& error) {
  std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
  if (!lame) {
    error = "cannot start the MP3 encoder";
    return false;
  }
  lame_set_in_samplerate(lame.get(), rate);
  lame_set_num_channels(lame.get(), 2);
  lame_set_brate(lame.get(), 128);
  lame_set_quality(lame.get(), 5);
  if (lame_init_params(lame.get()) < 0) {
    error = "MP3 encoder refused its parameters";
    return false;
  }
  AtomicFile f;
  if (!f.open(path, &error)) {
    error = path + ": " + error;
    return false;
  }
  const size_t frames = interleaved.size() / 2;
  const size_t chunk = 8192;
  std::vector<unsigned char> buf(chunk * 5 / 4 + 7200);
  for (size_t pos = 0; pos < frames; pos += chunk) {
    int n = static_cast<int>(std::min(chunk, frames - pos));
    int bytes = lame_encode_buffer_interleaved(lame.get(), const_cast<short*>(interleaved.data() + 2 * pos),
                                               n, buf.data(), static_cast<int>(buf.size()));
    if (bytes < 0 || !f.write(buf.data(), static_cast<size_t>(bytes))) {
      error = bytes < 0 ? "MP3 encoding failed" : path + ": " + f.error();
      return false;
    }
  }
  int bytes = lame_encode_flush(lame.get(), buf.data(), static_cast<int>(buf.size()));
  if (bytes < 0 || !f.write(buf.data(), static_cast<size_t>(bytes))) {
    error = bytes < 0 ? "MP3 encoding failed" : path + ": " + f.error();
    return false;
  }
  if (!f.commit(&error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace orvl
