#pragma once
// Modulated stereo delay over two caller-owned lines: in place on a channel,
// or reading a mono bus and adding into the master buffer (global form).
#include <cstdint>

#include "synth/constants.h"

struct ModDelay {
  float* lineLeft;
  float* lineRight;
  uint32_t mask;  // line length - 1 (a power of two minus one)
  // Working values and positions: defined with the unit.
  uint32_t writePos;
  uint32_t lfoPhase;
  uint32_t lfoStep;
  float wet, dry, feedback, cross;
  float timeLeft, timeRight, depth;
};

// Gives the delay its two lines (length mask + 1 floats each).
void attachLines(ModDelay& d, float* left, float* right, uint32_t mask);
void reset(ModDelay& d);  // clears the lines and positions
void setup(ModDelay& d, const float* m, const SynthConstants& k);  // m: seven parameters
void render(ModDelay& d, float* buffer, int frames);  // channel form, interleaved, in place
void renderGlobal(ModDelay& d, const float* bus, float* master, int frames);  // mono bus in, adds
