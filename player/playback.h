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
#include "player/bar_map.h"
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
  TuneImage incoming;   // a rebuilt tune on its way in (replaceTune)

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

// Restarts the tune at the start of bar `bar` (1-based) with a fresh
// synthesizer: programs and controllers are those in force there, notes that
// sound across the bar line start with it, and the first rendered frame is
// the bar's first. Does nothing before playTune. Returns 0.
int playFromBar(Playback& pb, int64_t bar);

// Loops bars first..last (1-based, inclusive): at the end of bar `last` the
// player goes back to the start of bar `first`, on the frame where the
// sequencer puts that bar line, without stopping the synthesizer (notes held
// across the seam are ended or started there; tails ring on). 0, 0 ends the
// loop. False, leaving no loop, when the range is empty or the tune ends
// before bar `first`. It does not move the position: start at `first` with
// playFromBar.
bool setLoop(Playback& pb, int64_t firstBar, int64_t lastBar);

// Hands a rebuilt image to the player while it plays: at the first tick
// boundary from the frame being rendered, the new tune takes over on the
// audio thread and carries on from the same bar and tick (same loop bars),
// without a gap in the audio and without resetting the synthesizer. A player
// that is not sequencing takes it at once. Returns 1 when handed over; 0 when
// the image was rejected (nothing changes; `why` says why). The old image
// must stay alive until replacementPending is false; `image` from now on.
int replaceTune(Playback& pb, const uint8_t* image, size_t size, ParseResult* why = nullptr);

// The bar being rendered (about one ring length ahead of what is heard) and
// the tune's bar count, for display.
BarTick playingBar(Playback& pb, int64_t* barCount = nullptr);

// True while a tune handed over by replaceTune has not yet taken over.
bool replacementPending(Playback& pb);

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
