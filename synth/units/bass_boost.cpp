#include "synth/units/bass_boost.h"

#include <cmath>

#include "synth/units/numeric.h"

void setup(BassBoost& b, const float* p, const SynthConstants& k) {
  b.enabled = roundToInt(p[0]);
  if (b.enabled == 0) return;
  const float a = exp2Single(p[0] / 128.0f);
  const float s = k.bassSin;
  const float c = k.bassCos;
  const float beta = s * std::sqrt(2.0f * a);
  const float a0 = (a + 1.0f) + (a - 1.0f) * c + beta;
  b.a1 = -2.0f * ((a - 1.0f) + (a + 1.0f) * c) / a0;
  b.a2 = ((a + 1.0f) + (a - 1.0f) * c - beta) / a0;
  b.b0 = a * ((a + 1.0f) - (a - 1.0f) * c + beta) / a0;
  b.b1 = 2.0f * a * ((a - 1.0f) - (a + 1.0f) * c) / a0;
  b.b2 = a * ((a + 1.0f) - (a - 1.0f) * c - beta) / a0;
}

void render(BassBoost& b, float* buffer, int frames, const SynthConstants&) {
  if ((b.enabled & 0xFF) == 0) return;
  const float b0 = b.b0, b1 = b.b1, b2 = b.b2, a1 = b.a1, a2 = b.a2;
  float x1l = b.x1Left, x2l = b.x2Left, y1l = b.y1Left, y2l = b.y2Left;
  float x1r = b.x1Right, x2r = b.x2Right, y1r = b.y1Right, y2r = b.y2Right;
  // Both sides in one loop: two independent recursions overlap in the processor.
  for (int i = 0; i < frames; ++i) {
    const float xl = buffer[2 * i] + kDenormGuard;
    const float xr = buffer[2 * i + 1] + kDenormGuard;
    const float yl = b0 * xl + b1 * x1l + b2 * x2l - a1 * y1l - a2 * y2l;
    const float yr = b0 * xr + b1 * x1r + b2 * x2r - a1 * y1r - a2 * y2r;
    x2l = x1l;
    x1l = xl;
    y2l = y1l;
    y1l = yl;
    x2r = x1r;
    x1r = xr;
    y2r = y1r;
    y1r = yr;
    buffer[2 * i] = yl;
    buffer[2 * i + 1] = yr;
  }
  b.x1Left = x1l;
  b.x2Left = x2l;
  b.y1Left = y1l;
  b.y2Left = y2l;
  b.x1Right = x1r;
  b.x2Right = x2r;
  b.y1Right = y1r;
  b.y2Right = y2r;
}
