#include "audio/encoders/ACS_LAME.h"

#include "audio/encoders/lame.h"
#include "platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr uint32_t OutOfListKbps = 128;

constexpr size_t TextField = 30;

void PutText(std::array<uint8_t, Id3v1BlockSize>& Block, size_t Offset, const std::string& Text) {
  std::memcpy(Block.data() + Offset, Text.data(), std::min(Text.size(), TextField));
}

// An error of the library: "<What> Error : <code>".
void Check(const char* What, uint32_t Result) {
  if (Result != BE_ERR_SUCCESSFUL)
    throw EAuException(std::string(What) + " Error : " + std::to_string(Result));
}

} // namespace

uint32_t BitRateToKbps(TMP3BitRate Value) {
  return Value < std::size(Kbps) ? Kbps[Value] : OutOfListKbps;
}

std::array<uint8_t, Id3v1BlockSize> BuildId3v1Block(const TId3v1Tags& Tags) {
  std::array<uint8_t, Id3v1BlockSize> Block{};
  std::memcpy(Block.data(), "TAG", 3);
  PutText(Block, 3, Tags.Title());
  PutText(Block, 33, Tags.Artist());
  PutText(Block, 63, Tags.Album());
  if (const std::string Year = std::to_string(Tags.Year()); Tags.Year() != 0 && Year.size() == 4)
    std::memcpy(Block.data() + 93, Year.data(), 4);
  PutText(Block, 97, Tags.Comment());
  // Genre 0 would be "Blues" on every file.
  Block[127] = 255;
  return Block;
}

TMP3Out::TMP3Out(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {
  if (!LoadLameLibrary())
    throw EAuException("lame_enc.dll library could not be loaded.");
}

TMP3Out::~TMP3Out() {
  // A worker still in a run calls the library: it ends before the library can go.
  TAuTaggedFileOut::BeforeDestruction();
  UnloadLameLibrary();
}

BE_CONFIG TMP3Out::MakeConfig() const {
  BE_CONFIG Config{};
  Config.dwConfig = BE_CONFIG_LAME;
  Config.dwStructVersion = BE_CONFIG_VERSION;
  Config.dwStructSize = BE_CONFIG_SIZE;
  Config.dwSampleRate = static_cast<uint32_t>(Input()->GetSR());
  Config.nMode = FMode;
  Config.dwBitrate = BitRateToKbps(FBitRate);
  Config.dwMaxBitrate = BitRateToKbps(FMaximumBitrate);
  Config.bCRC = FCRC;
  Config.bCopyright = FCopyright;
  Config.bOriginal = FOriginal;
  Config.bWriteVBRHeader = FEnableVBR;
  Config.bEnableVBR = FEnableVBR;
  if (FEnableVBR)
    Config.nVBRQuality = FVBRQuality;
  Config.dwVbrAbr_bps = BitRateToKbps(FAverageBitrate);
  Config.nVbrMethod = Config.dwVbrAbr_bps != 0 ? BE_VBR_METHOD_ABR : BE_VBR_METHOD_NEW;
  return Config;
}

void TMP3Out::Prepare() {
  if (FWideFileName.empty())
    throw EAuException("File name is not assigned.");
  FStream = std::make_unique<TAuFileStream>(FWideFileName, TAuFileStream::fmCreate);
  FTarget = FFileName;
  Input()->Init();
  FInputOpen = true;
  // The record tells the encoder the channels only through the mode, and the chunks are taken
  // as 16-bit: any other input would be encoded as noise.
  const int32_t Channels = Input()->GetCh();
  if (Input()->GetBPS() != 16 || Channels != (FMode == mmMono ? 1 : 2))
    throw EAuException("The input's sample format cannot be encoded.");
  FConfig = MakeConfig();
  uint32_t SamplesPerChunk = 0;
  uint32_t OutputSize = 0;
  const uint32_t Result = Lame().beInitStream(&FConfig, &SamplesPerChunk, &OutputSize, &FEncoder);
  if (Result != BE_ERR_SUCCESSFUL)
    throw EAuException("InitStream Error : " + std::to_string(Result));
  FEncoderOpen = true;
  // For stereo one chunk, for mono half of one.
  FInBytes = static_cast<uint32_t>(Channels) * SamplesPerChunk;
  FInBuffer.assign((FInBytes + 1) / 2, 0);
  FOutBuffer.assign(OutputSize, 0);
}

bool TMP3Out::DoOutput(bool Abort) {
  if (!Prepared())
    return true;
  if (Abort)
    return false;
  bool Ended = false;
  const uint32_t Bytes = Input()->FillBuffer(FInBuffer.data(), FInBytes, Ended);
  if (Bytes == 0)
    return false;
  uint32_t Produced = 0;
  Check("EncodeChunk",
        Lame().beEncodeChunk(FEncoder, Bytes / 2, FInBuffer.data(), FOutBuffer.data(), &Produced));
  WriteEncoded(Produced);
  return !Ended;
}

void TMP3Out::Done() {
  try {
    Finish();
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

// The encoder's last frames, the tag, and for VBR the header over the reserved first frame.
void TMP3Out::Finish() {
  if (!FEncoderOpen)
    return;
  uint32_t Produced = 0;
  Check("DeinitStream", Lame().beDeinitStream(FEncoder, FOutBuffer.data(), &Produced));
  WriteEncoded(Produced);
  const std::array<uint8_t, Id3v1BlockSize> Tag = BuildId3v1Block(*Id3v1Tags());
  WriteAll(Tag.data(), Tag.size());
  FStream.reset();
  // This stream's own header: beWriteVBRHeader would take whichever stream of the process
  // closed last, another writer's when two run at once.
  if (FConfig.bEnableVBR)
    Check("WriteInfoTag", Lame().beWriteInfoTag(FEncoder, FTarget.c_str()));
}

void TMP3Out::Release() {
  FStream.reset();
  if (FEncoderOpen) {
    FEncoderOpen = false;
    Lame().beCloseStream(FEncoder);
  }
  FInBuffer = {};
  FOutBuffer = {};
  if (FInputOpen) {
    FInputOpen = false;
    Input()->Flush();
  }
}

void TMP3Out::WriteEncoded(uint32_t Produced) {
  // Bytes beyond the buffer would be someone else's memory.
  if (Produced > FOutBuffer.size())
    throw EAuException("The encoder reported more bytes than its buffer holds.");
  WriteAll(FOutBuffer.data(), Produced);
}

void TMP3Out::WriteAll(const void* Buffer, size_t Count) {
  if (FStream->Write(Buffer, Count) != static_cast<int64_t>(Count))
    throw EAuException(platform::SysErrorMessage(errno));
}
