// Filter unit: responses measured from rendered sines, resonance, stride,
// the Off type and rounded types above 7, and bounded state under noise.
#include "synth/units/filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/signals.h"

namespace {

using namespace testsig;

Filter makeFilter(float type, float cutoff, float resonance, int rate = 44100) {
  Filter f{};
  reset(f);
  const float t[3] = {type, cutoff, resonance};
  setup(f, t, constantsAt(rate));
  return f;
}

void retune(Filter& f, float type, float cutoff, float resonance, int rate = 44100) {
  const float t[3] = {type, cutoff, resonance};
  setup(f, t, constantsAt(rate));
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

// Frequency from upward zero crossings over [from, to).
double crossingHz(const std::vector<float>& x, int from, int to, int rate = 44100) {
  int first = -1, last = -1, count = 0;
  for (int i = from + 1; i < to; ++i) {
    if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
      if (first < 0) first = i;
      last = i;
      ++count;
    }
  }
  if (count < 2) return 0.0;
  return static_cast<double>(count - 1) * rate / (last - first);
}

bool finiteState(const Filter& f) {
  return std::isfinite(f.low) && std::isfinite(f.band) && std::isfinite(f.lastInput) &&
         std::isfinite(f.y1) && std::isfinite(f.y2) && std::isfinite(f.y3) && std::isfinite(f.y4);
}

// Cutoff 64 lies near 440 Hz; 12.8 cutoff steps make an octave.
constexpr float kMidCutoff = 64.0f;
constexpr double kNearCutoffHz = 440.0;

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

// An impulse, then silence: returns the output.
std::vector<float> impulseResponse(Filter& f, int count) {
  std::vector<float> buf(count, 0.0f);
  buf[0] = 1.0f;
  renderTicks(f, buf);
  return buf;
}

TEST(FilterResonance, StateVariableAtFullResonanceRingsAtTheCutoff) {
  Filter f = makeFilter(2.0f, kMidCutoff, 128.0f);
  const std::vector<float> out = impulseResponse(f, 3 * 44100);
  const double early = rmsOf(out, 0, 4410);
  const double late = rmsOf(out, 2 * 44100, 3 * 44100);
  EXPECT_GT(early, 0.001);
  EXPECT_GT(late, 0.8 * early);  // undamped: no decay after two seconds
  EXPECT_NEAR(crossingHz(out, 44100, 3 * 44100), kNearCutoffHz, 10.0);

  // With a little damping the same filter dies away.
  Filter damped = makeFilter(2.0f, kMidCutoff, 120.0f);
  const std::vector<float> fading = impulseResponse(damped, 3 * 44100);
  EXPECT_LT(rmsOf(fading, 2 * 44100, 3 * 44100), 0.01 * rmsOf(fading, 0, 4410));
}

TEST(FilterResonance, FourPoleAtFullResonanceOscillatesAndTracksTheCutoff) {
  Filter f = makeFilter(6.0f, kMidCutoff, 128.0f);
  const std::vector<float> out = impulseResponse(f, 2 * 44100);
  EXPECT_GT(rmsOf(out, 44100, 2 * 44100), 0.2);  // a sustained, saturated sine
  const double low = crossingHz(out, 44100, 2 * 44100);

  Filter octave = makeFilter(6.0f, kMidCutoff + 12.8f, 128.0f);
  const std::vector<float> up = impulseResponse(octave, 2 * 44100);
  const double high = crossingHz(up, 44100, 2 * 44100);
  EXPECT_GT(low, 200.0);
  EXPECT_LT(low, 600.0);
  EXPECT_NEAR(high / low, 2.0, 0.1);
}

TEST(FilterSetup, CutoffIsTheSameInHertzAtAnySampleRate) {
  for (int rate : {22050, 48000, 96000}) {
    SCOPED_TRACE(rate);
    Filter f = makeFilter(1.0f, kMidCutoff, 128.0f, rate);
    const std::vector<float> out = impulseResponse(f, rate);
    EXPECT_NEAR(crossingHz(out, rate / 2, rate, rate), kNearCutoffHz, 10.0);
  }
}

TEST(FilterStride, StrideTwoFiltersOneSideAndLeavesTheOther) {
  const int frames = 1024;
  const std::vector<float> left = sine(3520.0, frames);
  std::vector<float> stereo(2 * frames);
  for (int i = 0; i < frames; ++i) {
    stereo[2 * i] = left[i];
    stereo[2 * i + 1] = static_cast<float>(i) * 0.001f;
  }
  for (float type : {0.0f, 1.0f, 4.0f, 6.0f, 7.0f}) {
    SCOPED_TRACE(type);
    Filter mono = makeFilter(type, kMidCutoff, 100.0f);
    std::vector<float> expected = left;
    render(mono, expected.data(), expected.data(), frames);

    // In place and buffer to buffer; the other side of the output keeps its marker.
    Filter inPlace = makeFilter(type, kMidCutoff, 100.0f);
    inPlace.stride = 2;
    std::vector<float> a = stereo;
    render(inPlace, a.data(), a.data(), frames);
    Filter apart = makeFilter(type, kMidCutoff, 100.0f);
    apart.stride = 2;
    std::vector<float> b(2 * frames, -7.0f);
    render(apart, stereo.data(), b.data(), frames);
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(a[2 * i], expected[i]) << i;
      ASSERT_EQ(b[2 * i], expected[i]) << i;
      ASSERT_EQ(a[2 * i + 1], stereo[2 * i + 1]) << i;
      ASSERT_EQ(b[2 * i + 1], -7.0f) << i;
    }
  }
}

TEST(FilterOff, TypeZeroLeavesBufferAndStatesAlone) {
  Filter f = makeFilter(1.0f, kMidCutoff, 64.0f);
  std::vector<float> warm = sine(220.0, 1000);
  renderTicks(f, warm);
  const Filter before = f;

  retune(f, 0.0f, kMidCutoff, 64.0f);
  std::vector<float> buf = sine(1000.0, 512);
  const std::vector<float> original = buf;
  render(f, buf.data(), buf.data(), 512);
  EXPECT_EQ(buf, original);
  EXPECT_EQ(f.low, before.low);
  EXPECT_EQ(f.band, before.band);

  // Switching back carries on from the kept states rather than from silence.
  Filter continued = before;
  Filter fresh = makeFilter(1.0f, kMidCutoff, 64.0f);
  retune(f, 1.0f, kMidCutoff, 64.0f);
  float a = 0.0f, b = 0.0f, c = 0.0f;
  render(f, &a, &a, 1);
  render(continued, &b, &b, 1);
  render(fresh, &c, &c, 1);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(FilterSetup, TypesAboveSevenRunTheLowThreeBits) {
  // 14 renders as the four-pole low-pass with the same coefficients as 6.
  Filter six = makeFilter(6.0f, 50.0f, 90.0f);
  Filter fourteen = makeFilter(14.0f, 50.0f, 90.0f);
  std::vector<float> a = sine(300.0, 2000), b = a;
  renderTicks(six, a);
  renderTicks(fourteen, b);
  EXPECT_EQ(a, b);

  // 8 renders as Off.
  Filter eight = makeFilter(8.0f, 50.0f, 90.0f);
  std::vector<float> c = sine(300.0, 256);
  const std::vector<float> original = c;
  render(eight, c.data(), c.data(), 256);
  EXPECT_EQ(c, original);
}

TEST(FilterSetup, StateVariableTypesAboveEightKeepTheLastStateVariableTuning) {
  // Set up as a low-pass near 440 Hz, then as type 9 with the cutoff wide
  // open: type 9 computes four-pole values and keeps filtering near 440 Hz.
  Filter f = makeFilter(1.0f, kMidCutoff, 0.0f);
  retune(f, 9.0f, 127.0f, 0.0f);
  std::vector<float> buf = sine(3520.0, 44100);
  renderTicks(f, buf);
  EXPECT_LT(rmsOf(buf, 22050, 44100) / 0.35355, 0.03);

  // Type 128 reads as negative in eight bits: it tunes the state-variable
  // kind (and renders as Off); a following type 9 uses that tuning.
  Filter g = makeFilter(1.0f, kMidCutoff, 0.0f);
  retune(g, 128.0f, 127.0f, 0.0f);
  std::vector<float> passed = sine(3520.0, 1024);
  const std::vector<float> original = passed;
  render(g, passed.data(), passed.data(), 1024);
  EXPECT_EQ(passed, original);
  retune(g, 9.0f, 0.0f, 0.0f);
  std::vector<float> open = sine(3520.0, 44100);
  renderTicks(g, open);
  EXPECT_GT(rmsOf(open, 22050, 44100) / 0.35355, 0.9);
}

// Inputs well above full scale (three oscillators, or a resonant filter in
// front) must not throw the four-pole feedback loop into a runaway.
TEST(FilterSafety, FourPoleStaysBoundedUnderOverload) {
  for (float resonance : {0.0f, 64.0f, 128.0f}) {
    for (float amplitude : {3.0f, 30.0f}) {
      Filter f = makeFilter(6.0f, 127.0f, resonance);
      std::vector<float> buf(44100);
      for (size_t i = 0; i < buf.size(); ++i) buf[i] = ((i / 200) & 1) ? amplitude : -amplitude;
      renderTicks(f, buf);
      float peak = 0.0f;
      for (float s : buf) peak = std::max(peak, std::fabs(s));
      EXPECT_TRUE(finiteState(f));
      EXPECT_LT(peak, 1.0f) << resonance << " " << amplitude;
    }
  }
}

// The last stage saturates on a curve that rises to its peak and holds it: a
// louder input into the four-pole low-pass never comes out quieter (three
// full-level pulse oscillators once came out at a quarter of one).
TEST(FilterSafety, LouderFourPoleInputIsNeverQuieter) {
  for (float cutoff : {kMidCutoff, 110.0f, 127.0f}) {
    for (float resonance : {0.0f, 64.0f}) {
      double previous = 0.0;
      for (float amplitude : {0.5f, 1.0f, 2.0f, 3.0f, 6.0f}) {
        Filter f = makeFilter(6.0f, cutoff, resonance);
        std::vector<float> buf(44100);
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = ((i / 100) & 1) ? amplitude : -amplitude;
        renderTicks(f, buf);
        const double level = rmsOf(buf, 22050, 44100);
        EXPECT_GE(level, previous) << cutoff << " " << resonance << " " << amplitude;
        previous = level;
      }
    }
  }
}

// Below about 36 kHz the cutoff coefficients reach past the state-variable
// step's stability limit; the filter must still settle.
TEST(FilterSafety, LowSampleRatesStayStableAtTheTopCutoff) {
  for (int rate : {8000, 22050, 32000}) {
    for (float type : {1.0f, 3.0f, 6.0f}) {
      Filter f = makeFilter(type, 128.0f, 0.0f, rate);
      std::vector<float> buf = whiteNoise(size_t(rate));
      renderTicks(f, buf);
      EXPECT_TRUE(finiteState(f)) << rate << " " << type;
      EXPECT_LT(rmsOf(buf, rate / 2, rate), 2.0) << rate << " " << type;
    }
  }
}

}  // namespace
