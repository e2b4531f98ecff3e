#include "synth/units/bass_boost.h"

#include <algorithm>
#include <cmath>

#include "synth/units/batch.h"
#include "synth/units/numeric.h"

void setup(BassBoost& b, const float* p, const SynthConstants& k) {
  b.enabled = roundToInt(p[0]);
  if (b.enabled == 0) return;
  const float a = portableExp2(p[0] / kParamFullScale);
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

bool isActive(const BassBoost& b) {
  return (b.enabled & 0xFF) != 0;
}

namespace {

// Coefficients and memories of two units in one register: left and right of
// the first, then of the second.
struct BiquadKernel {
  static constexpr bool kWrites = true;
  Lanes b0, b1, b2, a1, a2;
  Lanes x1, x2, y1, y2;

  BiquadKernel() = default;
  explicit BiquadKernel(BassBoost* const* u)
      : b0(gatherStereo(u, &BassBoost::b0, &BassBoost::b0)),
        b1(gatherStereo(u, &BassBoost::b1, &BassBoost::b1)),
        b2(gatherStereo(u, &BassBoost::b2, &BassBoost::b2)),
        a1(gatherStereo(u, &BassBoost::a1, &BassBoost::a1)),
        a2(gatherStereo(u, &BassBoost::a2, &BassBoost::a2)),
        x1(gatherStereo(u, &BassBoost::x1Left, &BassBoost::x1Right)),
        x2(gatherStereo(u, &BassBoost::x2Left, &BassBoost::x2Right)),
        y1(gatherStereo(u, &BassBoost::y1Left, &BassBoost::y1Right)),
        y2(gatherStereo(u, &BassBoost::y2Left, &BassBoost::y2Right)) {}
  void store(BassBoost* const* u, int used) const {
    scatterStereo(u, used, &BassBoost::x1Left, &BassBoost::x1Right, x1);
    scatterStereo(u, used, &BassBoost::x2Left, &BassBoost::x2Right, x2);
    scatterStereo(u, used, &BassBoost::y1Left, &BassBoost::y1Right, y1);
    scatterStereo(u, used, &BassBoost::y2Left, &BassBoost::y2Right, y2);
  }
  [[gnu::always_inline]] Lanes step(Lanes in) {
    const Lanes x = in + kDenormGuard;
    const Lanes y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

}  // namespace

void render(BassBoost& b, float* buffer, int frames, const SynthConstants&) {
  if (!isActive(b)) return;
  BassBoost* const one[] = {&b};
  renderLanes(one, 1, &buffer, frames);
}

void renderLanes(BassBoost* const* units, int count, float* const* bufs, int frames) {
  renderStereoBatch<BiquadKernel>(units, count, bufs, frames);
}
