// Placeholder until the LFO unit lands.
#include "synth/units/lfo.h"
void reset(Lfo& l, uint32_t seed) { l.phase = 0; l.lastPhase = 0; l.seed = seed; }
void setup(Lfo&, const float*) {}
void noteStart(Lfo&) {}
void tick(Lfo& l) { l.out = 0.0f; }
