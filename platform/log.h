// The step log: one line per loading, playing or tear-down step.
//
// Lines are kept in order (the control window shows them as its log list) and echoed
// to standard output unless echo is switched off (the inspection commands print their
// own output and keep the log quiet). Process-wide; single-threaded use.
#pragma once

#include <string>
#include <vector>

namespace orvl {

void log_line(const std::string& line);
// printf-style convenience for the many "Label : value" lines.
void log_format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

const std::vector<std::string>& log_lines();
void log_clear();
void log_set_echo(bool on);
// Echo to standard error instead of standard output (commands whose stdout is data).
void log_echo_to_stderr(bool on);

}  // namespace orvl
