#pragma once
// Millisecond clock: signed 32-bit milliseconds from an arbitrary origin, from
// the high-resolution counter where it runs at 1 kHz or more, otherwise from
// the millisecond tick count. Only differences of its readings mean anything.
#include <cstdint>

struct ClockState {
  bool calibrated = false;
  uint64_t countsPerMillisecond = 0;  // 0: the counter is too slow, use ticks
};

// One reading from the given sources. The first call fixes the counts per
// millisecond (frequency / 1000, integer division); later calls reuse it.
// With a usable counter the result is counter / countsPerMillisecond,
// truncated to 32 bits; otherwise it is the tick count.
int32_t clockFromSources(ClockState& clock, uint64_t frequency, uint64_t counter, uint32_t ticks);

// Reads the system's counters (the performance counter and the tick count).
int32_t clockMilliseconds(ClockState& clock);
