// The synthesizer behind the sequencer's seam: a tune image plays through
// SynthSink with its own patches and global block, repeatably per seed.
#include "player/synth_sink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "support/patch_builder.h"
#include "support/tune_fixtures.h"

using namespace testpatch;

namespace {

// Program 0: a plain sine; program 1: pulses whose width a sample-and-hold
// LFO redraws every few ticks.
TuneDescription twoVoiceTune() {
  Patch random = plainPatch();
  random.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  random.voice[kLfo[0] + 0] = 4;    // sample and hold
  random.voice[kLfo[0] + 3] = 120;  // a new value every few ticks
  random.voice[kLfo[0] + 6] = 100;
  random.routes = {{kSrcLfo1, 128, static_cast<uint8_t>(kOsc[0] + kOscColour)}};

  const auto g = neutralGlobals();
  TuneDescription t = onePatchTune(patchBytes(plainPatch()), {g.begin(), g.end()});
  t.patches.push_back({1, patchBytes(random)});
  t.channels[0].notes = {{0, 60, 100}, {256, 60, 0}};  // one second at 128 ticks per quarter
  t.channels[1].notes = {{0, 67, 100}, {256, 67, 0}};
  t.channels[1].programs = {{0, 1}};
  return t;
}

std::vector<float> play(const TuneDescription& tune, SeedSource seeds, int frames) {
  SynthSink sink(seeds);
  std::unique_ptr<LoadedTune> loaded = loadTune(tune, &sink);
  std::vector<float> out(2 * static_cast<size_t>(frames));
  renderFrames(*loaded->player, out.data(), frames);
  return out;
}

}  // namespace

TEST(SynthSink, SameSeedSameSamplesOtherSeedOtherSamples) {
  const TuneDescription tune = twoVoiceTune();
  const std::vector<float> a = play(tune, {SeedMode::Fixed, 7}, 30000);
  const std::vector<float> b = play(tune, {SeedMode::Fixed, 7}, 30000);
  const std::vector<float> c = play(tune, {SeedMode::Fixed, 8}, 30000);
  ASSERT_GT(rmsOf(a), 0.1f);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
  EXPECT_NE(0, std::memcmp(a.data(), c.data(), a.size() * sizeof(float)));
}

TEST(SynthSink, RestartingTheTuneStartsTheSynthesizerAfresh) {
  // A tune that ends while a voice still sounds, played twice on one sink:
  // the second pass must not hear the first one's voice.
  TuneDescription tune = twoVoiceTune();
  SynthSink sink({SeedMode::Fixed, 3});
  std::unique_ptr<LoadedTune> loaded = loadTune(tune, &sink);
  std::vector<float> first(2 * 20000), second(2 * 20000);
  renderFrames(*loaded->player, first.data(), 20000);
  resetSequencer(*loaded->player);
  loaded->player->playState.store(PlayState::Sequencing);
  loaded->player->framesToNext = 0;
  loaded->player->positionFrames = 0;
  renderFrames(*loaded->player, second.data(), 20000);
  EXPECT_EQ(0, std::memcmp(first.data(), second.data(), first.size() * sizeof(float)));
}
