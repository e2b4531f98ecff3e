#pragma once
// Filter: 2x oversampled state-variable types and a 2x oversampled four-pole
// cascade; used by the voice (stride 1) and, as a pair, by the distortion's
// filter modes on interleaved stereo (stride 2).
#include <cstdint>

#include "synth/constants.h"

struct Filter {
  int32_t type;  // rounded type parameter; 0 = Off
  int32_t stride;  // 1 mono, 2 one side of interleaved stereo
  // Working values and states: defined with the unit.
  float freq, damp;                                  // state-variable kind
  float poleGain, poleFeedback, resonance;           // four-pole kind
  float low, band, lastInput;
  float y1, y2, y3, y4;
};

void reset(Filter& f);  // states 0, stride 1
void setup(Filter& f, const float* t, const SynthConstants& k);  // t: type, cutoff, resonance
// in and out may be the same buffer; both advance by stride per sample.
void render(Filter& f, const float* in, float* out, int count);
