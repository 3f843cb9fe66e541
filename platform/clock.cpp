#include "platform/clock.h"

#include <chrono>

namespace orvl {
namespace {
bool g_virtual = false;
uint32_t g_virtual_ms = 0;

uint32_t real_ms() {
  using namespace std::chrono;
  // Start at a non-zero value: a motion start tick of 0 means "not started".
  static const auto origin = steady_clock::now() - milliseconds(1000);
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}
}  // namespace

uint32_t clock_now_ms() { return g_virtual ? g_virtual_ms : real_ms(); }

void clock_set_virtual(uint32_t ms) {
  g_virtual = true;
  g_virtual_ms = ms;
}

void clock_advance_virtual(uint32_t ms) { g_virtual_ms += ms; }

void clock_use_real() { g_virtual = false; }

bool clock_is_virtual() { return g_virtual; }

}  // namespace orvl
