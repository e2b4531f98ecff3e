// Sequencer: what each tick delivers, when it takes effect, and how
// renderFrames interleaves ticks with rendering.
#include "player/sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/recording_sink.h"
#include "support/tune_fixtures.h"

namespace {

using Lists = std::vector<std::string>;

void addPatches(TuneDescription& t, std::initializer_list<int> programs) {
  for (int p : programs) t.patches.push_back(PatchEntry{p, placeholderPatch()});
}

// Runs the whole tune from a reset, as the measuring pass does.
TuneLength measure(const TuneDescription& t, RecordingSink& sink) {
  auto loaded = loadTune(t, &sink);
  PlayerState& p = *loaded->player;
  resetSequencer(p);
  return measureTune(p);
}

// Every list a whole pass delivers, checked over two passes on one player:
// a reset rewinds every list and running value.
TEST(SequencerTick, DeliversEachTicksMessagesOnce) {
  const struct {
    const char* what;
    std::function<void(TuneDescription&)> fill;
    Lists lists;
    int32_t lastTick;
  } cases[] = {
      // clang-format off
      {"a chord on one channel shares one status byte", [](TuneDescription& t) {
         t.channels[0].notes = {{0, 60, 100}, {0, 64, 100}, {128, 60, 0}, {128, 64, 0}}; },
       {"90 3C 64 40 64 FD", "90 3C 00 40 00 FD"}, 128},
      {"a record at the length is delivered and later ones are not", [](TuneDescription& t) {
         t.lengthTicks = 100;
         t.channels[0].notes = {{0, 60, 100}, {100, 60, 0}, {101, 62, 100}};
         t.channels[1].notes = {{100, 40, 1}}; },
       {"90 3C 64 FD", "90 3C 00 91 28 01 FD"}, 100},
      {"channel messages go out in list order", [](TuneDescription& t) {
         t.channels[2].notes = {{10, 70, 1}};
         ChannelEvents& c = t.channels[4];
         c.notes = {{10, 60, 100}, {10, 62, 101}};
         c.programs = {{10, 1}};
         c.controllers[2] = {{10, 9}};  // controller 3
         c.controllers[0] = {{10, 5}};  // controller 1
         c.bends = {{10, 0, 64}}; },
       {"92 46 01 C4 01 B4 01 05 03 09 E4 00 40 94 3C 64 3E 65 FD"}, 10},
      {"values are running bytes across records", [](TuneDescription& t) {
         t.channels[3].notes = {{0, 1, 1}, {1, 1, 1}};
         t.channels[3].controllers[6] = {{0, 127}, {1, 0}, {2, 64}};
         t.channels[3].bends = {{0, 100, 3}, {2, 0, 0}}; },
       {"B3 07 7F E3 64 03 93 01 01 FD", "B3 07 00 93 01 01 FD", "B3 07 40 E3 00 00 FD"}, 2},
      {"a tempo record and controllers after tick 0", [](TuneDescription& t) {
         t.tempo = {{5, 250000, 4, 4, 8}};
         t.channels[9].notes = {{0, 36, 100}, {5, 36, 0}};
         t.channels[9].controllers[3] = {{0, 20}, {5, 30}}; },
       {"B9 04 14 99 24 64 FD", "B9 04 1E 99 24 00 FD"}, 5},
      // clang-format on
  };
  for (const auto& c : cases) {
    TuneDescription t = onePatchTune();
    addPatches(t, {1});
    c.fill(t);
    RecordingSink sink;
    auto loaded = loadTune(t, &sink);
    for (int pass = 0; pass < 2; ++pass) {
      sink.lists.clear();
      resetSequencer(*loaded->player);
      const TuneLength length = measureTune(*loaded->player);
      EXPECT_TRUE(length.ok) << c.what;
      EXPECT_EQ(length.lastTick, c.lastTick) << c.what;
      EXPECT_EQ(sink.hexLists(), c.lists) << c.what << ", pass " << pass;
    }
  }
}

TEST(SequencerTick, FirstTickJumpsToTheFirstRecordWithoutLeadingSilence) {
  TuneDescription t = onePatchTune();
  t.channels[7].notes = {{480, 50, 90}, {500, 50, 0}, {544, 50, 90}};
  RecordingSink sink;
  auto loaded = loadTune(t, &sink);
  std::vector<float> buffer(2 * 12000);
  renderFrames(*loaded->player, buffer.data(), 12000);
  ASSERT_EQ(sink.lists.size(), 3u);
  EXPECT_EQ(sink.lists[0].frame, 0);
  EXPECT_EQ(sink.hexLists()[0], "97 32 5A FD");
  // 20 ticks at the default 500,000 us per quarter: 20 * 172.265625 frames.
  EXPECT_EQ(sink.lists[1].frame, 3445);
  // 64 ticks are exactly 11,025 frames: the carried fractions add up to one.
  EXPECT_EQ(sink.lists[2].frame, 11025);
}

TEST(SequencerTick, OnlyTheNoteListRepeatsWithinATick) {
  TuneDescription t = onePatchTune();
  addPatches(t, {1, 2, 3, 5, 7});
  // Two program records at tick 0: the second, and everything after it in
  // that list, is never delivered. Two at tick 50 on another channel: the
  // second follows zero frames later in a tick of its own.
  t.channels[0].notes = {{0, 60, 100}, {50, 60, 0}, {100, 61, 100}};
  t.channels[0].programs = {{0, 3}, {0, 5}, {50, 7}};
  t.channels[1].notes = {{10, 30, 100}};
  t.channels[1].programs = {{50, 1}, {50, 2}};
  RecordingSink sink;
  auto loaded = loadTune(t, &sink);
  std::vector<float> buffer(2 * 20000);
  renderFrames(*loaded->player, buffer.data(), 20000);
  EXPECT_EQ(sink.hexLists(), (Lists{"C0 03 90 3C 64 FD", "91 1E 64 FD", "90 3C 00 C1 01 FD",
                                    "C1 02 FD", "90 3D 64 FD"}));
  ASSERT_EQ(sink.lists.size(), 5u);
  EXPECT_EQ(sink.lists[3].frame, sink.lists[2].frame);
  EXPECT_GT(sink.lists[2].frame, sink.lists[1].frame);
}

TEST(SequencerTick, LargeChordIsSplitIntoFullListsWithoutLosingNotes) {
  constexpr int kNotes = 300;
  TuneDescription t = onePatchTune();
  for (int i = 0; i < kNotes; ++i) t.channels[6].notes.push_back({0, uint8_t(i % 128), 100});
  t.channels[6].notes.push_back({1, 0, 0});
  RecordingSink sink;
  auto loaded = loadTune(t, &sink);
  PlayerState& p = *loaded->player;
  sequencerStep(p);
  ASSERT_GT(sink.lists.size(), 1u);
  std::vector<uint8_t> notes;
  for (const RecordedList& l : sink.lists) {
    EXPECT_LE(l.bytes.size(), size_t(kEventListCapacity));
    EXPECT_EQ(l.bytes.front(), 0x96);  // each list opens with its status byte
    EXPECT_EQ(l.bytes.back(), 0xFD);
    for (size_t i = 1; i + 1 < l.bytes.size(); i += 2) notes.push_back(l.bytes[i]);
  }
  ASSERT_EQ(notes.size(), size_t(kNotes));
  for (int i = 0; i < kNotes; ++i) EXPECT_EQ(notes[size_t(i)], i % 128) << i;
}

TEST(SequencerTiming, GapsTruncateAndTheRemainderKeepsTheNominalTempo) {
  // 371,519 us per quarter at 128 ticks per quarter: 127.99990546875 frames per tick.
  auto gapTune = [](std::vector<int32_t> ticks) {
    TuneDescription t = onePatchTune();
    t.tempo = {{0, 371519, 4, 4, 8}};
    for (int32_t tick : ticks) t.channels[0].notes.push_back({tick, 60, 1});
    return t;
  };
  RecordingSink sink;
  EXPECT_EQ(measure(gapTune({0, 10578}), sink).frames, 128 * 10578 - 1);
  EXPECT_EQ(measure(gapTune({0, 10579}), sink).frames, 128 * 10579 - 2);

  // A note on every tick: each gap alone would lose a fraction of a frame,
  // the carried remainder gives back the nominal length, rounded down.
  std::vector<int32_t> every;
  for (int32_t i = 0; i <= 20000; ++i) every.push_back(i);
  TuneLength len = measure(gapTune(every), sink);
  EXPECT_EQ(len.frames, int64_t(std::floor(20000 * 127.99990546875)));
  EXPECT_EQ(len.ticks, 20001);
  EXPECT_EQ(len.lengthMs, std::lrint(double(len.frames) * 1000.0 / 44100.0));
}

TEST(SequencerTiming, TempoChangeAppliesFromItsOwnTickOn) {
  TuneDescription t = onePatchTune();
  t.tempo = {{256, 250000, 4, 4, 8}};  // before it: the default 500,000
  t.channels[0].notes = {{0, 60, 1}, {128, 60, 1}, {256, 60, 1}, {384, 60, 1}};
  RecordingSink sink;
  auto loaded = loadTune(t, &sink);
  std::vector<float> buffer(2 * 60000);
  renderFrames(*loaded->player, buffer.data(), 60000);
  ASSERT_EQ(sink.lists.size(), 4u);
  EXPECT_EQ(sink.lists[0].frame, 0);
  EXPECT_EQ(sink.lists[1].frame, 22050);  // a quarter at 120 per minute is half a second
  EXPECT_EQ(sink.lists[2].frame, 44100);
  EXPECT_EQ(sink.lists[3].frame, 55125);  // twice as fast from tick 256
}

TEST(RenderFrames, SilenceWhileInactiveOrStoppedAndRingOutAfterTheEnd) {
  TuneDescription t = onePatchTune();
  t.channels[0].notes = {{0, 60, 100}, {10, 60, 0}};
  RecordingSink sink;
  auto loaded = loadTune(t, &sink);
  PlayerState& p = *loaded->player;
  std::vector<float> out(2 * 512, 5.0f);

  p.active.store(0);
  renderFrames(p, out.data(), 512);
  for (float s : out) ASSERT_EQ(s, 0.0f);
  EXPECT_TRUE(sink.lists.empty());
  EXPECT_EQ(p.positionFrames, 0);

  p.active.store(1);
  p.playState.store(PlayState::Stopped);
  std::fill(out.begin(), out.end(), 5.0f);
  renderFrames(p, out.data(), 512);
  for (float s : out) ASSERT_EQ(s, 0.0f);
  EXPECT_TRUE(sink.renderCalls.empty());

  // The tune ends 1,722 frames in (10 ticks at 172.265625): the request
  // goes on rendering past that, with no further tick.
  p.playState.store(PlayState::Sequencing);
  std::vector<float> longer(2 * 4000, 5.0f);
  renderFrames(p, longer.data(), 4000);
  EXPECT_EQ(p.playState.load(), PlayState::Ended);
  ASSERT_EQ(sink.lists.size(), 2u);
  EXPECT_EQ(sink.lists[1].frame, 1722);
  EXPECT_EQ(sink.renderedFrames, 4000);
  EXPECT_EQ(p.positionFrames, 4000);
  renderFrames(p, longer.data(), 4000);
  EXPECT_EQ(sink.renderedFrames, 8000);
  EXPECT_EQ(sink.lists.size(), 2u);

  renderFrames(p, nullptr, 100);  // no buffer: nothing happens
  EXPECT_EQ(p.positionFrames, 8000);
}

}  // namespace
