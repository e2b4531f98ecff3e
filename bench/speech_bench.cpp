// The speech channel over one tick: the control step (glide and resonator
// coefficients) and the formant render of 128 frames. Items are frames;
// divide items/s by 44,100 for the real-time factor of the speech channel.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "synth/speech/speech.h"

namespace {

constexpr int kTick = 128;

std::unique_ptr<SpeechRenderer> speaker(const std::string& text) {
  auto s = std::make_unique<SpeechRenderer>();
  speechInit(*s, 44100);
  speechReset(*s);
  SpeechText table[kSpeechTextCount] = {{text.c_str(), static_cast<int32_t>(text.size())}};
  speechSetTexts(*s, table);
  return s;
}

// A saw in the left channel, as the voices of channel 15 would deliver it.
std::vector<float> sawTick() {
  std::vector<float> v(2 * kTick);
  for (int i = 0; i < kTick; ++i) v[2 * i] = static_cast<float>(i % 400) / 200.0f - 1.0f;
  return v;
}

// A text that keeps changing frames, so every step glides.
const std::string kText = "kwIHk brAHUHn fAAks jAHmps OWvER DHAX lEYzIY dAOg ";

void BM_SpeechTick(benchmark::State& state) {
  const std::string text = kText;
  auto s = speaker(text);
  const std::vector<float> input = sawTick();
  std::vector<float> buffer(input.size());
  for (auto _ : state) {
    buffer = input;
    speechControlStep(*s);
    speechRender(*s, buffer.data(), kTick);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(state.iterations() * kTick);
}
BENCHMARK(BM_SpeechTick);

void BM_SpeechControlStep(benchmark::State& state) {
  const std::string text = kText;
  auto s = speaker(text);
  for (auto _ : state) {
    speechControlStep(*s);
    benchmark::DoNotOptimize(s->target);
  }
}
BENCHMARK(BM_SpeechControlStep);

}  // namespace
