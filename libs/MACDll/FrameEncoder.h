#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One APE frame from interleaved 16-bit little-endian PCM: the CRC word, the special-code word
// when the frame has silence or identical channels, then the range-coded payload.
namespace mac {

// zlib's CRC-32 of Bytes.
uint32_t Crc32(std::span<const uint8_t> Bytes);

// Appends the frame of Pcm (whole blocks of Channels samples, 1 or 2) at Level to Out, in
// stream order. Every frame starts from a fresh state.
void EncodeFrame(std::span<const uint8_t> Pcm, int Channels, int Level, std::vector<uint8_t>& Out);

} // namespace mac
