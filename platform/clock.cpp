#include "platform/clock.h"

#include <SDL2/SDL_timer.h>

int32_t clockFromSources(ClockState& clock, uint64_t frequency, uint64_t counter, uint32_t ticks) {
  if (!clock.calibrated) {
    clock.countsPerMillisecond = frequency / 1000;
    clock.calibrated = true;
  }
  if (clock.countsPerMillisecond == 0) return static_cast<int32_t>(ticks);
  // Truncation to 32 bits wraps after about 24.8 days; callers use differences.
  return static_cast<int32_t>(static_cast<uint32_t>(counter / clock.countsPerMillisecond));
}

int32_t clockMilliseconds(ClockState& clock) {
  // The frequency is only read on the first call; only the source in use is read.
  const uint64_t frequency = clock.calibrated ? 0 : SDL_GetPerformanceFrequency();
  const bool counter = clock.calibrated ? clock.countsPerMillisecond != 0 : frequency >= 1000;
  return clockFromSources(clock, frequency, counter ? SDL_GetPerformanceCounter() : 0,
                          counter ? 0 : SDL_GetTicks());
}
