// Voice allocation and stealing, note start and the reset of voices.
#include "synth/voice.h"

#include <chrono>

namespace {

constexpr int kOscCount = 3;

// A well-mixed 32-bit hash, so that consecutive seeds give unrelated sequences.
uint32_t mixSeed(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// Seeds for the sample-and-hold LFOs, from the state's seed source.
uint32_t drawSeed(SynthState& s) {
  const uint32_t n = s.seedCounter++;
  if (s.seedSource.mode == SeedMode::Clock) {
    const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(ticks) ^ mixSeed(n);
  }
  return mixSeed(s.seedSource.seed + n);
}

enum class Retrigger : int32_t { None = 0, Phases = 1, Full = 2 };

// Age in notes started since; unsigned difference, so the order survives the
// wrap of the note counter.
uint32_t age(const SynthState& s, int voice) {
  return s.noteCounter - s.voiceSerial[voice];
}

// The oldest voice that matches; -1 when none does.
template <typename Match>
int oldestVoice(const SynthState& s, Match match) {
  int best = -1;
  for (int v = 0; v < kSynthVoices; ++v) {
    if (!match(v)) continue;
    if (best < 0 || age(s, v) > age(s, best)) best = v;
  }
  return best;
}

int pickVoice(const SynthState& s, int channel, int polyphony) {
  int owned = 0;
  int firstFree = -1;
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] == channel) ++owned;
    if (s.voiceChannel[v] < 0 && firstFree < 0) firstFree = v;
  }
  const auto released = [&](int v) { return s.voices[v].gate == 0; };
  if (owned < polyphony) {
    if (firstFree >= 0) return firstFree;
    const int v = oldestVoice(s, released);
    return v >= 0 ? v : oldestVoice(s, [](int) { return true; });
  }
  const auto mine = [&](int v) { return s.voiceChannel[v] == channel; };
  const int v =
      oldestVoice(s, [&](int candidate) { return mine(candidate) && released(candidate); });
  return v >= 0 ? v : oldestVoice(s, mine);
}

}  // namespace

void resetVoice(SynthState& s, int voice) {
  Voice& v = s.voices[voice];
  for (int i = 0; i < kOscCount; ++i) reset(v.osc[i], i);
  for (int i = 0; i < 2; ++i) {  // lfo[0] draws the first seed
    reset(v.env[i]);
    reset(v.filter[i]);
    reset(v.lfo[i], drawSeed(s));
  }
  reset(v.distortion);
  reset(v.dc);
}

int allocateVoice(SynthState& s, int channel) {
  const uint8_t* patch = s.channelPatch[channel];
  const int polyphony = patch ? patch[kPatchPolyphony] : 0;
  if (polyphony == 0) return -1;  // nothing may sound; leave everything as it is
  const int v = pickVoice(s, channel, polyphony);
  s.voiceChannel[v] = channel;
  s.channelLastVoice[channel] = v;
  s.voiceSerial[v] = s.noteCounter++;
  return v;
}

void startNote(SynthState& s, int voice, int note, int velocity) {
  Voice& v = s.voices[voice];
  v.note = note;
  const float pitch = static_cast<float>(note) + v.transpose;
  for (Oscillator& o : v.osc) o.pitch = pitch;
  v.velocity = static_cast<float>(velocity);
  v.gate = 1;
  v.env[0].stage = static_cast<int32_t>(EnvelopeStage::Attack);
  v.env[1].stage = static_cast<int32_t>(EnvelopeStage::Attack);

  const auto retrigger = static_cast<Retrigger>(v.retrigger);
  if (retrigger != Retrigger::None) {
    for (Oscillator& o : v.osc) o.phase = 0;
  }
  if (retrigger == Retrigger::Full) {
    v.env[0].level = 0.0f;
    v.env[1].level = 0.0f;
    v.amp = 0.0f;
    for (int i = 0; i < kOscCount; ++i) reset(v.osc[i], i);
    reset(v.filter[0]);
    reset(v.filter[1]);
    reset(v.distortion);
  }
  for (Oscillator& o : v.osc) updatePitch(o, s.constants);
  noteStart(v.lfo[0]);
  noteStart(v.lfo[1]);
  reset(v.dc);
}
