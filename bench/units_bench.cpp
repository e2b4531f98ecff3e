// Oscillators, envelopes and LFOs: one unit over one tick of 128 samples.
// Items processed are samples, so the rate reads as samples per second;
// one voice in real time needs 44,100 per oscillator.
#include <benchmark/benchmark.h>

#include <vector>

#include "synth/units/envelope.h"
#include "synth/units/lfo.h"
#include "synth/units/oscillator.h"

namespace {

constexpr int kTick = 128;

SynthConstants constants44k() {
  SynthConstants k{};
  k.sampleRate = 44100;
  k.basePhaseStep = 261.62558f * 2147483648.0f / 44100.0f;
  k.rateScale = 1.0f;
  return k;
}

// range(0): mode; range(1): ring flag. Note 72, colour 40, so the shapes
// cross their corners often.
template <bool kOneSampleAtATime>
void oscillatorTick(benchmark::State& state) {
  Oscillator o{};
  reset(o, 0);
  o.pitch = 72.0f;
  const float p[6] = {
      static_cast<float>(state.range(0)), static_cast<float>(state.range(1)), 64, 64, 40, 100};
  setup(o, p, constants44k());
  std::vector<float> buffer(kTick, 0.1f);
  std::vector<float> bus(2 * kTick, 0.2f);
  for (auto _ : state) {
    if constexpr (kOneSampleAtATime) {
      for (int i = 0; i < kTick; ++i) render(o, &buffer[i], 1, &bus[2 * i], &bus[2 * i]);
    } else {
      render(o, buffer.data(), kTick, bus.data(), bus.data());
    }
    // Keep the buffer bounded for the ring and add modes.
    buffer[0] = 0.1f;
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kTick);
  static const char* const kNames[8] = {"off",   "trisaw", "pulse", "sine",
                                        "noise", "pm",     "auxA",  "auxB"};
  state.SetLabel(std::string(kNames[state.range(0) & 7]) + (state.range(1) ? " ring" : ""));
}

void oscillatorArgs(benchmark::internal::Benchmark* b) {
  for (int mode = 1; mode <= 6; ++mode) b->Args({mode, 0});
  b->Args({1, 1});
  b->Args({5, 1});
}

BENCHMARK(oscillatorTick<false>)->Name("Oscillator/render")->Apply(oscillatorArgs);
BENCHMARK(oscillatorTick<true>)->Name("Oscillator/one-sample-per-call")->Apply(oscillatorArgs);

// Two envelopes and two LFOs of a voice, set up and stepped: one control tick.
void controlTick(benchmark::State& state) {
  Envelope env[2]{};
  Lfo lfo[2]{};
  const float e[6] = {20, 60, 80, 64, 50, 128};
  const float l[7] = {3, 0, 0, 100, 0, 0, 64};
  for (auto& x : env) reset(x);
  for (auto& x : lfo) reset(x, 7);
  int gate = 1;
  for (auto _ : state) {
    for (auto& x : env) {
      setup(x, e);
      tick(x, gate);
    }
    for (auto& x : lfo) {
      setup(x, l);
      tick(x);
    }
    benchmark::DoNotOptimize(env[0].out + lfo[0].out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(controlTick)->Name("Control/envelopes+lfos");

}  // namespace
