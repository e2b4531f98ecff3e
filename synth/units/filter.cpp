#include "synth/units/filter.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "synth/units/lanes.h"
#include "synth/units/numeric.h"

namespace {

// The per-sample steps below are inlined into every render loop whatever the
// size of this file: a call per sample would cost a fifth of the speed.
constexpr float kParamScale = 1.0f / 128.0f;  // parameter 0..128 to 0..1
constexpr float kCutoffOctaves = 10.0f;       // cutoff range below the oversampled rate
constexpr int32_t kFirstFourPoleType = 6;     // rounded types 6..127 set up the four-pole kind

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
  const float damp = std::max(1.0f - resonance * kParamScale, 0.0f);
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
  f.resonance = 4.0f * (resonance * kParamScale) * (1.0f + 0.5f * inv * (5.6f * (inv * inv) + k));
}

// The state-variable output is a weighted sum (wh * high + wb * band) + wl * low
// with weights 0 or 1 chosen once per render; every type's sum then rounds
// exactly as the plain expression would (high + low, high + band + low, ...).
struct OutputWeights {
  float a, b, c;
};

OutputWeights weightsFor(FilterType type) {
  switch (type) {
    case FilterType::LowPass:
      return {0.0f, 0.0f, 1.0f};
    case FilterType::BandPass:
      return {0.0f, 1.0f, 0.0f};
    case FilterType::HighPass:
      return {1.0f, 0.0f, 0.0f};
    case FilterType::Notch:
      return {1.0f, 0.0f, 1.0f};
    case FilterType::Peak:
      return {1.0f, 1.0f, 1.0f};
    default:
      break;
  }
  return {0.0f, 0.0f, 0.0f};
}

FilterType typeOf(const Filter& f) {
  return static_cast<FilterType>(f.type & kFilterTypeMask);
}

enum class Kind { Off, StateVariable, LowPass4, HighPass4 };

Kind kindOf(const Filter& f) {
  switch (typeOf(f)) {
    case FilterType::Off:
      return Kind::Off;
    case FilterType::LowPass4:
      return Kind::LowPass4;
    case FilterType::HighPass4:
      return Kind::HighPass4;
    default:
      return Kind::StateVariable;
  }
}

// One render's working copy of a state-variable filter: coefficients and
// states held in locals, written back by store().
struct StateVariableStage {
  float fr, dp, low, band;
  OutputWeights w;

  explicit StateVariableStage(const Filter& f)
      : fr(f.freq), dp(f.damp), low(f.low), band(f.band), w(weightsFor(typeOf(f))) {}
  void store(Filter& f) const {
    f.low = low;
    f.band = band;
  }
  // Two passes with the same input; only low and band persist.
  [[gnu::always_inline]] float step(float s) {
    const float x = s + kDenormGuard;
    low = low + fr * band - kDenormGuard;
    float high = x - dp * band - low;
    band = band + fr * high;
    low = low + fr * band;
    high = x - dp * band - low;
    band = band + fr * high;
    return (w.a * high + w.b * band) + w.c * low;
  }
};

// One render's working copy of the four-pole cascade; HighPass selects input
// minus y4 as the output.
template <bool HighPass>
struct FourPoleStage {
  float p, fb, r, last, y1, y2, y3, y4;

  explicit FourPoleStage(const Filter& f)
      : p(f.poleGain),
        fb(f.poleFeedback),
        r(f.resonance),
        last(f.lastInput),
        y1(f.y1),
        y2(f.y2),
        y3(f.y3),
        y4(f.y4) {}
  void store(Filter& f) const {
    f.lastInput = last;
    f.y1 = y1;
    f.y2 = y2;
    f.y3 = y3;
    f.y4 = y4;
  }
  // Four one-pole stages with feedback from the last; the last stage
  // saturates softly.
  [[gnu::always_inline]] void pass(float s, float guarded) {
    const float u = guarded - r * y4;
    const float n1 = p * (u + last) + fb * y1;
    const float n2 = p * (n1 + y1) + fb * y2;
    const float n3 = p * (n2 + y2) + fb * y3;
    float n4 = p * (n3 + y3) + fb * y4;
    n4 = std::clamp(n4, -kSaturationLimit, kSaturationLimit);
    n4 = n4 - n4 * n4 * n4 / 6.0f - kDenormGuard;
    last = s;
    y1 = n1;
    y2 = n2;
    y3 = n3;
    y4 = n4;
  }
  // Two passes with the same input.
  [[gnu::always_inline]] float step(float s) {
    const float guarded = s + kDenormGuard;
    pass(s, guarded);
    pass(s, guarded);
    if constexpr (HighPass) {
      return s - y4;
    } else {
      return y4;
    }
  }
};

using LowPass4Stage = FourPoleStage<false>;
using HighPass4Stage = FourPoleStage<true>;

template <class Stage>
void renderStage(Filter& f, const float* in, float* out, int count) {
  Stage st(f);
  const int stride = f.stride;
  for (int i = 0; i < count; ++i) out[i * stride] = st.step(in[i * stride]);
  st.store(f);
}

void renderOff(const Filter& f, const float* in, float* out, int count) {
  if (in == out) return;
  const int stride = f.stride;
  for (int i = 0; i < count; ++i) out[i * stride] = in[i * stride];
}

// Two independent filters in one loop: their recursions overlap in the
// processor instead of running one after the other.
template <class A, class B>
void renderPairStages(Filter& fa, const float* inA, float* outA, Filter& fb, const float* inB,
                      float* outB, int count) {
  A a(fa);
  B b(fb);
  const int sa = fa.stride, sb = fb.stride;
  for (int i = 0; i < count; ++i) {
    const float xa = inA[i * sa];
    const float xb = inB[i * sb];
    outA[i * sa] = a.step(xa);
    outB[i * sb] = b.step(xb);
  }
  a.store(fa);
  b.store(fb);
}

template <class A>
void renderPairWith(Filter& fa, const float* inA, float* outA, Filter& fb, const float* inB,
                    float* outB, int count) {
  switch (kindOf(fb)) {
    case Kind::StateVariable:
      renderPairStages<A, StateVariableStage>(fa, inA, outA, fb, inB, outB, count);
      break;
    case Kind::LowPass4:
      renderPairStages<A, LowPass4Stage>(fa, inA, outA, fb, inB, outB, count);
      break;
    case Kind::HighPass4:
      renderPairStages<A, HighPass4Stage>(fa, inA, outA, fb, inB, outB, count);
      break;
    case Kind::Off:
      break;
  }
}

// Filters in series in one loop: each sample passes every stage before the
// next sample starts, so stage k of sample i overlaps stage k-1 of sample i+1.
template <class... Stages, size_t... I>
void renderSerialStages(Filter* const* f, float* buf, int count, std::index_sequence<I...>) {
  std::tuple<Stages...> st{Stages(*f[I])...};
  for (int i = 0; i < count; ++i) {
    float x = buf[i];
    ((x = std::get<I>(st).step(x)), ...);
    buf[i] = x;
  }
  (std::get<I>(st).store(*f[I]), ...);
}

// Picks the stage kind of each filter in turn, then runs the fused loop.
template <class... Known>
void dispatchSerial(Filter* const* f, int n, float* buf, int count) {
  constexpr size_t known = sizeof...(Known);
  if (known == static_cast<size_t>(n)) {
    renderSerialStages<Known...>(f, buf, count, std::index_sequence_for<Known...>{});
    return;
  }
  if constexpr (known < kMaxSerialFilters) {
    switch (kindOf(*f[known])) {
      case Kind::StateVariable:
        dispatchSerial<Known..., StateVariableStage>(f, n, buf, count);
        break;
      case Kind::LowPass4:
        dispatchSerial<Known..., LowPass4Stage>(f, n, buf, count);
        break;
      case Kind::HighPass4:
        dispatchSerial<Known..., HighPass4Stage>(f, n, buf, count);
        break;
      case Kind::Off:
        break;
    }
  }
}

static_assert(kFilterLanes == kLaneCount);

// One field of kFilterLanes filters gathered into lanes, and scattered back
// to the first `lanes` of them.
template <class Field>
Lanes gather(Filter* const* f, Field field) {
  float v[kFilterLanes];
  for (int l = 0; l < kFilterLanes; ++l) v[l] = f[l]->*field;
  return loadLanes(v);
}

template <class Field>
void scatter(Filter* const* f, int lanes, Field field, Lanes x) {
  float v[kFilterLanes];
  storeLanes(v, x);
  for (int l = 0; l < lanes; ++l) f[l]->*field = v[l];
}

// StateVariableStage, one filter per lane; each lane has its own output
// weights, so the five state-variable types share one render.
struct StateVariableLanes {
  Lanes fr, dp, low, band, wa, wb, wc;

  explicit StateVariableLanes(Filter* const* f)
      : fr(gather(f, &Filter::freq)),
        dp(gather(f, &Filter::damp)),
        low(gather(f, &Filter::low)),
        band(gather(f, &Filter::band)) {
    float a[kFilterLanes], b[kFilterLanes], c[kFilterLanes];
    for (int l = 0; l < kFilterLanes; ++l) {
      const OutputWeights w = weightsFor(typeOf(*f[l]));
      a[l] = w.a;
      b[l] = w.b;
      c[l] = w.c;
    }
    wa = loadLanes(a);
    wb = loadLanes(b);
    wc = loadLanes(c);
  }
  void store(Filter* const* f, int lanes) const {
    scatter(f, lanes, &Filter::low, low);
    scatter(f, lanes, &Filter::band, band);
  }
  [[gnu::always_inline]] Lanes step(Lanes s) {
    const Lanes guard = splat(kDenormGuard);
    const Lanes x = s + guard;
    low = low + fr * band - guard;
    Lanes high = x - dp * band - low;
    band = band + fr * high;
    low = low + fr * band;
    high = x - dp * band - low;
    band = band + fr * high;
    return (wa * high + wb * band) + wc * low;
  }
};

// FourPoleStage, one filter per lane.
template <bool HighPass>
struct FourPoleLanes {
  Lanes p, fb, r, last, y1, y2, y3, y4;

  explicit FourPoleLanes(Filter* const* f)
      : p(gather(f, &Filter::poleGain)),
        fb(gather(f, &Filter::poleFeedback)),
        r(gather(f, &Filter::resonance)),
        last(gather(f, &Filter::lastInput)),
        y1(gather(f, &Filter::y1)),
        y2(gather(f, &Filter::y2)),
        y3(gather(f, &Filter::y3)),
        y4(gather(f, &Filter::y4)) {}
  void store(Filter* const* f, int lanes) const {
    scatter(f, lanes, &Filter::lastInput, last);
    scatter(f, lanes, &Filter::y1, y1);
    scatter(f, lanes, &Filter::y2, y2);
    scatter(f, lanes, &Filter::y3, y3);
    scatter(f, lanes, &Filter::y4, y4);
  }
  [[gnu::always_inline]] void pass(Lanes s, Lanes guarded) {
    const Lanes u = guarded - r * y4;
    const Lanes n1 = p * (u + last) + fb * y1;
    const Lanes n2 = p * (n1 + y1) + fb * y2;
    const Lanes n3 = p * (n2 + y2) + fb * y3;
    Lanes n4 = p * (n3 + y3) + fb * y4;
    n4 = clampLanes(n4, splat(-kSaturationLimit), splat(kSaturationLimit));
    n4 = n4 - n4 * n4 * n4 / splat(6.0f) - splat(kDenormGuard);
    last = s;
    y1 = n1;
    y2 = n2;
    y3 = n3;
    y4 = n4;
  }
  [[gnu::always_inline]] Lanes step(Lanes s) {
    const Lanes guarded = s + splat(kDenormGuard);
    pass(s, guarded);
    pass(s, guarded);
    if constexpr (HighPass) {
      return s - y4;
    } else {
      return y4;
    }
  }
};

// Filters in series across lanes: chains[l][k] is stage k of lane l, every
// lane's filter of one stage of the same kind.
// Eight voices as two register groups whose recursions overlap in the
// processor: the same step on each group, one after the other.
struct LanePair {
  Lanes a, b;
};

template <class Stage>
struct TwoGroups {
  Stage a, b;

  explicit TwoGroups(Filter* const* f) : a(f), b(f + kFilterLanes) {}
  void store(Filter* const* f, int lanes) const {
    a.store(f, kFilterLanes);
    b.store(f + kFilterLanes, lanes - kFilterLanes);
  }
  [[gnu::always_inline]] LanePair step(LanePair x) { return {a.step(x.a), b.step(x.b)}; }
};

void loadBlock(const float* const* src, int i, LanePair out[kLaneCount]) {
  Lanes a[kLaneCount], b[kLaneCount];
  ::loadBlock(src, i, a);
  ::loadBlock(src + kFilterLanes, i, b);
  for (int k = 0; k < kLaneCount; ++k) out[k] = {a[k], b[k]};
}

void storeBlock(float* const* dst, int lanes, int i, const LanePair in[kLaneCount]) {
  Lanes a[kLaneCount], b[kLaneCount];
  for (int k = 0; k < kLaneCount; ++k) {
    a[k] = in[k].a;
    b[k] = in[k].b;
  }
  ::storeBlock(dst, kFilterLanes, i, a);
  ::storeBlock(dst + kFilterLanes, lanes - kFilterLanes, i, b);
}

void gatherSample(const float* const* src, int i, Lanes& x) {
  x = ::gatherSample(src, i);
}
void gatherSample(const float* const* src, int i, LanePair& x) {
  x = {::gatherSample(src, i), ::gatherSample(src + kFilterLanes, i)};
}
void scatterSample(float* const* dst, int lanes, int i, LanePair x) {
  ::scatterSample(dst, kFilterLanes, i, x.a);
  ::scatterSample(dst + kFilterLanes, lanes - kFilterLanes, i, x.b);
}

// Filters in series across lanes: stages[k][l] is stage k of lane l, every
// lane's filter of one stage of the same kind. Sample is Lanes (four voices)
// or LanePair (eight).
template <class Sample, class... Stages, size_t... I>
void renderSerialLaneStages(Filter* const (*stages)[kMaxLaneVoices], [[maybe_unused]] int lanes,
                            float* const* bufs, int count, std::index_sequence<I...>) {
  std::tuple<Stages...> st{Stages(stages[I])...};
  int i = 0;
  for (; i + kLaneCount <= count; i += kLaneCount) {
    Sample x[kLaneCount];
    loadBlock(bufs, i, x);
    for (Sample& sample : x) ((sample = std::get<I>(st).step(sample)), ...);
    storeBlock(bufs, lanes, i, x);
  }
  for (; i < count; ++i) {
    Sample x;
    gatherSample(bufs, i, x);
    ((x = std::get<I>(st).step(x)), ...);
    scatterSample(bufs, lanes, i, x);
  }
  (std::get<I>(st).store(stages[I], lanes), ...);
}

template <class... Known>
void dispatchSerialLanes(Filter* const (*stages)[kMaxLaneVoices], int n, int lanes,
                         float* const* bufs, int count) {
  constexpr size_t known = sizeof...(Known);
  if (known == static_cast<size_t>(n)) {
    if (lanes > kFilterLanes) {
      renderSerialLaneStages<LanePair, TwoGroups<Known>...>(stages, lanes, bufs, count,
                                                            std::index_sequence_for<Known...>{});
    } else {
      renderSerialLaneStages<Lanes, Known...>(stages, lanes, bufs, count,
                                              std::index_sequence_for<Known...>{});
    }
    return;
  }
  if constexpr (known < kMaxSerialFilters) {
    switch (kindOf(*stages[known][0])) {
      case Kind::StateVariable:
        dispatchSerialLanes<Known..., StateVariableLanes>(stages, n, lanes, bufs, count);
        break;
      case Kind::LowPass4:
        dispatchSerialLanes<Known..., FourPoleLanes<false>>(stages, n, lanes, bufs, count);
        break;
      case Kind::HighPass4:
        dispatchSerialLanes<Known..., FourPoleLanes<true>>(stages, n, lanes, bufs, count);
        break;
      case Kind::Off:
        break;
    }
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
  f.low = 0.0f;
  f.band = 0.0f;
  f.lastInput = 0.0f;
  f.y1 = 0.0f;
  f.y2 = 0.0f;
  f.y3 = 0.0f;
  f.y4 = 0.0f;
  f.stride = 1;
}

void setup(Filter& f, const float* t, const SynthConstants& k) {
  f.type = roundToInt(t[0]);
  const float cutoff = exp2Single(kCutoffOctaves * (t[1] * kParamScale - 1.0f)) * k.rateScale;
  // A rounded type that reads as negative in eight bits counts as below 6.
  if (static_cast<int8_t>(f.type) < kFirstFourPoleType) {
    setupStateVariable(f, cutoff, t[2]);
  } else {
    setupFourPole(f, cutoff, t[2]);
  }
}

void render(Filter& f, const float* in, float* out, int count) {
  switch (kindOf(f)) {
    case Kind::Off:
      renderOff(f, in, out, count);
      break;
    case Kind::StateVariable:
      renderStage<StateVariableStage>(f, in, out, count);
      break;
    case Kind::LowPass4:
      renderStage<LowPass4Stage>(f, in, out, count);
      break;
    case Kind::HighPass4:
      renderStage<HighPass4Stage>(f, in, out, count);
      break;
  }
}

void renderPair(Filter& a, const float* inA, float* outA, Filter& b, const float* inB, float* outB,
                int count) {
  const Kind ka = kindOf(a), kb = kindOf(b);
  if (ka == Kind::Off || kb == Kind::Off) {
    // Reads inB before outA is written, as the fused loop does.
    render(b, inB, outB, count);
    render(a, inA, outA, count);
  } else if (ka == Kind::StateVariable) {
    renderPairWith<StateVariableStage>(a, inA, outA, b, inB, outB, count);
  } else if (ka == Kind::LowPass4) {
    renderPairWith<LowPass4Stage>(a, inA, outA, b, inB, outB, count);
  } else {
    renderPairWith<HighPass4Stage>(a, inA, outA, b, inB, outB, count);
  }
}

void renderSerial(Filter* const* stages, int stageCount, float* buf, int count) {
  Filter* active[kMaxSerialFilters];
  const int n = activeStages(stages, stageCount, active);
  dispatchSerial<>(active, n, buf, count);
}

bool hasActiveStage(Filter* const* stages, int stageCount) {
  Filter* active[kMaxSerialFilters];
  return activeStages(stages, stageCount, active) > 0;
}

int serialKindsKey(Filter* const* stages, int stageCount) {
  Filter* active[kMaxSerialFilters];
  const int n = activeStages(stages, stageCount, active);
  int key = 1;  // leading digit, so that chains of different lengths differ
  for (int i = 0; i < n; ++i) key = key * 4 + static_cast<int>(kindOf(*active[i]));
  return key;
}

bool sameSerialKinds(Filter* const* a, int aCount, Filter* const* b, int bCount) {
  return serialKindsKey(a, aCount) == serialKindsKey(b, bCount);
}

void renderSerialLanes(Filter* const (*chains)[kMaxSerialFilters], const int* stageCounts,
                       int laneCount, float* const* bufs, int count) {
  if (laneCount <= 0) return;
  laneCount = std::min(laneCount, kMaxLaneVoices);
  const int width = laneCount > kFilterLanes ? kMaxLaneVoices : kFilterLanes;
  // Per stage, the filter of every lane; spare lanes run copies of lane 0's.
  Filter spare[kMaxSerialFilters];
  Filter* stages[kMaxSerialFilters][kMaxLaneVoices];
  int n = 0;
  for (int l = 0; l < laneCount; ++l) {
    Filter* active[kMaxSerialFilters];
    n = activeStages(chains[l], stageCounts[l], active);
    for (int k = 0; k < n; ++k) stages[k][l] = active[k];
  }
  for (int k = 0; k < n; ++k) {
    spare[k] = *stages[k][0];
    for (int l = laneCount; l < width; ++l) stages[k][l] = &spare[k];
  }
  float* lanes[kMaxLaneVoices];
  for (int l = 0; l < width; ++l) lanes[l] = bufs[l < laneCount ? l : 0];
  dispatchSerialLanes<>(stages, n, laneCount, lanes, count);
}
