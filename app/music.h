#pragma once
// The demo's music: the embedded tune, started once and restarted from its
// beginning whenever it has stopped playing.
#include <memory>

#include "audio/sdl_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"

struct Music {
  // Live playback: the sample-and-hold LFOs draw their seeds from the clock.
  SynthSink sink{SeedSource{SeedMode::Clock, 0}};
  SdlRingDevice device;
  Playback playback;
};

// The tune image built into the program.
const uint8_t* embeddedTune();
size_t embeddedTuneSize();

// Starts the embedded tune at 0 ms. The audio output runs on its own device,
// so the window handle is not needed on this platform.
void startMusic(Music& music, void* window);

// Restarts the tune at 0 ms when it is no longer playing.
void keepMusicPlaying(Music& music);
