#pragma once
// The demo's music: the embedded tune, started once and restarted from its
// beginning whenever it has stopped playing.

struct Music {
  bool started = false;
};

// Starts the embedded tune at 0 ms; `window` is the native handle the audio
// output may attach to.
void startMusic(Music& music, void* window);

// Restarts the tune at 0 ms when it is no longer playing.
void keepMusicPlaying(Music& music);
