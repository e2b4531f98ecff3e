// Render loop: pitch, chunking, independence of instances and the
// floating-point mode.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "support/patch_builder.h"

using namespace testpatch;

namespace {

constexpr double kRate = 44100.0;

// A busy patch: three oscillators in different modes, both filters, an LFO
// sweeping the cutoff, a sample-and-hold LFO on the pan, a slow release.
Patch busyPatch() {
  Patch p = plainPatch();
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[kOsc[0] + kOscColour] = 100;
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  p.voice[kOsc[1] + kOscColour] = 40;
  p.voice[kOsc[1] + kOscFine] = 70;
  p.voice[kOsc[1] + kOscLevel] = 90;
  p.voice[kOsc[2] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  p.voice[kOsc[2] + kOscLevel] = 30;
  p.voice[kFilter[0] + 0] = 1;   // low-pass
  p.voice[kFilter[0] + 1] = 80;  // cutoff
  p.voice[kFilter[0] + 2] = 60;  // resonance
  p.voice[kEnv[0] + kEnvAttack] = 40;
  p.voice[kEnv[0] + kEnvDecay] = 50;
  p.voice[kEnv[0] + kEnvSustain] = 90;
  p.voice[kEnv[0] + kEnvRelease] = 100;
  p.voice[kLfo[0] + 0] = 3;    // sine
  p.voice[kLfo[0] + 3] = 100;  // rate
  p.voice[kLfo[0] + 6] = 40;   // depth
  p.voice[kLfo[1] + 0] = 4;    // sample and hold
  p.voice[kLfo[1] + 3] = 110;
  p.voice[kLfo[1] + 6] = 60;
  p.routes = {{kSrcLfo1, 128, static_cast<uint8_t>(kFilter[0] + 1)},
              {kSrcLfo2, 100, kPan},
              {kSrcKey, 80, static_cast<uint8_t>(kOsc[0] + kOscColour)}};
  return p;
}

// Plays a short phrase on channels 0 and 1, rendering `chunk` frames per call
// and calling `between` after each call.
std::vector<float> playPhrase(TestSynth& t, int chunk, const std::function<void()>& between = {}) {
  std::vector<float> out;
  const auto take = [&](int frames) {
    for (int done = 0; done < frames; done += chunk) {
      const std::vector<float> part = t.render(std::min(chunk, frames - done), chunk);
      out.insert(out.end(), part.begin(), part.end());
      if (between) between();
    }
  };
  t.events({0x90, 60, 100, 64, 90, 0x91, 48, 110});
  take(3000);
  t.events({0x80, 60, 0, 0x90, 67, 80});
  take(5000);
  t.events({0xB0, 123, 0, 0x81, 48, 0});
  take(20000);
  return out;
}

std::vector<Patch> twoPatches() {
  Patch second = busyPatch();
  second.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::PhaseModSine);
  second.voice[kRouting] = 2;
  second.voice[kFilter[1] + 0] = 3;
  second.voice[kFilter[1] + 1] = 50;
  return {busyPatch(), second};
}

}  // namespace

TEST(SynthRender, Note60WithZeroOffsetsSoundsAt130Hz) {
  TestSynth t({plainPatch()});
  t.events({0x90, 60, 100});
  const std::vector<float> left = leftOf(t.render(44100));
  EXPECT_NEAR(frequencyOf(left, kRate), 130.81, 0.05);
  // Full-scale sine, centre pan, channel gain 0.6 x 127/128; the four DC
  // blockers on the way take a few per cent at this pitch.
  EXPECT_NEAR(rmsOf(left, 4410), 0.29, 0.015);

  TestSynth u({plainPatch()});
  u.events({0x90, 72, 100});
  EXPECT_NEAR(frequencyOf(leftOf(u.render(44100)), kRate), 2 * 130.81, 0.1);
}

TEST(SynthRender, OneFramePerCallEqualsThousandFramesPerCall) {
  TestSynth a(twoPatches());
  TestSynth b(twoPatches());
  a.events({0xC1, 1});
  b.events({0xC1, 1});
  const std::vector<float> big = playPhrase(a, 1000);
  const std::vector<float> small = playPhrase(b, 1);
  ASSERT_EQ(big.size(), small.size());
  EXPECT_GT(rmsOf(big), 0.01f);
  EXPECT_EQ(0, std::memcmp(big.data(), small.data(), big.size() * sizeof(float)));
}

TEST(SynthRender, TwoInstancesSideBySideEqualOneAlone) {
  TestSynth alone(twoPatches());
  const std::vector<float> reference = playPhrase(alone, 500);

  // The same phrase on one instance while another plays different notes and
  // draws seeds in between every call.
  TestSynth first(twoPatches());
  TestSynth other(twoPatches());
  other.events({0xC0, 1, 0x90, 30, 127, 40, 127, 50, 127});
  const std::vector<float> out = playPhrase(first, 500, [&] {
    other.render(333);
    other.events({0xB0, 120, 0, 0x90, 35, 100});
  });
  ASSERT_EQ(out.size(), reference.size());
  EXPECT_EQ(0, std::memcmp(out.data(), reference.data(), out.size() * sizeof(float)));
}

TEST(SynthRender, CallerRoundingModeIsKeptAndDoesNotChangeTheSamples) {
  TestSynth a({busyPatch()});
  TestSynth b({busyPatch()});
  a.events({0x90, 60, 100, 0xB0, 1, 33});
  const std::vector<float> reference = a.render(3000);

  const int saved = std::fegetround();
  ASSERT_EQ(0, std::fesetround(FE_UPWARD));
  b.events({0x90, 60, 100, 0xB0, 1, 33});
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  const std::vector<float> out = b.render(3000);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(saved);
  EXPECT_EQ(0, std::memcmp(out.data(), reference.data(), out.size() * sizeof(float)));
}
