// Playback control on the manually clocked device: where a (re)started tune
// begins, what a restart skips, its measured length, and that starting,
// restarting and stopping never hand the synthesizer to two threads at once.
#include "player/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "audio/manual_device.h"
#include "player/synth_sink.h"
#include "support/patch_builder.h"
#include "support/recording_sink.h"
#include "support/tune_fixtures.h"

namespace {

constexpr int kTicksPerQuarter = 441;
constexpr int32_t kMicrosPerQuarter = 1280000;  // with 441 ticks: exactly 128 frames a tick
constexpr int kFramesPerTick = 128;
constexpr int kLastTick = 689;  // 88,192 frames: 1,999.8 ms

// Notes on channel 0 at ticks 0 (on), 1 (off), 10 (on) and the last tick (off).
TuneDescription testTune(std::vector<uint8_t> patch = placeholderPatch()) {
  TuneDescription tune = onePatchTune(std::move(patch));
  tune.ticksPerQuarter = kTicksPerQuarter;
  tune.tempo.push_back(TempoEvent{0, kMicrosPerQuarter, 4, 4, 8});
  tune.channels[0].notes = {{0, 60, 100}, {1, 60, 0}, {10, 62, 90}, {kLastTick, 62, 0}};
  return tune;
}

// Right channel of ring frame `frame`: the recording sink writes 1.0 there
// (32,600 after conversion); silence is 0.
int16_t rightAt(const ManualRingDevice& device, int frame) {
  return device.samples()[2 * frame + 1];
}

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = buildImage(testTune());
    pb.player.sink = &sink;
    pb.device = &device;
  }
  void TearDown() override { stopTune(pb); }

  void start() {
    ParseResult why;
    ASSERT_EQ(playTune(pb, image.data(), image.size(), &why), 1) << why.reason;
    ASSERT_TRUE(streamRunning(pb));
  }
  // Moves the play cursor to a frame of the ring and lets the stream fill up to it.
  void playTo(int frame) {
    streamLock(pb.stream);
    device.setCursor(frame * kBytesPerFrame);
    streamFill(pb.stream);
    streamUnlock(pb.stream);
  }
  void forgetRecording() {
    sink.lists.clear();
    sink.renderCalls.clear();
    sink.renderedFrames = 0;
  }

  std::vector<uint8_t> image;
  ManualRingDevice device;
  RecordingSink sink;
  Playback pb;
};

TEST_F(PlaybackTest, MeasuresLengthAndWaitsStoppedUntilARestart) {
  start();
  EXPECT_EQ(pb.player.lengthMs, 2000);
  EXPECT_EQ(pb.measured.frames, kLastTick * kFramesPerTick);
  EXPECT_EQ(sink.lists.size(), 4u);  // the measuring pass delivers every tick
  EXPECT_TRUE(sink.renderCalls.empty());
  EXPECT_FALSE(isPlaying(pb));

  // Stopped: the stream runs, the player renders silence.
  playTo(64);
  EXPECT_TRUE(sink.renderCalls.empty());
  EXPECT_EQ(rightAt(device, 10), 0);
}

TEST_F(PlaybackTest, RestartAtZeroSoundsFromTheCallbacksFirstFrame) {
  start();
  playTo(16);
  forgetRecording();
  playFromPosition(pb, 0);
  EXPECT_TRUE(sink.lists.empty());  // nothing to skip: no tick before the first callback
  EXPECT_TRUE(isPlaying(pb));

  playTo(48);
  ASSERT_FALSE(sink.lists.empty());
  EXPECT_EQ(sink.lists[0].frame, 0);
  EXPECT_EQ(sink.hexLists()[0], "90 3C 64 FD");
  EXPECT_EQ(rightAt(device, 15), 0);  // the silence before the restart
  EXPECT_EQ(rightAt(device, 16), 32600);
  EXPECT_EQ(rightAt(device, 47), 32600);
  EXPECT_EQ(pb.player.positionFrames, 32);
}

TEST_F(PlaybackTest, RestartInsideATickSkipsToThePosition) {
  start();
  forgetRecording();
  // 2 ms = 88.2 frames into the first 128-frame tick.
  playFromPosition(pb, 2);
  EXPECT_EQ(pb.player.positionFrames, 0);
  EXPECT_EQ(pb.player.framesToNext, 40);
  ASSERT_EQ(sink.lists.size(), 1u);  // tick 0 reached the synthesizer, unrendered
  EXPECT_TRUE(sink.renderCalls.empty());

  playTo(64);
  ASSERT_EQ(sink.lists.size(), 2u);
  EXPECT_EQ(sink.lists[1].frame, 40);  // the note-off at tick 1, 40 frames in
  EXPECT_EQ(sink.hexLists()[1], "90 3C 00 FD");
  EXPECT_EQ(sink.renderCalls.front(), 40);

  // A position before the start is the start.
  playFromPosition(pb, -2);
  EXPECT_EQ(pb.player.positionFrames, 0);
  EXPECT_EQ(pb.player.framesToNext, 0);
}

TEST_F(PlaybackTest, RejectedImageChangesNothing) {
  std::vector<uint8_t> broken(image.begin(), image.begin() + static_cast<long>(image.size() / 2));

  // Never started: still inactive, no device opened, restarts do nothing.
  ParseResult why;
  EXPECT_EQ(playTune(pb, broken.data(), broken.size(), &why), 0);
  EXPECT_NE(why.reason[0], '\0');
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(playFromPosition(pb, 0), 0);
  EXPECT_FALSE(isPlaying(pb));
  EXPECT_EQ(sink.starts, 0);

  // Playing: the tune goes on as before.
  start();
  playFromPosition(pb, 0);
  playTo(32);
  const int starts = sink.starts;
  EXPECT_EQ(playTune(pb, broken.data(), broken.size()), 0);
  EXPECT_TRUE(isPlaying(pb));
  EXPECT_TRUE(device.isOpen());
  EXPECT_EQ(sink.starts, starts);
  EXPECT_EQ(pb.player.lengthMs, 2000);
  playTo(64);
  EXPECT_EQ(pb.player.positionFrames, 64);
}

TEST_F(PlaybackTest, StopClosesTheStreamAndIsHarmlessWhenInactive) {
  stopTune(pb);
  haltPlayback(pb);
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(pb.player.active.load(), 0);

  start();
  playFromPosition(pb, 0);
  playTo(32);
  haltPlayback(pb);
  EXPECT_FALSE(isPlaying(pb));
  playTo(64);
  EXPECT_EQ(rightAt(device, 40), 0);  // halted: silence
  playFromPosition(pb, 0);
  EXPECT_TRUE(isPlaying(pb));

  stopTune(pb);
  EXPECT_FALSE(isPlaying(pb));
  EXPECT_FALSE(device.isOpen());
  EXPECT_FALSE(streamRunning(pb));
  stopTune(pb);
  EXPECT_EQ(playFromPosition(pb, 0), 0);
  EXPECT_FALSE(isPlaying(pb));
}

// Counts the event lists of each pass and notes the frame of the last one,
// which is where the pass ends; renders nothing.
class PassSink final : public SequencerSink {
 public:
  void start(const TuneImage&, int) override {}
  void processEvents(const uint8_t*) override {
    lastListFrame = player->positionFrames;
    ++lists;
  }
  void render(float*, int) override {}

  const PlayerState* player = nullptr;
  int64_t lastListFrame = -1;
  int lists = 0;
};

TEST(PlaybackLongRun, ThirtyDaysKeepTheTimelineAndEveryPassLength) {
  // The demo's loop over 30 days of audio (one in sanitized builds): the device's cursor jumps
  // almost a whole ring between visits (its locks fail, so no samples are converted, which is what
  // makes this fast), and the tune restarts whenever it has stopped playing. The stream's position
  // must run on monotonically past the 2^31 bytes of 3 h 23 min, and every pass must end at exactly
  // the measured length.
  const std::vector<uint8_t> image = buildImage(testTune());
  PassSink sink;
  ManualRingDevice device;
  Playback pb;
  sink.player = &pb.player;
  pb.player.sink = &sink;
  pb.device = &device;
  ASSERT_EQ(playTune(pb, image.data(), image.size()), 1);
  device.setFailLocks(true);
  const int64_t tuneFrames = pb.measured.frames;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // Sanitized builds run a day: still 7 times past the 32-bit limit, and
  // seconds instead of a minute of the sanitized suite's time.
  constexpr int64_t kDays = 1;
#else
  constexpr int64_t kDays = 30;
#endif
  constexpr int64_t kTotalBytes = kDays * 24 * 3600 * int64_t(kStreamSampleRate) * kBytesPerFrame;
  int64_t played = 0;  // bytes the cursor has moved
  int64_t lastPosition = streamPosition(pb.stream);
  int64_t passes = 0;
  int64_t failures = 0;
  sink.lists = 4;  // the measuring pass: the first restart checks nothing
  sink.lastListFrame = tuneFrames;
  streamLock(pb.stream);  // the worker cannot fill behind the test's back
  while (played < kTotalBytes && failures < 10) {
    if (!isPlaying(pb)) {
      // Every pass delivered its four ticks and ended at its measured length.
      if (sink.lists != 4 || sink.lastListFrame != tuneFrames) ++failures;
      EXPECT_EQ(sink.lists, 4) << "pass " << passes;
      EXPECT_EQ(sink.lastListFrame, tuneFrames) << "pass " << passes;
      sink.lists = 0;
      sink.lastListFrame = -1;
      playFromPosition(pb, 0);
      ++passes;
    }
    // Jumps of a ring less one and two granules, so the cursor walks the ring.
    const int jump = kRingBytes - kFillGranule * (1 + int(played / kRingBytes % 2));
    device.advance(jump);
    played += jump;
    streamFill(pb.stream);
    const int64_t position = streamPosition(pb.stream);
    if (position != played - kRingBytes) {
      ++failures;
      EXPECT_EQ(position, played - kRingBytes) << "after " << played << " bytes";
    }
    if (position < lastPosition) ++failures;
    lastPosition = position;
    // What was rendered is heard one ring later.
    const int64_t heard = std::max<int64_t>(0, pb.player.positionFrames - kRingFrames);
    if (heardPositionFrames(pb) != heard) {
      ++failures;
      EXPECT_EQ(heardPositionFrames(pb), heard) << "after " << played << " bytes";
    }
  }
  streamUnlock(pb.stream);
  stopTune(pb);
  EXPECT_EQ(failures, 0);
  EXPECT_GE(played, kTotalBytes);
  EXPECT_EQ(pb.stream.bytesWritten, played - kRingBytes);
  // A pass lasts its length plus the rest of the visit in which it ended.
  const int64_t frames = played / kBytesPerFrame;
  EXPECT_LE(passes, frames / tuneFrames + 1);
  EXPECT_GE(passes, frames / (tuneFrames + kRingFrames));
}

// A sink in front of the synthesizer that notices two threads inside it.
class ExclusiveSink final : public SequencerSink {
 public:
  explicit ExclusiveSink(SequencerSink& inner) : inner_(inner) {}
  void start(const TuneImage& tune, int sampleRate) override {
    Entry e(*this);
    inner_.start(tune, sampleRate);
  }
  void processEvents(const uint8_t* list) override {
    Entry e(*this);
    inner_.processEvents(list);
  }
  void render(float* out, int frames) override {
    Entry e(*this);
    inner_.render(out, frames);
    rendered.fetch_add(frames);
  }

  std::atomic<int> overlaps{0};
  std::atomic<long long> rendered{0};

 private:
  struct Entry {
    explicit Entry(ExclusiveSink& s) : sink(s) {
      if (sink.inside_.exchange(true)) sink.overlaps.fetch_add(1);
    }
    ~Entry() { sink.inside_.store(false); }
    ExclusiveSink& sink;
  };
  SequencerSink& inner_;
  std::atomic<bool> inside_{false};
};

TEST(PlaybackStress, RestartsAndStopsWhileTheWorkerRenders) {
  auto patch = testpatch::patchBytes(testpatch::plainPatch());
  TuneDescription tune = testTune(patch);
  for (int i = 0; i < 40; ++i)
    tune.channels[0].notes.push_back({20 + 16 * i, uint8_t(50 + i), 100});
  std::sort(tune.channels[0].notes.begin(), tune.channels[0].notes.end(),
            [](const NoteEvent& a, const NoteEvent& b) { return a.tick < b.tick; });
  std::vector<uint8_t> image = buildImage(tune);

  SynthSink synth;
  ExclusiveSink sink(synth);
  ManualRingDevice device;
  device.setFreeRun(8192);  // 2,048 frames at every visit: as fast as the worker can go
  Playback pb;
  pb.player.sink = &sink;
  pb.device = &device;
  ASSERT_EQ(playTune(pb, image.data(), image.size()), 1);

  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % range;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int restarts = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    // Wake the worker, then act at a random moment of its fill, often inside it.
    streamWake(pb.stream);
    std::this_thread::sleep_for(std::chrono::microseconds(next(2000)));
    const uint32_t action = next(64);
    if (action == 0) {
      stopTune(pb);
      ASSERT_EQ(playTune(pb, image.data(), image.size()), 1);
    } else if (action < 4) {
      haltPlayback(pb);
    } else if (action < 12) {
      (void)isPlaying(pb);
      (void)heardPositionFrames(pb);
    } else {
      playFromPosition(pb, static_cast<int32_t>(next(2200)));
      ++restarts;
    }
  }
  stopTune(pb);
  EXPECT_EQ(sink.overlaps.load(), 0);
  EXPECT_GT(restarts, 50);
  EXPECT_GT(sink.rendered.load(), 10000);  // the worker really rendered meanwhile
}

// The tune the end-to-end test plays through `tune play`: a 440 Hz sine (note
// 81: the oscillator sounds an octave below the note number) from
// the very first frame for ten seconds. With ORB_PLAY_TUNE_OUT set, the image
// is also written there.
TEST(PlaybackImage, EndToEndTuneSoundsFromItsFirstFrame) {
  const auto globals = testpatch::neutralGlobals();
  TuneDescription tune = onePatchTune(testpatch::patchBytes(testpatch::plainPatch()),
                                      std::vector<uint8_t>(globals.begin(), globals.end()));
  tune.channels[0].notes = {{0, 81, 127}, {2560, 81, 0}};  // 2,560 ticks = 10 s
  SynthSink synth;
  std::unique_ptr<LoadedTune> loaded = loadTune(tune, &synth);
  std::vector<float> out(2 * 4410);
  renderFrames(*loaded->player, out.data(), 4410);
  const std::vector<float> left = testpatch::leftOf(out);
  EXPECT_GT(std::fabs(left[1]), 0.0f);
  EXPECT_GT(testpatch::rmsOf(left), 0.2f);
  EXPECT_NEAR(testpatch::frequencyOf(left, kDefaultSampleRate), 440.0, 4.0);

  if (const char* path = std::getenv("ORB_PLAY_TUNE_OUT")) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(loaded->image.data()),
               static_cast<std::streamsize>(loaded->image.size()));
    EXPECT_TRUE(file.good()) << "cannot write " << path;
  }
}

}  // namespace
