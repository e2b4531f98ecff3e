#pragma once
// Formant speech renderer: sings a phoneme text on channel 15 in step with its notes.
#include <cstdint>

constexpr int kSpeechTextCount = 64;

// One text of the tune: at most `length` bytes, ended earlier by a zero byte.
struct SpeechText {
  const char* text;
  int32_t length;
};

struct SpeechRenderer {
  // Defined with the unit; the whole record fits in 65,536 bytes.
  SpeechText texts[kSpeechTextCount];
  uint8_t opaque[65536 - kSpeechTextCount * sizeof(SpeechText)];
};

void speechInit(SpeechRenderer& s, int sampleRate);
void speechReset(SpeechRenderer& s);
void speechSetTexts(SpeechRenderer& s, const SpeechText* table);  // 64 entries
void speechControlStep(SpeechRenderer& s);
void speechRender(SpeechRenderer& s, float* channelBuffer, int frames);  // interleaved, in place
void speechNoteOn(SpeechRenderer& s);
void speechNoteOff(SpeechRenderer& s);
void speechController(SpeechRenderer& s, int controller, int value);
