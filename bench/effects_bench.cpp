// Channel strip, master chain and the effect units on their own, one tick at
// a time, reported as a real-time factor: seconds of audio rendered per
// second of wall-clock time ("realtime" counter). The tail benchmarks show
// that a decaying tail after a loud passage costs no more than silence.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "synth/units/bass_boost.h"
#include "synth/units/compressor.h"
#include "synth/units/dc_blocker.h"
#include "synth/units/distortion.h"
#include "synth/units/mod_delay.h"
#include "synth/units/reverb.h"

namespace {

constexpr int kTick = 128;
constexpr double kRate = 44100.0;

SynthConstants constants() {
  SynthConstants k{};
  k.sampleRate = 44100;
  k.tickLength = kTick;
  k.tickRecip = 1.0f / kTick;
  k.rateScale = 1.0f;
  const double w = 2.0 * 3.14159265358979 * 150.0 / kRate;
  k.bassSin = static_cast<float>(std::sin(w));
  k.bassCos = static_cast<float>(std::cos(w));
  k.dcCoefficient = 1.0f - 126.0f / 44100.0f;
  return k;
}

std::vector<float> noise(size_t count, float level) {
  std::vector<float> b(count);
  uint32_t seed = 1;
  for (float& v : b) {
    seed = seed * 1664525u + 1013904223u;
    v = level * static_cast<float>(static_cast<int32_t>(seed)) / 2147483648.0f;
  }
  return b;
}

void reportRealtime(benchmark::State& state, double framesPerIteration) {
  state.counters["realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * framesPerIteration / kRate,
                         benchmark::Counter::kIsRate);
}

// Every setting chosen for cost: per-side RMS compressor with a long
// lookahead, bass boost on, a four-pole filter in the distortion slot, a
// modulated delay with feedback.
struct Strip {
  SynthConstants k = constants();
  DcBlocker dcIn{}, dcOut{};
  std::unique_ptr<Compressor> comp = std::make_unique<Compressor>();
  BassBoost bass{};
  Distortion dist{};
  std::vector<float> left = std::vector<float>(kChannelDelayMask + 1);
  std::vector<float> right = std::vector<float>(kChannelDelayMask + 1);
  ModDelay delay{};

  Strip() {
    const float c[9] = {2, 1, 0, 100, 60, 64, 40, 60, 64};
    const float b = 64;
    const float d[4] = {10, 40, 90, 40};
    const float m[7] = {96, 90, 60, 70, 80, 40, 30};
    reset(dcIn);
    reset(dcOut);
    reset(*comp);
    setup(*comp, c, k);
    setup(bass, &b, k);
    reset(dist);
    setup(dist, d, k);
    attachLines(delay, left.data(), right.data(), kChannelDelayMask);
    reset(delay);
    setup(delay, m, k);
  }
  void tick(float* buffer) {
    renderStereo(dcIn, buffer, buffer, kTick, k);
    render(*comp, buffer, kTick);
    render(bass, buffer, kTick, k);
    renderStereo(dist, buffer, buffer, kTick);
    renderStereo(dcOut, buffer, buffer, kTick, k);
    render(delay, buffer, kTick);
  }
};

void BM_ChannelStrip(benchmark::State& state) {
  Strip strip;
  const auto input = noise(2 * kTick, 0.5f);
  std::vector<float> buffer(2 * kTick);
  for (auto _ : state) {
    buffer = input;
    strip.tick(buffer.data());
    benchmark::DoNotOptimize(buffer.data());
  }
  reportRealtime(state, kTick);
}

// Reverb at its longest decay, a modulated global delay with feedback, the
// master DC blocker and a per-side RMS compressor with lookahead.
struct MasterChain {
  SynthConstants k = constants();
  std::unique_ptr<Reverb> reverb = std::make_unique<Reverb>();
  std::vector<float> left = std::vector<float>(kGlobalDelayMask + 1);
  std::vector<float> right = std::vector<float>(kGlobalDelayMask + 1);
  ModDelay delay{};
  DcBlocker dc{};
  std::unique_ptr<Compressor> comp = std::make_unique<Compressor>();

  MasterChain() {
    reset(*reverb);
    attachLines(delay, left.data(), right.data(), kGlobalDelayMask);
    reset(delay);
    reset(dc);
    reset(*comp);
    const float g[4] = {127, 100, 8, 100};
    const float m[7] = {100, 100, 60, 90, 60, 30, 40};
    const float c[9] = {2, 1, 0, 100, 60, 64, 40, 60, 64};
    setup(*reverb, g, k);
    setup(delay, m, k);
    setup(*comp, c, k);
  }
  void tick(const float* reverbBus, const float* delayBus, float* master) {
    render(*reverb, reverbBus, master, kTick);
    renderGlobal(delay, delayBus, master, kTick);
    renderStereo(dc, master, master, kTick, k);
    render(*comp, master, kTick);
  }
};

void BM_MasterChain(benchmark::State& state) {
  MasterChain chain;
  const auto bus = noise(kTick, 0.3f);
  std::vector<float> master(2 * kTick);
  for (auto _ : state) {
    std::fill(master.begin(), master.end(), 0.0f);
    chain.tick(bus.data(), bus.data(), master.data());
    benchmark::DoNotOptimize(master.data());
  }
  reportRealtime(state, kTick);
}

// Ten seconds of an empty bus, either from a fresh chain (silence) or right
// after two seconds of loud input (the tail). Only the ten seconds are timed.
constexpr int kTailTicks = 10 * 44100 / kTick;
constexpr int kLoudTicks = 2 * 44100 / kTick;

void masterChainTail(benchmark::State& state, bool afterLoud) {
  const auto loud = noise(kTick, 4.0f);
  const std::vector<float> quiet(kTick, 0.0f);
  std::vector<float> master(2 * kTick);
  for (auto _ : state) {
    state.PauseTiming();
    auto chain = std::make_unique<MasterChain>();
    if (afterLoud)
      for (int t = 0; t < kLoudTicks; ++t) chain->tick(loud.data(), loud.data(), master.data());
    state.ResumeTiming();
    for (int t = 0; t < kTailTicks; ++t) {
      std::fill(master.begin(), master.end(), 0.0f);
      chain->tick(quiet.data(), quiet.data(), master.data());
    }
    benchmark::DoNotOptimize(master.data());
  }
  reportRealtime(state, double(kTailTicks) * kTick);
}

void BM_MasterChainSilence(benchmark::State& state) {
  masterChainTail(state, false);
}
void BM_MasterChainTailAfterLoud(benchmark::State& state) {
  masterChainTail(state, true);
}

// The same comparison for a channel strip whose delay keeps repeating.
void stripTail(benchmark::State& state, bool afterLoud) {
  const auto loud = noise(2 * kTick, 4.0f);
  std::vector<float> buffer(2 * kTick);
  for (auto _ : state) {
    state.PauseTiming();
    auto strip = std::make_unique<Strip>();
    if (afterLoud)
      for (int t = 0; t < kLoudTicks; ++t) {
        buffer = loud;
        strip->tick(buffer.data());
      }
    state.ResumeTiming();
    for (int t = 0; t < kTailTicks; ++t) {
      std::fill(buffer.begin(), buffer.end(), 0.0f);
      strip->tick(buffer.data());
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  reportRealtime(state, double(kTailTicks) * kTick);
}

void BM_ChannelStripSilence(benchmark::State& state) {
  stripTail(state, false);
}
void BM_ChannelStripTailAfterLoud(benchmark::State& state) {
  stripTail(state, true);
}

void BM_CompressorDetector(benchmark::State& state) {
  // Argument: detector (0 linked peak, 1 linked RMS, 2 per-side peak, 3 per-side RMS).
  const int detector = static_cast<int>(state.range(0));
  const float c[9] = {
      detector % 2 == 0 ? 1.0f : 2.0f, detector >= 2 ? 1.0f : 0.0f, 0, 100, 60, 64, 40, 60, 64};
  auto comp = std::make_unique<Compressor>();
  reset(*comp);
  setup(*comp, c, constants());
  const auto input = noise(2 * kTick, 0.5f);
  std::vector<float> buffer(2 * kTick);
  for (auto _ : state) {
    buffer = input;
    render(*comp, buffer.data(), kTick);
    benchmark::DoNotOptimize(buffer.data());
  }
  reportRealtime(state, kTick);
}

void BM_Reverb(benchmark::State& state) {
  auto reverb = std::make_unique<Reverb>();
  reset(*reverb);
  const float g[4] = {127, 100, 8, 100};
  setup(*reverb, g, constants());
  const auto bus = noise(kTick, 0.3f);
  std::vector<float> master(2 * kTick);
  for (auto _ : state) {
    render(*reverb, bus.data(), master.data(), kTick);
    benchmark::DoNotOptimize(master.data());
  }
  reportRealtime(state, kTick);
}

void BM_ModDelayChannel(benchmark::State& state) {
  std::vector<float> left(kChannelDelayMask + 1), right(kChannelDelayMask + 1);
  ModDelay delay{};
  attachLines(delay, left.data(), right.data(), kChannelDelayMask);
  reset(delay);
  const float m[7] = {96, 90, 60, 70, 80, 40, 30};
  setup(delay, m, constants());
  const auto input = noise(2 * kTick, 0.5f);
  std::vector<float> buffer(2 * kTick);
  for (auto _ : state) {
    buffer = input;
    render(delay, buffer.data(), kTick);
    benchmark::DoNotOptimize(buffer.data());
  }
  reportRealtime(state, kTick);
}

void BM_BassBoost(benchmark::State& state) {
  BassBoost bass{};
  const float b = 64;
  const SynthConstants k = constants();
  setup(bass, &b, k);
  const auto input = noise(2 * kTick, 0.5f);
  std::vector<float> buffer(2 * kTick);
  for (auto _ : state) {
    buffer = input;
    render(bass, buffer.data(), kTick, k);
    benchmark::DoNotOptimize(buffer.data());
  }
  reportRealtime(state, kTick);
}

}  // namespace

BENCHMARK(BM_ChannelStrip);
BENCHMARK(BM_MasterChain);
BENCHMARK(BM_MasterChainSilence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MasterChainTailAfterLoud)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelStripSilence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelStripTailAfterLoud)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressorDetector)->DenseRange(0, 3);
BENCHMARK(BM_Reverb);
BENCHMARK(BM_ModDelayChannel);
BENCHMARK(BM_BassBoost);
