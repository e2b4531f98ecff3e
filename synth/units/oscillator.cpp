#include "synth/units/oscillator.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

// Every waveform is written once, over its phase type (uint32_t for one
// sample, PhaseLanes for four) and sample type (float or Lanes); the render
// loop runs it on four samples at a time and on single samples (block tails,
// samples where the band-averaged shapes cross a corner). Both give the same
// bits: the same single-precision operations in the same order.

namespace {

constexpr uint32_t kNoiseSeeds[3] = {0xDEADBEEFu, 0xBAADF00Du, 0xD3ADC0DEu};
constexpr float kParamCentre = 64.0f;           // centre of transpose and fine tune
constexpr float kCentreNote = 60.0f;            // note that plays at BasePhaseStep
constexpr float kSemitone = 0.0833333358f;      // 1/12 to single precision
constexpr float kNoiseOctaves = 10.0f;          // span of the noise filter frequency
constexpr float kNoiseStabilityMargin = 0.98f;  // keeps the noise filter off its edge
constexpr float kAuxGain = 0.6f;                // aux input gain on (left + right)
constexpr uint32_t kQuarterCycle = 0x40000000u;

enum class Write { Add, Replace, Ring };

template <Write W, class T>
inline T combine(T b, T v) {
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
enum class CrossingRow : int {
  Falling = 0,        // falling part only
  Break = 1,          // crossed the threshold
  WrapThenBreak = 2,  // cycle end, then the threshold
  FallingAlso = 3,    // cannot occur; treated as falling
  RisingAlso = 4,     // cannot occur; treated as rising
  Rising = 5,         // rising part only
  Wrap = 6,           // crossed the cycle end
  BreakThenWrap = 7,  // the threshold, then the cycle end
};

inline CrossingRow crossingRow(uint32_t phase, uint32_t step, uint32_t threshold) {
  const int prev = (phase - step) < threshold;
  const int wrap = phase < step;
  const int cur = phase < threshold;
  return static_cast<CrossingRow>(prev | (wrap << 1) | (cur << 2));
}

// Rows whose interval crosses no corner: the mean of one straight segment.
inline bool isStraight(CrossingRow row) {
  return row == CrossingRow::Falling || row == CrossingRow::FallingAlso ||
         row == CrossingRow::RisingAlso || row == CrossingRow::Rising;
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

// Samples whose interval crosses the threshold or the cycle end, as a mask.
inline Lanes cornersOf(PhaseLanes phase, uint32_t step, uint32_t threshold) {
  const Lanes cur = belowOf(phase, threshold);
  const Lanes prev = belowOf(phase - step, threshold);
  return belowOf(phase, step) | (prev ^ cur);
}

// TriSaw: -G at phase 0 rising to +G at pw, falling back to -G at phase 1.
// Each sample is the mean of that shape over the phase interval [t - d, t];
// between corners, the mean of a straight segment.
template <class P, class T>
[[gnu::always_inline]] inline T triSawStraight(P phase, uint32_t threshold, const Shape& s) {
  const T x = phaseFraction(phase) - s.pw;
  return s.g + selectOf(belowOf(phase, P(threshold)), T(s.rise), T(s.fall)) * ((x + x) - s.d);
}

inline float triSawSample(uint32_t phase, uint32_t step, uint32_t threshold, const Shape& s) {
  const float t = phaseFraction(phase);
  const float x = t - s.pw;
  const CrossingRow row = crossingRow(phase, step, threshold);
  if (isStraight(row)) return triSawStraight<uint32_t, float>(phase, threshold, s);
  // A zero-length interval has no mean to take: the shape's value at t, which
  // is also what the formulas below tend to as d shrinks.
  if (s.pointSample) return t < s.pw ? s.rise * (t + t) - s.g : s.g + s.fall * (x + x);
  switch (row) {
    case CrossingRow::Break: {
      const float xd = x - s.d;
      return s.g + (s.fall * (x * x) - s.rise * (xd * xd)) * s.invD;
    }
    case CrossingRow::Wrap: {
      const float e = (1.0f + x) - s.d;
      return s.g - ((s.fall * (e * e) - s.rise * (x * x)) + s.g) * s.invD;
    }
    case CrossingRow::WrapThenBreak:
      return s.g - (s.fallSpan * (((x + x) + 1.0f) - s.d) + s.g) * s.invD;
    default:  // BreakThenWrap
      return s.g - (s.riseSpan * (((x + x) + 1.0f) - s.d) + s.g) * s.invD;
  }
}

// Pulse: +G while the phase is below pw, -G after; the mean over [t - d, t].
template <class P, class T>
[[gnu::always_inline]] inline T pulseStraight(P phase, uint32_t threshold, const Shape& s) {
  return selectOf(belowOf(phase, P(threshold)), T(s.g), T(-s.g));
}

inline float pulseSample(uint32_t phase, uint32_t step, uint32_t threshold, const Shape& s) {
  const CrossingRow row = crossingRow(phase, step, threshold);
  if (isStraight(row)) return pulseStraight<uint32_t, float>(phase, threshold, s);
  const float t = phaseFraction(phase);
  if (s.pointSample) return t < s.pw ? s.g : -s.g;
  switch (row) {
    case CrossingRow::Break:
      return s.g + (2.0f * (s.pw - t)) * s.gInvD;
    case CrossingRow::Wrap:
      return (2.0f * t) * s.gInvD - s.g;
    case CrossingRow::WrapThenBreak:
      return s.pulseU;
    default:  // BreakThenWrap
      return s.pulseV;
  }
}

// sin(2 pi phase / 2^32) from the phase bits: fold the quarter-shifted phase
// onto a half cycle and evaluate the polynomial on [-pi/2, pi/2).
template <class P>
[[gnu::always_inline]] inline auto sineWave(P phase) {
  P u = phase + P(kQuarterCycle);
  u = u ^ signMaskOf(u);
  const auto f = toFloatOf(u >> 8) * kPhaseFractionUnit;
  return sinePoly(kSinePi * (1.0f + f) - kSineThreeHalfPi);
}

// White noise in [-1, 1) from the generator's top 23 bits.
inline float noiseValue(uint32_t seed) {
  return 2.0f * (1.0f + phaseFraction(seed)) - 3.0f;
}

// The phase-driven waves, each with its value for one sample (`at`) and for
// four samples that cross no corner (`straight`, on any phase type).
template <bool kPulse>
struct ShapeWave {
  static constexpr bool kCorners = true;
  Shape s;
  uint32_t step, threshold;
  template <class P, class T>
  [[gnu::always_inline]] T straight(P phase, T) const {
    if constexpr (kPulse) return pulseStraight<P, T>(phase, threshold, s);
    return triSawStraight<P, T>(phase, threshold, s);
  }
  float at(uint32_t phase, float) const {
    return kPulse ? pulseSample(phase, step, threshold, s)
                  : triSawSample(phase, step, threshold, s);
  }
};

struct SineWave {
  static constexpr bool kCorners = false;
  float level;
  template <class P, class T>
  [[gnu::always_inline]] T straight(P phase, T) const {
    return level * sineWave(phase);
  }
  float at(uint32_t phase, float b) const { return straight(phase, b); }
};

// The sine's phase moved by the buffer's signal b.
struct PhaseModWave {
  static constexpr bool kCorners = false;
  float level;
  template <class P, class T>
  [[gnu::always_inline]] T straight(P phase, T b) const {
    return level * sineApprox(kSineTwoPi * ((1.0f + phaseFraction(phase)) + (b + b)));
  }
  float at(uint32_t phase, float b) const { return straight(phase, b); }
};

// A phase-driven wave over the buffer, four samples at a time where no
// sample of the four crosses a corner, one at a time elsewhere.
template <Write W, class Wave>
void renderWave(Oscillator& o, float* buf, int n, const Wave wave) {
  const uint32_t step = o.phaseStep;
  const uint32_t threshold = o.colourThreshold;
  uint32_t phase = o.phase;
  int i = 0;
  PhaseLanes phases = phaseRamp(phase, step);
  const PhaseLanes advance = PhaseLanes(kLaneCount * step);
  for (; i + kLaneCount <= n; i += kLaneCount, phases = phases + advance) {
    if (Wave::kCorners && anyOf(cornersOf(phases, step, threshold))) {
      for (int k = 0; k < kLaneCount; ++k, phase += step) {
        buf[i + k] = combine<W>(buf[i + k], wave.at(phase, buf[i + k]));
      }
      continue;
    }
    const Lanes b = loadLanes(buf + i);
    storeLanes(buf + i, combine<W>(b, wave.straight(phases, b)));
    phase += kLaneCount * step;
  }
  for (; i < n; ++i, phase += step) buf[i] = combine<W>(buf[i], wave.at(phase, buf[i]));
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

// Left plus right of the stereo aux bus, a null bus read as silence.
template <Write W>
void renderAux(const Oscillator& o, float* buf, int n, const float* bus) {
  const float gain = o.level * kAuxGain;
  if (bus == nullptr) {
    for (int i = 0; i < n; ++i) buf[i] = combine<W>(buf[i], gain * 0.0f);
    return;
  }
  int i = 0;
  for (; i + kLaneCount <= n; i += kLaneCount) {
    const Lanes a = loadLanes(bus + 2 * i);
    const Lanes b = loadLanes(bus + 2 * i + kLaneCount);
    storeLanes(buf + i, combine<W>(loadLanes(buf + i), gain * (evenLanes(a, b) + oddLanes(a, b))));
  }
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
      return renderWave<W>(o, buf, n, ShapeWave<false>{shapeOf(o), o.phaseStep, o.colourThreshold});
    case OscMode::Pulse:
      return renderWave<W>(o, buf, n, ShapeWave<true>{shapeOf(o), o.phaseStep, o.colourThreshold});
    case OscMode::Sine:
      return renderWave<W>(o, buf, n, SineWave{o.level});
    case OscMode::Noise:
      return renderNoise<W>(o, buf, n);
    case OscMode::PhaseModSine:
      return renderWave<W>(o, buf, n, PhaseModWave{o.level});
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
  osc.pitchOffset = (p[2] - kParamCentre) + (p[3] - kParamCentre) / kParamFullScale;
  const float colour = p[4] / kParamFullScale;
  osc.colourThreshold = halfCycleToPhase(colour);
  // A colour past 128 would make the damping negative: the noise filter
  // would grow without bound.
  osc.noiseDamping = std::max(1.0f - std::sqrt(colour), 0.0f);
  osc.level = p[5] / kParamFullScale;
  updatePitch(osc, k);
}

void updatePitch(Oscillator& osc, const SynthConstants& k) {
  const float offset = osc.pitchOffset;
  // Only the noise reads its filter's frequency; setup sets the mode first.
  if (static_cast<OscMode>(osc.mode & kOscModeMask) == OscMode::Noise) {
    // Transposed past 128 the noise filter's frequency would leave its stable
    // range (below sqrt(q^2 + 4) - q); it stops short of the edge instead.
    const float q = osc.noiseDamping;
    const float stable = (std::sqrt(q * q + 4.0f) - q) * kNoiseStabilityMargin;
    osc.noiseFrequency = std::min(
        portableExp2(kNoiseOctaves * (offset - kParamCentre) / kParamFullScale) * k.rateScale,
        stable);
  }
  // A step that overflows the signed range rounds to 2^31: half a cycle per sample.
  osc.phaseStep = static_cast<uint32_t>(
      roundToInt(k.basePhaseStep * portableExp2(((osc.pitch + offset) - kCentreNote) * kSemitone)));
}

void render(Oscillator& osc, float* buffer, int count, const float* auxA, const float* auxB) {
  if (count <= 0 || buffer == nullptr) return;
  const auto mode = static_cast<OscMode>(osc.mode & kOscModeMask);
  if ((osc.flags & kOscRingMask) != 0) {
    renderMode<Write::Ring>(osc, mode, buffer, count, auxA, auxB);
  } else if (addsToBuffer(mode)) {
    renderMode<Write::Add>(osc, mode, buffer, count, auxA, auxB);
  } else {
    renderMode<Write::Replace>(osc, mode, buffer, count, auxA, auxB);
  }
}
