// Placeholder: passes the signal through until the filter unit lands.
#include "synth/units/filter.h"
void reset(Filter& f) { f.stride = 1; }
void setup(Filter& f, const float*, const SynthConstants&) { f.type = 0; }
void render(Filter& f, const float* in, float* out, int count) {
  if (in != out) for (int i = 0; i < count; ++i) out[i * f.stride] = in[i * f.stride];
}
