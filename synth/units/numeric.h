#pragma once
// Numeric routines shared by the units. All single precision; conversions to
// integers round to nearest, ties to even, under the mode the render sets.
#include <cfenv>
#include <cmath>
#include <cstdint>

#include "synth/units/elementary.h"
#include "synth/units/lanes.h"

// One phase unit of the 23-bit fractions used by the waveforms: 2^-23.
constexpr float kPhaseFractionUnit = 1.0f / 8388608.0f;

// Rounds to the nearest integer, ties to even (current rounding mode, which
// the entry points set to round-to-nearest). A value that does not fit a
// signed 32-bit integer (or NaN) gives INT32_MIN, the bit pattern 2^31, so
// that a phase step that overflows becomes half a cycle instead of wrapping.
inline int32_t roundToInt(float x) {
  constexpr float kLimit = 2147483648.0f;  // 2^31, exact in float
  if (!(x >= -kLimit && x < kLimit)) return INT32_MIN;
  return static_cast<int32_t>(std::lrint(x));
}

// round(x) for a phase expressed in half cycles (0..1 = 0..2^31), doubled
// into a full 32-bit phase modulo 2^32: 1.0 gives 0, a full cycle.
inline uint32_t halfCycleToPhase(float x) {
  return static_cast<uint32_t>(roundToInt(x * 2147483648.0f)) * 2u;
}

// The top 23 bits of a phase (uint32_t or PhaseLanes) as a number in [0, 1).
template <class P>
[[gnu::always_inline]] inline auto phaseFraction(P phase) {
  return toFloatOf(phase >> 9) * kPhaseFractionUnit;
}

// One step of the noise generator: seed = seed * 0x0BB38435 + 0x3619636B (mod 2^32).
inline uint32_t noiseLcg(uint32_t seed) {
  return seed * 0x0BB38435u + 0x3619636Bu;
}

// Coefficients of the odd sine polynomial.
constexpr float kSineC1 = -0.16666f;
constexpr float kSineC2 = 0.0083143f;
constexpr float kSineC3 = -0.00018542f;
constexpr float kSinePi = 3.14159274f;         // pi to single precision
constexpr float kSineHalfPi = 1.5707964f;      // pi / 2
constexpr float kSineThreeHalfPi = 4.712389f;  // 3 pi / 2
constexpr float kSineTwoPi = 6.2831855f;       // 2 pi

// Odd polynomial for sin(y) on [-pi/2, pi/2]; T is float or Lanes.
template <class T>
[[gnu::always_inline]] inline T sinePoly(T y) {
  const T y2 = y * y;
  return y * (1.0f + y2 * (kSineC1 + y2 * (kSineC2 + y2 * kSineC3)));
}

// sin(x) for any x: reduce into [0, 2 pi), fold into [-pi/2, pi/2], polynomial.
// The folded argument is clamped to [-pi/2, pi/2] so that inputs too large to
// reduce accurately, infinities and NaN still give a value in [-1, 1].
template <class T>
[[gnu::always_inline]] inline T sineApprox(T x) {
  const T r = x - kSineTwoPi * floorOf(x / kSineTwoPi);
  const T y =
      selectOf(r <= kSineHalfPi, r, selectOf(r <= kSineThreeHalfPi, kSinePi - r, r - kSineTwoPi));
  return sinePoly(maxOf(T(-kSineHalfPi), minOf(T(kSineHalfPi), y)));
}

// Switches to round-to-nearest for the lifetime of the object and restores
// the caller's rounding mode afterwards. Every float-to-int conversion of the
// synthesizer relies on this mode; each entry point holds one.
class RoundingScope {
 public:
  RoundingScope() : saved_(std::fegetround()) {
    if (saved_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  ~RoundingScope() {
    if (saved_ != FE_TONEAREST) std::fesetround(saved_);
  }
  RoundingScope(const RoundingScope&) = delete;
  RoundingScope& operator=(const RoundingScope&) = delete;

 private:
  int saved_;
};
