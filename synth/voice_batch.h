#pragma once
// The voices of a tick: amplitude ramps, sources, filter chains (voices whose
// chains match run side by side), DC blockers, and the mix into channels.
#include <cstdint>

#include "synth/synth.h"

// The amplitude ramps of n frames for every owned voice (work.ampRamp).
void computeAmpRamps(SynthState& s, int n);
// Renders every sounding voice that reads no aux bus into its own buffer
// and marks it in `ahead`.
void renderVoicesAhead(SynthState& s, int n, bool* ahead);
// A channel's voices mixed in index order into its stereo buffer `out`; the
// voices not rendered ahead are rendered here.
void mixVoices(SynthState& s, const int8_t* members, int count, const bool* ahead, float* out,
               int n);
