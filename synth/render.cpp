// The render loop: control tick, audio tick (voices, channel strips, master
// chain) and the hand-out of a tick's frames across render calls of any size.
#include <algorithm>

#include "synth/params.h"
#include "synth/strip.h"
#include "synth/units/numeric.h"
#include "synth/voice_batch.h"

namespace {

void clear(float* buffer, int count) {
  std::fill(buffer, buffer + count, 0.0f);
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
    v.ampStep = (v.env[0].out / kParamFullScale - v.amp) * tickRecip;
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

}  // namespace

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
