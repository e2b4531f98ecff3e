#pragma once
// Bass boost: a resonant low band around 150 Hz added to the channel.
#include "synth/constants.h"

struct BassBoost {
  float gain;  // working value from the one parameter
  float s1Left, s2Left, s1Right, s2Right;  // states; never cleared
};

void setup(BassBoost& b, const float* p, const SynthConstants& k);  // p: one parameter
void render(BassBoost& b, float* buffer, int frames, const SynthConstants& k);  // interleaved, in place
