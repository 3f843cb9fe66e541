#include "platform/signals.h"

#include <csignal>

namespace orvl {

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void on_stop_signal(int sig) {
  if (g_signal != 0) {
    // Asked twice: the user no longer wants a tidy ending.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_signal = sig;
}

}  // namespace

void stop_signals_install() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // reads and writes carry on; the flag is looked at between frames
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool stop_requested() { return g_signal != 0; }
int stop_signal() { return g_signal; }
int stop_exit_code() { return g_signal ? 128 + g_signal : 0; }

}  // namespace orvl
