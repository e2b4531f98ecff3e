// Placeholder: silent until the oscillator unit lands.
#include "synth/units/oscillator.h"
void reset(Oscillator& o, int) { o.phase = 0; }
void setup(Oscillator&, const float*, const SynthConstants&) {}
void updatePitch(Oscillator&, const SynthConstants&) {}
void render(Oscillator&, float*, int, const float*, const float*) {}
