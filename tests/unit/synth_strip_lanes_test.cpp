// Channel strips rendered side by side: the strips and meters of channels
// that play together. A channel must sound and meter the same, bit for bit,
// whether it plays alone or among many others, in any register position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"

using namespace testpatch;

namespace {

using testsig::sameBits;

}  // namespace

namespace {

// Panned left, through every strip unit: compressor, bass boost, saturating
// channel shaper and the channel delay (in the given order).
Patch stripPatch(uint8_t effectOrder) {
  Patch p = plainPatch();
  p.voice[kPan] = 16;
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.channel[kEffectOrder] = effectOrder;
  p.channel[kBassBoost] = 50;
  p.channel[kChannelDistortion + 0] = 1;
  p.channel[kChannelDistortion + 1] = 16;
  p.channel[kChannelDistortion + 2] = 100;
  p.channel[kChannelDistortion + 3] = 70;
  p.channel[kChannelDelay + 0] = 90;
  p.channel[kChannelDelay + 1] = 80;
  p.channel[kChannelDelay + 2] = 50;
  p.channel[kChannelCompressor + 0] = 2;
  p.channel[kChannelCompressor + 1] = 1;
  p.channel[kChannelCompressor + 3] = 40;
  p.channel[kChannelCompressor + 4] = 60;
  return p;
}

struct Meters {
  std::vector<float> left, right;
};

// Plays note 45 on `watched` and, when `crowd` is set, other notes on every
// other channel below 12; returns the watched channel's meters after each tick.
Meters meterRun(int watched, bool crowd, int mode, uint8_t effectOrder) {
  TestSynth synth({stripPatch(effectOrder)});
  setMeterMode(synth.state(), mode);
  for (int ch = 0; ch < 12; ++ch) {
    if (ch != watched && !crowd) continue;
    const uint8_t note = ch == watched ? 45 : static_cast<uint8_t>(50 + ch);
    synth.events({static_cast<uint8_t>(0x90 + ch), note, 110});
  }
  Meters m;
  const int tick = getTickLength(synth.state());
  for (int t = 0; t < 40; ++t) {
    synth.render(tick, tick);
    float l = 0.0f, r = 0.0f;
    EXPECT_TRUE(getChannelMeter(synth.state(), watched, &l, &r));
    m.left.push_back(l);
    m.right.push_back(r);
  }
  return m;
}

}  // namespace

// The watched channel takes each place of a register (first or second
// channel, first or last register, the batch of eight or the one after), in
// both meter modes and both strip orders.
TEST(SynthStripLanes, ChannelMetersDoNotDependOnOtherChannels) {
  for (int mode : {0, 1}) {
    for (uint8_t order : {0, 1}) {
      for (int watched : {0, 3, 6, 7, 9}) {
        const Meters alone = meterRun(watched, false, mode, order);
        const Meters among = meterRun(watched, true, mode, order);
        const std::string where =
            std::to_string(mode) + " " + std::to_string(order) + " " + std::to_string(watched);
        EXPECT_TRUE(sameBits(alone.left, among.left)) << where;
        EXPECT_TRUE(sameBits(alone.right, among.right)) << where;
        // The sides differ (with the shaper last they both saturate), so
        // swapped places would show.
        if (order == 0 || mode != 0) {
          EXPECT_FALSE(sameBits(alone.left, alone.right)) << where;
        }
        EXPECT_GT(alone.right.back(), 0.0f) << where;
      }
    }
  }
}

// A channel playing alone sounds the same from any place among the channels.
TEST(SynthStripLanes, ChannelSoundsTheSameOnAnyChannel) {
  std::vector<float> first;
  for (int ch : {0, 5, 8, 11}) {
    TestSynth synth({stripPatch(0)});
    synth.events({static_cast<uint8_t>(0x90 + ch), 45, 110});
    const std::vector<float> out = synth.render(4000, 333);
    ASSERT_GT(rms(leftOf(out)), 0.002f);
    if (first.empty()) {
      first = out;
    } else {
      EXPECT_TRUE(sameBits(first, out)) << "channel " << ch;
    }
  }
}
