#include "libs/MACDll/RangeCoder.h"

#include <algorithm>
#include <bit>

namespace mac {

namespace {

constexpr uint32_t Top = 1u << 31;
constexpr uint32_t Bottom = 1u << 23;
constexpr int ShiftBits = 23;

// The overflow model: cumulative totals and widths of symbols 0 to 20; 21 to 63 have width 1.
constexpr uint32_t OverflowTotals[21] = {0,     19578, 36160, 48417, 56323, 60899, 63265,
                                         64435, 64971, 65232, 65351, 65416, 65447, 65466,
                                         65476, 65482, 65485, 65488, 65490, 65491, 65492};
constexpr uint32_t OverflowWidths[21] = {19578, 16582, 12257, 7906, 4576, 2366, 1170,
                                         536,   261,   119,   65,   31,   19,   10,
                                         6,     3,     3,     2,    1,    1,    1};
constexpr uint32_t EscapeSymbol = 63;

} // namespace

void TRangeCoder::Flush(uint8_t Byte, uint8_t Pending) {
  FOut.push_back(Byte);
  FOut.insert(FOut.end(), FPending, Pending);
  FPending = 0;
}

void TRangeCoder::Normalize() {
  while (FRange <= Bottom) {
    if (FLow < (0xFFu << ShiftBits)) {
      Flush(FBuffer, 0xFF);
      FBuffer = static_cast<uint8_t>(FLow >> ShiftBits);
    } else if (FLow >= Top) {
      Flush(static_cast<uint8_t>(FBuffer + 1), 0x00);
      FBuffer = static_cast<uint8_t>(FLow >> ShiftBits);
    } else {
      ++FPending;
    }
    FLow = (FLow << 8) & (Top - 1);
    FRange <<= 8;
  }
}

void TRangeCoder::EncodeFrequency(uint32_t Width, uint32_t Total) {
  Normalize();
  const uint32_t Quotient = FRange >> 16;
  FRange = Quotient * Width;
  FLow += Quotient * Total;
}

void TRangeCoder::EncodeBits(uint32_t Value, int Bits) {
  Normalize();
  FRange >>= Bits;
  FLow += FRange * Value;
}

void TRangeCoder::EncodeUniform(uint32_t Value, uint32_t Count) {
  Normalize();
  FRange /= Count;
  FLow += FRange * Value;
}

void TRangeCoder::Finish() {
  Normalize();
  const uint32_t Last = (FLow >> ShiftBits) + 1;
  if (Last > 0xFF)
    Flush(static_cast<uint8_t>(FBuffer + 1), 0x00);
  else
    Flush(FBuffer, 0xFF);
  FOut.insert(FOut.end(), {static_cast<uint8_t>(Last), 0, 0, 0});
}

void TResidualCoder::Encode(TRangeCoder& Coder, int32_t Residual) {
  const uint32_t Value = Residual > 0 ? 2 * static_cast<uint32_t>(Residual) - 1
                                      : 0u - 2 * static_cast<uint32_t>(Residual);
  const uint32_t Pivot = std::max<uint32_t>(FKSum >> 5, 1);
  FKSum += (Value + 1) / 2 - ((FKSum + 16) >> 5);

  const uint32_t Overflow = Value / Pivot;
  const uint32_t Base = Value % Pivot;
  if (Overflow < 21) {
    Coder.EncodeFrequency(OverflowWidths[Overflow], OverflowTotals[Overflow]);
  } else if (Overflow < EscapeSymbol) {
    Coder.EncodeFrequency(1, 65472 + Overflow);
  } else {
    Coder.EncodeFrequency(1, 65472 + EscapeSymbol);
    Coder.EncodeBits(Overflow >> 16, 16);
    Coder.EncodeBits(Overflow & 0xFFFF, 16);
  }

  if (Pivot < 65536) {
    Coder.EncodeUniform(Base, Pivot);
  } else {
    const int Bits = std::bit_width(Pivot);
    const uint32_t Split = 1u << (Bits - 16);
    Coder.EncodeUniform(Base / Split, Pivot / Split + 1);
    Coder.EncodeUniform(Base % Split, Split);
  }
}

} // namespace mac
