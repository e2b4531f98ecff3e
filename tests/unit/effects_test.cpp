// Effects: the reverb's decay time against its decay setting. (The bass
// shelf and the modulated delay are held by the busy scene's exact samples.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "support/signals.h"
#include "synth/units/reverb.h"

namespace {

constexpr int kRate = 44100;

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
