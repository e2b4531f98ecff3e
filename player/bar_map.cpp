#include "player/bar_map.h"

#include <memory>

#include "player/sequencer.h"

namespace {

constexpr int32_t kDefaultNumerator = 4;
constexpr int32_t kDefaultDenominator = 4;

// A stretch of bars of one length: bar `firstBar` starts at `startTick`.
struct BarRun {
  int64_t startTick = 0;
  int64_t firstBar = 1;
  int64_t barTicks = 1;
};

int64_t barTicksOf(const TuneImage& tune, int32_t numerator, int32_t denominator) {
  const int64_t ticks = int64_t(numerator) * 4 * tune.ticksPerQuarter / denominator;
  return ticks < 1 ? 1 : ticks;
}

// Walks the runs of bars in order; `visit` returns false to stop. The tempo
// list is read as the sequencer delivers it: a second record at tick 0 (and
// everything after it) never takes effect.
template <typename Visit>
void forEachRun(const TuneImage& tune, Visit visit) {
  BarRun run;
  run.barTicks = barTicksOf(tune, kDefaultNumerator, kDefaultDenominator);
  int32_t numerator = kDefaultNumerator;
  int32_t denominator = kDefaultDenominator;
  int64_t tick = 0;
  for (int32_t i = 0; i < tune.tempo.count; ++i) {
    const TempoRecord t = readTempoRecord(tune.tempo, i);
    tick += t.delta;
    if (i > 0 && tick == 0) break;
    if (t.metreNumerator == numerator && t.metreDenominator == denominator) continue;
    numerator = t.metreNumerator;
    denominator = t.metreDenominator;
    // The bar in progress ends here; a change on a bar line starts the next one.
    const int64_t into = tick - run.startTick;
    const int64_t bars = into / run.barTicks + (into % run.barTicks != 0 ? 1 : 0);
    BarRun next{tick, run.firstBar + bars, barTicksOf(tune, numerator, denominator)};
    if (!visit(run, &next)) return;
    run = next;
  }
  visit(run, nullptr);
}

}  // namespace

int64_t barStartTick(const TuneImage& tune, int64_t bar) {
  if (bar < 1) bar = 1;
  int64_t start = 0;
  forEachRun(tune, [&](const BarRun& run, const BarRun* next) {
    if (next && next->firstBar <= bar) return true;
    start = run.startTick + (bar - run.firstBar) * run.barTicks;
    return false;
  });
  return start;
}

BarTick barAtTick(const TuneImage& tune, int64_t tick) {
  if (tick < 0) tick = 0;
  BarTick at;
  forEachRun(tune, [&](const BarRun& run, const BarRun* next) {
    if (next && next->startTick <= tick) return true;
    const int64_t into = tick - run.startTick;
    at.bar = run.firstBar + into / run.barTicks;
    at.tick = into % run.barTicks;
    return false;
  });
  return at;
}

int64_t barCount(const TuneImage& tune) {
  const BarTick last = barAtTick(tune, tune.lengthTicks);
  return last.tick == 0 && last.bar > 1 ? last.bar - 1 : last.bar;
}

int64_t tickFrame(const TuneImage& tune, int sampleRate, int64_t tick) {
  auto scratch = std::make_unique<PlayerState>();
  scratch->tune = tune;
  scratch->sampleRate = sampleRate;
  seekSequencer(*scratch, tick);
  return scratch->positionFrames;
}
