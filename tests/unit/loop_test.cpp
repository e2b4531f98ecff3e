// Loops: a loop jumps back on the exact frame of its bar lines with the
// synthesizer's state as it stands at the loop's start.
#include <gtest/gtest.h>

#include <vector>

#include "player/bar_map.h"
#include "player/sequencer.h"
#include "support/recording_sink.h"
#include "support/tune_fixtures.h"

namespace {

constexpr int kTicksPerQuarter = 96;
constexpr int32_t kSlow = 483871;  // 124 per minute: 222.28 frames a tick, never whole
constexpr int32_t kFast = 461538;  // 130 per minute, from bar 3's second beat

// Bars 1-2 in 4/4, bars 3-5 in 3/4: they start at these ticks, and the tune
// ends at the start of bar 6.
constexpr int64_t kBarStart[] = {0, 0, 384, 768, 1056, 1344, 1632};

// Channel 0: note 60 + b on bar b's first tick, for 80 ticks; note 50 sounds
// across bar 3's line, note 51 across bar 5's. Controller 7 is set in bar 1,
// controller 1 only in bar 4.
TuneDescription barsTune(int bar3Note = 63) {
  TuneDescription tune = onePatchTune();
  tune.ticksPerQuarter = kTicksPerQuarter;
  tune.tempo = {{0, kSlow, 4, 4, 8}, {768, kSlow, 3, 4, 8}, {864, kFast, 3, 4, 8}};
  tune.lengthTicks = 1632;
  ChannelEvents& ch = tune.channels[0];
  ch.notes = {{0, 61, 100},    {80, 61, 0},
              {384, 62, 100},  {464, 62, 0},
              {700, 50, 90},   {768, uint8_t(bar3Note), 100},
              {800, 50, 0},    {848, uint8_t(bar3Note), 0},
              {1056, 64, 100}, {1136, 64, 0},
              {1300, 51, 80},  {1344, 65, 100},
              {1400, 51, 0},   {1424, 65, 0},
              {1620, 66, 100}, {1632, 66, 0}};
  ch.programs = {{0, 0}};
  ch.controllers[0] = {{1100, 50}, {1200, 70}};
  ch.controllers[6] = {{10, 90}};
  return tune;
}

// Renders `frames` frames in uneven chunks, so that no seam lines up with one.
void renderInChunks(PlayerState& p, int64_t frames) {
  std::vector<float> buffer(2 * 997);
  while (frames > 0) {
    const int chunk = frames < 997 ? int(frames) : 997;
    renderFrames(p, buffer.data(), chunk);
    frames -= chunk;
  }
}

TEST(Loop, JumpsBackOnTheBarLinesFrameWithTheStateOfItsStart) {
  RecordingSink sink;
  auto loaded = loadTune(barsTune(), &sink);
  PlayerState& p = *loaded->player;
  const TuneImage& tune = p.tune;
  // Tick 1,000 lies 232 ticks into bar 3, the first bar of 3/4.
  EXPECT_EQ(barAtTick(tune, 1000).bar, 3);
  EXPECT_EQ(barAtTick(tune, 1000).tick, 232);
  ASSERT_TRUE(setLoopBars(p, 3, 4));
  moveSequencer(p, barStartTick(tune, 3));

  const int64_t start = tickFrame(tune, kDefaultSampleRate, kBarStart[3]);
  const int64_t bar4 = tickFrame(tune, kDefaultSampleRate, kBarStart[4]) - start;
  const int64_t length = tickFrame(tune, kDefaultSampleRate, kBarStart[5]) - start;
  ASSERT_GT(length, 0);
  renderInChunks(p, 3 * length - 1);

  // Three passes, each starting on the frame where bar 3's line falls.
  const std::vector<int64_t> passes = {0, length, 2 * length};
  EXPECT_EQ(sink.messageFrames(0x90, 63), passes);
  EXPECT_EQ(sink.messageFrames(0x90, 64),
            (std::vector<int64_t>{bar4, length + bar4, 2 * length + bar4}));
  EXPECT_TRUE(sink.messageFrames(0x90, 65).empty()) << "bar 5 is past the loop";
  // Note 50 sounds across bar 3's line: it starts with every pass. Note 51
  // sounds across the loop's end: the seam ends it, its own end never comes.
  EXPECT_EQ(sink.messageFrames(0x90, 50), passes);
  EXPECT_EQ(sink.messageFrames(0x90, 51, 0), (std::vector<int64_t>{length, 2 * length}));
  // Controller 1, set only in bar 4, is back at 0 at each pass's start;
  // controller 7 keeps what bar 1 set.
  EXPECT_EQ(sink.messageFrames(0xB0, 1, 0), passes);
  EXPECT_EQ(sink.messageFrames(0xB0, 7, 90), passes);
  // Every frame was rendered: no gap at the seams.
  EXPECT_EQ(sink.renderedFrames, 3 * length - 1);
  EXPECT_EQ(sink.starts, 1) << "the synthesizer is never restarted";
}

}  // namespace
