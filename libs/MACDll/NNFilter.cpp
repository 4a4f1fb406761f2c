#include "libs/MACDll/NNFilter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <immintrin.h>

namespace mac {

namespace {

int16_t Saturate16(int32_t Value) {
  return static_cast<int16_t>(std::clamp<int32_t>(Value, INT16_MIN, INT16_MAX));
}

// One pass over the taps per sample: Coef += Direction * Delta (wrapping at 16 bits), then the
// sum of History[i] * Coef[i] modulo 2^32 with the new taps, the next sample's prediction.
// pmaddwd's one overflowing case, 2 * (-32768)^2, wraps to the same value modulo 2^32.
template <int Direction>
int32_t AdaptAndDotSse2(int16_t* Coef, const int16_t* Delta, const int16_t* History, int Count) {
  __m128i Sum = _mm_setzero_si128();
  for (int i = 0; i < Count; i += 8) {
    __m128i* C = reinterpret_cast<__m128i*>(Coef + i);
    __m128i Taps = _mm_loadu_si128(C);
    if constexpr (Direction != 0) {
      const __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Delta + i));
      Taps = Direction > 0 ? _mm_add_epi16(Taps, D) : _mm_sub_epi16(Taps, D);
      _mm_storeu_si128(C, Taps);
    }
    const __m128i H = _mm_loadu_si128(reinterpret_cast<const __m128i*>(History + i));
    Sum = _mm_add_epi32(Sum, _mm_madd_epi16(H, Taps));
  }
  Sum = _mm_add_epi32(Sum, _mm_shuffle_epi32(Sum, _MM_SHUFFLE(1, 0, 3, 2)));
  Sum = _mm_add_epi32(Sum, _mm_shuffle_epi32(Sum, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(Sum);
}

template <int Direction>
__attribute__((target("avx2"))) int32_t AdaptAndDotAvx2(int16_t* Coef, const int16_t* Delta,
                                                        const int16_t* History, int Count) {
  __m256i Sum = _mm256_setzero_si256();
  for (int i = 0; i < Count; i += 16) {
    __m256i* C = reinterpret_cast<__m256i*>(Coef + i);
    __m256i Taps = _mm256_loadu_si256(C);
    if constexpr (Direction != 0) {
      const __m256i D = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Delta + i));
      Taps = Direction > 0 ? _mm256_add_epi16(Taps, D) : _mm256_sub_epi16(Taps, D);
      _mm256_storeu_si256(C, Taps);
    }
    const __m256i H = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(History + i));
    Sum = _mm256_add_epi32(Sum, _mm256_madd_epi16(H, Taps));
  }
  __m128i Half = _mm_add_epi32(_mm256_castsi256_si128(Sum), _mm256_extracti128_si256(Sum, 1));
  Half = _mm_add_epi32(Half, _mm_shuffle_epi32(Half, _MM_SHUFFLE(1, 0, 3, 2)));
  Half = _mm_add_epi32(Half, _mm_shuffle_epi32(Half, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(Half);
}

using TKernels = std::array<int32_t (*)(int16_t*, const int16_t*, const int16_t*, int), 3>;

// By direction -1, 0, +1; every order is a multiple of 16.
constexpr TKernels Sse2Kernels = {AdaptAndDotSse2<-1>, AdaptAndDotSse2<0>, AdaptAndDotSse2<1>};
constexpr TKernels Avx2Kernels = {AdaptAndDotAvx2<-1>, AdaptAndDotAvx2<0>, AdaptAndDotAvx2<1>};

} // namespace

bool HasAvx2() {
  // Cheap once done; needed if this runs before libgcc's own constructor.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

TNNFilter::TNNFilter(int Order, int Shift, bool Avx2)
    : FAvx2(Avx2), FOrder(Order), FShift(Shift), FPos(Order), FCoef(Order), FInput(Order + Window),
      FDelta(Order + Window) {}

int32_t TNNFilter::Compress(int32_t Input) {
  // FDot is this sample's sum of history times taps, made by the last sample's pass.
  const int32_t Prediction =
      static_cast<int32_t>((int64_t{FDot} + (int64_t{1} << (FShift - 1))) >> FShift);
  const int32_t Output =
      static_cast<int32_t>(static_cast<uint32_t>(Input) - static_cast<uint32_t>(Prediction));

  // Adapt with the deltas of t - N .. t - 1 as they stand, and sum over t - N + 1 .. t.
  FInput[FPos] = Saturate16(Input);
  const int Direction = (Output < 0) - (Output > 0);
  FDot = (FAvx2 ? Avx2Kernels : Sse2Kernels)[Direction + 1](
      FCoef.data(), FDelta.data() + FPos - FOrder, FInput.data() + FPos - FOrder + 1, FOrder);

  const int64_t Magnitude = Input < 0 ? -int64_t{Input} : Input;
  const int16_t Step = Magnitude == 0                            ? 0
                       : Magnitude > 3 * int64_t{FAverage}       ? 32
                       : Magnitude > (4 * int64_t{FAverage}) / 3 ? 16
                                                                 : 8;
  FDelta[FPos] = Input < 0 ? Step : static_cast<int16_t>(-Step);
  FAverage += static_cast<int32_t>((Magnitude - FAverage) / 16);
  FDelta[FPos - 1] >>= 1;
  FDelta[FPos - 2] >>= 1;
  FDelta[FPos - 8] >>= 1;

  if (++FPos == FOrder + Window) {
    std::memmove(FInput.data(), FInput.data() + Window, FOrder * sizeof(int16_t));
    std::memmove(FDelta.data(), FDelta.data() + Window, FOrder * sizeof(int16_t));
    FPos = FOrder;
  }
  return Output;
}

} // namespace mac
