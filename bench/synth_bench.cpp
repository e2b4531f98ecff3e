// synthRender under load, reported as a real-time factor: seconds of audio
// rendered per second of wall-clock time ("realtime" counter).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "support/patch_builder.h"

using namespace testpatch;

namespace {

constexpr int kBlockFrames = 1024;
constexpr double kRate = 44100.0;

enum class Load { Oscillators, FiltersAndShaper, Everything };

// Three oscillators in the costliest modes: band-averaged shapes, filtered
// noise and the phase-modulated sine. The envelope holds for the whole run.
Patch voicePatch(Load load, bool pulse) {
  Patch p = plainPatch();
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(pulse ? OscMode::Pulse : OscMode::TriSaw);
  p.voice[kOsc[0] + kOscColour] = 90;
  p.voice[kOsc[1] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  p.voice[kOsc[1] + kOscColour] = 70;
  p.voice[kOsc[1] + kOscLevel] = 40;
  p.voice[kOsc[2] + kOscMode] = static_cast<uint8_t>(OscMode::PhaseModSine);
  p.voice[kOsc[2] + kOscLevel] = 100;
  p.voice[kLfo[0] + 0] = 3;  // an LFO moving the pulse width: setup work every tick
  p.voice[kLfo[0] + 3] = 90;
  p.voice[kLfo[0] + 6] = 30;
  p.routes = {{kSrcLfo1, 96, static_cast<uint8_t>(kOsc[0] + kOscColour)}};
  p.polyphony = 64;
  if (load != Load::Oscillators) {
    for (int f = 0; f < 2; ++f) {
      p.voice[kFilter[f] + 0] = 6;  // four-pole low-pass
      p.voice[kFilter[f] + 1] = 70;
      p.voice[kFilter[f] + 2] = 60;
    }
    p.voice[kRouting] = 1;          // serial
    p.voice[kDistortion + 0] = 10;  // four-pole filter mode
    p.voice[kDistortion + 2] = 90;
    p.voice[kDistortion + 3] = 40;
  }
  if (load == Load::Everything) {
    p.channel[kAuxSendA] = 20;
    p.channel[kAuxReturnA] = 20;
    p.channel[kReverbSend] = 60;
    p.channel[kDelaySend] = 40;
    p.channel[kBassBoost] = 64;
    p.channel[kChannelDistortion + 0] = 10;
    p.channel[kChannelDistortion + 2] = 100;
    p.channel[kChannelDelay + 0] = 96;  // wet
    p.channel[kChannelDelay + 2] = 60;  // delays
    p.channel[kChannelDelay + 3] = 70;
    p.channel[kChannelDelay + 4] = 80;        // LFO rate
    p.channel[kChannelDelay + 5] = 40;        // depth
    p.channel[kChannelCompressor + 0] = 2;    // RMS detector
    p.channel[kChannelCompressor + 1] = 1;    // per side
    p.channel[kChannelCompressor + 3] = 100;  // lookahead, ms
    p.channel[kChannelCompressor + 4] = 60;
    p.channel[kChannelCompressor + 5] = 64;
  }
  return p;
}

std::array<uint8_t, kGlobalParamCount> globals(Load load) {
  auto g = neutralGlobals();
  if (load == Load::Everything) {
    g[0] = 100;  // reverb decay
    g[3] = 64;   // reverb level
    g[4] = 100;  // global delay wet
    g[6] = 80;
    g[7] = 90;
    g[8] = 60;
    g[9] = 30;
    g[12] = 100;  // high cut in use
    g[13] = 2;    // master compressor: RMS, per side, lookahead
    g[14] = 1;
    g[16] = 100;
    g[17] = 60;
  }
  return g;
}

void renderLoad(benchmark::State& state, Load load) {
  const int channels = load == Load::Everything ? kSynthChannels : 8;
  TestSynth t({voicePatch(load, false), voicePatch(load, true)});
  SynthState& s = t.state();
  const auto g = globals(load);
  setGlobalParams(s, g.data());
  // 64 voices spread over the channels, alternating the two patches.
  for (int v = 0; v < kSynthVoices; ++v) {
    const uint8_t ch = static_cast<uint8_t>(v % channels);
    const uint8_t program = static_cast<uint8_t>((v / channels) % 2);
    const uint8_t note = static_cast<uint8_t>(36 + (v * 7) % 48);
    const uint8_t list[] = {
        static_cast<uint8_t>(0xC0 | ch), program, static_cast<uint8_t>(0x90 | ch), note, 100, 0xFD};
    if (v < channels)
      processEvents(s, list);
    else
      processEvents(s, list + 2);  // program already set
  }
  std::vector<float> out(2 * kBlockFrames);
  for (auto _ : state) {
    synthRender(s, out.data(), kBlockFrames, nullptr, false);
    benchmark::DoNotOptimize(out.data());
  }
  if (t.voicesTotal() != kSynthVoices) state.SkipWithError("voices ended during the run");
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlockFrames / kRate, benchmark::Counter::kIsRate);
}

void BM_Voices64ThreeOscillators(benchmark::State& state) {
  renderLoad(state, Load::Oscillators);
}
void BM_Voices64FourPoleFiltersAndShaper(benchmark::State& state) {
  renderLoad(state, Load::FiltersAndShaper);
}
void BM_Voices64Channels16EveryUnit(benchmark::State& state) {
  renderLoad(state, Load::Everything);
}

// Twelve channels of one plain voice each, every strip unit on and no aux
// bus: the cost of the channel strips, sends and meters rather than of the
// voices.
Patch stripPatch(uint8_t effectOrder) {
  Patch p = plainPatch();
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.channel[kEffectOrder] = effectOrder;
  p.channel[kReverbSend] = 40;
  p.channel[kDelaySend] = 30;
  p.channel[kBassBoost] = 40;
  p.channel[kChannelDistortion + 0] = 1;  // saturate
  p.channel[kChannelDistortion + 1] = 40;
  p.channel[kChannelDistortion + 2] = 100;
  p.channel[kChannelDelay + 0] = 90;
  p.channel[kChannelDelay + 2] = 50;
  p.channel[kChannelDelay + 3] = 60;
  p.channel[kChannelCompressor + 0] = 2;
  p.channel[kChannelCompressor + 1] = 1;
  p.channel[kChannelCompressor + 4] = 60;
  return p;
}

void BM_Channels12StripsOneVoiceEach(benchmark::State& state) {
  constexpr int kChannels = 12;
  TestSynth t({stripPatch(0), stripPatch(1)});
  SynthState& s = t.state();
  const auto g = globals(Load::Everything);
  setGlobalParams(s, g.data());
  for (int ch = 0; ch < kChannels; ++ch) {
    const uint8_t list[] = {static_cast<uint8_t>(0xC0 | ch),
                            static_cast<uint8_t>(ch % 2),
                            static_cast<uint8_t>(0x90 | ch),
                            static_cast<uint8_t>(40 + 3 * ch),
                            100,
                            0xFD};
    processEvents(s, list);
  }
  std::vector<float> out(2 * kBlockFrames);
  for (auto _ : state) {
    synthRender(s, out.data(), kBlockFrames, nullptr, false);
    benchmark::DoNotOptimize(out.data());
  }
  if (t.voicesTotal() != kChannels) state.SkipWithError("voices ended during the run");
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlockFrames / kRate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Voices64ThreeOscillators)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Voices64FourPoleFiltersAndShaper)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Voices64Channels16EveryUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Channels12StripsOneVoiceEach)->Unit(benchmark::kMillisecond);
