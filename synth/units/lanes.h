#pragma once
// Four floats side by side in one SIMD register, for running the recursions
// of four voices (or two sides) at once. Only IEEE-exact operations (add,
// sub, mul, div, min, max), evaluated in the order written: every lane rounds
// exactly as the same scalar expression does. A kernel written once over its
// sample type T runs on float (one unit) and on Lanes (four): a float
// constant converts to Lanes holding it in every lane, and clampOf, minOf,
// maxOf, absOf and floorOf have a form for each. Comparisons of Lanes give
// masks (every bit of a lane set where they hold) for selectOf and anyOf;
// PhaseLanes holds four 32-bit phases for the oscillators.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

// Every target (x86-64, native and Windows) has SSE2.
#include <emmintrin.h>

constexpr int kLaneCount = 4;

struct Lanes {
  __m128 v;
  Lanes() = default;
  Lanes(__m128 x) : v(x) {}
  Lanes(float x) : v(_mm_set1_ps(x)) {}  // every lane x

  friend Lanes operator+(Lanes a, Lanes b) { return {_mm_add_ps(a.v, b.v)}; }
  friend Lanes operator-(Lanes a, Lanes b) { return {_mm_sub_ps(a.v, b.v)}; }
  friend Lanes operator*(Lanes a, Lanes b) { return {_mm_mul_ps(a.v, b.v)}; }
  friend Lanes operator/(Lanes a, Lanes b) { return {_mm_div_ps(a.v, b.v)}; }
  friend Lanes operator<(Lanes a, Lanes b) { return {_mm_cmplt_ps(a.v, b.v)}; }
  friend Lanes operator<=(Lanes a, Lanes b) { return {_mm_cmple_ps(a.v, b.v)}; }
  friend Lanes operator|(Lanes a, Lanes b) { return {_mm_or_ps(a.v, b.v)}; }
  friend Lanes operator^(Lanes a, Lanes b) { return {_mm_xor_ps(a.v, b.v)}; }
  // lo > x ? lo : x, then hi < x ? hi : x, per lane: std::clamp's result,
  // a NaN included.
  friend Lanes clampOf(Lanes x, Lanes lo, Lanes hi) {
    return {_mm_min_ps(hi.v, _mm_max_ps(lo.v, x.v))};
  }
  // std::max(a, x) and std::min(a, x) per lane: a NaN in x keeps a.
  friend Lanes maxOf(Lanes a, Lanes x) { return {_mm_max_ps(x.v, a.v)}; }
  friend Lanes minOf(Lanes a, Lanes x) { return {_mm_min_ps(x.v, a.v)}; }
  // std::fabs per lane: the sign bit cleared.
  friend Lanes absOf(Lanes x) { return {_mm_andnot_ps(_mm_set1_ps(-0.0f), x.v)}; }
  // mask ? a : b per lane.
  friend Lanes selectOf(Lanes mask, Lanes a, Lanes b) {
    return {_mm_or_ps(_mm_and_ps(mask.v, a.v), _mm_andnot_ps(mask.v, b.v))};
  }
  friend bool anyOf(Lanes mask) { return _mm_movemask_ps(mask.v) != 0; }
  // floorOf(float) per lane.
  [[gnu::always_inline]] friend Lanes floorOf(Lanes q) {
    const Lanes small = absOf(q) < Lanes(8388608.0f);
    const Lanes f = {_mm_cvtepi32_ps(_mm_cvttps_epi32(q.v))};
    return selectOf(small, f - selectOf(q < f, Lanes(1.0f), Lanes(0.0f)), q);
  }
  friend void storeLanes(float* p, Lanes a) { _mm_storeu_ps(p, a.v); }
  // Lanes 0, 1 of a then 0, 1 of b; and lanes 2, 3 of a then 2, 3 of b.
  friend Lanes lowHalves(Lanes a, Lanes b) { return {_mm_movelh_ps(a.v, b.v)}; }
  friend Lanes highHalves(Lanes a, Lanes b) { return {_mm_movehl_ps(b.v, a.v)}; }
  // Lanes 0, 2 of a then 0, 2 of b; and lanes 1, 3 of a then 1, 3 of b: the
  // left and the right samples of four interleaved stereo frames.
  friend Lanes evenLanes(Lanes a, Lanes b) {
    return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(2, 0, 2, 0))};
  }
  friend Lanes oddLanes(Lanes a, Lanes b) {
    return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 1, 3, 1))};
  }
};
inline Lanes makeLanes(float a, float b, float c, float d) {
  return {_mm_setr_ps(a, b, c, d)};
}
inline Lanes loadLanes(const float* p) {
  return {_mm_loadu_ps(p)};
}

// Four 32-bit phases, wrapping modulo 2^32.
struct PhaseLanes {
  __m128i v;
  PhaseLanes() = default;
  PhaseLanes(__m128i x) : v(x) {}
  PhaseLanes(uint32_t x) : v(_mm_set1_epi32(static_cast<int>(x))) {}  // every lane x

  friend PhaseLanes operator+(PhaseLanes a, PhaseLanes b) { return {_mm_add_epi32(a.v, b.v)}; }
  friend PhaseLanes operator-(PhaseLanes a, PhaseLanes b) { return {_mm_sub_epi32(a.v, b.v)}; }
  friend PhaseLanes operator^(PhaseLanes a, PhaseLanes b) { return {_mm_xor_si128(a.v, b.v)}; }
  friend PhaseLanes operator>>(PhaseLanes a, int bits) { return {_mm_srli_epi32(a.v, bits)}; }
  // Every bit set in the lanes whose top bit is set.
  friend PhaseLanes signMaskOf(PhaseLanes a) { return {_mm_srai_epi32(a.v, 31)}; }
  // Each lane read as a signed 32-bit integer, converted to float.
  friend Lanes toFloatOf(PhaseLanes a) { return {_mm_cvtepi32_ps(a.v)}; }
  // a < b as unsigned numbers, per lane: a signed compare with the top bits flipped.
  friend Lanes belowOf(PhaseLanes a, PhaseLanes b) {
    const __m128i flip = _mm_set1_epi32(INT_MIN);
    return {_mm_castsi128_ps(_mm_cmplt_epi32(_mm_xor_si128(a.v, flip), _mm_xor_si128(b.v, flip)))};
  }
};
// phase, phase + step, phase + 2 step, phase + 3 step.
inline PhaseLanes phaseRamp(uint32_t phase, uint32_t step) {
  return {_mm_setr_epi32(static_cast<int>(phase), static_cast<int>(phase + step),
                         static_cast<int>(phase + 2 * step), static_cast<int>(phase + 3 * step))};
}

// The same operations on one float and one phase.
inline float clampOf(float x, float lo, float hi) {
  return std::clamp(x, lo, hi);
}
inline float minOf(float a, float x) {
  return std::min(a, x);
}
inline float maxOf(float a, float x) {
  return std::max(a, x);
}
inline float absOf(float x) {
  return std::fabs(x);
}
inline float selectOf(bool mask, float a, float b) {
  return mask ? a : b;
}
// floor(q) through truncation; equal to std::floor for every finite q except
// that -0 gives +0. Values of 2^23 and above are integers already; NaN stays NaN.
inline float floorOf(float q) {
  if (!(std::fabs(q) < 8388608.0f)) return q;
  const float f = static_cast<float>(static_cast<int32_t>(q));
  return f > q ? f - 1.0f : f;
}
inline uint32_t signMaskOf(uint32_t a) {
  return static_cast<uint32_t>(static_cast<int32_t>(a) >> 31);
}
inline float toFloatOf(uint32_t a) {
  return static_cast<float>(static_cast<int32_t>(a));
}
inline bool belowOf(uint32_t a, uint32_t b) {
  return a < b;
}

// Sample i of lanes 0..3 from four buffers, and back.
inline Lanes gatherSample(const float* const* src, int i) {
  const float v[kLaneCount] = {src[0][i], src[1][i], src[2][i], src[3][i]};
  return loadLanes(v);
}

inline void scatterSample(float* const* dst, int lanes, int i, Lanes x) {
  float v[kLaneCount];
  storeLanes(v, x);
  for (int l = 0; l < lanes; ++l) dst[l][i] = v[l];
}

// Samples i..i+3 of four buffers, turned into four vectors that each hold one
// sample of every lane; and back, into the first `lanes` buffers.
inline void loadBlock(const float* const* src, int i, Lanes out[kLaneCount]) {
  __m128 r0 = _mm_loadu_ps(src[0] + i), r1 = _mm_loadu_ps(src[1] + i);
  __m128 r2 = _mm_loadu_ps(src[2] + i), r3 = _mm_loadu_ps(src[3] + i);
  _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
  out[0].v = r0;
  out[1].v = r1;
  out[2].v = r2;
  out[3].v = r3;
}

inline void storeBlock(float* const* dst, int lanes, int i, const Lanes in[kLaneCount]) {
  __m128 r[kLaneCount] = {in[0].v, in[1].v, in[2].v, in[3].v};
  _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
  for (int l = 0; l < lanes; ++l) _mm_storeu_ps(dst[l] + i, r[l]);
}
