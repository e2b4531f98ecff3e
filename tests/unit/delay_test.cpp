// Modulated delay: tap distances and wrap-around.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/signals.h"
#include "synth/units/mod_delay.h"

namespace {

using testsig::constantsAt;

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

}  // namespace
