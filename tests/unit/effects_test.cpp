// Bass boost: shelf gain at low and high frequencies. Channel strip in the
// synthesizer: an echo tail stops with the channel's last voice and picks up
// where it stopped when the channel plays again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/patch_builder.h"
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

// Half dry, half a single echo 1,024 samples later (right side); a short
// release so that the channel falls quiet before it stops; full voice reset
// at every note so that a later note sounds the same whatever came before.
testpatch::Patch echoPatch() {
  using namespace testpatch;
  Patch p = plainPatch();
  p.voice[kRetrigger] = 2;
  p.voice[kEnv[0] + kEnvRelease] = 1;
  const uint8_t delay[7] = {96, 64, 128, 128, 0, 0, 64};
  for (int i = 0; i < 7; ++i) p.channel[kChannelDelay + i] = delay[i];
  return p;
}

std::vector<float> rightOf(const std::vector<float>& interleaved) {
  std::vector<float> out(interleaved.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = interleaved[2 * i + 1];
  return out;
}

TEST(ChannelStrip, EchoWaitsWhileTheChannelIsSilentAndComesWithItsNextNote) {
  constexpr int kTick = 128;
  constexpr int kEcho = 1024;
  constexpr int kGapEnd = 100 * kTick;  // second note, on a tick boundary
  constexpr int kAfter = 2000;

  // Run 1: a short note that ends before its echo is due, a long silent gap,
  // then a second note.
  testpatch::TestSynth withEcho({echoPatch()});
  withEcho.events({0x90, 60, 100});
  auto a = withEcho.render(kTick);
  withEcho.events({0x80, 60, 0});
  // The channel runs for whole ticks until the voice has ended.
  int active = kTick;
  while (withEcho.voicesOn(0) > 0) {
    const auto tick = withEcho.render(kTick);
    a.insert(a.end(), tick.begin(), tick.end());
    if (withEcho.voicesOn(0) > 0) active += kTick;
  }
  ASSERT_LT(active, kEcho);
  auto gap = withEcho.render(kGapEnd - static_cast<int>(a.size() / 2));
  a.insert(a.end(), gap.begin(), gap.end());
  withEcho.events({0x90, 67, 100});
  auto later = withEcho.render(kAfter);
  a.insert(a.end(), later.begin(), later.end());

  // Run 2: only the second note. Run 3: only the first. The master chain is
  // linear here, so run 1 minus runs 2 and 3 leaves what the two notes do
  // together: the first note's echo released by the second.
  testpatch::TestSynth fresh({echoPatch()});
  auto b = fresh.render(kGapEnd);
  fresh.events({0x90, 67, 100});
  auto laterB = fresh.render(kAfter);
  b.insert(b.end(), laterB.begin(), laterB.end());
  testpatch::TestSynth alone({echoPatch()});
  alone.events({0x90, 60, 100});
  auto c = alone.render(kTick);
  alone.events({0x80, 60, 0});
  auto restC = alone.render(kGapEnd + kAfter - kTick);
  c.insert(c.end(), restC.begin(), restC.end());

  const auto first = rightOf(a);
  const auto second = rightOf(b);
  const auto only = rightOf(c);
  float loudest = 0;
  for (int i = 0; i < active; ++i) loudest = std::max(loudest, std::fabs(first[i]));
  EXPECT_GT(loudest, 0.05f);

  // The echo does not come while the channel is silent: only the master
  // chain's fading residue is left.
  for (int i = kEcho; i < kGapEnd; ++i) ASSERT_LT(std::fabs(first[i]), 0.1f * loudest) << i;

  // With the second note the channel goes on from where it stopped: the
  // echo (equal to the dry part) arrives once the remaining delay has run.
  const int due = kGapEnd + kEcho - active;
  for (int i = kGapEnd; i < due + active; ++i) {
    const float together = first[i] - second[i] - only[i];
    const float echo = i < due ? 0.0f : only[i - due];
    ASSERT_NEAR(together, echo, 0.01f * loudest) << i - kGapEnd;
  }
}

}  // namespace
