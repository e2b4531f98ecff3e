// Envelopes: stage timing in ticks.
#include "synth/units/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct EnvParams {
  float attack = 0, decay = 0, sustain = 64, slope = 64, release = 0, gain = 128;
};

Envelope makeEnv(const EnvParams& p, float level = 0.0f) {
  Envelope e{};
  e.level = level;
  reset(e);
  const float values[6] = {p.attack, p.decay, p.sustain, p.slope, p.release, p.gain};
  setup(e, values);
  return e;
}

EnvelopeStage stageOf(const Envelope& e) {
  return static_cast<EnvelopeStage>(e.stage);
}

// Ticks from the note start until the stage is `until`, the gate held for
// the first `gateTicks` of them.
constexpr int kHeld = 1 << 30;  // a gate held throughout

int ticksUntil(Envelope& e, EnvelopeStage until, int gateTicks = kHeld) {
  e.stage = static_cast<int32_t>(EnvelopeStage::Attack);
  int n = 0;
  do {
    tick(e, n < gateTicks ? 1 : 0);
    ++n;
  } while (stageOf(e) != until && n < 100000);
  return n;
}

// Ticks a level at 128 needs to fall to `to` with factor 1 - 2^(-11 x / 128).
double fadeTicks(double x, double from, double to) {
  const double factor = 1 - std::pow(2.0, -11 * x / 128);
  return std::log(to / from) / std::log(factor);
}

TEST(Envelope, StagesTakeTheirNumberOfTicks) {
  const double silence = 1.0 / 8192;
  const struct {
    const char* what;
    EnvParams p;
    EnvelopeStage until;
    int gateTicks;
    double ticks, tolerance;
  } cases[] = {
      // clang-format off
      // Attack 64 adds 2 per tick; attack 127 about 0.033.
      {"attack 64", {64, 40}, EnvelopeStage::Decay, kHeld, 64, 1},
      {"attack 127", {127, 40}, EnvelopeStage::Decay, kHeld,
       std::ceil(128 / std::pow(2.0, 7 - 0.09375 * 127)), 1},
      {"decay to sustain", {0, 64, 32}, EnvelopeStage::Sustain, kHeld,
       1 + std::ceil(fadeTicks(64, 128, 32)), 1},
      // Decay to a sustain of 0 ends while the key is held: about 630 ticks.
      {"decay to silence", {0, 64, 0}, EnvelopeStage::Off, kHeld,
       1 + std::ceil(fadeTicks(64, 128, silence)), 1},
      // A slope below 64 fades the held note out.
      {"sustain fade", {0, 0, 16, 0}, EnvelopeStage::Off, kHeld,
       2 + std::log(16.0 * 8192) / (64 * 0.0019375 * std::log(2.0)), 2},
      // Release runs in the tick of the key-up.
      {"release", {0, 0, 128, 64, 64}, EnvelopeStage::Off, 2,
       2 + std::ceil(fadeTicks(64, 128, silence)), 1},
      {"release 0", {0, 0, 128, 64, 0}, EnvelopeStage::Off, 2, 3, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    Envelope e = makeEnv(c.p);
    EXPECT_NEAR(ticksUntil(e, c.until, c.gateTicks), c.ticks, c.tolerance) << c.what;
    if (c.until == EnvelopeStage::Off) {
      EXPECT_EQ(e.out, 0.0f) << c.what;
    }
  }
}

}  // namespace
