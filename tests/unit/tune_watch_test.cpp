// A tune source edited while it plays through the audio stream (manually
// clocked device): a changed note is heard from the next tick after the
// rebuild, where it stands in the tune; a broken edit is reported as
// FILE:LINE and the last good version plays on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "audio/manual_device.h"
#include "player/bar_map.h"
#include "player/playback.h"
#include "support/recording_sink.h"
#include "tools/tunesrc/live_source.h"

namespace {

using tunesrc::BuildError;
using tunesrc::LiveSource;
using tunesrc::Refresh;

constexpr int kFillFrames = 2048;  // the device plays this much between two fills

// Four bars on channel 0: a2 (57) in bars 1, 2 and 4, bar 3 plays `bar3`.
std::string source(const std::string& bar3) {
  return "ticks 96\n"
         "patch p program=0\nend\n"
         "channel a 0 program=p\n"
         "pattern one\n  notes /4 a2 a2 a2 a2\nend\n"
         "pattern three\n  notes /4 " +
         bar3 +
         "\nend\n"
         "song\n  tempo 124\n  section s bars=4\n    a one one three one\nend\n";
}

class TuneWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    folder =
        std::filesystem::path(::testing::TempDir()) / ("tune_watch_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    write(source("e3 e3 e3 e3"));
    live.path = folder.string();
    pb.player.sink = &sink;
    pb.device = &device;
  }
  void TearDown() override {
    stopTune(pb);
    std::filesystem::remove_all(folder);
  }

  void write(const std::string& text) {
    std::ofstream(folder / "main.tune", std::ios::binary | std::ios::trunc) << text;
  }
  // Lets the device play until the player has rendered `frame` frames.
  void renderUpTo(int64_t frame) {
    while (sink.renderedFrames < frame) {
      streamLock(pb.stream);
      device.advance(kFillFrames * kBytesPerFrame);
      streamFill(pb.stream);
      streamUnlock(pb.stream);
    }
  }
  int64_t frameOf(int bar, int beat) {
    const TuneImage& t = pb.player.tune;
    return tickFrame(t, kDefaultSampleRate, barStartTick(t, bar) + beat * t.ticksPerQuarter);
  }

  std::filesystem::path folder;
  LiveSource live;
  RecordingSink sink;
  ManualRingDevice device;
  Playback pb;
};

TEST_F(TuneWatch, EditIsHeardFromTheNextTickAndABrokenOneKeepsTheLastGoodVersion) {
  BuildError error;
  ASSERT_TRUE(tunesrc::startLiveSource(live, pb, error)) << error.text();
  sink.lists.clear();  // the measuring pass
  ASSERT_TRUE(setLoop(pb, 1, 4));
  playFromBar(pb, 1);
  const int starts = sink.starts;
  const int64_t length = frameOf(5, 0);
  const int64_t bar3 = frameOf(3, 0);

  // Nothing changed: nothing is rebuilt.
  renderUpTo(frameOf(2, 1));
  EXPECT_EQ(tunesrc::refreshLiveSource(live, pb, error), Refresh::Unchanged);

  // Bar 3's first e3 (64) becomes g3 (67), saved in the middle of bar 2.
  write(source("g3 e3 e3 e3"));
  ASSERT_EQ(tunesrc::refreshLiveSource(live, pb, error), Refresh::Rebuilt) << error.text();
  const int64_t saved = sink.renderedFrames;
  renderUpTo(frameOf(4, 2));
  EXPECT_FALSE(replacementPending(pb));
  EXPECT_EQ(tunesrc::refreshLiveSource(live, pb, error), Refresh::Unchanged);
  EXPECT_EQ(live.images.size(), 1u) << "the old image is released once replaced";

  // The new note sits where the old one was; the rest of bar 3 is unchanged.
  EXPECT_EQ(sink.messageFrames(0x90, 67), (std::vector<int64_t>{bar3}));
  EXPECT_EQ(sink.messageFrames(0x90, 64),
            (std::vector<int64_t>{frameOf(3, 1), frameOf(3, 2), frameOf(3, 3)}));
  // The rebuilt tune took over at the tick after the save: its seam restates
  // the channel's program there.
  const double framesPerTick = 44100.0 * 60 / 124 / 96;
  int64_t seam = -1;
  for (const RecordedList& l : sink.lists)
    if (l.frame >= saved && l.bytes[0] == 0xC0) seam = l.frame;
  EXPECT_GE(seam, saved);
  EXPECT_LE(seam, saved + int64_t(framesPerTick) + 1);

  // A broken save in bar 4: one FILE:LINE line, and bar 3 of the next pass
  // still plays g3, on the loop's frames.
  write(source("g3 e3 zz e3"));
  ASSERT_EQ(tunesrc::refreshLiveSource(live, pb, error), Refresh::Failed);
  const std::string line = error.text();
  EXPECT_EQ(line.rfind((folder / "main.tune").string() + ":9: ", 0), 0u) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(tunesrc::refreshLiveSource(live, pb, error), Refresh::Unchanged) << "reported once";
  renderUpTo(length + frameOf(4, 0));
  EXPECT_EQ(sink.messageFrames(0x90, 67), (std::vector<int64_t>{bar3, length + bar3}));
  EXPECT_EQ(sink.starts, starts) << "the synthesizer ran on through both saves";
}

}  // namespace
