#include "app/video_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace orvl {

namespace {

// `.NAME.orvl-XXXXXX.EXT` beside `path`: ffmpeg picks the container from the extension.
std::string temporary_beside(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  const auto tick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  return dir + "." + name + ".orvl-" + std::to_string(::getpid()) + "-" + std::to_string(tick % 1000000) + ext;
}

std::string status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
  return "ended abnormally";
}

}  // namespace

VideoPipe::~VideoPipe() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pid_ > 0) reap(true);
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
}

bool VideoPipe::open(const std::string& path, int width, int height, int fps, const std::string& music,
                     const std::string& program) {
  error_.clear();
  path_ = path;
  temp_path_ = temporary_beside(path);
  std::vector<std::string> args = {program, "-loglevel", "error", "-nostdin", "-y", "-f", "rawvideo",
                                   "-pix_fmt", "rgba", "-s", std::to_string(width) + "x" + std::to_string(height),
                                   "-r", std::to_string(fps), "-i", "pipe:0"};
  if (!music.empty()) {
    for (const char* a : {"-i"}) args.push_back(a);
    // "file:" keeps a name starting with a protocol or '-' from being read as one.
    args.push_back("file:" + music);
    for (const char* a : {"-c:a", "aac", "-b:a", "160k", "-shortest"}) args.push_back(a);
  }
  for (const char* a : {"-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-pix_fmt", "yuv420p"})
    args.push_back(a);
  args.push_back("file:" + temp_path_);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    error_ = std::string("cannot make a pipe: ") + std::strerror(errno);
    temp_path_.clear();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  // The program ignores SIGPIPE and may block stop signals; ffmpeg starts with defaults.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  // Its own process group: Ctrl-C on the terminal reaches the show, which then ends the
  // video properly, instead of killing ffmpeg in the middle of it.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(fds[0]);
  if (rc != 0) {
    ::close(fds[1]);
    error_ = program + (rc == ENOENT ? std::string(" is not installed (not found on PATH)")
                                     : std::string(" cannot be started: ") + std::strerror(rc));
    temp_path_.clear();
    return false;
  }
  pid_ = pid;
  fd_ = fds[1];
  exited_ = false;
  return true;
}

bool VideoPipe::write(const uint8_t* rgba, size_t bytes) {
  if (fd_ < 0 || failed()) return false;
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, rgba, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = errno == EPIPE ? "it no longer reads its input" : std::string("write failed: ") + std::strerror(errno);
      ::close(fd_);
      fd_ = -1;
      reap(false);
      return false;
    }
    rgba += n;
    bytes -= size_t(n);
  }
  return true;
}

void VideoPipe::reap(bool wait) {
  if (pid_ <= 0 || exited_) return;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    exited_ = true;
    status_ = status;
  } else if (r < 0) {
    exited_ = true;
    status_ = 0;
  }
}

bool VideoPipe::close() {
  if (pid_ <= 0) {
    if (error_.empty()) error_ = "not started";
    return false;
  }
  if (fd_ >= 0) ::close(fd_);  // end of input: ffmpeg finishes the file
  fd_ = -1;
  reap(true);
  pid_ = -1;
  const bool clean = exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  if (!clean) {
    const std::string why = status_text(status_);
    error_ = error_.empty() ? why : error_ + " (" + why + ")";
  }
  if (error_.empty() && ::rename(temp_path_.c_str(), path_.c_str()) != 0)
    error_ = std::string("the video cannot be put in place: ") + std::strerror(errno);
  if (error_.empty()) temp_path_.clear();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  return error_.empty();
}

}  // namespace orvl
