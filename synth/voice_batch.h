#pragma once
// The voices of a tick: amplitude ramps, sources, filter chains (voices whose
// chains match run side by side), DC blockers, and the mix into channels.
#include <cstdint>

#include "synth/synth.h"

// The amplitude ramps of one tick (work.ampRamp): amp, amp + step, ... per
// voice, each a serial sum; running them four voices to a register keeps the
// sums exact and lets them proceed in parallel. Registers holding no owned
// voice are skipped: nothing reads their ramps. Free voices keep their amp.
void computeAmpRamps(SynthState& s, int n);
// Renders, ahead of the channels, every sounding voice that reads no aux bus
// (nothing another channel renders in this tick reaches it) into its own
// buffer, grouping voices of any channels whose filter chains match and
// running all their DC blockers side by side. Marks the voices in `ahead`.
void renderVoicesAhead(SynthState& s, int n, bool* ahead);
// The voices of one channel, mixed into its stereo buffer `out` in index
// order so that the channel sums round the same however the voices were
// rendered; voices not rendered ahead are rendered here. The first one
// writes the whole buffer.
void mixVoices(SynthState& s, const int8_t* members, int count, const bool* ahead, float* out,
               int n);
