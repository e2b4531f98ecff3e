#pragma once
// Compressor with peak and RMS level detectors, linked or per side, a
// lookahead line and make-up gain. One per channel and one on the master mix;
// each holds its own lookahead and RMS memory.
#include <cstdint>

#include "synth/constants.h"

constexpr int kCompressorWindow = 8192;        // RMS window, frames
constexpr int kCompressorMaxLookahead = 5645;  // round(128 ms x 44.1): the longest setting
constexpr int kCompressorLookahead = kCompressorMaxLookahead + 1;  // line, frames

// Detector selected by the low two bits of the mode.
enum class CompressorDetector : int32_t {
  kLinkedPeak = 0,  // peak of (left + right) / 2, one gain for both sides
  kLinkedRms = 1,   // RMS of (left + right) / 2 over the window
  kStereoPeak = 2,  // peak per side
  kStereoRms = 3,   // RMS per side
};
constexpr int32_t kCompressorDetectorMask = 3;
constexpr int32_t kCompressorBypassMask = 4;

struct Compressor {
  int32_t mode;          // bits 0-1: CompressorDetector; bit 2: bypass; higher bits ignored
  int32_t previousMode;  // mode at the last set-up, to detect changes
  float inputScale;      // 1 / threshold
  float ratio;           // 0..1: 0 never compresses, 1 limits
  float outputGain;      // make-up gain, applied to the scaled signal
  float attack;          // per-sample smoothing factor while the gain falls
  float release;         // per-sample smoothing factor while the gain rises
  int32_t lookahead;     // L: the signal is delayed by L + 1 samples
  int32_t delayIndex;    // position in the lookahead line, 0..L
  float gain[2];         // current gains, left and right
  float peak[2];         // peak detector states (left also serves the linked peak)
  int32_t windowIndex;   // position in the RMS window
  float sum[2];          // RMS running sums (left also serves the linked RMS)
  float line[2][kCompressorLookahead];  // scaled input, left and right
  float window[2][kCompressorWindow];   // squared samples (linked RMS uses the left row)
};

// Selects the default detector (per-side peak). Works on a zeroed record.
void reset(Compressor& c);
// p: nine parameters, 0..128 after modulation: detector (0 bypass, 1 peak,
// 2 RMS), per-side flag (0 linked, 1 per side, 2 bypass), automatic make-up,
// lookahead in ms, threshold, ratio, attack, release, output level (64 = 0 dB).
// A change of mode restarts the detector and the gains; the lookahead line is
// kept.
void setup(Compressor& c, const float* p, const SynthConstants& k);
// Interleaved stereo, in place; does nothing while bypassed.
void render(Compressor& c, float* buffer, int frames);
