// The headless show's video: every frame as raw RGBA into ffmpeg, which encodes it (H.264)
// with the show's music (AAC) into an MP4 file.
//
// ffmpeg is started with an argument vector (posix_spawnp), never through a shell, so a
// file name is only ever a file name. It writes a temporary beside the target
// (`.NAME.orvl-XXXXXX.mp4`) which is renamed over the target once ffmpeg has finished
// successfully; a failed run removes it and leaves an existing target as it was.
//
// ffmpeg may stop early (missing, killed, disk full). The program ignores SIGPIPE, so a
// write to a stopped ffmpeg fails with EPIPE instead of killing the show: `write` returns
// false from then on, the show carries on (pictures are still written), and `close`
// reports why, from the failed write and ffmpeg's exit status.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvl {

class VideoPipe {
 public:
  VideoPipe() = default;
  ~VideoPipe();
  VideoPipe(const VideoPipe&) = delete;
  VideoPipe& operator=(const VideoPipe&) = delete;

  // Starts `program` (normally "ffmpeg", looked up on PATH) for frames of width x height
  // at `fps`, with `music` (may be empty) as the sound track. False with the reason in
  // error() when it cannot be started.
  bool open(const std::string& path, int width, int height, int fps, const std::string& music,
            const std::string& program = "ffmpeg");
  // One frame of width x height x 4 bytes. False once ffmpeg has stopped.
  bool write(const uint8_t* rgba, size_t bytes);
  // Ends the input, waits for ffmpeg and puts the video in place. False with the reason
  // in error() when ffmpeg stopped early or failed.
  bool close();

  bool is_open() const { return pid_ > 0; }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  void reap(bool wait);

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string path_, temp_path_, error_;
  bool exited_ = false;
  int status_ = 0;
};

}  // namespace orvl
