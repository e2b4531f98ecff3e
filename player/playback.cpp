#include "player/playback.h"

#include <cmath>
#include <memory>
#include <mutex>

#include "player/bar_map.h"

namespace {

// Holds the stream lock for a scope: while held, no callback runs, so the
// application thread has the sequencer and the synthesizer to itself. Taking
// it on a closed stream is harmless (no worker contends for it).
class CallbackGuard {
 public:
  explicit CallbackGuard(AudioStream& stream) : stream_(stream) { streamLock(stream_); }
  ~CallbackGuard() { streamUnlock(stream_); }
  CallbackGuard(const CallbackGuard&) = delete;
  CallbackGuard& operator=(const CallbackGuard&) = delete;

 private:
  AudioStream& stream_;
};

bool isActive(const PlayerState& p) {
  return p.active.load() != 0;
}

// Runs the sequencer without rendering until the next tick would lie at or
// beyond `target` frames, or the tune ends. Returns the frame of the last
// tick taken; framesToNext is then the distance from it to the next tick (0
// once the tune has ended).
int64_t fastForward(PlayerState& p, double target) {
  int64_t t = 0;
  p.playState.store(PlayState::Sequencing);
  p.framesToNext = 0;
  p.remainderAccumulator = 0;
  while (static_cast<double>(t + p.framesToNext) < target &&
         p.playState.load() == PlayState::Sequencing) {
    t += p.framesToNext;
    if (!sequencerStep(p)) p.framesToNext = 0;
  }
  return t;
}

}  // namespace

int playTune(Playback& pb, const uint8_t* image, size_t size, ParseResult* why) {
  PlayerState& p = pb.player;
  // Parse into a scratch record first: a rejected image must leave the tune
  // that is playing untouched.
  TuneImage parsed;
  ParseResult result = parseTuneImage(image, size, parsed);
  if (why) *why = result;
  if (!result) return 0;

  if (isActive(p)) stopTune(pb);
  p.msPerSecond = kMsPerSecond;
  p.sampleRate = pb.sampleRate;
  p.tune = parsed;
  // A new tune starts without the old one's loop or a replacement meant for it.
  p.pendingTune.store(nullptr);
  setLoopBars(p, 0, 0);
  p.positionFrames = 0;
  resetSequencer(p);
  pb.measured = measureTune(p);

  p.playState.store(PlayState::Stopped);
  p.framesToNext = 0;
  p.remainderAccumulator = 0;
  p.active.store(1);
  if (pb.device) streamOpen(pb.stream, *pb.device, audioCallback, &p);
  return 1;
}

int playFromPosition(Playback& pb, int32_t ms) {
  PlayerState& p = pb.player;
  if (!isActive(p) || p.sampleRate == 0) return 0;
  if (ms < 0) ms = 0;

  CallbackGuard guard(pb.stream);
  haltPlayback(pb);
  resetSequencer(p);
  p.active.store(0);
  const double target = static_cast<double>(ms) * p.sampleRate / p.msPerSecond;
  const int64_t t = fastForward(p, target);
  p.positionFrames = t;
  // The frames from the target position to the next tick; negative past the
  // end, where only the ring-out is rendered.
  p.framesToNext =
      std::llrint(static_cast<double>(p.framesToNext) - (target - static_cast<double>(t)));
  p.active.store(1);
  return 0;
}

int playFromBar(Playback& pb, int64_t bar) {
  PlayerState& p = pb.player;
  if (!isActive(p) || p.sampleRate == 0) return 0;
  CallbackGuard guard(pb.stream);
  haltPlayback(pb);
  resetSequencer(p);
  p.active.store(0);
  moveSequencer(p, barStartTick(p.tune, bar));
  p.active.store(1);
  return 0;
}

bool setLoop(Playback& pb, int64_t firstBar, int64_t lastBar) {
  CallbackGuard guard(pb.stream);
  return setLoopBars(pb.player, firstBar, lastBar);
}

int replaceTune(Playback& pb, const uint8_t* image, size_t size, ParseResult* why) {
  PlayerState& p = pb.player;
  TuneImage parsed;
  ParseResult result = parseTuneImage(image, size, parsed);
  if (why) *why = result;
  if (!result) return 0;
  // Measured on a scratch player: the playing one keeps its synthesizer.
  auto scratch = std::make_unique<PlayerState>();
  scratch->tune = parsed;
  scratch->sampleRate = p.sampleRate;
  resetSequencer(*scratch);
  const TuneLength length = measureTune(*scratch);

  CallbackGuard guard(pb.stream);
  pb.measured = length;
  p.lengthMs = length.lengthMs;
  pb.incoming = parsed;
  offerTune(p, &pb.incoming);
  return 1;
}

BarTick playingBar(Playback& pb, int64_t* count) {
  CallbackGuard guard(pb.stream);
  const PlayerState& p = pb.player;
  if (count) *count = barCount(p.tune);
  return barAtTick(p.tune, p.nowTick);
}

bool replacementPending(Playback& pb) {
  CallbackGuard guard(pb.stream);
  return pb.player.pendingTune.load() != nullptr;
}

bool isPlaying(const Playback& pb) {
  return isActive(pb.player) && pb.player.playState.load() == PlayState::Sequencing;
}

void haltPlayback(Playback& pb) {
  if (!isActive(pb.player)) return;
  // Under the lock a callback already inside renderFrames has finished when
  // this returns, which the old fixed pause could not promise.
  CallbackGuard guard(pb.stream);
  pb.player.playState.store(PlayState::Stopped);
}

void stopTune(Playback& pb) {
  PlayerState& p = pb.player;
  if (!isActive(p)) return;
  {
    CallbackGuard guard(pb.stream);
    if (p.playState.load() != PlayState::Stopped) haltPlayback(pb);
    p.active.store(0);
  }
  streamClose(pb.stream);
}

void audioCallback(void* context, float* buffer, int frames) {
  renderFrames(*static_cast<PlayerState*>(context), buffer, frames);
}

bool streamRunning(const Playback& pb) {
  return pb.stream.running;
}

int64_t heardPositionFrames(Playback& pb) {
  CallbackGuard guard(pb.stream);
  int64_t position = pb.player.positionFrames;
  if (pb.stream.running) {
    const int64_t played = streamPosition(pb.stream);
    const int64_t written = int64_t(pb.stream.bytesWritten) + kRingBytes;
    if (written > played) position -= (written - played) / kBytesPerFrame;
  }
  return position < 0 ? 0 : position;
}
