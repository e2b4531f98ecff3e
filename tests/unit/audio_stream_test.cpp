// The audio stream on the manually clocked device: what the worker fills,
// where, with which samples, and the play position it reports.
#include "audio/audio_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "audio/manual_device.h"

namespace {

// Records every request and fills it with a pattern: either a ramp (sample i
// of the request is (i + 1) / 32768, so the 16-bit result is i + 1) or a
// repeating list of values.
struct Recorder {
  std::vector<int> requests;
  std::vector<float> pattern;
};

void record(void* context, float* frames, int frameCount) {
  auto& recorder = *static_cast<Recorder*>(context);
  recorder.requests.push_back(frameCount);
  for (int i = 0; i < frameCount * 2; ++i) {
    frames[i] = recorder.pattern.empty()
                    ? static_cast<float>(i + 1) / kFullScale
                    : recorder.pattern[static_cast<size_t>(i) % recorder.pattern.size()];
  }
}

// The test thread holds the stream lock throughout, so the worker cannot fill
// behind its back and every fill happens in streamFill, deterministically.
class LockedStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(streamOpen(stream, device, record, &recorder));
    streamLock(stream);
  }
  void TearDown() override {
    streamUnlock(stream);
    streamClose(stream);
  }
  void fillAt(int cursor) {
    device.setCursor(cursor);
    streamFill(stream);
  }
  int16_t sampleAt(int byteOffset) const { return device.samples()[byteOffset / 2]; }

  ManualRingDevice device;
  AudioStream stream;
  Recorder recorder;
};

TEST_F(LockedStreamTest, FillsOnlyWhenTheCursorCrossesAnEightFrameBoundary) {
  fillAt(31);
  EXPECT_TRUE(recorder.requests.empty());
  EXPECT_EQ(device.lockCount(), 0);

  fillAt(32);
  ASSERT_EQ(recorder.requests, std::vector<int>{8});
  EXPECT_EQ(device.lockCount(), 1);

  // 32..63 is still inside the same granule.
  fillAt(63);
  EXPECT_EQ(recorder.requests.size(), 1u);
  EXPECT_EQ(device.lockCount(), 1);

  fillAt(1000);  // rounds down to 992: 960 bytes since the last fill
  EXPECT_EQ(recorder.requests.back(), 240);
}

TEST_F(LockedStreamTest, WrappingGapIsOneRequestWrittenAsTwoRegions) {
  fillAt(kRingBytes - 64);
  recorder.requests.clear();
  int16_t beyond = sampleAt(64);
  int locksBefore = device.lockCount();

  fillAt(64);  // 64 bytes before the ring end and 64 after it
  ASSERT_EQ(recorder.requests, std::vector<int>{32});
  EXPECT_EQ(device.lockCount(), locksBefore + 1);
  ASSERT_NE(stream.regions.second, nullptr);
  EXPECT_EQ(stream.regions.firstBytes, 64);
  EXPECT_EQ(stream.regions.secondBytes, 64);

  // The first region gets the first frames of the request.
  EXPECT_EQ(sampleAt(kRingBytes - 64), 1);
  EXPECT_EQ(sampleAt(kRingBytes - 2), 32);
  EXPECT_EQ(sampleAt(0), 33);
  EXPECT_EQ(sampleAt(62), 64);
  EXPECT_EQ(sampleAt(64), beyond);  // not played since the last fill: untouched
}

TEST_F(LockedStreamTest, ConvertsWithClampAndVolume) {
  recorder.pattern = {1.0f, -1.0f, 0.5f, -0.5f, 0.0f, 2.0f, 1.0f / 65536.0f, 3.0f / 65536.0f};
  fillAt(32);
  const int16_t expected[] = {32600, -32600, 16384, -16384, 0, 32600, 0, 2};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(device.samples()[i], expected[i]) << "sample " << i;

  streamSetVolume(stream, 0.25f);
  fillAt(64);
  const int16_t quieter[] = {8192, -8192, 4096, -4096, 0, 16384, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(device.samples()[16 + i], quieter[i]) << "sample " << i;
}

TEST_F(LockedStreamTest, PositionCountsFromMinusOneRingAndIgnoresFarReadings) {
  EXPECT_EQ(streamPosition(stream), -kRingBytes);
  device.setCursor(100);
  EXPECT_EQ(streamPosition(stream), -kRingBytes + 100);

  fillAt(4096);
  device.setCursor(4100);
  EXPECT_EQ(streamPosition(stream), -kRingBytes + 4100);

  // A quarter ring or more ahead of the write position: previous value kept.
  device.setCursor(4096 + kQuarterRingBytes);
  EXPECT_EQ(streamPosition(stream), -kRingBytes + 4100);
  device.setCursor(4096 + kQuarterRingBytes - 4);
  EXPECT_EQ(streamPosition(stream), -kRingBytes + 4096 + kQuarterRingBytes - 4);

  // Client audio starts playing one ring length after opening.
  for (int cursor = 16384; cursor < kRingBytes; cursor += 16384) fillAt(cursor);
  fillAt(0);
  EXPECT_EQ(streamPosition(stream), 0);
  device.setCursor(400);
  EXPECT_EQ(streamPosition(stream), 400);
}

TEST_F(LockedStreamTest, LostDeviceIsRestoredBoundedlyAndAnUnreadCursorStillMovesTheTimeline) {
  device.loseNextReadings(1);
  fillAt(64);
  EXPECT_EQ(device.restoreCount(), 1);
  EXPECT_EQ(recorder.requests, std::vector<int>{16});

  // A device that stays lost: a few tries, then the visit fills one worker
  // period past the write position, as it does when a reading fails outright.
  constexpr int kStepFrames = kUnreadCursorStep / kBytesPerFrame;
  EXPECT_EQ(kStepFrames, 920);
  device.loseNextReadings(1000);
  fillAt(128);
  EXPECT_EQ(device.restoreCount(), 1 + kMaxRestoreTries);
  EXPECT_EQ(recorder.requests.back(), kStepFrames);
  device.loseNextReadings(0);
  device.failNextReadings(1);
  streamFill(stream);
  EXPECT_EQ(recorder.requests.back(), kStepFrames);
  EXPECT_EQ(device.restoreCount(), 1 + kMaxRestoreTries);  // only a lost device is restored
  const int written = 64 + 2 * kUnreadCursorStep;
  EXPECT_EQ(stream.writePosition, written);
  EXPECT_EQ(stream.bytesWritten, written - kRingBytes);
  EXPECT_EQ(sampleAt(written - 2), 2 * kStepFrames);  // the guessed stretch was written

  // Readable again: the fill goes on from where the guesses left it.
  fillAt(written + 64);
  EXPECT_EQ(recorder.requests.back(), 16);
  EXPECT_EQ(recorder.requests.size(), 4u);
  EXPECT_EQ(streamPosition(stream), written + 64 - kRingBytes);
}

TEST(AudioStream, FailedOpenLeavesNothingRunningAndCanBeRetried) {
  ManualRingDevice device;
  AudioStream stream;
  Recorder recorder;
  device.failNextOpen();
  EXPECT_FALSE(streamOpen(stream, device, record, &recorder));
  EXPECT_FALSE(device.isOpen());
  EXPECT_FALSE(stream.worker.joinable());
  streamClose(stream);  // harmless on a closed stream

  ASSERT_TRUE(streamOpen(stream, device, record, &recorder));
  EXPECT_FALSE(streamOpen(stream, device, record, &recorder));  // already running
  streamClose(stream);
  EXPECT_FALSE(device.isOpen());
}

// Counts frames under the stream lock; the test reads them under it too.
struct FrameCounter {
  long long frames = 0;
  int calls = 0;
};

void countFrames(void* context, float* frames, int frameCount) {
  auto& counter = *static_cast<FrameCounter*>(context);
  counter.frames += frameCount;
  ++counter.calls;
  for (int i = 0; i < frameCount * 2; ++i) frames[i] = 0.25f;
}

FrameCounter snapshot(AudioStream& stream, const FrameCounter& counter) {
  streamLock(stream);
  FrameCounter copy = counter;
  streamUnlock(stream);
  return copy;
}

TEST(AudioStream, WorkerFillsOnItsOwnAndStopsOnClose) {
  ManualRingDevice device;
  AudioStream stream;
  FrameCounter counter;
  ASSERT_TRUE(streamOpen(stream, device, countFrames, &counter));

  // Without a wake the worker still comes round within its period.
  device.setCursor(4000);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (snapshot(stream, counter).frames < 1000 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(snapshot(stream, counter).frames, 1000);
  streamClose(stream);
  EXPECT_FALSE(device.isOpen());
  int calls = counter.calls;
  device.setCursor(12000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(counter.calls, calls);
}

TEST(AudioStream, AWakeMakesTheWorkerFillAtOnce) {
  // With a worker period of a minute only the wake can bring the fill within
  // the deadline.
  ManualRingDevice device;
  AudioStream stream;
  stream.workerPeriodMs = 60000;
  FrameCounter counter;
  ASSERT_TRUE(streamOpen(stream, device, countFrames, &counter));
  const long long before = snapshot(stream, counter).frames;
  device.setCursor(4000);
  streamWake(stream);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (snapshot(stream, counter).frames < before + 1000 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(snapshot(stream, counter).frames, before + 1000);
  EXPECT_EQ(device.samples()[4000 / 2 - 1], 8192);
  streamClose(stream);
}

}  // namespace
