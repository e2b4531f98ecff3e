#pragma once
// Readable test patches and patch maps for the synthesizer, and a small
// harness that owns a synthesizer state.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "synth/synth.h"

namespace testpatch {

// Voice parameter indices (patch bytes 0..58).
constexpr int kPan = 0;
constexpr int kTranspose = 1;
constexpr int kOsc[3] = {2, 8, 14};   // + mode, ring, transpose, fine, colour, level
constexpr int kFilter[2] = {20, 23};  // + type, cutoff, resonance
constexpr int kRouting = 26;
constexpr int kFilterBalance = 27;
constexpr int kDistortion = 28;    // + four parameters
constexpr int kEnv[2] = {32, 38};  // + attack, decay, sustain, slope, release, gain
constexpr int kLfo[2] = {44, 51};  // + wave, key sync, one-shot, rate, start, polarity, depth
constexpr int kRetrigger = 58;

// Offsets inside one oscillator's, envelope's, LFO's block.
constexpr int kOscMode = 0, kOscRing = 1, kOscTranspose = 2, kOscFine = 3, kOscColour = 4,
              kOscLevel = 5;
constexpr int kEnvAttack = 0, kEnvDecay = 1, kEnvSustain = 2, kEnvSlope = 3, kEnvRelease = 4,
              kEnvGain = 5;

// Channel parameter indices (patch byte 59 + i); route destinations add 59.
constexpr int kVolume = 0;
constexpr int kAuxReturnA = 1, kAuxReturnB = 2, kAuxSendA = 3, kAuxSendB = 4;
constexpr int kReverbSend = 5, kDelaySend = 6, kEffectOrder = 7, kBassBoost = 8;
constexpr int kChannelDistortion = 9, kChannelDelay = 13, kChannelCompressor = 20;
constexpr int kChannelDestination = 59;

// Route sources.
constexpr uint8_t kSrcVelocity = 0, kSrcEnv1 = 8, kSrcEnv2 = 9, kSrcLfo1 = 10, kSrcLfo2 = 11,
                  kSrcKey = 12;

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
float rms(const std::vector<float>& x, size_t begin = 0, size_t end = SIZE_MAX);
// Frequency in Hz from the mean period between rising zero crossings
// (interpolated) of x at `rate`; 0 when fewer than two crossings.
double frequencyOf(const std::vector<float>& x, double rate);

}  // namespace testpatch
