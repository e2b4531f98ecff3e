#pragma once
// Distortion (saturate, clip, crush, decimate, filter modes) in mono and
// stereo forms, and the DC blocker.
#include <cstdint>

#include "synth/constants.h"
#include "synth/units/filter.h"

struct Distortion {
  int32_t mode;
  // Working values and states: defined with the unit.
  float drive, outGain, bias;
  int32_t crushStep;
  float crushScale;
  int32_t crushMask;
  uint32_t decimateStep;
  uint32_t decimatePhase;
  float heldLeft, heldRight;
  Filter filters[2];  // left, right (mono uses the first)
};

void reset(Distortion& d);
void setup(Distortion& d, const float* p, const SynthConstants& k);  // mode, drive, amount, shape
void renderMono(Distortion& d, const float* in, float* out, int count);
void renderStereo(Distortion& d, const float* in, float* out, int frames);  // interleaved

struct DcBlocker {
  float lastInLeft, lastOutLeft;
  float lastInRight, lastOutRight;
};

void reset(DcBlocker& dc);
void renderMono(DcBlocker& dc, const float* in, float* out, int count, const SynthConstants& k);
void renderStereo(DcBlocker& dc, const float* in, float* out, int frames, const SynthConstants& k);
