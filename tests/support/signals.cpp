#include "signals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "synth/synth.h"

namespace testsig {

SynthConstants constantsAt(int rate) {
  const auto state = std::make_unique<SynthState>();
  synthInit(*state, nullptr, 0, rate);
  return state->constants;
}

std::vector<float> sine(double hz, size_t count, double amplitude, int rate) {
  std::vector<float> s(count);
  for (size_t i = 0; i < count; ++i)
    s[i] = static_cast<float>(amplitude * std::sin(6.283185307179586 * hz * double(i) / rate));
  return s;
}

namespace {
// Frames [from, to) of one side, clamped to the buffer.
template <typename F>
void eachSample(const std::vector<float>& x, size_t from, size_t to, int stride, int first, F f) {
  const size_t frames = (x.size() + size_t(stride) - 1 - size_t(first)) / size_t(stride);
  for (size_t i = from; i < std::min(to, frames); ++i) f(x[i * size_t(stride) + size_t(first)]);
}
}  // namespace

double rmsOf(const std::vector<float>& x, size_t from, size_t to, int stride, int first) {
  double sum = 0.0;
  size_t n = 0;
  eachSample(x, from, to, stride, first, [&](float v) {
    sum += double(v) * v;
    ++n;
  });
  return n ? std::sqrt(sum / double(n)) : 0.0;
}

float peakOf(const std::vector<float>& x, size_t from, size_t to, int stride, int first) {
  float p = 0.0f;
  eachSample(x, from, to, stride, first, [&](float v) { p = std::max(p, std::fabs(v)); });
  return p;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

bool allFinite(const std::vector<float>& x) {
  return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

}  // namespace testsig
