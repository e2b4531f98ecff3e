#include "synth/units/compressor.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

namespace {

constexpr float kPeakDecay = 0.9998f;        // per sample
constexpr float kRmsNormal = 0.0110485433f;  // 1 / sqrt(kCompressorWindow)
constexpr float kLookaheadPerMs = 44.1f;     // samples per ms, not scaled with the rate
constexpr int32_t kResetMode = 2;

inline float peakStep(float level, float peak) {
  return std::max(level, peak * kPeakDecay + kDenormGuard);
}

// A running sum can drift below zero in single precision after loud material;
// the root of a negative sum would poison the gain for good.
inline float rmsLevel(float sum, float inputScale) {
  return std::sqrt(std::max(sum, 0.0f)) * kRmsNormal * inputScale;
}

// Gain computer and smoothing for one side; returns the output sample.
struct GainStage {
  float ratio, attack, release, outputGain;

  inline float apply(float delayed, float level, float& gain) const {
    const float target = level < 1.0f ? 1.0f : 1.0f / (1.0f + (level - 1.0f) * ratio);
    gain = gain + (target - gain) * (target < gain ? attack : release);
    return delayed * outputGain * gain;
  }
};

template <CompressorDetector kDetector>
void run(Compressor& c, float* buffer, int frames) {
  const float scale = c.inputScale;
  const GainStage stage{c.ratio, c.attack, c.release, c.outputGain};
  const int32_t lookahead = c.lookahead;
  float* const lineL = c.line[0];
  float* const lineR = c.line[1];
  float* const windowL = c.window[0];
  float* const windowR = c.window[1];
  int32_t j = c.delayIndex;
  int32_t wi = c.windowIndex;
  float gainL = c.gain[0], gainR = c.gain[1];
  float peakL = c.peak[0], peakR = c.peak[1];
  float sumL = c.sum[0], sumR = c.sum[1];

  for (int i = 0; i < frames; ++i) {
    const float l = buffer[2 * i];
    const float r = buffer[2 * i + 1];

    float dl, dr;
    if constexpr (kDetector == CompressorDetector::kLinkedPeak) {
      const float m = (l + r) / 2.0f;
      peakL = peakStep(std::fabs(m), peakL);
      dl = dr = peakL * scale;
    } else if constexpr (kDetector == CompressorDetector::kLinkedRms) {
      const float m = (l + r) / 2.0f + kDenormGuard;
      const float sq = m * m;
      sumL = sumL - windowL[wi] + sq;
      windowL[wi] = sq;
      dl = dr = rmsLevel(sumL, scale);
      wi = (wi + 1) & (kCompressorWindow - 1);
    } else if constexpr (kDetector == CompressorDetector::kStereoPeak) {
      peakL = peakStep(std::fabs(l), peakL);
      peakR = peakStep(std::fabs(r), peakR);
      dl = peakL * scale;
      dr = peakR * scale;
    } else {
      // The guard travels through the window with its sample, so it leaves
      // the sum again a window later instead of piling up.
      const float sql = l * l;
      const float sqr = r * r;
      sumL = sumL - windowL[wi] + kDenormGuard;
      sumL += sql;
      windowL[wi] = sql + kDenormGuard;
      sumR = sumR - windowR[wi] + kDenormGuard;
      sumR += sqr;
      windowR[wi] = sqr + kDenormGuard;
      dl = rmsLevel(sumL, scale);
      dr = rmsLevel(sumR, scale);
      wi = (wi + 1) & (kCompressorWindow - 1);
    }

    const float sl = lineL[j];
    const float sr = lineR[j];
    lineL[j] = l * scale;
    lineR[j] = r * scale;
    if (++j > lookahead) j = 0;
    buffer[2 * i] = stage.apply(sl, dl, gainL);
    buffer[2 * i + 1] = stage.apply(sr, dr, gainR);
  }

  c.delayIndex = j;
  c.windowIndex = wi;
  c.gain[0] = gainL;
  c.gain[1] = gainR;
  c.peak[0] = peakL;
  c.peak[1] = peakR;
  c.sum[0] = sumL;
  c.sum[1] = sumR;
}

// Detector states start again from silence; the lookahead line keeps playing.
void restartDetector(Compressor& c) {
  c.peak[0] = c.peak[1] = 0.0f;
  c.sum[0] = c.sum[1] = 0.0f;
  c.windowIndex = 0;
  std::fill(&c.window[0][0], &c.window[0][0] + 2 * kCompressorWindow, 0.0f);
  c.gain[0] = c.gain[1] = 1.0f;
}

}  // namespace

void reset(Compressor& c) {
  c.mode = kResetMode;
}

void setup(Compressor& c, const float* p, const SynthConstants&) {
  // The formula binds as written: k0 = 0 with k1 = 2 gives mode 9, a linked
  // RMS detector.
  c.mode = ((roundToInt(p[0]) - 1) & 5) + 2 * roundToInt(p[1]);
  if (c.mode != c.previousMode) {
    c.previousMode = c.mode;
    restartDetector(c);
  }

  // Settings above 128 ms (unmodulated bytes up to 255) would run past the line.
  c.lookahead = std::clamp(roundToInt(p[3] * kLookaheadPerMs), 0, kCompressorMaxLookahead);

  const float threshold = 8.0f * portableExp2(10.0f * (p[4] / kParamFullScale - 1.0f));
  c.inputScale = 1.0f / threshold;
  const float makeUp = roundToInt(p[2]) != 0 ? 1.0f : threshold;
  c.outputGain = makeUp * portableExp2((p[8] - 64.0f) / 16.0f);

  c.ratio = p[5] / kParamFullScale;
  c.attack = portableExp2(-12.0f * p[6] / kParamFullScale);
  c.release = portableExp2(-16.0f * p[7] / kParamFullScale);
}

void render(Compressor& c, float* buffer, int frames) {
  if ((c.mode & kCompressorBypassMask) != 0) return;
  using Detector = CompressorDetector;  // kRuns is indexed by it
  constexpr void (*kRuns[])(Compressor&, float*, int) = {
      run<Detector::kLinkedPeak>, run<Detector::kLinkedRms>, run<Detector::kStereoPeak>,
      run<Detector::kStereoRms>};
  kRuns[c.mode & kCompressorDetectorMask](c, buffer, frames);
}
