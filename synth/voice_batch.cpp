// Voice batching: the amplitude ramps of a tick, each voice's sources and
// filter chain (voices whose chains match run side by side in lanes), the
// DC blockers of all of them together, and the mix into the channel buffer.
#include "synth/voice_batch.h"

#include <algorithm>

#include "synth/units/batch.h"

namespace {

enum class Routing : int32_t { Single = 0, Serial = 1, Parallel = 2 };

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
    std::fill_n(bufs[l], n, 0.0f);
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

}  // namespace

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

void mixVoices(SynthState& s, const int8_t* members, int count, const bool* ahead, float* out,
               int n) {
  WorkBuffers& w = s.work;
  for (int i = 0; i < count; ++i) {
    const int v = members[i];
    if (!ahead[v]) renderVoiceAlone(s, v, n);
    const auto mix = i == 0 ? mixVoice<true> : mixVoice<false>;
    mix(s.voices[v], w.ampRamp, v, w.voiceOut[v], out, n);
  }
}
