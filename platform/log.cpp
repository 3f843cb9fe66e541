#include "platform/log.h"

#include <cstdarg>
#include <cstdio>

namespace orvl {
namespace {
std::vector<std::string>& lines() {
  static std::vector<std::string> l;
  return l;
}
bool g_echo = true;
bool g_stderr = false;
}  // namespace

void log_line(const std::string& line) {
  lines().push_back(line);
  if (g_echo) {
    std::FILE* out = g_stderr ? stderr : stdout;
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
  }
}

void log_format(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  log_line(buf);
}

const std::vector<std::string>& log_lines() { return lines(); }
void log_clear() { lines().clear(); }
void log_set_echo(bool on) { g_echo = on; }
void log_echo_to_stderr(bool on) { g_stderr = on; }

}  // namespace orvl
