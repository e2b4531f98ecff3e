#pragma once
// Envelope: attack, decay, sustain (with slope) and release, stepped once per
// control tick. Output 0..128.
#include <cstdint>

enum class EnvelopeStage : int32_t { Off = 0, Attack = 1, Decay = 2, Sustain = 3, Release = 4 };

struct Envelope {
  float out;    // current output, level x gain (0..128)
  int32_t stage;  // EnvelopeStage
  // Working values and level: defined with the unit.
  float level;
  float attackStep;
  float decayFactor;
  float sustainLevel;
  float sustainFactor;
  float releaseFactor;
  float gain;
};

void reset(Envelope& env);                 // stage Off; level kept
void setup(Envelope& env, const float* e);  // e: the six envelope parameters
void tick(Envelope& env, int gate);
