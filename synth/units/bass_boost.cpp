#include "synth/units/bass_boost.h"

#include <algorithm>
#include <cmath>

#include "synth/units/lanes.h"
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

bool isActive(const BassBoost& b) {
  return (b.enabled & 0xFF) != 0;
}

void render(BassBoost& b, float* buffer, int frames, const SynthConstants&) {
  if (!isActive(b)) return;
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

namespace {

constexpr int kUnitsPerRegister = 2;
constexpr int kMaxRegisters = 4;

// Coefficients and memories of two units in one register: left and right of
// the first, then of the second.
struct BiquadLanes {
  Lanes b0, b1, b2, a1, a2;
  Lanes x1, x2, y1, y2;

  void load(const BassBoost& p, const BassBoost& q) {
    b0 = makeLanes(p.b0, p.b0, q.b0, q.b0);
    b1 = makeLanes(p.b1, p.b1, q.b1, q.b1);
    b2 = makeLanes(p.b2, p.b2, q.b2, q.b2);
    a1 = makeLanes(p.a1, p.a1, q.a1, q.a1);
    a2 = makeLanes(p.a2, p.a2, q.a2, q.a2);
    x1 = makeLanes(p.x1Left, p.x1Right, q.x1Left, q.x1Right);
    x2 = makeLanes(p.x2Left, p.x2Right, q.x2Left, q.x2Right);
    y1 = makeLanes(p.y1Left, p.y1Right, q.y1Left, q.y1Right);
    y2 = makeLanes(p.y2Left, p.y2Right, q.y2Left, q.y2Right);
  }

  // Memories back into the first unit and, when given, the second.
  void store(BassBoost& p, BassBoost* q) const {
    float v[4][kLaneCount];
    storeLanes(v[0], x1);
    storeLanes(v[1], x2);
    storeLanes(v[2], y1);
    storeLanes(v[3], y2);
    const auto put = [&](BassBoost& b, int at) {
      b.x1Left = v[0][at];
      b.x1Right = v[0][at + 1];
      b.x2Left = v[1][at];
      b.x2Right = v[1][at + 1];
      b.y1Left = v[2][at];
      b.y1Right = v[2][at + 1];
      b.y2Left = v[3][at];
      b.y2Right = v[3][at + 1];
    };
    put(p, 0);
    if (q) put(*q, 2);
  }

  [[gnu::always_inline]] Lanes step(Lanes in, Lanes guard) {
    const Lanes x = in + guard;
    const Lanes y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// Spare places repeat unit 0 and are dropped.
template <int Registers>
void renderRegisters(BassBoost* const* units, int count, float* const* bufs, int frames) {
  constexpr int kWidth = Registers * kUnitsPerRegister;
  float* src[kWidth];
  for (int c = 0; c < kWidth; ++c) src[c] = bufs[c < count ? c : 0];
  BiquadLanes lanes[Registers];
  for (int g = 0; g < Registers; ++g) {
    const int second = 2 * g + 1 < count ? 2 * g + 1 : 0;
    lanes[g].load(*units[2 * g], *units[second]);
  }
  const Lanes guard = splat(kDenormGuard);
  int i = 0;
  for (; i + 2 <= frames; i += 2) {
    for (int g = 0; g < Registers; ++g) {
      float* a = src[2 * g] + 2 * i;
      float* b = src[2 * g + 1] + 2 * i;
      const Lanes inA = loadLanes(a);
      const Lanes inB = loadLanes(b);
      const Lanes y0 = lanes[g].step(lowHalves(inA, inB), guard);
      const Lanes y1 = lanes[g].step(highHalves(inA, inB), guard);
      storeLanes(a, lowHalves(y0, y1));
      if (2 * g + 1 < count) storeLanes(b, highHalves(y0, y1));
    }
  }
  for (; i < frames; ++i) {
    for (int g = 0; g < Registers; ++g) {
      float* a = src[2 * g] + 2 * i;
      float* b = src[2 * g + 1] + 2 * i;
      float y[kLaneCount];
      storeLanes(y, lanes[g].step(makeLanes(a[0], a[1], b[0], b[1]), guard));
      a[0] = y[0];
      a[1] = y[1];
      if (2 * g + 1 < count) {
        b[0] = y[2];
        b[1] = y[3];
      }
    }
  }
  for (int g = 0; g < Registers; ++g) {
    lanes[g].store(*units[2 * g], 2 * g + 1 < count ? units[2 * g + 1] : nullptr);
  }
}

}  // namespace

void renderLanes(BassBoost* const* units, int count, float* const* bufs, int frames) {
  constexpr int kChunk = kUnitsPerRegister * kMaxRegisters;
  for (int first = 0; first < count; first += kChunk) {
    const int n = std::min(count - first, kChunk);
    switch ((n + 1) / kUnitsPerRegister) {
      case 1:
        renderRegisters<1>(units + first, n, bufs + first, frames);
        break;
      case 2:
        renderRegisters<2>(units + first, n, bufs + first, frames);
        break;
      case 3:
        renderRegisters<3>(units + first, n, bufs + first, frames);
        break;
      default:
        renderRegisters<4>(units + first, n, bufs + first, frames);
        break;
    }
  }
}
