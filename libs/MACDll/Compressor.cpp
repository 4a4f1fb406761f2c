#include "libs/MACDll/Compressor.h"

#include "libs/MACDll/FrameEncoder.h"

#include <algorithm>
#include <cstring>

namespace mac {

namespace {

constexpr uint32_t DescriptorBytes = 52;
constexpr uint32_t HeaderBytes = 24;
constexpr uint16_t FlagCreateWavHeader = 0x20;
constexpr int64_t UnknownMaxAudioBytes = 0x7FFFFFFF;

void PutU16(std::vector<uint8_t>& Out, uint32_t Value) {
  Out.push_back(static_cast<uint8_t>(Value));
  Out.push_back(static_cast<uint8_t>(Value >> 8));
}

void PutU32(std::vector<uint8_t>& Out, uint32_t Value) {
  PutU16(Out, Value & 0xFFFF);
  PutU16(Out, Value >> 16);
}

uint32_t BlocksPerFrame(int32_t Level) {
  return Level == 5000 ? 1179648 : Level == 4000 ? 294912 : 73728;
}

} // namespace

int32_t TCompressor::Start(const char* OutputFile, const WAVEFORMATEX* Format,
                           int32_t MaxAudioBytes, int32_t Level, const void* HeaderData,
                           int32_t HeaderDataBytes) {
  if (FState != TState::Idle || Format == nullptr || MaxAudioBytes < -1 || HeaderDataBytes < 0 ||
      (HeaderDataBytes > 0 && HeaderData == nullptr) || Level % 1000 != 0 || Level < 1000 ||
      Level > 5000)
    return MAC_ERROR_BAD_PARAMETER;
  if (Format->wFormatTag != MAC_WAVE_FORMAT_PCM)
    return MAC_ERROR_INVALID_INPUT_FILE;
  if (Format->wBitsPerSample != 16)
    return MAC_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
  if (Format->nChannels != 1 && Format->nChannels != 2)
    return MAC_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT;
  if (Format->nSamplesPerSec == 0)
    return MAC_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE;
  if (Format->nBlockAlign != 2 * Format->nChannels)
    return MAC_ERROR_INVALID_INPUT_FILE;
  if (OutputFile == nullptr || *OutputFile == '\0')
    return MAC_ERROR_INVALID_OUTPUT_FILE;

  FChannels = Format->nChannels;
  FBlockAlign = Format->nBlockAlign;
  FSampleRate = Format->nSamplesPerSec;
  FLevel = Level;
  FBlocksPerFrame = BlocksPerFrame(Level);
  const int64_t MaxBytes = MaxAudioBytes == -1 ? UnknownMaxAudioBytes : MaxAudioBytes;
  const int64_t MaxBlocks = MaxBytes / FBlockAlign;
  FSeekTable.assign(std::max<int64_t>(1, (MaxBlocks + FBlocksPerFrame - 1) / FBlocksPerFrame), 0);
  FBuffer.assign(size_t{FBlocksPerFrame} * FBlockAlign, 0);
  FStream.reserve(FBuffer.size() / 2);

  FFile = platform::FileCreate(OutputFile, platform::TFileShare::ReadWrite);
  if (!FFile.Valid())
    return MAC_ERROR_INVALID_OUTPUT_FILE;
  FState = TState::Started;
  // Placeholders for the descriptor, header and seek table, which Finish writes.
  const std::vector<uint8_t> Zeros(DescriptorBytes + HeaderBytes + 4 * FSeekTable.size(), 0);
  FHeaderDataBytes = static_cast<uint32_t>(HeaderDataBytes);
  if (const int32_t Error = Write(Zeros.data(), Zeros.size(), false))
    return Error;
  return Write(HeaderData, FHeaderDataBytes, true);
}

uint8_t* TCompressor::LockBuffer(int32_t* Available) {
  const bool Lendable = FState == TState::Started && !FLocked;
  if (Available != nullptr)
    *Available = Lendable ? BytesAvailable() : 0;
  if (!Lendable)
    return nullptr;
  FLocked = true;
  return FBuffer.data() + FBuffered;
}

int32_t TCompressor::BytesAvailable() const {
  return FState == TState::Started ? static_cast<int32_t>(FBuffer.size() - FBuffered) : 0;
}

int32_t TCompressor::UnlockBuffer(int32_t BytesAdded, bool Process) {
  if (FState != TState::Started || !FLocked)
    return MAC_ERROR_BAD_PARAMETER;
  FLocked = false;
  if (BytesAdded < 0 || BytesAdded > BytesAvailable())
    return MAC_ERROR_BAD_PARAMETER;
  FBuffered += BytesAdded;
  if (Process && FBuffered == FBuffer.size())
    return EncodeFrame(FBuffered);
  return MAC_ERROR_SUCCESS;
}

int32_t TCompressor::Finish(const void* TerminatingData, int32_t TerminatingBytes,
                            int32_t WavTerminatingBytes) {
  if (FState != TState::Started || FLocked)
    return MAC_ERROR_BAD_PARAMETER;
  if (TerminatingBytes < 0 || (TerminatingBytes > 0 && TerminatingData == nullptr) ||
      WavTerminatingBytes < 0 || WavTerminatingBytes > TerminatingBytes)
    return MAC_ERROR_BAD_PARAMETER;
  FState = TState::Finished;

  // A partial block cannot be coded; it is dropped and reported once the file is complete.
  const size_t Partial = FBuffered % FBlockAlign;
  if (FBuffered >= static_cast<size_t>(FBlockAlign))
    if (const int32_t Error = EncodeFrame(FBuffered - Partial))
      return Error;
  // The final word: padding to a whole word, or one more word when the stream fills its last.
  FStream.resize(FStream.size() + 4 - FStream.size() % 4, 0);
  if (const int32_t Error = StoreWords())
    return Error;
  const auto* Terminating = static_cast<const uint8_t*>(TerminatingData);
  if (const int32_t Error = Write(Terminating, WavTerminatingBytes, true))
    return Error;
  if (const int32_t Error =
          Write(Terminating + WavTerminatingBytes, TerminatingBytes - WavTerminatingBytes, false))
    return Error;

  const std::vector<uint8_t> FinalHeader = Header();
  const std::vector<uint8_t> FinalSeekTable = SeekTable();
  FMd5.Update(FinalHeader);
  FMd5.Update(FinalSeekTable);
  const std::vector<uint8_t> Descriptor = DescriptorBlock(WavTerminatingBytes, FMd5.Final());

  if (platform::FileSeek(FFile.Get(), 0, platform::TSeekOrigin::Begin) != 0)
    return MAC_ERROR_IO_WRITE;
  for (const std::vector<uint8_t>* Part : {&Descriptor, &FinalHeader, &FinalSeekTable})
    if (const int32_t Error = Write(Part->data(), Part->size(), false))
      return Error;
  FFile.Reset();
  if (FFrames == 0)
    return MAC_ERROR_INPUT_FILE_TOO_SMALL;
  return Partial != 0 ? MAC_ERROR_BAD_PARAMETER : MAC_ERROR_SUCCESS;
}

int32_t TCompressor::EncodeFrame(size_t Bytes) {
  if (FFrames == FSeekTable.size())
    return MAC_ERROR_APE_COMPRESS_TOO_MUCH_DATA;
  const uint64_t FirstFrameByte =
      DescriptorBytes + HeaderBytes + 4 * FSeekTable.size() + FHeaderDataBytes;
  FSeekTable[FFrames++] = static_cast<uint32_t>(FirstFrameByte + FStreamBytes);
  FFinalFrameBlocks = static_cast<uint32_t>(Bytes / FBlockAlign);
  const size_t Before = FStream.size();
  mac::EncodeFrame({FBuffer.data(), Bytes}, FChannels, FLevel, FStream);
  FStreamBytes += FStream.size() - Before;
  std::memmove(FBuffer.data(), FBuffer.data() + Bytes, FBuffered - Bytes);
  FBuffered -= Bytes;
  return StoreWords();
}

int32_t TCompressor::StoreWords() {
  const size_t Whole = FStream.size() - FStream.size() % 4;
  for (size_t i = 0; i < Whole; i += 4) {
    std::swap(FStream[i], FStream[i + 3]);
    std::swap(FStream[i + 1], FStream[i + 2]);
  }
  const int32_t Error = Write(FStream.data(), Whole, true);
  FStoredBytes += Whole;
  FStream.erase(FStream.begin(), FStream.begin() + Whole);
  return Error;
}

int32_t TCompressor::Write(const void* Data, size_t Bytes, bool Hash) {
  if (Bytes == 0)
    return MAC_ERROR_SUCCESS;
  if (Hash)
    FMd5.Update({static_cast<const uint8_t*>(Data), Bytes});
  const int64_t Written = platform::FileWrite(FFile.Get(), Data, Bytes);
  return Written == static_cast<int64_t>(Bytes) ? MAC_ERROR_SUCCESS : MAC_ERROR_IO_WRITE;
}

std::vector<uint8_t> TCompressor::DescriptorBlock(int32_t WavTerminatingBytes,
                                                  const std::array<uint8_t, 16>& Md5) const {
  std::vector<uint8_t> Out = {'M', 'A', 'C', ' '};
  PutU16(Out, MAC_FILE_VERSION);
  PutU16(Out, 0);
  PutU32(Out, DescriptorBytes);
  PutU32(Out, HeaderBytes);
  PutU32(Out, static_cast<uint32_t>(4 * FSeekTable.size()));
  PutU32(Out, FHeaderDataBytes);
  PutU32(Out, static_cast<uint32_t>(FStoredBytes));
  PutU32(Out, static_cast<uint32_t>(FStoredBytes >> 32));
  PutU32(Out, static_cast<uint32_t>(WavTerminatingBytes));
  Out.insert(Out.end(), Md5.begin(), Md5.end());
  return Out;
}

std::vector<uint8_t> TCompressor::Header() const {
  std::vector<uint8_t> Out;
  PutU16(Out, static_cast<uint32_t>(FLevel));
  PutU16(Out, FHeaderDataBytes == 0 ? FlagCreateWavHeader : 0);
  PutU32(Out, FBlocksPerFrame);
  PutU32(Out, FFinalFrameBlocks);
  PutU32(Out, FFrames);
  PutU16(Out, 16);
  PutU16(Out, static_cast<uint32_t>(FChannels));
  PutU32(Out, FSampleRate);
  return Out;
}

std::vector<uint8_t> TCompressor::SeekTable() const {
  std::vector<uint8_t> Out;
  for (uint32_t Entry : FSeekTable)
    PutU32(Out, Entry);
  return Out;
}

} // namespace mac
