// Runs the orvl program as a child process the way a hostile user would: chosen
// environment, working directory and file-size limit, a time limit, and the result as
// exit code or signal. Header-only so each test program passes its own ORVL_BINARY.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace orvl_test {

struct ChildSetup {
  std::vector<std::string> args;  // after the program name
  std::string cwd;                // empty: the test's own
  std::vector<std::string> env;   // "NAME=VALUE" set (or "NAME=" cleared) in the child
  long long file_size_limit = -1; // RLIMIT_FSIZE in bytes (writes past it fail with EFBIG)
  double timeout_s = 20;
  std::string out_path, err_path;  // where stdout and stderr go (default: /dev/null)
};

struct ChildResult {
  int exit_code = -1;  // when it exited
  int signal = 0;      // when a signal ended it
  bool timed_out = false;
};

inline pid_t start_child(const std::string& program, const ChildSetup& setup) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Child: nothing here may return into the test.
  if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) ::_exit(126);
  for (const std::string& kv : setup.env) {
    const size_t eq = kv.find('=');
    ::setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
  }
  if (setup.file_size_limit >= 0) {
    rlimit rl{rlim_t(setup.file_size_limit), rlim_t(setup.file_size_limit)};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  }
  ::setpgid(0, 0);
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(setup.out_path.empty() ? "/dev/null" : setup.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open(setup.err_path.empty() ? "/dev/null" : setup.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  std::vector<char*> argv;
  std::vector<std::string> args = setup.args;
  args.insert(args.begin(), program);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

inline ChildResult wait_child(pid_t pid, double timeout_s) {
  ChildResult r;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  int status = 0;
  for (;;) {
    const pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      r.timed_out = true;
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

inline ChildResult run_child(const std::string& program, const ChildSetup& setup) {
  return wait_child(start_child(program, setup), setup.timeout_s);
}

inline std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace orvl_test
