#pragma once
// Batching: many units of one kind rendered side by side in SIMD lanes, the
// same samples, bit for bit, as rendering them one at a time. Units write a
// kernel once over its sample type (see lanes.h); these helpers do the
// padding, transposes and register counts for every unit.
//
// A kernel is constructed from the units it runs (Unit* const*) plus any
// extra arguments, steps one sample with `step` and writes its states back
// with `store(Unit* const*, int used)`, used counting the real units. Mono
// kernels are templates over their sample type T: float for one unit,
// Wide<R> for 4R units in R registers; stereo kernels hold two units in
// one register of Lanes.
#include <algorithm>
#include <functional>
#include <type_traits>
#include <utility>

#include "synth/units/lanes.h"

// R registers of lanes whose operations interleave, so that the recursions
// of 4R units overlap in the processor: a sample type like float and Lanes.
template <int R>
struct Wide {
  Lanes r[R];

  Wide() = default;
  Wide(float x) {  // every lane x
    for (Lanes& l : r) l = x;
  }
  // An operation of Lanes on every register; the registers' chains interleave.
  template <class Op, class... W>
  [[gnu::always_inline]] static Wide each(Op op, const W&... w) {
    Wide o;
    for (int g = 0; g < R; ++g) o.r[g] = op(w.r[g]...);
    return o;
  }
  friend Wide operator+(const Wide& a, const Wide& b) { return each(std::plus<Lanes>(), a, b); }
  friend Wide operator-(const Wide& a, const Wide& b) { return each(std::minus<Lanes>(), a, b); }
  friend Wide operator*(const Wide& a, const Wide& b) {
    return each(std::multiplies<Lanes>(), a, b);
  }
  friend Wide operator/(const Wide& a, const Wide& b) { return each(std::divides<Lanes>(), a, b); }
  friend Wide clampOf(const Wide& x, const Wide& lo, const Wide& hi) {
    return each([](Lanes v, Lanes l, Lanes h) { return clampOf(v, l, h); }, x, lo, hi);
  }
};

// Units one sample of T carries: 1 for float, 4 per register of lanes.
template <class T>
constexpr int kUnitsOf = 1;
template <int R>
constexpr int kUnitsOf<Wide<R>> = R* kLaneCount;

// One value of each unit: a float for one unit, lanes for 4R. `get` is a
// data member pointer or a function of the unit.
template <class T, class Unit, class Get>
T gather(Unit* const* units, Get get) {
  if constexpr (std::is_same_v<T, float>) {
    return std::invoke(get, *units[0]);
  } else {
    T x;
    for (int g = 0; g < kUnitsOf<T> / kLaneCount; ++g) {
      float v[kLaneCount];
      for (int l = 0; l < kLaneCount; ++l) v[l] = std::invoke(get, *units[kLaneCount * g + l]);
      x.r[g] = loadLanes(v);
    }
    return x;
  }
}

// Back into the first `used` units.
template <class T, class Unit>
void scatter(Unit* const* units, int used, float Unit::*field, const T& x) {
  if constexpr (std::is_same_v<T, float>) {
    units[0]->*field = x;
  } else {
    float v[kUnitsOf<T>];
    for (int g = 0; g < kUnitsOf<T> / kLaneCount; ++g) storeLanes(v + kLaneCount * g, x.r[g]);
    for (int l = 0; l < used; ++l) units[l]->*field = v[l];
  }
}

// Two stereo units in one register: left and right of the first, then of the second.
template <class Unit>
Lanes gatherStereo(Unit* const* units, float Unit::*left, float Unit::*right) {
  return makeLanes(units[0]->*left, units[0]->*right, units[1]->*left, units[1]->*right);
}

template <class Unit>
void scatterStereo(Unit* const* units, int used, float Unit::*left, float Unit::*right, Lanes x) {
  float v[kLaneCount];
  storeLanes(v, x);
  for (int u = 0; u < used; ++u) {
    units[u]->*left = v[2 * u];
    units[u]->*right = v[2 * u + 1];
  }
}

// f.template operator()<R>() with R = registers, 1..Max: the register count
// as a compile-time constant, so that the registers' loops unroll.
template <int Max, class F>
void withRegisters(int registers, F&& f) {
  [&]<int... I>(std::integer_sequence<int, I...>) {
    ((registers == I + 1 || (I + 1 == Max && registers > Max) ? (f.template operator()<I + 1>(), 0)
                                                              : 0),
     ...);
  }
  (std::make_integer_sequence<int, Max>{});
}

// Up to Registers x 4 units with their whole state, spare places repeating unit 0.
template <class Unit, int Width>
struct Padded {
  Unit* units[Width];
  float* bufs[Width];

  Padded(Unit* const* from, float* const* fromBufs, int count) {
    for (int l = 0; l < Width; ++l) {
      units[l] = from[l < count ? l : 0];
      bufs[l] = fromBufs[l < count ? l : 0];
    }
  }
};

// Mono units in lanes, one unit per lane, in place on bufs[l]: Kernel<T>
// over R registers of four, or over float for a single unit.
template <template <class> class Kernel, int R, class Unit, class... Args>
void renderMonoRegisters(Unit* const* units, int count, float* const* bufs, int n, Args&&... args) {
  using T = Wide<R>;
  const Padded<Unit, kUnitsOf<T>> p(units, bufs, count);
  const Kernel<T> start(p.units, args...);
  Kernel<T> kernel = start;  // a local copy stays in registers through the loop
  int i = 0;
  for (; i + kLaneCount <= n; i += kLaneCount) {
    Lanes x[R][kLaneCount];
    for (int g = 0; g < R; ++g) loadBlock(p.bufs + kLaneCount * g, i, x[g]);
    for (int k = 0; k < kLaneCount; ++k) {
      T y;
      for (int g = 0; g < R; ++g) y.r[g] = x[g][k];
      y = kernel.step(y);
      for (int g = 0; g < R; ++g) x[g][k] = y.r[g];
    }
    for (int g = 0; g < R; ++g) {
      storeBlock(p.bufs + kLaneCount * g, std::clamp(count - kLaneCount * g, 0, kLaneCount), i,
                 x[g]);
    }
  }
  for (; i < n; ++i) {
    T y;
    for (int g = 0; g < R; ++g) y.r[g] = gatherSample(p.bufs + kLaneCount * g, i);
    y = kernel.step(y);
    for (int g = 0; g < R; ++g) {
      scatterSample(p.bufs + kLaneCount * g, std::clamp(count - kLaneCount * g, 0, kLaneCount), i,
                    y.r[g]);
    }
  }
  const Kernel<T> done = kernel;
  done.store(p.units, count);
}

// One unit from in to out, both advancing by `stride` per sample.
template <template <class> class Kernel, class Unit, class... Args>
void renderMonoOne(Unit* const* units, const float* in, float* out, int n, int stride,
                   Args&&... args) {
  const Kernel<float> start(units, args...);
  Kernel<float> kernel = start;  // a local copy stays in registers through the loop
  for (int i = 0; i < n; ++i) out[i * stride] = kernel.step(in[i * stride]);
  const Kernel<float> done = kernel;
  done.store(units, 1);
}

// Any number of mono units, up to MaxRegisters x 4 at a time; a single unit
// runs on float.
template <template <class> class Kernel, int MaxRegisters, class Unit, class... Args>
void renderMonoBatch(Unit* const* units, int count, float* const* bufs, int n, Args&&... args) {
  if (count == 1) return renderMonoOne<Kernel>(units, bufs[0], bufs[0], n, 1, args...);
  constexpr int kChunk = MaxRegisters * kLaneCount;
  for (int first = 0; first < count; first += kChunk) {
    const int size = std::min(count - first, kChunk);
    withRegisters<MaxRegisters>((size + kLaneCount - 1) / kLaneCount, [&]<int R>() {
      renderMonoRegisters<Kernel, R>(units + first, size, bufs + first, n, args...);
    });
  }
}

constexpr int kStereoPerRegister = 2;
constexpr int kMaxStereoRegisters = 4;

// Stereo units on interleaved buffers, two per register, Registers registers
// interleaved; each register takes two frames of both units per load. A
// kernel whose kWrites is false only reads (a meter).
template <class Kernel, int Registers, class Unit, class... Args>
void renderStereoRegisters(Unit* const* units, int count, float* const* bufs, int frames,
                           Args&&... args) {
  constexpr int kWidth = Registers * kStereoPerRegister;
  const Padded<Unit, kWidth> p(units, bufs, count);
  Kernel start[Registers] = {};
  int used[Registers];
  for (int g = 0; g < Registers; ++g) {
    start[g] = Kernel(p.units + kStereoPerRegister * g, args...);
    used[g] = std::clamp(count - kStereoPerRegister * g, 0, kStereoPerRegister);
  }
  Kernel kernel[Registers];  // local copies stay in registers through the loop
  std::copy(start, start + Registers, kernel);
  int i = 0;
  for (; i + 2 <= frames; i += 2) {
    for (int g = 0; g < Registers; ++g) {
      float* a = p.bufs[2 * g] + 2 * i;
      float* b = p.bufs[2 * g + 1] + 2 * i;
      const Lanes inA = loadLanes(a);
      const Lanes inB = loadLanes(b);
      const Lanes y0 = kernel[g].step(lowHalves(inA, inB));
      const Lanes y1 = kernel[g].step(highHalves(inA, inB));
      if constexpr (Kernel::kWrites) {
        storeLanes(a, lowHalves(y0, y1));
        if (used[g] > 1) storeLanes(b, highHalves(y0, y1));
      }
    }
  }
  for (; i < frames; ++i) {
    for (int g = 0; g < Registers; ++g) {
      float* a = p.bufs[2 * g] + 2 * i;
      float* b = p.bufs[2 * g + 1] + 2 * i;
      float y[kLaneCount];
      storeLanes(y, kernel[g].step(makeLanes(a[0], a[1], b[0], b[1])));
      if constexpr (Kernel::kWrites) {
        std::copy(y, y + 2, a);
        if (used[g] > 1) std::copy(y + 2, y + 4, b);
      }
    }
  }
  std::copy(kernel, kernel + Registers, start);
  for (int g = 0; g < Registers; ++g) start[g].store(p.units + kStereoPerRegister * g, used[g]);
}

// Any number of stereo units, eight at a time.
template <class Kernel, class Unit, class... Args>
void renderStereoBatch(Unit* const* units, int count, float* const* bufs, int frames,
                       Args&&... args) {
  constexpr int kChunk = kStereoPerRegister * kMaxStereoRegisters;
  for (int first = 0; first < count; first += kChunk) {
    const int size = std::min(count - first, kChunk);
    withRegisters<kMaxStereoRegisters>((size + 1) / kStereoPerRegister, [&]<int R>() {
      renderStereoRegisters<Kernel, R>(units + first, size, bufs + first, frames, args...);
    });
  }
}
