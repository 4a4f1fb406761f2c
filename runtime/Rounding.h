#pragma once

#include <cstdint>

// Rounded to the nearest integer, ties to even, computed in long double whatever the
// floating-point environment's rounding mode is.
int64_t RoundHalfEven(long double Value);
