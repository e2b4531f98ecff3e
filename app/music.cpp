#include "app/music.h"

extern const unsigned char kTuneImage[];
extern const unsigned long kTuneImage_size;

const uint8_t* embeddedTune() {
  return kTuneImage;
}
size_t embeddedTuneSize() {
  return kTuneImage_size;
}

void startMusic(Music& music, void* window) {
  music.device.setOwnerWindow(window);
  music.playback.player.sink = &music.sink;
  music.playback.device = &music.device;
  if (playTune(music.playback, embeddedTune(), embeddedTuneSize())) {
    playFromPosition(music.playback, 0);
  }
}

void keepMusicPlaying(Music& music) {
  // isPlaying is false for good when the image was rejected; playFromPosition
  // then does nothing.
  if (!isPlaying(music.playback)) playFromPosition(music.playback, 0);
}
