// The one time source of the system: milliseconds as a tick count.
//
// While playing, ticks come from the monotonic clock. Tests, `orvl eval` and headless
// rendering switch to a virtual clock whose value they set and advance themselves, so
// every motion evaluation is deterministic. Process-wide; single-threaded use.
#pragma once

#include <cstdint>

namespace orvl {

// Current tick count in milliseconds (real or virtual).
uint32_t clock_now_ms();

// Switches to the virtual clock at `ms`; later calls move it only through the setters.
void clock_set_virtual(uint32_t ms);
// Advances the virtual clock (no effect on the real one).
void clock_advance_virtual(uint32_t ms);
// Back to the real clock.
void clock_use_real();
bool clock_is_virtual();

}  // namespace orvl
