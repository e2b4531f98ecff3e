#include "synth/units/oscillator.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every waveform is defined once as a per-sample function; the render loops
// either call it directly (block tails, samples where the
// band-averaged shapes cross a corner) or compute the same operations four
// samples at a time. Both give the same bits: the vector code performs the
// identical single-precision operations in the identical order.

namespace {

constexpr uint32_t kNoiseSeeds[3] = {0xDEADBEEFu, 0xBAADF00Du, 0xD3ADC0DEu};
constexpr float kParamRange = 128.0f;           // parameters run 0..128
constexpr float kParamCentre = 64.0f;           // centre of transpose and fine tune
constexpr float kCentreNote = 60.0f;            // note that plays at BasePhaseStep
constexpr float kSemitone = 0.0833333358f;      // 1/12 to single precision
constexpr float kNoiseOctaves = 10.0f;          // span of the noise filter frequency
constexpr float kNoiseStabilityMargin = 0.98f;  // keeps the noise filter off its edge
constexpr float kAuxGain = 0.6f;                // aux input gain on (left + right)
constexpr uint32_t kQuarterCycle = 0x40000000u;

enum class Write { Add, Replace, Ring };

template <Write W>
inline float combine(float b, float v) {
  if constexpr (W == Write::Ring) {
    return v * b;
  } else if constexpr (W == Write::Replace) {
    return v;
  } else {
    return b + v;
  }
}

// Crossing flags of one sample as a row index: bit 0 = the previous phase lay
// below the threshold, bit 1 = the phase wrapped into this sample, bit 2 = the
// current phase lies below the threshold. "Wrapped" is phase < step, which is
// both the carry of the addition that produced the phase and, for the first
// sample of a call, the borrow of phase - step.
enum CrossingRow : int {
  kFalling = 0,        // falling part only
  kBreak = 1,          // crossed the threshold
  kWrapThenBreak = 2,  // cycle end, then the threshold
  kFallingAlso = 3,    // cannot occur; treated as falling
  kRisingAlso = 4,     // cannot occur; treated as rising
  kRising = 5,         // rising part only
  kWrap = 6,           // crossed the cycle end
  kBreakThenWrap = 7,  // the threshold, then the cycle end
};

inline int crossingRow(uint32_t phase, uint32_t step, uint32_t threshold) {
  const int prev = (phase - step) < threshold;
  const int wrap = phase < step;
  const int cur = phase < threshold;
  return prev | (wrap << 1) | (cur << 2);
}

// Per-call constants of the band-averaged shapes, from the 23-bit fractions of
// the threshold (pw) and the step (d).
struct Shape {
  float g;           // level G
  float pw;          // threshold fraction
  float d;           // step fraction
  float invD;        // 1 / d
  float fall;        // TriSaw slope term A = -G / (1 - pw)
  float rise;        // TriSaw slope term B = G / pw (infinite at pw 0, then never used)
  float fallSpan;    // A (1 - d)
  float riseSpan;    // B (1 - d)
  float gInvD;       // G / d
  float pulseU;      // pulse mean over cycle end then threshold
  float pulseV;      // pulse mean over threshold then cycle end
  bool pointSample;  // step below one fraction unit (d = 0): no interval to average
};

Shape shapeOf(const Oscillator& o) {
  Shape s;
  s.g = o.level;
  s.pw = phaseFraction(o.colourThreshold);
  s.d = phaseFraction(o.phaseStep);
  s.pointSample = s.d == 0.0f;
  s.invD = s.pointSample ? 0.0f : 1.0f / s.d;
  s.fall = -s.g / (1.0f - s.pw);
  s.rise = s.g / s.pw;
  s.fallSpan = s.fall * (1.0f - s.d);
  s.riseSpan = s.rise * (1.0f - s.d);
  s.gInvD = s.g * s.invD;
  s.pulseU = 2.0f * s.pw * s.gInvD - s.g;
  s.pulseV = (2.0f * s.pw - 2.0f) * s.gInvD + s.g;
  return s;
}

// TriSaw: -G at phase 0 rising to +G at pw, falling back to -G at phase 1.
// Each sample is the mean of that shape over the phase interval [t - d, t].
inline float triSawSample(uint32_t phase, uint32_t step, uint32_t threshold, const Shape& s) {
  const float t = phaseFraction(phase);
  const float x = t - s.pw;
  const int row = crossingRow(phase, step, threshold);
  switch (row) {
    case kRising:
    case kRisingAlso:
      return s.g + s.rise * ((x + x) - s.d);
    case kFalling:
    case kFallingAlso:
      return s.g + s.fall * ((x + x) - s.d);
    default:
      break;
  }
  // A zero-length interval has no mean to take: the shape's value at t, which
  // is also what the formulas below tend to as d shrinks.
  if (s.pointSample) return t < s.pw ? s.rise * (t + t) - s.g : s.g + s.fall * (x + x);
  switch (row) {
    case kBreak: {
      const float xd = x - s.d;
      return s.g + (s.fall * (x * x) - s.rise * (xd * xd)) * s.invD;
    }
    case kWrap: {
      const float e = (1.0f + x) - s.d;
      return s.g - ((s.fall * (e * e) - s.rise * (x * x)) + s.g) * s.invD;
    }
    case kWrapThenBreak:
      return s.g - (s.fallSpan * (((x + x) + 1.0f) - s.d) + s.g) * s.invD;
    default:  // kBreakThenWrap
      return s.g - (s.riseSpan * (((x + x) + 1.0f) - s.d) + s.g) * s.invD;
  }
}

// Pulse: +G while the phase is below pw, -G after; the mean over [t - d, t].
inline float pulseSample(uint32_t phase, uint32_t step, uint32_t threshold, const Shape& s) {
  const int row = crossingRow(phase, step, threshold);
  switch (row) {
    case kRising:
    case kRisingAlso:
      return s.g;
    case kFalling:
    case kFallingAlso:
      return -s.g;
    default:
      break;
  }
  const float t = phaseFraction(phase);
  if (s.pointSample) return t < s.pw ? s.g : -s.g;
  switch (row) {
    case kBreak:
      return s.g + (2.0f * (s.pw - t)) * s.gInvD;
    case kWrap:
      return (2.0f * t) * s.gInvD - s.g;
    case kWrapThenBreak:
      return s.pulseU;
    default:  // kBreakThenWrap
      return s.pulseV;
  }
}

// sin(2 pi phase / 2^32) from the phase bits: fold the quarter-shifted phase
// onto a half cycle and evaluate the polynomial on [-pi/2, pi/2).
inline float sineWave(uint32_t phase) {
  uint32_t u = phase + kQuarterCycle;
  u ^= static_cast<uint32_t>(static_cast<int32_t>(u) >> 31);
  const float f = static_cast<float>(static_cast<int32_t>(u >> 8)) * kPhaseFractionUnit;
  const float y = kSinePi * (1.0f + f) - kSineThreeHalfPi;
  return sinePoly(y);
}

inline float phaseModSample(uint32_t phase, float b, float g) {
  const float t = phaseFraction(phase);
  return g * sineApprox(kSineTwoPi * ((1.0f + t) + (b + b)));
}

// White noise in [-1, 1) from the generator's top 23 bits.
inline float noiseValue(uint32_t seed) {
  return 2.0f * (1.0f + phaseFraction(seed)) - 3.0f;
}

#if defined(__SSE2__)
using F4 = __m128;
using I4 = __m128i;

inline F4 select4(I4 mask, F4 a, F4 b) {
  const F4 m = _mm_castsi128_ps(mask);
  return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b));
}
inline F4 select4(F4 m, F4 a, F4 b) {
  return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b));
}

inline F4 fraction4(I4 phase) {
  return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(phase, 9)), _mm_set1_ps(kPhaseFractionUnit));
}

inline I4 phaseRamp4(uint32_t phase, uint32_t step) {
  return _mm_setr_epi32(static_cast<int>(phase), static_cast<int>(phase + step),
                        static_cast<int>(phase + 2 * step), static_cast<int>(phase + 3 * step));
}

template <Write W>
inline F4 combine4(F4 b, F4 v) {
  if constexpr (W == Write::Ring) {
    return _mm_mul_ps(v, b);
  } else if constexpr (W == Write::Replace) {
    return v;
  } else {
    return _mm_add_ps(b, v);
  }
}

inline F4 sinePoly4(F4 y) {
  const F4 y2 = _mm_mul_ps(y, y);
  F4 p = _mm_add_ps(_mm_set1_ps(kSineC2), _mm_mul_ps(y2, _mm_set1_ps(kSineC3)));
  p = _mm_add_ps(_mm_set1_ps(kSineC1), _mm_mul_ps(y2, p));
  p = _mm_add_ps(_mm_set1_ps(1.0f), _mm_mul_ps(y2, p));
  return _mm_mul_ps(y, p);
}

// Same as floorFast, four lanes.
inline F4 floor4(F4 q) {
  const F4 magnitude = _mm_and_ps(q, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
  const F4 small = _mm_cmplt_ps(magnitude, _mm_set1_ps(8388608.0f));
  const F4 f = _mm_cvtepi32_ps(_mm_cvttps_epi32(q));
  const F4 floored = _mm_sub_ps(f, _mm_and_ps(_mm_cmpgt_ps(f, q), _mm_set1_ps(1.0f)));
  return select4(small, floored, q);
}

// Same as sineApprox, four lanes.
inline F4 sineApprox4(F4 x) {
  const F4 twoPi = _mm_set1_ps(kSineTwoPi);
  const F4 halfPi = _mm_set1_ps(kSineHalfPi);
  const F4 r = _mm_sub_ps(x, _mm_mul_ps(twoPi, floor4(_mm_div_ps(x, twoPi))));
  const F4 upper = select4(_mm_cmple_ps(r, _mm_set1_ps(kSineThreeHalfPi)),
                           _mm_sub_ps(_mm_set1_ps(kSinePi), r), _mm_sub_ps(r, twoPi));
  F4 y = select4(_mm_cmple_ps(r, halfPi), r, upper);
  y = _mm_min_ps(y, halfPi);
  y = _mm_max_ps(y, _mm_set1_ps(-kSineHalfPi));
  return sinePoly4(y);
}

// Lanes whose sample crosses the threshold or the cycle end, as a bit mask.
struct Crossings4 {
  I4 bias, step, stepBiased, thresholdBiased;
  Crossings4(uint32_t phaseStep, uint32_t threshold)
      : bias(_mm_set1_epi32(INT32_MIN)),
        step(_mm_set1_epi32(static_cast<int>(phaseStep))),
        stepBiased(_mm_set1_epi32(static_cast<int>(phaseStep ^ 0x80000000u))),
        thresholdBiased(_mm_set1_epi32(static_cast<int>(threshold ^ 0x80000000u))) {}
  // Unsigned compares as signed compares of the sign-flipped values.
  I4 below(I4 phase) const { return _mm_cmplt_epi32(_mm_xor_si128(phase, bias), thresholdBiased); }
  int corners(I4 phase, I4 cur) const {
    const I4 prev = below(_mm_sub_epi32(phase, step));
    const I4 wrap = _mm_cmplt_epi32(_mm_xor_si128(phase, bias), stepBiased);
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(wrap, _mm_xor_si128(prev, cur))));
  }
};
#endif

template <Write W>
void renderTriSaw(Oscillator& o, float* buf, int n) {
  const Shape s = shapeOf(o);
  const uint32_t step = o.phaseStep;
  const uint32_t threshold = o.colourThreshold;
  uint32_t phase = o.phase;
  int i = 0;
#if defined(__SSE2__)
  const Crossings4 crossings(step, threshold);
  const I4 advance = _mm_set1_epi32(static_cast<int>(4 * step));
  const F4 g = _mm_set1_ps(s.g), pw = _mm_set1_ps(s.pw), d = _mm_set1_ps(s.d);
  const F4 rise = _mm_set1_ps(s.rise), fall = _mm_set1_ps(s.fall);
  I4 ph = phaseRamp4(phase, step);
  for (; i + 4 <= n; i += 4) {
    const I4 cur = crossings.below(ph);
    if (crossings.corners(ph, cur) == 0) {
      const F4 x = _mm_sub_ps(fraction4(ph), pw);
      const F4 slope = select4(cur, rise, fall);
      const F4 v = _mm_add_ps(g, _mm_mul_ps(slope, _mm_sub_ps(_mm_add_ps(x, x), d)));
      _mm_storeu_ps(buf + i, combine4<W>(_mm_loadu_ps(buf + i), v));
    } else {
      for (int k = 0; k < 4; ++k) {
        buf[i + k] = combine<W>(buf[i + k], triSawSample(phase + k * step, step, threshold, s));
      }
    }
    ph = _mm_add_epi32(ph, advance);
    phase += 4 * step;
  }
#endif
  for (; i < n; ++i, phase += step) {
    buf[i] = combine<W>(buf[i], triSawSample(phase, step, threshold, s));
  }
  o.phase = phase;
}

template <Write W>
void renderPulse(Oscillator& o, float* buf, int n) {
  const Shape s = shapeOf(o);
  const uint32_t step = o.phaseStep;
  const uint32_t threshold = o.colourThreshold;
  uint32_t phase = o.phase;
  int i = 0;
#if defined(__SSE2__)
  const Crossings4 crossings(step, threshold);
  const I4 advance = _mm_set1_epi32(static_cast<int>(4 * step));
  const F4 high = _mm_set1_ps(s.g), low = _mm_set1_ps(-s.g);
  I4 ph = phaseRamp4(phase, step);
  for (; i + 4 <= n; i += 4) {
    const I4 cur = crossings.below(ph);
    if (crossings.corners(ph, cur) == 0) {
      _mm_storeu_ps(buf + i, combine4<W>(_mm_loadu_ps(buf + i), select4(cur, high, low)));
    } else {
      for (int k = 0; k < 4; ++k) {
        buf[i + k] = combine<W>(buf[i + k], pulseSample(phase + k * step, step, threshold, s));
      }
    }
    ph = _mm_add_epi32(ph, advance);
    phase += 4 * step;
  }
#endif
  for (; i < n; ++i, phase += step) {
    buf[i] = combine<W>(buf[i], pulseSample(phase, step, threshold, s));
  }
  o.phase = phase;
}

template <Write W>
void renderSine(Oscillator& o, float* buf, int n) {
  const float level = o.level;
  const uint32_t step = o.phaseStep;
  uint32_t phase = o.phase;
  int i = 0;
#if defined(__SSE2__)
  const I4 advance = _mm_set1_epi32(static_cast<int>(4 * step));
  const I4 quarter = _mm_set1_epi32(static_cast<int>(kQuarterCycle));
  const F4 g = _mm_set1_ps(level);
  I4 ph = phaseRamp4(phase, step);
  for (; i + 4 <= n; i += 4) {
    I4 u = _mm_add_epi32(ph, quarter);
    u = _mm_xor_si128(u, _mm_srai_epi32(u, 31));
    const F4 f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(u, 8)), _mm_set1_ps(kPhaseFractionUnit));
    const F4 y = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(kSinePi), _mm_add_ps(_mm_set1_ps(1.0f), f)),
                            _mm_set1_ps(kSineThreeHalfPi));
    const F4 v = _mm_mul_ps(g, sinePoly4(y));
    _mm_storeu_ps(buf + i, combine4<W>(_mm_loadu_ps(buf + i), v));
    ph = _mm_add_epi32(ph, advance);
  }
  phase += static_cast<uint32_t>(i) * step;
#endif
  for (; i < n; ++i, phase += step) buf[i] = combine<W>(buf[i], level * sineWave(phase));
  o.phase = phase;
}

template <Write W>
void renderPhaseMod(Oscillator& o, float* buf, int n) {
  const float level = o.level;
  const uint32_t step = o.phaseStep;
  uint32_t phase = o.phase;
  int i = 0;
#if defined(__SSE2__)
  const I4 advance = _mm_set1_epi32(static_cast<int>(4 * step));
  const F4 g = _mm_set1_ps(level);
  const F4 one = _mm_set1_ps(1.0f);
  const F4 twoPi = _mm_set1_ps(kSineTwoPi);
  I4 ph = phaseRamp4(phase, step);
  for (; i + 4 <= n; i += 4) {
    const F4 b = _mm_loadu_ps(buf + i);
    const F4 arg = _mm_mul_ps(twoPi, _mm_add_ps(_mm_add_ps(one, fraction4(ph)), _mm_add_ps(b, b)));
    const F4 v = _mm_mul_ps(g, sineApprox4(arg));
    _mm_storeu_ps(buf + i, combine4<W>(b, v));
    ph = _mm_add_epi32(ph, advance);
  }
  phase += static_cast<uint32_t>(i) * step;
#endif
  for (; i < n; ++i, phase += step)
    buf[i] = combine<W>(buf[i], phaseModSample(phase, buf[i], level));
  o.phase = phase;
}

// The noise filter is one recursion per sample; it stays scalar.
template <Write W>
void renderNoise(Oscillator& o, float* buf, int n) {
  const float f = o.noiseFrequency;
  const float q = o.noiseDamping;
  const float g = o.level;
  uint32_t seed = o.noiseSeed;
  float low = o.noiseLow;
  float band = o.noiseBand;
  for (int i = 0; i < n; ++i) {
    seed = noiseLcg(seed);
    const float white = noiseValue(seed);
    low = low + f * band;
    const float high = white - q * band - low;
    band = band + f * high;
    buf[i] = combine<W>(buf[i], g * (q * (high + low) + band));
  }
  o.noiseSeed = seed;
  o.noiseLow = low;
  o.noiseBand = band;
}

template <Write W>
void renderAux(const Oscillator& o, float* buf, int n, const float* bus) {
  const float gain = o.level * kAuxGain;
  if (bus == nullptr) {
    for (int i = 0; i < n; ++i) buf[i] = combine<W>(buf[i], gain * 0.0f);
    return;
  }
  int i = 0;
#if defined(__SSE2__)
  const F4 g = _mm_set1_ps(gain);
  for (; i + 4 <= n; i += 4) {
    const F4 a = _mm_loadu_ps(bus + 2 * i);
    const F4 b = _mm_loadu_ps(bus + 2 * i + 4);
    const F4 left = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    const F4 right = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    const F4 v = _mm_mul_ps(g, _mm_add_ps(left, right));
    _mm_storeu_ps(buf + i, combine4<W>(_mm_loadu_ps(buf + i), v));
  }
#endif
  for (; i < n; ++i) buf[i] = combine<W>(buf[i], gain * (bus[2 * i] + bus[2 * i + 1]));
}

// Modes that add their signal; the rest replace the buffer.
bool addsToBuffer(OscMode mode) {
  return mode == OscMode::TriSaw || mode == OscMode::Pulse || mode == OscMode::Sine ||
         mode == OscMode::Noise;
}

template <Write W>
void renderMode(Oscillator& o, OscMode mode, float* buf, int n, const float* auxA,
                const float* auxB) {
  switch (mode) {
    case OscMode::Off:
      return;
    case OscMode::TriSaw:
      return renderTriSaw<W>(o, buf, n);
    case OscMode::Pulse:
      return renderPulse<W>(o, buf, n);
    case OscMode::Sine:
      return renderSine<W>(o, buf, n);
    case OscMode::Noise:
      return renderNoise<W>(o, buf, n);
    case OscMode::PhaseModSine:
      return renderPhaseMod<W>(o, buf, n);
    case OscMode::AuxInputA:
      return renderAux<W>(o, buf, n, auxA);
    case OscMode::AuxInputB:
      return renderAux<W>(o, buf, n, auxB);
  }
}

}  // namespace

void reset(Oscillator& osc, int index) {
  osc.phase = 0;
  osc.noiseLow = 0.0f;
  osc.noiseBand = 0.0f;
  osc.noiseSeed = kNoiseSeeds[index >= 0 && index < 3 ? index : 0];
}

void setup(Oscillator& osc, const float* p, const SynthConstants& k) {
  osc.mode = roundToInt(p[0]);
  osc.flags = roundToInt(p[1]);
  osc.pitchOffset = (p[2] - kParamCentre) + (p[3] - kParamCentre) / kParamRange;
  const float colour = p[4] / kParamRange;
  osc.colourThreshold = halfCycleToPhase(colour);
  // A colour past 128 would make the damping negative: the noise filter
  // would grow without bound.
  osc.noiseDamping = std::max(1.0f - std::sqrt(colour), 0.0f);
  osc.level = p[5] / kParamRange;
  updatePitch(osc, k);
}

void updatePitch(Oscillator& osc, const SynthConstants& k) {
  const float offset = osc.pitchOffset;
  // Transposed past 128 the noise filter's frequency would leave its stable
  // range (below sqrt(q^2 + 4) - q); it stops short of the edge instead.
  const float q = osc.noiseDamping;
  const float stable = (std::sqrt(q * q + 4.0f) - q) * kNoiseStabilityMargin;
  osc.noiseFrequency = std::min(
      exp2Single(kNoiseOctaves * (offset - kParamCentre) / kParamRange) * k.rateScale, stable);
  // A step that overflows the signed range rounds to 2^31: half a cycle per sample.
  osc.phaseStep = static_cast<uint32_t>(
      roundToInt(k.basePhaseStep * exp2Single(((osc.pitch + offset) - kCentreNote) * kSemitone)));
}

void render(Oscillator& osc, float* buffer, int count, const float* auxA, const float* auxB) {
  if (count <= 0 || buffer == nullptr) return;
  const auto mode = static_cast<OscMode>(osc.mode & kOscModeMask);
  if ((osc.flags & kOscRingFlag) != 0) {
    renderMode<Write::Ring>(osc, mode, buffer, count, auxA, auxB);
  } else if (addsToBuffer(mode)) {
    renderMode<Write::Add>(osc, mode, buffer, count, auxA, auxB);
  } else {
    renderMode<Write::Replace>(osc, mode, buffer, count, auxA, auxB);
  }
}
