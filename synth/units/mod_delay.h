#pragma once
// Modulated stereo delay over two caller-owned lines (chorus, flanger, echo):
// in place on a channel, or reading a mono bus and adding into the master
// buffer (the global form). A triangle LFO sweeps both taps; the right tap can
// run at a phase offset.
#include <cstdint>

#include "synth/constants.h"

constexpr uint32_t kChannelDelayMask = 2047;  // channel lines: 2,048 samples per side
constexpr uint32_t kGlobalDelayMask = 32767;  // global lines: 32,768 samples per side

struct ModDelay {
  float* lineLeft;
  float* lineRight;
  uint32_t mask;        // line length - 1; the length is a power of two
  uint32_t writeIndex;  // next position written, 0..mask
  int32_t delayLeft;    // base delay in samples
  int32_t delayRight;   // base delay in samples
  uint32_t lfoPhase;    // triangle LFO phase, one cycle = 2^32
  uint32_t lfoStep;     // added per sample
  uint32_t lfoOffset;   // phase offset of the right side
  int32_t depth;        // modulation depth in samples, 0..1023
  float feedback;       // -1..1
  float dry;            // 0..1
  float wet;            // -1..1; exactly 0 skips the unit and freezes it
};

// Gives the delay its two lines (length mask + 1 floats each).
void attachLines(ModDelay& d, float* left, float* right, uint32_t mask);
// Rewinds the write position and LFO and clears both lines.
void reset(ModDelay& d);
// m: seven parameters, 0..128 after modulation: wet/dry balance (64 = dry
// only), feedback (64 = none), left and right base delays, LFO rate, depth and
// right-side phase offset (64 = none).
void setup(ModDelay& d, const float* m, const SynthConstants& k);
// Channel form: interleaved stereo, in place.
void render(ModDelay& d, float* buffer, int frames);
// Global form: mono bus in, the delayed signal (no dry part) added into the
// interleaved master buffer.
void renderGlobal(ModDelay& d, const float* bus, float* master, int frames);
