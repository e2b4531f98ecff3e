// Compressor: gain reduction and recovery for every detector, the gain law,
// and long-run stability of the stereo RMS detector.
#include "synth/units/compressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/signals.h"

namespace {

using testsig::peakOf;
using testsig::rmsOf;

constexpr int kRate = 44100;
constexpr float kTwoPi = 6.28318531f;

// Detector, per-side flag, auto make-up, lookahead ms, threshold, ratio,
// attack, release, output level. Threshold 64 is 0.25 of full scale; ratio
// 128 limits; output level 64 with make-up off gives unity overall.
struct Settings {
  float p[9] = {1, 1, 0, 0, 64, 128, 32, 64, 64};
};

Settings detector(float k0, float k1) {
  Settings s;
  s.p[0] = k0;
  s.p[1] = k1;
  return s;
}

struct Rig {
  std::unique_ptr<Compressor> c = std::make_unique<Compressor>();  // zeroed, as in the state
  Rig() { reset(*c); }
  void set(const Settings& s) { setup(*c, s.p, testsig::constantsAt(kRate)); }
  void run(std::vector<float>& b) {
    for (size_t at = 0; at < b.size(); at += 256)
      render(*c, b.data() + at, static_cast<int>(std::min<size_t>(256, b.size() - at) / 2));
  }
};

// Interleaved stereo sine, each side with its own amplitude.
std::vector<float> sine(int frames, float left, float right, float hz = 441.0f) {
  std::vector<float> b(2 * static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const float v = std::sin(kTwoPi * hz * static_cast<float>(i) / kRate);
    b[2 * i] = left * v;
    b[2 * i + 1] = right * v;
  }
  return b;
}

struct DetectorCase {
  const char* name;
  float k0, k1;
  bool linked;
};

class Detectors : public ::testing::TestWithParam<DetectorCase> {};

TEST_P(Detectors, SqueezeLoudPassagesAndRecoverBelowThreshold) {
  const DetectorCase dc = GetParam();
  Rig rig;
  rig.set(detector(dc.k0, dc.k1));

  // A loud left side over a quiet right, then both quiet.
  const int loud = kRate * 3 / 2, quiet = kRate * 3;
  auto in = sine(loud, 2.0f, 0.05f);
  auto tail = sine(quiet, 0.05f, 0.05f);
  in.insert(in.end(), tail.begin(), tail.end());
  auto out = in;
  rig.run(out);

  const int a = loud - kRate / 2, b = loud;
  EXPECT_LT(rmsOf(out, a, b, 2, 0), 0.5f * rmsOf(in, a, b, 2, 0));
  if (dc.linked) {
    EXPECT_LT(rmsOf(out, a, b, 2, 1), 0.5f * rmsOf(in, a, b, 2, 1));  // one gain for both sides
  } else {
    EXPECT_NEAR(rmsOf(out, a, b, 2, 1), rmsOf(in, a, b, 2, 1), 0.01f * rmsOf(in, a, b, 2, 1));
  }

  const int c = loud + quiet - kRate, d = loud + quiet;
  for (int side = 0; side < 2; ++side)
    EXPECT_NEAR(rmsOf(out, c, d, 2, side), rmsOf(in, c, d, 2, side),
                0.01f * rmsOf(in, c, d, 2, side));
  for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

INSTANTIATE_TEST_SUITE_P(Compressor, Detectors,
                         ::testing::Values(DetectorCase{"LinkedPeak", 1, 0, true},
                                           DetectorCase{"LinkedRms", 2, 0, true},
                                           DetectorCase{"StereoPeak", 1, 1, false},
                                           DetectorCase{"StereoRms", 2, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Compressor, RatioSetsHowFarPeaksAreHeldTowardTheThreshold) {
  struct Case {
    float k5, expectedPeak;
  };
  // Peak detector on a 2.0 sine with the threshold at 0.25 (level 8):
  // ratio 1 holds the peaks at the threshold, 0.5 at 2 / (1 + 7 / 2), 0 not at all.
  for (const Case cs : {Case{128, 0.25f}, Case{64, 2.0f / 4.5f}, Case{0, 2.0f}}) {
    Rig rig;
    Settings s = detector(1, 1);
    s.p[5] = cs.k5;
    rig.set(s);
    auto out = sine(kRate, 2.0f, 2.0f);
    rig.run(out);
    EXPECT_NEAR(peakOf(out, kRate / 2, kRate, 2, 0), cs.expectedPeak, 0.03f * cs.expectedPeak)
        << "ratio " << cs.k5;
  }
}

}  // namespace
