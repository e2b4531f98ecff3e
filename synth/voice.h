#pragma once
// Voice allocation and stealing, note start and voice reset.
#include "synth/synth.h"

// Start state of every voice unit (the envelope level is kept); the
// sample-and-hold LFOs draw new seeds from the state's seed source.
void resetVoice(SynthState& s, int voice);
// Picks the voice for a note-on under the patch's polyphony and makes it the
// channel's; -1 when the patch allows no voice.
int allocateVoice(SynthState& s, int channel);
void startNote(SynthState& s, int voice, int note, int velocity);
