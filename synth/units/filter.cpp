#include "synth/units/filter.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "synth/units/batch.h"
#include "synth/units/numeric.h"

namespace {

// The per-sample steps below are inlined into every render loop whatever the
// size of this file: a call per sample would cost a fifth of the speed.
constexpr float kCutoffOctaves = 10.0f;    // cutoff range below the oversampled rate
constexpr int32_t kFirstFourPoleType = 6;  // rounded types 6..127 set up the four-pole kind

// The state-variable step is stable while f^2 + 2fq < 4. At 44,100 Hz the
// cutoff never reaches the limit; lower sample rates scale f up past it, so
// f is held a little below the limit there.
constexpr float kStateVariableMargin = 0.98f;
// The four-pole stages are stable while p < 1; only sample rates below about
// 12 kHz push k this far.
constexpr float kMaxPoleCutoff = 0.9f;
// The cubic y - y^3/6 rises to its peak 2*sqrt(2)/3 (about 0.943) at
// y = sqrt(2) and falls back past it, to zero at sqrt(6) and then without
// bound. The stage input is held at the peak, so a louder input saturates
// instead of coming out quieter, and the resonance feedback cannot run away.
constexpr float kSaturationLimit = 1.41421356f;

void setupStateVariable(Filter& f, float cutoff, float resonance) {
  // Resonance past 128 would make the damping negative and the filter grow
  // without bound; it stays at the self-oscillating edge instead.
  const float damp = std::max(1.0f - resonance / kParamFullScale, 0.0f);
  const float limit = (std::sqrt(damp * damp + 4.0f) - damp) * kStateVariableMargin;
  f.freq = std::min(cutoff, limit);
  f.damp = damp;
}

void setupFourPole(Filter& f, float cutoff, float resonance) {
  const float k = std::min(cutoff * 0.25f, kMaxPoleCutoff);
  const float p = k + 0.8f * k * (1.0f - k);
  const float inv = 1.0f - k;
  f.poleGain = p;
  f.poleFeedback = 1.0f - 2.0f * p;
  f.resonance =
      4.0f * (resonance / kParamFullScale) * (1.0f + 0.5f * inv * (5.6f * (inv * inv) + k));
}

// The state-variable output is a weighted sum (wh * high + wb * band) + wl * low
// with weights 0 or 1 chosen once per render; every type's sum then rounds
// exactly as the plain expression would (high + low, high + band + low, ...).
struct OutputWeights {
  float a, b, c;
};

// Indexed by FilterType: Off, LowPass, BandPass, HighPass, Notch, Peak, and
// the four-pole types, which do not run this step.
constexpr OutputWeights kWeights[kFilterTypeMask + 1] = {
    {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {1, 0, 1}, {1, 1, 1}, {0, 0, 0}, {0, 0, 0}};

OutputWeights weightsOf(const Filter& f) {
  return kWeights[f.type & kFilterTypeMask];
}

// The state-variable step over T (float for one filter, Lanes for four).
// Each filter has its own output weights, so the five state-variable types
// share one render.
template <class T>
struct StateVariable {
  T fr, dp, low, band, wa, wb, wc;

  explicit StateVariable(Filter* const* f)
      : fr(gather<T>(f, &Filter::freq)),
        dp(gather<T>(f, &Filter::damp)),
        low(gather<T>(f, &Filter::low)),
        band(gather<T>(f, &Filter::band)),
        wa(gather<T>(f, [](const Filter& x) { return weightsOf(x).a; })),
        wb(gather<T>(f, [](const Filter& x) { return weightsOf(x).b; })),
        wc(gather<T>(f, [](const Filter& x) { return weightsOf(x).c; })) {}
  void store(Filter* const* f, int used) const {
    scatter(f, used, &Filter::low, low);
    scatter(f, used, &Filter::band, band);
  }
  // Two passes with the same input; only low and band persist.
  [[gnu::always_inline]] T step(T s) {
    const T x = s + kDenormGuard;
    low = low + fr * band - kDenormGuard;
    T high = x - dp * band - low;
    band = band + fr * high;
    low = low + fr * band;
    high = x - dp * band - low;
    band = band + fr * high;
    return (wa * high + wb * band) + wc * low;
  }
};

// The four-pole cascade over T: four one-pole stages with feedback from the
// last, which saturates softly. HighPass selects input minus y4 as the output.
template <class T, bool HighPass>
struct FourPole {
  T p, fb, r, last, y1, y2, y3, y4;

  explicit FourPole(Filter* const* f)
      : p(gather<T>(f, &Filter::poleGain)),
        fb(gather<T>(f, &Filter::poleFeedback)),
        r(gather<T>(f, &Filter::resonance)),
        last(gather<T>(f, &Filter::lastInput)),
        y1(gather<T>(f, &Filter::y1)),
        y2(gather<T>(f, &Filter::y2)),
        y3(gather<T>(f, &Filter::y3)),
        y4(gather<T>(f, &Filter::y4)) {}
  void store(Filter* const* f, int used) const {
    scatter(f, used, &Filter::lastInput, last);
    scatter(f, used, &Filter::y1, y1);
    scatter(f, used, &Filter::y2, y2);
    scatter(f, used, &Filter::y3, y3);
    scatter(f, used, &Filter::y4, y4);
  }
  [[gnu::always_inline]] void pass(T s, T guarded) {
    const T u = guarded - r * y4;
    const T n1 = p * (u + last) + fb * y1;
    const T n2 = p * (n1 + y1) + fb * y2;
    const T n3 = p * (n2 + y2) + fb * y3;
    T n4 = p * (n3 + y3) + fb * y4;
    n4 = clampOf(n4, T(-kSaturationLimit), T(kSaturationLimit));
    n4 = n4 - n4 * n4 * n4 / T(6.0f) - kDenormGuard;
    last = s;
    y1 = n1;
    y2 = n2;
    y3 = n3;
    y4 = n4;
  }
  // Two passes with the same input.
  [[gnu::always_inline]] T step(T s) {
    const T guarded = s + kDenormGuard;
    pass(s, guarded);
    pass(s, guarded);
    if constexpr (HighPass) {
      return s - y4;
    } else {
      return y4;
    }
  }
};

template <class T>
using LowPass4 = FourPole<T, false>;
template <class T>
using HighPass4 = FourPole<T, true>;

// The kinds of step a filter runs: every rounded type maps to one kernel.
// A new kind is a kernel above, an entry here and one in withKernel.
enum class Kind { Off, StateVariable, LowPass4, HighPass4, Count };
constexpr int kKindCount = static_cast<int>(Kind::Count);

// Indexed by FilterType, as kWeights.
constexpr Kind kKinds[kFilterTypeMask + 1] = {
    Kind::Off,           Kind::StateVariable, Kind::StateVariable, Kind::StateVariable,
    Kind::StateVariable, Kind::StateVariable, Kind::LowPass4,      Kind::HighPass4};

Kind kindOf(const Filter& f) {
  return kKinds[f.type & kFilterTypeMask];
}

// f.template operator()<K>() with the kernel template of a kind; nothing for Off.
template <class F>
void withKernel(Kind kind, F&& f) {
  switch (kind) {
    case Kind::StateVariable:
      f.template operator()<StateVariable>();
      break;
    case Kind::LowPass4:
      f.template operator()<LowPass4>();
      break;
    case Kind::HighPass4:
      f.template operator()<HighPass4>();
      break;
    default:
      break;
  }
}

// Two independent filters in one loop: their recursions overlap in the
// processor instead of running one after the other.
template <class A, class B>
void renderPairStages(Filter& fa, const float* inA, float* outA, Filter& fb, const float* inB,
                      float* outB, int count) {
  Filter* const pa[] = {&fa};
  Filter* const pb[] = {&fb};
  const A startA(pa);
  const B startB(pb);
  A a = startA;  // local copies stay in registers through the loop
  B b = startB;
  const int sa = fa.stride, sb = fb.stride;
  for (int i = 0; i < count; ++i) {
    const float xa = inA[i * sa];
    const float xb = inB[i * sb];
    outA[i * sa] = a.step(xa);
    outB[i * sb] = b.step(xb);
  }
  const A doneA = a;
  const B doneB = b;
  doneA.store(pa, 1);
  doneB.store(pb, 1);
}

// The stages of one voice's chain that run (Off stages dropped).
struct Chain {
  Filter* stage[kMaxSerialFilters];
};

// Filter stages as one kernel: each sample passes the stages K in turn.
// Every lane's stage k is of the same kind.
template <template <class> class... K>
struct ChainOf {
  template <class T>
  struct Kernel {
    std::tuple<K<T>...> stages;

    explicit Kernel(Chain* const* c) : stages(build(c, std::index_sequence_for<K<T>...>{})) {}
    template <size_t... I>
    static std::tuple<K<T>...> build(Chain* const* c, std::index_sequence<I...>) {
      return {K<T>(column(c, I).f)...};
    }
    struct Column {
      Filter* f[kUnitsOf<T>];
    };
    static Column column(Chain* const* c, size_t k) {
      Column col;
      for (int l = 0; l < kUnitsOf<T>; ++l) col.f[l] = c[l]->stage[k];
      return col;
    }
    void store(Chain* const* c, int used) const {
      storeStages(c, used, std::index_sequence_for<K<T>...>{});
    }
    template <size_t... I>
    void storeStages(Chain* const* c, int used, std::index_sequence<I...>) const {
      (std::get<I>(stages).store(column(c, I).f, used), ...);
    }
    [[gnu::always_inline]] T step(T x) { return stepAll(x, std::index_sequence_for<K<T>...>{}); }
    template <size_t... I>
    [[gnu::always_inline]] T stepAll(T x, std::index_sequence<I...>) {
      ((x = std::get<I>(stages).step(x)), ...);
      return x;
    }
  };
};

// Runs the chains side by side, two registers of four voices at most, two
// stages fused per sample and any further stage after them over the whole
// block. A stage's recursion sees only its own input sequence, so the samples
// are those of passing every stage per sample; fusing pairs overlaps their
// recursions while the code holds one loop per pair of kinds, not one per
// chain shape.
constexpr int kChainRegisters = kMaxLaneVoices / kLaneCount;
constexpr int kFusedStages = 2;

void renderChainStages(Chain* const* chains, int stages, int lanes, float* const* bufs, int count) {
  for (int s = 0; s < stages; s += kFusedStages) {
    Chain stage[kMaxLaneVoices];
    Chain* column[kMaxLaneVoices];
    for (int l = 0; l < lanes; ++l) {
      stage[l].stage[0] = chains[l]->stage[s];
      if (s + 1 < stages) stage[l].stage[1] = chains[l]->stage[s + 1];
      column[l] = &stage[l];
    }
    withKernel(kindOf(*column[0]->stage[0]), [&]<template <class> class A>() {
      if (s + 1 == stages) {
        renderMonoBatch<ChainOf<A>::template Kernel, kChainRegisters>(column, lanes, bufs, count);
        return;
      }
      withKernel(kindOf(*column[0]->stage[1]), [&]<template <class> class B>() {
        renderMonoBatch<ChainOf<A, B>::template Kernel, kChainRegisters>(column, lanes, bufs,
                                                                         count);
      });
    });
  }
}

// The stages of a chain that are not Off, in order.
int activeStages(Filter* const* stages, int stageCount, Filter** active) {
  int n = 0;
  for (int i = 0; i < stageCount && i < kMaxSerialFilters; ++i) {
    if (kindOf(*stages[i]) != Kind::Off) active[n++] = stages[i];
  }
  return n;
}

}  // namespace

void reset(Filter& f) {
  f.low = f.band = 0.0f;
  f.lastInput = f.y1 = f.y2 = f.y3 = f.y4 = 0.0f;
  f.stride = 1;
}

void setup(Filter& f, const float* t, const SynthConstants& k) {
  f.type = roundToInt(t[0]);
  const float cutoff = portableExp2(kCutoffOctaves * (t[1] / kParamFullScale - 1.0f)) * k.rateScale;
  // A rounded type that reads as negative in eight bits counts as below 6.
  if (static_cast<int8_t>(f.type) < kFirstFourPoleType) {
    setupStateVariable(f, cutoff, t[2]);
  } else {
    setupFourPole(f, cutoff, t[2]);
  }
}

void render(Filter& f, const float* in, float* out, int count) {
  const Kind kind = kindOf(f);
  if (kind == Kind::Off) {
    if (in == out) return;
    for (int i = 0; i < count; ++i) out[i * f.stride] = in[i * f.stride];
    return;
  }
  Filter* const one[] = {&f};
  withKernel(kind,
             [&]<template <class> class K>() { renderMonoOne<K>(one, in, out, count, f.stride); });
}

void renderPair(Filter& a, const float* inA, float* outA, Filter& b, const float* inB, float* outB,
                int count) {
  const Kind ka = kindOf(a), kb = kindOf(b);
  if (ka == Kind::Off || kb == Kind::Off) {
    // Reads inB before outA is written, as the fused loop does.
    render(b, inB, outB, count);
    render(a, inA, outA, count);
    return;
  }
  withKernel(ka, [&]<template <class> class A>() {
    withKernel(kb, [&]<template <class> class B>() {
      renderPairStages<A<float>, B<float>>(a, inA, outA, b, inB, outB, count);
    });
  });
}

void renderSerial(Filter* const* stages, int stageCount, float* buf, int count) {
  Filter* chain[1][kMaxSerialFilters] = {};
  const int n = std::min(stageCount, kMaxSerialFilters);
  std::copy(stages, stages + n, chain[0]);
  renderSerialLanes(chain, &n, 1, &buf, count);
}

int serialKindsKey(Filter* const* stages, int stageCount) {
  static_assert(kKindCount * kKindCount * kKindCount * kKindCount < 1 << 16,
                "kinds of a chain fit the key");
  Filter* active[kMaxSerialFilters];
  const int n = activeStages(stages, stageCount, active);
  int key = 1;  // leading digit, so that chains of different lengths differ
  for (int i = 0; i < n; ++i) key = key * kKindCount + static_cast<int>(kindOf(*active[i]));
  return key;
}

void renderSerialLanes(Filter* const (*chains)[kMaxSerialFilters], const int* stageCounts,
                       int laneCount, float* const* bufs, int count) {
  if (laneCount <= 0) return;
  laneCount = std::min(laneCount, kMaxLaneVoices);
  Chain active[kMaxLaneVoices];
  Chain* lanes[kMaxLaneVoices];
  int n = 0;
  for (int l = 0; l < laneCount; ++l) {
    n = activeStages(chains[l], stageCounts[l], active[l].stage);
    lanes[l] = &active[l];
  }
  renderChainStages(lanes, n, laneCount, bufs, count);
}
