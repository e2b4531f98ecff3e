// The render loop: control tick, audio tick (voices, channel strips, master
// chain) and the hand-out of a tick's frames across render calls of any size.
#include <algorithm>
#include <cmath>

#include "synth/core.h"
#include "synth/units/batch.h"

namespace {

constexpr float kParamMax = 128.0f;
constexpr float kPeakDecay = 0.9999f;  // per frame, decaying peak meter

enum class Routing : int32_t { Single = 0, Serial = 1, Parallel = 2 };

void clear(float* buffer, int count) {
  std::fill(buffer, buffer + count, 0.0f);
}

// The amplitude ramps of one tick: amp, amp + step, ... per voice, each a
// serial sum; running them four voices to a register keeps the sums exact and
// lets them proceed in parallel. Registers holding no owned voice are skipped:
// nothing reads their ramps. Free voices ramp nothing and keep their amp.
void computeAmpRamps(SynthState& s, int n) {
  constexpr int kRegisters = kSynthVoices / kLaneCount;
  alignas(16) float amp[kSynthVoices];
  alignas(16) float step[kSynthVoices];
  int live[kRegisters];
  int liveCount = 0;
  for (int g = 0; g < kRegisters; ++g) {
    bool owned = false;
    for (int l = 0; l < kLaneCount; ++l) {
      const int v = kLaneCount * g + l;
      const bool mine = s.voiceChannel[v] >= 0;
      amp[v] = mine ? s.voices[v].amp : 0.0f;
      step[v] = mine ? s.voices[v].ampStep : 0.0f;
      owned = owned || mine;
    }
    if (owned) live[liveCount++] = g;
  }
  Lanes level[kRegisters], slope[kRegisters];
  for (int j = 0; j < liveCount; ++j) {
    level[j] = loadLanes(amp + kLaneCount * live[j]);
    slope[j] = loadLanes(step + kLaneCount * live[j]);
  }
  for (int i = 0; i < n; ++i) {
    float* row = s.work.ampRamp[i];
    for (int j = 0; j < liveCount; ++j) {
      storeLanes(row + kLaneCount * live[j], level[j]);
      level[j] = level[j] + slope[j];
    }
  }
  for (int j = 0; j < liveCount; ++j) storeLanes(amp + kLaneCount * live[j], level[j]);
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] >= 0) s.voices[v].amp = amp[v];
  }
}

// Adds the voice buffer into the channel buffer with the amplitude ramp and
// pan; two frames (four samples) per step, each sum rounded as in
// out += s * gain + guard. The first voice of a channel adds to a silent
// buffer (0 + ...) without reading it, so the buffer needs no clearing.
template <bool kFirst>
void mixVoice(const Voice& v, const float (*ramp)[kSynthVoices], int voice, const float* vb,
              float* out, int n) {
  const float gainLeft = v.gainLeft;
  const float gainRight = v.gainRight;
  const Lanes gains = makeLanes(gainLeft, gainRight, gainLeft, gainRight);
  const Lanes guard = Lanes(kDenormGuard);
  const Lanes silence = Lanes(0.0f);
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const float s0 = vb[i] * ramp[i][voice];
    const float s1 = vb[i + 1] * ramp[i + 1][voice];
    float* at = out + 2 * i;
    const Lanes before = kFirst ? silence : loadLanes(at);
    storeLanes(at, before + (makeLanes(s0, s0, s1, s1) * gains + guard));
  }
  for (; i < n; ++i) {
    const float s = vb[i] * ramp[i][voice];
    const float left = kFirst ? 0.0f : out[2 * i];
    const float right = kFirst ? 0.0f : out[2 * i + 1];
    out[2 * i] = left + (s * gainLeft + kDenormGuard);
    out[2 * i + 1] = right + (s * gainRight + kDenormGuard);
  }
}

// A voice's filter chain: filter 1, filter 2 when serial, then the shaper's
// filter mode; in parallel routing the two filters run side by side instead.
struct VoiceChain {
  Filter* stages[kMaxSerialFilters];
  int count;
  int key;  // serialKindsKey; 0 in parallel routing, which never shares lanes
  Filter* shaperFilter;
};

constexpr int kNoStageKey = 1;  // serialKindsKey of a chain where nothing runs

VoiceChain chainOf(Voice& v) {
  VoiceChain c{};
  c.shaperFilter = monoFilterStage(v.distortion);
  const auto routing = static_cast<Routing>(v.routing);
  if (routing == Routing::Parallel) return c;
  c.stages[c.count++] = &v.filter[0];
  if (routing != Routing::Single) c.stages[c.count++] = &v.filter[1];
  if (c.shaperFilter) c.stages[c.count++] = c.shaperFilter;
  c.key = serialKindsKey(c.stages, c.count);
  return c;
}

bool sharesLanes(const VoiceChain& c) {
  return c.key != 0 && c.key != kNoStageKey;
}

// Oscillators, filters and shaper of voices whose chains match (one voice, or
// several whose chains share lanes), each into its own buffer. Every unit
// keeps per-voice states only; the DC blockers are left to the caller.
void renderVoices(SynthState& s, const int* voices, const VoiceChain* const* chains, int count,
                  int n) {
  WorkBuffers& w = s.work;
  Filter* stages[kMaxLaneVoices][kMaxSerialFilters];
  int stageCounts[kMaxLaneVoices];
  float* bufs[kMaxLaneVoices];
  for (int l = 0; l < count; ++l) {
    Voice& v = s.voices[voices[l]];
    bufs[l] = w.voiceOut[voices[l]];
    clear(bufs[l], n);
    for (Oscillator& o : v.osc) render(o, bufs[l], n, w.auxA, w.auxB);
    std::copy(chains[l]->stages, chains[l]->stages + chains[l]->count, stages[l]);
    stageCounts[l] = chains[l]->count;
  }
  if (chains[0]->key == 0) {
    // Parallel routing, one voice: the filters side by side on the same input, then mixed.
    Voice& v = s.voices[voices[0]];
    float* vb = bufs[0];
    renderPair(v.filter[0], vb, vb, v.filter[1], vb, w.voice2, n);
    const float mix1 = v.filterMix1;
    const float mix2 = v.filterMix2;
    for (int i = 0; i < n; ++i) vb[i] = vb[i] * mix1 + w.voice2[i] * mix2;
    if (chains[0]->shaperFilter) render(*chains[0]->shaperFilter, vb, vb, n);
  } else {
    renderSerialLanes(stages, stageCounts, count, bufs, n);
  }
  for (int l = 0; l < count; ++l) {
    if (!chains[l]->shaperFilter) renderMono(s.voices[voices[l]].distortion, bufs[l], bufs[l], n);
  }
}

// The DC blockers of the given voices, eight at a time side by side; each is
// the last unit of its voice.
void renderVoiceBlockers(SynthState& s, const int* voices, int count, int n) {
  for (int first = 0; first < count; first += kMaxLaneVoices) {
    const int size = std::min(count - first, kMaxLaneVoices);
    DcBlocker* blockers[kMaxLaneVoices];
    float* bufs[kMaxLaneVoices];
    for (int l = 0; l < size; ++l) {
      blockers[l] = &s.voices[voices[first + l]].dc;
      bufs[l] = s.work.voiceOut[voices[first + l]];
    }
    renderMonoLanes(blockers, size, bufs, n, s.constants);
  }
}

// One voice on its own, DC blocker included.
void renderVoiceAlone(SynthState& s, int voice, int n) {
  const VoiceChain chain = chainOf(s.voices[voice]);
  const VoiceChain* chains[] = {&chain};
  renderVoices(s, &voice, chains, 1, n);
  renderVoiceBlockers(s, &voice, 1, n);
}

bool readsAuxBus(const Voice& v) {
  for (const Oscillator& o : v.osc) {
    const auto mode = static_cast<OscMode>(o.mode & kOscModeMask);
    if (mode == OscMode::AuxInputA || mode == OscMode::AuxInputB) return true;
  }
  return false;
}

// Renders, ahead of the channels, every sounding voice that reads no aux bus
// (nothing another channel renders in this tick reaches it) into its own
// buffer, grouping voices of any channels whose filter chains match and
// running all their DC blockers side by side. Marks the voices it rendered.
void renderVoicesAhead(SynthState& s, int n, bool* ahead) {
  int voices[kSynthVoices];
  VoiceChain chains[kSynthVoices];
  int count = 0;
  for (int v = 0; v < kSynthVoices; ++v) {
    ahead[v] = s.voiceChannel[v] >= 0 && !readsAuxBus(s.voices[v]);
    if (!ahead[v]) continue;
    voices[count] = v;
    chains[count++] = chainOf(s.voices[v]);
  }
  bool done[kSynthVoices] = {};
  for (int a = 0; a < count; ++a) {
    if (done[a]) continue;
    int group[kMaxLaneVoices] = {voices[a]};
    const VoiceChain* groupChains[kMaxLaneVoices] = {&chains[a]};
    int size = 1;
    if (sharesLanes(chains[a])) {
      for (int b = a + 1; b < count && size < kMaxLaneVoices; ++b) {
        if (done[b] || chains[b].key != chains[a].key) continue;
        done[b] = true;
        group[size] = voices[b];
        groupChains[size++] = &chains[b];
      }
    }
    renderVoices(s, group, groupChains, size, n);
  }
  renderVoiceBlockers(s, voices, count, n);
}

// The voices of one channel, mixed in index order so that the channel sums
// round the same however the voices were rendered; voices not rendered ahead
// are rendered here. The first one writes the whole buffer.
void mixVoices(SynthState& s, const int8_t* members, int count, const bool* ahead, float* out,
               int n) {
  WorkBuffers& w = s.work;
  for (int i = 0; i < count; ++i) {
    const int v = members[i];
    if (!ahead[v]) renderVoiceAlone(s, v, n);
    if (i == 0) {
      mixVoice<true>(s.voices[v], w.ampRamp, v, w.voiceOut[v], out, n);
    } else {
      mixVoice<false>(s.voices[v], w.ampRamp, v, w.voiceOut[v], out, n);
    }
  }
}

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

// The strips of the given channels, each unit in turn across all of them:
// every channel's units run in the strip's order on its own buffer, while the
// DC blockers and bass boosts of all of them share registers. Channels that
// read aux buses run one at a time, after the sends they read.
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

void meter(float* const* bufs, float* const* levels, int count, int n, int mode) {
  if (mode == 0) {
    renderStereoBatch<MeterKernel<true>>(levels, count, bufs, n, n);
  } else {
    renderStereoBatch<MeterKernel<false>>(levels, count, bufs, n, n);
  }
}

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

void renderMaster(SynthState& s, int n) {
  WorkBuffers& w = s.work;
  float* master = w.master;
  render(s.reverb, w.reverbBus, master, n);
  renderGlobal(s.globalDelay, w.delayBus, master, n);
  if (s.masterCut.g == 1.0f) {
    renderMasterDcCut<false>(s.masterDc, s.masterCut, master, n, s.constants.dcCoefficient);
  } else {
    renderMasterDcCut<true>(s.masterDc, s.masterCut, master, n, s.constants.dcCoefficient);
  }
  render(s.masterCompressor, master, n);
  float* const levels[] = {s.masterMeter};
  meter(&master, levels, 1, n, s.meterMode);
}

// Copies (or adds) n frames of the interleaved tick buffer to the caller.
void deliver(const float* src, float* left, float* right, int n, bool add) {
  if (right) {
    if (add) {
      for (int i = 0; i < n; ++i) {
        left[i] += src[2 * i];
        right[i] += src[2 * i + 1];
      }
    } else {
      for (int i = 0; i < n; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
      }
    }
  } else if (add) {
    for (int i = 0; i < 2 * n; ++i) left[i] += src[i];
  } else {
    std::copy(src, src + 2 * n, left);
  }
}

// Whether a channel's tick depends on no other channel: no aux return and
// every voice rendered ahead (none of them reads an aux bus).
bool readsNoAux(const Channel& c, const int8_t* members, int count, const bool* ahead) {
  if (c.auxReturnA != 0.0f || c.auxReturnB != 0.0f) return false;
  for (int i = 0; i < count; ++i) {
    if (!ahead[members[i]]) return false;
  }
  return true;
}

// A channel's voices (and the speech on its channel) into its strip buffer.
void mixChannel(SynthState& s, int ch, const int8_t* members, int count, const bool* ahead, int n) {
  float* buf = s.work.channel[ch];
  if (count == 0) clear(buf, 2 * n);
  mixVoices(s, members, count, ahead, buf, n);
  if (ch == kSpeechChannel) speechRender(s.speech, buf, n);
}

}  // namespace

void controlTick(SynthState& s) {
  const float tickRecip = s.constants.tickRecip;
  for (int voice = 0; voice < kSynthVoices; ++voice) {
    if (s.voiceChannel[voice] < 0) continue;
    refreshVoice(s, voice);
    if (s.voiceChannel[voice] < 0) continue;
    Voice& v = s.voices[voice];
    tick(v.env[0], v.gate);
    tick(v.env[1], v.gate);
    tick(v.lfo[0]);
    tick(v.lfo[1]);
    v.ampStep = (v.env[0].out / kParamMax - v.amp) * tickRecip;
    if (v.env[0].stage == static_cast<int32_t>(EnvelopeStage::Off)) s.voiceChannel[voice] = -1;
  }
  for (int ch = 0; ch < kSynthChannels; ++ch) refreshChannel(s, ch);
  speechControlStep(s.speech);
}

void audioTick(SynthState& s) {
  const int n = s.constants.tickLength;
  WorkBuffers& w = s.work;
  clear(w.master, 2 * n);
  clear(w.reverbBus, n);
  clear(w.delayBus, n);
  clear(w.auxA, 2 * n);
  clear(w.auxB, 2 * n);

  // Voices of each channel, in index order.
  int8_t members[kSynthChannels][kSynthVoices];
  int memberCount[kSynthChannels] = {};
  for (int v = 0; v < kSynthVoices; ++v) {
    const int ch = s.voiceChannel[v];
    if (ch >= 0) members[ch][memberCount[ch]++] = static_cast<int8_t>(v);
  }
  computeAmpRamps(s, n);
  bool ahead[kSynthVoices];
  renderVoicesAhead(s, n, ahead);

  // Channels that read no aux bus mix their voices and run their strips
  // first, all together; the rest wait for the sends of the channels below
  // them. Sends reach the buses in channel order either way.
  bool early[kSynthChannels] = {};
  int earlyChannels[kSynthChannels];
  int earlyCount = 0;
  for (int ch = 0; ch < kSynthChannels; ++ch) {
    if (memberCount[ch] == 0 || !readsNoAux(s.channels[ch], members[ch], memberCount[ch], ahead))
      continue;
    early[ch] = true;
    earlyChannels[earlyCount++] = ch;
    mixChannel(s, ch, members[ch], memberCount[ch], ahead, n);
  }
  renderStrips(s, earlyChannels, earlyCount, n);
  {
    float* bufs[kSynthChannels];
    float* levels[kSynthChannels];
    for (int i = 0; i < earlyCount; ++i) {
      bufs[i] = w.channel[earlyChannels[i]];
      levels[i] = s.channelMeters[earlyChannels[i]];
    }
    meter(bufs, levels, earlyCount, n, s.meterMode);
  }

  for (int ch = 0; ch < kSynthChannels; ++ch) {
    if (memberCount[ch] == 0) {
      // Silent channel: its strip and memories stand still this tick.
      s.channelMeters[ch][0] = 0.0f;
      s.channelMeters[ch][1] = 0.0f;
      continue;
    }
    Channel& c = s.channels[ch];
    float* buf = w.channel[ch];
    if (!early[ch]) {
      mixChannel(s, ch, members[ch], memberCount[ch], ahead, n);
      renderStrips(s, &ch, 1, n);
      float* const levels[] = {s.channelMeters[ch]};
      meter(&buf, levels, 1, n, s.meterMode);
    }
    renderSends(w, c, buf, n);
  }
  renderMaster(s, n);
}

void synthRender(SynthState& s, float* left, int frames, float* right, bool add) {
  if (frames <= 0 || !left) return;
  RoundingScope rounding;
  const int tickLength = s.constants.tickLength;
  if (tickLength == 0) {
    // Not initialised with a usable rate: silence.
    if (!add) {
      clear(left, right ? frames : 2 * frames);
      if (right) clear(right, frames);
    }
    return;
  }
  while (frames > 0) {
    if (s.tickFramesLeft <= 0) {
      controlTick(s);
      audioTick(s);
      s.tickFramesLeft = tickLength;
    }
    const int n = std::min(frames, s.tickFramesLeft);
    const float* src = s.work.master + 2 * (tickLength - s.tickFramesLeft);
    deliver(src, left, right, n, add);
    left += right ? n : 2 * n;
    if (right) right += n;
    frames -= n;
    s.tickFramesLeft -= n;
  }
}
