#pragma once

#include "audio/core/ACS_Classes.h"

#include <atomic>
#include <cstdint>
#include <vector>

enum TWavType : uint8_t {
  wtUnsupported = 0,
  wtPCM = 1,
  wtDVIADPCM = 2,
  wtMSADPCM = 3,
  wtACM = 4,
  wtIEEEFloat = 5,
  wtExtPCM = 6,
  wtExtIEEEFloat = 7
};

// Stores its input in a RIFF WAVE file: PCM behind the 44-byte header, PCM of more than two
// channels or 16 bits behind the 68-byte extensible header, or IMA ADPCM (4 bits a sample, in
// blocks of BlockSize bytes) behind a 60-byte header with a "fact" chunk. In foAppend mode it
// adds to an existing PCM or IMA ADPCM file of the same audio format. Done makes the header
// agree with the data actually written.
class TWaveOut : public TAuFileOut {
public:
  explicit TWaveOut(TComponent* AOwner);

  TWavType WavType() const { return FWavType; }
  // Ignored while running, and for kinds other than wtPCM and wtDVIADPCM.
  void SetWavType(TWavType Value);
  uint16_t BlockSize() const { return FBlockSize; }
  // Ignored while running, for 0 and for values that are not a multiple of 4.
  void SetBlockSize(uint16_t Value);
  // False: inputs of more than 2 channels or 16 bits get the extensible header.
  bool CreateNonMsHeaders() const { return FCreateNonMsHeaders; }
  void SetCreateNonMsHeaders(bool Value) { FCreateNonMsHeaders = Value; }
  // Accepts foAppend.
  void SetFileMode(TFileOutputMode Value) override;

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  // Where the sizes live in the file being written, for Done to patch them.
  struct TLayout {
    int64_t RiffStart = 0;
    int64_t FactOffset = -1;
    int64_t DataSizeOffset = 0;
    int64_t DataStart = 0;
  };
  struct TChannelState {
    int16_t Predictor = 0;
    uint8_t Index = 0;
  };

  void OpenFile();
  void AppendOrWriteHeader();
  void Release();
  bool DoOutputPCM();
  bool DoOutputADPCM();
  void WriteAll(const void* Buffer, size_t Count);
  void PatchSizes();
  void PadToDeclaredSize();
  uint16_t SamplesPerBlock() const;

  // Written on the user-interface thread while idle; WavType and BlockSize also by Prepare.
  std::atomic<TWavType> FWavType{wtPCM};
  std::atomic<uint16_t> FBlockSize{512};
  std::atomic<bool> FCreateNonMsHeaders{false};

  // Worker only, from Prepare to Done.
  bool FInputOpen = false;
  bool FAppending = false;
  bool FEndOfInput = false;
  // A read or write failed: the run ends with the error, and Done fits the header to the file.
  bool FFailed = false;
  int64_t FInputSize = 0;
  uint16_t FChannels = 0;
  TLayout FLayout;
  // ADPCM: the input bytes of one block and the block; the blocks this run wrote, and the zero
  // frames that fill the last of them.
  std::vector<uint8_t> FSamples;
  std::vector<uint8_t> FBlock;
  int64_t FBlocksWritten = 0;
  int64_t FTailFrames = 0;
  // Carried from block to block and, when appending, from run to run.
  std::vector<TChannelState> FChannel;
};
