// Channel strips rendered side by side: the stereo DC blockers of several
// channels in shared registers, and the strips and meters of channels that
// play together. A channel must sound and meter the same, bit for bit,
// whether it plays alone or among many others, in any register position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/patch_builder.h"
#include "synth/units/bass_boost.h"
#include "synth/units/dc_blocker.h"
#include "synth/units/distortion.h"

using namespace testpatch;

namespace {

SynthConstants constants44() {
  SynthConstants k{};
  k.sampleRate = 44100;
  k.rateScale = 1.0f;
  k.dcCoefficient = 1.0f - 126.0f / 44100.0f;
  return k;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

bool sameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

// Up to eleven blockers (a full batch of eight and a part batch, odd counts
// leaving a spare place) over odd and even frame counts.
TEST(SynthStripLanes, StereoBlockersMatchSeparateRenders) {
  const SynthConstants k = constants44();
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  for (int frames : {93, 128}) {
    for (int count = 1; count <= 11; ++count) {
      std::vector<DcBlocker> alone(count), shared(count);
      std::vector<DcBlocker*> sharedPtrs(count);
      std::vector<std::vector<float>> input(count), outShared(count);
      std::vector<float*> bufs(count);
      for (int c = 0; c < count; ++c) {
        alone[c] = DcBlocker{sample(rng), sample(rng), sample(rng), sample(rng)};
        shared[c] = alone[c];
        sharedPtrs[c] = &shared[c];
        // Different offsets per side, then a quiet tail.
        for (int i = 0; i < frames; ++i) {
          const bool loud = i < 50;
          input[c].push_back(loud ? 0.5f + sample(rng) : 1e-9f);
          input[c].push_back(loud ? -0.3f + sample(rng) : -1e-9f);
        }
        outShared[c] = input[c];
        bufs[c] = outShared[c].data();
      }
      renderStereoLanes(sharedPtrs.data(), count, bufs.data(), frames, k);
      for (int c = 0; c < count; ++c) {
        std::vector<float> outAlone(2 * frames);
        renderStereo(alone[c], input[c].data(), outAlone.data(), frames, k);
        EXPECT_TRUE(sameBits(outAlone, outShared[c])) << count << " blockers, blocker " << c;
        EXPECT_TRUE(sameBits(alone[c].lastOutLeft, shared[c].lastOutLeft));
        EXPECT_TRUE(sameBits(alone[c].lastOutRight, shared[c].lastOutRight));
        EXPECT_TRUE(sameBits(alone[c].lastInLeft, shared[c].lastInLeft));
        EXPECT_TRUE(sameBits(alone[c].lastInRight, shared[c].lastInRight));
      }
    }
  }
}

// Bass boosts of different strengths side by side, up to eleven of them.
TEST(SynthStripLanes, BassBoostsMatchSeparateRenders) {
  SynthConstants k = constants44();
  const float w = 2.0f * 3.14159265f * 150.0f / 44100.0f;
  k.bassSin = std::sin(w);
  k.bassCos = std::cos(w);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  for (int frames : {93, 128}) {
    for (int count = 1; count <= 11; ++count) {
      std::vector<BassBoost> alone(count), shared(count);
      std::vector<BassBoost*> sharedPtrs(count);
      std::vector<std::vector<float>> input(count), outShared(count);
      std::vector<float*> bufs(count);
      for (int c = 0; c < count; ++c) {
        const float strength = 10.0f + 11.0f * static_cast<float>(c);
        alone[c] = BassBoost{};
        setup(alone[c], &strength, k);
        alone[c].y1Left = 0.2f * sample(rng);
        alone[c].y1Right = 0.2f * sample(rng);
        shared[c] = alone[c];
        sharedPtrs[c] = &shared[c];
        for (int i = 0; i < 2 * frames; ++i) input[c].push_back(0.5f * sample(rng));
        outShared[c] = input[c];
        bufs[c] = outShared[c].data();
      }
      renderLanes(sharedPtrs.data(), count, bufs.data(), frames);
      for (int c = 0; c < count; ++c) {
        std::vector<float> outAlone = input[c];
        render(alone[c], outAlone.data(), frames, k);
        EXPECT_FALSE(sameBits(outAlone, input[c]));  // the boost does change the sound
        EXPECT_TRUE(sameBits(outAlone, outShared[c])) << count << " boosts, boost " << c;
        EXPECT_TRUE(sameBits(alone[c].y1Left, shared[c].y1Left));
        EXPECT_TRUE(sameBits(alone[c].y2Right, shared[c].y2Right));
        EXPECT_TRUE(sameBits(alone[c].x1Right, shared[c].x1Right));
        EXPECT_TRUE(sameBits(alone[c].x2Left, shared[c].x2Left));
      }
    }
  }
}

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
