#include "libs/MACDll/FrameEncoder.h"

#include "libs/MACDll/Prediction.h"
#include "libs/MACDll/RangeCoder.h"

#include <array>

namespace mac {

namespace {

constexpr uint32_t SpecialChannel1Silent = 1;
constexpr uint32_t SpecialChannel0Silent = 2;
constexpr uint32_t SpecialPseudoStereo = 4;
constexpr uint32_t SpecialSilent =
    SpecialChannel1Silent | SpecialChannel0Silent | SpecialPseudoStereo;

constexpr std::array<uint32_t, 256> CrcTable = [] {
  std::array<uint32_t, 256> Table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t Crc = i;
    for (int Bit = 0; Bit < 8; ++Bit)
      Crc = (Crc >> 1) ^ ((Crc & 1) ? 0xEDB88320u : 0);
    Table[i] = Crc;
  }
  return Table;
}();

int32_t Sample(std::span<const uint8_t> Pcm, size_t Index) {
  return static_cast<int16_t>(Pcm[2 * Index] | (Pcm[2 * Index + 1] << 8));
}

void PutWord(std::vector<uint8_t>& Out, uint32_t Word) {
  Out.insert(Out.end(), {static_cast<uint8_t>(Word >> 24), static_cast<uint8_t>(Word >> 16),
                         static_cast<uint8_t>(Word >> 8), static_cast<uint8_t>(Word)});
}

uint32_t SpecialCode(std::span<const uint8_t> Pcm, int Channels, size_t Blocks) {
  bool Silent0 = true, Silent1 = true, Same = true;
  for (size_t t = 0; t < Blocks; ++t) {
    const int32_t C0 = Sample(Pcm, t * Channels);
    Silent0 = Silent0 && C0 == 0;
    if (Channels == 2) {
      const int32_t C1 = Sample(Pcm, 2 * t + 1);
      Silent1 = Silent1 && C1 == 0;
      Same = Same && C0 == C1;
    }
  }
  if (Channels == 1)
    return Silent0 ? SpecialChannel1Silent : 0;
  return (Silent1 ? SpecialChannel1Silent : 0) | (Silent0 ? SpecialChannel0Silent : 0) |
         (Same ? SpecialPseudoStereo : 0);
}

} // namespace

uint32_t Crc32(std::span<const uint8_t> Bytes) {
  uint32_t Crc = 0xFFFFFFFF;
  for (uint8_t Byte : Bytes)
    Crc = CrcTable[(Crc ^ Byte) & 0xFF] ^ (Crc >> 8);
  return Crc ^ 0xFFFFFFFF;
}

void EncodeFrame(std::span<const uint8_t> Pcm, int Channels, int Level, std::vector<uint8_t>& Out) {
  const size_t Blocks = Pcm.size() / (2 * Channels);
  const uint32_t Special = SpecialCode(Pcm, Channels, Blocks);
  PutWord(Out, (Crc32(Pcm) >> 1) | (Special != 0 ? 0x80000000u : 0));
  if (Special != 0)
    PutWord(Out, Special);

  TRangeCoder Coder(Out);
  const bool Nothing = Channels == 1 ? Special != 0 : Special == SpecialSilent;
  if (!Nothing) {
    TPredictor PredictX(Level);
    TResidualCoder CoderX;
    if (Channels == 1 || (Special & SpecialPseudoStereo) != 0) {
      for (size_t t = 0; t < Blocks; ++t)
        CoderX.Encode(Coder, PredictX.Compress(Sample(Pcm, t * Channels), 0));
    } else {
      TPredictor PredictY(Level);
      TResidualCoder CoderY;
      int32_t LastX = 0;
      for (size_t t = 0; t < Blocks; ++t) {
        const int32_t C0 = Sample(Pcm, 2 * t), C1 = Sample(Pcm, 2 * t + 1);
        const int32_t Y = C1 - C0;
        const int32_t X = C0 + Y / 2;
        CoderY.Encode(Coder, PredictY.Compress(Y, LastX));
        CoderX.Encode(Coder, PredictX.Compress(X, Y));
        LastX = X;
      }
    }
  }
  Coder.Finish();
}

} // namespace mac
