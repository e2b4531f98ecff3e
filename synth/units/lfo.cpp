#include "synth/units/lfo.h"

#include "synth/units/numeric.h"

namespace {

constexpr float kRateOctaves = 10.0f;          // rate 0..128 spans ten octaves
constexpr float kFastestStep = 1073741824.0f;  // 2^30: four ticks per cycle at rate 128
constexpr float kSquareHigh = 1.0f - kPhaseFractionUnit;
constexpr uint32_t kHalfCycle = 0x80000000u;

enum class Polarity : int32_t { Positive = 0, Inverted = 1, Centred = 2 };

// The unit wave in [0, 1) at phase p. Sample-and-hold draws a new value when
// the phase has moved backwards (a wrap, or a key-synced restart).
float unitWave(Lfo& lfo, uint32_t p) {
  switch (static_cast<LfoWave>(lfo.wave & kLfoWaveMask)) {
    case LfoWave::Triangle: {
      uint32_t q = p << 1;
      if (p >= kHalfCycle) q = ~q;
      return phaseFraction(q);
    }
    case LfoWave::Square:
      return p < kHalfCycle ? 0.0f : kSquareHigh;
    case LfoWave::Sine:
      return 0.5f + 0.5f * sineApprox(kSineTwoPi * phaseFraction(p));
    case LfoWave::SampleHold:
      if (p < lfo.lastPhase) lfo.seed = noiseLcg(lfo.seed);
      lfo.lastPhase = p;
      return phaseFraction(lfo.seed);
    default:  // Saw, and the unused wave numbers
      return phaseFraction(p);
  }
}

}  // namespace

void reset(Lfo& lfo, uint32_t seed) {
  lfo.phase = 0;
  lfo.lastPhase = 0;
  lfo.seed = seed;
}

void setup(Lfo& lfo, const float* l) {
  lfo.wave = roundToInt(l[0]);
  lfo.keySync = roundToInt(l[1]);
  lfo.oneShot = roundToInt(l[2]);
  lfo.rateStep = static_cast<uint32_t>(roundToInt(
      portableExp2(kRateOctaves * (l[3] - kParamFullScale) / kParamFullScale) * kFastestStep));
  lfo.startPhase = halfCycleToPhase(l[4] / kParamFullScale);
  const float depth = l[6];
  const auto polarity = static_cast<Polarity>(roundToInt(l[5]));  // unknown ones are Positive
  lfo.scale = polarity == Polarity::Inverted ? -depth : depth;
  lfo.offset = polarity == Polarity::Centred ? -depth / 2.0f : 0.0f;
}

void noteStart(Lfo& lfo) {
  if (lfo.keySync == 0) return;
  lfo.phase = lfo.startPhase;
  lfo.lastPhase = kLfoHeldPhase;  // sample-and-hold draws at the next tick
}

void tick(Lfo& lfo) {
  lfo.out = unitWave(lfo, lfo.phase) * lfo.scale + lfo.offset;
  const uint32_t next = lfo.phase + lfo.rateStep;
  lfo.phase = (next < lfo.phase && lfo.oneShot != 0) ? kLfoHeldPhase : next;
}
