// The demo's embedded tune rendered offline from start to end through the
// sequencer and the synthesizer, as `tune render` does, reported as a
// real-time factor ("realtime": seconds of music per second of wall-clock
// time, one core). The target is 150 or more.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "player/sequencer.h"
#include "player/synth_sink.h"

extern const unsigned char kTuneImage[];
extern const unsigned long kTuneImage_size;

namespace {

constexpr int kBlockFrames = 4096;

// Renders the whole tune once; returns the frames rendered.
int64_t renderTune(PlayerState& player, std::vector<float>& block) {
  resetSequencer(player);
  player.active = 1;
  player.playState = PlayState::Sequencing;
  player.framesToNext = 0;
  player.positionFrames = 0;
  int64_t frames = 0;
  while (player.playState == PlayState::Sequencing) {
    renderFrames(player, block.data(), kBlockFrames);
    frames += kBlockFrames;
  }
  return frames;
}

void BM_EmbeddedTune(benchmark::State& state) {
  auto player = std::make_unique<PlayerState>();
  if (!parseTuneImage(kTuneImage, kTuneImage_size, player->tune)) {
    state.SkipWithError("the embedded tune was rejected");
    return;
  }
  SynthSink sink;
  player->sink = &sink;
  std::vector<float> block(2 * kBlockFrames);
  int64_t frames = 0;
  for (auto _ : state) {
    frames += renderTune(*player, block);
    benchmark::DoNotOptimize(block.data());
  }
  state.counters["realtime"] =
      benchmark::Counter(double(frames) / kDefaultSampleRate, benchmark::Counter::kIsRate);
  state.counters["seconds"] = double(frames) / kDefaultSampleRate / double(state.iterations());
}
BENCHMARK(BM_EmbeddedTune)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
