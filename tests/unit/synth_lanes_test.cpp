// Lane equivalence: voices' filter chains computed side by side in lanes give
// every chain the bits it gets on its own. The other batched paths (channel
// strips and meters sharing registers, an oscillator four samples at a time)
// are held by the busy scene's hashed samples and meters.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"
#include "synth/units/filter.h"

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

TEST(LaneEquivalence, FilterChainsGiveTheBitsEachChainGivesAlone) {
  bool sounded = false;
  for (const Pair& p : filterChains()) {
    ASSERT_TRUE(sameBits(p.alone, p.batched)) << p.where;
    sounded = sounded || testsig::rmsOf(p.alone) > 1e-3;
  }
  EXPECT_TRUE(sounded);
}

}  // namespace
