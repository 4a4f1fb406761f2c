#pragma once

#include <cstdint>
#include <vector>

// The range coder of APE frames and the coding of residuals through it.
namespace mac {

class TRangeCoder {
public:
  // Appends the coded bytes to Out, in stream order.
  explicit TRangeCoder(std::vector<uint8_t>& Out) : FOut(Out) {}
  // A symbol of a 16-bit-total model: its width and cumulative total.
  void EncodeFrequency(uint32_t Width, uint32_t Total);
  // Bits raw bits of Value.
  void EncodeBits(uint32_t Value, int Bits);
  // Value uniformly from [0, Count).
  void EncodeUniform(uint32_t Value, uint32_t Count);
  // The end of a frame: the last bytes of low and the finish bytes.
  void Finish();

private:
  void Normalize();
  void Flush(uint8_t Byte, uint8_t Pending);

  std::vector<uint8_t>& FOut;
  uint32_t FLow = 0;
  uint32_t FRange = 1u << 31;
  uint8_t FBuffer = 0;
  uint32_t FPending = 0;
};

// The residuals of one channel: an adaptive Rice-like split into an overflow, coded with a
// fixed model, and a base, coded uniformly.
class TResidualCoder {
public:
  void Encode(TRangeCoder& Coder, int32_t Residual);

private:
  uint32_t FKSum = 16384;
};

} // namespace mac
