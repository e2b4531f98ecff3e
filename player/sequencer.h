#pragma once
// The sequencer: turns a parsed tune image into synthesizer event lists at
// sample-exact times. Each sequencerTick jumps to the earliest pending tick of
// all lists, delivers every record due at that tick as channel messages with
// running status in one event list (ended by 0xFD), and the frame distance to
// the following tick is computed from the tempo in force. renderFrames
// interleaves ticks with rendering. Integer arithmetic only, no allocation:
// sequencerTick, framesToNextEvent and renderFrames run in the audio callback.
#include <atomic>
#include <cstdint>

#include "player/tune_image.h"

constexpr int kEventListCapacity = 256;
constexpr uint8_t kEventListEnd = 0xFD;
constexpr int32_t kDefaultSampleRate = 44100;
constexpr int32_t kMsPerSecond = 1000;

enum class PlayState : int32_t { Stopped = 0, Ended = 1, Sequencing = 2 };

// The one seam between the sequencer and the synthesizer. The product plugs
// the synthesizer in; tests and tools plug in recorders. Implementations must
// not allocate or throw in processEvents and render.
class SequencerSink {
 public:
  // Initialise the synthesizer for this tune: patch map, sample rate, then the
  // global parameters (tune.globalParams), then the speech texts.
  virtual void start(const TuneImage& tune, int sampleRate) = 0;
  // One event list, ended by 0xFD. A tick with more messages than the list
  // holds hands over several full lists in a row.
  virtual void processEvents(const uint8_t* list) = 0;
  // `frames` interleaved stereo frames (left, right), overwriting `out`.
  virtual void render(float* out, int frames) = 0;
  // A rebuilt tune takes over while the music plays: its patch map, global
  // parameters and speech texts replace the old ones, and what is sounding
  // goes on. The old tune's bytes may be released once this returns.
  virtual void retune(const TuneImage& tune) { (void)tune; }

 protected:
  ~SequencerSink() = default;
};

// Read position and running values of one event list.
struct ListCursor {
  const uint8_t* read = nullptr;  // column 0 at the current record
  int32_t count = 0;
  int32_t index = 0;      // exhausted when index == count
  int64_t dueTick = 0;    // tick of the current record
  uint8_t value[2] = {};  // running value bytes, wrap modulo 256
  int64_t lastTick = -1;  // tick of the last record delivered; -1: none yet
};

constexpr int kNoteCount = 128;

// Velocity of every note sounding on every channel (0: silent), as the
// sequencer has played them; a seek uses it to end and start notes at the
// seam.
struct HeldNotes {
  uint8_t velocity[kChannelCount][kNoteCount] = {};
};

struct ChannelCursor {
  ListCursor notes;
  ListCursor programs;
  ListCursor bends;
  ListCursor controllers[kControllerListCount];
};

// The player's record. One per playing tune; owned by its user.
struct PlayerState {
  // 1 while renderFrames may render. Written by the control thread, read by
  // the audio thread.
  std::atomic<int32_t> active{0};
  std::atomic<PlayState> playState{PlayState::Stopped};

  TuneImage tune;                 // parsed image (points into the caller's bytes)
  SequencerSink* sink = nullptr;  // may be null: events and frames go nowhere

  int64_t nowTick = 0;    // tick being (or last) delivered
  int64_t nextTick = -1;  // earliest pending tick; -1 when none

  int32_t tempoIndex = 0;
  int64_t tempoDueTick = 0;
  uint64_t tickScale = 0;  // sampleRate * microsPerQuarter / 100 for the tempo in force

  int32_t metreNumerator = 4;
  int32_t metreDenominator = 4;
  int32_t metreAux = 8;
  int64_t bar = 0;  // musical position, kept for display
  int32_t beat = 0;
  int64_t beatTick = 0;

  ChannelCursor channels[kChannelCount];

  HeldNotes held;

  int64_t positionFrames = 0;  // frames rendered or skipped since tick 0
  int64_t framesToNext = 0;    // frames before the next tick; -1 after the end inside renderFrames
  uint32_t remainderAccumulator = 0;
  // The countdown in force: it started at nowTick, with the remainder
  // accumulated up to nowTick, and lasts gapFrames frames in all. It ends at
  // stopTick when that is set (the loop's end, or the tick at which a rebuilt
  // tune takes over), otherwise at nextTick.
  uint32_t nowRemainder = 0;
  int64_t gapFrames = 0;
  int64_t stopTick = -1;
  bool seeking = false;  // ticks taken during a seek reach no sink

  // A stretch of bars played over and over (1-based, inclusive; 0: none),
  // and the ticks it spans in the tune in force: it starts at loopStartTick
  // and jumps back at loopEndTick.
  int64_t loopFirstBar = 0;
  int64_t loopLastBar = 0;
  int64_t loopStartTick = -1;
  int64_t loopEndTick = -1;
  int64_t framesSinceSeam = 0;  // rendered since the last seek or loop jump

  // A rebuilt tune waiting to take over at stopTick. Set and cleared under
  // the stream lock; renderFrames takes it over on the audio thread.
  std::atomic<const TuneImage*> pendingTune{nullptr};
  int64_t overflowTick = -1;  // tick after which a frame distance of 2^32 or more stopped the tune

  int32_t sampleRate = kDefaultSampleRate;  // Hz
  int32_t msPerSecond = kMsPerSecond;
  int32_t lengthMs = 0;

  uint8_t eventList[kEventListCapacity] = {};
  int32_t eventLength = 0;
  uint8_t lastStatus = 0;  // running status of the list being written; 0 = none yet
};

// Rewinds every list, restores the default tempo and metre, clears the
// remainder and, when sampleRate is not 0, starts the sink. Leaves playState,
// framesToNext and positionFrames to the caller.
void resetSequencer(PlayerState& p);

// Delivers the next pending tick's events (only while Sequencing) and sets
// Ended when nothing remains at or before lengthTicks.
void sequencerTick(PlayerState& p);

// Frames from nowTick to nextTick at the given tick scale. The division
// remainder is accumulated; whenever it reaches tickDivisor one frame is
// carried, so a single-tempo tune keeps its nominal length. Returns false,
// leaving `frames` untouched, when the distance is 2^32 frames or more.
bool framesToNextEvent(int64_t nextTick, int64_t nowTick, uint64_t tickScale, int32_t tickDivisor,
                       uint32_t& accumulator, int64_t& frames);

// sequencerTick, then framesToNext = the distance to the next tick, or -1
// when the tune has ended (also when that distance is too large: then the
// state is Ended and overflowTick records the tick). Returns true while
// the state is still Sequencing.
bool sequencerStep(PlayerState& p);

// Fills `frames` interleaved stereo frames. While Sequencing, ticks and
// rendering alternate; once the tune ends inside the request, the rest rings
// out. Ended: everything rings out. Inactive or Stopped: silence. A loop
// jumps back at its end, and a pending tune takes over at its tick.
void renderFrames(PlayerState& p, float* buffer, int frames);

// Puts the sequencer at `tick` without rendering and without a word to the
// sink: every list is rewound and every tick before `tick` is taken, so the
// cursors, the tempo and the held notes are those in force at `tick`. The
// state is then Sequencing, positionFrames the frame at which `tick` takes
// effect and framesToNext the frames from there to the next tick, which the
// next step delivers (with `tick` itself when records fall on it). Past the
// last tick the state is Ended (framesToNext -1).
void seekSequencer(PlayerState& p, int64_t tick);

// A seam: seeks to `tick`, then hands the sink one event list that takes the
// synthesizer from what it was playing to the state in force there: every
// channel's program, controllers and bend, then the notes held before but not
// at `tick` end, and those held at `tick` but not before start. Notes held on
// both sides go on sounding, as do reverb and delay tails.
void moveSequencer(PlayerState& p, int64_t tick);

// Loops bars first..last (1-based, inclusive) of the tune in force; 0, 0
// ends the loop. False, with no loop set, when first > last or the tune's
// last tick comes before bar `first`.
bool setLoopBars(PlayerState& p, int64_t firstBar, int64_t lastBar);

// Offers a rebuilt tune (which must stay alive until it has taken over): it
// takes over at the next tick boundary from the current frame, carrying on
// from the same bar and tick through moveSequencer. Not Sequencing: it takes
// over at once, with the position left as it is. The caller keeps the audio
// thread out (the stream lock).
void offerTune(PlayerState& p, const TuneImage* tune);

struct TuneLength {
  bool ok = false;            // false: a frame distance of 2^32 or more
  int64_t frames = 0;         // frames from tick 0 to the last tick
  int64_t ticks = 0;          // sequencer ticks taken
  int64_t lastTick = 0;       // the last tick delivered
  int32_t lengthMs = 0;       // frames in milliseconds, rounded to nearest
  int64_t overflowTick = -1;  // where the distance overflowed, when !ok
};

// Runs the whole tune once without rendering; call it right after
// resetSequencer. Every event reaches the sink, nothing is rendered;
// positionFrames counts the skipped frames, so during processEvents it is the
// frame at which that list takes effect. Sets lengthMs and leaves the state
// Ended with framesToNext 0.
TuneLength measureTune(PlayerState& p);
