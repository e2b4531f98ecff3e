#pragma once
// Playback control: starts a tune from an image in memory (measuring its
// length by running the whole sequence once without sound), restarts it at a
// position in milliseconds, reports whether it is still playing, stops it,
// and renders for the audio stream through audioCallback.
//
// The application thread calls playTune, playFromPosition, isPlaying,
// haltPlayback and stopTune; the stream's worker calls audioCallback with the
// stream lock held. Everything that resets or fast-forwards the sequencer
// (and with it the synthesizer) holds the same lock, so the synthesizer is
// never used by two threads at once.
#include <cstddef>
#include <cstdint>

#include "audio/audio_stream.h"
#include "player/sequencer.h"

// The sink and the device must outlive the Playback: its stream's worker
// uses both until the stream is closed (by stopTune or the destructor).
struct Playback {
  PlayerState player;            // its sink is set by the owner before playTune
  AudioStream stream;            // opened by playTune, closed by stopTune
  RingDevice* device = nullptr;  // where the stream plays; null: no sound at all
  // The rate playTune renders at: a device plays kStreamSampleRate; offline
  // renders (no device) may choose any rate the synthesizer serves.
  int32_t sampleRate = kDefaultSampleRate;
  TuneLength measured;  // the last measuring pass

  Playback() = default;
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;
};

// Parses and measures the image (which must outlive the playback), then opens
// the stream; the player is active but Stopped until playFromPosition. A
// stream that cannot be opened is not an error: the tune then plays nowhere.
// Returns 1 when started; 0 when the image was rejected, and then nothing
// changes (a tune already playing goes on). `why`, when given, receives the
// parser's verdict.
int playTune(Playback& pb, const uint8_t* image, size_t size, ParseResult* why = nullptr);

// Restarts the tune at `ms` (negative counts as 0): every event before the
// position reaches the synthesizer, nothing before it is rendered, and the
// first rendered frame is the one at the position. A position past the end
// leaves the player Ended (ringing out). Does nothing before playTune.
// Returns 0.
int playFromPosition(Playback& pb, int32_t ms);

// True while the sequence runs: active and Sequencing.
bool isPlaying(const Playback& pb);

// Stops sequencing (state Stopped) and waits for a callback in progress to
// finish. Nothing happens on an inactive player.
void haltPlayback(Playback& pb);

// Halts, deactivates the player and closes the stream. Nothing happens on an
// inactive player.
void stopTune(Playback& pb);

// The stream callback: context is the PlayerState.
void audioCallback(void* context, float* buffer, int frames);

// True when playTune opened the stream (a device is playing).
bool streamRunning(const Playback& pb);

// The position being heard, in frames since tick 0: the rendering position
// less what is still queued in the ring. Never negative.
int64_t heardPositionFrames(Playback& pb);
