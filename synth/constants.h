#pragma once
// Values derived from the sample rate once at initialisation. They live in the
// synthesizer state (no process-wide variables) and are passed to the units
// that need them.
#include <cstdint>

// A parameter's full scale: patch bytes and modulated parameters read as
// 0..kParamFullScale (a byte may exceed it).
constexpr float kParamFullScale = 128.0f;

constexpr int kMaxTickFrames = 280;               // work buffers hold one tick of at most this
constexpr float kDenormGuard = 1.0f / 262144.0f;  // 2^-18, keeps recursive states out of denormals

struct SynthConstants {
  int sampleRate;       // Hz
  int tickLength;       // frames per control tick: 128 at 44,100 Hz, 140 at 48,000 Hz
  float tickRecip;      // 1 / tickLength
  float basePhaseStep;  // phase step of note 60, one cycle = 2^32
  float rateScale;      // 44100 / sampleRate
  float bassSin;        // sin(2 pi 150 / sampleRate)
  float bassCos;        // cos(2 pi 150 / sampleRate)
  float dcCoefficient;  // 1 - 126 / sampleRate
};
