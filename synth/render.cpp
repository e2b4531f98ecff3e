// The render loop: control tick, audio tick (voices, channel strips, master
// chain) and the hand-out of a tick's frames across render calls of any size.
#include <algorithm>
#include <cmath>

#include "synth/core.h"

namespace {

constexpr float kParamMax = 128.0f;
constexpr float kPeakDecay = 0.9999f;  // per frame, decaying peak meter

enum class Routing : int32_t { Single = 0, Serial = 1, Parallel = 2 };

void clear(float* buffer, int count) {
  std::fill(buffer, buffer + count, 0.0f);
}

// Filters and shaper of one voice by its routing, in place on the voice
// buffer. Filters in series (with a shaper in a filter mode after them) run in
// one fused loop and the parallel pair side by side: the same samples as
// rendering them one after another, in a fraction of the time.
void renderFilters(Voice& v, WorkBuffers& w, int n) {
  float* vb = w.voice;
  Filter* shaperFilter = monoFilterStage(v.distortion);
  if (static_cast<Routing>(v.routing) == Routing::Parallel) {
    float* second = w.voice2;
    renderPair(v.filter[0], vb, vb, v.filter[1], vb, second, n);
    const float mix1 = v.filterMix1;
    const float mix2 = v.filterMix2;
    for (int i = 0; i < n; ++i) vb[i] = vb[i] * mix1 + second[i] * mix2;
    if (shaperFilter) render(*shaperFilter, vb, vb, n);
  } else {
    Filter* stages[kMaxSerialFilters];
    int count = 0;
    stages[count++] = &v.filter[0];
    if (static_cast<Routing>(v.routing) != Routing::Single) stages[count++] = &v.filter[1];
    if (shaperFilter) stages[count++] = shaperFilter;
    renderSerial(stages, count, vb, n);
  }
  if (!shaperFilter) renderMono(v.distortion, vb, vb, n);
}

// The amplitude ramps of one tick: amp, amp + step, ... per voice, each a
// serial sum; running all 64 side by side keeps the sums exact and lets them
// proceed in parallel. Free voices ramp nothing and keep their amp.
void computeAmpRamps(SynthState& s, int n) {
  float amp[kSynthVoices];
  float step[kSynthVoices];
  for (int v = 0; v < kSynthVoices; ++v) {
    const bool owned = s.voiceChannel[v] >= 0;
    amp[v] = owned ? s.voices[v].amp : 0.0f;
    step[v] = owned ? s.voices[v].ampStep : 0.0f;
  }
  for (int i = 0; i < n; ++i) {
    float* row = s.work.ampRamp[i];
    for (int v = 0; v < kSynthVoices; ++v) {
      row[v] = amp[v];
      amp[v] += step[v];
    }
  }
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] >= 0) s.voices[v].amp = amp[v];
  }
}

// Adds the voice buffer into the channel buffer with the amplitude ramp and pan.
void mixVoice(const Voice& v, const float (*ramp)[kSynthVoices], int voice, const float* vb,
              float* out, int n) {
  const float gainLeft = v.gainLeft;
  const float gainRight = v.gainRight;
  for (int i = 0; i < n; ++i) {
    const float s = vb[i] * ramp[i][voice];
    out[2 * i] += s * gainLeft + kDenormGuard;
    out[2 * i + 1] += s * gainRight + kDenormGuard;
  }
}

// Oscillators of one voice into buf.
void renderOscillators(Voice& v, const WorkBuffers& w, float* buf, int n) {
  clear(buf, n);
  for (Oscillator& o : v.osc) render(o, buf, n, w.auxA, w.auxB);
}

void renderVoice(SynthState& s, int voice, int n) {
  Voice& v = s.voices[voice];
  WorkBuffers& w = s.work;
  float* vb = w.voice;
  renderOscillators(v, w, vb, n);
  renderFilters(v, w, n);
  renderMono(v.dc, vb, vb, n, s.constants);
  mixVoice(v, w.ampRamp, voice, vb, w.channel, n);
}

// A voice's filters in series, as renderFilters runs them outside parallel
// routing: filter 1, filter 2 when serial, then the shaper's filter mode.
struct VoiceChain {
  Filter* stages[kMaxSerialFilters];
  int count;
  bool parallel;  // parallel routing: no serial chain
  bool shaperFiltered;
};

VoiceChain chainOf(Voice& v) {
  VoiceChain c{};
  Filter* shaperFilter = monoFilterStage(v.distortion);
  c.shaperFiltered = shaperFilter != nullptr;
  const auto routing = static_cast<Routing>(v.routing);
  c.parallel = routing == Routing::Parallel;
  if (c.parallel) return c;
  c.stages[c.count++] = &v.filter[0];
  if (routing != Routing::Single) c.stages[c.count++] = &v.filter[1];
  if (shaperFilter) c.stages[c.count++] = shaperFilter;
  return c;
}

bool canShareLanes(const VoiceChain& a, const VoiceChain& b) {
  return !a.parallel && !b.parallel && sameSerialKinds(a.stages, a.count, b.stages, b.count);
}

// Up to kFilterLanes voices whose chains share lanes, consecutive in mixing
// order: oscillators per voice, the filter chains side by side, then the rest
// of each voice and its mix in order, so the channel sums round as before.
void renderVoiceGroup(SynthState& s, const int8_t* voices, const VoiceChain* chains, int count,
                      int n) {
  WorkBuffers& w = s.work;
  Filter* stages[kFilterLanes][kMaxSerialFilters];
  int stageCounts[kFilterLanes];
  for (int l = 0; l < count; ++l) {
    renderOscillators(s.voices[voices[l]], w, w.groupVoice[l], n);
    std::copy(chains[l].stages, chains[l].stages + chains[l].count, stages[l]);
    stageCounts[l] = chains[l].count;
  }
  float* bufs[kFilterLanes];
  for (int l = 0; l < count; ++l) bufs[l] = w.groupVoice[l];
  renderSerialLanes(stages, stageCounts, count, bufs, n);
  // Shapers and DC blockers keep per-voice states only, so each may run for
  // the whole group before the mix.
  DcBlocker* blockers[kFilterLanes];
  for (int l = 0; l < count; ++l) {
    Voice& v = s.voices[voices[l]];
    if (!chains[l].shaperFiltered) renderMono(v.distortion, bufs[l], bufs[l], n);
    blockers[l] = &v.dc;
  }
  renderMonoLanes(blockers, count, bufs, n, s.constants);
  for (int l = 0; l < count; ++l) {
    mixVoice(s.voices[voices[l]], w.ampRamp, voices[l], bufs[l], w.channel, n);
  }
}

// The voices of one channel in index order, in groups that share lanes where
// their chains allow and one by one otherwise.
void renderVoices(SynthState& s, const int8_t* members, int count, int n) {
  int i = 0;
  while (i < count) {
    VoiceChain chains[kFilterLanes];
    chains[0] = chainOf(s.voices[members[i]]);
    int size = 1;
    while (size < kFilterLanes && i + size < count) {
      const VoiceChain next = chainOf(s.voices[members[i + size]]);
      if (!canShareLanes(chains[0], next)) break;
      chains[size++] = next;
    }
    if (size == 1 || !hasActiveStage(chains[0].stages, chains[0].count)) {
      // Nothing to share: no filter runs in any of them.
      for (int k = 0; k < size; ++k) renderVoice(s, members[i + k], n);
    } else {
      renderVoiceGroup(s, members + i, chains, size, n);
    }
    i += size;
  }
}

// out[i] += in[i] * gain over `count` samples.
void addScaled(const float* in, float* out, int count, float gain) {
  for (int i = 0; i < count; ++i) out[i] += in[i] * gain;
}

// bus[i] += (left + right) * gain over n frames of a stereo buffer.
void addSumToBus(const float* in, float* bus, int n, float gain) {
  for (int i = 0; i < n; ++i) bus[i] += (in[2 * i] + in[2 * i + 1]) * gain;
}

void renderStrip(SynthState& s, Channel& c, int n) {
  WorkBuffers& w = s.work;
  float* buf = w.channel;
  const SynthConstants& k = s.constants;
  if (c.auxReturnA != 0.0f) addScaled(w.auxA, buf, 2 * n, c.auxReturnA);
  if (c.auxReturnB != 0.0f) addScaled(w.auxB, buf, 2 * n, c.auxReturnB);
  renderStereo(c.dcFirst, buf, buf, n, k);
  render(c.compressor, buf, n);
  render(c.bassBoost, buf, n, k);
  if (c.effectOrder == 0) {
    renderStereo(c.distortion, buf, buf, n);
    renderStereo(c.dcSecond, buf, buf, n, k);
    render(c.delay, buf, n);
  } else {
    render(c.delay, buf, n);
    renderStereo(c.distortion, buf, buf, n);
    renderStereo(c.dcSecond, buf, buf, n, k);
  }
}

void renderSends(WorkBuffers& w, const Channel& c, int n) {
  const float* buf = w.channel;
  if (c.reverbSend != 0.0f) addSumToBus(buf, w.reverbBus, n, c.reverbSend);
  if (c.delaySend != 0.0f) addSumToBus(buf, w.delayBus, n, c.delaySend);
  if (c.auxSendA != 0.0f) addScaled(buf, w.auxA, 2 * n, c.auxSendA);
  if (c.auxSendB != 0.0f) addScaled(buf, w.auxB, 2 * n, c.auxSendB);
  addScaled(buf, w.master, 2 * n, c.mainGain);
}

// Decaying peak (mode 0) or mean square (any other mode) of one tick, per
// side. Both sides run in one loop so that their two dependency chains overlap.
void meter(const float* buf, int n, int mode, float level[2]) {
  if (mode == 0) {
    float left = level[0];
    float right = level[1];
    for (int i = 0; i < n; ++i) {
      left = std::max(left, std::fabs(buf[2 * i])) * kPeakDecay;
      right = std::max(right, std::fabs(buf[2 * i + 1])) * kPeakDecay;
    }
    level[0] = left;
    level[1] = right;
  } else {
    float left = 0.0f;
    float right = 0.0f;
    for (int i = 0; i < n; ++i) {
      left += buf[2 * i] * buf[2 * i];
      right += buf[2 * i + 1] * buf[2 * i + 1];
    }
    level[0] = left / static_cast<float>(n);
    level[1] = right / static_cast<float>(n);
  }
}

// One-pole low cut, then a one-pole high cut unless g is exactly 1.
void renderMasterCut(MasterCut& m, float* buf, int n) {
  const float k = m.k;
  const float g = m.g;
  float low[2] = {m.lowLeft, m.lowRight};
  float lp[2] = {m.lpLeft, m.lpRight};
  if (g == 1.0f) {
    for (int i = 0; i < n; ++i) {
      for (int side = 0; side < 2; ++side) {
        const float x = buf[2 * i + side];
        const float h = x - low[side];
        low[side] = low[side] + k * (x - low[side]);
        lp[side] = lp[side] + g * (h - lp[side]);
        buf[2 * i + side] = h;
      }
    }
  } else {
    for (int i = 0; i < n; ++i) {
      for (int side = 0; side < 2; ++side) {
        const float x = buf[2 * i + side];
        const float h = x - low[side];
        low[side] = low[side] + k * (x - low[side]);
        lp[side] = lp[side] + g * (h - lp[side]);
        buf[2 * i + side] = lp[side];
      }
    }
  }
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
  renderStereo(s.masterDc, master, master, n, s.constants);
  renderMasterCut(s.masterCut, master, n);
  render(s.masterCompressor, master, n);
  meter(master, n, s.meterMode, s.masterMeter);
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

  for (int ch = 0; ch < kSynthChannels; ++ch) {
    if (memberCount[ch] == 0) {
      // Silent channel: its strip and memories stand still this tick.
      s.channelMeters[ch][0] = 0.0f;
      s.channelMeters[ch][1] = 0.0f;
      continue;
    }
    clear(w.channel, 2 * n);
    renderVoices(s, members[ch], memberCount[ch], n);
    if (ch == kSpeechChannel) speechRender(s.speech, w.channel, n);
    Channel& c = s.channels[ch];
    renderStrip(s, c, n);
    renderSends(w, c, n);
    meter(w.channel, n, s.meterMode, s.channelMeters[ch]);
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
