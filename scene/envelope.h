// LightWave 6 envelopes: one animated value as a list of keys, evaluated the way LightWave
// evaluates its channels.
//
// A key holds a value, a time in seconds, the shape of the span that ends at it and six
// shape parameters as the scene file stores them on its "Key" line:
//   TCB:              p[0..2] tension, continuity, bias
//   Hermite, Bezier:  p[3] incoming tangent, p[4] outgoing tangent
//   2D Bezier:        p[0], p[1] incoming handle (time, value offsets from the key),
//                     p[2], p[3] outgoing handle
// (LightWave also writes tangents into p[3]/p[4] of TCB keys; the TCB curve ignores them.)
//
// The span between two keys takes the shape of the key that ends it. Hermite-type spans
// (TCB, Hermite, Bezier) join the outgoing tangent of the start key and the incoming
// tangent of the end key, each computed from that key's own shape and parameters and the
// spacing of its neighbours; the first and last keys have one neighbour only. Linear spans
// interpolate straight, stepped spans hold the start value, 2D Bezier spans follow the
// Bezier curve through the two keys and their handles, solved for time.
//
// Outside the keys the pre (before the first key) and post (after the last) behaviours
// apply: reset gives 0, constant holds the end value, repeat wraps the time into the key
// range, oscillate does the same but runs every other period backwards, offset repeat
// wraps and adds the end-to-start value difference once per period, linear extends the end
// tangent as a straight line.
//
// Keys must be sorted by time (the scene reader sorts them). Evaluation never fails,
// allocates or reads outside the `count` keys it is given: no keys gives 0, one key its
// value, keys sharing a time never divide by zero, a time that is not finite gives the first
// key's value, and the 2D Bezier time solve runs a fixed number of bisection steps.
#pragma once

#include <cstdint>

namespace orvl {

enum class SpanShape : uint8_t {
  tcb = 0,
  hermite = 1,
  bezier = 2,
  linear = 3,
  stepped = 4,
  bezier2d = 5,
};
constexpr int kSpanShapeCount = 6;
const char* span_shape_name(SpanShape s);

enum class EnvBehavior : uint8_t {
  reset = 0,
  constant = 1,
  repeat = 2,
  oscillate = 3,
  offset_repeat = 4,
  linear = 5,
};
constexpr int kEnvBehaviorCount = 6;
const char* env_behavior_name(EnvBehavior b);

struct EnvKey {
  float value = 0;
  float time = 0;  // seconds
  SpanShape shape = SpanShape::tcb;
  float p[6] = {0, 0, 0, 0, 0, 0};
};

// The value of the envelope made of `keys[0..count)` at `time` seconds.
double envelope_evaluate(const EnvKey* keys, int count, EnvBehavior pre, EnvBehavior post,
                         double time);

}  // namespace orvl
