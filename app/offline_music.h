#pragma once
// The demo's tune rendered offline, exactly as `tune render` renders it: the
// player without an audio device, fixed sample-and-hold seeds, 44,100 Hz
// stereo, 16-bit samples converted as the audio stream converts them.
#include <cstdint>
#include <memory>
#include <vector>

#include "player/playback.h"
#include "player/synth_sink.h"

struct OfflineMusic {
  std::unique_ptr<SynthSink> sink;
  std::unique_ptr<Playback> playback;
  std::vector<float> block;  // the synthesizer's samples before conversion
};

// Starts the image (which must outlive the music) at `fromMs`. False when the
// image is rejected.
bool startOfflineMusic(OfflineMusic& music, const uint8_t* image, size_t size, int32_t fromMs);

// The tune's length in frames from its start; negative when it cannot be
// measured.
int64_t tuneLengthFrames(const OfflineMusic& music);

// The first frame a start at `ms` renders, counted from the tune's start.
int64_t framesAtMs(int32_t ms);

// The next `frames` stereo frames, interleaved.
void renderPcm16(OfflineMusic& music, int16_t* out, int frames);
