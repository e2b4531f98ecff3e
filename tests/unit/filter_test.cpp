// Filter unit: responses measured from rendered sines, and bounded output
// under overload.
#include "synth/units/filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/signals.h"

namespace {

using namespace testsig;

Filter makeFilter(float type, float cutoff, float resonance) {
  Filter f{};
  reset(f);
  const float t[3] = {type, cutoff, resonance};
  setup(f, t, constantsAt(44100));
  return f;
}

// Renders a buffer through the filter in ticks of 128, as the voice does.
void renderTicks(Filter& f, std::vector<float>& buf) {
  const int n = static_cast<int>(buf.size());
  for (int i = 0; i < n; i += 128) render(f, buf.data() + i, buf.data() + i, std::min(128, n - i));
}

// Level of the varying part over [from, to): the denormal guards leave a tiny
// DC offset that would otherwise dominate deep in a stop band.
double acRms(const std::vector<float>& x, int from, int to) {
  double mean = 0.0;
  for (int i = from; i < to; ++i) mean += x[i];
  mean /= (to - from);
  double sum = 0.0;
  for (int i = from; i < to; ++i) sum += (x[i] - mean) * (x[i] - mean);
  return std::sqrt(sum / (to - from));
}

// Steady-state gain at one frequency: a second of sine, the first half settles.
// The level stays low enough for the four-pole saturation to be negligible.
double gainAt(float type, float cutoff, float resonance, double hz) {
  Filter f = makeFilter(type, cutoff, resonance);
  const int n = 44100;
  std::vector<float> buf = sine(hz, n, 0.05);
  const double in = acRms(buf, n / 2, n);
  renderTicks(f, buf);
  return acRms(buf, n / 2, n) / in;
}

// Cutoff 64 lies near 440 Hz.
constexpr float kMidCutoff = 64.0f;

// Steady-state gains of every type around a cutoff near 440 Hz: low-passes
// (state-variable 1, four-pole 6) and high-passes (3; 7 is the input minus
// the four-pole low-pass, whose phase lag leaves a gentler slope), band-pass
// and notch at the cutoff, and the peak type, flat without resonance.
TEST(FilterResponse, EachTypePassesAndStopsWhereItShould) {
  const struct {
    float type, resonance;
    double hz, low, high;
  } cases[] = {
      {1, 0, 55, 0.9, 1.1},    {1, 0, 3520, 0, 0.03},   {6, 0, 55, 0.9, 1.1},
      {6, 0, 3520, 0, 0.003},  {3, 0, 55, 0, 0.03},     {3, 0, 7040, 0.9, 1.1},
      {7, 0, 11, 0, 0.15},     {7, 0, 55, 0, 0.6},      {7, 0, 7040, 0.9, 1.1},
      {2, 64, 440, 0.9, 10},   {2, 64, 55, 0, 0.18},    {2, 64, 3520, 0, 0.18},
      {4, 0, 440, 0, 0.05},    {4, 0, 55, 0.95, 1.05},  {4, 0, 3520, 0.95, 1.05},
      {5, 0, 55, 0.95, 1.05},  {5, 0, 440, 0.95, 1.05}, {5, 0, 3520, 0.95, 1.05},
      {5, 96, 440, 3.0, 10.0}, {5, 96, 55, 0.95, 1.05},
  };
  for (const auto& c : cases) {
    const double gain = gainAt(c.type, kMidCutoff, c.resonance, c.hz);
    EXPECT_GE(gain, c.low) << "type " << c.type << " at " << c.hz << " Hz";
    EXPECT_LE(gain, c.high) << "type " << c.type << " at " << c.hz << " Hz";
  }
}

// Inputs well above full scale (three oscillators, or a resonant filter in
// front) must not throw the four-pole feedback loop into a runaway, and its
// last stage saturates on a curve that holds its peak: a louder input never
// comes out quieter (three full-level pulse oscillators once came out at a
// quarter of one).
TEST(FilterSafety, LouderFourPoleInputIsBoundedAndNeverQuieter) {
  for (float cutoff : {kMidCutoff, 127.0f}) {
    for (float resonance : {0.0f, 64.0f}) {
      double previous = 0.0;
      for (float amplitude : {0.5f, 1.0f, 3.0f, 30.0f}) {
        Filter f = makeFilter(6.0f, cutoff, resonance);
        std::vector<float> buf(44100);
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = ((i / 100) & 1) ? amplitude : -amplitude;
        renderTicks(f, buf);
        const double level = rmsOf(buf, 22050, 44100);
        EXPECT_GE(level, previous) << cutoff << " " << resonance << " " << amplitude;
        EXPECT_LT(peakOf(buf), 1.0f) << cutoff << " " << resonance << " " << amplitude;
        previous = level;
      }
    }
  }
}

}  // namespace
