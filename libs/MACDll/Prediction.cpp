#include "libs/MACDll/Prediction.h"

#include <algorithm>

namespace mac {

namespace {

int32_t Sign(int32_t Value) {
  return (Value > 0) - (Value < 0);
}

// The NN filters of each level, in encode order: order and shift.
struct TFilterSpec {
  int Order, Shift;
};
constexpr TFilterSpec Level2000[] = {{16, 11}};
constexpr TFilterSpec Level3000[] = {{64, 11}};
constexpr TFilterSpec Level4000[] = {{256, 13}, {32, 10}};
constexpr TFilterSpec Level5000[] = {{1280, 15}, {256, 13}, {16, 11}};

} // namespace

TPredictor::TPredictor(int Level) {
  const auto Add = [this](const auto& Specs) {
    for (const TFilterSpec& Spec : Specs)
      FFilters.emplace_back(Spec.Order, Spec.Shift);
  };
  if (Level == 2000)
    Add(Level2000);
  else if (Level == 3000)
    Add(Level3000);
  else if (Level == 4000)
    Add(Level4000);
  else if (Level == 5000)
    Add(Level5000);
}

int32_t TPredictor::Compress(int32_t A, int32_t B) {
  // Stage 1: a fixed first-order filter on both inputs.
  const int32_t FilteredA = A - ((FLastA * 31) >> 5);
  const int32_t FilteredB = B - ((FLastB * 31) >> 5);
  FLastA = A;
  FLastB = B;

  // Stage 2, wrapping at 32 bits as Monkey's Audio's own decoder does (FFmpeg 5.1 sums in 64
  // bits at level 5000; the two differ only when the sums overflow).
  const int32_t InA[4] = {FA[0], FA[0] - FA[1], FA[1] - FA[2], FA[2] - FA[3]};
  const int32_t InB[5] = {FilteredB, FilteredB - FB[0], FB[0] - FB[1], FB[1] - FB[2],
                          FB[2] - FB[3]};
  uint32_t SumA = 0, SumB = 0;
  for (int i = 0; i < 4; ++i)
    SumA += static_cast<uint32_t>(InA[i]) * static_cast<uint32_t>(FCoefA[i]);
  for (int i = 0; i < 5; ++i)
    SumB += static_cast<uint32_t>(InB[i]) * static_cast<uint32_t>(FCoefB[i]);
  const uint32_t Sum = SumA + static_cast<uint32_t>(static_cast<int32_t>(SumB) >> 1);
  const int32_t Prediction = static_cast<int32_t>(Sum) >> 10;
  int32_t Residual =
      static_cast<int32_t>(static_cast<uint32_t>(FilteredA) - static_cast<uint32_t>(Prediction));
  const int32_t Direction = Sign(Residual);
  for (int i = 0; i < 4; ++i)
    FCoefA[i] += Direction * Sign(InA[i]);
  for (int i = 0; i < 5; ++i)
    FCoefB[i] += Direction * Sign(InB[i]);
  std::copy_backward(FA, FA + 3, FA + 4);
  FA[0] = FilteredA;
  std::copy_backward(FB, FB + 3, FB + 4);
  FB[0] = FilteredB;

  // Stage 3: the NN filters, largest first.
  for (TNNFilter& Filter : FFilters)
    Residual = Filter.Compress(Residual);
  return Residual;
}

} // namespace mac
