// Envelopes and LFOs: stage timing in ticks, LFO rates and waves.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "synth/units/envelope.h"
#include "synth/units/lfo.h"

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

// ---- LFO ----------------------------------------------------------------

struct LfoParams {
  float wave = 0, keySync = 0, oneShot = 0, rate = 128, start = 0, polarity = 0, depth = 64;
};

Lfo makeLfo(const LfoParams& p, uint32_t seed = 1234) {
  Lfo l{};
  reset(l, seed);
  const float values[7] = {p.wave, p.keySync, p.oneShot, p.rate, p.start, p.polarity, p.depth};
  setup(l, values);
  return l;
}

std::vector<float> ticks(Lfo& l, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; ++i) {
    tick(l);
    out.push_back(l.out);
  }
  return out;
}

// Ticks between the first two downward jumps of a saw.
int sawPeriod(Lfo& l) {
  std::vector<float> s = ticks(l, 10000);
  int first = -1;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] < s[i - 1]) {
      if (first >= 0) return static_cast<int>(i) - first;
      first = static_cast<int>(i);
    }
  }
  return 0;
}

TEST(Lfo, RateSetsTheCycleLength) {
  LfoParams p;
  const struct {
    float rate;
    int period;
  } cases[] = {{128, 4}, {64, 128}, {0, 4096}, {115.2f, 8}};
  for (const auto& c : cases) {
    p.rate = c.rate;
    Lfo l = makeLfo(p);
    EXPECT_EQ(sawPeriod(l), c.period) << c.rate;
  }
}

TEST(Lfo, WavesOverOneCycle) {
  // Rate 128: four ticks a cycle, at phases 0, 1/4, 1/2 and 3/4.
  const float top = 100 * (1 - 1.0f / 8388608);
  const struct {
    float wave;
    std::vector<float> values;
    float tolerance;
  } cases[] = {
      {0, {0, 25, 50, 75}, 0},                              // saw
      {6, {0, 25, 50, 75}, 0},                              // unused numbers play saw
      {1, {0, 50, top, 100 * (0.5f - 1.0f / 8388608)}, 0},  // triangle
      {2, {0, 0, top, top}, 0},                             // square
      {3, {50, 100, 50, 0}, 1e-3f},                         // sine
  };
  for (const auto& c : cases) {
    Lfo l = makeLfo({.wave = c.wave, .depth = 100});
    const std::vector<float> got = ticks(l, 4);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], c.values[i], c.tolerance) << c.wave << " " << i;
  }
}

}  // namespace
