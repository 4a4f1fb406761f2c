#pragma once

#include "libs/MACDll/MACDll.h"
#include "libs/MACDll/Md5.h"
#include "platform/File.h"

#include <array>
#include <cstdint>
#include <vector>

// One APE file being written through the buffer interface: the descriptor, header and seek
// table (placeholders until Finish), the optional WAV header, then the frames, each encoded as
// soon as the one-frame input buffer fills.
namespace mac {

class TCompressor {
public:
  int32_t Start(const char* OutputFile, const WAVEFORMATEX* Format, int32_t MaxAudioBytes,
                int32_t Level, const void* HeaderData, int32_t HeaderBytes);
  uint8_t* LockBuffer(int32_t* BytesAvailable);
  int32_t UnlockBuffer(int32_t BytesAdded, bool Process);
  int32_t BytesAvailable() const;
  int32_t Finish(const void* TerminatingData, int32_t TerminatingBytes,
                 int32_t WavTerminatingBytes);

private:
  enum class TState { Idle, Started, Finished };

  int32_t EncodeFrame(size_t Bytes);
  // Stores the stream's whole words, each byte-reversed, and keeps the bytes after them.
  int32_t StoreWords();
  int32_t Write(const void* Data, size_t Bytes, bool Hash);
  std::vector<uint8_t> DescriptorBlock(int32_t WavTerminatingBytes,
                                       const std::array<uint8_t, 16>& Md5) const;
  std::vector<uint8_t> Header() const;
  std::vector<uint8_t> SeekTable() const;

  TState FState = TState::Idle;
  bool FLocked = false;
  platform::TFileHandle FFile;
  int FChannels = 0, FBlockAlign = 0, FLevel = 0;
  uint32_t FSampleRate = 0, FBlocksPerFrame = 0;
  uint32_t FHeaderDataBytes = 0;
  std::vector<uint8_t> FBuffer; // one frame of PCM
  size_t FBuffered = 0;         // bytes of it filled
  std::vector<uint8_t> FStream; // coded bytes not yet stored, in stream order
  uint64_t FStreamBytes = 0;    // stream bytes coded so far
  uint64_t FStoredBytes = 0;    // frame data bytes in the file
  std::vector<uint32_t> FSeekTable;
  uint32_t FFrames = 0, FFinalFrameBlocks = 0;
  TMd5 FMd5;
};

} // namespace mac
