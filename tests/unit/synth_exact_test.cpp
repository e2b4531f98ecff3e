// Exact samples of a busy scene: every filter type and routing, every shaper
// mode, voices starting, stealing and ending, every channel and master effect.
// Samples and meters are hashed: any rework of the render loop (fused or
// lane-parallel filters, reordered loops) must reproduce every bit of every
// sample and meter reading, at any optimisation level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"
#include "synth/units/elementary.h"

using namespace testpatch;
using testsig::allFinite;
using testsig::rmsOf;

namespace {

// FNV-1a over the bit patterns of the samples.
uint64_t hashSamples(const std::vector<float>& samples) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (float x : samples) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    for (int b = 0; b < 4; ++b) {
      h ^= (bits >> (8 * b)) & 0xffu;
      h *= 0x100000001b3ull;
    }
  }
  return h;
}

Patch withEnvelope(Patch p, uint8_t attack, uint8_t decay, uint8_t sustain, uint8_t release) {
  p.voice[kEnv[0] + kEnvAttack] = attack;
  p.voice[kEnv[0] + kEnvDecay] = decay;
  p.voice[kEnv[0] + kEnvSustain] = sustain;
  p.voice[kEnv[0] + kEnvRelease] = release;
  return p;
}

void setFilter(Patch& p, int f, uint8_t type, uint8_t cutoff, uint8_t resonance) {
  p.voice[kFilter[f] + 0] = type;
  p.voice[kFilter[f] + 1] = cutoff;
  p.voice[kFilter[f] + 2] = resonance;
}

void setShaper(Patch& p, uint8_t mode, uint8_t drive, uint8_t amount, uint8_t shape) {
  p.voice[kDistortion + 0] = mode;
  p.voice[kDistortion + 1] = drive;
  p.voice[kDistortion + 2] = amount;
  p.voice[kDistortion + 3] = shape;
}

// Serial four-pole low-pass into a band-pass, the shaper's four-pole filter
// mode after them, a sine LFO sweeping the first cutoff, a triangle LFO on a
// pulse width.
Patch leadPatch() {
  Patch p = withEnvelope(plainPatch(), 10, 40, 90, 60);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[kOsc[0] + kOscColour] = 90;
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  p.voice[kOsc[1] + kOscLevel] = 80;
  p.voice[kOsc[1] + kOscFine] = 70;
  p.voice[kOsc[2] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  p.voice[kOsc[2] + kOscLevel] = 30;
  setFilter(p, 0, 6, 70, 100);
  setFilter(p, 1, 2, 90, 40);
  p.voice[kRouting] = 1;
  setShaper(p, 10, 40, 80, 50);
  p.voice[kLfo[0] + 0] = 3;
  p.voice[kLfo[0] + 3] = 100;
  p.voice[kLfo[0] + 6] = 50;
  p.voice[kLfo[1] + 0] = 1;
  p.voice[kLfo[1] + 3] = 90;
  p.voice[kLfo[1] + 6] = 40;
  p.routes = {{kSrcLfo1, 110, static_cast<uint8_t>(kFilter[0] + 1)},
              {kSrcLfo2, 80, static_cast<uint8_t>(kOsc[1] + kOscColour)}};
  p.channel[kReverbSend] = 50;
  p.channel[kDelaySend] = 30;
  return p;
}

// Parallel four-pole high-pass and state-variable low-pass with a balance,
// saturating shaper, the second envelope on the second cutoff, polyphony 2
// with full retrigger (the third note takes over a sounding voice); channel
// delay and bass boost.
Patch padPatch() {
  Patch p = withEnvelope(plainPatch(), 30, 50, 70, 80);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::PhaseModSine);
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[kOsc[1] + kOscLevel] = 100;
  p.voice[kOsc[1] + kOscTranspose] = 76;
  setFilter(p, 0, 7, 40, 60);
  setFilter(p, 1, 1, 60, 90);
  p.voice[kRouting] = 2;
  p.voice[kFilterBalance] = 40;
  setShaper(p, 1, 70, 100, 80);
  p.voice[kRetrigger] = 2;
  p.polyphony = 2;
  p.voice[kLfo[1] + 0] = 4;  // sample and hold on the pan
  p.voice[kLfo[1] + 3] = 110;
  p.voice[kLfo[1] + 6] = 60;
  p.voice[kEnv[1] + kEnvAttack] = 40;
  p.voice[kEnv[1] + kEnvDecay] = 50;
  p.voice[kEnv[1] + kEnvSustain] = 60;
  p.voice[kEnv[1] + kEnvRelease] = 70;
  p.routes = {{kSrcLfo2, 100, kPan}, {kSrcEnv2, 90, static_cast<uint8_t>(kFilter[1] + 1)}};
  p.channel[kBassBoost] = 64;
  p.channel[kChannelDelay + 0] = 100;
  p.channel[kChannelDelay + 1] = 80;
  p.channel[kChannelDelay + 2] = 60;
  p.channel[kChannelDelay + 3] = 70;
  p.channel[kChannelDelay + 4] = 80;
  p.channel[kChannelDelay + 5] = 40;
  p.channel[kAuxSendA] = 40;
  return p;
}

// Filter type follows the key, so the voices of one channel run different
// filters (notch, peak, both four-pole kinds, off, low-pass, band-pass).
// Crushing shaper; channel compressor and a stereo four-pole channel shaper.
Patch keySplitPatch() {
  Patch p = withEnvelope(plainPatch(), 5, 30, 100, 40);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  p.voice[kOsc[0] + kOscColour] = 30;
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  p.voice[kOsc[1] + kOscLevel] = 20;
  setFilter(p, 0, 5, 75, 80);
  setShaper(p, 3, 50, 2, 3);
  p.routes = {{kSrcKey, 68, static_cast<uint8_t>(kFilter[0] + 0)}};
  p.channel[kChannelDistortion + 0] = 10;
  p.channel[kChannelDistortion + 2] = 90;
  p.channel[kChannelDistortion + 3] = 50;
  p.channel[kChannelCompressor + 0] = 2;
  p.channel[kChannelCompressor + 1] = 1;
  p.channel[kChannelCompressor + 3] = 40;
  p.channel[kChannelCompressor + 4] = 60;
  p.channel[kChannelCompressor + 5] = 64;
  p.channel[kChannelCompressor + 6] = 30;  // attack
  p.channel[kChannelCompressor + 7] = 60;  // release
  p.channel[kReverbSend] = 70;
  return p;
}

// Both four-pole kinds in series and the shaper's four-pole high-pass mode,
// polyphony 3 (notes steal), phase retrigger; an inverted delay before
// distortion, a decimating channel shaper.
Patch stealingPatch() {
  Patch p = withEnvelope(plainPatch(), 2, 60, 60, 30);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[kOsc[0] + kOscColour] = 10;
  p.voice[kOsc[2] + kOscMode] = static_cast<uint8_t>(OscMode::Sine);
  p.voice[kOsc[2] + kOscLevel] = 60;
  p.voice[kOsc[2] + kOscRing] = 1;
  setFilter(p, 0, 7, 50, 30);
  setFilter(p, 1, 6, 100, 120);
  p.voice[kRouting] = 1;
  setShaper(p, 11, 60, 30, 70);
  p.voice[kRetrigger] = 1;
  p.polyphony = 3;
  p.channel[kEffectOrder] = 1;
  p.channel[kChannelDistortion + 0] = 4;
  p.channel[kChannelDistortion + 2] = 100;
  p.channel[kChannelDelay + 0] = 30;  // inverted echo
  p.channel[kChannelDelay + 2] = 40;
  p.channel[kChannelDelay + 3] = 20;
  p.channel[kDelaySend] = 60;
  return p;
}

// Aux return, first filter off in front of a four-pole second one, clipping
// shaper with bias.
Patch auxPatch() {
  Patch p = withEnvelope(plainPatch(), 20, 40, 80, 50);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::AuxInputA);
  p.voice[kOsc[1] + kOscLevel] = 60;
  setFilter(p, 0, 0, 70, 70);
  setFilter(p, 1, 6, 80, 110);
  p.voice[kRouting] = 1;
  setShaper(p, 2, 90, 110, 90);
  p.voice[kPan] = 20;
  p.channel[kAuxReturnA] = 60;
  p.channel[kBassBoost] = 100;
  return p;
}

// Parallel notch and peak, decimating shaper; a state-variable shaper filter
// mode on the other program of the channel.
Patch notchPatch(uint8_t shaperMode) {
  Patch p = withEnvelope(plainPatch(), 1, 20, 110, 90);
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  p.voice[kOsc[0] + kOscColour] = 100;
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  p.voice[kOsc[1] + kOscColour] = 100;
  p.voice[kOsc[1] + kOscLevel] = 50;
  setFilter(p, 0, 4, 60, 50);
  setFilter(p, 1, 5, 85, 100);
  p.voice[kRouting] = 2;
  p.voice[kFilterBalance] = 90;
  setShaper(p, shaperMode, 64, 60, 40);
  p.voice[kPan] = 100;
  p.channel[kEffectOrder] = 1;
  p.channel[kChannelDistortion + 0] = 1;
  p.channel[kChannelDistortion + 1] = 50;
  p.channel[kChannelDistortion + 2] = 100;
  return p;
}

std::vector<Patch> scenePatches() {
  return {leadPatch(), padPatch(),    keySplitPatch(), stealingPatch(),
          auxPatch(),  notchPatch(4), notchPatch(7)};
}

// The high cut runs at 44,100 Hz; at 32,000 Hz its setting is exactly 1,
// which bypasses it.
std::array<uint8_t, kGlobalParamCount> sceneGlobals(int rate) {
  auto g = neutralGlobals();
  g[0] = 100;  // reverb decay
  g[2] = 40;   // reverb low cut
  g[3] = 64;   // reverb level
  g[4] = 100;  // global delay wet
  g[6] = 80;
  g[7] = 90;
  g[8] = 60;
  g[9] = 30;
  g[11] = 20;  // master low cut
  g[12] = rate == 44100 ? 100 : 127;
  g[13] = 2;  // master compressor
  g[14] = 1;
  g[16] = 100;
  g[17] = 60;
  g[18] = 90;  // ratio
  g[19] = 20;  // attack
  g[20] = 50;  // release
  return g;
}

// A synthesizer over the scene's patch map at any sample rate.
struct Scene {
  std::vector<uint8_t> map = buildPatchMap(scenePatches());
  std::unique_ptr<SynthState> state = std::make_unique<SynthState>();
  std::vector<float> out;
  std::vector<float> meters;  // every channel's and the master's, after each call

  // Peak meters at 44,100 Hz, mean square at 32,000 Hz.
  explicit Scene(int rate) {
    EXPECT_TRUE(synthInit(*state, map.data(), map.size(), rate));
    const auto g = sceneGlobals(rate);
    setGlobalParams(*state, g.data());
    setMeterMode(*state, rate == 44100 ? 0 : 1);
  }
  void events(std::vector<uint8_t> list) {
    list.push_back(0xFD);
    processEvents(*state, list.data(), list.size());
  }
  // Renders in uneven chunks so that ticks split across calls.
  void render(int frames) {
    constexpr int kChunk = 777;
    std::vector<float> part(2 * kChunk);
    while (frames > 0) {
      const int n = std::min(frames, kChunk);
      synthRender(*state, part.data(), n, nullptr, false);
      out.insert(out.end(), part.begin(), part.begin() + 2 * n);
      frames -= n;
      for (int c = 0; c <= kSynthChannels; ++c) {
        float m[2];
        if (c < kSynthChannels) {
          getChannelMeter(*state, c, &m[0], &m[1]);
        } else {
          getMasterMeter(*state, &m[0], &m[1]);
        }
        meters.insert(meters.end(), m, m + 2);
      }
    }
  }
};

// About 3.2 seconds at 44,100 Hz: chords on six channels, a program change
// under sounding notes, releases, steals, a channel's volume at 0 while its
// reverb and delay sends ring, all-notes-off (controllers 123-127) and new
// notes.
Scene playScene(int rate) {
  Scene s(rate);
  const int step = rate / 5;
  s.events({0xC0, 0, 0xC1, 1, 0xC2, 2, 0xC3, 3, 0xC4, 4, 0xC5, 5});
  s.events({0x90, 48, 100, 55, 90, 60,   110, 64,  80, 67, 100, 72,  70,  //
            0x91, 36, 100, 43, 90, 0x92, 36,  100, 50, 90, 62,  110, 75, 100, 84, 120});
  s.render(step);
  s.events({0x93, 40,  100,  47, 90,  52, 80,  59, 100, 0x94, 57, 100,
            64,   100, 0x95, 45, 120, 69, 100, 76, 90,  81,   60});
  s.render(2 * step);
  int counts[kSynthChannels + 1];
  getVoiceCounts(*s.state, counts);
  EXPECT_GE(counts[kSynthChannels], 20);  // many voices sounding side by side
  EXPECT_EQ(counts[3], 3);                // the stealing channel holds its polyphony
  s.events({0x80, 48, 0, 60, 0, 0x91, 48, 100, 0x83, 52, 0, 0xC5, 6, 0xB0, 7, 0});
  s.render(3 * step);
  s.events({0xB0, 7, 100, 0xB2, 126, 0, 0x93, 35, 127, 71, 100, 0x90, 79, 100, 0x85, 45, 0});
  s.render(2 * step);
  s.events({0x81, 36, 0, 43, 0, 48, 0, 0x84, 57, 0, 64, 0, 0x92, 55, 100, 67, 100});
  s.render(3 * step);
  s.events({0xB0, 123, 0, 0xB3, 124, 0, 0xB5, 127, 0, 0xB4, 125, 0, 0x82, 55, 0, 67, 0});
  s.render(5 * step);
  return s;
}

}  // namespace

TEST(SynthExact, BusySceneKeepsItsSamplesAt44100) {
  const Scene scene = playScene(44100);
  const std::vector<float>& out = scene.out;
  ASSERT_EQ(out.size(), 2u * 16 * 8820);
  ASSERT_TRUE(allFinite(out));
  EXPECT_GT(rmsOf(out), 0.01f);  // the scene is loud, not silence hashed
  EXPECT_EQ(hashSamples(out), 0xa55c7716534e99adull);
  EXPECT_EQ(hashSamples(scene.meters), 0xe06a3ae2ecb75420ull);
}

// 32,000 Hz: an odd tick length of 93 frames.
TEST(SynthExact, BusySceneKeepsItsSamplesAt32000) {
  const Scene scene = playScene(32000);
  ASSERT_TRUE(allFinite(scene.out));
  EXPECT_GT(rmsOf(scene.out), 0.01f);
  EXPECT_EQ(hashSamples(scene.out), 0xfffaaa218adb9f16ull);
  EXPECT_EQ(hashSamples(scene.meters), 0x86f959bd4f78e9daull);
}

// The elementary functions behind every unit's setup are correctly rounded
// (checked against the C library's double functions rounded to float), which
// is what makes the hashes above the same on every system.
TEST(SynthExact, ElementaryFunctionsAreCorrectlyRounded) {
  struct Case {
    const char* name;
    float (*mine)(float);
    double (*reference)(double);
    float low, high;
  };
  const Case cases[] = {
      {"exp2", portableExp2, [](double x) { return std::exp2(x); }, -150.0f, 128.0f},
      {"exp", portableExp, [](double x) { return std::exp(x); }, -90.0f, 89.0f},
      {"pow", [](float x) { return portablePow(0.966384590f, x); },
       [](double x) { return std::pow(static_cast<double>(0.966384590f), x); }, 0.0f, 4096.0f},
      {"pow base", [](float x) { return portablePow(x, 1.37f); },
       [](double x) { return std::pow(x, static_cast<double>(1.37f)); }, 0.0f, 1000.0f},
      {"atan", portableAtan, [](double x) { return std::atan(x); }, -40.0f, 40.0f},
      {"sin", portableSin, [](double x) { return std::sin(x); }, -100.0f, 100.0f},
      {"cos", portableCos, [](double x) { return std::cos(x); }, -100.0f, 100.0f},
  };
  constexpr int kSteps = 50000;
  for (const Case& c : cases) {
    int wrong = 0;
    for (int i = 0; i <= kSteps; ++i) {
      const float x = c.low + (c.high - c.low) * static_cast<float>(i) / kSteps;
      const float expected = static_cast<float>(c.reference(x));
      const float got = c.mine(x);
      if (std::memcmp(&expected, &got, sizeof got) != 0) ++wrong;
    }
    EXPECT_EQ(wrong, 0) << c.name;
  }
  EXPECT_EQ(portablePow(0.0f, 2.0f), 0.0f);
  EXPECT_EQ(portablePow(5.0f, 0.0f), 1.0f);
  EXPECT_TRUE(std::isnan(portablePow(-1.0f, 2.0f)));
  EXPECT_EQ(portableExp2(200.0f), std::numeric_limits<float>::infinity());
  EXPECT_EQ(portableExp2(-200.0f), 0.0f);
  EXPECT_FLOAT_EQ(portableAtan(std::numeric_limits<float>::infinity()), 1.5707964f);
  EXPECT_TRUE(std::isnan(portableSin(std::numeric_limits<float>::infinity())));
}
