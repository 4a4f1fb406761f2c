#pragma once

#include <cstdint>
#include <vector>

namespace mac {

// Whether the processor runs AVX2.
bool HasAvx2();

// An adaptive NN filter of Order int16 taps whose output is the input minus the prediction
// shifted down by Shift.
class TNNFilter {
public:
  // Order is a multiple of 16. Avx2 picks the AVX2 loops over the SSE2 ones.
  TNNFilter(int Order, int Shift, bool Avx2 = HasAvx2());
  int32_t Compress(int32_t Input);

private:
  // History and deltas slide through a window this many samples longer than the order, so
  // that they move back only once per window.
  static constexpr int Window = 512;

  bool FAvx2;
  int FOrder, FShift;
  int32_t FAverage = 0;
  int32_t FDot = 0;            // the next prediction's sum, before rounding and shift
  int FPos;                    // index of time t in both buffers
  std::vector<int16_t> FCoef;  // FOrder taps
  std::vector<int16_t> FInput; // saturated inputs, FInput[FPos - FOrder .. FPos - 1]
  std::vector<int16_t> FDelta; // adaption steps aligned with FInput
};

} // namespace mac
