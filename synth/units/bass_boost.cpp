// Placeholder: passes the signal through until the bass boost unit lands.
#include "synth/units/bass_boost.h"
void setup(BassBoost&, const float*, const SynthConstants&) {}
void render(BassBoost&, float*, int, const SynthConstants&) {}
