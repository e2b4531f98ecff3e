#pragma once
// The patch byte layout, shared by the synthesizer, the tune source compiler
// and the tests. A patch is the voice parameters, the channel parameters,
// polyphony, route count, then three bytes (source, amount, destination) per
// modulation route. Every parameter byte reads as 0..kParamFullScale.
#include "synth/constants.h"

constexpr int kVoiceParamCount = 59;    // patch bytes 0..58
constexpr int kChannelParamCount = 29;  // patch bytes 59..87
constexpr int kGlobalParamCount = 22;   // the global parameter block
constexpr int kPatchPolyphony = 88;
constexpr int kPatchRouteCount = 89;
constexpr int kPatchHeaderSize = 90;
constexpr int kRouteSize = 3;

namespace patchlayout {

// Voice parameters: index = patch byte.
constexpr int kPan = 0;
constexpr int kTranspose = 1;
constexpr int kOsc[3] = {2, 8, 14};   // + kOscMode .. kOscLevel
constexpr int kFilter[2] = {20, 23};  // + type, cutoff, resonance
constexpr int kRouting = 26;
constexpr int kFilterBalance = 27;
constexpr int kDistortion = 28;    // + mode, drive, amount, shape
constexpr int kEnv[2] = {32, 38};  // + kEnvAttack .. kEnvGain
constexpr int kLfo[2] = {44, 51};  // + wave, key sync, one-shot, rate, start, polarity, depth
constexpr int kRetrigger = 58;

// Offsets inside one oscillator's and one envelope's block.
constexpr int kOscMode = 0, kOscRing = 1, kOscTranspose = 2, kOscFine = 3, kOscColour = 4,
              kOscLevel = 5;
constexpr int kEnvAttack = 0, kEnvDecay = 1, kEnvSustain = 2, kEnvSlope = 3, kEnvRelease = 4,
              kEnvGain = 5;

// Channel parameters: index i is patch byte kChannelDestination + i, which is
// also the destination byte of a route to it.
constexpr int kChannelDestination = kVoiceParamCount;
constexpr int kVolume = 0;
constexpr int kAuxReturnA = 1, kAuxReturnB = 2, kAuxSendA = 3, kAuxSendB = 4;
constexpr int kReverbSend = 5, kDelaySend = 6, kEffectOrder = 7, kBassBoost = 8;
constexpr int kChannelDistortion = 9;   // + mode, drive, amount, shape
constexpr int kChannelDelay = 13;       // + seven delay parameters
constexpr int kChannelCompressor = 20;  // + nine compressor parameters

// Global parameters: index = byte of the global block.
constexpr int kReverb = 0;       // + decay, damping, low cut, level
constexpr int kGlobalDelay = 4;  // + seven delay parameters
constexpr int kMasterLowCut = 11;
constexpr int kMasterHighCut = 12;
constexpr int kMasterCompressor = 13;  // + nine compressor parameters

// Route sources: 1..7 read the channel controllers, 12 and above track the key.
constexpr int kSrcVelocity = 0, kSrcLastController = 7, kSrcEnv1 = 8, kSrcEnv2 = 9, kSrcLfo1 = 10,
              kSrcLfo2 = 11, kSrcKey = 12;

static_assert(kChannelCompressor + 9 == kChannelParamCount);
static_assert(kMasterCompressor + 9 == kGlobalParamCount);
static_assert(kRetrigger + 1 == kVoiceParamCount);

}  // namespace patchlayout
