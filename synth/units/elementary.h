#pragma once
// Elementary functions in single precision that give the same bits on every
// system and with every compiler. C libraries differ in the last bit of their
// float functions, which would make a render depend on where it runs; these
// evaluate in double precision with IEEE-754 arithmetic only (no library calls
// but exact ones such as floor and frexp) and round to float once, so they are
// correctly rounded but for results within about 2^-45 of a tie.
float portableExp2(float x);
float portableExp(float x);
// base^exponent for base >= 0 (x^0 = 1, 0^e = 0 for e > 0); NaN for a negative base.
float portablePow(float base, float exponent);
float portableAtan(float x);
float portableSin(float x);
float portableCos(float x);
