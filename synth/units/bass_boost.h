#pragma once
// Bass boost: a low shelf at 150 Hz (shelf slope 1) that lifts a channel's
// low end by A^2, up to four times, with A = 2^(parameter / 128).
#include <cstdint>

#include "synth/constants.h"

struct BassBoost {
  int32_t enabled;           // round(parameter); the unit runs while its low byte is non-zero
  float a1, a2, b0, b1, b2;  // biquad coefficients, normalised by a0
  // Filter memories. They start at 0 with the zeroed synthesizer state and are
  // never cleared: the unit has no reset.
  float x1Left, x1Right, x2Left, x2Right;
  float y1Left, y1Right, y2Left, y2Right;
};

// p: one parameter, 0..128 after modulation. A setting that rounds to 0
// disables the unit and leaves its coefficients as they were.
void setup(BassBoost& b, const float* p, const SynthConstants& k);
// Interleaved stereo, in place.
void render(BassBoost& b, float* buffer, int frames, const SynthConstants& k);
// Whether render changes the samples at all.
bool isActive(const BassBoost& b);
// render on any number of units, in place on interleaved bufs[c]: two units
// per SIMD register and several registers interleaved, so that the
// recursions of different channels overlap. The same samples, bit for bit.
void renderLanes(BassBoost* const* units, int count, float* const* bufs, int frames);
