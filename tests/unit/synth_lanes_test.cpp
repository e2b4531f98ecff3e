// Lane equivalence: whatever the synthesizer computes side by side - voices'
// filter chains in lanes, channel strips and meters sharing registers, an
// oscillator four samples at a time - gives every unit the bits it gets on
// its own. One check, one case per batched path.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"
#include "synth/units/filter.h"
#include "synth/units/oscillator.h"

using namespace testpatch;

namespace {

using testsig::sameBits;

// The same unit's output rendered on its own and rendered in a batch.
struct Pair {
  std::vector<float> alone, batched;
  std::string where;
};

// A filter type of the given step kind: 1..5 (state-variable, different
// outputs), 6 or 14 (four-pole low-pass), 7 or 15 (four-pole high-pass), 0
// or 8 (off).
float typeOfKind(int kind, std::mt19937& rng) {
  const int pick = static_cast<int>(rng() % 5);
  switch (kind) {
    case 0:
      return pick % 2 ? 8.0f : 0.0f;
    case 1:
      return static_cast<float>(1 + pick);
    case 2:
      return pick % 2 ? 14.0f : 6.0f;
    default:
      return pick % 2 ? 15.0f : 7.0f;
  }
}

// Random chains of matching kinds in any number of lanes: outputs within a
// kind mixed, Off stages in different places, loud input that drives the
// saturation, running states, block lengths that leave a remainder. The
// second block runs each chain alone: the states must carry on identically.
std::vector<Pair> filterChains() {
  std::mt19937 rng(2016);
  std::uniform_real_distribution<float> param(0.0f, 128.0f);
  std::uniform_real_distribution<float> sample(-4.0f, 4.0f);
  const SynthConstants k = testsig::constantsAt(44100);
  std::vector<Pair> pairs;
  for (int trial = 0; trial < 80; ++trial) {
    const int lanes = 1 + trial % kMaxLaneVoices;
    const int stageKinds = 1 + static_cast<int>(rng() % kMaxSerialFilters);
    int kinds[kMaxSerialFilters];
    for (int st = 0; st < stageKinds; ++st) kinds[st] = 1 + static_cast<int>(rng() % 3);
    const int count = trial % 3 == 0 ? 93 : 128 + trial % 4;

    Filter alone[kMaxLaneVoices][kMaxSerialFilters];
    Filter shared[kMaxLaneVoices][kMaxSerialFilters];
    Filter* aloneChains[kMaxLaneVoices][kMaxSerialFilters];
    Filter* sharedChains[kMaxLaneVoices][kMaxSerialFilters];
    int stageCounts[kMaxLaneVoices];
    float* bufs[kMaxLaneVoices];
    const size_t first = pairs.size();
    for (int l = 0; l < lanes; ++l) {
      const bool offFirst = stageKinds < kMaxSerialFilters && (trial + l) % 3 == 0;
      int n = 0;
      if (offFirst) {
        const float t[3] = {typeOfKind(0, rng), param(rng), param(rng)};
        alone[l][n] = Filter{};
        setup(alone[l][n++], t, k);
      }
      for (int st = 0; st < stageKinds; ++st) {
        const float t[3] = {typeOfKind(kinds[st], rng), param(rng), param(rng)};
        alone[l][n] = Filter{};
        setup(alone[l][n], t, k);
        alone[l][n].y2 = sample(rng) * 0.1f;
        alone[l][n++].band = sample(rng) * 0.1f;
      }
      stageCounts[l] = n;
      for (int st = 0; st < n; ++st) {
        shared[l][st] = alone[l][st];
        aloneChains[l][st] = &alone[l][st];
        sharedChains[l][st] = &shared[l][st];
      }
      Pair p;
      for (int i = 0; i < count; ++i) p.alone.push_back(sample(rng) * (i % 7 == 0 ? 8.0f : 1.0f));
      p.batched = p.alone;
      p.where = "filter chains, trial " + std::to_string(trial) + " lane " + std::to_string(l);
      pairs.push_back(p);
    }
    for (int l = 0; l < lanes; ++l) {
      Pair& p = pairs[first + l];
      bufs[l] = p.batched.data();
      renderSerial(aloneChains[l], stageCounts[l], p.alone.data(), count);
    }
    renderSerialLanes(sharedChains, stageCounts, lanes, bufs, count);
    for (int l = 0; l < lanes; ++l) {
      Pair& p = pairs[first + l];
      std::vector<float> next(count, 0.25f);
      p.alone.insert(p.alone.end(), next.begin(), next.end());
      p.batched.insert(p.batched.end(), next.begin(), next.end());
      renderSerial(aloneChains[l], stageCounts[l], p.alone.data() + count, count);
      renderSerial(sharedChains[l], stageCounts[l], p.batched.data() + count, count);
    }
  }
  return pairs;
}

// Panned left, through every strip unit: compressor, bass boost, saturating
// channel shaper and the channel delay, in the given order.
Patch stripPatch(uint8_t effectOrder) {
  Patch p = plainPatch();
  p.voice[kPan] = 16;
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.channel[kEffectOrder] = effectOrder;
  p.channel[kBassBoost] = 50;
  const uint8_t shaper[] = {1, 16, 100, 70};
  const uint8_t delay[] = {90, 80, 50};
  const uint8_t compressor[] = {2, 1, 0, 40, 60};
  std::copy(std::begin(shaper), std::end(shaper), p.channel.begin() + kChannelDistortion);
  std::copy(std::begin(delay), std::end(delay), p.channel.begin() + kChannelDelay);
  std::copy(std::begin(compressor), std::end(compressor), p.channel.begin() + kChannelCompressor);
  return p;
}

// Note 45 on `watched` and, when `crowd` is set, other notes on every other
// channel below 12: the watched channel's meters (left, right) after each
// tick, then, playing alone, its sound.
std::vector<float> stripRun(int watched, bool crowd, int meterMode, uint8_t effectOrder) {
  TestSynth synth({stripPatch(effectOrder)});
  setMeterMode(synth.state(), meterMode);
  for (int ch = 0; ch < 12; ++ch) {
    if (ch != watched && !crowd) continue;
    const uint8_t note = ch == watched ? 45 : static_cast<uint8_t>(50 + ch);
    synth.events({static_cast<uint8_t>(0x90 + ch), note, 110});
  }
  std::vector<float> out;
  const int tick = getTickLength(synth.state());
  for (int t = 0; t < 40; ++t) {
    synth.render(tick, tick);
    float l = 0.0f, r = 0.0f;
    getChannelMeter(synth.state(), watched, &l, &r);
    out.push_back(l);
    out.push_back(r);
  }
  if (!crowd) {
    const std::vector<float> sound = synth.render(4000, 333);
    out.insert(out.end(), sound.begin(), sound.end());
  }
  return out;
}

// The watched channel alone and among eleven others, in each place of a
// register (first or second channel, first or last register, the batch of
// eight or the one after), both meter modes and both strip orders; and
// alone on channel 0 against alone on other channels.
std::vector<Pair> channelStrips() {
  std::vector<Pair> pairs;
  for (int mode : {0, 1}) {
    for (uint8_t order : {0, 1}) {
      const std::vector<float> onFirst = stripRun(0, false, mode, order);
      for (int watched : {0, 3, 6, 7, 9, 11}) {
        const std::string where = "strips, meter mode " + std::to_string(mode) + " order " +
                                  std::to_string(order) + " channel " + std::to_string(watched);
        std::vector<float> alone = stripRun(watched, false, mode, order);
        const std::vector<float> among = stripRun(watched, true, mode, order);
        pairs.push_back({std::vector<float>(alone.begin(), alone.begin() + 80), among, where});
        pairs.push_back({onFirst, alone, where + " against channel 0"});
      }
    }
  }
  return pairs;
}

// Every mode, added or ringed, across pitches and colours from a slow sweep
// to the half-cycle step: a block rendered at once against the same block
// rendered one sample per call, then the next samples (which show the state
// each left behind).
std::vector<Pair> oscillatorBlocks() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> spread(-1.5f, 1.5f);
  std::vector<float> busA(2 * kMaxTickFrames), busB(2 * kMaxTickFrames);
  for (float& v : busA) v = spread(rng);
  for (float& v : busB) v = spread(rng);
  const SynthConstants k = testsig::constantsAt(44100);
  const float shapes[][2] = {{36, 64},  {60, 1},  {60, 127}, {60, 0},    {60, 128},
                             {96, 100}, {120, 5}, {135, 3},  {140, 125}, {190, 64}};
  std::vector<Pair> pairs;
  for (int mode = 0; mode < 8; ++mode) {
    for (int ring = 0; ring < 2; ++ring) {
      for (const auto& shape : shapes) {
        Oscillator block{};
        reset(block, 0);
        block.pitch = shape[0];
        const float p[6] = {float(mode), float(ring), 60, 64, shape[1], 90};
        setup(block, p, k);
        block.phase = rng();
        Oscillator single = block;
        for (int n : {128, 1, 3, 4, 5, 127, 140, 280}) {
          Pair pair;
          pair.alone.resize(n + 5);
          for (float& v : pair.alone) v = spread(rng) * (mode == 5 ? 40.0f : 1.0f);
          pair.batched = pair.alone;
          render(block, pair.batched.data(), n, busA.data(), busB.data());
          for (int i = 0; i < n; ++i)
            render(single, &pair.alone[i], 1, busA.data() + 2 * i, busB.data() + 2 * i);
          for (int i = n; i < n + 5; ++i) {
            render(block, &pair.batched[i], 1, busA.data(), busB.data());
            render(single, &pair.alone[i], 1, busA.data(), busB.data());
          }
          pair.where = "oscillator mode " + std::to_string(mode) + " ring " + std::to_string(ring) +
                       " pitch " + std::to_string(shape[0]) + " size " + std::to_string(n);
          pairs.push_back(pair);
        }
      }
    }
  }
  return pairs;
}

struct LaneCase {
  const char* name;
  std::vector<Pair> (*run)();
};

class LaneEquivalence : public testing::TestWithParam<LaneCase> {};

TEST_P(LaneEquivalence, BatchedUnitsGiveTheBitsTheyGiveAlone) {
  const std::vector<Pair> pairs = GetParam().run();
  bool sounded = false;
  for (const Pair& p : pairs) {
    ASSERT_TRUE(sameBits(p.alone, p.batched)) << p.where;
    sounded = sounded || testsig::rmsOf(p.alone) > 1e-3;
  }
  EXPECT_TRUE(sounded);
}

INSTANTIATE_TEST_SUITE_P(Synth, LaneEquivalence,
                         testing::Values(LaneCase{"FilterChains", filterChains},
                                         LaneCase{"ChannelStrips", channelStrips},
                                         LaneCase{"OscillatorBlocks", oscillatorBlocks}),
                         [](const testing::TestParamInfo<LaneCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
