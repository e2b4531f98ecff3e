#pragma once
// Test signals and measurements for the synthesizer's units: derived
// constants at a sample rate, reproducible noise, sines, levels.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "synth/constants.h"

namespace testsig {

// Every derived constant at `rate`, from the synthesizer itself.
SynthConstants constantsAt(int rate = 44100);

std::vector<float> sine(double hz, size_t count, double amplitude = 0.5, int rate = 44100);

// Root mean square and peak magnitude over [from, to), every `stride`-th
// sample from `first` (stride 2 reads one side of an interleaved buffer;
// positions count frames).
double rmsOf(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX, int stride = 1,
             int first = 0);
float peakOf(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX, int stride = 1,
             int first = 0);
bool allFinite(const std::vector<float>& x);
// Equal sizes and equal bit patterns, sample by sample.
bool sameBits(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace testsig
