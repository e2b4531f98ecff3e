// Patch lookup and the once-per-tick conversion of patch bytes plus
// modulation routes into voice and channel settings.
#include "synth/params.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

namespace {

constexpr float kCentre = 64.0f;
constexpr float kSendScale = 0.6f;  // headroom of every send and of the main output

using namespace patchlayout;

// Modulation sources.
enum class RouteSource : int {
  Velocity = kSrcVelocity,
  LastController = kSrcLastController,  // 1..7: channel controllers
  Envelope1 = kSrcEnv1,
  Envelope2 = kSrcEnv2,
  Lfo1 = kSrcLfo1,
  Lfo2 = kSrcLfo2,  // kSrcKey and above: key tracking
};
constexpr int kKeyTrackCentre = 48;

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The value of a route source for a voice and the controllers of a channel.
float sourceValue(int source, const Voice& v, const uint8_t* controls) {
  if (source == static_cast<int>(RouteSource::Velocity)) return v.velocity;
  if (source <= static_cast<int>(RouteSource::LastController)) {
    return static_cast<float>(controls[source]);
  }
  if (source <= static_cast<int>(RouteSource::Lfo2)) {
    const float outs[] = {v.env[0].out, v.env[1].out, v.lfo[0].out, v.lfo[1].out};
    return outs[source - static_cast<int>(RouteSource::Envelope1)];
  }
  return static_cast<float>(2 * (v.note - kKeyTrackCentre));
}

// Adds one route to a parameter; the clamp follows every route, so the order
// of routes to one destination matters.
void applyRoute(float& param, float source, uint8_t amount) {
  const float scaled = param + source * ((static_cast<float>(amount) - kCentre) / kCentre);
  param = std::clamp(scaled, 0.0f, kParamFullScale);
}

// Applies the routes whose destination lies in [first, first + count) to
// params[destination - first].
void applyRoutes(const uint8_t* patch, int first, int count, float* params, const Voice& v,
                 const uint8_t* controls) {
  const int routes = patch[kPatchRouteCount];
  const uint8_t* r = patch + kPatchHeaderSize;
  for (int i = 0; i < routes; ++i, r += kRouteSize) {
    const int destination = r[2] - first;
    if (destination < 0 || destination >= count) continue;
    applyRoute(params[destination], sourceValue(r[0], v, controls), r[1]);
  }
}

void applyVoiceSettings(Voice& v, const float* p) {
  v.transpose = p[kTranspose] - kCentre;
  const float pitch = static_cast<float>(v.note) + v.transpose;
  for (Oscillator& o : v.osc) o.pitch = pitch;
  v.routing = roundToInt(p[kRouting]);
  v.retrigger = roundToInt(p[kRetrigger]);
  // An unmodulated pan byte may exceed 128; keep the square roots real.
  const float x = std::clamp(p[kPan] / kParamFullScale, 0.0f, 1.0f);
  v.gainLeft = std::sqrt(1.0f - x);
  v.gainRight = std::sqrt(x);
  const float y = (p[kFilterBalance] - kCentre) / kCentre;
  if (roundToInt(p[kFilterBalance] - kCentre) >= 0) {
    v.filterMix1 = 1.0f - y;
    v.filterMix2 = 1.0f;
  } else {
    v.filterMix1 = 1.0f;
    v.filterMix2 = 1.0f + y;
  }
}

void setupVoiceUnits(Voice& v, const float* p, const SynthConstants& k) {
  for (int i = 0; i < 3; ++i) setup(v.osc[i], p + kOsc[i], k);
  for (int i = 0; i < 2; ++i) {
    setup(v.env[i], p + kEnv[i]);
    setup(v.filter[i], p + kFilter[i], k);
    setup(v.lfo[i], p + kLfo[i]);
  }
  setup(v.distortion, p + kDistortion, k);
}

void applyChannelSettings(Channel& c, const float* p) {
  c.mainGain = p[kVolume] / kParamFullScale * kSendScale;
  c.auxReturnA = p[kAuxReturnA] / kParamFullScale;
  c.auxReturnB = p[kAuxReturnB] / kParamFullScale;
  c.auxSendA = p[kAuxSendA] / kParamFullScale * kSendScale;
  c.auxSendB = p[kAuxSendB] / kParamFullScale * kSendScale;
  c.reverbSend = p[kReverbSend] / kParamFullScale * kSendScale * c.mainGain;
  c.delaySend = p[kDelaySend] / kParamFullScale * kSendScale * c.mainGain;
  c.effectOrder = roundToInt(p[kEffectOrder]);
}

void setupChannelUnits(Channel& c, const float* p, const SynthConstants& k) {
  setup(c.distortion, p + kChannelDistortion, k);
  setup(c.delay, p + kChannelDelay, k);
  setup(c.compressor, p + kChannelCompressor, k);
  setup(c.bassBoost, p + kBassBoost, k);
}

const uint8_t* resolvePatch(const SynthState& s, int program) {
  if (!s.patchMap || program < 0 || program >= kSynthPrograms) return nullptr;
  const uint64_t size = s.patchMapSize;
  const uint64_t entry = 4u * static_cast<uint64_t>(program);
  if (entry + 4 > size) return nullptr;
  const uint64_t offset = readLe32(s.patchMap + entry);
  if (offset + kPatchHeaderSize > size) return nullptr;
  const uint64_t routes = s.patchMap[offset + kPatchRouteCount];
  if (offset + kPatchHeaderSize + kRouteSize * routes > size) return nullptr;
  return s.patchMap + offset;
}

}  // namespace

void selectProgram(SynthState& s, int channel, int program) {
  s.channelControls[channel][0] = static_cast<uint8_t>(program);
  s.channelPatch[channel] = resolvePatch(s, program);
}

void refreshVoice(SynthState& s, int voice) {
  const int ch = s.voiceChannel[voice];
  if (ch < 0) return;
  const uint8_t* patch = s.channelPatch[ch];
  if (!patch) {
    // No readable patch: the voice cannot sound.
    s.voiceChannel[voice] = -1;
    return;
  }
  Voice& v = s.voices[voice];
  float* p = s.voiceParams[voice];
  for (int i = 0; i < kVoiceParamCount; ++i) p[i] = static_cast<float>(patch[i]);
  applyRoutes(patch, 0, kVoiceParamCount, p, v, s.channelControls[ch]);
  applyVoiceSettings(v, p);
  setupVoiceUnits(v, p, s.constants);
}

void refreshChannel(SynthState& s, int channel) {
  const uint8_t* patch = s.channelPatch[channel];
  float* p = s.channelParams[channel];
  Channel& c = s.channels[channel];
  if (!patch) {
    // Such a channel never owns a voice, so its strip does not run; keep it mute.
    std::fill(p, p + kChannelParamCount, 0.0f);
    applyChannelSettings(c, p);
    return;
  }
  for (int i = 0; i < kChannelParamCount; ++i) {
    p[i] = static_cast<float>(patch[kVoiceParamCount + i]);
  }
  const Voice& last = s.voices[s.channelLastVoice[channel]];
  applyRoutes(patch, kVoiceParamCount, kChannelParamCount, p, last, s.channelControls[channel]);
  applyChannelSettings(c, p);
  setupChannelUnits(c, p, s.constants);
}
