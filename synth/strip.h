#pragma once
// The channel strips, their sends and meters, and the master chain.
#include "synth/synth.h"

// Start state of a channel's strip (the bass boost keeps its states).
void resetChannel(SynthState& s, int channel);
// The strips of the given channels over n frames of their buffers, each unit
// in turn across all of them: every channel's units run in the strip's one
// order on its own buffer, while the DC blockers and bass boosts of all of
// them share registers. Channels that read aux buses run one at a time,
// after the sends they read.
void renderStrips(SynthState& s, const int* channels, int count, int n);
// A channel's sends and main output, from its strip buffer onto the buses
// and the master.
void renderSends(WorkBuffers& w, const Channel& c, const float* buf, int n);
// Meter readings (float[2] each) of stereo buffers: decaying peak in mode 0,
// mean square of the tick in any other mode.
void meter(float* const* bufs, float* const* levels, int count, int n, int mode);
// Reverb and global delay onto the master, then its DC blocker, cut filters,
// compressor and meter.
void renderMaster(SynthState& s, int n);
