// Parsing and a full measuring pass over a large generated tune: about the
// size of a three-minute piece with dense controller automation.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "player/sequencer.h"
#include "player/tune_writer.h"

namespace {

constexpr int kTicks = 72000;

std::vector<uint8_t> largeTune() {
  TuneDescription t;
  t.ticksPerQuarter = 128;
  t.tempo = {{0, 371519, 4, 4, 8}, {36000, 350000, 3, 4, 8}};
  t.global.assign(22, 0);
  PatchEntry patch{0, std::vector<uint8_t>(kPatchFixedSize, 64)};
  patch.bytes[kPatchRouteCountOffset] = 0;
  t.patches.push_back(patch);
  for (int ch = 2; ch < 15; ++ch) {
    ChannelEvents& c = t.channels[size_t(ch)];
    const int step = 24 + 8 * (ch % 4);  // channels drift against each other
    for (int tick = 0; tick + step / 2 < kTicks; tick += step) {
      const uint8_t note = uint8_t(36 + (tick / step * 7 + ch) % 48);
      c.notes.push_back({tick, note, 100});
      c.notes.push_back({tick, uint8_t(note + 4), 90});
      c.notes.push_back({tick + step / 2, note, 0});
      c.notes.push_back({tick + step / 2, uint8_t(note + 4), 0});
    }
    for (int tick = 0; tick < kTicks; tick += 2 + ch % 3)
      c.controllers[0].push_back({tick, uint8_t(tick / 3 % 128)});
  }
  std::vector<uint8_t> image;
  std::string error;
  if (!writeTuneImage(t, image, error)) image.clear();
  return image;
}

void BM_ParseTuneImage(benchmark::State& state) {
  const std::vector<uint8_t> image = largeTune();
  TuneImage tune;
  for (auto _ : state) {
    ParseResult r = parseTuneImage(image.data(), image.size(), tune);
    benchmark::DoNotOptimize(r);
    if (!r) state.SkipWithError(r.reason);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_ParseTuneImage)->Unit(benchmark::kMicrosecond);

void BM_ParseAndMeasure(benchmark::State& state) {
  const std::vector<uint8_t> image = largeTune();
  auto player = std::make_unique<PlayerState>();
  int64_t ticks = 0;
  for (auto _ : state) {
    PlayerState& p = *player;
    ParseResult r = parseTuneImage(image.data(), image.size(), p.tune);
    if (!r) state.SkipWithError(r.reason);
    resetSequencer(p);
    const TuneLength len = measureTune(p);
    benchmark::DoNotOptimize(len);
    ticks = len.ticks;
  }
  state.counters["sequencer_ticks"] = double(ticks);
  state.counters["image_bytes"] = double(image.size());
}
BENCHMARK(BM_ParseAndMeasure)->Unit(benchmark::kMillisecond);

}  // namespace
