#pragma once

#include <array>
#include <cstdint>
#include <span>

// MD5 (RFC 1321), fed in pieces.
namespace mac {

class TMd5 {
public:
  void Update(std::span<const uint8_t> Bytes);
  // The digest of everything fed; the object is spent.
  std::array<uint8_t, 16> Final();

private:
  void Transform(const uint8_t* Block);

  uint32_t FState[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
  uint64_t FBytes = 0;
  uint8_t FBlock[64] = {};
};

} // namespace mac
