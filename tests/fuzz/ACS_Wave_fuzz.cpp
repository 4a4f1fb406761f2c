// Arbitrary bytes as the file that the WAV writer appends to. The first byte picks the input's
// format and the kind asked for, the second its length in frames; the rest is the existing
// file. The writer either refuses and leaves the file as it was, or leaves a file whose size
// fields count to its end, whose data is whole frames or blocks, and which ends in the input.
#include "audio/encoders/ACS_Wave.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"

#include <algorithm>
#include <array>
#include <optional>

namespace {

using TBytes = std::vector<uint8_t>;

uint32_t Get32(const TBytes& Bytes, size_t At) {
  return Bytes[At] | Bytes[At + 1] << 8 | Bytes[At + 2] << 16 | uint32_t{Bytes[At + 3]} << 24;
}

// RIFF ids as the writer takes them: each byte equal or off by 32 either way.
bool IdAt(const TBytes& Bytes, int64_t At, const char* Id) {
  if (At < 0 || static_cast<size_t>(At) + 4 > Bytes.size())
    return false;
  for (size_t I = 0; I < 4; ++I) {
    const int Difference = Bytes[static_cast<size_t>(At) + I] - static_cast<uint8_t>(Id[I]);
    if (Difference != 0 && Difference != 32 && Difference != -32)
      return false;
  }
  return true;
}

// The RIFF and data sizes both count the bytes from their own end to the end of the file.
bool CountsToTheEnd(const TBytes& File, size_t At) {
  return At + 4 <= File.size() && Get32(File, At) == File.size() - At - 4;
}

// The offset of the first size field behind Id that counts to the end of the file.
std::optional<size_t> SizeFieldAfter(const TBytes& File, const char* Id) {
  for (size_t At = 4; At + 4 <= File.size(); ++At)
    if (IdAt(File, static_cast<int64_t>(At) - 4, Id) && CountsToTheEnd(File, At))
      return At;
  return std::nullopt;
}

// What changed in the existing bytes is a size field that now counts to the end, or the
// frame count of a "fact" chunk.
void CheckOnlySizesChanged(const TBytes& Existing, const TBytes& File) {
  for (size_t At = 0; At < Existing.size(); ++At) {
    if (Existing[At] == File[At])
      continue;
    bool Field = false;
    for (size_t Start = At >= 3 ? At - 3 : 0; Start <= At && !Field; ++Start) {
      const auto Offset = static_cast<int64_t>(Start);
      Field = ((IdAt(File, Offset - 4, "RIFF") || IdAt(File, Offset - 4, "data")) &&
               CountsToTheEnd(File, Start)) ||
              IdAt(File, Offset - 8, "fact");
      if (Field)
        At = Start + 3;
    }
    Check(Field, "an append changes nothing of the file but its size fields");
  }
}

struct TRun {
  int32_t Channels, Bits, Rate;
  TWavType Kind;
  bool NonMs;
  TBytes Audio;
};

TRun RunOf(const uint8_t* Data) {
  static constexpr std::array<int32_t, 4> Widths = {8, 16, 24, 32};
  static constexpr std::array<int32_t, 4> Rates = {44100, 22050, 8000, 48000};
  const uint8_t Format = Data[0];
  TRun Run{1 + (Format & 3),         Widths[(Format >> 2) & 3],
           Rates[(Format >> 4) & 3], Format & 0x40 ? wtDVIADPCM : wtPCM,
           (Format & 0x80) != 0,     {}};
  Run.Audio = PatternBytes(size_t{Data[1]} * Run.Channels * (Run.Bits / 8), Format);
  return Run;
}

// Runs one append to its end; the writer's error and what it left.
TBytes Append(const std::string& Name, const TRun& Run, std::string& Error, TWavType& Kind,
              uint16_t& BlockSize) {
  TComponentPtr<TComponent> Root(new TComponent(nullptr));
  auto* Out = new TWaveOut(Root.get());
  auto* Input = new TFormatInput(Root.get(), Run.Audio, Run.Bits, Run.Channels, Run.Rate);
  bool Done = false;
  Out->SetFileName(Name);
  Out->SetFileMode(foAppend);
  Out->SetWavType(Run.Kind);
  Out->SetCreateNonMsHeaders(Run.NonMs);
  Out->SetOnDone([&](TComponent*) { Done = true; });
  Out->SetInput(Input);
  Out->Run();
  Check(PumpUntil([&] { return Done; }), "the run ends");
  Error = Out->ExceptionText();
  Kind = Out->WavType();
  BlockSize = Out->BlockSize();
  return ReadFile(Name);
}

void CheckAppended(const TBytes& Existing, const TBytes& File, const TRun& Run, TWavType Kind,
                   uint16_t BlockSize) {
  if (!Existing.empty())
    CheckOnlySizesChanged(Existing, File);
  Check(SizeFieldAfter(File, "RIFF").has_value(), "the RIFF size counts to the end of the file");
  const std::optional<size_t> DataSize = SizeFieldAfter(File, "data");
  Check(DataSize.has_value(), "the data size counts to the end of the file");
  const size_t DataStart = *DataSize + 4;
  const size_t Before = Existing.empty() ? DataStart : Existing.size();
  Check(File.size() >= Before && DataStart <= Before, "the input goes behind the existing data");
  const size_t Frames = Run.Audio.size() / Run.Channels / (Run.Bits / 8);
  if (Kind != wtDVIADPCM) {
    Check(File.size() - Before == Run.Audio.size() &&
              std::equal(Run.Audio.begin(), Run.Audio.end(), File.begin() + Before),
          "the file ends in the input, as it came");
    const size_t FrameBytes = size_t(Run.Channels) * (Run.Bits / 8);
    Check((File.size() - DataStart) % FrameBytes == 0, "the data is whole frames");
    return;
  }
  const size_t Channels = Run.Channels;
  const size_t PerBlock = (BlockSize - 4 * Channels) / (4 * Channels) * 8 + 1;
  const size_t Blocks = (Frames + PerBlock - 1) / PerBlock;
  Check(File.size() - Before == Blocks * BlockSize, "the input is appended as whole blocks");
  Check((File.size() - DataStart) % BlockSize == 0, "the data is whole blocks");
  for (size_t Block = Before; Block < File.size(); Block += BlockSize)
    for (size_t Channel = 0; Channel < Channels; ++Channel)
      Check(File[Block + 4 * Channel + 2] <= 88 && File[Block + 4 * Channel + 3] == 0,
            "a block's header holds a step index and a zero byte");
  if (Frames == 0)
    return;
  const size_t EarlierFrames = (Before - DataStart) / BlockSize * PerBlock;
  bool Counted = false;
  for (size_t At = 8; At + 4 <= DataStart && !Counted; ++At)
    Counted = IdAt(File, static_cast<int64_t>(At) - 8, "fact") &&
              Get32(File, At) == EarlierFrames + Frames;
  Check(Counted, "the fact chunk counts the frames before and the frames added");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2)
    return 0;
  static const TTempDir Dir;
  const std::string Name = Dir.File("existing.wav");
  const TRun Run = RunOf(Data);
  const TBytes Existing(Data + 2, Data + Size);
  NothingEscapes(
      [&] {
        WriteFile(Name, Existing.data(), Existing.size());
        std::string Error;
        TWavType Kind = wtUnsupported;
        uint16_t BlockSize = 0;
        const TBytes File = Append(Name, Run, Error, Kind, BlockSize);
        if (!Error.empty())
          Check(File == Existing, "a refused append leaves the file as it was");
        else
          CheckAppended(Existing, File, Run, Kind, BlockSize);
      },
      "no exception escapes an append");
  return 0;
}
