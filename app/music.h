#pragma once
// The demo's music: the embedded tune, started once and restarted from its
// beginning whenever it has stopped playing.
#include <memory>

#include "audio/system_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"

struct Music {
  // Live playback: the sample-and-hold LFOs draw their seeds from the clock.
  SynthSink sink{SeedSource{SeedMode::Clock, 0}};
  SystemRingDevice device;
  Playback playback;
};

// The tune image built into the program.
const uint8_t* embeddedTune();
size_t embeddedTuneSize();

// Starts the embedded tune at 0 ms. `window` is the system handle of the
// window the sound belongs to: DirectSound ties its output to a window, SDL's
// output needs none.
void startMusic(Music& music, void* window);

// Restarts the tune at 0 ms when it is no longer playing.
void keepMusicPlaying(Music& music);
