// Parameter refresh: modulation routes and their clamp order, key tracking,
// pan, channel routes and sends, and patches that lie outside the map.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/patch_builder.h"

using namespace testpatch;

namespace {

constexpr double kRate = 44100.0;
constexpr uint8_t kSpare = kOsc[1] + kOscColour;  // a parameter no unit listens to here

float spareAfter(const std::vector<Route>& routes, uint8_t base) {
  Patch p = plainPatch();
  p.voice[kSpare] = base;
  p.routes = routes;
  TestSynth t({p});
  t.events({0x90, 60, 100});  // velocity 100 is the route source
  t.render(128);              // the first tick's refresh sees the new note
  return t.state().voiceParams[0][kSpare];
}

}  // namespace

TEST(SynthParams, EveryRouteIsFollowedByTheClamp) {
  const Route up{kSrcVelocity, 128, kSpare};       // +100
  const Route down{kSrcVelocity, 0, kSpare};       // -100
  const Route none{kSrcVelocity, 64, kSpare};      // adds nothing, still clamps
  EXPECT_EQ(spareAfter({up, down}, 100), 28.0f);   // 200 -> 128, then 28
  EXPECT_EQ(spareAfter({down, up}, 100), 100.0f);  // 0 -> 0, then 100
  EXPECT_EQ(spareAfter({none}, 200), 128.0f);
  EXPECT_EQ(spareAfter({}, 200), 200.0f);  // unrouted parameters are not clamped
  // Half the velocity, then a quarter of it back.
  EXPECT_EQ(spareAfter({{kSrcVelocity, 96, kSpare}, {kSrcVelocity, 48, kSpare}}, 10), 35.0f);
}

TEST(SynthParams, KeyTrackingFollowsTheNoteAroundNote48) {
  // Half the key tracking value on the oscillator's transpose: the pitch
  // moves by the note's distance from 48 once more, so note 60 sounds two
  // octaves above note 48.
  Patch p = plainPatch();
  p.routes = {{kSrcKey, 96, static_cast<uint8_t>(kOsc[0] + kOscTranspose)}};
  TestSynth a({p});
  a.events({0x90, 60, 100});
  EXPECT_NEAR(frequencyOf(leftOf(a.render(44100)), kRate), 261.63, 0.1);
  TestSynth b({p});
  b.events({0x90, 48, 100});
  EXPECT_NEAR(frequencyOf(leftOf(b.render(44100)), kRate), 65.41, 0.05);
}

TEST(SynthParams, PanSplitsPowerBetweenTheSides) {
  for (uint8_t pan : {0, 64, 128}) {
    Patch p = plainPatch();
    p.voice[kPan] = pan;
    TestSynth t({p});
    t.events({0x90, 84, 100});
    const std::vector<float> out = t.render(8820);
    std::vector<float> left, right;
    for (size_t i = 4410; i < out.size() / 2; ++i) {
      left.push_back(out[2 * i]);
      right.push_back(out[2 * i + 1]);
    }
    const float l = rmsOf(left), r = rmsOf(right);
    const float full = 0.6f * 127 / 128 / std::sqrt(2.0f);
    EXPECT_NEAR(l * l + r * r, full * full, 0.03f * full * full) << int(pan);
    const float quiet = pan == 0 ? r : pan == 128 ? l : std::fabs(l - r);
    EXPECT_LT(quiet, pan == 64 ? 1e-4f : 1e-3f) << int(pan);
  }
}

TEST(SynthParams, ControllerRouteOnTheChannelVolume) {
  // Controller 1 turns the channel down: at 127 it takes the volume to 0.
  Patch p = plainPatch();
  p.routes = {{1, 0, kChannelDestination + kVolume}};
  TestSynth t({p});
  t.events({0x90, 72, 100});
  EXPECT_GT(rmsOf(t.render(4410), 2000), 0.1f);
  t.events({0xB0, 1, 127});
  t.render(8820);  // the master DC blocker settles
  EXPECT_LT(rmsOf(t.render(4410)), 1e-3f);
}

TEST(SynthParams, AuxSendsReachOnlyHigherChannelsAndIgnoreTheVolume) {
  // The sender is muted (volume 0) but sends to aux bus A; the receiver's
  // voice is silent and only returns the bus.
  Patch sender = plainPatch();
  sender.channel[kVolume] = 0;
  sender.channel[kAuxSendA] = 128;
  Patch receiver = plainPatch();
  receiver.voice[kOsc[0] + kOscLevel] = 0;
  receiver.channel[kAuxReturnA] = 128;

  TestSynth up({sender, receiver});  // channel 0 sends, channel 1 returns
  up.events({0xC1, 1, 0x90, 72, 100, 0x91, 60, 100});
  EXPECT_GT(rmsOf(up.render(4410), 2000), 0.05f);

  TestSynth down({sender, receiver});  // channel 1 sends, channel 0 returns
  down.events({0xC0, 1, 0xC1, 0, 0x91, 72, 100, 0x90, 60, 100});
  EXPECT_LT(rmsOf(down.render(4410), 2000), 1e-3f);
}

TEST(SynthParams, ProgramsOutsideThePatchMapPlaySilence) {
  std::vector<uint8_t> good = buildPatchMap({plainPatch()});

  // Program 1's offset points past the end; program 2's patch claims more
  // routes than the map holds; program 3's offset entry is cut off.
  std::vector<uint8_t> map = good;
  const auto setOffset = [&](int program, uint32_t offset) {
    for (int b = 0; b < 4; ++b) map[4 * program + b] = static_cast<uint8_t>(offset >> (8 * b));
  };
  setOffset(1, static_cast<uint32_t>(map.size()));
  const std::vector<uint8_t> tail = patchBytes(plainPatch());
  setOffset(2, static_cast<uint32_t>(map.size()));
  map.insert(map.end(), tail.begin(), tail.end());
  map.back() = 0;
  map[map.size() - tail.size() + kPatchRouteCount] = 5;  // 15 route bytes, none present

  TestSynth t(map);
  t.events({0xC1, 1, 0x91, 60, 100, 0xC2, 2, 0x92, 60, 100, 0x90, 72, 100});
  EXPECT_EQ(t.voicesOn(1), 0);
  EXPECT_EQ(t.voicesOn(2), 0);
  EXPECT_EQ(t.voicesOn(0), 1);
  float l = 0, r = 0;
  t.render(1000);
  getChannelMeter(t.state(), 1, &l, &r);
  EXPECT_EQ(l, 0.0f);

  // A map that holds only two offset entries: program 3 has none.
  std::vector<uint8_t> shortMap(good.begin(), good.begin() + 8);
  TestSynth u(shortMap);
  u.events({0xC3, 3, 0x93, 60, 100, 0x90, 60, 100});
  EXPECT_EQ(u.voicesTotal(), 0);
  EXPECT_EQ(rmsOf(u.render(1000)), 0.0f);
}
