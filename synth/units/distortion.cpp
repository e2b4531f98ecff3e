#include "synth/units/distortion.h"

#include <algorithm>
#include <cmath>

#include "synth/units/lanes.h"
#include "synth/units/numeric.h"

namespace {

// From here on the outer form of the arctangent rounds to pi/2 anyway; taking
// pi/2 directly keeps huge and infinite inputs from turning into NaN.
constexpr float kAtanSaturated = 33554432.0f;  // 2^25

constexpr float kCrushUnit = 32768.0f;  // 16-bit grid: one step = 1/32768
constexpr float kCrushRecip = 1.0f / 32768.0f;
constexpr int64_t kCrushLimit = 32767;
constexpr int32_t kCrushMaskUnit = 512;            // the shape parameter flips bits from bit 9 up
constexpr float kCrushInputLimit = 2147483648.0f;  // grid index held within 32 bits
constexpr float kDecimateOctaves = 10.0f;
constexpr float kPhaseHalf = 2147483648.0f;  // 2^31

// atan(a) for a >= 0 within 1.5e-5 rad: a rational form below 1 and pi/2
// minus a rational form above. The two forms use slightly different first
// coefficients. The caller restores the sign.
inline float atanMagnitude(float a) {
  const float a2 = a * a;
  const float a4 = a2 * a2;
  float r;
  if (a < 1.0f) {
    r = a * (1.0f + 0.43157974f * a2) / (1.0f + 0.76443945f * a2 + 0.05831938f * a4);
  } else {
    r = kSineHalfPi + a * (-0.431597974f - a2) / (0.05831938f + 0.76443945f * a2 + a4);
  }
  return a >= kAtanSaturated ? kSineHalfPi : r;
}

// The shaper's arctangent approximation of a signed value.
inline float atanApprox(float v) {
  return std::copysign(atanMagnitude(std::fabs(v)), v);
}

void copyIfApart(const float* in, float* out, int count) {
  if (in != out) std::copy(in, in + count, out);
}

void renderSaturate(const Distortion& d, const float* in, float* out, int count) {
  const float drive = d.drive, bias = d.bias, gain = d.outGain;
  for (int i = 0; i < count; ++i) out[i] = atanApprox(in[i] * drive + bias) * gain;
}

void renderClip(const Distortion& d, const float* in, float* out, int count) {
  const float drive = d.drive, bias = d.bias, gain = d.outGain;
  for (int i = 0; i < count; ++i) out[i] = std::clamp(in[i] * drive + bias, -1.0f, 1.0f) * gain;
}

// The grid index is held within 32 bits and the scaled index within 64, so an
// overloaded input clamps to full scale instead of wrapping round.
void renderCrush(const Distortion& d, const float* in, float* out, int count) {
  const float scale = d.crushScale;
  const int64_t step = d.crushStep;
  const int32_t mask = d.crushMask;
  for (int i = 0; i < count; ++i) {
    const float v = std::fmin(std::fmax(in[i] * scale, -kCrushInputLimit), kCrushInputLimit);
    const int64_t n = std::clamp<int64_t>(std::llrint(v) * step, -kCrushLimit, kCrushLimit);
    out[i] = static_cast<float>(static_cast<int32_t>(n) ^ mask) * kCrushRecip;
  }
}

// Sample and hold on `sides` interleaved sides (mono uses the left): a carry
// of the phase accumulator takes a new sample.
template <int sides>
void renderDecimate(Distortion& d, const float* in, float* out, int frames) {
  const uint32_t step = d.decimateStep;
  uint32_t phase = d.decimatePhase;
  float held[2] = {d.heldLeft, d.heldRight};
  for (int i = 0; i < frames; ++i) {
    const uint32_t next = phase + step;
    for (int c = 0; c < sides; ++c) {
      if (next < phase) held[c] = in[sides * i + c];
      out[sides * i + c] = held[c];
    }
    phase = next;
  }
  d.decimatePhase = phase;
  d.heldLeft = held[0];
  d.heldRight = held[1];
}

// Modes 0..3 keep no state: the stereo form runs them over both sides at once.
void renderStateless(const Distortion& d, DistMode mode, const float* in, float* out, int count) {
  switch (mode) {
    case DistMode::Saturate:
      renderSaturate(d, in, out, count);
      break;
    case DistMode::Clip:
      renderClip(d, in, out, count);
      break;
    case DistMode::Crush:
      renderCrush(d, in, out, count);
      break;
    default:
      copyIfApart(in, out, count);
      break;
  }
}

DistMode modeOf(const Distortion& d) {
  return static_cast<DistMode>(d.mode & kDistModeMask);
}

}  // namespace

void reset(Distortion& d) {
  d.decimatePhase = 0;
  d.heldLeft = 0.0f;
  d.heldRight = 0.0f;
  reset(d.filters[0]);
  reset(d.filters[1]);
}

void setup(Distortion& d, const float* p, const SynthConstants& k) {
  d.mode = roundToInt(p[0]);
  d.drive = portableExp2((p[1] - 32.0f) * (1.0f / 16.0f));
  const float amount = p[2];
  const float shape = p[3];
  const DistMode mode = modeOf(d);
  switch (mode) {
    case DistMode::Off:
      break;
    case DistMode::Saturate:
      d.outGain = amount / kParamFullScale / portableAtan(d.drive);
      d.bias = (shape - 64.0f) * (1.0f / 64.0f) * d.drive;
      break;
    case DistMode::Clip:
      d.outGain = amount / kParamFullScale;
      d.bias = (shape - 64.0f) * (1.0f / 64.0f) * d.drive;
      break;
    case DistMode::Crush: {
      const float divisor = 256.0f * amount + 1.0f;
      d.crushStep = roundToInt(divisor);
      d.crushScale = d.drive * kCrushUnit / divisor;
      d.crushMask = roundToInt(shape) * kCrushMaskUnit;
      break;
    }
    case DistMode::Decimate: {
      const float rate =
          portableExp2(kDecimateOctaves * (amount - kParamFullScale) / kParamFullScale);
      // 2^31 * 2 wraps to 0 at amount 128: the held sample never changes.
      d.decimateStep = static_cast<uint32_t>(2 * std::llrint(rate * kPhaseHalf));
      break;
    }
    default: {
      const float t[3] = {static_cast<float>(static_cast<int32_t>(mode) - 4), amount, shape};
      setup(d.filters[0], t, k);
      setup(d.filters[1], t, k);
      break;
    }
  }
}

Filter* monoFilterStage(Distortion& d) {
  if (modeOf(d) < DistMode::FirstFilter) return nullptr;
  d.filters[0].stride = 1;
  return &d.filters[0];
}

void renderMono(Distortion& d, const float* in, float* out, int count) {
  const DistMode mode = modeOf(d);
  if (mode == DistMode::Decimate) {
    renderDecimate<1>(d, in, out, count);
  } else if (mode >= DistMode::FirstFilter) {
    d.filters[0].stride = 1;
    render(d.filters[0], in, out, count);
  } else {
    renderStateless(d, mode, in, out, count);
  }
}

void renderStereo(Distortion& d, const float* in, float* out, int frames) {
  const DistMode mode = modeOf(d);
  if (mode == DistMode::Decimate) {
    renderDecimate<2>(d, in, out, frames);
  } else if (mode >= DistMode::FirstFilter) {
    d.filters[0].stride = 2;
    d.filters[1].stride = 2;
    renderPair(d.filters[0], in, out, d.filters[1], in + 1, out + 1, frames);
  } else {
    renderStateless(d, mode, in, out, 2 * frames);
  }
}
