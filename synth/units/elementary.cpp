#include "synth/units/elementary.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kLog2E = 1.44269504088896340736;
constexpr double kSqrtHalf = 0.70710678118654752440;
constexpr double kSqrt3 = 1.73205080756887729353;
constexpr double kTanTwelfthPi = 0.26794919243112270647;  // tan(pi / 12) = 2 - sqrt(3)
constexpr double kSixthPi = 0.52359877559829887308;
constexpr double kHalfPi = 1.57079632679489661923;
constexpr double kTwoOverPi = 0.63661977236758134308;
// pi / 2 in two parts: the first has 33 significant bits, so that its product
// with a quadrant count below 2^20 is exact.
constexpr double kHalfPiHigh = 1.57079632673412561417;
constexpr double kHalfPiLow = 6.07710050650619224932e-11;

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// 1/n! for n = 0..kTerms-1, each a single correctly rounded division.
constexpr int kTerms = 22;
constexpr std::array<double, kTerms> reciprocalFactorials() {
  std::array<double, kTerms> r{};
  double factorial = 1.0;  // exact up to 22!
  for (int n = 0; n < kTerms; ++n) {
    if (n > 0) factorial *= n;
    r[n] = 1.0 / factorial;
  }
  return r;
}
constexpr std::array<double, kTerms> kInvFactorial = reciprocalFactorials();

// e^y for |y| <= ln(2) / 2: Taylor series to y^14 (remainder below 2^-60).
constexpr double expReduced(double y) {
  double p = kInvFactorial[14];
  for (int n = 13; n >= 0; --n) p = kInvFactorial[n] + y * p;
  return p;
}

// 2^x in double; overflows to infinity and underflows to 0 far outside the
// range of float.
double exp2Double(double x) {
  if (x != x) return x;
  if (x >= 1024.0) return std::numeric_limits<double>::infinity();
  if (x < -1100.0) return 0.0;
  // floor(x + 0.5) by truncation, and the scaling by 2^k as a multiplication
  // by that power of two built from its bits: both exact, as std::floor and
  // std::ldexp are, without a library call on every setup.
  const double t = x + 0.5;
  double k = static_cast<double>(static_cast<int64_t>(t));
  if (k > t) k -= 1.0;
  const int e = static_cast<int>(k);
  const double v = expReduced((x - k) * kLn2);
  if (e < -1022 || e > 1023) return std::ldexp(v, e);
  return v * std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
}

// log2(b) for finite b > 0: b = m 2^e with m in [sqrt(1/2), sqrt(2)), and
// ln m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.172, to s^23.
double log2Double(double b) {
  int e = 0;
  double m = std::frexp(b, &e);
  if (m < kSqrtHalf) {
    m *= 2.0;
    --e;
  }
  const double s = (m - 1.0) / (m + 1.0);
  const double s2 = s * s;
  double p = 1.0 / 23.0;
  for (int n = 21; n >= 1; n -= 2) p = 1.0 / n + s2 * p;
  return e + 2.0 * s * p * kLog2E;
}

// atan(a) for |a| <= tan(pi / 12) = 0.268: the series to a^29.
double atanReduced(double a) {
  const double a2 = a * a;
  double p = 1.0 / 29.0;
  for (int n = 27; n >= 1; n -= 2) p = 1.0 / n - a2 * p;
  return a * p;
}

// sin and cos for |r| <= pi / 4 (a little beyond for huge arguments): the
// series to r^21 and r^20.
double sinReduced(double r) {
  const double r2 = r * r;
  double p = kInvFactorial[21];
  for (int n = 19; n >= 1; n -= 2) p = kInvFactorial[n] - r2 * p;
  return r * p;
}
double cosReduced(double r) {
  const double r2 = r * r;
  double p = kInvFactorial[20];
  for (int n = 18; n >= 0; n -= 2) p = kInvFactorial[n] - r2 * p;
  return p;
}

// sin(x) (cosine: false) or cos(x) (cosine: true). The quadrant count is
// exact; the reduced argument loses accuracy only past |x| = 2^20.
float sinOrCos(float x, bool cosine) {
  if (!(std::fabs(x) < kInfinity)) return kNaN;
  const double xd = x;
  const double k = std::floor(xd * kTwoOverPi + 0.5);
  const double r = (xd - k * kHalfPiHigh) - k * kHalfPiLow;
  // Quadrant 0..3 of k (exact: k is an integer, scaling by 1/4 is exact).
  int quadrant = static_cast<int>(k - 4.0 * std::floor(k * 0.25));
  if (cosine) quadrant = (quadrant + 1) & 3;
  double v = (quadrant & 1) ? cosReduced(r) : sinReduced(r);
  if (quadrant & 2) v = -v;
  return static_cast<float>(v);
}

// 2^(j/64) for j = 0..63: e^(j ln2 / 64) by the whole series (below 2^-80 there).
constexpr std::array<double, 64> kExp2Sixtyfourths = [] {
  std::array<double, 64> t{};
  for (int j = 0; j < 64; ++j) {
    const double y = j / 64.0 * kLn2;
    double p = kInvFactorial[kTerms - 1];
    for (int n = kTerms - 2; n >= 0; --n) p = kInvFactorial[n] + y * p;
    t[j] = p;
  }
  return t;
}();

}  // namespace

// 2^x where the result is a normal float or overflows (x in [-126, 128)):
// 2^(n/64) from the table times the series for the rest r (|r| <= 1/128, to
// r^4: within 2^-44 of 2^x, exp2Double within 2^-50), several times as fast
// as exp2Double. The float is the one exp2Double gives: the two round alike
// unless 2^x lies within 2^-40 of a point halfway between two floats, and
// there exp2Double decides. (Checked on every float input.)
float portableExp2(float x) {
  if (!(x >= -126.0f && x < 128.0f)) return static_cast<float>(exp2Double(x));
  const double t = static_cast<double>(x) * 64.0;
  double n = static_cast<double>(static_cast<int64_t>(t + 0.5));
  if (n > t + 0.5) n -= 1.0;
  const double y = (t - n) * (kLn2 / 64.0);
  // The series in two halves that evaluate side by side.
  const double y2 = y * y;
  const double p =
      (1.0 + y) + y2 * ((kInvFactorial[2] + kInvFactorial[3] * y) + kInvFactorial[4] * y2);
  const int64_t whole = static_cast<int64_t>(n);
  const double scale = std::bit_cast<double>(static_cast<uint64_t>((whole >> 6) + 1023) << 52);
  const double v = kExp2Sixtyfourths[static_cast<size_t>(whole & 63)] * p * scale;
  constexpr uint64_t kBelowFloat = (uint64_t{1} << 29) - 1;  // double bits a float drops
  constexpr int64_t kHalfway = int64_t{1} << 28;
  constexpr int64_t kMargin = int64_t{1} << 12;
  const int64_t dropped = static_cast<int64_t>(std::bit_cast<uint64_t>(v) & kBelowFloat);
  if (dropped > kHalfway - kMargin && dropped < kHalfway + kMargin) {
    return static_cast<float>(exp2Double(x));
  }
  return static_cast<float>(v);
}

float portableExp(float x) {
  return static_cast<float>(exp2Double(static_cast<double>(x) * kLog2E));
}

float portablePow(float base, float exponent) {
  if (exponent == 0.0f) return 1.0f;
  if (base != base || exponent != exponent || base < 0.0f) return kNaN;
  if (base == 0.0f) return exponent > 0.0f ? 0.0f : kInfinity;
  if (base == kInfinity) return exponent > 0.0f ? kInfinity : 0.0f;
  return static_cast<float>(exp2Double(static_cast<double>(exponent) * log2Double(base)));
}

float portableAtan(float x) {
  if (x != x) return x;
  double a = std::fabs(static_cast<double>(x));
  const bool inverted = a > 1.0;
  if (inverted) a = 1.0 / a;
  double base = 0.0;
  if (a > kTanTwelfthPi) {
    // atan(a) = pi/6 + atan((a sqrt 3 - 1) / (a + sqrt 3)), the latter within +-0.268.
    a = (a * kSqrt3 - 1.0) / (a + kSqrt3);
    base = kSixthPi;
  }
  double r = base + atanReduced(a);
  if (inverted) r = kHalfPi - r;
  return static_cast<float>(x < 0.0f ? -r : r);
}

float portableSin(float x) {
  return sinOrCos(x, false);
}

float portableCos(float x) {
  return sinOrCos(x, true);
}
