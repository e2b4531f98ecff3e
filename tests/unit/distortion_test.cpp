// Distortion modes and the DC blocker.
#include "synth/units/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/signals.h"
#include "synth/units/dc_blocker.h"

namespace {

const SynthConstants kRate44 = testsig::constantsAt(44100);

// Parameters: mode, drive, amount, shape. Drive 32 is unity gain.
Distortion makeDistortion(float mode, float drive, float amount, float shape) {
  Distortion d{};
  reset(d);
  const float p[4] = {mode, drive, amount, shape};
  setup(d, p, kRate44);
  return d;
}

float shapeOne(Distortion& d, float x) {
  renderMono(d, &x, &x, 1);
  return x;
}

// Saturation: unit input gives the amount for any drive; large inputs rise
// toward the ceiling without folding back. Clipping: zero input gives the bias.
TEST(Distortion, SaturateAndClipKeepTheirLevels) {
  for (float drive : {0.0f, 32.0f, 96.0f}) {
    Distortion d = makeDistortion(1.0f, drive, 128.0f, 64.0f);
    EXPECT_NEAR(shapeOne(d, -1.0f), -1.0f, 1e-4) << drive;
    const double ceiling = (3.141592653589793 / 2.0) / std::atan(std::exp2((drive - 32.0) / 16.0));
    float previous = -2.0f;
    for (int i = 0; i <= 10000; ++i) {
      const float y = shapeOne(d, static_cast<float>(i) * 0.01f);  // 0 .. 100
      ASSERT_GE(y, previous) << i;
      previous = y;
    }
    EXPECT_LT(previous, ceiling);
    EXPECT_GT(shapeOne(d, 1e6f), 0.999 * ceiling);
  }
  // Drive 1, shape 96: bias 0.5; amount 64: output scale 0.5.
  Distortion clip = makeDistortion(2.0f, 32.0f, 64.0f, 96.0f);
  EXPECT_FLOAT_EQ(shapeOne(clip, 0.0f), 0.25f);
  EXPECT_FLOAT_EQ(shapeOne(clip, -10.0f), -0.5f);
}

TEST(Distortion, CrushQuantisesAndClampsInsteadOfWrapping) {
  Distortion d = makeDistortion(3.0f, 32.0f, 0.0f, 0.0f);
  const float lsb = 1.0f / 32768.0f;
  EXPECT_EQ(shapeOne(d, 0.5f * lsb), 0.0f);  // ties go to even
  EXPECT_EQ(shapeOne(d, -2.5f * lsb), -2.0f * lsb);
  EXPECT_EQ(shapeOne(d, 1.0f), 32767.0f * lsb);
  // Amount 1: steps of 257/32768; shape 1 flips bit 9.
  Distortion coarse = makeDistortion(3.0f, 32.0f, 1.0f, 0.0f);
  EXPECT_EQ(shapeOne(coarse, 0.3f) * 32768.0f, 257.0f * 38.0f);
  Distortion flipped = makeDistortion(3.0f, 32.0f, 0.0f, 1.0f);
  EXPECT_EQ(shapeOne(flipped, 0.0f), 512.0f * lsb);
  Distortion loud = makeDistortion(3.0f, 128.0f, 5.0f, 0.0f);
  EXPECT_EQ(shapeOne(loud, 1e30f), 32767.0f * lsb);
  EXPECT_EQ(shapeOne(loud, -100.0f), -32767.0f * lsb);
}

// Decimation takes new samples at a rate set by the amount, both sides on
// the same carry.
TEST(Distortion, DecimateAmountSetsTheRateOfNewSamples) {
  const int frames = 102400;
  const struct {
    float amount;
    double share, tolerance;
  } cases[] = {{127.0f, 0.947, 0.002}, {0.0f, 1.0 / 1024, 1e-5}};
  for (const auto& [amount, share, tolerance] : cases) {
    Distortion d = makeDistortion(4.0f, 32.0f, amount, 0.0f);
    std::vector<float> buf(2 * frames);
    for (int i = 0; i < frames; ++i) buf[2 * i] = -(buf[2 * i + 1] = static_cast<float>(i + 1));
    renderStereo(d, buf.data(), buf.data(), frames);
    int taken = 0;
    for (int i = 1; i < frames; ++i) {
      ASSERT_EQ(buf[2 * i + 1], -buf[2 * i]) << i;
      taken += buf[2 * i] != buf[2 * i - 2];
    }
    EXPECT_NEAR(taken / double(frames), share, tolerance) << amount;
  }
}

// The blocker removes DC with a time constant of 1/126 s at any rate, settles
// on its guard's grid instead of creeping through denormals, and passes tones.
TEST(DcBlocker, ConstantInputDecaysAndTonesPass) {
  for (int rate : {44100, 48000}) {
    DcBlocker dc{};
    reset(dc);
    const int tau = static_cast<int>(std::lround(rate / 126.0));
    std::vector<float> buf(2 * rate, 1.0f);
    renderMono(dc, buf.data(), buf.data(), static_cast<int>(buf.size()),
               testsig::constantsAt(rate));
    EXPECT_NEAR(buf[tau], std::exp(-1.0), 0.005) << rate;
    EXPECT_NEAR(buf[3 * tau], std::exp(-3.0), 0.002) << rate;
    for (float y : buf) ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL);
    EXPECT_LT(std::fabs(buf.back()), 1e-9f);
  }
  DcBlocker dc{};
  reset(dc);
  std::vector<float> tone = testsig::sine(1000.0, 44100);
  const double in = testsig::rmsOf(tone, 22050);
  renderMono(dc, tone.data(), tone.data(), 44100, kRate44);
  EXPECT_NEAR(testsig::rmsOf(tone, 22050) / in, 1.0, 0.002);
}

}  // namespace
