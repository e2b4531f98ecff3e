// Distortion modes, the arctangent approximation and the DC blocker.
#include "synth/units/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

#include "support/signals.h"
#include "synth/units/dc_blocker.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

const SynthConstants kRate44 = testsig::constantsAt(44100);

// Parameters: mode, drive, amount, shape. Drive 32 is unity gain.
Distortion makeDistortion(float mode, float drive, float amount, float shape) {
  Distortion d{};
  reset(d);
  const float p[4] = {mode, drive, amount, shape};
  setup(d, p, kRate44);
  return d;
}

void retune(Distortion& d, float mode, float drive, float amount, float shape) {
  const float p[4] = {mode, drive, amount, shape};
  setup(d, p, kRate44);
}

float shapeOne(Distortion& d, float x) {
  float y = x;
  renderMono(d, &y, &y, 1);
  return y;
}

std::vector<float> noise(int count) {
  return testsig::whiteNoise(size_t(count), 777u);
}

constexpr float kAtanError = 2e-5f;  // the rational forms' worst case, plus rounding

TEST(AtanApprox, StaysWithinItsKnownErrorAndSwitchesFormAtMagnitudeOne) {
  double worst = 0.0;
  for (int i = -200000; i <= 200000; ++i) {
    const float v = static_cast<float>(i) * 0.0005f;  // -100 .. 100
    worst = std::max(worst, std::fabs(atanApprox(v) - std::atan(static_cast<double>(v))));
  }
  EXPECT_LT(worst, kAtanError);
  EXPECT_GT(worst, 1e-6);  // it is an approximation, not the library function
  EXPECT_EQ(atanApprox(0.0f), 0.0f);
  EXPECT_EQ(atanApprox(-3.0f), -atanApprox(3.0f));

  // The form switches exactly at magnitude 1: the inner form is 6.4e-6 low just below 1; the outer
  // form 3.6e-6 low at 1.
  const float below = std::nextafter(1.0f, 0.0f);
  EXPECT_NEAR(atanApprox(below) - std::atan(static_cast<double>(below)), -6.42e-6, 4e-7);
  EXPECT_NEAR(atanApprox(1.0f) - std::atan(1.0), -3.59e-6, 4e-7);
  EXPECT_NEAR(atanApprox(-1.0f) + std::atan(1.0), 3.59e-6, 4e-7);

  // Huge and infinite inputs give half pi.
  const float halfPi = 1.5707964f;
  for (float v :
       {3e7f, 1e20f, std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(atanApprox(v), halfPi) << v;
    EXPECT_EQ(atanApprox(-v), -halfPi) << v;
  }
}

TEST(Saturate, UnitInputGivesTheAmountForAnyDrive) {
  for (float drive : {0.0f, 32.0f, 64.0f, 128.0f}) {
    for (float amount : {64.0f, 128.0f}) {
      Distortion d = makeDistortion(1.0f, drive, amount, 64.0f);
      EXPECT_NEAR(shapeOne(d, 1.0f), amount / 128.0f, 1e-4) << drive;
      EXPECT_NEAR(shapeOne(d, -1.0f), -amount / 128.0f, 1e-4) << drive;
    }
  }
}

TEST(Saturate, LargeInputsApproachTheCeilingWithoutFoldingBack) {
  for (float drive : {0.0f, 32.0f, 96.0f}) {
    Distortion d = makeDistortion(1.0f, drive, 128.0f, 64.0f);
    const double gain = std::exp2((drive - 32.0) / 16.0);
    const double ceiling = (kTwoPi / 4.0) / std::atan(gain);
    float previous = -2.0f;
    for (int i = 0; i <= 10000; ++i) {
      const float y = shapeOne(d, static_cast<float>(i) * 0.01f);  // 0 .. 100
      ASSERT_GE(y, previous) << i;
      previous = y;
    }
    EXPECT_LT(previous, ceiling);
    EXPECT_GT(shapeOne(d, 1e6f), 0.999 * ceiling);
  }
}

TEST(Clip, ZeroInputGivesTheClampedBiasAndLargeInputsClip) {
  // Drive 1, shape 96: bias 0.5; amount 64: output scale 0.5.
  Distortion d = makeDistortion(2.0f, 32.0f, 64.0f, 96.0f);
  EXPECT_FLOAT_EQ(shapeOne(d, 0.0f), 0.25f);
  EXPECT_FLOAT_EQ(shapeOne(d, 10.0f), 0.5f);
  EXPECT_FLOAT_EQ(shapeOne(d, -10.0f), -0.5f);
  // Drive 4 with full shape: a bias of 4 clamps to 1.
  Distortion e = makeDistortion(2.0f, 64.0f, 128.0f, 128.0f);
  EXPECT_FLOAT_EQ(shapeOne(e, 0.0f), 1.0f);
}

TEST(Crush, AmountZeroIsAPlain16BitQuantiser) {
  Distortion d = makeDistortion(3.0f, 32.0f, 0.0f, 0.0f);
  const float lsb = 1.0f / 32768.0f;
  EXPECT_EQ(shapeOne(d, 0.5f * lsb), 0.0f);  // ties go to even
  EXPECT_EQ(shapeOne(d, 1.5f * lsb), 2.0f * lsb);
  EXPECT_EQ(shapeOne(d, -2.5f * lsb), -2.0f * lsb);
  EXPECT_EQ(shapeOne(d, 1.0f), 32767.0f * lsb);  // clamped to the 16-bit range
  EXPECT_EQ(shapeOne(d, -1.0f), -32767.0f * lsb);
  for (float x : noise(1000)) {
    const float y = shapeOne(d, x * 0.9f);
    EXPECT_LE(std::fabs(y - x * 0.9f), 0.5f * lsb);
    EXPECT_EQ(y * 32768.0f, std::nearbyint(y * 32768.0f));
  }
}

TEST(Crush, AmountCoarsensTheGridAndShapeFlipsBits) {
  // Amount 1: steps of 257/32768.
  Distortion coarse = makeDistortion(3.0f, 32.0f, 1.0f, 0.0f);
  std::set<float> levels;
  for (float x : noise(2000)) levels.insert(shapeOne(coarse, x * 0.5f));
  for (float y : levels) EXPECT_EQ(std::fmod(y * 32768.0f, 257.0f), 0.0f) << y;
  EXPECT_GT(levels.size(), 100u);
  EXPECT_LT(levels.size(), 130u);

  // Shape 1 flips bit 9: silence turns into 512/32768.
  Distortion flipped = makeDistortion(3.0f, 32.0f, 0.0f, 1.0f);
  EXPECT_EQ(shapeOne(flipped, 0.0f), 512.0f / 32768.0f);
}

TEST(Crush, OverloadClampsToFullScaleInsteadOfWrapping) {
  Distortion d = makeDistortion(3.0f, 128.0f, 5.0f, 0.0f);
  for (float x : {100.0f, 1e5f, 1e30f}) {
    EXPECT_EQ(shapeOne(d, x), 32767.0f / 32768.0f) << x;
    EXPECT_EQ(shapeOne(d, -x), -32767.0f / 32768.0f) << x;
  }
}

// Samples at which the output takes a new value, for an input that never repeats.
int changes(const std::vector<float>& out) {
  int n = 0;
  for (size_t i = 1; i < out.size(); ++i) n += out[i] != out[i - 1];
  return n;
}

std::vector<float> ramp(int count) {
  std::vector<float> v(count);
  for (int i = 0; i < count; ++i) v[i] = 1.0f + static_cast<float>(i);
  return v;
}

TEST(Decimate, FullAmountHoldsForever) {
  Distortion d = makeDistortion(4.0f, 32.0f, 128.0f, 0.0f);
  std::vector<float> buf = ramp(441000);
  renderMono(d, buf.data(), buf.data(), static_cast<int>(buf.size()));
  for (float y : buf) ASSERT_EQ(y, 0.0f);  // the value held since reset

  // After some decimation, switching to 128 freezes the last held sample.
  Distortion e = makeDistortion(4.0f, 32.0f, 100.0f, 0.0f);
  std::vector<float> warm = ramp(1000);
  renderMono(e, warm.data(), warm.data(), 1000);
  retune(e, 4.0f, 32.0f, 128.0f, 0.0f);
  std::vector<float> held = ramp(44100);
  renderMono(e, held.data(), held.data(), 44100);
  EXPECT_NE(warm.back(), 0.0f);
  for (float y : held) ASSERT_EQ(y, warm.back());
}

TEST(Decimate, AmountSetsTheRateOfNewSamples) {
  const int n = 102400;
  Distortion fast = makeDistortion(4.0f, 32.0f, 127.0f, 0.0f);
  std::vector<float> a = ramp(n);
  renderMono(fast, a.data(), a.data(), n);
  EXPECT_NEAR(changes(a) / static_cast<double>(n), 0.947, 0.002);

  Distortion slow = makeDistortion(4.0f, 32.0f, 0.0f, 0.0f);  // one in 1024
  std::vector<float> b = ramp(n);
  renderMono(slow, b.data(), b.data(), n);
  EXPECT_NEAR(changes(b), n / 1024, 1);
}

TEST(Decimate, StereoTakesBothSidesOnTheSameCarry) {
  Distortion d = makeDistortion(4.0f, 32.0f, 80.0f, 0.0f);
  const int frames = 4096;
  std::vector<float> buf(2 * frames);
  for (int i = 0; i < frames; ++i) {
    buf[2 * i] = static_cast<float>(i + 1);
    buf[2 * i + 1] = -static_cast<float>(i + 1);
  }
  renderStereo(d, buf.data(), buf.data(), frames);
  int taken = 0;
  for (int i = 0; i < frames; ++i) {
    ASSERT_EQ(buf[2 * i + 1], -buf[2 * i]) << i;
    if (i > 0 && buf[2 * i] != buf[2 * i - 2]) ++taken;
  }
  EXPECT_GT(taken, 10);
  EXPECT_LT(taken, frames / 2);
}

TEST(DistortionFilter, ModesRunTheFilterInMonoAndOnEachStereoSide) {
  const int frames = 2000;
  const std::vector<float> left = noise(frames);
  std::vector<float> right(frames);
  for (int i = 0; i < frames; ++i)
    right[i] = static_cast<float>(std::sin(kTwoPi * 3000.0 * i / 44100.0));

  for (float mode : {5.0f, 7.0f, 10.0f, 11.0f}) {
    SCOPED_TRACE(mode);
    Filter reference{};
    reset(reference);
    const float t[3] = {mode - 4.0f, 60.0f, 90.0f};
    setup(reference, t, kRate44);
    std::vector<float> expectedLeft = left, expectedRight = right;
    render(reference, expectedLeft.data(), expectedLeft.data(), frames);
    reset(reference);
    render(reference, expectedRight.data(), expectedRight.data(), frames);

    Distortion mono = makeDistortion(mode, 32.0f, 60.0f, 90.0f);
    std::vector<float> m = left;
    renderMono(mono, m.data(), m.data(), frames);
    EXPECT_EQ(m, expectedLeft);

    Distortion stereo = makeDistortion(mode, 32.0f, 60.0f, 90.0f);
    std::vector<float> s(2 * frames);
    for (int i = 0; i < frames; ++i) {
      s[2 * i] = left[i];
      s[2 * i + 1] = right[i];
    }
    renderStereo(stereo, s.data(), s.data(), frames);
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(s[2 * i], expectedLeft[i]) << i;
      ASSERT_EQ(s[2 * i + 1], expectedRight[i]) << i;
    }
  }
}

TEST(DistortionFilter, OnlyFilterModesOfferTheirFilterForTheVoiceSeries) {
  for (int mode = 0; mode < 32; ++mode) {
    Distortion d = makeDistortion(static_cast<float>(mode), 32.0f, 60.0f, 90.0f);
    d.filters[0].stride = 2;
    Filter* stage = monoFilterStage(d);
    if ((mode & 15) >= 5) {
      ASSERT_EQ(stage, &d.filters[0]) << mode;
      EXPECT_EQ(stage->stride, 1);
    } else {
      EXPECT_EQ(stage, nullptr) << mode;
    }
  }
}

TEST(DistortionFilter, ModeTwelveIsFilterTypeEightWhichPassesUnchanged) {
  Distortion d = makeDistortion(12.0f, 32.0f, 60.0f, 90.0f);
  const std::vector<float> in = noise(512);
  std::vector<float> out(512, 5.0f);
  renderStereo(d, in.data(), out.data(), 256);
  EXPECT_EQ(out, in);
}

TEST(DistortionStereo, StatelessModesTreatBothSidesAlike) {
  const int frames = 300;
  const std::vector<float> mono = noise(frames);
  for (float mode : {0.0f, 1.0f, 2.0f, 3.0f}) {
    Distortion a = makeDistortion(mode, 50.0f, 100.0f, 70.0f);
    Distortion b = makeDistortion(mode, 50.0f, 100.0f, 70.0f);
    std::vector<float> expected(frames);
    renderMono(a, mono.data(), expected.data(), frames);
    std::vector<float> stereo(2 * frames);
    for (int i = 0; i < frames; ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];
    renderStereo(b, stereo.data(), stereo.data(), frames);
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(stereo[2 * i], expected[i]) << mode;
      ASSERT_EQ(stereo[2 * i + 1], expected[i]) << mode;
    }
  }
}

TEST(DcBlocker, ConstantInputDecaysWithATimeConstantOf1Over126Seconds) {
  for (int rate : {44100, 48000}) {
    const SynthConstants k = testsig::constantsAt(rate);
    DcBlocker dc{};
    reset(dc);
    const int tau = static_cast<int>(std::lround(rate / 126.0));
    std::vector<float> buf(2 * rate, 1.0f);
    renderMono(dc, buf.data(), buf.data(), static_cast<int>(buf.size()), k);
    EXPECT_EQ(buf[0], 1.0f);
    EXPECT_NEAR(buf[tau], std::exp(-1.0), 0.005) << rate;
    EXPECT_NEAR(buf[3 * tau], std::exp(-3.0), 0.002) << rate;
    // The tail settles on the guard's grid (steps of 2^-41) far below hearing
    // instead of creeping down through denormal numbers.
    for (float y : buf) ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL);
    EXPECT_LT(std::fabs(buf.back()), 1e-9f);
    EXPECT_EQ(std::fmod(buf.back(), std::ldexp(1.0f, -41)), 0.0f);
  }
}

TEST(DcBlocker, SilenceStaysExactlyZeroAndTonesPass) {
  DcBlocker dc{};
  reset(dc);
  std::vector<float> silence(4096, 0.0f);
  renderMono(dc, silence.data(), silence.data(), 4096, kRate44);
  for (float s : silence) ASSERT_EQ(s, 0.0f);

  // Stereo: DC on the left fades; a 1 kHz tone on the right keeps its level.
  const int frames = 44100;
  std::vector<float> in(2 * frames), out(2 * frames);
  for (int i = 0; i < frames; ++i) {
    in[2 * i] = 0.5f;
    in[2 * i + 1] = static_cast<float>(0.5 * std::sin(kTwoPi * 1000.0 * i / 44100.0));
  }
  reset(dc);
  renderStereo(dc, in.data(), out.data(), frames, kRate44);
  using testsig::rmsOf;
  EXPECT_LT(testsig::peakOf(out, frames / 2, frames, 2, 0), 1e-6f);
  EXPECT_NEAR(rmsOf(out, frames / 2, frames, 2, 1) / rmsOf(in, frames / 2, frames, 2, 1), 1.0,
              0.002);
}

}  // namespace
