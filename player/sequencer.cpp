#include "player/sequencer.h"

#include <cmath>
#include <cstring>

#include "player/bar_map.h"

namespace {

constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kPitchBend = 0xE0;
constexpr int kMaxMessageBytes = 3;
constexpr int32_t kSampleRateScale = 100;  // tickScale = micros * (sampleRate / 100)
constexpr int32_t kDefaultTickScaleFactor = kDefaultMicrosPerQuarter / kSampleRateScale;
constexpr uint64_t kMaxFrameDistance = 0xFFFFFFFFull;
constexpr int kVolumeController = 7;   // not cleared by a program change
constexpr uint8_t kStartVolume = 127;  // controller 7 of a sink that has just started

// Column 3 (and 4) of the current record hold the value increments.
uint8_t column(const ListCursor& c, int k) {
  return c.read[k * c.count];
}

void rewind(ListCursor& c, const EventList& list, int64_t& nextTick) {
  c.read = list.data;
  c.count = list.count;
  c.index = 0;
  c.value[0] = c.value[1] = 0;
  c.dueTick = 0;
  if (c.count > 0) {
    c.dueTick = readDelta(c.read, c.count);
    // At reset a due tick of 0 is a candidate too.
    if (nextTick < 0 || c.dueTick < nextTick) nextTick = c.dueTick;
  }
}

bool dueNow(const ListCursor& c, int64_t nowTick) {
  return c.index < c.count && c.dueTick == nowTick;
}

// Moves to the next record; a delta of 0 leaves the record due at nowTick.
void advance(ListCursor& c, int64_t nowTick) {
  c.lastTick = nowTick;
  ++c.index;
  ++c.read;
  if (c.index < c.count) {
    const int32_t delta = readDelta(c.read, c.count);
    if (delta > 0) c.dueTick = nowTick + delta;
  }
}

// A pending due tick of 0 never competes: nowTick never returns to 0.
void offerNextTick(int64_t dueTick, bool pending, int64_t& nextTick) {
  if (pending && dueTick > 0 && (nextTick < 0 || dueTick < nextTick)) nextTick = dueTick;
}

void offerNextTick(const ListCursor& c, int64_t& nextTick) {
  offerNextTick(c.dueTick, c.index < c.count, nextTick);
}

// Writes one tick's messages. When a message would not fit, the full list is
// handed over and the tick continues in a fresh list that starts with a
// status byte, so no message is ever dropped.
struct EventWriter {
  PlayerState& p;

  void flush() {
    p.eventList[p.eventLength] = kEventListEnd;
    if (p.sink && !p.seeking) p.sink->processEvents(p.eventList);
    p.eventLength = 0;
    p.lastStatus = 0;
  }

  void emit(uint8_t status, const uint8_t* data, int dataBytes) {
    if (p.eventLength + kMaxMessageBytes + 1 > kEventListCapacity) flush();
    if (status != p.lastStatus) {
      p.eventList[p.eventLength++] = status;
      p.lastStatus = status;
    }
    for (int i = 0; i < dataBytes; ++i) p.eventList[p.eventLength++] = data[i];
  }
};

void playChannel(PlayerState& p, EventWriter& w, int channel, int64_t& nextTick) {
  ChannelCursor& cc = p.channels[channel];
  const int64_t now = p.nowTick;

  // Per channel: program change, controllers 1..7, pitch bend, then notes.
  ListCursor& prog = cc.programs;
  if (dueNow(prog, now)) {
    prog.value[0] = uint8_t(prog.value[0] + column(prog, 3));
    w.emit(uint8_t(kProgramChange + channel), prog.value, 1);
    advance(prog, now);
  }
  offerNextTick(prog, nextTick);

  for (int k = 0; k < kControllerListCount; ++k) {
    ListCursor& ctl = cc.controllers[k];
    if (dueNow(ctl, now)) {
      ctl.value[0] = uint8_t(ctl.value[0] + column(ctl, 3));
      const uint8_t data[2] = {uint8_t(k + 1), ctl.value[0]};
      w.emit(uint8_t(kControlChange + channel), data, 2);
      advance(ctl, now);
    }
    offerNextTick(ctl, nextTick);
  }

  ListCursor& bend = cc.bends;
  if (dueNow(bend, now)) {
    bend.value[0] = uint8_t(bend.value[0] + column(bend, 3));
    bend.value[1] = uint8_t(bend.value[1] + column(bend, 4));
    w.emit(uint8_t(kPitchBend + channel), bend.value, 2);
    advance(bend, now);
  }
  offerNextTick(bend, nextTick);

  // Only the note list delivers several records in one tick: a chord.
  ListCursor& notes = cc.notes;
  while (dueNow(notes, now)) {
    notes.value[0] = uint8_t(notes.value[0] + column(notes, 3));
    notes.value[1] = uint8_t(notes.value[1] + column(notes, 4));
    p.held.velocity[channel][notes.value[0] & 0x7F] = notes.value[1];
    w.emit(uint8_t(kNoteOn + channel), notes.value, 2);
    advance(notes, now);
  }
  offerNextTick(notes, nextTick);
}

void applyTempo(PlayerState& p, int64_t& nextTick) {
  const EventList& tempo = p.tune.tempo;
  if (p.tempoIndex < tempo.count && p.nowTick == p.tempoDueTick) {
    const TempoRecord t = readTempoRecord(tempo, p.tempoIndex);
    p.tickScale = uint64_t(t.microsPerQuarter) * uint64_t(p.sampleRate / kSampleRateScale);
    p.metreNumerator = t.metreNumerator;
    p.metreDenominator = t.metreDenominator;
    p.metreAux = t.metreAux;
    ++p.tempoIndex;
    if (p.tempoIndex < tempo.count) {
      const int32_t delta = readDelta(tempo.data + p.tempoIndex, tempo.count);
      if (delta > 0) p.tempoDueTick = p.nowTick + delta;
    }
  }
  offerNextTick(p.tempoDueTick, p.tempoIndex < tempo.count, nextTick);
}

// Bar, beat and tick within the beat, counted with the metre in force before
// this tick. The parser guarantees a non-zero denominator and bar length.
void advanceMusicalPosition(PlayerState& p, int64_t ticks) {
  if (ticks <= 0 || p.tune.ticksPerQuarter < 1 || p.metreDenominator < 1) return;
  p.beatTick += ticks;
  const int64_t beats = p.beatTick / p.tune.ticksPerQuarter;
  p.beatTick -= beats * p.tune.ticksPerQuarter;
  const int32_t beatsPerBar = p.metreNumerator * 4 / p.metreDenominator;
  if (beatsPerBar < 1) return;
  const int64_t beat = p.beat + beats;
  p.bar += beat / beatsPerBar;
  p.beat = int32_t(beat % beatsPerBar);
}

// Every list back to its first record, the default tempo and metre, nothing
// held; the sink is not told.
void rewindSequencer(PlayerState& p) {
  p.nowTick = 0;
  p.nextTick = -1;
  p.tempoIndex = 0;
  p.tempoDueTick = 0;
  if (p.tune.tempo.count > 0) {
    p.tempoDueTick = readDelta(p.tune.tempo.data, p.tune.tempo.count);
    if (p.nextTick < 0 || p.tempoDueTick < p.nextTick) p.nextTick = p.tempoDueTick;
  }
  for (int ch = 0; ch < kChannelCount; ++ch) {
    ChannelCursor& cc = p.channels[ch];
    const ChannelLists& lists = p.tune.channels[ch];
    cc = ChannelCursor{};
    if (lists.notes.count == 0) continue;  // such a channel is skipped entirely
    rewind(cc.notes, lists.notes, p.nextTick);
    rewind(cc.programs, lists.programs, p.nextTick);
    rewind(cc.bends, lists.bends, p.nextTick);
    for (int k = 0; k < kControllerListCount; ++k)
      rewind(cc.controllers[k], lists.controllers[k], p.nextTick);
  }
  p.tickScale = uint64_t(p.sampleRate) * kDefaultTickScaleFactor;
  p.metreNumerator = 4;
  p.metreDenominator = 4;
  p.metreAux = 8;
  p.bar = 0;
  p.beat = 0;
  p.beatTick = 0;
  p.remainderAccumulator = 0;
  p.overflowTick = -1;
  p.eventLength = 0;
  p.lastStatus = 0;
  p.held = HeldNotes{};
  p.nowRemainder = 0;
  p.gapFrames = 0;
  p.stopTick = -1;
}

// Frames from nowTick to `tick` (nowTick <= tick <= nextTick) at the tempo in
// force, counted as framesToNextEvent counts them: the frame of every tick is
// the whole product since the first tick divided once, so a countdown may end
// at any tick of the gap, exactly where the sequencer puts that tick.
int64_t framesToTick(const PlayerState& p, int64_t tick) {
  const uint64_t ticks = tick > p.nowTick ? uint64_t(tick - p.nowTick) : 0;
  const uint64_t divisor = p.tune.tickDivisor > 0 ? uint64_t(p.tune.tickDivisor) : 1;
  return int64_t((p.nowRemainder + ticks * p.tickScale) / divisor);
}

// The first tick at or after the current frame of the countdown, and no later
// than where the countdown ends.
int64_t tickAtCurrentFrame(const PlayerState& p) {
  const int64_t end = p.stopTick >= 0 ? p.stopTick : p.nextTick;
  const int64_t elapsed = p.gapFrames - p.framesToNext;
  if (end <= p.nowTick || elapsed <= 0 || p.tickScale == 0)
    return end < p.nowTick ? p.nowTick : end;
  const uint64_t divisor = uint64_t(p.tune.tickDivisor);
  const uint64_t need = uint64_t(elapsed) * divisor;
  const uint64_t product = need > p.nowRemainder ? need - p.nowRemainder : 0;
  const int64_t tick = p.nowTick + int64_t((product + p.tickScale - 1) / p.tickScale);
  return tick < end ? tick : end;
}

bool looping(const PlayerState& p) {
  return p.loopFirstBar > 0 && p.loopEndTick > p.loopStartTick;
}

// Ends the countdown at `tick` (nowTick <= tick <= nextTick) instead.
void stopAt(PlayerState& p, int64_t tick) {
  const int64_t elapsed = p.gapFrames - p.framesToNext;
  int64_t left = framesToTick(p, tick) - elapsed;
  if (left < 0) left = 0;
  p.stopTick = tick;
  p.framesToNext = left;
  p.gapFrames = elapsed + left;
}

// After a step or a seek: when the loop's end comes before the next tick,
// the countdown ends there instead.
void aimAtLoopEnd(PlayerState& p) {
  if (!looping(p) || p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing) return;
  if (p.nextTick >= 0 && p.nextTick < p.loopEndTick) return;
  stopAt(p, p.loopEndTick);
}

// Writes one channel's state in force after a seek: program, controllers and
// bend. A controller the tune has not set yet goes back to its value at the
// start (so a loop does not carry a value set later in it back to its start);
// one set before the last program change is left to that change, which
// clears controllers 1..6 again.
void writeChannelState(PlayerState& p, EventWriter& w, int channel) {
  const ChannelCursor& cc = p.channels[channel];
  const int64_t programTick = cc.programs.lastTick;
  if (programTick >= 0) w.emit(uint8_t(kProgramChange + channel), cc.programs.value, 1);
  for (int k = 0; k < kControllerListCount; ++k) {
    const ListCursor& ctl = cc.controllers[k];
    if (ctl.count == 0) continue;
    const int controller = k + 1;
    uint8_t value = ctl.value[0];
    if (ctl.lastTick < 0) {
      value = controller == kVolumeController ? kStartVolume : 0;
    } else if (controller != kVolumeController && ctl.lastTick < programTick) {
      continue;
    }
    const uint8_t data[2] = {uint8_t(controller), value};
    w.emit(uint8_t(kControlChange + channel), data, 2);
  }
  if (cc.bends.lastTick >= 0) w.emit(uint8_t(kPitchBend + channel), cc.bends.value, 2);
}

void writeNoteChanges(PlayerState& p, EventWriter& w, const HeldNotes& before) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    for (int note = 0; note < kNoteCount; ++note) {
      if (before.velocity[ch][note] == 0 || p.held.velocity[ch][note] != 0) continue;
      const uint8_t data[2] = {uint8_t(note), 0};
      w.emit(uint8_t(kNoteOn + ch), data, 2);
    }
  }
  for (int ch = 0; ch < kChannelCount; ++ch) {
    for (int note = 0; note < kNoteCount; ++note) {
      if (before.velocity[ch][note] != 0 || p.held.velocity[ch][note] == 0) continue;
      const uint8_t data[2] = {uint8_t(note), p.held.velocity[ch][note]};
      w.emit(uint8_t(kNoteOn + ch), data, 2);
    }
  }
}

void loopBack(PlayerState& p) {
  moveSequencer(p, p.loopStartTick);
}

// A pending tune takes over at the tick where the countdown ended: the same
// bar and tick in the new tune.
void takeOverTune(PlayerState& p) {
  const TuneImage* next = p.pendingTune.exchange(nullptr);
  if (!next) return;
  const int64_t at = p.stopTick >= 0 ? p.stopTick : p.nextTick;
  const BarTick position = barAtTick(p.tune, at < 0 ? 0 : at);
  p.tune = *next;
  if (p.sink) p.sink->retune(p.tune);
  if (!setLoopBars(p, p.loopFirstBar, p.loopLastBar)) setLoopBars(p, 0, 0);
  int64_t tick = barStartTick(p.tune, position.bar) + position.tick;
  // Bars that got shorter can put the position past the loop's end.
  if (looping(p) && tick >= p.loopEndTick) tick = p.loopStartTick;
  moveSequencer(p, tick);
}

// Where a countdown ends: a tune takes over, the loop jumps back, or the
// next tick is delivered (and the loop restarts when the tune ends inside it).
void reachBoundary(PlayerState& p) {
  if (p.pendingTune.load(std::memory_order_relaxed)) {
    takeOverTune(p);
    return;
  }
  const bool atLoopEnd = looping(p) && p.stopTick >= 0 && p.stopTick == p.loopEndTick;
  if (atLoopEnd && p.framesSinceSeam > 0) {
    loopBack(p);
    return;
  }
  if (sequencerStep(p)) {
    aimAtLoopEnd(p);
  } else if (looping(p) && p.framesSinceSeam > 0) {
    loopBack(p);  // the tune ended before the loop's end
  }
}

}  // namespace

void resetSequencer(PlayerState& p) {
  rewindSequencer(p);
  if (p.sampleRate != 0 && p.sink) p.sink->start(p.tune, p.sampleRate);
}

void sequencerTick(PlayerState& p) {
  if (p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing) return;

  advanceMusicalPosition(p, p.nextTick - p.nowTick);
  p.nowTick = p.nextTick < 0 ? 0 : p.nextTick;
  int64_t nextTick = -1;
  p.eventLength = 0;
  p.lastStatus = 0;

  applyTempo(p, nextTick);
  EventWriter w{p};
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (p.channels[ch].notes.count == 0) continue;
    playChannel(p, w, ch, nextTick);
  }
  // Every tick hands over a list, even one holding only the terminator.
  w.flush();

  p.nextTick = nextTick;
  if (nextTick <= 0 || nextTick > p.tune.lengthTicks) p.playState.store(PlayState::Ended);
}

bool framesToNextEvent(int64_t nextTick, int64_t nowTick, uint64_t tickScale, int32_t tickDivisor,
                       uint32_t& accumulator, int64_t& frames) {
  if (tickDivisor < 1) return false;
  const uint64_t ticks = nextTick > nowTick ? uint64_t(nextTick - nowTick) : 0;
  if (ticks != 0 && tickScale > UINT64_MAX / ticks) return false;  // far beyond 2^32 frames
  const uint64_t product = ticks * tickScale;
  const uint64_t divisor = uint64_t(tickDivisor);
  uint64_t quotient = product / divisor;
  // The remainder is below the divisor (< 2^31), so the sum stays below 2^32.
  uint32_t acc = accumulator + uint32_t(product % divisor);
  if (acc >= divisor) {
    acc -= uint32_t(divisor);
    ++quotient;
  }
  if (quotient > kMaxFrameDistance) return false;
  accumulator = acc;
  frames = int64_t(quotient);
  return true;
}

bool sequencerStep(PlayerState& p) {
  sequencerTick(p);
  if (p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing) {
    p.framesToNext = -1;
    return false;
  }
  int64_t frames = 0;
  p.nowRemainder = p.remainderAccumulator;
  p.stopTick = -1;
  if (!framesToNextEvent(p.nextTick, p.nowTick, p.tickScale, p.tune.tickDivisor,
                         p.remainderAccumulator, frames)) {
    p.overflowTick = p.nowTick;
    p.playState.store(PlayState::Ended);
    p.framesToNext = -1;
    return false;
  }
  p.framesToNext = frames;
  p.gapFrames = frames;
  return true;
}

void renderFrames(PlayerState& p, float* buffer, int frames) {
  if (!buffer || frames <= 0) return;
  if (p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing &&
      p.pendingTune.load(std::memory_order_relaxed))
    offerTune(p, p.pendingTune.exchange(nullptr));
  const PlayState state = p.playState.load(std::memory_order_relaxed);
  if (!p.active.load(std::memory_order_relaxed) || state == PlayState::Stopped) {
    std::memset(buffer, 0, sizeof(float) * 2 * size_t(frames));
    return;
  }
  float* out = buffer;
  int remaining = frames;
  if (state == PlayState::Sequencing) {
    while (remaining > 0 && p.framesToNext >= 0) {
      const int chunk = p.framesToNext < remaining ? int(p.framesToNext) : remaining;
      if (chunk > 0) {
        if (p.sink) p.sink->render(out, chunk);
        out += 2 * chunk;
        remaining -= chunk;
        p.framesToNext -= chunk;
        p.positionFrames += chunk;
        p.framesSinceSeam += chunk;
      }
      if (p.framesToNext <= 0) reachBoundary(p);
    }
    // Halted from the control thread: the rest of the request stays silent.
    if (remaining > 0 && p.playState.load(std::memory_order_relaxed) == PlayState::Stopped) {
      std::memset(out, 0, sizeof(float) * 2 * size_t(remaining));
      return;
    }
  }
  // Past the end (before or inside this request): voices ring out.
  if (remaining > 0) {
    if (p.sink) p.sink->render(out, remaining);
    p.positionFrames += remaining;
  }
}

void seekSequencer(PlayerState& p, int64_t tick) {
  rewindSequencer(p);
  p.playState.store(PlayState::Sequencing);
  p.framesToNext = 0;
  p.remainderAccumulator = 0;
  p.seeking = true;
  int64_t nowFrame = 0;  // the frame of nowTick
  bool stepped = false;
  while (p.playState.load(std::memory_order_relaxed) == PlayState::Sequencing && p.nextTick >= 0 &&
         p.nextTick < tick) {
    if (stepped) nowFrame += p.framesToNext;
    sequencerStep(p);
    stepped = true;
  }
  p.seeking = false;
  p.positionFrames = nowFrame;
  if (!stepped || p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing) return;
  // Inside the gap from nowTick to nextTick: the countdown has run up to `tick`.
  const int64_t into = framesToTick(p, tick);
  p.positionFrames = nowFrame + into;
  p.framesToNext = p.gapFrames - into;
}

void moveSequencer(PlayerState& p, int64_t tick) {
  const HeldNotes before = p.held;
  seekSequencer(p, tick);
  p.framesSinceSeam = 0;
  p.eventLength = 0;
  p.lastStatus = 0;
  EventWriter w{p};
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (p.channels[ch].notes.count != 0) writeChannelState(p, w, ch);
  }
  writeNoteChanges(p, w, before);
  w.flush();
  aimAtLoopEnd(p);
}

bool setLoopBars(PlayerState& p, int64_t firstBar, int64_t lastBar) {
  p.loopFirstBar = p.loopLastBar = 0;
  p.loopStartTick = p.loopEndTick = -1;
  if (firstBar == 0 && lastBar == 0) return true;
  if (firstBar < 1 || lastBar < firstBar) return false;
  const int64_t start = barStartTick(p.tune, firstBar);
  if (start >= p.tune.lengthTicks) return false;
  p.loopFirstBar = firstBar;
  p.loopLastBar = lastBar;
  p.loopStartTick = start;
  p.loopEndTick = barStartTick(p.tune, lastBar + 1);
  return true;
}

void offerTune(PlayerState& p, const TuneImage* tune) {
  if (!tune) return;
  if (p.playState.load(std::memory_order_relaxed) != PlayState::Sequencing) {
    p.pendingTune.store(nullptr);
    p.tune = *tune;
    if (p.sink) p.sink->retune(p.tune);
    if (!setLoopBars(p, p.loopFirstBar, p.loopLastBar)) setLoopBars(p, 0, 0);
    return;
  }
  // The countdown ends at the first tick from the current frame on.
  stopAt(p, tickAtCurrentFrame(p));
  p.pendingTune.store(tune);
}

TuneLength measureTune(PlayerState& p) {
  TuneLength len;
  p.playState.store(PlayState::Sequencing);
  p.framesToNext = 0;
  p.remainderAccumulator = 0;
  p.positionFrames = 0;
  int64_t total = 0;
  while (p.playState.load(std::memory_order_relaxed) == PlayState::Sequencing) {
    sequencerStep(p);
    ++len.ticks;
    len.lastTick = p.nowTick;
    if (p.framesToNext > 0) total += p.framesToNext;
    p.positionFrames = total;
  }
  p.framesToNext = 0;
  len.frames = total;
  len.overflowTick = p.overflowTick;
  len.ok = p.overflowTick < 0;
  len.lengthMs =
      p.sampleRate > 0 ? int32_t(std::llrint(double(total) * kMsPerSecond / p.sampleRate)) : 0;
  p.lengthMs = len.lengthMs;
  return len;
}
