// Initialisation, global parameters and the query entry points.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "synth/params.h"
#include "synth/strip.h"
#include "synth/units/numeric.h"
#include "synth/voice.h"

namespace {

constexpr float kReferenceRate = 44100.0f;
constexpr float kReferenceTick = 128.0f;     // frames per tick at the reference rate
constexpr float kMiddleC = 261.62558f;       // Hz of note 60 with the oscillator's octave below
constexpr float kHalfCycle = 2147483648.0f;  // 2^31, half a phase cycle
constexpr float kBassShelfHz = 150.0f;
constexpr float kDcCornerRate = 126.0f;
constexpr int kDefaultProgram = 0;
constexpr uint8_t kDefaultVolume = 127;  // controller 7 after initialisation
constexpr int kVolumeController = 7;

SynthConstants deriveConstants(int sampleRate) {
  SynthConstants k{};
  const float rate = static_cast<float>(sampleRate);
  k.sampleRate = sampleRate;
  k.basePhaseStep = kMiddleC * kHalfCycle / rate;
  k.rateScale = kReferenceRate / rate;
  k.bassSin = portableSin(kSineTwoPi * kBassShelfHz / rate);
  k.bassCos = portableCos(kSineTwoPi * kBassShelfHz / rate);
  k.dcCoefficient = 1.0f - kDcCornerRate / rate;
  k.tickLength = roundToInt(rate * kReferenceTick / kReferenceRate + 0.5f);
  k.tickRecip = 1.0f / static_cast<float>(k.tickLength);
  return k;
}

bool usableRate(int sampleRate) {
  if (sampleRate <= 0) return false;
  const float tick = static_cast<float>(sampleRate) * kReferenceTick / kReferenceRate + 0.5f;
  return tick >= 1.0f && tick <= static_cast<float>(kMaxTickFrames);
}

// One-pole coefficient ((byte + 1) / 128)^2, kept at most 1 so that bytes
// above 127 cannot make the master cut filter unstable.
float cutCoefficient(float byte) {
  const float c = (byte + 1.0f) / kParamFullScale;
  return std::min(c * c, 1.0f);
}

}  // namespace

bool synthInit(SynthState& s, const uint8_t* patchMap, size_t patchMapSize, int sampleRate,
               SeedSource seeds) {
  RoundingScope rounding;
  std::memset(static_cast<void*>(&s), 0, sizeof(SynthState));
  s.seedSource = seeds;
  if (!usableRate(sampleRate)) return false;  // tickLength stays 0: silent, events ignored

  s.sampleRate = sampleRate;
  s.constants = deriveConstants(sampleRate);
  speechInit(s.speech, sampleRate);
  s.patchMap = patchMap;
  s.patchMapSize = patchMap ? patchMapSize : 0;

  for (int v = 0; v < kSynthVoices; ++v) {
    s.voiceChannel[v] = -1;
    resetVoice(s, v);
  }
  for (int ch = 0; ch < kSynthChannels; ++ch) {
    s.channelControls[ch][kVolumeController] = kDefaultVolume;
    selectProgram(s, ch, kDefaultProgram);
    attachLines(s.channels[ch].delay, s.channelDelayLines[ch][0], s.channelDelayLines[ch][1],
                kChannelDelayLength - 1);
    resetChannel(s, ch);
  }
  reset(s.reverb);
  attachLines(s.globalDelay, s.globalDelayLines[0], s.globalDelayLines[1], kGlobalDelayLength - 1);
  reset(s.globalDelay);
  speechReset(s.speech);
  reset(s.masterCompressor);
  reset(s.masterDc);
  return true;
}

void setPatchMap(SynthState& s, const uint8_t* patchMap, size_t patchMapSize) {
  s.patchMap = patchMap;
  s.patchMapSize = patchMap ? patchMapSize : 0;
  for (int ch = 0; ch < kSynthChannels; ++ch) selectProgram(s, ch, s.channelControls[ch][0]);
}

void setGlobalParams(SynthState& s, const uint8_t* bytes) {
  if (!bytes || s.constants.tickLength == 0) return;
  RoundingScope rounding;
  float* g = s.globalParams;
  for (int i = 0; i < kGlobalParamCount; ++i) g[i] = static_cast<float>(bytes[i]);
  setup(s.reverb, g + patchlayout::kReverb, s.constants);
  setup(s.globalDelay, g + patchlayout::kGlobalDelay, s.constants);
  setup(s.masterCompressor, g + patchlayout::kMasterCompressor, s.constants);
  s.masterCut.k = cutCoefficient(g[patchlayout::kMasterLowCut]);
  s.masterCut.g = cutCoefficient(g[patchlayout::kMasterHighCut]);
}

void setSpeechTexts(SynthState& s, const SpeechText* table) {
  if (!table || s.constants.tickLength == 0) return;
  speechSetTexts(s.speech, table);
}

void setMeterMode(SynthState& s, int mode) {
  s.meterMode = mode;
}

bool getChannelMeter(const SynthState& s, int channel, float* left, float* right) {
  const bool valid = channel >= 0 && channel < kSynthChannels;
  if (left) *left = valid ? s.channelMeters[channel][0] : 0.0f;
  if (right) *right = valid ? s.channelMeters[channel][1] : 0.0f;
  return valid;
}

void getMasterMeter(const SynthState& s, float* left, float* right) {
  if (left) *left = s.masterMeter[0];
  if (right) *right = s.masterMeter[1];
}

void getVoiceCounts(const SynthState& s, int counts[kSynthChannels + 1]) {
  std::fill(counts, counts + kSynthChannels + 1, 0);
  for (int v = 0; v < kSynthVoices; ++v) {
    const int ch = s.voiceChannel[v];
    if (ch < 0) continue;
    ++counts[ch];
    ++counts[kSynthChannels];
  }
}

void getChannelPrograms(const SynthState& s, int programs[kSynthChannels]) {
  for (int ch = 0; ch < kSynthChannels; ++ch) programs[ch] = s.channelControls[ch][0];
}

size_t getStateSize() {
  return sizeof(SynthState);
}

int getTickLength(const SynthState& s) {
  return s.constants.tickLength;
}
