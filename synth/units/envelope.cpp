#include "synth/units/envelope.h"

#include "synth/units/numeric.h"

namespace {

constexpr float kAttackOctaves = 0.09375f;          // attack step halves every 10.7 parameter steps
constexpr float kAttackTopExponent = 7.0f;          // attack 0 adds 128: one tick
constexpr float kFadeOctaves = -11.0f;              // decay and release span eleven octaves
constexpr float kSustainSlopeOctaves = 0.0019375f;  // per parameter step away from 64
constexpr float kSustainSlopeCentre = 64.0f;

// 1 - 2^(-11 x / 128): 0 at x = 0 (jump at once), close to 1 at x = 128.
float fadeFactor(float x) {
  return 1.0f - portableExp2(kFadeOctaves * x / kParamFullScale);
}

}  // namespace

void reset(Envelope& env) {
  env.stage = static_cast<int32_t>(EnvelopeStage::Off);
}

void setup(Envelope& env, const float* e) {
  env.attackStep = portableExp2(kAttackTopExponent - kAttackOctaves * e[0]);
  env.decayFactor = fadeFactor(e[1]);
  env.sustainLevel = e[2];
  env.sustainFactor = portableExp2((e[3] - kSustainSlopeCentre) * kSustainSlopeOctaves);
  env.releaseFactor = fadeFactor(e[4]);
  env.gain = e[5] / kParamFullScale;
}

void tick(Envelope& env, int gate) {
  float level = env.level;
  auto stage = static_cast<EnvelopeStage>(env.stage);
  if (env.stage < 0 || env.stage > static_cast<int32_t>(EnvelopeStage::Release)) {
    stage = EnvelopeStage::Off;  // a stage number the machine does not know
  }
  // A gate change moves to the matching stage, whose step runs in this tick.
  if (gate && (stage == EnvelopeStage::Off || stage == EnvelopeStage::Release)) {
    stage = EnvelopeStage::Attack;
  } else if (!gate && stage != EnvelopeStage::Off) {
    stage = EnvelopeStage::Release;
  }
  switch (stage) {
    case EnvelopeStage::Attack:
      level += env.attackStep;
      if (level >= kParamFullScale) {
        level = kParamFullScale;
        stage = EnvelopeStage::Decay;
      }
      break;
    case EnvelopeStage::Decay:
      level *= env.decayFactor;
      if (level <= env.sustainLevel) {
        level = env.sustainLevel;
        stage = EnvelopeStage::Sustain;
      } else if (level <= kEnvelopeFloor) {
        level = 0.0f;
        stage = EnvelopeStage::Off;
      }
      break;
    case EnvelopeStage::Sustain:
      level *= env.sustainFactor;
      if (level <= kEnvelopeFloor) {
        level = 0.0f;
        stage = EnvelopeStage::Off;
      } else if (level >= kParamFullScale) {
        level = kParamFullScale;
      }
      break;
    case EnvelopeStage::Release:
      level *= env.releaseFactor;
      if (level <= kEnvelopeFloor) {
        level = 0.0f;
        stage = EnvelopeStage::Off;
      }
      break;
    case EnvelopeStage::Off:
      level = 0.0f;
      break;
  }
  env.level = level;
  env.stage = static_cast<int32_t>(stage);
  env.out = level * env.gain;
}
