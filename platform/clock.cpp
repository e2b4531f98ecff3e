#include "platform/clock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <SDL2/SDL_timer.h>
#endif

namespace {

// The system's counters: the high-resolution counter with its rate, and the
// millisecond tick count.
#if defined(_WIN32)
uint64_t counterFrequency() {
  LARGE_INTEGER f{};
  return QueryPerformanceFrequency(&f) ? static_cast<uint64_t>(f.QuadPart) : 0;
}
uint64_t counterValue() {
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return static_cast<uint64_t>(c.QuadPart);
}
uint32_t tickCount() {
  return GetTickCount();
}
#else
uint64_t counterFrequency() {
  return SDL_GetPerformanceFrequency();
}
uint64_t counterValue() {
  return SDL_GetPerformanceCounter();
}
uint32_t tickCount() {
  return SDL_GetTicks();
}
#endif

}  // namespace

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
  const uint64_t frequency = clock.calibrated ? 0 : counterFrequency();
  const bool counter = clock.calibrated ? clock.countsPerMillisecond != 0 : frequency >= 1000;
  return clockFromSources(clock, frequency, counter ? counterValue() : 0,
                          counter ? 0 : tickCount());
}
