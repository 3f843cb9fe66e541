#include "platform/sound/sources.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <libopenmpt/libopenmpt.hpp>
#include <mutex>
#include <ostream>
#include <streambuf>

namespace orvl::sound {
namespace {

// ---------------------------------------------------------------------------------------
// MP3 through libmpg123, reading from our own copy of the file in memory.

struct MemoryReader {
  std::vector<uint8_t> data;
  size_t pos = 0;
};

mpg123_ssize_t memory_read(void* handle, void* buf, size_t count) {
  auto* r = static_cast<MemoryReader*>(handle);
  size_t n = std::min(count, r->data.size() - r->pos);
  std::memcpy(buf, r->data.data() + r->pos, n);
  r->pos += n;
  return static_cast<mpg123_ssize_t>(n);
}

off_t memory_seek(void* handle, off_t offset, int whence) {
  auto* r = static_cast<MemoryReader*>(handle);
  off_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<off_t>(r->pos);
  else if (whence == SEEK_END) base = static_cast<off_t>(r->data.size());
  else if (whence != SEEK_SET) return -1;
  off_t target = base + offset;
  if (target < 0 || target > static_cast<off_t>(r->data.size())) return -1;
  r->pos = static_cast<size_t>(target);
  return target;
}

void mpg123_library_init() {
  // Needed once per process by libmpg123 releases before 1.27; harmless after.
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}

class Mp3Source final : public Source {
 public:
  ~Mp3Source() override {
    if (mh_) {
      mpg123_close(mh_);
      mpg123_delete(mh_);
    }
  }

  bool open(std::vector<uint8_t> data, int rate) {
    mpg123_library_init();
    reader_.data = std::move(data);
    int err = MPG123_OK;
    mh_ = mpg123_new(nullptr, &err);
    if (!mh_) return false;
    // ADD_FLAGS keeps the library's defaults (gapless trimming, automatic resampling);
    // setting MPG123_FLAGS would replace them.
    if (mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0) != MPG123_OK) return false;
    // The mixer only takes 16-bit stereo at the device rate: let the decoder convert.
    if (mpg123_format_none(mh_) != MPG123_OK) return false;
    if (mpg123_format(mh_, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) return false;
    if (mpg123_replace_reader_handle(mh_, memory_read, memory_seek, nullptr) != MPG123_OK)
      return false;
    if (mpg123_open_handle(mh_, &reader_) != MPG123_OK) return false;
    // Decode the first frame header now so that data which is not MPEG audio is refused
    // at open time instead of playing as silence.
    long got_rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh_, &got_rate, &channels, &encoding) != MPG123_OK) return false;
    return got_rate == rate && channels == MPG123_STEREO && encoding == MPG123_ENC_SIGNED_16;
  }

  size_t read(int16_t* out, size_t frames) override {
    if (ended_) return 0;
    auto* dst = reinterpret_cast<unsigned char*>(out);
    size_t want = frames * 4, have = 0;
    while (have < want) {
      size_t done = 0;
      int r = mpg123_read(mh_, dst + have, want - have, &done);
      have += done;
      if (r == MPG123_OK || r == MPG123_NEW_FORMAT) {
        // A frame may decode to nothing (the gapless trim at the start); a long run of
        // those means the data is no longer audio.
        stalls_ = done > 0 ? 0 : stalls_ + 1;
        if (stalls_ < kMaxStalls) continue;
      }
      // MPG123_DONE at the end; any error also ends the stream (a damaged tail plays up to
      // the damage).
      ended_ = true;
      break;
    }
    return have / 4;
  }

  bool rewind() override {
    ended_ = false;
    stalls_ = 0;
    return mpg123_seek(mh_, 0, SEEK_SET) >= 0;
  }

 private:
  MemoryReader reader_;
  static constexpr int kMaxStalls = 256;
  mpg123_handle* mh_ = nullptr;
  bool ended_ = false;
  int stalls_ = 0;
};

// ---------------------------------------------------------------------------------------
// WAV through SDL's loader, converted whole to the device format up front. (SDL's streaming
// converter drops the resampler's last few hundred frames on flush; the one-shot converter
// keeps every frame.)

// Largest converted WAV kept in memory: over an hour of 44.1 kHz stereo.
constexpr size_t kMaxPcmBytes = size_t(1) << 30;

class WavSource final : public Source {
 public:
  bool open(const std::vector<uint8_t>& data, int rate) {
    SDL_RWops* rw = SDL_RWFromConstMem(data.data(), static_cast<int>(data.size()));
    if (!rw) return false;
    SDL_AudioSpec wav_format{};
    Uint8* raw = nullptr;
    Uint32 raw_len = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &wav_format, &raw, &raw_len)) return false;
    bool ok = convert(wav_format, raw, raw_len, rate);
    SDL_FreeWAV(raw);
    return ok;
  }

  size_t read(int16_t* out, size_t frames) override {
    size_t n = std::min(frames, pcm_.size() / 2 - pos_);
    std::memcpy(out, pcm_.data() + pos_ * 2, n * 4);
    pos_ += n;
    return n;
  }

  bool rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  bool convert(const SDL_AudioSpec& format, const Uint8* raw, Uint32 raw_len, int rate) {
    const uint32_t frame_bytes = static_cast<uint32_t>(SDL_AUDIO_BITSIZE(format.format) / 8) * format.channels;
    if (frame_bytes == 0) return false;
    raw_len -= raw_len % frame_bytes;
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, format.format, format.channels, format.freq, AUDIO_S16SYS, 2, rate) < 0)
      return false;
    // The converter works in place and needs len * len_mult bytes of room.
    const size_t mult = static_cast<size_t>(std::max(cvt.len_mult, 1));
    if (raw_len == 0 || raw_len > kMaxPcmBytes / mult) return false;
    std::vector<Uint8> buf(raw_len * mult);
    std::memcpy(buf.data(), raw, raw_len);
    cvt.buf = buf.data();
    cvt.len = static_cast<int>(raw_len);
    if (cvt.needed && SDL_ConvertAudio(&cvt) != 0) return false;
    const size_t out_bytes = cvt.needed ? static_cast<size_t>(cvt.len_cvt) : raw_len;
    pcm_.resize(out_bytes / 4 * 2);
    std::memcpy(pcm_.data(), buf.data(), pcm_.size() * 2);
    return true;
  }

  std::vector<int16_t> pcm_;  // interleaved stereo at the device rate
  size_t pos_ = 0;            // in frames
};

// ---------------------------------------------------------------------------------------
// Tracker modules through libopenmpt.

// libopenmpt reports load warnings on a stream; a library has no business printing them.
class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
};

std::ostream& quiet_log() {
  static NullBuffer buffer;
  static std::ostream log(&buffer);
  return log;
}

class ModuleSource final : public Source {
 public:
  ModuleSource(std::unique_ptr<openmpt::module> m, int rate) : module_(std::move(m)), rate_(rate) {}

  size_t read(int16_t* out, size_t frames) override {
    size_t have = 0;
    try {
      while (have < frames) {
        size_t n = module_->read_interleaved_stereo(rate_, frames - have, out + have * 2);
        if (n == 0) break;
        have += n;
      }
    } catch (...) {
      // Treat a rendering failure as the end of the song.
    }
    return have;
  }

  bool rewind() override {
    try {
      module_->set_position_seconds(0.0);
      return true;
    } catch (...) {
      return false;
    }
  }

 private:
  std::unique_ptr<openmpt::module> module_;
  int rate_;
};

}  // namespace

bool looks_like_wav(const std::vector<uint8_t>& data) {
  return data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0 &&
         std::memcmp(data.data() + 8, "WAVE", 4) == 0;
}

std::unique_ptr<Source> open_mp3(std::vector<uint8_t> data, int rate) {
  auto s = std::make_unique<Mp3Source>();
  if (!s->open(std::move(data), rate)) return nullptr;
  return s;
}

std::unique_ptr<Source> open_wav(std::vector<uint8_t> data, int rate) {
  if (data.size() > static_cast<size_t>(INT32_MAX)) return nullptr;
  auto s = std::make_unique<WavSource>();
  if (!s->open(data, rate)) return nullptr;
  return s;
}

std::unique_ptr<Source> open_module(std::vector<uint8_t> data, int rate, bool ramp) {
  try {
    auto m = std::make_unique<openmpt::module>(data.data(), data.size(), quiet_log());
    m->set_repeat_count(0);
    // -1 is libopenmpt's own default ramping; 0 switches ramping off.
    m->set_render_param(openmpt::module::RENDER_VOLUMERAMPING_STRENGTH, ramp ? -1 : 0);
    return std::make_unique<ModuleSource>(std::move(m), rate);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace orvl::sound
