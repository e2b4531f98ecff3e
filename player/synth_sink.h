#pragma once
// Connects the sequencer's sink seam to the synthesizer: the sink owns one
// synthesizer state (allocated once, when the sink is made) and applies each
// tick's event list to it and renders from it.
#include <cstdint>
#include <memory>

#include "player/sequencer.h"
#include "synth/synth.h"

class SynthSink final : public SequencerSink {
 public:
  // seeds: where the sample-and-hold LFOs draw their seeds (fixed for
  // repeatable offline renders, the clock for live playback).
  explicit SynthSink(SeedSource seeds = kDefaultSeeds);
  ~SynthSink() = default;
  SynthSink(const SynthSink&) = delete;
  SynthSink& operator=(const SynthSink&) = delete;

  // Initialises the synthesizer with the tune's patch map, global block and
  // speech texts. A sample rate the synthesizer cannot serve leaves it silent.
  void start(const TuneImage& tune, int sampleRate) override;
  void processEvents(const uint8_t* list) override;
  void render(float* out, int frames) override;
  // The new patch map, global parameters and speech texts; voices, tails
  // and controllers go on. The speech channel starts its first text again.
  void retune(const TuneImage& tune) override;

  SynthState& synth() { return *state_; }
  const SynthState& synth() const { return *state_; }

 private:
  std::unique_ptr<SynthState> state_;
  SeedSource seeds_;
};
