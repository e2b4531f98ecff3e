// Placeholder: passes the signal through until the compressor unit lands.
#include "synth/units/compressor.h"
void reset(Compressor&) {}
void setup(Compressor&, const float*, const SynthConstants&) {}
void render(Compressor&, float*, int) {}
