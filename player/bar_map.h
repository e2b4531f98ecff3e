#pragma once
// Bars of a tune: where each bar starts, in ticks, from the metre records of
// its tempo list. Bars are numbered from 1 and run from tick 0; a bar lasts
// numerator * 4 * ticksPerQuarter / denominator ticks of the metre in force
// (4/4 until the first record), the bars a tune source is written in. A
// record that changes the metre starts a new bar where it stands, so a bar
// cut short by a change mid-bar still counts as one.
#include <cstdint>

#include "player/tune_image.h"

struct BarTick {
  int64_t bar = 1;   // 1-based
  int64_t tick = 0;  // ticks into the bar
};

// The tick at which bar `bar` (1-based; below 1 counts as 1) starts. Bars go
// on past the tune's end in its last metre.
int64_t barStartTick(const TuneImage& tune, int64_t bar);

// The bar that holds `tick` (negative counts as 0) and the ticks into it.
BarTick barAtTick(const TuneImage& tune, int64_t tick);

// Bars the tune covers up to lengthTicks: the last is the one that holds its
// last tick, or the one before when that tick is a bar line (the tune then
// ends on the beat).
int64_t barCount(const TuneImage& tune);

// The frame at which `tick` takes effect in a playback from tick 0 at
// `sampleRate`, counted exactly as the sequencer counts it (the first tick
// that delivers anything is frame 0). A tick past the tune's last delivered
// tick gives the frame of that last tick.
int64_t tickFrame(const TuneImage& tune, int sampleRate, int64_t tick);
