// Oscillator unit: pitch and band-averaged shapes against their closed-form
// interval means (blocks against one sample at a time are in synth_lanes_test).
#include "synth/units/oscillator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"
#include "synth/units/numeric.h"

namespace {

using testsig::constantsAt;

constexpr int kRate = 44100;
constexpr int kTick = 128;

struct OscParams {
  float mode = 1, ring = 0, transpose = 64, fine = 64, colour = 64, level = 128;
};

Oscillator makeOsc(const OscParams& p, float pitch = 60.0f, int index = 0) {
  Oscillator o{};
  reset(o, index);
  o.pitch = pitch;
  const float values[6] = {p.mode, p.ring, p.transpose, p.fine, p.colour, p.level};
  setup(o, values, constantsAt(kRate));
  return o;
}

// Renders `total` samples in ticks of 128 into a zeroed buffer per tick.
std::vector<float> renderTicks(Oscillator& o, int total) {
  std::vector<float> out(total, 0.0f);
  for (int i = 0; i < total; i += kTick)
    render(o, out.data() + i, std::min(kTick, total - i), nullptr, nullptr);
  return out;
}

// ---- closed-form means of the ideal shapes, in double --------------------

double frac(uint32_t phase) {
  return (phase >> 9) / 8388608.0;
}

// Integral of the ideal TriSaw from 0 to s (s in [0, 1]).
double triSawIntegral(double s, double pw, double g) {
  if (s <= pw) return -g * s + (pw > 0 ? g / pw * s * s : 0.0);
  // The rising part integrates to 0 at the break; so does the whole cycle.
  const double a = -g / (1 - pw);
  return g * (s - pw) + a * (s - pw) * (s - pw);
}

double pulseIntegral(double s, double pw, double g) {
  return s <= pw ? g * s : g * pw - g * (s - pw);
}

template <typename Integral>
double intervalMean(uint32_t phase, uint32_t step, uint32_t threshold, double g,
                    Integral integral) {
  const double t = frac(phase), d = frac(step), pw = frac(threshold);
  if (d == 0) {  // no interval: the value at t
    const double e = 1e-9;
    return (integral(t + e, pw, g) - integral(t, pw, g)) / e;
  }
  const double start = t - d;
  if (start >= 0) return (integral(t, pw, g) - integral(start, pw, g)) / d;
  return (integral(t, pw, g) + integral(1.0, pw, g) - integral(start + 1.0, pw, g)) / d;
}

double triSawMean(uint32_t phase, uint32_t step, uint32_t threshold, double g) {
  return intervalMean(phase, step, threshold, g, triSawIntegral);
}
double pulseMean(uint32_t phase, uint32_t step, uint32_t threshold, double g) {
  return intervalMean(phase, step, threshold, g, pulseIntegral);
}

struct ShapeCase {
  float pitch, colour;
};

// Pitches from a slow sweep to the saturated half-cycle step, colours from
// the falling saw through the triangle to an almost pure rising saw.
const ShapeCase kShapeCases[] = {
    {36, 64},  {60, 64},  {60, 1},  {60, 127}, {60, 0},  {60, 128},  {84, 20},
    {96, 100}, {108, 64}, {120, 5}, {127, 64}, {135, 3}, {140, 125}, {190, 64},
};

// Every sample of both band-averaged shapes is the mean of the ideal
// waveform over the phase interval the sample covers, whatever the chunking.
TEST(OscillatorShapes, SamplesAreIntervalMeansOfTheIdealWave) {
  const int chunks[] = {1, 3, 128, 7, 64, 5, 128, 2};
  for (int mode : {1, 2}) {
    for (const ShapeCase& c : kShapeCases) {
      Oscillator o = makeOsc({.mode = float(mode), .colour = c.colour, .level = 100}, c.pitch);
      o.phase = 0x12345678u;
      const double g = o.level;
      const double pw = frac(o.colourThreshold);
      // Samples whose interval holds a corner come from quotients by the step:
      // their float rounding (about one part in 2^23 of the slopes) grows by 1/d.
      const double scale = g + g / (1 - pw) + (pw > 0 ? g / pw : 0);
      const double d = frac(o.phaseStep);
      const double smooth = 2.5e-7 * scale;
      const double corner = d > 0 ? 2.5e-7 * scale * (2 + 1 / d) : smooth;
      int ci = 0;
      for (int done = 0; done < 2000;) {
        const int n = chunks[ci++ % 8];
        std::vector<float> buf(n, 0.0f);
        const uint32_t start = o.phase;
        render(o, buf.data(), n, nullptr, nullptr);
        for (int i = 0; i < n; ++i) {
          const uint32_t ph = start + uint32_t(i) * o.phaseStep;
          const double want = mode == 1 ? triSawMean(ph, o.phaseStep, o.colourThreshold, g)
                                        : pulseMean(ph, o.phaseStep, o.colourThreshold, g);
          const double t = frac(ph);
          const bool hasCorner = t - d < 0 || (t - d < pw + 1e-7 && t > pw - 1e-7);
          ASSERT_NEAR(buf[i], want, hasCorner ? corner : smooth)
              << "mode " << mode << " pitch " << c.pitch << " colour " << c.colour << " sample "
              << done + i;
        }
        done += n;
      }
    }
  }
}

// ---- pitch --------------------------------------------------------------

TEST(OscillatorPitch, NotesSoundAtTheirFrequencies) {
  struct Case {
    float pitch, transpose, fine;
    double hz;
  } cases[] = {
      {60, 64, 64, 130.81},                               // note 60, no offsets
      {72, 64, 64, 261.63},                               // an octave up
      {60, 76, 64, 261.63},                               // transpose +12
      {60, 64, 128, 130.8128 * std::pow(2.0, 0.5 / 12)},  // fine tune +half a semitone
      {48, 64, 0, 65.4064 * std::pow(2.0, -0.5 / 12)},
  };
  for (const Case& c : cases) {
    for (float mode : {1.0f, 3.0f}) {
      Oscillator o =
          makeOsc({.mode = float(mode), .transpose = c.transpose, .fine = c.fine}, c.pitch);
      EXPECT_NEAR(testpatch::frequencyOf(renderTicks(o, kRate), kRate), c.hz, 0.01)
          << "pitch " << c.pitch << " mode " << mode;
    }
  }
}

// ---- noise --------------------------------------------------------------

}  // namespace
