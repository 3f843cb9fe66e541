// The sound library (loaded the way the program loads it) playing WAV, MP3 and module files
// under SDL's disk audio driver, its silent device, the loader's failure paths, and the
// show's use of the library checked against a recording stand-in.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lame/lame.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/message_box.h"
#include "app/sound_output.h"
#include "platform/log.h"

namespace fs = std::filesystem;
using namespace orvl;

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------
// Test inputs, made here.

void put_le(std::vector<uint8_t>& v, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

std::vector<int16_t> sine(int rate, double freq, double seconds, int channels) {
  size_t frames = static_cast<size_t>(rate * seconds);
  std::vector<int16_t> pcm;
  for (size_t i = 0; i < frames; ++i) {
    auto s = static_cast<int16_t>(16000 * std::sin(2 * kPi * freq * double(i) / rate));
    for (int c = 0; c < channels; ++c) pcm.push_back(s);
  }
  return pcm;
}

std::vector<uint8_t> make_wav(int rate, int channels, double freq, double seconds) {
  std::vector<int16_t> pcm = sine(rate, freq, seconds, channels);
  uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * 2);
  std::vector<uint8_t> w;
  w.insert(w.end(), {'R', 'I', 'F', 'F'});
  put_le(w, 36 + data_bytes, 4);
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put_le(w, 16, 4);
  put_le(w, 1, 2);  // PCM
  put_le(w, static_cast<uint32_t>(channels), 2);
  put_le(w, static_cast<uint32_t>(rate), 4);
  put_le(w, static_cast<uint32_t>(rate * channels * 2), 4);
  put_le(w, static_cast<uint32_t>(channels * 2), 2);
  put_le(w, 16, 2);
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  put_le(w, data_bytes, 4);
  for (int16_t s : pcm) put_le(w, static_cast<uint16_t>(s), 2);
  return w;
}

// A mono MP3 with a LAME tag in its first frame, so the decoder trims the encoder's delay.
std::vector<uint8_t> make_mp3(int rate, double freq, double seconds) {
  std::vector<int16_t> pcm = sine(rate, freq, seconds, 1);
  lame_global_flags* gf = lame_init();
  lame_set_in_samplerate(gf, rate);
  lame_set_num_channels(gf, 1);
  lame_set_mode(gf, MONO);
  lame_set_brate(gf, 64);
  lame_set_bWriteVbrTag(gf, 1);
  EXPECT_EQ(lame_init_params(gf), 0);
  std::vector<uint8_t> out(pcm.size() * 2 + 7200);
  int n = lame_encode_buffer(gf, pcm.data(), pcm.data(), static_cast<int>(pcm.size()), out.data(),
                             static_cast<int>(out.size()));
  EXPECT_GE(n, 0);
  int m = lame_encode_flush(gf, out.data() + n, static_cast<int>(out.size()) - n);
  EXPECT_GE(m, 0);
  out.resize(static_cast<size_t>(n + m));
  unsigned char tag[2880];
  size_t tag_size = lame_get_lametag_frame(gf, tag, sizeof tag);
  if (tag_size > 0 && tag_size <= out.size()) std::memcpy(out.data(), tag, tag_size);
  lame_close(gf);
  return out;
}

constexpr double kModTone = 7093789.2 / (2 * 428) / 64;  // period 428, 64-byte waveform

// A 4-channel "M.K." module: one looping 64-byte sine sample, one pattern whose first row
// plays it at period 428 on channel 1 with speed 1 (so the 64 rows last 64 ticks).
std::vector<uint8_t> make_mod() {
  std::vector<uint8_t> m(20, 0);
  std::memcpy(m.data(), "orvl test", 9);
  for (int s = 0; s < 31; ++s) {
    std::vector<uint8_t> h(30, 0);
    if (s == 0) {
      h[22] = 0; h[23] = 32;  // length in words, big-endian
      h[24] = 0;              // finetune
      h[25] = 64;             // volume
      h[26] = 0; h[27] = 0;   // loop start
      h[28] = 0; h[29] = 32;  // loop length
    } else {
      h[29] = 1;  // unused samples conventionally carry a one-word loop
    }
    m.insert(m.end(), h.begin(), h.end());
  }
  m.push_back(1);    // song length
  m.push_back(127);  // restart byte
  for (int i = 0; i < 128; ++i) m.push_back(0);
  m.insert(m.end(), {'M', '.', 'K', '.'});
  std::vector<uint8_t> pattern(64 * 4 * 4, 0);
  const int sample = 1, period = 428;
  pattern[0] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
  pattern[1] = static_cast<uint8_t>(period & 0xFF);
  pattern[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | 0xF);  // effect F: speed
  pattern[3] = 1;
  m.insert(m.end(), pattern.begin(), pattern.end());
  for (int i = 0; i < 64; ++i) m.push_back(static_cast<uint8_t>(static_cast<int8_t>(100 * std::sin(2 * kPi * i / 64))));
  return m;
}

// ---------------------------------------------------------------------------------------
// Environment.

struct TempDir {
  fs::path root;
  explicit TempDir(const std::string& tag) {
    root = fs::temp_directory_path() / ("orvl_sound_" + tag + "_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  ~TempDir() { fs::remove_all(root); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    fs::path p = root / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
};

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

size_t orv_files_in(const fs::path& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("ORV", 0) == 0) ++n;
  return n;
}

struct MessageRecorder {
  std::vector<MessageBoxRequest> boxes;
  MessageRecorder() {
    message_box_set_handler([this](const MessageBoxRequest& r) { boxes.push_back(r); });
  }
  ~MessageRecorder() { message_box_set_handler(nullptr); }
};

// The real library, loaded through the program's own path, with SDL audio sent to a file.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_echo(false);
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", capture_path().c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1);
    ASSERT_EQ(sound_library_load(), SoundLoadStatus::ok);
    api = sound_api();
    void* self = ::dlopen(sound_library_path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(self, nullptr);
    position = reinterpret_cast<decltype(position)>(::dlsym(self, "ORVL_ChannelGetPosition"));
    is_playing = reinterpret_cast<decltype(is_playing)>(::dlsym(self, "ORVL_ChannelIsPlaying"));
    ::dlclose(self);
    ASSERT_NE(position, nullptr);
    ASSERT_NE(is_playing, nullptr);
  }
  void TearDown() override {
    (void)api.free();
    sound_library_release();
  }

  std::string capture_path() const { return (dir.root / "mix.raw").string(); }

  // Lets the device run until `handle` has finished, then closes it so the file is complete.
  // Returns the channel's length in frames.
  int64_t play_to_end(uint32_t handle) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (is_playing(handle) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(is_playing(handle)) << "channel never finished";
    int64_t frames = position(handle);
    EXPECT_EQ(api.free(), 1);
    return frames;
  }

  TempDir dir{"lib"};
  SoundApi api;
  int64_t (*position)(uint32_t) = nullptr;
  int (*is_playing)(uint32_t) = nullptr;
};

// The audible part of a capture: where the signal first and last passes a threshold, and
// its frequency from the sign changes in between.
struct Tone {
  double seconds = 0;
  double frequency = 0;
  int peak = 0;
};

Tone analyse(const std::vector<int>& samples, int rate, int threshold) {
  Tone t;
  size_t first = samples.size(), last = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    t.peak = std::max(t.peak, std::abs(samples[i]));
    if (std::abs(samples[i]) > threshold) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first >= last) return t;
  int crossings = 0;
  int sign = samples[first] > 0 ? 1 : -1;
  for (size_t i = first; i <= last; ++i) {
    // Hysteresis keeps quantisation noise around zero from counting as crossings.
    if (sign < 0 && samples[i] > threshold / 4) { sign = 1; ++crossings; }
    else if (sign > 0 && samples[i] < -threshold / 4) { sign = -1; ++crossings; }
  }
  t.seconds = double(last - first) / rate;
  t.frequency = crossings / 2.0 / t.seconds;
  return t;
}

// 16-bit stereo capture: left channel, and whether right always equals left.
std::vector<int> left_channel(const std::vector<uint8_t>& raw, bool* channels_equal) {
  std::vector<int> left;
  *channels_equal = true;
  for (size_t i = 0; i + 3 < raw.size(); i += 4) {
    int16_t l, r;
    std::memcpy(&l, &raw[i], 2);
    std::memcpy(&r, &raw[i + 2], 2);
    left.push_back(l);
    if (l != r) *channels_equal = false;
  }
  return left;
}

// ---------------------------------------------------------------------------------------
// Playing through the disk driver.

TEST_F(LibraryTest, WavIsResampledToTheDeviceAndPlaysOnBothChannels) {
  std::string wav = dir.write("tone.wav", make_wav(44100, 1, 440.0, 0.5));
  ASSERT_EQ(api.init(-1, 22050, 0, nullptr), 1);
  uint32_t h = api.stream_create_file(0, wav.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);
  EXPECT_NEAR(play_to_end(h), 11025, 2);

  bool equal = false;
  Tone t = analyse(left_channel(read_bytes(capture_path()), &equal), 22050, 2000);
  EXPECT_TRUE(equal);
  EXPECT_NEAR(t.seconds, 0.5, 0.02);
  EXPECT_NEAR(t.frequency, 440.0, 440.0 * 0.02);
  EXPECT_GT(t.peak, 14000);
}

// The viewer's transport calls: a seek decodes up to the frame asked for (past the end it
// stops there, or wraps when looping), and a muted channel advances without being heard.
TEST_F(LibraryTest, SeekingMovesTheChannelAndMutingSilencesItsMix) {
  void* self = ::dlopen(sound_library_path().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  auto set_position = reinterpret_cast<int (*)(uint32_t, int64_t)>(::dlsym(self, "ORVL_ChannelSetPosition"));
  auto set_mute = reinterpret_cast<int (*)(uint32_t, int)>(::dlsym(self, "ORVL_ChannelSetMute"));
  ::dlclose(self);
  ASSERT_NE(set_position, nullptr);
  ASSERT_NE(set_mute, nullptr);
  std::string wav = dir.write("tone.wav", make_wav(22050, 1, 440.0, 1.0));
  ASSERT_EQ(api.init(-1, 22050, 0, nullptr), 1);
  uint32_t h = api.stream_create_file(0, wav.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(set_position(h + 100, 10), 0) << "unknown handle";
  EXPECT_EQ(set_position(h, -1), 0) << "negative position";
  ASSERT_EQ(set_position(h, 16000), 1);
  EXPECT_EQ(position(h), 16000);
  EXPECT_FALSE(is_playing(h)) << "a seek keeps a stopped channel stopped";
  ASSERT_EQ(set_position(h, 99999), 1);
  EXPECT_EQ(position(h), 22050) << "past the end: at the end";
  ASSERT_EQ(set_position(h, 11025), 1);
  ASSERT_EQ(set_mute(h, 1), 1);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);
  EXPECT_EQ(play_to_end(h), 22050) << "the muted half second still plays through";
  bool equal = false;
  Tone t = analyse(left_channel(read_bytes(capture_path()), &equal), 22050, 200);
  EXPECT_EQ(t.peak, 0) << "muted: nothing in the mix";
}

TEST_F(LibraryTest, Mp3StreamDecodesToItsToneAndLength) {
  std::string mp3 = dir.write("tone.mp3", make_mp3(44100, 440.0, 1.0));
  ASSERT_EQ(api.init(-1, 44100, 0, nullptr), 1);
  uint32_t h = api.stream_create_file(0, mp3.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);
  EXPECT_NEAR(double(play_to_end(h)) / 44100, 1.0, 0.03);

  bool equal = false;
  Tone t = analyse(left_channel(read_bytes(capture_path()), &equal), 44100, 2000);
  EXPECT_TRUE(equal);
  EXPECT_NEAR(t.seconds, 1.0, 0.05);
  EXPECT_NEAR(t.frequency, 440.0, 440.0 * 0.02);
}

TEST_F(LibraryTest, ModulePlaysItsPatternAtTheSamplesPitch) {
  std::string mod = dir.write("tone.mod", make_mod());
  ASSERT_EQ(api.init(-1, 44100, 0, nullptr), 1);
  uint32_t h = api.music_load(0, mod.c_str(), 0, 0, ORVL_SOUND_MUSIC_RAMP);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.music_play(h), 1);
  ASSERT_EQ(api.start(), 1);
  play_to_end(h);

  bool equal = false;
  Tone t = analyse(left_channel(read_bytes(capture_path()), &equal), 44100, 500);
  // 64 rows of one tick each at the default 125 BPM (20 ms a tick), plus the few ticks
  // libopenmpt lets the last note ring after the song's end.
  EXPECT_GE(t.seconds, 1.26);
  EXPECT_LE(t.seconds, 1.42);
  EXPECT_NEAR(t.frequency, kModTone, kModTone * 0.03);
}

TEST_F(LibraryTest, EightBitMonoOutputCarriesTheMix) {
  std::string wav = dir.write("tone.wav", make_wav(22050, 2, 300.0, 0.4));
  ASSERT_EQ(api.init(-1, 44100, ORVL_SOUND_INIT_8BITS | ORVL_SOUND_INIT_MONO, nullptr), 1);
  uint32_t h = api.stream_create_file(0, wav.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);
  play_to_end(h);

  std::vector<int> samples;
  for (uint8_t b : read_bytes(capture_path())) samples.push_back((int(b) - 128) * 256);
  Tone t = analyse(samples, 44100, 2000);
  EXPECT_NEAR(t.seconds, 0.4, 0.02);
  EXPECT_NEAR(t.frequency, 300.0, 300.0 * 0.02);
}

TEST_F(LibraryTest, FromMemoryWithOffsetAndFlushRestart) {
  std::vector<uint8_t> wav = make_wav(22050, 1, 440.0, 0.2);
  std::vector<uint8_t> padded(100, 0xAA);
  padded.insert(padded.end(), wav.begin(), wav.end());
  ASSERT_EQ(api.init(-2, 22050, 0, nullptr), 1);
  EXPECT_EQ(api.stream_create_file(1, padded.data(), 100, 0, 0), 0u) << "memory needs a length";
  uint32_t h = api.stream_create_file(1, padded.data(), 100, static_cast<uint32_t>(wav.size()), 0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  ASSERT_EQ(api.start(), 1);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (is_playing(h) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(position(h), int64_t(22050 * 0.2));
  ASSERT_EQ(api.stream_play(h, 1, 0), 1);  // flush: from the top again
  EXPECT_TRUE(is_playing(h));
  EXPECT_LT(position(h), int64_t(22050 * 0.2));
}

TEST_F(LibraryTest, SilentDeviceKeepsTimeAndOutputsNothing) {
  std::string wav = dir.write("long.wav", make_wav(22050, 1, 440.0, 3.0));
  ASSERT_EQ(api.init(-2, 22050, 0, nullptr), 1);
  uint32_t h = api.stream_create_file(0, wav.c_str(), 0, 0, 0);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(api.stream_play(h, 0, 0), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(position(h), 0) << "nothing moves before the device is started";

  ASSERT_EQ(api.start(), 1);
  auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(api.stop(), 1);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  int64_t p = position(h);
  EXPECT_GT(p, int64_t(22050 * 0.3));
  EXPECT_LE(p, int64_t(22050 * (elapsed + 0.03)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(position(h), p) << "stopped output holds its position";
  EXPECT_TRUE(is_playing(h));

  EXPECT_EQ(api.channel_stop(h), 1);
  EXPECT_FALSE(is_playing(h));
  EXPECT_EQ(api.music_free(h), 1) << "either kind of channel can be freed";
  EXPECT_EQ(position(h), -1);
  EXPECT_EQ(api.free(), 1);
  EXPECT_FALSE(fs::exists(capture_path())) << "the silent device opened a real output";
}

TEST_F(LibraryTest, DeviceFailureAndTheSilentFallback) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(api.init(-1, 22050, 0, nullptr), 0);
  EXPECT_EQ(api.init(-2, 22050, 0, nullptr), 1);
  EXPECT_EQ(api.init(-2, 22050, 0, nullptr), 0) << "one device at a time";
  EXPECT_EQ(api.start(), 1);
  EXPECT_EQ(api.free(), 1);
  EXPECT_EQ(api.free(), 0);
  EXPECT_EQ(api.init(-2, 1000, 0, nullptr), 0) << "rate out of range";
  EXPECT_EQ(api.init(0, 22050, 0, nullptr), 0) << "no device 0";
}

TEST_F(LibraryTest, CallsOutOfOrderOrOnBadInputReturnZero) {
  std::string wav = dir.write("tone.wav", make_wav(22050, 1, 440.0, 0.1));
  std::string junk = dir.write("junk.bin", std::vector<uint8_t>(4096, 0x5A));
  std::string mod = dir.write("tone.mod", make_mod());
  EXPECT_EQ(api.get_version(), 0x80000u);
  EXPECT_EQ(api.start(), 0);
  EXPECT_EQ(api.stream_create_file(0, wav.c_str(), 0, 0, 0), 0u) << "no device yet";

  ASSERT_EQ(api.init(-2, 22050, 0, nullptr), 1);
  EXPECT_EQ(api.stream_create_file(0, (dir.root / "missing.mp3").c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(api.stream_create_file(0, junk.c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(api.music_load(0, junk.c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(api.stream_create_file(0, wav.c_str(), 1u << 30, 0, 0), 0u) << "offset past the end";
  EXPECT_EQ(api.stream_create_file(0, nullptr, 0, 0, 0), 0u);

  uint32_t s = api.stream_create_file(0, wav.c_str(), 0, 0, 0);
  uint32_t m = api.music_load(0, mod.c_str(), 0, 0, 0);
  ASSERT_NE(s, 0u);
  ASSERT_NE(m, 0u);
  EXPECT_NE(s, m);
  EXPECT_EQ(api.music_play(s), 0) << "a stream is not a module";
  EXPECT_EQ(api.stream_play(m, 0, 0), 0) << "a module is not a stream";
  EXPECT_EQ(api.music_play(m), 1);
  EXPECT_EQ(api.channel_stop(12345), 0);
  EXPECT_EQ(api.music_free(12345), 0);

  OrvlSoundInfo info{};
  info.size = 8;
  EXPECT_EQ(api.get_info(&info), 0) << "record too small";
  info.size = sizeof info;
  ASSERT_EQ(sizeof info, 44u);
  ASSERT_EQ(api.get_info(&info), 1);
  EXPECT_TRUE(info.flags & ORVL_SOUND_CAPS_EMULATED);
  EXPECT_TRUE(info.flags & ORVL_SOUND_CAPS_16BITS);
  EXPECT_LE(info.min_rate, 22050u);
  EXPECT_GE(info.max_rate, 44100u);
  const char* text = nullptr;
  EXPECT_EQ(api.get_device_description(-2, &text), 1);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::string(text).find("silent"), std::string::npos);
  EXPECT_EQ(api.get_device_description(-7, &text), 0);

  EXPECT_EQ(api.free(), 1);
  EXPECT_EQ(position(s), -1) << "closing the device frees its channels";
}

TEST(PlayMusicCommand, PlaysAFileThroughTheEmbeddedLibrary) {
  TempDir tmp("cli");
  std::string wav = tmp.write("tone.wav", make_wav(22050, 1, 440.0, 0.3));
  std::string raw = (tmp.root / "mix.raw").string();
  std::string env = "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE=" + raw +
                    " TMPDIR=" + tmp.root.string() + " ORVL_MESSAGE_BOX=stderr ";
  std::string out = (tmp.root / "out.txt").string();
  int rc = std::system((env + ORVL_BINARY " play-music " + wav + " >" + out + " 2>/dev/null").c_str());
  EXPECT_EQ(rc, 0);
  std::string text;
  for (uint8_t c : read_bytes(out)) text += static_cast<char>(c);
  EXPECT_NE(text.find("Opening stream.\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Removing BASS from memory.\n"), std::string::npos) << text;
  bool equal = false;
  EXPECT_NEAR(analyse(left_channel(read_bytes(raw), &equal), 22050, 2000).seconds, 0.3, 0.02);
  EXPECT_EQ(orv_files_in(tmp.root), 0u) << "temporary library left behind";

  rc = std::system((env + ORVL_BINARY " play-music " + (tmp.root / "absent.mp3").string() + " >/dev/null 2>&1").c_str());
  EXPECT_NE(rc, 0);
}

// ---------------------------------------------------------------------------------------
// Loading the library out of the program's resource.

std::vector<uint8_t> g_substitute;
ResourceBytes substitute_resource(std::string_view name) {
  if (name != "IDR_BASS") return {};
  return {g_substitute.data(), g_substitute.size()};
}
ResourceBytes no_resource(std::string_view) { return {}; }

TEST(SoundLibraryLoad, WritesAnOrvTemporaryFileAndRemovesItOnceLoaded) {
  TempDir tmp("load");
  MessageRecorder boxes;
  SoundLoadEnv env;
  env.temp_dir = tmp.root.string();
  ASSERT_EQ(sound_library_load(env), SoundLoadStatus::ok);
  std::string path = sound_library_path();
  EXPECT_EQ(fs::path(path).parent_path(), tmp.root);
  EXPECT_EQ(fs::path(path).filename().string().substr(0, 3), "ORV");
  // Gone as soon as it is loaded, so a signal or a crash cannot leave it behind.
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(orv_files_in(tmp.root), 0u);
  EXPECT_TRUE(sound_version_ok(sound_api()));
  EXPECT_EQ(sound_library_load(env), SoundLoadStatus::ok) << "loading twice is harmless";
  EXPECT_EQ(orv_files_in(tmp.root), 0u);

  sound_library_release();
  EXPECT_FALSE(sound_library_loaded());
  EXPECT_EQ(sound_api().init, nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST(SoundLibraryLoad, EachFailureShowsItsCriticalMessageAndLeavesNoFile) {
  TempDir tmp("fail");
  struct Case {
    const char* what;
    ResourceProvider provider;
    std::vector<uint8_t> bytes;
    std::string temp_dir;
    SoundLoadStatus status;
    const char* text;
    const char* title;
  };
  std::vector<uint8_t> inih = read_bytes("/usr/lib/x86_64-linux-gnu/libinih.so.1");
  const std::vector<Case> cases = {
      {"no resource", no_resource, {}, tmp.root.string(), SoundLoadStatus::missing_resource,
       "Can't get the BASS.DLL resource", "Critical & Internal error"},
      {"empty resource", substitute_resource, {}, tmp.root.string(), SoundLoadStatus::missing_resource,
       "Can't get the BASS.DLL resource", "Critical & Internal error"},
      {"no temporary directory", find_resource, {}, (tmp.root / "absent").string(),
       SoundLoadStatus::cannot_write, "Can't write BASS.DLL", "Critical error"},
      {"not a library", substitute_resource, std::vector<uint8_t>(5000, 0x90), tmp.root.string(),
       SoundLoadStatus::cannot_load, "Can't load BASS.DLL", "Critical error"},
      {"a library without the entry points", substitute_resource, inih, tmp.root.string(),
       SoundLoadStatus::cannot_load, "Can't load BASS.DLL", "Critical error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageRecorder boxes;
    g_substitute = c.bytes;
    SoundLoadEnv env;
    env.resource = c.provider;
    env.temp_dir = c.temp_dir;
    EXPECT_EQ(sound_library_load(env), c.status);
    EXPECT_FALSE(sound_library_loaded());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, c.text);
    EXPECT_EQ(boxes.boxes[0].title, c.title);
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::error);
    EXPECT_EQ(orv_files_in(tmp.root), 0u);
  }
  EXPECT_FALSE(inih.empty());
  EXPECT_EQ(kSoundLoadFailureExitCode, 0);
}

// ---------------------------------------------------------------------------------------
// The show's calls, against a recording stand-in for the library.

struct Fake {
  std::vector<std::string> calls;
  uint32_t version = 0x80000;
  int init_default_result = 1;
  uint32_t handle = 7;
};
Fake g_fake;

void record(const std::string& s) { g_fake.calls.push_back(s); }
std::string str(const void* p) { return p ? static_cast<const char*>(p) : "(null)"; }

SoundApi fake_api() {
  SoundApi a;
  a.init = [](int d, uint32_t r, uint32_t f, void*) {
    record("Init " + std::to_string(d) + " " + std::to_string(r) + " " + std::to_string(f));
    return d == -1 ? g_fake.init_default_result : 1;
  };
  a.get_device_description = [](int, const char**) { record("GetDeviceDescription"); return 0; };
  a.get_info = [](OrvlSoundInfo*) { record("GetInfo"); return 0; };
  a.get_version = [] { record("GetVersion"); return g_fake.version; };
  a.start = [] { record("Start"); return 1; };
  a.stop = [] { record("Stop"); return 1; };
  a.stream_create_file = [](int m, const void* f, uint32_t o, uint32_t l, uint32_t fl) {
    record("StreamCreateFile " + std::to_string(m) + " " + str(f) + " " + std::to_string(o) + " " +
           std::to_string(l) + " " + std::to_string(fl));
    return g_fake.handle;
  };
  a.music_load = [](int m, const void* f, uint32_t o, uint32_t l, uint32_t fl) {
    record("MusicLoad " + std::to_string(m) + " " + str(f) + " " + std::to_string(o) + " " +
           std::to_string(l) + " " + std::to_string(fl));
    return g_fake.handle;
  };
  a.music_play = [](uint32_t h) { record("MusicPlay " + std::to_string(h)); return 1; };
  a.stream_play = [](uint32_t h, int fl, uint32_t f) {
    record("StreamPlay " + std::to_string(h) + " " + std::to_string(fl) + " " + std::to_string(f));
    return 1;
  };
  a.channel_stop = [](uint32_t h) { record("ChannelStop " + std::to_string(h)); return 1; };
  a.music_free = [](uint32_t h) { record("MusicFree " + std::to_string(h)); return 1; };
  a.free = [] { record("Free"); return 1; };
  return a;
}

class ShowSound : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = Fake{};
    log_set_echo(false);
    log_clear();
    music.path = "music\\vexmarine.mp3";
  }
  using Lines = std::vector<std::string>;
  SoundApi api = fake_api();
  MusicState music;
  MessageRecorder boxes;
};

TEST_F(ShowSound, StreamOpensPlaysAndClosesInOrder) {
  ASSERT_EQ(sound_show_start(api, music, {}, true), SoundStartResult::ok);
  sound_show_play(api, music);
  sound_show_end(api, music);
  EXPECT_EQ(log_lines(), (Lines{"Wanted sound output configuration : 22050 Khz, 16 bits, stereo.",
                                "Initializing BASS.", "Opening stream.", "Removing BASS music from memory.",
                                "Stopping BASS.", "Removing BASS from memory."}));
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion", "Init -1 22050 0", "Start",
                                 "StreamCreateFile 0 music\\vexmarine.mp3 0 0 0", "StreamPlay 7 0 0",
                                 "ChannelStop 7", "MusicFree 7", "Stop", "Free"}));
  EXPECT_FALSE(music.no_sound);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ShowSound, CheckedSoundMenuItemsChangeRateBitsAndChannels) {
  ASSERT_EQ(sound_show_start(api, music, {true, true, true}, true), SoundStartResult::ok);
  EXPECT_EQ(log_lines()[0], "Wanted sound output configuration : 44100 Khz, 8 bits, mono.");
  EXPECT_EQ(g_fake.calls[1], "Init -1 44100 3");
}

TEST_F(ShowSound, MixedCaseExtensionLoadsAsAModule) {
  music.path = "music\\song.Mp3";
  ASSERT_EQ(sound_show_start(api, music, {}, true), SoundStartResult::ok);
  sound_show_play(api, music);
  EXPECT_EQ(log_lines().back(), "Loading music into memory.");
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion", "Init -1 22050 0", "Start",
                                 "MusicLoad 0 music\\song.Mp3 0 0 1", "MusicPlay 7"}));
  EXPECT_EQ(music.kind, MusicKind::module);
}

TEST_F(ShowSound, StreamTestIsASubstringTestInAnyPosition) {
  EXPECT_TRUE(music_path_is_stream("a.mp3"));
  EXPECT_TRUE(music_path_is_stream("A.WAV"));
  EXPECT_TRUE(music_path_is_stream("dir.mp3\\tune.xm"));
  EXPECT_FALSE(music_path_is_stream("tune.Wav"));
  EXPECT_FALSE(music_path_is_stream("tune.mo3"));
  EXPECT_FALSE(music_path_is_stream(""));
}

TEST_F(ShowSound, DeviceFailureFallsBackToTheSilentDevice) {
  g_fake.init_default_result = 0;
  g_fake.handle = 0;  // the silent device may give no handle: not a failure
  ASSERT_EQ(sound_show_start(api, music, {}, true), SoundStartResult::ok);
  sound_show_play(api, music);
  EXPECT_EQ(log_lines(), (Lines{"Wanted sound output configuration : 22050 Khz, 16 bits, stereo.",
                                "Initializing BASS.",
                                "Digital sound system initilization failed, switching to NO SOUND.",
                                "Opening stream."}));
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion", "Init -1 22050 0", "Init -2 22050 0", "Start",
                                 "StreamCreateFile 0 music\\vexmarine.mp3 0 0 0", "StreamPlay 0 0 0"}));
  EXPECT_TRUE(music.no_sound);
  EXPECT_EQ(music.path, "music\\vexmarine.mp3");
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Digital sound system initialization failed, switching to NO SOUND.");
  EXPECT_EQ(boxes.boxes[0].title, "BASS 0.8 failure");
  EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::warning);
}

TEST_F(ShowSound, SilentDeviceOpensWithoutProbingAndWithoutWarnings) {
  g_fake.handle = 0;  // no handle from the silent device: the music path stays
  ASSERT_EQ(sound_show_start(api, music, {}, true, nullptr, SoundDevice::silent), SoundStartResult::ok);
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion", "Init -2 22050 0", "Start",
                                 "StreamCreateFile 0 music\\vexmarine.mp3 0 0 0"}));
  EXPECT_TRUE(music.no_sound);
  EXPECT_EQ(music.path, "music\\vexmarine.mp3");
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ShowSound, UnopenableMusicIsDroppedAndTheDeviceClosed) {
  g_fake.handle = 0;
  ASSERT_EQ(sound_show_start(api, music, {}, true), SoundStartResult::ok);
  sound_show_play(api, music);
  EXPECT_EQ(log_lines().back(), "File not opened, switching to no sound output.");
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion", "Init -1 22050 0", "Start",
                                 "StreamCreateFile 0 music\\vexmarine.mp3 0 0 0", "Stop", "Free"}));
  EXPECT_TRUE(music.path.empty());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text,
            "This file can not be opened :\nmusic\\vexmarine.mp3\n\nSwitching to NO SOUND.");
  EXPECT_EQ(boxes.boxes[0].title, "BASS 0.8 failure");
  EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::warning);
}

TEST_F(ShowSound, WrongVersionAbandonsBeforeOpeningAnything) {
  g_fake.version = 0x70000;
  EXPECT_EQ(sound_show_start(api, music, {}, true), SoundStartResult::wrong_version);
  EXPECT_EQ(log_lines().back(), "BASS 0.8 was not loaded, incorrect internal BASS.DLL");
  EXPECT_EQ(g_fake.calls, (Lines{"GetVersion"}));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "BASS 0.8 was not loaded");
  EXPECT_EQ(boxes.boxes[0].title, "Incorrect internal BASS.DLL");
  EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::error);
}

TEST_F(ShowSound, WarningsOffStillLogsEveryLineButShowsNoBox) {
  g_fake.init_default_result = 0;
  ASSERT_EQ(sound_show_start(api, music, {}, false), SoundStartResult::ok);
  g_fake.version = 0x70000;
  EXPECT_EQ(sound_show_start(api, music, {}, false), SoundStartResult::wrong_version);
  g_fake = Fake{};
  g_fake.handle = 0;
  ASSERT_EQ(sound_show_start(api, music, {}, false), SoundStartResult::ok);
  EXPECT_EQ(std::count(log_lines().begin(), log_lines().end(),
                       "Digital sound system initilization failed, switching to NO SOUND."), 1);
  EXPECT_EQ(std::count(log_lines().begin(), log_lines().end(),
                       "BASS 0.8 was not loaded, incorrect internal BASS.DLL"), 1);
  EXPECT_EQ(log_lines().back(), "File not opened, switching to no sound output.");
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
