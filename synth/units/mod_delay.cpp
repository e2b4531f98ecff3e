// Placeholder: passes the signal through until the delay unit lands.
#include "synth/units/mod_delay.h"
void attachLines(ModDelay& d, float* left, float* right, uint32_t mask) {
  d.lineLeft = left; d.lineRight = right; d.mask = mask;
}
void reset(ModDelay&) {}
void setup(ModDelay&, const float*, const SynthConstants&) {}
void render(ModDelay&, float*, int) {}
void renderGlobal(ModDelay&, const float*, float*, int) {}
