#pragma once
// Formant speech renderer: sings a phoneme text on channel 15 in step with its
// notes. The channel's voices are the vocal cords: their left signal excites
// seven resonators, and noise adds breath and hiss. The record holds every
// value it needs (no process-wide state) and no pointers into itself, so it
// may be copied and two renderers are independent.
#include <cstdint>

#include "synth/speech/speech_frames.h"

constexpr int kSpeechTextCount = 64;
constexpr int kSpeechResonatorCount = 7;
// Values glided per sample: the (a, b1, b2) triples of the seven resonators,
// then the voicing, aspiration, frication and bypass gains.
constexpr int kSpeechValueCount = 3 * kSpeechResonatorCount + 4;
constexpr int kSpeechVoicingGain = 3 * kSpeechResonatorCount;
constexpr int kSpeechAspirationGain = kSpeechVoicingGain + 1;
constexpr int kSpeechFricationGain = kSpeechVoicingGain + 2;
constexpr int kSpeechBypassGain = kSpeechVoicingGain + 3;

// One text of the tune: at most `length` bytes, ended earlier by a zero byte.
struct SpeechText {
  const char* text;
  int32_t length;
};

struct SpeechResonatorHistory {
  float y1;
  float y2;
};

struct SpeechRenderer {
  float current[kSpeechValueCount];  // what the render uses now
  float target[kSpeechValueCount];   // reached at the end of the tick
  SpeechResonatorHistory resonators[kSpeechResonatorCount];
  float previousSource;  // voiced source of the previous sample
  SpeechText texts[kSpeechTextCount];
  float formantScale;  // multiplies every resonator frequency; 2^((cc5 - 64) / 128)
  int32_t speed;       // ticks per duration unit, 0..64
  uint32_t noiseSeed;
  float noiseState;
  int32_t tickCountdown;  // ticks left in the current duration unit
  int32_t segmentIndex;   // frame of the phoneme playing; 4 = past the last
  int32_t unitsLeft;      // duration units left in the segment
  int32_t phoneme;        // phoneme table entry
  int32_t multiplier;     // duration multiplier of the phoneme, 1..100,000
  float inverseLength;    // 1 / segment length in ticks
  // The text being read: null when the tune gave none (the text then stands
  // still); bounded by `textLength`, never read at or past it.
  const char* text;
  int32_t textLength;
  int32_t textPos;
  int32_t previousFrame;
  int32_t currentFrame;
  int32_t waitNoteOn;   // set by "!", cleared by a note-on on channel 15
  int32_t waitNoteOff;  // set by "_", cleared by a note-off on channel 15
  float highPass1;
  float highPass2;
  SpeechResonatorHistory outputResonator;
  // Derived from the sample rate, at init and reset.
  int32_t sampleRate;
  float omega;  // 2 pi / sample rate
  float rho;    // -pi / sample rate
  float outputCoefficients[3];
};
static_assert(sizeof(SpeechRenderer) <= 65536, "the speech renderer has a 64 KiB block");

void speechInit(SpeechRenderer& s, int sampleRate);
void speechReset(SpeechRenderer& s);
void speechSetTexts(SpeechRenderer& s, const SpeechText* table);  // 64 entries
void speechControlStep(SpeechRenderer& s);
void speechRender(SpeechRenderer& s, float* channelBuffer, int frames);  // interleaved, in place
void speechNoteOn(SpeechRenderer& s);
void speechNoteOff(SpeechRenderer& s);
void speechController(SpeechRenderer& s, int controller, int value);
