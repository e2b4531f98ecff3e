// The millisecond clock: counter rate fixed on first use, tick count where the
// counter is too slow, 32-bit truncation that keeps differences right, and
// readings that follow real time.
#include <SDL2/SDL_timer.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/clock.h"
#include "platform/font_lookup.h"

namespace {

TEST(ClockTest, RateFixedOnFirstUseSlowCounterFallsBackAndTruncationKeepsDifferences) {
  ClockState fast;
  EXPECT_EQ(clockFromSources(fast, 10'000'000, 123'456'789, 0), 12'345);
  // A different frequency later changes nothing: the rate was computed once.
  EXPECT_EQ(clockFromSources(fast, 1'000, 123'456'789, 0), 12'345);

  // A counter slower than 1 kHz: the tick count, for good.
  ClockState slow;
  EXPECT_EQ(clockFromSources(slow, 999, 777'777, 4'321), 4'321);
  EXPECT_EQ(clockFromSources(slow, 10'000'000, 777'777, 4'322), 4'322);
  // Tick counts above 2^31 read as negative, as the 32-bit clock does.
  EXPECT_EQ(clockFromSources(slow, 0, 0, 0x80000005u), INT32_MIN + 5);

  ClockState clock;
  const uint64_t perMs = 3'000;  // a 3 MHz counter
  const uint64_t before = ((1ull << 32) - 10) * perMs;
  const int32_t a = clockFromSources(clock, perMs * 1000, before, 0);
  const int32_t b = clockFromSources(clock, perMs * 1000, before + 25 * perMs, 0);
  EXPECT_EQ(a, -10);
  EXPECT_EQ(b, 15);
  EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(b) - static_cast<uint32_t>(a)), 25);
  // Just below 2^31 ms the reading is the largest positive value.
  EXPECT_EQ(clockFromSources(clock, 0, ((1ull << 31) - 1) * perMs, 0), INT32_MAX);
}

TEST(ClockTest, ReadingsFollowRealTime) {
  ClockState clock;
  const int32_t first = clockMilliseconds(clock);
  SDL_Delay(50);
  const int32_t second = clockMilliseconds(clock);
  const int32_t elapsed = second - first;
  EXPECT_GE(elapsed, 45);
  EXPECT_LT(elapsed, 2'000);
}

TEST(FontTest, MissingFaceFallsBackToAnInstalledSansSerifFace) {
  const FontFile wanted = findFontFile("No Such Face Anywhere 2k16");
  if (wanted.path.empty()) GTEST_SKIP() << "no fonts installed";
  const FontFile sans = findFontFile("sans-serif");
  EXPECT_EQ(wanted.path, sans.path);
  EXPECT_GE(wanted.index, 0);
}

}  // namespace
