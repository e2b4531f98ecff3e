// Placeholder: silent until the speech renderer lands.
#include "synth/speech/speech.h"
void speechInit(SpeechRenderer&, int) {}
void speechReset(SpeechRenderer&) {}
void speechSetTexts(SpeechRenderer& s, const SpeechText* table) {
  for (int i = 0; i < kSpeechTextCount; ++i) s.texts[i] = table[i];
}
void speechControlStep(SpeechRenderer&) {}
void speechRender(SpeechRenderer&, float*, int) {}
void speechNoteOn(SpeechRenderer&) {}
void speechNoteOff(SpeechRenderer&) {}
void speechController(SpeechRenderer&, int, int) {}
