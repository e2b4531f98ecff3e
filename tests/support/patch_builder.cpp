#include "support/patch_builder.h"

#include <cmath>

namespace testpatch {

Patch plainPatch() {
  Patch p{};
  p.voice.fill(0);
  p.channel.fill(0);
  p.voice[kPan] = 64;
  p.voice[kTranspose] = 64;
  for (int o = 0; o < 3; ++o) {
    p.voice[kOsc[o] + kOscTranspose] = 64;
    p.voice[kOsc[o] + kOscFine] = 64;
    p.voice[kOsc[o] + kOscColour] = 64;
  }
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Sine);
  p.voice[kOsc[0] + kOscLevel] = 128;
  p.voice[kFilterBalance] = 64;
  for (int e = 0; e < 2; ++e) {
    p.voice[kEnv[e] + kEnvSustain] = 128;
    p.voice[kEnv[e] + kEnvSlope] = 64;
    p.voice[kEnv[e] + kEnvGain] = 128;
  }
  p.channel[kVolume] = 127;
  p.channel[kChannelDelay + 0] = 64;  // wet 0: delay skipped
  p.channel[kChannelDelay + 1] = 64;  // no feedback
  p.polyphony = 8;
  return p;
}

std::vector<uint8_t> patchBytes(const Patch& p) {
  std::vector<uint8_t> out(p.voice.begin(), p.voice.end());
  out.insert(out.end(), p.channel.begin(), p.channel.end());
  out.push_back(p.polyphony);
  out.push_back(static_cast<uint8_t>(p.routes.size()));
  for (const Route& r : p.routes) {
    out.push_back(r.source);
    out.push_back(r.amount);
    out.push_back(r.destination);
  }
  return out;
}

std::vector<uint8_t> buildPatchMap(const std::vector<Patch>& patches) {
  std::vector<uint8_t> map(4 * kSynthPrograms, 0);
  std::vector<uint32_t> offsets;
  for (const Patch& p : patches) {
    offsets.push_back(static_cast<uint32_t>(map.size()));
    const std::vector<uint8_t> bytes = patchBytes(p);
    map.insert(map.end(), bytes.begin(), bytes.end());
  }
  for (int prog = 0; prog < kSynthPrograms; ++prog) {
    const uint32_t off = offsets[static_cast<size_t>(prog) < offsets.size() ? prog : 0];
    for (int b = 0; b < 4; ++b) map[4 * prog + b] = static_cast<uint8_t>(off >> (8 * b));
  }
  return map;
}

std::array<uint8_t, kGlobalParamCount> neutralGlobals() {
  std::array<uint8_t, kGlobalParamCount> g{};
  g[0] = 64;    // reverb decay
  g[1] = 64;    // damping
  g[2] = 0;     // low cut
  g[3] = 0;     // reverb level: off
  g[4] = 64;    // delay wet 0: off
  g[5] = 64;    // no feedback
  g[11] = 0;    // master low cut at its lowest
  g[12] = 127;  // high cut bypassed
  g[13] = 0;    // master compressor bypassed
  return g;
}

TestSynth::TestSynth(const std::vector<Patch>& patches, SeedSource seeds)
    : TestSynth(buildPatchMap(patches), seeds) {}

TestSynth::TestSynth(std::vector<uint8_t> patchMap, SeedSource seeds)
    : map_(std::move(patchMap)), state_(std::make_unique<SynthState>()) {
  synthInit(*state_, map_.data(), map_.size(), 44100, seeds);
  const auto g = neutralGlobals();
  setGlobalParams(*state_, g.data());
}

void TestSynth::events(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> list(bytes);
  list.push_back(0xFD);
  processEvents(*state_, list.data());
}

std::vector<float> TestSynth::render(int frames, int chunk) {
  std::vector<float> out(2 * static_cast<size_t>(frames));
  for (int done = 0; done < frames;) {
    const int n = std::min(chunk, frames - done);
    synthRender(*state_, out.data() + 2 * done, n, nullptr, false);
    done += n;
  }
  return out;
}

int TestSynth::voicesOn(int channel) {
  int counts[kSynthChannels + 1];
  getVoiceCounts(*state_, counts);
  return counts[channel];
}

int TestSynth::voicesTotal() {
  int counts[kSynthChannels + 1];
  getVoiceCounts(*state_, counts);
  return counts[kSynthChannels];
}

std::vector<float> leftOf(const std::vector<float>& interleaved) {
  std::vector<float> out(interleaved.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = interleaved[2 * i];
  return out;
}

double frequencyOf(const std::vector<float>& x, double rate) {
  double first = -1.0;
  double last = -1.0;
  int crossings = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
      const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
      if (first < 0.0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return rate * (crossings - 1) / (last - first);
}

}  // namespace testpatch
