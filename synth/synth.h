#pragma once
// The synthesizer core: one fixed-size state record that its user allocates,
// and the entry points that initialise it, apply event lists and render audio.
//
// 64 voices (three oscillators, two filters, two envelopes, two LFOs, a shaper
// and a DC blocker each), 16 channels with an effect strip, and a master chain
// (reverb, global delay, DC blocker, cut filter, compressor). Audio is produced
// a control tick (128 frames at 44,100 Hz) at a time and handed out in any
// chunk size. Everything lives inside SynthState: two states in one process
// are fully independent, and nothing is allocated after the caller's one
// allocation of the record. The delay units point into the record's own delay
// memory, so a state must stay where synthInit put it (never copy one).
#include <cstddef>
#include <cstdint>

#include "synth/constants.h"
#include "synth/patch_layout.h"
#include "synth/speech/speech.h"
#include "synth/units/bass_boost.h"
#include "synth/units/compressor.h"
#include "synth/units/dc_blocker.h"
#include "synth/units/distortion.h"
#include "synth/units/envelope.h"
#include "synth/units/filter.h"
#include "synth/units/lfo.h"
#include "synth/units/mod_delay.h"
#include "synth/units/oscillator.h"
#include "synth/units/reverb.h"

constexpr int kSynthVoices = 64;
constexpr int kSynthChannels = 16;
constexpr int kSpeechChannel = 15;
constexpr int kSynthPrograms = 128;
constexpr int kChannelControlCount = 8;  // byte 0 = program, bytes 1..7 = controllers 1..7

constexpr int kGlobalDelayLength = 32768;  // per side
constexpr int kChannelDelayLength = 2048;  // per side, per channel

// Where the sample-and-hold LFOs draw their seeds when they are reset.
enum class SeedMode : int32_t {
  Fixed = 0,  // a deterministic sequence from `seed`: offline renders and tests repeat exactly
  Clock = 1,  // the low 32 bits of a free-running high-resolution clock: live playback
};

struct SeedSource {
  SeedMode mode;
  uint32_t seed;  // Fixed: the start of the sequence
};

constexpr SeedSource kDefaultSeeds{SeedMode::Fixed, 0x2016u};

struct Voice {
  int32_t note;                  // MIDI note that started the voice
  float velocity;                // note-on velocity 1..127
  int32_t gate;                  // 1 while the key is held
  float amp;                     // amplitude of the next sample; ramps once per tick
  float ampStep;                 // per-sample increment of amp in the current tick
  float transpose;               // semitones (voice parameter 1 - 64)
  int32_t routing;               // filter routing: 0 single, 2 parallel, other serial
  float gainLeft, gainRight;     // constant-power pan
  float filterMix1, filterMix2;  // parallel routing balance
  int32_t retrigger;             // what a note start resets: 0, 1 or 2
  Oscillator osc[3];
  Filter filter[2];
  Envelope env[2];  // env[0] drives the amplitude and ends the voice
  Lfo lfo[2];
  Distortion distortion;  // mono form
  DcBlocker dc;           // mono form
};

struct Channel {
  float mainGain;                // level into the master buffer
  float reverbSend;              // level of left + right into the reverb bus
  float delaySend;               // level of left + right into the delay bus
  float auxSendA, auxSendB;      // stereo levels into the aux buses
  float auxReturnA, auxReturnB;  // aux bus levels added before the strip
  int32_t effectOrder;           // 0: distortion then delay; otherwise delay first
  DcBlocker dcFirst;
  BassBoost bassBoost;
  Distortion distortion;  // stereo form
  DcBlocker dcSecond;
  ModDelay delay;
  Compressor compressor;
};

// The master cut filter: a one-pole low cut followed by a one-pole high cut
// (bypassed while g is exactly 1).
struct MasterCut {
  float k;  // low-cut coefficient
  float lowLeft, lowRight;
  float g;  // high-cut coefficient
  float lpLeft, lpRight;
};

// One tick of audio at most; stereo buffers are interleaved left, right.
struct WorkBuffers {
  alignas(64) float voice2[kMaxTickFrames];  // filter 2 in parallel routing
  // Every voice's output, so that voices of different channels can run their
  // filters side by side before the channels mix them in order.
  alignas(64) float voiceOut[kSynthVoices][kMaxTickFrames];
  // Every channel's strip buffer, so that the strips of channels that read no
  // aux bus can run their recursive units side by side.
  alignas(64) float channel[kSynthChannels][2 * kMaxTickFrames];
  alignas(64) float reverbBus[kMaxTickFrames];
  alignas(64) float delayBus[kMaxTickFrames];
  alignas(64) float master[2 * kMaxTickFrames];
  alignas(64) float auxA[2 * kMaxTickFrames];
  alignas(64) float auxB[2 * kMaxTickFrames];
  // Amplitude of every voice at every frame of the tick, computed for all
  // voices side by side (the ramp is a serial sum per voice).
  alignas(64) float ampRamp[kMaxTickFrames][kSynthVoices];
};

struct SynthState {
  const uint8_t* patchMap;                   // not owned
  size_t patchMapSize;                       // bytes; nothing outside it is read
  int32_t runningStatus;                     // last status byte of the event lists
  uint32_t noteCounter;                      // advanced by every note start
  int32_t sampleRate;                        // Hz
  int32_t voiceChannel[kSynthVoices];        // owner channel, -1 when free
  uint32_t voiceSerial[kSynthVoices];        // noteCounter at the voice's last start
  int32_t channelLastVoice[kSynthChannels];  // routes of channel params read this voice
  int32_t tickFramesLeft;                    // frames of the current tick not yet handed out
  uint8_t channelControls[kSynthChannels][kChannelControlCount];
  float voiceParams[kSynthVoices][kVoiceParamCount];  // 0..128 after modulation
  Voice voices[kSynthVoices];
  float channelParams[kSynthChannels][kChannelParamCount];
  Channel channels[kSynthChannels];
  float globalParams[kGlobalParamCount];
  Reverb reverb;
  ModDelay globalDelay;
  DcBlocker masterDc;
  Compressor masterCompressor;
  MasterCut masterCut;
  float globalDelayLines[2][kGlobalDelayLength];
  float channelDelayLines[kSynthChannels][2][kChannelDelayLength];
  WorkBuffers work;
  SpeechRenderer speech;
  int32_t meterMode;  // 0 decaying peak, otherwise mean square
  float channelMeters[kSynthChannels][2];
  float masterMeter[2];

  // Kept here rather than process-wide, so that states are independent.
  SynthConstants constants;  // derived from the sample rate; tickLength 0 = not usable
  SeedSource seedSource;     // as given to synthInit; survives a reset event
  uint32_t seedCounter;      // seeds drawn so far (Fixed mode)
  // Patch of each channel's current program, resolved and bounds-checked when
  // the program is selected; null plays silence.
  const uint8_t* channelPatch[kSynthChannels];
};

// Clears and initialises the whole state. The patch map (offset table of
// 32-bit little-endian offsets, one per program, then the patches) is read
// only inside [patchMap, patchMap + patchMapSize); a program whose patch lies
// outside plays silence. Returns false (and leaves a silent state) when the
// sample rate gives a tick longer than the work buffers or is not positive.
// Until setGlobalParams is called the output is silent.
bool synthInit(SynthState& s, const uint8_t* patchMap, size_t patchMapSize, int sampleRate,
               SeedSource seeds = kDefaultSeeds);

// Points the state at another patch map while it plays: every channel's
// current program is resolved again in the new map, and voices that sound go
// on (they take the new patch's values at their next tick). The old map is
// not read again once this returns.
void setPatchMap(SynthState& s, const uint8_t* patchMap, size_t patchMapSize);

// Applies the 22-byte global parameter block: reverb, global delay, master
// cut filter and master compressor. May be called again at any time.
void setGlobalParams(SynthState& s, const uint8_t* bytes);

// Applies an event list (channel messages with running status, ended by 0xFD).
// The bounded form also stops at the end of `size` bytes.
void processEvents(SynthState& s, const uint8_t* list);
void processEvents(SynthState& s, const uint8_t* list, size_t size);

// Renders `frames` frames. With `right` null, interleaved pairs go to `left`;
// otherwise left samples to `left` and right samples to `right`. With `add`
// the samples are added to what the outputs hold.
void synthRender(SynthState& s, float* left, int frames, float* right, bool add);

// The 64 texts of the speech channel.
void setSpeechTexts(SynthState& s, const SpeechText* table);

void setMeterMode(SynthState& s, int mode);
// Meters of the last rendered tick. A channel outside 0..15 reads 0, 0 and returns false.
bool getChannelMeter(const SynthState& s, int channel, float* left, float* right);
void getMasterMeter(const SynthState& s, float* left, float* right);
// counts[i] = voices owned by channel i; counts[16] = all owned voices.
void getVoiceCounts(const SynthState& s, int counts[kSynthChannels + 1]);
void getChannelPrograms(const SynthState& s, int programs[kSynthChannels]);
// The size of SynthState in bytes, for callers that allocate it themselves.
size_t getStateSize();
int getTickLength(const SynthState& s);
