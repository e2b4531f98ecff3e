#pragma once
// Reverb: four damped combs and two all-passes per side fed by the mono
// reverb bus; adds its stereo output into the master buffer.
#include "synth/constants.h"

struct Reverb {
  // Gains, working values, states and lines: defined with the unit.
  float gains[6];
  float damping, lowCut, inputGain;
  float state[64];
};

void reset(Reverb& r);  // the whole record to 0
void setup(Reverb& r, const float* g, const SynthConstants& k);  // g: four global parameters
void render(Reverb& r, const float* bus, float* master, int frames);
