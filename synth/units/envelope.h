#pragma once
// Envelope: attack, decay, sustain (with slope) and release, stepped once per
// control tick. Output 0..kParamFullScale, in parameter units.
#include <cstdint>

#include "synth/constants.h"

enum class EnvelopeStage : int32_t { Off = 0, Attack = 1, Decay = 2, Sustain = 3, Release = 4 };

// A decaying level at or below this counts as ended: 2^-13.
constexpr float kEnvelopeFloor = 0.0001220703125f;

struct Envelope {
  float out;            // output of the last tick: level x gain
  int32_t stage;        // EnvelopeStage
  float level;          // 0..128
  float attackStep;     // added to the level per tick in Attack
  float decayFactor;    // level multiplier per tick in Decay
  float sustainLevel;   // target of Decay, 0..128
  float sustainFactor;  // level multiplier per tick in Sustain (1 holds)
  float releaseFactor;  // level multiplier per tick in Release
  float gain;           // output scale
};

void reset(Envelope& env);  // stage Off; level kept
// e: attack, decay, sustain, sustain slope, release, gain (0..128 after modulation)
void setup(Envelope& env, const float* e);
// One control step with the voice's gate (non-zero while the key is held).
void tick(Envelope& env, int gate);
