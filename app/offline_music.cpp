#include "app/offline_music.h"

#include <cmath>

bool startOfflineMusic(OfflineMusic& music, const uint8_t* image, size_t size, int32_t fromMs) {
  music.sink = std::make_unique<SynthSink>(kDefaultSeeds);
  music.playback = std::make_unique<Playback>();
  music.playback->player.sink = music.sink.get();
  if (!playTune(*music.playback, image, size)) return false;
  playFromPosition(*music.playback, fromMs);
  return true;
}

int64_t tuneLengthFrames(const OfflineMusic& music) {
  return music.playback->measured.ok ? music.playback->measured.frames : -1;
}

int64_t framesAtMs(int32_t ms) {
  return std::llround(double(ms) * kDefaultSampleRate / kMsPerSecond);
}

void renderPcm16(OfflineMusic& music, int16_t* out, int frames) {
  music.block.resize(2 * static_cast<size_t>(frames));
  renderFrames(music.playback->player, music.block.data(), frames);
  convertToPcm16(music.block.data(), out, 2 * frames, kFullScale);
}
