// The channel strips and the master chain: each strip's units in their one
// order (the DC blockers, bass boosts and meters of all channels that run
// together share registers), the sends, the meters and the master units.
#include "synth/strip.h"

#include <algorithm>

#include "synth/units/batch.h"

namespace {

constexpr float kPeakDecay = 0.9999f;  // per frame, decaying peak meter

// out[i] += in[i] * gain over `count` samples.
void addScaled(const float* in, float* out, int count, float gain) {
  const Lanes g = Lanes(gain);
  int i = 0;
  for (; i + kLaneCount <= count; i += kLaneCount) {
    storeLanes(out + i, loadLanes(out + i) + loadLanes(in + i) * g);
  }
  for (; i < count; ++i) out[i] += in[i] * gain;
}

// bus[i] += (left + right) * gain over n frames of a stereo buffer.
void addSumToBus(const float* in, float* bus, int n, float gain) {
  const Lanes g = Lanes(gain);
  int i = 0;
  for (; i + kLaneCount <= n; i += kLaneCount) {
    const Lanes a = loadLanes(in + 2 * i);
    const Lanes b = loadLanes(in + 2 * i + kLaneCount);
    storeLanes(bus + i, loadLanes(bus + i) + (evenLanes(a, b) + oddLanes(a, b)) * g);
  }
  for (; i < n; ++i) bus[i] += (in[2 * i] + in[2 * i + 1]) * gain;
}

// Decaying peak (mode 0) or mean square (any other mode) of one tick, per
// side, for two channels in one register (left and right of one, then of
// the other). Levels are float[2] per channel.
template <bool Peak>
struct MeterKernel {
  static constexpr bool kWrites = false;
  Lanes level;
  float frames;

  MeterKernel() = default;
  MeterKernel(float* const* levels, int n)
      : level(Peak ? makeLanes(levels[0][0], levels[0][1], levels[1][0], levels[1][1]) : 0.0f),
        frames(static_cast<float>(n)) {}
  [[gnu::always_inline]] Lanes step(Lanes x) {
    if constexpr (Peak) {
      level = maxOf(level, absOf(x)) * kPeakDecay;
    } else {
      level = level + x * x;
    }
    return x;
  }
  void store(float* const* levels, int used) const {
    float v[kLaneCount];
    storeLanes(v, Peak ? level : level / frames);
    for (int c = 0; c < used; ++c) std::copy(v + 2 * c, v + 2 * c + 2, levels[c]);
  }
};

// The master DC blocker, then the one-pole low cut and, unless g is exactly
// 1, the one-pole high cut; in one loop so that the cut of one frame runs
// while the blocker works on the next. Each unit computes as on its own.
template <bool kHighCut>
void renderMasterDcCut(DcBlocker& dc, MasterCut& m, float* buf, int n, float r) {
  const float k = m.k;
  const float g = m.g;
  DcStep<float> side[2] = {{r, dc.lastInLeft, dc.lastOutLeft},
                           {r, dc.lastInRight, dc.lastOutRight}};
  float low[2] = {m.lowLeft, m.lowRight};
  float lp[2] = {m.lpLeft, m.lpRight};
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 2; ++c) {
      const float x = side[c].step(buf[2 * i + c]);
      const float h = x - low[c];
      low[c] = low[c] + k * (x - low[c]);
      lp[c] = lp[c] + g * (h - lp[c]);
      buf[2 * i + c] = kHighCut ? lp[c] : h;
    }
  }
  dc = {side[0].xPrev, side[0].yPrev, side[1].xPrev, side[1].yPrev};
  m.lowLeft = low[0];
  m.lowRight = low[1];
  m.lpLeft = lp[0];
  m.lpRight = lp[1];
}

}  // namespace

void resetChannel(SynthState& s, int channel) {
  Channel& c = s.channels[channel];
  reset(c.distortion);
  reset(c.delay);
  reset(c.compressor);
  reset(c.dcFirst);
  reset(c.dcSecond);
}

void renderStrips(SynthState& s, const int* channels, int count, int n) {
  WorkBuffers& w = s.work;
  const SynthConstants& k = s.constants;
  DcBlocker* blockers[kSynthChannels] = {};
  float* bufs[kSynthChannels] = {};
  for (int i = 0; i < count; ++i) {
    Channel& c = s.channels[channels[i]];
    bufs[i] = w.channel[channels[i]];
    if (c.auxReturnA != 0.0f) addScaled(w.auxA, bufs[i], 2 * n, c.auxReturnA);
    if (c.auxReturnB != 0.0f) addScaled(w.auxB, bufs[i], 2 * n, c.auxReturnB);
    blockers[i] = &c.dcFirst;
  }
  renderStereoLanes(blockers, count, bufs, n, k);
  BassBoost* boosts[kSynthChannels];
  float* boosted[kSynthChannels];
  int boostCount = 0;
  for (int i = 0; i < count; ++i) {
    Channel& c = s.channels[channels[i]];
    render(c.compressor, bufs[i], n);
    if (!isActive(c.bassBoost)) continue;
    boosts[boostCount] = &c.bassBoost;
    boosted[boostCount++] = bufs[i];
  }
  renderLanes(boosts, boostCount, boosted, n);
  for (int i = 0; i < count; ++i) {
    Channel& c = s.channels[channels[i]];
    if (c.effectOrder != 0) render(c.delay, bufs[i], n);
    renderStereo(c.distortion, bufs[i], bufs[i], n);
    blockers[i] = &c.dcSecond;
  }
  renderStereoLanes(blockers, count, bufs, n, k);
  for (int i = 0; i < count; ++i) {
    Channel& c = s.channels[channels[i]];
    if (c.effectOrder == 0) render(c.delay, bufs[i], n);
  }
}

void renderSends(WorkBuffers& w, const Channel& c, const float* buf, int n) {
  if (c.reverbSend != 0.0f) addSumToBus(buf, w.reverbBus, n, c.reverbSend);
  if (c.delaySend != 0.0f) addSumToBus(buf, w.delayBus, n, c.delaySend);
  if (c.auxSendA != 0.0f) addScaled(buf, w.auxA, 2 * n, c.auxSendA);
  if (c.auxSendB != 0.0f) addScaled(buf, w.auxB, 2 * n, c.auxSendB);
  addScaled(buf, w.master, 2 * n, c.mainGain);
}

void meter(float* const* bufs, float* const* levels, int count, int n, int mode) {
  if (mode == 0) {
    renderStereoBatch<MeterKernel<true>>(levels, count, bufs, n, n);
  } else {
    renderStereoBatch<MeterKernel<false>>(levels, count, bufs, n, n);
  }
}

void renderMaster(SynthState& s, int n) {
  WorkBuffers& w = s.work;
  float* master = w.master;
  render(s.reverb, w.reverbBus, master, n);
  renderGlobal(s.globalDelay, w.delayBus, master, n);
  const auto dcCut = s.masterCut.g == 1.0f ? renderMasterDcCut<false> : renderMasterDcCut<true>;
  dcCut(s.masterDc, s.masterCut, master, n, s.constants.dcCoefficient);
  render(s.masterCompressor, master, n);
  float* const levels[] = {s.masterMeter};
  meter(&master, levels, 1, n, s.meterMode);
}
