// Effects: the bass shelf's gain at low and high frequencies, the modulated
// delay's tap distances and wrap-around, the reverb's decay time against its
// decay setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "support/signals.h"
#include "synth/units/bass_boost.h"
#include "synth/units/mod_delay.h"
#include "synth/units/reverb.h"

namespace {

using testsig::constantsAt;
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

// Parameter set: wet/dry, feedback, delay left, delay right, rate, depth, offset.
struct DelayParams {
  float m[7] = {128, 64, 0, 0, 0, 0, 64};
};

DelayParams fixedTaps(float left, float right) {
  DelayParams p;
  p.m[2] = left;
  p.m[3] = right;
  return p;
}

// A delay unit that owns its lines.
struct DelayRig {
  std::vector<float> left, right;
  ModDelay d{};
  SynthConstants k = constantsAt(44100);

  explicit DelayRig(uint32_t mask) : left(mask + 1, 0.5f), right(mask + 1, 0.5f) {
    attachLines(d, left.data(), right.data(), mask);
    reset(d);
  }
  void set(const DelayParams& p) { setup(d, p.m, k); }
};

std::vector<float> impulse(int frames, float left, float right) {
  std::vector<float> b(2 * static_cast<size_t>(frames), 0.0f);
  b[0] = left;
  b[1] = right;
  return b;
}

int loudestFrame(const std::vector<float>& b, int side) {
  int best = 0;
  for (size_t i = side; i < b.size(); i += 2)
    if (std::fabs(b[i]) > std::fabs(b[2 * best + side])) best = static_cast<int>(i / 2);
  return best;
}

TEST(ModDelay, TapsLieAtTheirDistances) {
  // 8 samples per step; for equal settings the right tap is one sample longer
  // than the left; the shortest delays wrap round to the far end of the line.
  const struct {
    float left, right;
    int leftFrame, rightFrame;
  } cases[] = {{10, 10, 79, 80}, {5, 20, 39, 160}, {0, 0, 2047, 2048}, {0.125f, 0, 2048, 2048}};
  for (const auto& c : cases) {
    DelayRig rig(kChannelDelayMask);
    rig.set(fixedTaps(c.left, c.right));
    auto b = impulse(2100, 1.0f, -1.0f);
    render(rig.d, b.data(), 2100);
    EXPECT_EQ(loudestFrame(b, 0), c.leftFrame) << c.left;
    EXPECT_EQ(loudestFrame(b, 1), c.rightFrame) << c.right;
    EXPECT_NEAR(b[2 * c.leftFrame], 1.0f, 1e-5f) << c.left;
    EXPECT_NEAR(b[2 * c.rightFrame + 1], -1.0f, 1e-5f) << c.right;
    // Fully wet: nothing of the dry impulse remains at frame 0.
    EXPECT_NEAR(b[0], 0.0f, 1e-5f);
    EXPECT_NEAR(b[1], 0.0f, 1e-5f);
  }
}

struct Rig {
  std::unique_ptr<Reverb> r = std::make_unique<Reverb>();
  Rig(float decay, float damping, float lowCut, float level) {
    reset(*r);
    const float g[4] = {decay, damping, lowCut, level};
    setup(*r, g, testsig::constantsAt(kRate));
  }
  // Renders the bus in ticks of 128 frames and returns the stereo output.
  std::vector<float> run(const std::vector<float>& bus) {
    std::vector<float> out(2 * bus.size(), 0.0f);
    for (size_t at = 0; at < bus.size(); at += 128)
      render(*r, bus.data() + at, out.data() + 2 * at,
             static_cast<int>(std::min<size_t>(128, bus.size() - at)));
    return out;
  }
};

// The response to a unit impulse, without the reverb's steady answer to its
// own guard offset.
std::vector<float> impulseResponse(float decay, float damping, int frames) {
  std::vector<float> bus(frames, 0.0f);
  const auto quiet = Rig(decay, damping, 0, 128).run(bus);
  bus[0] = 1.0f;
  auto out = Rig(decay, damping, 0, 128).run(bus);
  for (size_t i = 0; i < out.size(); ++i) out[i] -= quiet[i];
  return out;
}

// Frames until the level in 2,048-frame windows stays 40 dB below its loudest.
int decayTime(const std::vector<float>& out) {
  const int window = 2048;
  std::vector<double> level;
  for (size_t at = 0; at + 2 * window <= out.size(); at += 2 * window) {
    double acc = 0;
    for (int i = 0; i < 2 * window; ++i) acc += double(out[at + i]) * out[at + i];
    level.push_back(acc);
  }
  const double loudest = *std::max_element(level.begin(), level.end());
  int last = 0;
  for (size_t i = 0; i < level.size(); ++i)
    if (level[i] > loudest * 1e-4) last = static_cast<int>(i);
  return (last + 1) * window;
}

TEST(Reverb, DecayLengthensWithTheDecaySetting) {
  const int frames = 20 * kRate;
  const int t32 = decayTime(impulseResponse(32, 128, frames));
  const int t64 = decayTime(impulseResponse(64, 128, frames));
  const int t96 = decayTime(impulseResponse(96, 128, frames));
  EXPECT_GT(t32, kRate / 2);
  EXPECT_GT(t64, 2 * t32);
  EXPECT_GT(t96, t64 + t64 / 2);
  EXPECT_LT(t96, frames - 4096);  // and it does end
}

}  // namespace
