#pragma once
// Internal operations of the synthesizer core, shared by its source files.
#include <cfenv>
#include <cstdint>

#include "synth/synth.h"

// Switches to round-to-nearest for the lifetime of the object and restores
// the caller's rounding mode afterwards. Every float-to-int conversion of the
// core relies on this mode.
class RoundingScope {
 public:
  RoundingScope() : saved_(std::fegetround()) {
    if (saved_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  ~RoundingScope() {
    if (saved_ != FE_TONEAREST) std::fesetround(saved_);
  }
  RoundingScope(const RoundingScope&) = delete;
  RoundingScope& operator=(const RoundingScope&) = delete;

 private:
  int saved_;
};

// Seeds for the sample-and-hold LFOs, from the state's seed source.
uint32_t drawSeed(SynthState& s);

// The patch of `program`, or null when its offset entry or its patch (header
// and routes) does not lie inside the patch map.
const uint8_t* resolvePatch(const SynthState& s, int program);
// Selects a program on a channel and resolves its patch.
void selectProgram(SynthState& s, int channel, int program);

// Rebuilds a voice's parameters from its channel's patch and routes and sets
// up its units. A voice without owner is left alone.
void refreshVoice(SynthState& s, int voice);
// Rebuilds a channel's parameters and sets up its strip.
void refreshChannel(SynthState& s, int channel);

// Start state of every voice unit (the envelope level is kept).
void resetVoice(SynthState& s, int voice);
// Start state of a channel's strip (the bass boost keeps its states).
void resetChannel(SynthState& s, int channel);

// Picks the voice for a note-on under the patch's polyphony and makes it the
// channel's; -1 when the patch allows no voice.
int allocateVoice(SynthState& s, int channel);
void startNote(SynthState& s, int voice, int note, int velocity);

void controlTick(SynthState& s);
void audioTick(SynthState& s);
