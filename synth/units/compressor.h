#pragma once
// Compressor with peak and RMS detectors, linked or per side, and a lookahead line.
#include <cstdint>

#include "synth/constants.h"

constexpr int kCompressorWindow = 8192;     // RMS window, frames
constexpr int kCompressorLookahead = 1024;  // lookahead line, frames

struct Compressor {
  int32_t mode;
  // Working values, detector and lookahead memory: defined with the unit.
  float threshold, ratio, attack, release, makeUp, gain;
  int32_t lookahead;
  int32_t pos;
  float env[2];
  float sum[2];
  float window[2][kCompressorWindow];
  float delay[2][kCompressorLookahead];
};

void reset(Compressor& c);
void setup(Compressor& c, const float* p, const SynthConstants& k);  // p: nine parameters
void render(Compressor& c, float* buffer, int frames);  // interleaved, in place
