#pragma once
// Reverb: per side four damped comb filters in parallel, then two all-passes
// in series and a low cut, fed by the mono reverb bus; adds its stereo output
// into the master buffer. Line lengths are fixed in samples.
#include <cstdint>

#include "synth/constants.h"

constexpr int kReverbCombs = 4;
constexpr int kReverbAllPasses = 2;
constexpr int kReverbLinesPerSide = kReverbCombs + kReverbAllPasses;
constexpr int kReverbLines = 2 * kReverbLinesPerSide;
// Left combs 1-4, left all-passes 1-2, right combs 1-4, right all-passes 1-2.
constexpr int kReverbLineLength[kReverbLines] = {1309, 1635, 1811, 1926, 220, 74,
                                                 1327, 1631, 1833, 1901, 205, 77};
constexpr int kReverbMemory = 13949;  // the sum of the line lengths

struct Reverb {
  float combGain[kReverbCombs];         // feedback gains, shared by both sides
  float allPassGain[kReverbAllPasses];  // shared by both sides
  float inputGain;                      // scales the reverb bus
  float damping;                        // one-pole coefficient inside each comb
  float lowCut;                         // one-pole coefficient of the output stage
  int32_t index[kReverbLines];          // read/write positions, in line order
  float combState[2 * kReverbCombs];    // left combs 1-4, right combs 1-4
  float outputState[2];                 // output low cut, left and right
  float lines[kReverbMemory];           // the twelve lines, back to back in line order
};

// The whole record, gains included, to 0: silent until set up.
void reset(Reverb& r);
// g: four global parameters, 0..128: decay (larger is longer), damping, low
// cut, level. Keeps lines and states.
void setup(Reverb& r, const float* g, const SynthConstants& k);
// Reads frames mono samples from bus and adds the stereo result into the
// interleaved master buffer. A tail that has decayed into denormal numbers is
// cleared at the end of the block.
void render(Reverb& r, const float* bus, float* master, int frames);
