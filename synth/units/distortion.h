#pragma once
// Distortion (saturate, clip, crush, decimate, filter modes) in mono and
// stereo forms.
#include <cstdint>

#include "synth/constants.h"
#include "synth/units/filter.h"

// The rounded mode's low four bits; 5..15 run the inner filters with
// filter type = mode - 4.
enum class DistMode : int32_t {
  Off = 0,       // samples copied unchanged
  Saturate = 1,  // arctangent of (x * drive + bias), normalised by the drive
  Clip = 2,      // hard clip of (x * drive + bias) to [-1, 1]
  Crush = 3,     // 16-bit grid of adjustable step, clamp, bit flips
  Decimate = 4,  // sample and hold at a reduced rate
  FirstFilter = 5,
};

constexpr int32_t kDistModeMask = 15;

struct Distortion {
  int32_t mode;               // rounded mode parameter
  float drive;                // input gain: 0.25 at 0, 1 at 32, 64 at 128
  float outGain;              // Saturate, Clip
  float bias;                 // Saturate, Clip: added after the drive
  float crushScale;           // Crush: input scale to grid steps
  int32_t crushStep;          // Crush: grid step in 1/32768 units
  int32_t crushMask;          // Crush: XOR mask
  uint32_t decimatePhase;     // Decimate: accumulator, a carry takes a new sample
  uint32_t decimateStep;      // Decimate: per-sample increment, one cycle = 2^32
  float heldLeft, heldRight;  // Decimate: held samples (mono uses the left)
  Filter filters[2];          // left, right (mono uses the first)
};

void reset(Distortion& d);  // decimator and inner filter states 0
// p: mode, drive, amount, shape (each 0..128).
void setup(Distortion& d, const float* p, const SynthConstants& k);
void renderMono(Distortion& d, const float* in, float* out, int count);
void renderStereo(Distortion& d, const float* in, float* out, int frames);  // interleaved
// In a filter mode, the filter that renderMono runs (stride set to 1), so that
// the voice can run it in series with its own filters; otherwise null.
Filter* monoFilterStage(Distortion& d);
