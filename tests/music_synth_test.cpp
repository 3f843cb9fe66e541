#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/file.h"
#include "tools/music_synth.h"

using namespace orvl;

TEST(DemoMusic, DeterministicAudibleAndFadedAtBothEnds) {
  const int rate = 8000;
  auto a = synth_demo_music(rate, 6.0);
  auto b = synth_demo_music(rate, 6.0);
  ASSERT_EQ(a.size(), size_t(6 * rate * 2));
  EXPECT_EQ(a, b);
  // The first sample is faded to silence; the middle bar has real signal.
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[1], 0);
  int peak = 0;
  for (size_t i = 2 * rate * 2; i < 4 * size_t(rate) * 2; ++i) peak = std::max(peak, std::abs(int(a[i])));
  EXPECT_GT(peak, 3000);
  EXPECT_EQ(a[a.size() - 2], 0);  // faded out at the very end
}

TEST(DemoMusic, EncodesPlayableMp3Frames) {
  auto pcm = synth_demo_music(44100, 1.0);
  auto path = std::filesystem::temp_directory_path() / "orvl_music_test.mp3";
  std::string error;
  ASSERT_TRUE(encode_mp3(pcm, 44100, path.string(), error)) << error;
  std::vector<uint8_t> bytes;
  ASSERT_EQ(read_whole_file(path.string(), bytes), FileStatus::ok);
  std::filesystem::remove(path);
  ASSERT_GT(bytes.size(), 1000u);
  // LAME writes either an ID3 tag or starts with an MPEG frame sync.
  bool id3 = bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
  bool sync = bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
  EXPECT_TRUE(id3 || sync);

  EXPECT_FALSE(encode_mp3(pcm, 44100, "/nonexistent-dir/x.mp3", error));
  EXPECT_FALSE(error.empty());
}
