#include "synth/units/reverb.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "synth/units/elementary.h"

namespace {

constexpr float kCombBase[kReverbCombs] = {0.966384590f, 0.958186388f, 0.953783929f, 0.950933158f};
constexpr float kAllPassBase[kReverbAllPasses] = {0.994260073f, 0.998044729f};
constexpr float kDecayReference = 64.0f;

constexpr std::array<int, kReverbLines> lineOffsets() {
  std::array<int, kReverbLines> offsets{};
  int at = 0;
  for (int i = 0; i < kReverbLines; ++i) {
    offsets[i] = at;
    at += kReverbLineLength[i];
  }
  return offsets;
}
constexpr std::array<int, kReverbLines> kLineOffset = lineOffsets();
static_assert(kLineOffset[kReverbLines - 1] + kReverbLineLength[kReverbLines - 1] == kReverbMemory);

// 1 for a non-zero number below the smallest normal single, else 0. Works on
// the stored bits, so it sees exactly what was written and no compiler
// reordering of floating-point status flags can hide it.
inline uint32_t denormalBit(float v) {
  const uint32_t magnitude = std::bit_cast<uint32_t>(v) & 0x7FFFFFFFu;
  return (magnitude - 1u) < 0x007FFFFFu ? 1u : 0u;
}

// One comb: read, feed back with the input, one-pole damping, write back.
struct Comb {
  float* line;
  int32_t length;
  int32_t index;
  float gain;
  float state;

  template <bool kSubtract>
  inline float step(float x, float damping, uint32_t& denormal) {
    const float fed = kSubtract ? line[index] * gain - x : line[index] * gain + x;
    state = state + (fed - state) * damping;
    denormal |= denormalBit(state);
    line[index] = state;
    if (++index == length) index = 0;
    return state;
  }
};

struct AllPass {
  float* line;
  int32_t length;
  int32_t index;
  float gain;

  inline float step(float s, uint32_t& denormal) {
    const float b = line[index];
    const float w = s + gain * b;
    denormal |= denormalBit(w);
    line[index] = w;
    if (++index == length) index = 0;
    return b - gain * w;
  }
};

// The running state of one side: its combs, all-passes and output low cut.
struct Side {
  Comb comb[kReverbCombs];
  AllPass allPass[kReverbAllPasses];
  float out;

  Side(Reverb& r, int side) : out(r.outputState[side]) {
    const int first = side * kReverbLinesPerSide;
    for (int k = 0; k < kReverbCombs; ++k) {
      const int line = first + k;
      comb[k] = {r.lines + kLineOffset[line], kReverbLineLength[line], r.index[line], r.combGain[k],
                 r.combState[side * kReverbCombs + k]};
    }
    for (int k = 0; k < kReverbAllPasses; ++k) {
      const int line = first + kReverbCombs + k;
      allPass[k] = {r.lines + kLineOffset[line], kReverbLineLength[line], r.index[line],
                    r.allPassGain[k]};
    }
  }

  void store(Reverb& r, int side) const {
    const int first = side * kReverbLinesPerSide;
    for (int k = 0; k < kReverbCombs; ++k) {
      r.index[first + k] = comb[k].index;
      r.combState[side * kReverbCombs + k] = comb[k].state;
    }
    for (int k = 0; k < kReverbAllPasses; ++k) {
      r.index[first + kReverbCombs + k] = allPass[k].index;
    }
    r.outputState[side] = out;
  }

  // One frame of this side; returns what it adds to the master.
  [[gnu::always_inline]] inline float step(float x, float damping, float lowCut,
                                           uint32_t& denormal) {
    // Alternating input signs: the combs' responses to the steady guard
    // largely cancel in the sum.
    float s = 0.0f;
    s = s + comb[0].step<false>(x, damping, denormal);
    s = s + comb[1].step<true>(x, damping, denormal);
    s = s + comb[2].step<false>(x, damping, denormal);
    s = s + comb[3].step<true>(x, damping, denormal);
    s = allPass[0].step(s, denormal);
    s = allPass[1].step(s, denormal);
    out = out + (s - out) * lowCut;
    denormal |= denormalBit(out);
    return s - out;
  }
};

// Both sides over the block in one loop, so that their recursions overlap
// (they share no state); returns non-zero if any value stored on the way was
// denormal.
uint32_t renderSides(Reverb& r, const float* bus, float* master, int frames) {
  Side left(r, 0);
  Side right(r, 1);
  const float inputGain = r.inputGain;
  const float damping = r.damping;
  const float lowCut = r.lowCut;
  uint32_t denormal = 0;
  for (int i = 0; i < frames; ++i) {
    const float x = bus[i] * inputGain + kDenormGuard;
    master[2 * i] += left.step(x, damping, lowCut, denormal);
    master[2 * i + 1] += right.step(x, damping, lowCut, denormal);
  }
  left.store(r, 0);
  right.store(r, 1);
  return denormal;
}

// Silences the tail completely; the settings stay.
void clearTail(Reverb& r) {
  std::fill(std::begin(r.index), std::end(r.index), 0);
  std::fill(std::begin(r.combState), std::end(r.combState), 0.0f);
  std::fill(std::begin(r.outputState), std::end(r.outputState), 0.0f);
  std::fill(std::begin(r.lines), std::end(r.lines), 0.0f);
}

}  // namespace

void reset(Reverb& r) {
  static_assert(std::is_trivially_copyable_v<Reverb>);
  std::memset(&r, 0, sizeof r);
}

void setup(Reverb& r, const float* g, const SynthConstants& k) {
  // The decay exponent: 4096 at g0 = 0 (gains vanish), about 1 at 63, 0.25 at 127.
  const float ratio = kDecayReference / (g[0] + 1.0f);
  const float t = ratio * ratio * k.rateScale;
  for (int i = 0; i < kReverbCombs; ++i) r.combGain[i] = portablePow(kCombBase[i], t);
  for (int i = 0; i < kReverbAllPasses; ++i) r.allPassGain[i] = portablePow(kAllPassBase[i], t);
  // One-pole coefficients beyond 1 overshoot and, inside the feedback of the
  // combs, diverge: settings past 128 stay at the strongest stable value.
  r.damping = std::min(g[1] / kParamFullScale * k.rateScale, 1.0f);
  const float cut = g[2] / kParamFullScale;
  r.lowCut = std::min(cut * cut * cut * cut * k.rateScale, 1.0f);
  r.inputGain = g[3] / kParamFullScale;
}

void render(Reverb& r, const float* bus, float* master, int frames) {
  if (renderSides(r, bus, master, frames) != 0) clearTail(r);
}
