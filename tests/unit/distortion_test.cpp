// Distortion modes: saturation, clipping and decimation.
#include "synth/units/distortion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/signals.h"

namespace {

// Parameters: mode, drive, amount, shape. Drive 32 is unity gain.
Distortion makeDistortion(float mode, float drive, float amount, float shape) {
  Distortion d{};
  reset(d);
  const float p[4] = {mode, drive, amount, shape};
  setup(d, p, testsig::constantsAt(44100));
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

}  // namespace
