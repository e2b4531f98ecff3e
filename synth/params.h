#pragma once
// Patch bytes and modulation routes to voice and channel settings.
#include "synth/synth.h"

// Selects a program on a channel and resolves its patch (null unless its
// offset entry, header and routes lie inside the patch map).
void selectProgram(SynthState& s, int channel, int program);
// Rebuilds a voice's parameters from its channel's patch and routes and sets
// up its units. A voice without owner is left alone.
void refreshVoice(SynthState& s, int voice);
// Rebuilds a channel's parameters and sets up its strip.
void refreshChannel(SynthState& s, int channel);
