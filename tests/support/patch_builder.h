#pragma once
// Readable test patches and patch maps for the synthesizer, and a small
// harness that owns a synthesizer state.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/signals.h"
#include "synth/synth.h"

namespace testpatch {

// The patch byte layout's names (kOsc, kFilter, kVolume, kSrcLfo1, ...).
using namespace patchlayout;

struct Route {
  uint8_t source;
  uint8_t amount;  // 64 = none, 128 = +1, 0 = -1
  uint8_t destination;
};

struct Patch {
  std::array<uint8_t, kVoiceParamCount> voice;
  std::array<uint8_t, kChannelParamCount> channel;
  uint8_t polyphony;
  std::vector<Route> routes;
};

// One sine oscillator at full level; envelope 1 opens in one tick, holds
// full level and ends one tick after note-off; filters, shapers and every
// effect are off; pan centre; channel volume 127; polyphony 8.
Patch plainPatch();

// Serialised patch bytes: 90-byte header and the routes.
std::vector<uint8_t> patchBytes(const Patch& p);

// Patch map with all 128 offset entries: program p plays patches[p], or
// patches[0] when p is beyond the list.
std::vector<uint8_t> buildPatchMap(const std::vector<Patch>& patches);

// Global block: reverb, delay and master compressor off, low cut at its
// lowest, high cut bypassed.
std::array<uint8_t, kGlobalParamCount> neutralGlobals();

// A synthesizer at 44,100 Hz over its own copy of a patch map.
class TestSynth {
 public:
  explicit TestSynth(const std::vector<Patch>& patches, SeedSource seeds = kDefaultSeeds);
  explicit TestSynth(std::vector<uint8_t> patchMap, SeedSource seeds = kDefaultSeeds);

  SynthState& state() { return *state_; }
  const std::vector<uint8_t>& patchMap() const { return map_; }

  void events(std::initializer_list<uint8_t> bytes);  // 0xFD is appended
  // Renders interleaved frames, in calls of `chunk` frames.
  std::vector<float> render(int frames, int chunk = 1000);
  int voicesOn(int channel);  // voices owned by the channel
  int voicesTotal();

 private:
  std::vector<uint8_t> map_;
  std::unique_ptr<SynthState> state_;
};

// Left samples of an interleaved buffer.
std::vector<float> leftOf(const std::vector<float>& interleaved);
using testsig::rmsOf;
// Frequency in Hz from the mean period between rising zero crossings
// (interpolated) of x at `rate`; 0 when fewer than two crossings.
double frequencyOf(const std::vector<float>& x, double rate);

}  // namespace testpatch
