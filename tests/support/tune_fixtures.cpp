#include "tune_fixtures.h"

#include <gtest/gtest.h>

std::vector<uint8_t> buildImage(const TuneDescription& tune) {
  std::vector<uint8_t> image;
  std::string error;
  if (!writeTuneImage(tune, image, error)) {
    ADD_FAILURE() << "tune writer refused the description: " << error;
    image.clear();
  }
  return image;
}

std::vector<uint8_t> placeholderPatch(uint8_t fill) {
  std::vector<uint8_t> patch(kPatchFixedSize, fill);
  patch[kPatchPolyphonyOffset] = 1;
  patch[kPatchRouteCountOffset] = 0;  // no routes
  return patch;
}

TuneDescription onePatchTune(std::vector<uint8_t> patch, std::vector<uint8_t> global) {
  TuneDescription tune;
  tune.ticksPerQuarter = 128;
  tune.global = std::move(global);
  tune.patches.push_back(PatchEntry{0, std::move(patch)});
  return tune;
}

std::unique_ptr<LoadedTune> loadTune(const TuneDescription& tune, SequencerSink* sink,
                                     int sampleRate) {
  auto loaded = std::make_unique<LoadedTune>();
  loaded->image = buildImage(tune);
  PlayerState& p = *loaded->player;
  loaded->parse = parseTuneImage(loaded->image.data(), loaded->image.size(), p.tune);
  EXPECT_TRUE(loaded->parse.ok) << loaded->parse.reason;
  p.sink = sink;
  p.sampleRate = sampleRate;
  resetSequencer(p);
  p.playState.store(PlayState::Sequencing);
  p.framesToNext = 0;
  p.positionFrames = 0;
  p.active.store(1);
  return loaded;
}
