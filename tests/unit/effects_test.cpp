// Bass boost: shelf gain at low and high frequencies, the off setting, and
// memories that hold still while the unit is off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "synth/units/bass_boost.h"

namespace {

constexpr int kRate = 44100;

SynthConstants constants() {
  SynthConstants k{};
  k.sampleRate = kRate;
  k.rateScale = 1.0f;
  const double w = 2.0 * 3.14159265358979 * 150.0 / kRate;
  k.bassSin = static_cast<float>(std::sin(w));
  k.bassCos = static_cast<float>(std::cos(w));
  return k;
}

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

double rms(const std::vector<float>& b, int side, int from, int to) {
  double acc = 0;
  for (int i = from; i < to; ++i) acc += double(b[2 * i + side]) * b[2 * i + side];
  return std::sqrt(acc / (to - from));
}

// Output / input level of each side over the last half of the render.
std::pair<double, double> gains(float setting, float leftHz, float rightHz) {
  BassBoost b{};
  const SynthConstants k = constants();
  setup(b, &setting, k);
  const auto in = tones(kRate, leftHz, rightHz, 0.1f);
  auto out = in;
  render(b, out.data(), kRate, k);
  return {rms(out, 0, kRate / 2, kRate) / rms(in, 0, kRate / 2, kRate),
          rms(out, 1, kRate / 2, kRate) / rms(in, 1, kRate / 2, kRate)};
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

TEST(BassBoost, OffSettingLeavesTheChannelUntouched) {
  for (float setting : {0.0f, 0.4f}) {
    BassBoost b{};
    const SynthConstants k = constants();
    setup(b, &setting, k);
    const auto in = tones(1000, 40, 3000, 0.5f);
    auto out = in;
    render(b, out.data(), 1000, k);
    EXPECT_EQ(out, in) << setting;
  }
}

TEST(BassBoost, MemoriesHoldWhileOffAndCarryAcrossBlocks) {
  const SynthConstants k = constants();
  const float on = 100, off = 0;
  const auto first = tones(700, 60, 90, 0.3f);
  const auto pause = tones(900, 500, 700, 0.8f);
  const auto later = tones(1500, 45, 250, 0.3f);

  // Reference: the two passages straight on, in one block each.
  BassBoost a{};
  setup(a, &on, k);
  auto fa = first;
  render(a, fa.data(), 700, k);
  auto la = later;
  render(a, la.data(), 1500, k);

  // The same in ticks of 128 frames with a switched-off pause between.
  BassBoost b{};
  setup(b, &on, k);
  auto fb = first;
  for (int at = 0; at < 700; at += 128) render(b, fb.data() + 2 * at, std::min(128, 700 - at), k);
  setup(b, &off, k);
  auto pb = pause;
  render(b, pb.data(), 900, k);
  EXPECT_EQ(pb, pause);
  setup(b, &on, k);
  auto lb = later;
  for (int at = 0; at < 1500; at += 128) render(b, lb.data() + 2 * at, std::min(128, 1500 - at), k);

  EXPECT_EQ(fa, fb);
  EXPECT_EQ(la, lb);
}

}  // namespace
