#pragma once
// Numeric routines shared by the units. All single precision; conversions to
// integers round to nearest, ties to even, under the mode the render sets.
#include <cmath>
#include <cstdint>

// 2^x to single precision.
inline float exp2Single(float x) { return std::exp2(x); }

// Rounds to the nearest integer, ties to even (current rounding mode, which
// the entry points set to round-to-nearest).
inline int32_t roundToInt(float x) { return static_cast<int32_t>(std::lrint(x)); }

// One step of the noise generator: seed = seed * 0x0BB38435 + 0x3619636B (mod 2^32).
inline uint32_t noiseLcg(uint32_t seed) { return seed * 0x0BB38435u + 0x3619636Bu; }

// Odd polynomial for sin(y) on [-pi/2, pi/2].
inline float sinePoly(float y) {
  const float y2 = y * y;
  return y * (1.0f + y2 * (-0.16666f + y2 * (0.0083143f + y2 * -0.00018542f)));
}

// sin(x) for any x: reduce into [0, 2 pi), fold into [-pi/2, pi/2], polynomial.
float sineApprox(float x);
