// Envelope evaluation against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "scene/envelope.h"

namespace orvl {
namespace {

EnvKey key(float time, float value, SpanShape shape = SpanShape::tcb) {
  EnvKey k;
  k.time = time;
  k.value = value;
  k.shape = shape;
  return k;
}

double eval(const std::vector<EnvKey>& keys, double t, EnvBehavior pre = EnvBehavior::constant,
            EnvBehavior post = EnvBehavior::constant) {
  return envelope_evaluate(keys.data(), static_cast<int>(keys.size()), pre, post, t);
}

TEST(Envelope, TcbWithZeroParametersIsCatmullRomAndScalesBySpacing) {
  // Equal spacing: tangents are half the difference of the neighbours, so the middle span
  // is the Catmull-Rom curve through 0, 1, 3, 6: 1.875 halfway.
  std::vector<EnvKey> k = {key(0, 0), key(1, 1), key(2, 3), key(3, 6)};
  EXPECT_NEAR(eval(k, 1.5), 1.875, 1e-9);
  // First span: the end key has one neighbour, its outgoing tangent is the span's rise (1);
  // incoming at key 1 is 1.5.
  EXPECT_NEAR(eval(k, 0.5), 0.5 + 0.125 * 1 - 0.125 * 1.5, 1e-9);
  // Keys themselves are hit exactly.
  EXPECT_DOUBLE_EQ(eval(k, 2.0), 3.0);

  // Tension 1 flattens every tangent: the span becomes a smoothstep.
  for (auto& kk : k) kk.p[0] = 1.0f;
  EXPECT_NEAR(eval(k, 1.25), 1 + 2 * (3 * 0.0625 - 2 * 0.015625), 1e-9);

  // Unequal spacing: keys at 0, 1, 3. The tangent leaving key 1 is scaled by 2/3 of the
  // neighbours' rise (2 + 1), giving 2; the last key's incoming tangent is its rise, 1.
  std::vector<EnvKey> u = {key(0, 0), key(1, 2), key(3, 3)};
  EXPECT_NEAR(eval(u, 2.0), 0.5 * 2 + 0.5 * 3 + 0.125 * 2 - 0.125 * 1, 1e-9);
}

TEST(Envelope, SpanShapeIsTakenFromTheKeyEndingTheSpan) {
  std::vector<EnvKey> k = {key(0, 0), key(2, 4, SpanShape::linear), key(3, 10, SpanShape::stepped)};
  EXPECT_NEAR(eval(k, 0.5), 1.0, 1e-9);   // linear span
  EXPECT_NEAR(eval(k, 2.9), 4.0, 1e-9);   // stepped span holds its start
  EXPECT_DOUBLE_EQ(eval(k, 3.0), 10.0);   // until its end key

  // Hermite: tangents come from the keys' parameters (outgoing p[4], incoming p[3]).
  std::vector<EnvKey> h = {key(0, 0, SpanShape::hermite), key(1, 1, SpanShape::hermite)};
  h[0].p[4] = 2.0f;
  h[1].p[3] = 0.0f;
  EXPECT_NEAR(eval(h, 0.5), 0.5 + 0.125 * 2, 1e-9);
  // With a key before, the outgoing tangent is scaled by the spacing: 1 / (1 + 1).
  std::vector<EnvKey> h3 = {key(-1, 0, SpanShape::hermite), h[0], h[1]};
  EXPECT_NEAR(eval(h3, 0.5), 0.5 + 0.125 * 1, 1e-9);
}

TEST(Envelope, Bezier2dFollowsItsHandles) {
  // Handles at a third of the span in time and flat in value: x(u) = u, y = 3u^2 - 2u^3.
  std::vector<EnvKey> k = {key(0, 0, SpanShape::bezier2d), key(1, 1, SpanShape::bezier2d)};
  k[0].p[2] = 1.0f / 3;
  k[0].p[3] = 0;
  k[1].p[0] = -1.0f / 3;
  k[1].p[1] = 0;
  EXPECT_NEAR(eval(k, 0.25), 3 * 0.0625 - 2 * 0.015625, 1e-6);
  // Handles along the chord give a straight line.
  k[0].p[3] = 1.0f / 3;
  k[1].p[1] = -1.0f / 3;
  EXPECT_NEAR(eval(k, 0.3), 0.3, 1e-6);
  // Handles folding the curve back in time still end in a finite value.
  k[0].p[2] = 5;
  k[1].p[0] = -5;
  EXPECT_TRUE(std::isfinite(eval(k, 0.7)));
}

TEST(Envelope, PreAndPostBehaviours) {
  // A straight rise from 0 at t=1 to 2 at t=3.
  std::vector<EnvKey> k = {key(1, 0, SpanShape::linear), key(3, 2, SpanShape::linear)};
  using B = EnvBehavior;
  EXPECT_DOUBLE_EQ(eval(k, 4, B::constant, B::reset), 0.0);
  EXPECT_DOUBLE_EQ(eval(k, 0, B::constant, B::reset), 0.0);
  EXPECT_DOUBLE_EQ(eval(k, 4, B::reset, B::constant), 2.0);
  EXPECT_NEAR(eval(k, 4, B::reset, B::repeat), 1.0, 1e-9);
  EXPECT_NEAR(eval(k, 0.5, B::repeat, B::reset), 1.5, 1e-9);
  // Oscillate runs the first period after the end backwards, the next one forwards again;
  // before the start the same mirror applies.
  EXPECT_NEAR(eval(k, 3.5, B::reset, B::oscillate), 1.5, 1e-9);
  EXPECT_NEAR(eval(k, 5.5, B::reset, B::oscillate), 0.5, 1e-9);
  EXPECT_NEAR(eval(k, 0.5, B::oscillate, B::reset), 0.5, 1e-9);
  // Offset repeat adds the end-to-start difference (2) once per period.
  EXPECT_NEAR(eval(k, 4, B::reset, B::offset_repeat), 3.0, 1e-9);
  EXPECT_NEAR(eval(k, 6, B::reset, B::offset_repeat), 5.0, 1e-9);
  EXPECT_NEAR(eval(k, 0, B::offset_repeat, B::reset), -1.0, 1e-9);
  // Linear extends the end tangents.
  EXPECT_NEAR(eval(k, 5, B::reset, B::linear), 4.0, 1e-9);
  EXPECT_NEAR(eval(k, -1, B::linear, B::reset), -2.0, 1e-9);
  // A TCB end key with no neighbours has the same straight tangent.
  k[0].shape = k[1].shape = SpanShape::tcb;
  EXPECT_NEAR(eval(k, 5, B::reset, B::linear), 4.0, 1e-9);
}

TEST(Envelope, DegenerateInputStaysFinite) {
  EXPECT_DOUBLE_EQ(envelope_evaluate(nullptr, 0, EnvBehavior::repeat, EnvBehavior::repeat, 1), 0);
  std::vector<EnvKey> one = {key(2, 7)};
  EXPECT_DOUBLE_EQ(eval(one, -100), 7.0);
  // Keys sharing a time: no division by zero, whatever the behaviour.
  std::vector<EnvKey> same = {key(1, 1), key(1, 2), key(1, 3)};
  for (int b = 0; b < kEnvBehaviorCount; ++b) {
    const auto beh = static_cast<EnvBehavior>(b);
    EXPECT_TRUE(std::isfinite(eval(same, 0.5, beh, beh)));
    EXPECT_TRUE(std::isfinite(eval(same, 1.5, beh, beh)));
    EXPECT_TRUE(std::isfinite(eval(same, 1.0, beh, beh)));
  }
  std::vector<EnvKey> k = {key(0, 0), key(1, 1), key(2, 0)};
  EXPECT_DOUBLE_EQ(eval(k, std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_TRUE(std::isfinite(eval(k, 1e30, EnvBehavior::oscillate, EnvBehavior::oscillate)));
  // Keys out of order never lead outside the list.
  std::vector<EnvKey> unsorted = {key(2, 0), key(0, 1), key(1, 2)};
  EXPECT_TRUE(std::isfinite(eval(unsorted, 1.5)));
}

}  // namespace
}  // namespace orvl
