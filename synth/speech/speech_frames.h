#pragma once
// The formant frame table of the speech renderer: 69 frames of 19 values.
#include <cstdint>

constexpr int kSpeechFrameCount = 69;
constexpr int kSpeechFrameColumns = 19;
constexpr int kSpeechPauseFrame = 18;  // space, unmatched characters, end of text

// Columns of a frame. Frequencies and bandwidths in Hz; levels on a log scale
// where L gives the gain 2^((L - 70) / 6) (70 is unity, 6 steps double).
enum class FrameColumn : int {
  F1Frequency = 0,
  F1Bandwidth,
  F2Frequency,
  F2Bandwidth,
  F3Frequency,
  F3Bandwidth,
  NasalFrequency,
  Voicing,     // level of the channel signal into the voiced source
  Aspiration,  // level of the noise into the voiced source
  Frication,   // level of the noise into the frication path
  Bypass,      // level of the frication path straight to the output
  F1Level,
  F2Level,
  F3Level,
  Level3200,  // fixed 3,200 Hz resonator
  NasalLevel,
  Level4000And6000,  // fixed 4,000 Hz and 6,000 Hz resonators
  Duration,          // duration units, before the phoneme's multiplier
  Rank,              // steepness of the glide into the frame
};

using SpeechFrame = float[kSpeechFrameColumns];

inline float frameValue(const SpeechFrame& frame, FrameColumn column) {
  return frame[static_cast<int>(column)];
}

extern const SpeechFrame kSpeechFrames[kSpeechFrameCount];
