// The audio stream's per-visit cost: converting floats to 16-bit, one worker
// fill with a trivial client, and one fill that renders a tune through the
// player and the synthesizer. A visit every 21 ms covers about 926 frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/audio_stream.h"
#include "audio/manual_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"
#include "player/tune_writer.h"
#include "support/patch_builder.h"

namespace {

constexpr int kVisitFrames = 928;  // 21 ms at 44,100 Hz, on the 8-frame granule

void BM_ConvertRing(benchmark::State& state) {
  std::vector<float> in(kRingFrames * 2);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i % 2001) / 1000.0f - 1.0f;
  std::vector<int16_t> out(in.size());
  for (auto _ : state) {
    convertToPcm16(in.data(), out.data(), static_cast<int>(in.size()), kFullScale);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_ConvertRing);

void fillConstant(void*, float* frames, int frameCount) {
  std::fill(frames, frames + 2 * frameCount, 0.25f);
}

// The worker is kept out by holding the stream lock; the benchmark fills.
void BM_FillVisit(benchmark::State& state) {
  ManualRingDevice device;
  AudioStream stream;
  streamOpen(stream, device, fillConstant, nullptr);
  streamLock(stream);
  for (auto _ : state) {
    device.advance(kVisitFrames * kBytesPerFrame);
    streamFill(stream);
  }
  streamUnlock(stream);
  streamClose(stream);
  state.SetItemsProcessed(state.iterations() * kVisitFrames);
}
BENCHMARK(BM_FillVisit);

// Eight held sine voices: frames per second well above 44,100 leave the
// worker most of its period.
void BM_PlaybackVisit(benchmark::State& state) {
  const auto globals = testpatch::neutralGlobals();
  TuneDescription tune;
  tune.ticksPerQuarter = 128;
  tune.global.assign(globals.begin(), globals.end());
  tune.patches.push_back(PatchEntry{0, testpatch::patchBytes(testpatch::plainPatch())});
  for (int i = 0; i < 8; ++i) tune.channels[0].notes.push_back({0, uint8_t(48 + 3 * i), 100});
  tune.channels[0].notes.push_back({1 << 23, 48, 0});
  std::vector<uint8_t> image;
  std::string error;
  if (!writeTuneImage(tune, image, error)) {
    state.SkipWithError(error.c_str());
    return;
  }

  SynthSink synth;
  ManualRingDevice device;
  Playback pb;
  pb.player.sink = &synth;
  pb.device = &device;
  playTune(pb, image.data(), image.size());
  playFromPosition(pb, 0);
  streamLock(pb.stream);
  for (auto _ : state) {
    device.advance(kVisitFrames * kBytesPerFrame);
    streamFill(pb.stream);
  }
  streamUnlock(pb.stream);
  stopTune(pb);
  state.SetItemsProcessed(state.iterations() * kVisitFrames);
}
BENCHMARK(BM_PlaybackVisit);

}  // namespace
