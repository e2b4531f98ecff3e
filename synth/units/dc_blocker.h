#pragma once
// One-pole DC-removing high-pass, time constant 1/126 s, on one voice (mono)
// or one channel (interleaved stereo), alone or many side by side.
#include "synth/constants.h"

struct DcBlocker {
  float lastInLeft, lastOutLeft;  // mono uses the left pair
  float lastInRight, lastOutRight;
};

// y = x - previous x + R * previous y, over float or Lanes; adding and
// removing the denormal guard flushes magnitudes below about 2^-42 to 0.
template <class T>
struct DcStep {
  T r, xPrev, yPrev;

  [[gnu::always_inline]] T step(T x) {
    T y = x - xPrev + r * yPrev;
    y = (y + kDenormGuard) - kDenormGuard;
    xPrev = x;
    yPrev = y;
    return y;
  }
};

void reset(DcBlocker& dc);
// in and out may be the same buffer.
void renderMono(DcBlocker& dc, const float* in, float* out, int count, const SynthConstants& k);
void renderStereo(DcBlocker& dc, const float* in, float* out, int frames, const SynthConstants& k);
// renderMono on any number of blockers side by side, one per SIMD lane, in
// place on bufs[l]: the same samples, in a fraction of the time.
void renderMonoLanes(DcBlocker* const* dc, int count, float* const* bufs, int n,
                     const SynthConstants& k);
// renderStereo on any number of blockers, in place on interleaved bufs[c].
void renderStereoLanes(DcBlocker* const* dc, int count, float* const* bufs, int frames,
                       const SynthConstants& k);
