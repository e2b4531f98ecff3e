// Bass boost: shelf gain at low and high frequencies.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/signals.h"
#include "synth/units/bass_boost.h"

namespace {

using testsig::rmsOf;

constexpr int kRate = 44100;

// Left and right sines of their own frequencies, interleaved.
std::vector<float> tones(int frames, float leftHz, float rightHz, float level) {
  std::vector<float> b(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    b[2 * i] = level * static_cast<float>(std::sin(2.0 * 3.14159265358979 * leftHz * i / kRate));
    b[2 * i + 1] =
        level * static_cast<float>(std::sin(2.0 * 3.14159265358979 * rightHz * i / kRate));
  }
  return b;
}

// Output / input level of each side over the last half of the render.
std::pair<double, double> gains(float setting, float leftHz, float rightHz) {
  BassBoost b{};
  const SynthConstants k = testsig::constantsAt(kRate);
  setup(b, &setting, k);
  const auto in = tones(kRate, leftHz, rightHz, 0.1f);
  auto out = in;
  render(b, out.data(), kRate, k);
  return {rmsOf(out, kRate / 2, kRate, 2, 0) / rmsOf(in, kRate / 2, kRate, 2, 0),
          rmsOf(out, kRate / 2, kRate, 2, 1) / rmsOf(in, kRate / 2, kRate, 2, 1)};
}

TEST(BassBoost, LiftsTheLowEndAndLeavesTheHighs) {
  // Full setting: four times at the bottom; half setting: twice.
  auto [low, high] = gains(128, 20, 8000);
  EXPECT_NEAR(low, 4.0, 0.08);
  EXPECT_NEAR(high, 1.0, 0.02);
  std::tie(low, high) = gains(64, 20, 8000);
  EXPECT_NEAR(low, 2.0, 0.04);
  EXPECT_NEAR(high, 1.0, 0.02);
  // The shelf sits around 150 Hz: half way (in dB) near there.
  const auto [mid, unused] = gains(128, 150, 8000);
  EXPECT_GT(mid, 1.6);
  EXPECT_LT(mid, 3.0);
  // Any non-zero setting boosts a little.
  EXPECT_GT(gains(1, 20, 8000).first, 1.005);
}

}  // namespace
