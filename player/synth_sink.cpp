#include "player/synth_sink.h"

SynthSink::SynthSink(SeedSource seeds) : state_(std::make_unique<SynthState>()), seeds_(seeds) {
  // A silent, valid state until the first tune starts.
  synthInit(*state_, nullptr, 0, kDefaultSampleRate, seeds_);
}

void SynthSink::start(const TuneImage& tune, int sampleRate) {
  SynthState& s = *state_;
  const size_t mapSize = tune.patchSize > 0 ? static_cast<size_t>(tune.patchSize) : 0;
  synthInit(s, tune.patchMap, mapSize, sampleRate, seeds_);
  setGlobalParams(s, tune.globalParams);
  SpeechText texts[kSpeechTextCount];
  fillSpeechTexts(tune, texts);
  setSpeechTexts(s, texts);
}

void SynthSink::retune(const TuneImage& tune) {
  SynthState& s = *state_;
  const size_t mapSize = tune.patchSize > 0 ? static_cast<size_t>(tune.patchSize) : 0;
  setPatchMap(s, tune.patchMap, mapSize);
  setGlobalParams(s, tune.globalParams);
  SpeechText texts[kSpeechTextCount];
  fillSpeechTexts(tune, texts);
  setSpeechTexts(s, texts);
}

void SynthSink::processEvents(const uint8_t* list) {
  ::processEvents(*state_, list);
}

void SynthSink::render(float* out, int frames) {
  synthRender(*state_, out, frames, nullptr, false);
}
