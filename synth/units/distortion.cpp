// Placeholder: passes the signal through until the distortion unit lands.
#include "synth/units/distortion.h"
void reset(Distortion&) {}
void setup(Distortion& d, const float*, const SynthConstants&) { d.mode = 0; }
void renderMono(Distortion&, const float* in, float* out, int count) {
  if (in != out) for (int i = 0; i < count; ++i) out[i] = in[i];
}
void renderStereo(Distortion&, const float* in, float* out, int frames) {
  if (in != out) for (int i = 0; i < 2 * frames; ++i) out[i] = in[i];
}
void reset(DcBlocker& dc) { dc = DcBlocker{}; }
void renderMono(DcBlocker&, const float* in, float* out, int count, const SynthConstants&) {
  if (in != out) for (int i = 0; i < count; ++i) out[i] = in[i];
}
void renderStereo(DcBlocker&, const float* in, float* out, int frames, const SynthConstants&) {
  if (in != out) for (int i = 0; i < 2 * frames; ++i) out[i] = in[i];
}
