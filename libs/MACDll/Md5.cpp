#include "libs/MACDll/Md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace mac {

namespace {

constexpr uint32_t Shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(2^32 * |sin(i + 1)|).
constexpr uint32_t Constants[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

} // namespace

void TMd5::Transform(const uint8_t* Block) {
  uint32_t M[16];
  for (int i = 0; i < 16; ++i)
    M[i] = Block[4 * i] | (Block[4 * i + 1] << 8) | (Block[4 * i + 2] << 16) |
           (uint32_t{Block[4 * i + 3]} << 24);
  uint32_t A = FState[0], B = FState[1], C = FState[2], D = FState[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t F;
    int g;
    if (i < 16) {
      F = (B & C) | (~B & D);
      g = i;
    } else if (i < 32) {
      F = (D & B) | (~D & C);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      F = B ^ C ^ D;
      g = (3 * i + 5) % 16;
    } else {
      F = C ^ (B | ~D);
      g = (7 * i) % 16;
    }
    const uint32_t Next = D;
    D = C;
    C = B;
    B += std::rotl(A + F + Constants[i] + M[g], static_cast<int>(Shifts[i]));
    A = Next;
  }
  FState[0] += A;
  FState[1] += B;
  FState[2] += C;
  FState[3] += D;
}

void TMd5::Update(std::span<const uint8_t> Bytes) {
  size_t Used = FBytes % 64;
  FBytes += Bytes.size();
  size_t Pos = 0;
  if (Used > 0) {
    const size_t Take = std::min(Bytes.size(), 64 - Used);
    std::memcpy(FBlock + Used, Bytes.data(), Take);
    Pos = Take;
    if (Used + Take < 64)
      return;
    Transform(FBlock);
  }
  for (; Pos + 64 <= Bytes.size(); Pos += 64)
    Transform(Bytes.data() + Pos);
  if (Pos < Bytes.size())
    std::memcpy(FBlock, Bytes.data() + Pos, Bytes.size() - Pos);
}

std::array<uint8_t, 16> TMd5::Final() {
  const uint64_t Bits = FBytes * 8;
  uint8_t Padding[72] = {0x80};
  const size_t Used = FBytes % 64;
  const size_t PadBytes = (Used < 56 ? 56 : 120) - Used;
  for (int i = 0; i < 8; ++i)
    Padding[PadBytes + i] = static_cast<uint8_t>(Bits >> (8 * i));
  Update({Padding, PadBytes + 8});
  std::array<uint8_t, 16> Digest;
  for (int i = 0; i < 16; ++i)
    Digest[i] = static_cast<uint8_t>(FState[i / 4] >> (8 * (i % 4)));
  return Digest;
}

} // namespace mac
