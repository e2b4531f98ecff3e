#include "synth/units/dc_blocker.h"

#include <algorithm>

#include "synth/units/batch.h"

namespace {

template <class T>
struct MonoKernel : DcStep<T> {
  MonoKernel(DcBlocker* const* dc, float coefficient)
      : DcStep<T>{coefficient, gather<T>(dc, &DcBlocker::lastInLeft),
                  gather<T>(dc, &DcBlocker::lastOutLeft)} {}
  void store(DcBlocker* const* dc, int used) const {
    scatter(dc, used, &DcBlocker::lastInLeft, this->xPrev);
    scatter(dc, used, &DcBlocker::lastOutLeft, this->yPrev);
  }
};

struct StereoKernel : DcStep<Lanes> {
  static constexpr bool kWrites = true;
  StereoKernel() = default;
  StereoKernel(DcBlocker* const* dc, float coefficient)
      : DcStep<Lanes>{coefficient,
                      gatherStereo(dc, &DcBlocker::lastInLeft, &DcBlocker::lastInRight),
                      gatherStereo(dc, &DcBlocker::lastOutLeft, &DcBlocker::lastOutRight)} {}
  void store(DcBlocker* const* dc, int used) const {
    scatterStereo(dc, used, &DcBlocker::lastInLeft, &DcBlocker::lastInRight, xPrev);
    scatterStereo(dc, used, &DcBlocker::lastOutLeft, &DcBlocker::lastOutRight, yPrev);
  }
};

// Voices come eight at a time: two registers whose recursions overlap.
constexpr int kMonoRegisters = 2;

}  // namespace

void reset(DcBlocker& dc) {
  dc = DcBlocker{};
}

void renderMono(DcBlocker& dc, const float* in, float* out, int count, const SynthConstants& k) {
  if (in != out) std::copy(in, in + count, out);
  DcBlocker* const one[] = {&dc};
  renderMonoLanes(one, 1, &out, count, k);
}

void renderStereo(DcBlocker& dc, const float* in, float* out, int frames, const SynthConstants& k) {
  if (in != out) std::copy(in, in + 2 * frames, out);
  DcBlocker* const one[] = {&dc};
  renderStereoLanes(one, 1, &out, frames, k);
}

void renderMonoLanes(DcBlocker* const* dc, int count, float* const* bufs, int n,
                     const SynthConstants& k) {
  renderMonoBatch<MonoKernel, kMonoRegisters>(dc, count, bufs, n, k.dcCoefficient);
}

void renderStereoLanes(DcBlocker* const* dc, int count, float* const* bufs, int frames,
                       const SynthConstants& k) {
  renderStereoBatch<StereoKernel>(dc, count, bufs, frames, k.dcCoefficient);
}
