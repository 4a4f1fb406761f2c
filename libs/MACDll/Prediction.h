#pragma once

#include "libs/MACDll/NNFilter.h"

#include <cstdint>
#include <vector>

// The encoder's prediction of one channel: the fixed first-order filter, the sign-sign adaptive
// offset predictor over the channel and its cross input, then the level's NN filters. Every
// frame starts from a fresh predictor.
namespace mac {

class TPredictor {
public:
  // Level 1000 to 5000.
  explicit TPredictor(int Level);
  // The residual to code for sample A with cross input B (0 when there is none).
  int32_t Compress(int32_t A, int32_t B);

private:
  int32_t FLastA = 0, FLastB = 0; // raw inputs of t - 1, the first stage's memory
  int32_t FA[4] = {};             // filtered A of t - 1 .. t - 4
  int32_t FB[4] = {};             // filtered B of t - 1 .. t - 4
  int32_t FCoefA[4] = {360, 317, -109, 98};
  int32_t FCoefB[5] = {};
  std::vector<TNNFilter> FFilters; // in encode order
};

} // namespace mac
