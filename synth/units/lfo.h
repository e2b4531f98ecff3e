#pragma once
// Low-frequency oscillator stepped once per control tick.
#include <cstdint>

struct Lfo {
  float out;  // current output
  // Working values and phase: defined with the unit.
  uint32_t phase;
  uint32_t lastPhase;
  uint32_t seed;  // sample-and-hold generator state
  int32_t wave;
  int32_t keySync;
  int32_t oneShot;
  uint32_t rateStep;
  uint32_t startPhase;
  float scale;
  float offset;
  float held;  // sample-and-hold value
};

// seed: the sample-and-hold seed, drawn by the caller from its seed source.
void reset(Lfo& lfo, uint32_t seed);
void setup(Lfo& lfo, const float* l);  // l: the seven LFO parameters
void noteStart(Lfo& lfo);
void tick(Lfo& lfo);
