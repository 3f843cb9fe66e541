#include "scene/envelope.h"

#include <algorithm>
#include <cmath>

namespace orvl {

namespace {

// Ratio of a span to the two spans around a key, as the TCB, linear and Hermite tangents
// scale by it. Keys sharing a time would make it 0/0; equal spacing (one half) stands in.
double spacing(double span, double both) { return both > 0 ? span / both : 0.5; }

// A 2D Bezier handle (time offset, value offset) as a slope; LightWave treats a handle
// with no length in time as very steep rather than dividing by zero.
double handle_slope(float dv, float dt) {
  return std::fabs(dt) > 1e-5f ? static_cast<double>(dv) / dt : static_cast<double>(dv) * 1e5;
}

// Tangent leaving k0 toward k1 (prev is the key before k0, or null).
double outgoing(const EnvKey* prev, const EnvKey& k0, const EnvKey& k1) {
  const double d = static_cast<double>(k1.value) - k0.value;
  const double span = static_cast<double>(k1.time) - k0.time;
  switch (k0.shape) {
    case SpanShape::tcb: {
      const double ten = k0.p[0], con = k0.p[1], bias = k0.p[2];
      const double a = (1 - ten) * (1 + con) * (1 + bias);
      const double b = (1 - ten) * (1 - con) * (1 - bias);
      if (!prev) return b * d;
      const double s = spacing(span, static_cast<double>(k1.time) - prev->time);
      return s * (a * (static_cast<double>(k0.value) - prev->value) + b * d);
    }
    case SpanShape::linear:
      if (!prev) return d;
      return spacing(span, static_cast<double>(k1.time) - prev->time) *
             (static_cast<double>(k0.value) - prev->value + d);
    case SpanShape::hermite:
    case SpanShape::bezier:
      return prev ? k0.p[4] * spacing(span, static_cast<double>(k1.time) - prev->time) : k0.p[4];
    case SpanShape::bezier2d:
      return handle_slope(k0.p[3], k0.p[2]) * span;
    case SpanShape::stepped:
      break;
  }
  return 0;
}

// Tangent arriving at k1 from k0 (next is the key after k1, or null).
double incoming(const EnvKey& k0, const EnvKey& k1, const EnvKey* next) {
  const double d = static_cast<double>(k1.value) - k0.value;
  const double span = static_cast<double>(k1.time) - k0.time;
  switch (k1.shape) {
    case SpanShape::tcb: {
      const double ten = k1.p[0], con = k1.p[1], bias = k1.p[2];
      const double a = (1 - ten) * (1 - con) * (1 + bias);
      const double b = (1 - ten) * (1 + con) * (1 - bias);
      if (!next) return a * d;
      const double s = spacing(span, static_cast<double>(next->time) - k0.time);
      return s * (b * (static_cast<double>(next->value) - k1.value) + a * d);
    }
    case SpanShape::linear:
      if (!next) return d;
      return spacing(span, static_cast<double>(next->time) - k0.time) *
             (static_cast<double>(next->value) - k1.value + d);
    case SpanShape::hermite:
    case SpanShape::bezier:
      return next ? k1.p[3] * spacing(span, static_cast<double>(next->time) - k0.time) : k1.p[3];
    case SpanShape::bezier2d:
      return handle_slope(k1.p[1], k1.p[0]) * span;
    case SpanShape::stepped:
      break;
  }
  return 0;
}

double cubic_bezier(double x0, double x1, double x2, double x3, double u) {
  const double v = 1 - u;
  return v * v * v * x0 + 3 * v * v * u * x1 + 3 * v * u * u * x2 + u * u * u * x3;
}

// A 2D Bezier span: the curve's x is time, so the curve parameter for `time` is found by
// bisection first (a fixed number of halvings: handles that fold the curve back in time
// cannot make it loop), then the value is read at that parameter.
double bezier2d_span(const EnvKey& k0, const EnvKey& k1, double time) {
  const double t0 = k0.time, t3 = k1.time;
  const double t1 = k0.shape == SpanShape::bezier2d ? t0 + k0.p[2] : t0 + (t3 - t0) / 3;
  const double t2 = t3 + k1.p[0];
  const double v0 = k0.value, v3 = k1.value;
  const double v1 = k0.shape == SpanShape::bezier2d ? v0 + k0.p[3] : v0 + k0.p[4] / 3.0;
  const double v2 = v3 + k1.p[1];
  double lo = 0, hi = 1, u = 0.5;
  for (int i = 0; i < 48; ++i) {
    u = 0.5 * (lo + hi);
    const double x = cubic_bezier(t0, t1, t2, t3, u);
    if (std::fabs(x - time) <= 1e-9) break;
    if (x > time) hi = u;
    else lo = u;
  }
  return cubic_bezier(v0, v1, v2, v3, u);
}

// Folds `time` into [lo, hi]; `periods` receives how many whole periods were removed
// (negative before lo).
double wrap(double time, double lo, double hi, double& periods) {
  const double r = hi - lo;
  if (!(r > 0)) {
    periods = 0;
    return lo;
  }
  periods = std::floor((time - lo) / r);
  return std::clamp(time - periods * r, lo, hi);
}

bool is_odd(double periods) { return std::fmod(std::fabs(periods), 2.0) == 1.0; }

}  // namespace

const char* span_shape_name(SpanShape s) {
  switch (s) {
    case SpanShape::tcb: return "tcb";
    case SpanShape::hermite: return "hermite";
    case SpanShape::bezier: return "bezier";
    case SpanShape::linear: return "linear";
    case SpanShape::stepped: return "stepped";
    case SpanShape::bezier2d: return "bezier2d";
  }
  return "unknown";
}

const char* env_behavior_name(EnvBehavior b) {
  switch (b) {
    case EnvBehavior::reset: return "reset";
    case EnvBehavior::constant: return "constant";
    case EnvBehavior::repeat: return "repeat";
    case EnvBehavior::oscillate: return "oscillate";
    case EnvBehavior::offset_repeat: return "offset_repeat";
    case EnvBehavior::linear: return "linear";
  }
  return "unknown";
}

double envelope_evaluate(const EnvKey* keys, int count, EnvBehavior pre, EnvBehavior post,
                         double time) {
  if (!keys || count <= 0) return 0;
  if (count == 1 || !std::isfinite(time)) return keys[0].value;

  const EnvKey& first = keys[0];
  const EnvKey& last = keys[count - 1];
  double offset = 0;

  const bool before = time < first.time;
  if (before || time > last.time) {
    double periods = 0;
    switch (before ? pre : post) {
      case EnvBehavior::reset:
        return 0;
      case EnvBehavior::constant:
        return before ? first.value : last.value;
      case EnvBehavior::repeat:
        time = wrap(time, first.time, last.time, periods);
        break;
      case EnvBehavior::oscillate:
        time = wrap(time, first.time, last.time, periods);
        if (is_odd(periods)) time = static_cast<double>(first.time) + last.time - time;
        break;
      case EnvBehavior::offset_repeat:
        time = wrap(time, first.time, last.time, periods);
        offset = periods * (static_cast<double>(last.value) - first.value);
        break;
      case EnvBehavior::linear:
        if (before) {
          const double span = static_cast<double>(keys[1].time) - first.time;
          if (!(span > 0)) return first.value;
          return first.value + outgoing(nullptr, first, keys[1]) / span * (time - first.time);
        } else {
          const EnvKey& prev = keys[count - 2];
          const double span = static_cast<double>(last.time) - prev.time;
          if (!(span > 0)) return last.value;
          return last.value + incoming(prev, last, nullptr) / span * (time - last.time);
        }
    }
  }

  // The span [k0, k1] holding the time: k1 is the first key at or after it.
  const EnvKey* end = std::lower_bound(keys + 1, keys + count, time,
                                       [](const EnvKey& k, double t) { return k.time < t; });
  if (end == keys + count) end = keys + count - 1;
  const int i1 = static_cast<int>(end - keys);
  const EnvKey& k0 = keys[i1 - 1];
  const EnvKey& k1 = keys[i1];
  if (time == k1.time) return k1.value + offset;
  if (time <= k0.time) return k0.value + offset;
  const double span = static_cast<double>(k1.time) - k0.time;
  if (!(span > 0)) return k1.value + offset;
  const double u = (time - k0.time) / span;

  switch (k1.shape) {
    case SpanShape::tcb:
    case SpanShape::hermite:
    case SpanShape::bezier: {
      const EnvKey* prev = i1 >= 2 ? &keys[i1 - 2] : nullptr;
      const EnvKey* next = i1 + 1 < count ? &keys[i1 + 1] : nullptr;
      const double out = outgoing(prev, k0, k1);
      const double in = incoming(k0, k1, next);
      const double u2 = u * u, u3 = u2 * u;
      const double h2 = 3 * u2 - 2 * u3;
      const double h1 = 1 - h2;
      const double h4 = u3 - u2;
      const double h3 = h4 - u2 + u;
      return h1 * k0.value + h2 * k1.value + h3 * out + h4 * in + offset;
    }
    case SpanShape::bezier2d:
      return bezier2d_span(k0, k1, time) + offset;
    case SpanShape::linear:
      return k0.value + u * (static_cast<double>(k1.value) - k0.value) + offset;
    case SpanShape::stepped:
      break;
  }
  return k0.value + offset;
}

}  // namespace orvl
