#include "synth/units/filter.h"

#include <algorithm>
#include <cmath>

#include "synth/units/numeric.h"

namespace {

constexpr float kParamScale = 1.0f / 128.0f;  // parameter 0..128 to 0..1
constexpr float kCutoffOctaves = 10.0f;       // cutoff range below the oversampled rate
constexpr int32_t kFirstFourPoleType = 6;     // rounded types 6..127 set up the four-pole kind

// The state-variable step is stable while f^2 + 2fq < 4. At 44,100 Hz the
// cutoff never reaches the limit; lower sample rates scale f up past it, so
// f is held a little below the limit there.
constexpr float kStateVariableMargin = 0.98f;
// The four-pole stages are stable while p < 1; only sample rates below about
// 12 kHz push k this far.
constexpr float kMaxPoleCutoff = 0.9f;
// Past sqrt(6) the cubic y - y^3/6 changes sign and grows without bound, which
// the resonance feedback would turn into a runaway; the stage input is held
// there, where the cubic is back at zero, so the output stays within +-0.943.
constexpr float kSaturationLimit = 2.4494898f;

void setupStateVariable(Filter& f, float cutoff, float resonance) {
  const float damp = 1.0f - resonance * kParamScale;
  const float limit = (std::sqrt(damp * damp + 4.0f) - damp) * kStateVariableMargin;
  f.freq = std::min(cutoff, limit);
  f.damp = damp;
}

void setupFourPole(Filter& f, float cutoff, float resonance) {
  const float k = std::min(cutoff * 0.25f, kMaxPoleCutoff);
  const float p = k + 0.8f * k * (1.0f - k);
  const float inv = 1.0f - k;
  f.poleGain = p;
  f.poleFeedback = 1.0f - 2.0f * p;
  f.resonance = 4.0f * (resonance * kParamScale) * (1.0f + 0.5f * inv * (5.6f * (inv * inv) + k));
}

// Two state-variable passes per sample with the same input; only low and band
// persist. Out selects the output from the second pass.
template <FilterType Out>
void renderStateVariable(Filter& f, const float* in, float* out, int count) {
  const float fr = f.freq;
  const float dp = f.damp;
  const int stride = f.stride;
  float low = f.low;
  float band = f.band;
  for (int i = 0; i < count; ++i) {
    const float x = *in + kDenormGuard;
    low = low + fr * band - kDenormGuard;
    float high = x - dp * band - low;
    band = band + fr * high;
    low = low + fr * band;
    high = x - dp * band - low;
    band = band + fr * high;
    if constexpr (Out == FilterType::LowPass) {
      *out = low;
    } else if constexpr (Out == FilterType::BandPass) {
      *out = band;
    } else if constexpr (Out == FilterType::HighPass) {
      *out = high;
    } else if constexpr (Out == FilterType::Notch) {
      *out = high + low;
    } else {
      *out = high + band + low;
    }
    in += stride;
    out += stride;
  }
  f.low = low;
  f.band = band;
}

// Four one-pole stages with feedback from the last, run twice per sample;
// the last stage saturates softly. HighPass4 returns input minus y4.
template <FilterType Out>
void renderFourPole(Filter& f, const float* in, float* out, int count) {
  const float p = f.poleGain;
  const float fb = f.poleFeedback;
  const float r = f.resonance;
  const int stride = f.stride;
  float last = f.lastInput;
  float y1 = f.y1, y2 = f.y2, y3 = f.y3, y4 = f.y4;
  for (int i = 0; i < count; ++i) {
    const float s = *in;
    const float guarded = s + kDenormGuard;
    for (int pass = 0; pass < 2; ++pass) {
      const float u = guarded - r * y4;
      const float n1 = p * (u + last) + fb * y1;
      const float n2 = p * (n1 + y1) + fb * y2;
      const float n3 = p * (n2 + y2) + fb * y3;
      float n4 = p * (n3 + y3) + fb * y4;
      n4 = std::clamp(n4, -kSaturationLimit, kSaturationLimit);
      n4 = n4 - n4 * n4 * n4 / 6.0f - kDenormGuard;
      last = s;
      y1 = n1;
      y2 = n2;
      y3 = n3;
      y4 = n4;
    }
    if constexpr (Out == FilterType::LowPass4) {
      *out = y4;
    } else {
      *out = s - y4;
    }
    in += stride;
    out += stride;
  }
  f.lastInput = last;
  f.y1 = y1;
  f.y2 = y2;
  f.y3 = y3;
  f.y4 = y4;
}

void renderOff(const Filter& f, const float* in, float* out, int count) {
  if (in == out) return;
  const int stride = f.stride;
  for (int i = 0; i < count; ++i) out[i * stride] = in[i * stride];
}

}  // namespace

void reset(Filter& f) {
  f.low = 0.0f;
  f.band = 0.0f;
  f.lastInput = 0.0f;
  f.y1 = 0.0f;
  f.y2 = 0.0f;
  f.y3 = 0.0f;
  f.y4 = 0.0f;
  f.stride = 1;
}

void setup(Filter& f, const float* t, const SynthConstants& k) {
  f.type = roundToInt(t[0]);
  const float cutoff = exp2Single(kCutoffOctaves * (t[1] * kParamScale - 1.0f)) * k.rateScale;
  // A rounded type that reads as negative in eight bits counts as below 6.
  if (static_cast<int8_t>(f.type) < kFirstFourPoleType) {
    setupStateVariable(f, cutoff, t[2]);
  } else {
    setupFourPole(f, cutoff, t[2]);
  }
}

void render(Filter& f, const float* in, float* out, int count) {
  switch (static_cast<FilterType>(f.type & kFilterTypeMask)) {
    case FilterType::Off:
      renderOff(f, in, out, count);
      break;
    case FilterType::LowPass:
      renderStateVariable<FilterType::LowPass>(f, in, out, count);
      break;
    case FilterType::BandPass:
      renderStateVariable<FilterType::BandPass>(f, in, out, count);
      break;
    case FilterType::HighPass:
      renderStateVariable<FilterType::HighPass>(f, in, out, count);
      break;
    case FilterType::Notch:
      renderStateVariable<FilterType::Notch>(f, in, out, count);
      break;
    case FilterType::Peak:
      renderStateVariable<FilterType::Peak>(f, in, out, count);
      break;
    case FilterType::LowPass4:
      renderFourPole<FilterType::LowPass4>(f, in, out, count);
      break;
    case FilterType::HighPass4:
      renderFourPole<FilterType::HighPass4>(f, in, out, count);
      break;
  }
}
