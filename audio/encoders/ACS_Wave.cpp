#include "audio/encoders/ACS_Wave.h"

#include "runtime/Rounding.h"
#include "runtime/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

using platform::TSeekOrigin;

namespace {

// Large enough that a rip of a CD track writes at close to the speed of a file copy.
constexpr uint32_t PCMReadSize = 65536;
constexpr size_t ScanLimit = 8192;
constexpr uint16_t TagPCM = 1;
constexpr uint16_t TagIMAADPCM = 17;
constexpr uint16_t TagExtensible = 0xFFFE;

constexpr std::array<int16_t, 89> StepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int8_t, 8> IndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

// A header or a block under construction, little-endian.
class TBytes {
public:
  explicit TBytes(size_t Size) : FBytes(Size, 0) {}
  void Put16(size_t At, uint16_t Value) {
    FBytes[At] = static_cast<uint8_t>(Value);
    FBytes[At + 1] = static_cast<uint8_t>(Value >> 8);
  }
  void Put32(size_t At, uint32_t Value) {
    Put16(At, static_cast<uint16_t>(Value));
    Put16(At + 2, static_cast<uint16_t>(Value >> 16));
  }
  void PutId(size_t At, const char* Id) { std::memcpy(&FBytes[At], Id, 4); }
  void PutBytes(size_t At, const uint8_t* Bytes, size_t Count) {
    std::memcpy(&FBytes[At], Bytes, Count);
  }
  const std::vector<uint8_t>& Bytes() const { return FBytes; }

private:
  std::vector<uint8_t> FBytes;
};

uint16_t Get16(const uint8_t* At) {
  return static_cast<uint16_t>(At[0] | At[1] << 8);
}

uint32_t Get32(const uint8_t* At) {
  return Get16(At) | static_cast<uint32_t>(Get16(At + 2)) << 16;
}

// Each byte equal, or off by exactly 32 either way, which takes letters in either case.
bool IdMatches(const uint8_t* At, const char* Id) {
  for (int I = 0; I < 4; ++I) {
    const int Difference = At[I] - static_cast<uint8_t>(Id[I]);
    if (Difference != 0 && Difference != 32 && Difference != -32)
      return false;
  }
  return true;
}

// The start of the "fmt " chunk (offsets 0-35), common to the PCM and extensible headers.
void PutFormat(TBytes& Header, uint16_t Tag, uint32_t FmtSize, uint16_t Channels,
               uint32_t SampleRate, uint32_t BytesPerSecond, uint16_t BlockAlign, uint16_t Bits) {
  Header.PutId(0, "RIFF");
  Header.PutId(8, "WAVE");
  Header.PutId(12, "fmt ");
  Header.Put32(16, FmtSize);
  Header.Put16(20, Tag);
  Header.Put16(22, Channels);
  Header.Put32(24, SampleRate);
  Header.Put32(28, BytesPerSecond);
  Header.Put16(32, BlockAlign);
  Header.Put16(34, Bits);
}

uint32_t ChannelMask(int32_t Channels) {
  switch (Channels) {
  case 1:
    return 0x1;
  case 2:
    return 0x3;
  case 6:
    return 0x3F;
  case 8:
    return 0xFF;
  default:
    return 0;
  }
}

// After the channels' 4-byte headers, the codes come in 4-byte words (eight codes) taken from
// the channels in turn: for one channel simply the codes in order. Decoders take only blocks
// of whole words for each channel.
bool BlockFits(uint16_t BlockSize, uint16_t Channels) {
  return Channels > 0 && BlockSize >= 4 * Channels &&
         (BlockSize - 4 * Channels) % (4 * Channels) == 0;
}

uint16_t SamplesPerBlockFor(uint16_t BlockSize, uint16_t Channels) {
  return static_cast<uint16_t>((BlockSize - 4 * Channels) / (4 * Channels) * 8 + 1);
}

// What the scan of an existing file found.
struct TExistingFile {
  TWavType Kind = wtUnsupported;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint16_t BlockAlign = 0;
  uint16_t Bits = 0;
  uint16_t SamplesPerBlock = 0;
  int64_t RiffStart = 0;
  int64_t FactOffset = -1;
  int64_t DataSizeOffset = 0;
  int64_t DataStart = 0;
  uint32_t DataSize = 0;
};

// Count bytes at Offset, all of them or false.
bool ReadAt(platform::THandleStream& Stream, int64_t Offset, void* Buffer, size_t Count) {
  return Stream.Seek(Offset, TSeekOrigin::Begin) == Offset &&
         Stream.Read(Buffer, Count) == static_cast<int64_t>(Count);
}

// Finds "RIFF" and "WAVE" in the first 8192 bytes, then walks the chunks up to "data",
// skipping those in between by their sizes (padded to even, as RIFF pads them). Every read is
// checked against the file's length, so a damaged file ends the scan with no kind.
TExistingFile ScanExistingFile(platform::THandleStream& Stream, int64_t Length) {
  TExistingFile File;
  std::vector<uint8_t> Head(static_cast<size_t>(std::min<int64_t>(Length, ScanLimit)));
  if (!ReadAt(Stream, 0, Head.data(), Head.size()))
    return {};
  size_t At = 0;
  while (At + 4 <= Head.size() && !IdMatches(&Head[At], "RIFF"))
    ++At;
  File.RiffStart = static_cast<int64_t>(At);
  At += 8;
  while (At + 4 <= Head.size() && !IdMatches(&Head[At], "WAVE"))
    ++At;
  if (At + 4 > Head.size())
    return {};

  enum { NeedFormat, NeedFact, NeedData } State = NeedFormat;
  int64_t Chunk = static_cast<int64_t>(At) + 4;
  while (Chunk + 8 <= Length) {
    uint8_t ChunkHead[8];
    if (!ReadAt(Stream, Chunk, ChunkHead, sizeof ChunkHead))
      return {};
    const uint32_t Size = Get32(ChunkHead + 4);
    const int64_t Body = Chunk + 8;
    if (State == NeedFormat && IdMatches(ChunkHead, "fmt ")) {
      uint8_t Format[20] = {};
      if (Size < 16 || !ReadAt(Stream, Body, Format, std::min<uint32_t>(Size, sizeof Format)))
        return {};
      const uint16_t Tag = Get16(Format);
      if (Tag == TagPCM)
        File.Kind = wtPCM;
      else if (Tag == TagIMAADPCM && Size >= 20)
        File.Kind = wtDVIADPCM;
      else
        return {};
      File.Channels = Get16(Format + 2);
      File.SampleRate = Get32(Format + 4);
      File.BlockAlign = Get16(Format + 12);
      File.Bits = Get16(Format + 14);
      File.SamplesPerBlock = Get16(Format + 18);
      State = File.Kind == wtDVIADPCM ? NeedFact : NeedData;
    } else if (State == NeedFact && IdMatches(ChunkHead, "fact")) {
      if (Size < 4)
        return {};
      File.FactOffset = Body;
      State = NeedData;
    } else if (State == NeedFact && IdMatches(ChunkHead, "data")) {
      return {};
    } else if (State == NeedData && IdMatches(ChunkHead, "data")) {
      File.DataSizeOffset = Chunk + 4;
      File.DataStart = Body;
      File.DataSize = Size;
      return File;
    }
    Chunk = Body + Size + (Size & 1);
  }
  return {};
}

// New data can only go after the existing data when its layout is one we write, the data
// ends on a frame or block boundary (new blocks behind a cut-off one would be read out of
// step), and nothing follows the data chunk: appending behind another chunk would turn that
// chunk into sound.
bool Appendable(const TExistingFile& File, int64_t Length) {
  if (File.Kind == wtUnsupported || File.Channels == 0)
    return false;
  const int64_t DataLength = Length - File.DataStart;
  if (File.DataSize < DataLength)
    return false;
  const bool Layout =
      File.Kind == wtPCM
          ? File.Bits > 0 && File.BlockAlign == (File.Bits * File.Channels) >> 3
          : File.Bits == 4 && File.Channels <= 2 && BlockFits(File.BlockAlign, File.Channels) &&
                File.SamplesPerBlock == SamplesPerBlockFor(File.BlockAlign, File.Channels);
  return Layout && File.BlockAlign > 0 && DataLength % File.BlockAlign == 0;
}

} // namespace

TWaveOut::TWaveOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

void TWaveOut::SetWavType(TWavType Value) {
  if (Running() || (Value != wtPCM && Value != wtDVIADPCM))
    return;
  FWavType = Value;
}

void TWaveOut::SetBlockSize(uint16_t Value) {
  if (Running() || Value == 0 || Value % 4 != 0)
    return;
  FBlockSize = Value;
}

void TWaveOut::SetFileMode(TFileOutputMode Value) {
  FFileMode = Value;
}

uint16_t TWaveOut::SamplesPerBlock() const {
  return SamplesPerBlockFor(FBlockSize, FChannels);
}

void TWaveOut::Prepare() {
  FEndOfInput = false;
  FFailed = false;
  FAppending = false;
  FBlocksWritten = 0;
  FTailFrames = 0;
  if (WideFileName().empty())
    throw EAuException("File name is not assigned.");
  try {
    OpenFile();
    Input()->Init();
    FInputOpen = true;
    AppendOrWriteHeader();
  } catch (...) {
    Release();
    throw;
  }
}

void TWaveOut::OpenFile() {
  const std::u16string& Name = WideFileName();
  std::error_code Error;
  const bool Exists = std::filesystem::exists(std::filesystem::u8path(Utf16ToUtf8(Name)), Error);
  const uint16_t Mode = Exists && FileMode() != foRewrite
                            ? TAuFileStream::fmOpenReadWrite | TAuFileStream::fmShareExclusive
                            : TAuFileStream::fmCreate;
  FStream = std::make_unique<TAuFileStream>(Name, Mode);
}

void TWaveOut::AppendOrWriteHeader() {
  const int32_t Channels = Input()->GetCh();
  const int32_t SampleRate = Input()->GetSR();
  const int32_t Bits = Input()->GetBPS();
  FInputSize = Input()->Size();
  FChannels = static_cast<uint16_t>(Channels);
  const uint32_t InputSize = static_cast<uint32_t>(FInputSize);

  if ((Channels > 2 || Bits > 16) && !FCreateNonMsHeaders)
    FWavType = wtExtPCM;
  TExistingFile Existing;
  const int64_t Length = FStream->Size();
  if (FileMode() == foAppend && Length > 0) {
    Existing = ScanExistingFile(*FStream, Length);
    if (!Appendable(Existing, Length))
      throw EAuException("Cannot append data to this .wav file.");
    FWavType = Existing.Kind;
    FAppending = true;
    FLayout = {Existing.RiffStart, Existing.FactOffset, Existing.DataSizeOffset,
               Existing.DataStart};
  }
  const auto AppendAtEnd = [&](bool SameFormat) {
    if (!SameFormat)
      throw EAuException("Cannot append data in different audio format.");
    FStream->Seek(0, TSeekOrigin::End);
  };

  switch (FWavType) {
  case wtPCM: {
    if (FAppending)
      return AppendAtEnd(static_cast<uint32_t>(SampleRate) == Existing.SampleRate &&
                         Bits == Existing.Bits && Channels == Existing.Channels);
    const uint16_t BlockAlign = static_cast<uint16_t>((Bits * Channels) >> 3);
    TBytes Header(44);
    PutFormat(Header, TagPCM, 16, FChannels, SampleRate, SampleRate * BlockAlign, BlockAlign,
              static_cast<uint16_t>(Bits));
    Header.Put32(4, InputSize + 36);
    Header.PutId(36, "data");
    Header.Put32(40, InputSize);
    FLayout = {0, -1, 40, 44};
    return WriteAll(Header.Bytes().data(), Header.Bytes().size());
  }
  case wtDVIADPCM: {
    if (Bits != 16)
      throw EAuException("Cannot encode 8 bit sound into ADPCM.");
    // The IMA ADPCM WAV layout is read for one and two channels only.
    if (Channels > 2)
      throw EAuException("Cannot encode more than 2 channels into ADPCM.");
    if (FAppending) {
      // The file's block size is the layout the new blocks must have.
      FBlockSize = Existing.BlockAlign;
      AppendAtEnd(static_cast<uint32_t>(SampleRate) == Existing.SampleRate &&
                  Channels == Existing.Channels);
    } else if (!BlockFits(FBlockSize, FChannels)) {
      throw EAuException("The block size does not suit the number of channels.");
    }
    const uint16_t BlockSize = FBlockSize;
    const uint16_t Samples = SamplesPerBlock();
    FSamples.assign(size_t{Samples} * FChannels * 2, 0);
    FBlock.assign(BlockSize, 0);
    FChannel.resize(FChannels);
    if (FAppending)
      return;
    std::fill(FChannel.begin(), FChannel.end(), TChannelState{});
    const int64_t Frames = FInputSize / (Bits / 8) / Channels;
    const uint32_t DataSize =
        static_cast<uint32_t>(RoundHalfEven(static_cast<long double>(Frames) / Samples)) *
        BlockSize;
    TBytes Header(60);
    PutFormat(Header, TagIMAADPCM, 20, FChannels, SampleRate, SampleRate / Samples * BlockSize,
              BlockSize, 4);
    Header.Put32(4, DataSize + 52);
    Header.Put16(36, 2);
    Header.Put16(38, Samples);
    Header.PutId(40, "fact");
    Header.Put32(44, 4);
    Header.Put32(48, static_cast<uint32_t>(Frames));
    Header.PutId(52, "data");
    Header.Put32(56, DataSize);
    FLayout = {0, 48, 56, 60};
    return WriteAll(Header.Bytes().data(), Header.Bytes().size());
  }
  default: {
    const uint16_t BlockAlign = static_cast<uint16_t>((Bits * Channels) >> 3);
    TBytes Header(68);
    PutFormat(Header, TagExtensible, 40, FChannels, SampleRate, SampleRate * BlockAlign, BlockAlign,
              static_cast<uint16_t>(Bits));
    Header.Put32(4, InputSize + 60);
    Header.Put16(36, 22);
    Header.Put16(38, static_cast<uint16_t>(Bits));
    Header.Put32(40, ChannelMask(Channels));
    static constexpr uint8_t SubFormatPCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    Header.PutBytes(44, SubFormatPCM, sizeof SubFormatPCM);
    Header.PutId(60, "data");
    Header.Put32(64, InputSize);
    FLayout = {0, -1, 64, 68};
    return WriteAll(Header.Bytes().data(), Header.Bytes().size());
  }
  }
}

bool TWaveOut::DoOutput(bool Abort) {
  if (Abort || FEndOfInput)
    return false;
  try {
    return FWavType == wtDVIADPCM ? DoOutputADPCM() : DoOutputPCM();
  } catch (...) {
    // A failed read or write ends the run with its error: a short file never passes for a
    // complete one.
    FFailed = true;
    throw;
  }
}

bool TWaveOut::DoOutputPCM() {
  const uint8_t* Buffer = nullptr;
  uint32_t Bytes = PCMReadSize;
  Input()->GetData(Buffer, Bytes);
  if (Bytes == 0)
    return false;
  WriteAll(Buffer, Bytes);
  return true;
}

namespace {

// One sample through the IMA ADPCM coder: the 4-bit code, with the channel's predictor and
// step index moved as the decoder will move them.
uint8_t EncodeSample(int16_t& Predictor, uint8_t& Index, int32_t Sample) {
  int32_t Difference = Sample - Predictor;
  uint8_t Code = 0;
  if (Difference < 0) {
    Code = 8;
    Difference = -Difference;
  }
  const int32_t Step = StepTable[Index];
  if (Difference >= Step) {
    Code |= 4;
    Difference -= Step;
  }
  if (Difference >= Step / 2) {
    Code |= 2;
    Difference -= Step / 2;
  }
  if (Difference >= Step / 4)
    Code |= 1;
  int32_t Delta = Step / 8;
  if (Code & 4)
    Delta += Step;
  if (Code & 2)
    Delta += Step / 2;
  if (Code & 1)
    Delta += Step / 4;
  const int32_t Next = (Code & 8) ? Predictor - Delta : Predictor + Delta;
  Predictor = static_cast<int16_t>(std::clamp(Next, -32767, 32767));
  Index = static_cast<uint8_t>(std::clamp(Index + IndexAdjust[Code & 7], 0, 88));
  return Code;
}

} // namespace

bool TWaveOut::DoOutputADPCM() {
  const size_t Channels = FChannels;
  const uint16_t Samples = SamplesPerBlock();
  uint8_t* Bytes = FSamples.data();
  const size_t Wanted = FSamples.size();
  std::fill(FSamples.begin(), FSamples.end(), 0);
  size_t Got = 0;
  while (Got < Wanted) {
    const uint32_t Count = Input()->ReadInto(Bytes + Got, static_cast<uint32_t>(Wanted - Got));
    if (Count == 0) {
      FEndOfInput = true;
      break;
    }
    Got += Count;
  }
  // An input that ends on a block boundary adds no block of silence.
  if (Got == 0)
    return false;
  const size_t FrameBytes = 2 * Channels;
  FTailFrames = Samples - static_cast<int64_t>((Got + FrameBytes - 1) / FrameBytes);

  const auto SampleAt = [&](size_t Frame, size_t Channel) {
    const uint8_t* At = Bytes + (Frame * Channels + Channel) * 2;
    return static_cast<int16_t>(Get16(At));
  };
  std::fill(FBlock.begin(), FBlock.end(), 0);
  for (size_t Channel = 0; Channel < Channels; ++Channel) {
    TChannelState& State = FChannel[Channel];
    State.Predictor = SampleAt(0, Channel);
    FBlock[4 * Channel] = static_cast<uint8_t>(State.Predictor);
    FBlock[4 * Channel + 1] = static_cast<uint8_t>(static_cast<uint16_t>(State.Predictor) >> 8);
    FBlock[4 * Channel + 2] = State.Index;
    for (size_t I = 0; I + 1 < Samples; ++I) {
      const uint8_t Code = EncodeSample(State.Predictor, State.Index, SampleAt(I + 1, Channel));
      const size_t Byte = I / 2;
      const size_t At = 4 * Channels + (Byte / 4 * Channels + Channel) * 4 + Byte % 4;
      FBlock[At] |= (I & 1) ? static_cast<uint8_t>(Code << 4) : Code;
    }
  }
  WriteAll(FBlock.data(), FBlock.size());
  ++FBlocksWritten;
  return true;
}

void TWaveOut::WriteAll(const void* Buffer, size_t Count) {
  if (FStream->Write(Buffer, Count) != static_cast<int64_t>(Count))
    throw EAuException(platform::SysErrorMessage(errno));
}

void TWaveOut::Done() {
  try {
    // An IMA ADPCM header's sizes are estimates made before the data; a PCM header's hold
    // unless the input's size was unknown, the run was cut short or adds to a file.
    if (FStream &&
        (FFailed || FAppending || FInputSize < 0 || StopRequested() || FWavType == wtDVIADPCM))
      PatchSizes();
    else if (FStream)
      PadToDeclaredSize();
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void TWaveOut::Release() {
  FStream.reset();
  if (!FInputOpen)
    return;
  FInputOpen = false;
  Input()->Flush();
}

void TWaveOut::PadToDeclaredSize() {
  const int64_t Declared = FLayout.DataStart + static_cast<uint32_t>(FInputSize);
  const int64_t Length = FStream->Size();
  // An input that delivered more than it declared gets its header fitted to the data instead.
  if (Length > Declared)
    return PatchSizes();
  if (Length == Declared)
    return;
  const std::vector<uint8_t> Zeros(static_cast<size_t>(Declared - Length), 0);
  FStream->Seek(0, TSeekOrigin::End);
  WriteAll(Zeros.data(), Zeros.size());
}

void TWaveOut::PatchSizes() {
  const int64_t Length = FStream->Size();
  const auto Put32At = [&](int64_t Offset, int64_t Value) {
    TBytes Field(4);
    Field.Put32(0, static_cast<uint32_t>(Value));
    FStream->Seek(Offset, TSeekOrigin::Begin);
    WriteAll(Field.Bytes().data(), 4);
  };
  const int64_t DataLength = Length - FLayout.DataStart;
  Put32At(FLayout.DataSizeOffset, DataLength);
  // The sample frames are the blocks' frames less the silence that fills the last one; a run
  // that added no block leaves an appended file's count as it was.
  if (FWavType == wtDVIADPCM && (FBlocksWritten > 0 || !FAppending))
    Put32At(FLayout.FactOffset, DataLength / FBlockSize * SamplesPerBlock() - FTailFrames);
  Put32At(FLayout.RiffStart + 4, Length - FLayout.RiffStart - 8);
}
