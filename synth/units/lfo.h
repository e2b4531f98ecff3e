#pragma once
// Low-frequency oscillator stepped once per control tick. Output between
// -depth and +depth in parameter units.
#include <cstdint>

#include "synth/constants.h"

enum class LfoWave : int32_t { Saw = 0, Triangle = 1, Square = 2, Sine = 3, SampleHold = 4 };

constexpr int32_t kLfoWaveMask = 7;              // waves 5, 6 and 7 play as Saw
constexpr uint32_t kLfoHeldPhase = 0xFFFFFFFFu;  // where a one-shot LFO stops

struct Lfo {
  float out;            // output of the last tick
  int32_t wave;         // LfoWave in the low three bits
  int32_t keySync;      // non-zero: restart at the start phase on note-on
  int32_t oneShot;      // non-zero: stop at the end of the first cycle
  uint32_t rateStep;    // phase added per tick; one cycle = 2^32
  uint32_t phase;       // phase accumulator
  uint32_t startPhase;  // phase set by key sync
  float scale;          // multiplies the unit wave
  float offset;         // added after scaling
  uint32_t seed;        // sample-and-hold generator state
  uint32_t lastPhase;   // phase seen at the previous tick, for sample-and-hold
};

// seed: the sample-and-hold seed, drawn by the caller from its seed source.
void reset(Lfo& lfo, uint32_t seed);
// l: wave, key sync, one-shot, rate, start phase, polarity, depth (0..128 after modulation)
void setup(Lfo& lfo, const float* l);
void noteStart(Lfo& lfo);
void tick(Lfo& lfo);
