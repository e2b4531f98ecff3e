#include "synth/units/mod_delay.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

namespace {

constexpr float kLfoBaseStep = 1973915.5f;  // phase step at rate 128: ~2176-sample cycle
constexpr float kMaxDepth = 1023.0f;

// Rising over the first half cycle, falling over the second: 0 .. 2^32 - 1.
inline uint32_t triangle(uint32_t phase) {
  return (phase << 1) ^ (phase >= 0x80000000u ? 0xFFFFFFFFu : 0u);
}

// Delay offset (whole samples) and interpolation weight for one tap.
struct TapPosition {
  uint32_t whole;
  float fraction;
};

inline TapPosition tapPosition(uint32_t phase, uint32_t depth, uint32_t base) {
  const uint64_t q = static_cast<uint64_t>(triangle(phase)) * depth;
  const uint32_t low = static_cast<uint32_t>(q);
  return {base + static_cast<uint32_t>(q >> 32), static_cast<float>(low >> 9) * kPhaseFractionUnit};
}

// Stereo frames in, stereo frames out. The channel form reads and writes the
// same interleaved buffer; the global form reads a mono bus (both sides take
// the same sample), has no dry part and adds into the master buffer.
template <bool kGlobal>
void run(ModDelay& d, const float* in, float* out, int frames) {
  float* const lineL = d.lineLeft;
  float* const lineR = d.lineRight;
  const uint32_t mask = d.mask;
  const uint32_t baseL = static_cast<uint32_t>(d.delayLeft);
  const uint32_t baseR = static_cast<uint32_t>(d.delayRight);
  const uint32_t depth = static_cast<uint32_t>(d.depth);
  const uint32_t step = d.lfoStep;
  const uint32_t offset = d.lfoOffset;
  const float feedback = d.feedback;
  const float dry = d.dry;
  const float wet = d.wet;
  uint32_t w = d.writeIndex;
  uint32_t phase = d.lfoPhase;

  for (int i = 0; i < frames; ++i) {
    float inL, inR;
    if constexpr (kGlobal) {
      inL = inR = in[i] + kDenormGuard;
    } else {
      inL = in[2 * i] + kDenormGuard;
      inR = in[2 * i + 1] + kDenormGuard;
    }

    // Right side: reads between D + 1 and D samples back.
    const TapPosition pr = tapPosition(phase + offset, depth, baseR);
    const float ar = lineR[(w - pr.whole - 1) & mask];
    const float br = lineR[(w - pr.whole) & mask];
    const float tapR = ar + (1.0f - pr.fraction) * (br - ar);
    lineR[w] = inR + feedback * tapR;

    // Left side: one sample less delay than the right for equal settings.
    const TapPosition pl = tapPosition(phase, depth, baseL);
    const float al = lineL[(w - pl.whole) & mask];
    const float bl = lineL[(w - pl.whole + 1) & mask];
    const float tapL = al + (1.0f - pl.fraction) * (bl - al);
    lineL[w] = inL + feedback * tapL;

    if constexpr (kGlobal) {
      out[2 * i] += tapL * wet;
      out[2 * i + 1] += tapR * wet;
    } else {
      out[2 * i] = inL * dry + tapL * wet;
      out[2 * i + 1] = inR * dry + tapR * wet;
    }

    phase += step;
    w = (w + 1) & mask;
  }
  d.writeIndex = w;
  d.lfoPhase = phase;
}

}  // namespace

void attachLines(ModDelay& d, float* left, float* right, uint32_t mask) {
  d.lineLeft = left;
  d.lineRight = right;
  d.mask = mask;
}

void reset(ModDelay& d) {
  d.writeIndex = 0;
  d.lfoPhase = 0;
  std::fill(d.lineLeft, d.lineLeft + d.mask + 1, 0.0f);
  std::fill(d.lineRight, d.lineRight + d.mask + 1, 0.0f);
}

void setup(ModDelay& d, const float* m, const SynthConstants& k) {
  // Settings past 128 stay at the ends of the ranges: a feedback beyond 1
  // would make every echo louder than the last, without bound.
  const float v = std::clamp((m[0] - 64.0f) / 64.0f, -1.0f, 1.0f);
  d.wet = v;
  d.dry = 1.0f - std::fabs(v);
  d.feedback = std::clamp((m[1] - 64.0f) / 64.0f, -1.0f, 1.0f);

  // Base delays scale with the line: 8 samples per step on 2,048-sample
  // lines, 248 on 32,768-sample lines. Reads are masked, so any value is safe.
  const float z = static_cast<float>(static_cast<int32_t>(d.mask) - 1023) / 128.0f;
  d.delayLeft = roundToInt(m[2] * z);
  d.delayRight = roundToInt(m[3] * z);

  // Steps beyond 2^31 occur only at low sample rates; the phase wraps mod 2^32.
  const float rate =
      portableExp2(10.0f * (m[4] / kParamFullScale - 1.0f)) * kLfoBaseStep * k.rateScale;
  d.lfoStep = static_cast<uint32_t>(std::llrint(rate));

  d.depth = roundToInt(m[5] / kParamFullScale * kMaxDepth);
  const long long half = std::llrint((m[6] - 64.0f) / kParamFullScale * 2147483648.0f);
  d.lfoOffset = static_cast<uint32_t>(2 * half);
}

void render(ModDelay& d, float* buffer, int frames) {
  if (d.wet == 0.0f) return;
  run<false>(d, buffer, buffer, frames);
}

void renderGlobal(ModDelay& d, const float* bus, float* master, int frames) {
  if (d.wet == 0.0f) return;
  run<true>(d, bus, master, frames);
}
