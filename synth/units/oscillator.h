#pragma once
// Oscillator: band-averaged tri/saw and pulse, sine, filtered noise,
// phase-modulated sine and the two aux-bus inputs. Renders into the voice
// buffer by adding, replacing or (ring flag) multiplying.
#include <cstdint>

#include "synth/constants.h"

enum class OscMode : int32_t {
  Off = 0,
  TriSaw = 1,
  Pulse = 2,
  Sine = 3,
  Noise = 4,
  PhaseModSine = 5,
  AuxInputA = 6,
  AuxInputB = 7,
};

constexpr int32_t kOscModeMask = 7;  // only the low three bits select the mode
constexpr int32_t kOscRingMask = 1;  // flags bit 0: multiply the buffer instead of adding

struct Oscillator {
  int32_t mode;              // OscMode in the low three bits
  int32_t flags;             // bit 0 = ring
  uint32_t phase;            // one cycle = 2^32
  uint32_t phaseStep;        // added once per sample; at most 2^31 (half a cycle)
  uint32_t colourThreshold;  // slope break / pulse width as a phase
  float noiseFrequency;      // F of the noise filter
  float noiseDamping;        // Q of the noise filter: 1 at colour 0, 0 at colour 128
  uint32_t noiseSeed;        // noise generator state
  float level;               // output gain G (0..1)
  float noiseLow;            // noise filter low-pass state
  float noiseBand;           // noise filter band-pass state
  float pitch;               // note + voice transpose, semitones; written by the voice
  float pitchOffset;         // oscillator transpose + fine tune, semitones
};

// index 0, 1, 2 selects the initial noise seed.
void reset(Oscillator& osc, int index);
// p: the six oscillator parameters (0..128 after modulation): mode, ring flag,
// transpose, fine tune, colour, level. Ends with updatePitch.
void setup(Oscillator& osc, const float* p, const SynthConstants& k);
// Phase step and noise frequency from pitch and pitch offset.
void updatePitch(Oscillator& osc, const SynthConstants& k);
// In place over `count` samples of the voice buffer. auxA/auxB: the stereo
// (interleaved) aux buses of the current tick, read by the aux input modes;
// a null bus reads as silence.
void render(Oscillator& osc, float* buffer, int count, const float* auxA, const float* auxB);
