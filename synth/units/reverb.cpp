// Placeholder: silent until the reverb unit lands.
#include "synth/units/reverb.h"
void reset(Reverb& r) { r = Reverb{}; }
void setup(Reverb&, const float*, const SynthConstants&) {}
void render(Reverb&, const float*, float*, int) {}
