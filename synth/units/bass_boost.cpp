#include "synth/units/bass_boost.h"

#include <cmath>

#include "synth/units/numeric.h"

namespace {

struct BiquadMemory {
  float x1, x2, y1, y2;
};

// One side of the interleaved buffer (stride 2), memories in registers.
void renderSide(const BassBoost& b, float* samples, int frames, BiquadMemory& m) {
  const float b0 = b.b0, b1 = b.b1, b2 = b.b2, a1 = b.a1, a2 = b.a2;
  float x1 = m.x1, x2 = m.x2, y1 = m.y1, y2 = m.y2;
  for (int i = 0; i < frames; ++i) {
    const float x = samples[2 * i] + kDenormGuard;
    const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    samples[2 * i] = y;
  }
  m = {x1, x2, y1, y2};
}

}  // namespace

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
  BiquadMemory left{b.x1Left, b.x2Left, b.y1Left, b.y2Left};
  BiquadMemory right{b.x1Right, b.x2Right, b.y1Right, b.y2Right};
  renderSide(b, buffer, frames, left);
  renderSide(b, buffer + 1, frames, right);
  b.x1Left = left.x1;
  b.x2Left = left.x2;
  b.y1Left = left.y1;
  b.y2Left = left.y2;
  b.x1Right = right.x1;
  b.x2Right = right.x2;
  b.y1Right = right.y1;
  b.y2Right = right.y2;
}
