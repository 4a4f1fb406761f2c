#include "runtime/Rounding.h"

#include <cmath>

int64_t RoundHalfEven(long double Value) {
  // Taking off the whole part is exact, so no rounding mode can move the fraction across 0.5.
  const long double Whole = std::trunc(Value);
  const long double Fraction = std::fabs(Value - Whole);
  const auto Truncated = static_cast<int64_t>(Whole);
  const int64_t AwayFromZero = Value < 0 ? Truncated - 1 : Truncated + 1;
  if (Fraction < 0.5L)
    return Truncated;
  if (Fraction > 0.5L)
    return AwayFromZero;
  return Truncated % 2 == 0 ? Truncated : AwayFromZero;
}
