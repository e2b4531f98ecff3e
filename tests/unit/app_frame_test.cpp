// The frame-rate title and the shader clock, driven by a controlled clock.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/frame.h"

namespace {

struct TitleUpdate {
  int32_t now;
  int32_t framesPerSecond;
};

// Feeds one frame per clock reading and records every title update.
std::vector<TitleUpdate> runFrames(FpsCounter& fps, const std::vector<int32_t>& clock) {
  std::vector<TitleUpdate> updates;
  for (int32_t now : clock) {
    if (countFrame(fps, now)) updates.push_back({now, fps.framesPerSecond});
  }
  return updates;
}

// Millisecond readings of a steady frame rate, as a clock that truncates.
std::vector<int32_t> steadyClock(int32_t first, double framesPerSecond, int frames) {
  std::vector<int32_t> clock;
  for (int i = 0; i < frames; ++i) {
    clock.push_back(first + static_cast<int32_t>(std::floor(i * 1000.0 / framesPerSecond)));
  }
  return clock;
}

TEST(FpsTitle, SlowAndStalledFramesAreCountedInTheirSpan) {
  FpsCounter fps;
  // Five frames a second, then a 10 s stall (a window drag), then 30 a second.
  std::vector<int32_t> clock = steadyClock(1, 5.0, 11);  // 1 .. 2001
  for (int32_t now : steadyClock(12001, 30.0, 61)) clock.push_back(now);
  const auto updates = runFrames(fps, clock);
  ASSERT_EQ(updates.size(), 4u);
  EXPECT_EQ(updates[0].framesPerSecond, 1);  // at 1
  EXPECT_EQ(updates[1].framesPerSecond, 6);  // 201 .. 1201
  // 1401 .. 2001, closed by the first frame after the stall.
  EXPECT_EQ(updates[2].now, 12001);
  EXPECT_EQ(updates[2].framesPerSecond, 5);
  EXPECT_EQ(updates[3].framesPerSecond, 31);  // 12034 .. 13034
}

TEST(ShaderTime, SecondsFromTheStartOfTheMusic) {
  EXPECT_FLOAT_EQ(shaderTime(1000, 1000), 0.0f);
  EXPECT_FLOAT_EQ(shaderTime(3500, 1000), 2.5f);
  EXPECT_FLOAT_EQ(shaderTime(-200, -1200), 1.0f);
  // Ten minutes in, the millisecond still shows in the float.
  EXPECT_NE(shaderTime(600001, 0), shaderTime(600000, 0));
  EXPECT_NEAR(shaderTime(600001, 0), 600.001f, 1e-4f);
}

}  // namespace
