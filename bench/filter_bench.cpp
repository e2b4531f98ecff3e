// A voice's filter chain over one tick: two filters in series, the shaper and
// the DC blocker, as the voice render runs them. Items are samples; divide
// items/s by 44,100 for the real-time factor of one voice.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "synth/units/dc_blocker.h"
#include "synth/units/distortion.h"
#include "synth/units/filter.h"

namespace {

constexpr int kTick = 128;

SynthConstants constants44() {
  SynthConstants k{};
  k.sampleRate = 44100;
  k.tickLength = kTick;
  k.rateScale = 1.0f;
  k.dcCoefficient = 1.0f - 126.0f / 44100.0f;
  return k;
}

// A sawtooth-like test tone, one tick long.
std::vector<float> tone() {
  std::vector<float> v(kTick);
  for (int i = 0; i < kTick; ++i) v[i] = static_cast<float>(i % 100) * 0.02f - 1.0f;
  return v;
}

struct VoiceChain {
  Filter filters[2];
  Distortion shaper;
  DcBlocker dc;
};

VoiceChain makeChain(float type1, float type2, float shaperMode) {
  const SynthConstants k = constants44();
  VoiceChain c{};
  reset(c.filters[0]);
  reset(c.filters[1]);
  reset(c.shaper);
  reset(c.dc);
  const float f1[3] = {type1, 80.0f, 100.0f};
  const float f2[3] = {type2, 90.0f, 60.0f};
  const float d[4] = {shaperMode, 48.0f, 100.0f, 70.0f};
  setup(c.filters[0], f1, k);
  setup(c.filters[1], f2, k);
  setup(c.shaper, d, k);
  return c;
}

void runChain(benchmark::State& state, float type1, float type2, float shaperMode) {
  const SynthConstants k = constants44();
  VoiceChain c = makeChain(type1, type2, shaperMode);
  const std::vector<float> source = tone();
  std::vector<float> buf(kTick);
  for (auto _ : state) {
    buf = source;
    render(c.filters[0], buf.data(), buf.data(), kTick);
    render(c.filters[1], buf.data(), buf.data(), kTick);
    renderMono(c.shaper, buf.data(), buf.data(), kTick);
    renderMono(c.dc, buf.data(), buf.data(), kTick, k);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}

// The same chain with the filters in series in one fused loop, as the voice
// runs it; a shaper in a filter mode joins the series.
void runFusedChain(benchmark::State& state, float type1, float type2, float shaperMode) {
  const SynthConstants k = constants44();
  VoiceChain c = makeChain(type1, type2, shaperMode);
  const std::vector<float> source = tone();
  std::vector<float> buf(kTick);
  Filter* shaperFilter = monoFilterStage(c.shaper);
  Filter* stages[3] = {&c.filters[0], &c.filters[1], shaperFilter};
  const int stageCount = shaperFilter ? 3 : 2;
  for (auto _ : state) {
    buf = source;
    renderSerial(stages, stageCount, buf.data(), kTick);
    if (!shaperFilter) renderMono(c.shaper, buf.data(), buf.data(), kTick);
    renderMono(c.dc, buf.data(), buf.data(), kTick, k);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}

// Four-pole low-pass, then state-variable low-pass, arctangent shaper.
void BM_VoiceChainFourPoleStateVariableSaturate(benchmark::State& state) {
  runChain(state, 6.0f, 1.0f, 1.0f);
}
BENCHMARK(BM_VoiceChainFourPoleStateVariableSaturate);

// The heaviest voice: both filters four-pole and the shaper slot holding a
// third four-pole filter (mode 10 = filter type 6).
void BM_VoiceChainThreeFourPole(benchmark::State& state) {
  runChain(state, 6.0f, 7.0f, 10.0f);
}
BENCHMARK(BM_VoiceChainThreeFourPole);

void BM_FusedChainFourPoleStateVariableSaturate(benchmark::State& state) {
  runFusedChain(state, 6.0f, 1.0f, 1.0f);
}
BENCHMARK(BM_FusedChainFourPoleStateVariableSaturate);

void BM_FusedChainThreeFourPole(benchmark::State& state) {
  runFusedChain(state, 6.0f, 7.0f, 10.0f);
}
BENCHMARK(BM_FusedChainThreeFourPole);

// One filter of each type over a tick.
void BM_FilterType(benchmark::State& state) {
  Filter f{};
  reset(f);
  const float t[3] = {static_cast<float>(state.range(0)), 80.0f, 100.0f};
  setup(f, t, constants44());
  const std::vector<float> source = tone();
  std::vector<float> buf(kTick);
  for (auto _ : state) {
    buf = source;
    render(f, buf.data(), buf.data(), kTick);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}
BENCHMARK(BM_FilterType)->DenseRange(1, 7);

// The shaper modes without filters.
void BM_ShaperMode(benchmark::State& state) {
  Distortion d{};
  reset(d);
  const float p[4] = {static_cast<float>(state.range(0)), 48.0f, 100.0f, 70.0f};
  setup(d, p, constants44());
  const std::vector<float> source = tone();
  std::vector<float> buf(kTick);
  for (auto _ : state) {
    buf = source;
    renderMono(d, buf.data(), buf.data(), kTick);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}
BENCHMARK(BM_ShaperMode)->DenseRange(1, 4);

// The channel form: a stereo filter mode over one tick of interleaved frames.
void BM_StereoFilterMode(benchmark::State& state) {
  Distortion d{};
  reset(d);
  const float p[4] = {10.0f, 32.0f, 80.0f, 100.0f};
  setup(d, p, constants44());
  std::vector<float> source(2 * kTick);
  const std::vector<float> mono = tone();
  for (int i = 0; i < kTick; ++i) source[2 * i] = source[2 * i + 1] = mono[i];
  std::vector<float> buf(2 * kTick);
  for (auto _ : state) {
    buf = source;
    renderStereo(d, buf.data(), buf.data(), kTick);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}
BENCHMARK(BM_StereoFilterMode);

}  // namespace
