#pragma once
// Filter: 2x oversampled state-variable types and a 2x oversampled four-pole
// cascade; used by the voice (stride 1) and, as a pair, by the distortion's
// filter modes on interleaved stereo (stride 2).
#include <cstdint>

#include "synth/constants.h"

// What the render produces; the render uses the rounded type's low three bits.
enum class FilterType : int32_t {
  Off = 0,        // input copied unchanged
  LowPass = 1,    // state-variable low
  BandPass = 2,   // state-variable band
  HighPass = 3,   // state-variable high
  Notch = 4,      // high + low
  Peak = 5,       // high + band + low
  LowPass4 = 6,   // four-pole y4
  HighPass4 = 7,  // input - y4
};

constexpr int32_t kFilterTypeMask = 7;
constexpr int kMaxSerialFilters = 3;  // two voice filters and the shaper's
constexpr int kMaxLaneVoices = 8;     // two registers of lanes in one loop

struct Filter {
  int32_t type;    // rounded type parameter; 0 = Off
  int32_t stride;  // 1 mono, 2 one side of interleaved stereo
  // State-variable coefficients: frequency f and damping q (1 - resonance).
  float freq, damp;
  // Four-pole coefficients: stage gain p, stage feedback K = 1 - 2p and the
  // output-to-input feedback gain r.
  float poleGain, poleFeedback, resonance;
  float low, band;  // state-variable states
  float lastInput;  // four-pole: the previous raw input sample
  float y1, y2, y3, y4;
};

void reset(Filter& f);  // states 0, stride 1; coefficients kept
// t: type (0..128, rounded), cutoff (0..128: 2^-10 .. 1 of the oversampled
// rate, scaled by rateScale), resonance (0..128). Only the coefficients of
// the kind the rounded type selects are computed; the other kind's stay.
void setup(Filter& f, const float* t, const SynthConstants& k);
// in and out may be the same buffer; both advance by stride per sample.
void render(Filter& f, const float* in, float* out, int count);

// The same samples as render, with the recursions of several filters in one
// loop so that they overlap in the processor. renderPair: a from inA to outA
// and b from inB to outB, each with its own stride. Both inputs of a sample are
// read before either output is written, so inB may be outA; outB must not be inA.
void renderPair(Filter& a, const float* inA, float* outA, Filter& b, const float* inB, float* outB,
                int count);
// Up to kMaxSerialFilters filters in series, in place over buf with stride 1:
// the same as rendering stages[0], stages[1], ... in turn. Off stages drop out.
void renderSerial(Filter* const* stages, int stageCount, float* buf, int count);

// The kinds of step of a chain of filters in series (Off stages dropping
// out) as a number: chains with equal keys run the same kinds in the same
// order and can share the lanes of renderSerialLanes. Types of one kind (the
// five state-variable outputs, say) mix freely. Key 1 means no stage runs.
int serialKindsKey(Filter* const* stages, int stageCount);

// renderSerial on the chains of up to kMaxLaneVoices voices side by side, one
// per lane, in about the time of one: chains[l] holds lane l's stageCounts[l]
// stages (all with equal serialKindsKey), in place on bufs[l].
void renderSerialLanes(Filter* const (*chains)[kMaxSerialFilters], const int* stageCounts,
                       int laneCount, float* const* bufs, int count);
