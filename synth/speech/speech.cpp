#include "synth/speech/speech.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "synth/speech/speech_phonemes.h"
#include "synth/units/numeric.h"

namespace {

constexpr float kUnityLevel = 70.0f;      // level of gain 1
constexpr float kLevelsPerDouble = 6.0f;  // level steps per doubling of the gain
constexpr int kRankJump = 8;              // frames whose ranks differ more are not glided
constexpr int32_t kResetSpeed = 3;        // ticks per duration unit
constexpr int kSpeedController = 4;       // below 63 selects a text, from 63 on sets the speed
constexpr int kFormantController = 5;     // shifts every formant frequency
constexpr int kSpeedControllerBase = 63;
constexpr float kHighPassRate = 0.012f;  // two one-pole stages, about 84 Hz at 44.1 kHz
constexpr float kOutputFrequency = 12000.0f;
constexpr float kOutputBandwidth = 4000.0f;
constexpr float kOutputGain = 2.0f;
constexpr char kEmptyText[] = "";

// Where each resonator takes its frequency, bandwidth and level from. A column
// of kFixedValue means the fixed value beside it.
constexpr int kFixedValue = -1;
struct ResonatorLayout {
  int frequencyColumn;
  float frequency;
  int bandwidthColumn;
  float bandwidth;
  FrameColumn level;
};

constexpr int col(FrameColumn c) {
  return static_cast<int>(c);
}

// Resonators 0 and 1 filter the voiced source, 2 to 6 the frication source.
constexpr ResonatorLayout kResonatorLayout[kSpeechResonatorCount] = {
    {col(FrameColumn::NasalFrequency), 0.0f, kFixedValue, 100.0f, FrameColumn::NasalLevel},
    {col(FrameColumn::F1Frequency), 0.0f, col(FrameColumn::F1Bandwidth), 0.0f,
     FrameColumn::F1Level},
    {col(FrameColumn::F2Frequency), 0.0f, col(FrameColumn::F2Bandwidth), 0.0f,
     FrameColumn::F2Level},
    {col(FrameColumn::F3Frequency), 0.0f, col(FrameColumn::F3Bandwidth), 0.0f,
     FrameColumn::F3Level},
    {kFixedValue, 3200.0f, kFixedValue, 200.0f, FrameColumn::Level3200},
    {kFixedValue, 4000.0f, kFixedValue, 500.0f, FrameColumn::Level4000And6000},
    {kFixedValue, 6000.0f, kFixedValue, 800.0f, FrameColumn::Level4000And6000},
};

constexpr FrameColumn kGainColumns[4] = {FrameColumn::Voicing, FrameColumn::Aspiration,
                                         FrameColumn::Frication, FrameColumn::Bypass};

float levelGain(float level) {
  return portableExp2((level - kUnityLevel) / kLevelsPerDouble);
}

// Two-pole resonator tuned to frequency f (Hz) with bandwidth w (Hz), scaled so
// that its gain at 0 Hz is g.
void setupResonator(const SpeechRenderer& s, float f, float w, float g, float* abc) {
  const float r = portableExp(s.rho * w);
  const float b2 = -r * r;
  const float b1 = 2.0f * r * portableCos(s.omega * f);
  abc[0] = (1.0f - b1 - b2) * g;
  abc[1] = b1;
  abc[2] = b2;
}

// Blends frame a towards frame b by w (w = 0 gives a, w = 1 gives b) into the
// 25 glided values.
void interpolateFrames(const SpeechRenderer& s, const SpeechFrame& a, const SpeechFrame& b, float w,
                       float* out) {
  const auto blend = [&](int column) { return a[column] + (b[column] - a[column]) * w; };
  for (int i = 0; i < kSpeechResonatorCount; ++i) {
    const ResonatorLayout& layout = kResonatorLayout[i];
    const float frequency =
        layout.frequencyColumn == kFixedValue ? layout.frequency : blend(layout.frequencyColumn);
    const float bandwidth =
        layout.bandwidthColumn == kFixedValue ? layout.bandwidth : blend(layout.bandwidthColumn);
    setupResonator(s, frequency * s.formantScale, bandwidth, levelGain(blend(col(layout.level))),
                   out + 3 * i);
  }
  for (int i = 0; i < 4; ++i) out[kSpeechVoicingGain + i] = levelGain(blend(col(kGainColumns[i])));
}

// Puts the text in place of the current one, read from its start. A missing
// text stays missing (the text stands still) unless `missingAsEmpty`.
void selectText(SpeechRenderer& s, const SpeechText& text, bool missingAsEmpty) {
  s.textPos = 0;
  if (text.text == nullptr) {
    s.text = missingAsEmpty ? kEmptyText : nullptr;
    s.textLength = 0;
    return;
  }
  const int32_t limit = std::max<int32_t>(text.length, 0);
  const void* zero = std::memchr(text.text, 0, static_cast<size_t>(limit));
  s.text = text.text;
  s.textLength =
      zero == nullptr ? limit : static_cast<int32_t>(static_cast<const char*>(zero) - text.text);
}

// Holds the pause frame; the timing of the running segment is kept, so the
// pause lasts until that segment's time has run out.
void restart(SpeechRenderer& s) {
  const SpeechFrame& pause = kSpeechFrames[kSpeechPauseFrame];
  interpolateFrames(s, pause, pause, 0.0f, s.current);
  std::copy(s.current, s.current + kSpeechValueCount, s.target);
  s.previousFrame = kSpeechPauseFrame;
  s.currentFrame = kSpeechPauseFrame;
  s.segmentIndex = kMaxPhonemeFrames;
}

void startSegment(SpeechRenderer& s) {
  s.previousFrame = s.currentFrame;
  s.currentFrame = phonemeEntry(s.phoneme).frames[s.segmentIndex];
  const float duration = frameValue(kSpeechFrames[s.currentFrame], FrameColumn::Duration);
  const int32_t units =
      std::max<int32_t>(roundToInt(static_cast<float>(s.multiplier) * duration), 1);
  // At speed 0 a segment lasts one tick per unit rather than no time at all.
  const int32_t ticks = std::max<int32_t>(units * s.speed, 1);
  s.inverseLength = 1.0f / static_cast<float>(ticks);
  s.unitsLeft = units - 1;
}

// Reads one item at the text position into the phoneme state. False when only
// digits were left: they are dropped.
bool readItem(SpeechRenderer& s) {
  const SpeechItem item = readSpeechItem(s.text, s.textLength, s.textPos);
  s.textPos = item.next;
  if (!item.complete) return false;
  s.multiplier = item.multiplier;
  s.phoneme = item.phoneme;
  s.segmentIndex = 0;
  return true;
}

bool isMarker(char c) {
  return c == '!' || c == '_';
}

// The end of the text: read it again from its start. A text that begins with
// a marker (or has nothing to say) first plays the pause, so the marker is met
// at the next phoneme boundary.
void restartText(SpeechRenderer& s) {
  s.textPos = 0;
  s.tickCountdown = 1;
  const bool speakable = s.textLength > 0 && !isMarker(s.text[0]);
  if (!speakable || !readItem(s)) {
    s.multiplier = 1;
    s.phoneme = kPausePhoneme;
    s.segmentIndex = 0;
  }
  startSegment(s);
}

// Moves to the next segment: the phoneme's next frame, or the next item of
// the text. False when a marker was read: the step ends there.
bool nextSegment(SpeechRenderer& s) {
  s.segmentIndex = std::min(s.segmentIndex + 1, kMaxPhonemeFrames);
  if (s.segmentIndex < phonemeEntry(s.phoneme).frameCount) {
    startSegment(s);
    return true;
  }
  if (s.textPos < s.textLength) {
    const char c = s.text[s.textPos];
    if (isMarker(c)) {
      (c == '!' ? s.waitNoteOn : s.waitNoteOff) = 1;
      ++s.textPos;
      s.unitsLeft = 0;
      s.tickCountdown = 0;
      return false;
    }
    if (readItem(s)) {
      startSegment(s);
      return true;
    }
  }
  restartText(s);
  return true;
}

// Sets the targets for the end of this tick: the current frame blended with
// the previous one by how much of the segment is still to come.
void glide(SpeechRenderer& s) {
  --s.tickCountdown;
  const int32_t position = s.unitsLeft * s.speed + s.tickCountdown;
  // A speed raised inside a segment puts the position past the segment's
  // length, and speed 0 below zero: keep t within 0..1 so frames are never
  // extrapolated.
  const float t = std::clamp(static_cast<float>(position) * s.inverseLength, 0.0f, 1.0f);
  const SpeechFrame& current = kSpeechFrames[s.currentFrame];
  const SpeechFrame& previous = kSpeechFrames[s.previousFrame];
  const float currentRank = frameValue(current, FrameColumn::Rank);
  const float previousRank = frameValue(previous, FrameColumn::Rank);
  if (std::fabs(previousRank - currentRank) > static_cast<float>(kRankJump)) {
    interpolateFrames(s, current, current, 0.0f, s.target);
    return;
  }
  const float w =
      (t > 0.0f && currentRank > 0.0f) ? portablePow(t, previousRank / currentRank) : 0.0f;
  interpolateFrames(s, current, previous, w, s.target);
}

// Filtered noise: uniform values in [-1, 1) through a one-pole low pass.
float nextNoise(uint32_t& seed, float& state) {
  seed = noiseLcg(seed);
  const float r = std::bit_cast<float>((seed >> 9) | 0x40000000u) - 3.0f;
  state = r + 0.75f * state;
  return 0.25f * state;
}

}  // namespace

void speechInit(SpeechRenderer& s, int sampleRate) {
  s.sampleRate = std::max(sampleRate, 1);
  s.omega = 2.0f * kSinePi / static_cast<float>(s.sampleRate);
  s.rho = -kSinePi / static_cast<float>(s.sampleRate);
}

void speechReset(SpeechRenderer& s) {
  restart(s);  // before the scale is set: the first control step replaces these targets
  s.formantScale = 1.0f;
  s.speed = kResetSpeed;
  selectText(s, s.texts[0], true);
  s.previousSource = 0.0f;
  setupResonator(s, kOutputFrequency, kOutputBandwidth, kOutputGain, s.outputCoefficients);
}

void speechSetTexts(SpeechRenderer& s, const SpeechText* table) {
  std::copy(table, table + kSpeechTextCount, s.texts);
  selectText(s, s.texts[0], false);
}

void speechControlStep(SpeechRenderer& s) {
  if (s.waitNoteOff != 0 || s.waitNoteOn != 0 || s.text == nullptr) return;
  if (s.tickCountdown <= 0) {
    s.tickCountdown = s.speed;
    if (s.unitsLeft > 0) {
      --s.unitsLeft;
    } else if (!nextSegment(s)) {
      return;
    }
  }
  glide(s);
}

void speechRender(SpeechRenderer& s, float* channelBuffer, int frames) {
  if (frames <= 0) return;
  float value[kSpeechValueCount];
  float step[kSpeechValueCount];
  const float n = static_cast<float>(frames);
  for (int k = 0; k < kSpeechValueCount; ++k) {
    value[k] = s.current[k];
    step[k] = (s.target[k] - s.current[k]) / n;
  }
  SpeechResonatorHistory res[kSpeechResonatorCount];
  std::copy(s.resonators, s.resonators + kSpeechResonatorCount, res);
  const float outA = s.outputCoefficients[0];
  const float outB1 = s.outputCoefficients[1];
  const float outB2 = s.outputCoefficients[2];
  float outY1 = s.outputResonator.y1;
  float outY2 = s.outputResonator.y2;
  uint32_t seed = s.noiseSeed;
  float noise = s.noiseState;
  float previousSource = s.previousSource;
  float highPass1 = s.highPass1;
  float highPass2 = s.highPass2;

  const auto resonate = [&](int r, float x) {
    const float y = value[3 * r] * x + value[3 * r + 1] * res[r].y1 + value[3 * r + 2] * res[r].y2;
    res[r] = {y, res[r].y1};
    return y;
  };

  for (int i = 0; i < frames; ++i) {
    for (int k = 0; k < kSpeechValueCount; ++k) value[k] += step[k];
    const float x = channelBuffer[2 * i];
    const float breath = nextNoise(seed, noise);
    const float source = breath * value[kSpeechAspirationGain] + value[kSpeechVoicingGain] * x;
    float m = resonate(0, source) + resonate(1, source);
    const float hiss = nextNoise(seed, noise);
    const float frication = hiss * value[kSpeechFricationGain] + source - previousSource;
    previousSource = source;
    for (int r = 2; r < kSpeechResonatorCount; ++r) m = resonate(r, frication) - m;
    const float d = value[kSpeechBypassGain] * frication - m - highPass1;
    highPass1 += kHighPassRate * d;
    const float e = d - highPass2;
    highPass2 += kHighPassRate * e;
    const float out = outA * e + outB1 * outY1 + outB2 * outY2;
    outY2 = outY1;
    outY1 = out;
    const float y = out - e;
    channelBuffer[2 * i] = y;
    channelBuffer[2 * i + 1] = y;
  }

  std::copy(value, value + kSpeechValueCount, s.current);
  std::copy(res, res + kSpeechResonatorCount, s.resonators);
  s.outputResonator = {outY1, outY2};
  s.noiseSeed = seed;
  s.noiseState = noise;
  s.previousSource = previousSource;
  s.highPass1 = highPass1;
  s.highPass2 = highPass2;
}

void speechNoteOn(SpeechRenderer& s) {
  s.waitNoteOn = 0;
}

void speechNoteOff(SpeechRenderer& s) {
  s.waitNoteOff = 0;
}

void speechController(SpeechRenderer& s, int controller, int value) {
  value = std::clamp(value, 0, 127);
  if (controller == kSpeedController) {
    if (value < kSpeedControllerBase) {
      restart(s);
      selectText(s, s.texts[value], true);
    } else {
      s.speed = value - kSpeedControllerBase;
    }
  } else if (controller == kFormantController) {
    s.formantScale = portableExp2(static_cast<float>(value - 64) / 128.0f);
  }
}
