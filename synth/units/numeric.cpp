#include "synth/units/numeric.h"

float sineApprox(float x) {
  constexpr float kTwoPi = 6.2831855f;
  x = x - kTwoPi * std::floor(x / kTwoPi);
  float y;
  if (x <= 1.5707964f) {
    y = x;
  } else if (x <= 4.712389f) {
    y = 3.14159274f - x;
  } else {
    y = x - kTwoPi;
  }
  return sinePoly(y);
}
