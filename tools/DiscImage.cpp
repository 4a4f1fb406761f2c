#include "tools/DiscImage.h"

#include "platform/File.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace tools {
namespace {

static_assert(std::endian::native == std::endian::little,
              "CD audio and WAV data are little-endian and copied as they are");

constexpr uint32_t FramesPerSector = SectorBytes / 4;
constexpr double SampleRate = 44100;
constexpr size_t MaxTracks = 99;
// The 2 seconds before track 1 count in every address on the disc, and the last address is
// 99:59:74; the lead-out must start there at the latest.
constexpr uint64_t LeadIn = 2 * SectorsPerSecond;
constexpr uint64_t LastAddress = (99 * 60 + 59) * SectorsPerSecond + 74;
constexpr uint64_t MaxDiscSectors = LastAddress - LeadIn;
// Sectors made and written at once (2.4 MB).
constexpr size_t BlockSectors = 1024;

[[noreturn]] void Fail(const std::string& Text) {
  throw std::runtime_error(Text);
}

std::string Msf(uint64_t Sectors) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%02llu:%02llu:%02llu",
                static_cast<unsigned long long>(Sectors / (60 * SectorsPerSecond)),
                static_cast<unsigned long long>(Sectors / SectorsPerSecond % 60),
                static_cast<unsigned long long>(Sectors % SectorsPerSecond));
  return Text;
}

std::string Quoted(std::string_view Text) {
  return "\"" + std::string(Text) + "\"";
}

// SplitMix64: output Index of the generator seeded with Seed.
uint64_t SplitMix(uint64_t Seed, uint64_t Index) {
  uint64_t Z = Seed + (Index + 1) * 0x9E3779B97F4A7C15;
  Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9;
  Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EB;
  return Z ^ (Z >> 31);
}

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r';
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back()))
    Text.remove_suffix(1);
  return Text;
}

// Takes the first word off Rest.
std::string_view NextWord(std::string_view& Rest) {
  Rest = Trim(Rest);
  size_t End = 0;
  while (End < Rest.size() && !IsBlank(Rest[End]))
    ++End;
  const std::string_view Word = Rest.substr(0, End);
  Rest = Trim(Rest.substr(End));
  return Word;
}

template <typename TNumber> TNumber ParseNumber(std::string_view Word, const char* What) {
  TNumber Value{};
  const auto [End, Error] = std::from_chars(Word.data(), Word.data() + Word.size(), Value);
  if (Error != std::errc() || End != Word.data() + Word.size() || Word.empty())
    Fail(Quoted(Word) + " is not " + What);
  return Value;
}

// A count of sectors or a time MM:SS:FF.
uint32_t ParseLength(std::string_view Word) {
  uint64_t Sectors = 0;
  const size_t Colon = Word.find(':');
  if (Colon == std::string_view::npos) {
    Sectors = ParseNumber<uint64_t>(Word, "a number of sectors");
  } else {
    const size_t Colon2 = Word.find(':', Colon + 1);
    if (Colon2 == std::string_view::npos)
      Fail(Quoted(Word) + " is not a time MM:SS:FF");
    const char* What = "a time MM:SS:FF";
    const auto Minutes = ParseNumber<uint64_t>(Word.substr(0, Colon), What);
    const auto Seconds = ParseNumber<uint64_t>(Word.substr(Colon + 1, Colon2 - Colon - 1), What);
    const auto Frames = ParseNumber<uint64_t>(Word.substr(Colon2 + 1), What);
    if (Minutes > MaxDiscSectors || Seconds >= 60 || Frames >= SectorsPerSecond)
      Fail(Quoted(Word) + " is not " + What + " (seconds below 60, frames below 75)");
    Sectors = (Minutes * 60 + Seconds) * SectorsPerSecond + Frames;
  }
  if (Sectors > MaxDiscSectors)
    Fail(Quoted(Word) + " is longer than a disc");
  return static_cast<uint32_t>(Sectors);
}

enum class TSourceKind { Sine, Chord, Silence, Noise, Pattern, Wav };

struct TSourceSyntax {
  std::string_view Name;
  TSourceKind Kind;
  size_t MinArgs, MaxArgs;
  std::string_view Usage;
};

constexpr std::array<TSourceSyntax, 6> SourceSyntax{{
    {"sine", TSourceKind::Sine, 1, 2, "sine HZ [AMPLITUDE]"},
    {"chord", TSourceKind::Chord, 1, 1, "chord SEED"},
    {"silence", TSourceKind::Silence, 0, 0, "silence"},
    {"noise", TSourceKind::Noise, 1, 1, "noise SEED"},
    {"pattern", TSourceKind::Pattern, 1, 1, "pattern SEED"},
    {"wav", TSourceKind::Wav, 1, SIZE_MAX, "wav FILE"},
}};

struct TSourceSpec {
  TSourceKind Kind = TSourceKind::Silence;
  double Hz = 0;
  double Amplitude = 0.5;
  uint64_t Seed = 0;
  std::string File;
};

TSourceSpec ParseSource(std::string_view Text) {
  std::string_view Rest = Text;
  const std::string_view Name = NextWord(Rest);
  if (Name.empty())
    Fail("the audio source is missing");
  const auto Syntax = std::find_if(SourceSyntax.begin(), SourceSyntax.end(),
                                   [&](const TSourceSyntax& S) { return S.Name == Name; });
  if (Syntax == SourceSyntax.end())
    Fail("unknown audio source " + Quoted(Name) + " (sine, chord, silence, noise, pattern or wav)");

  TSourceSpec Spec;
  Spec.Kind = Syntax->Kind;
  // A file name is the rest of the text, blanks and all.
  if (Spec.Kind == TSourceKind::Wav) {
    Spec.File = Rest;
    if (Spec.File.empty())
      Fail("the file name is missing: " + Quoted(Syntax->Usage) + " expected");
    return Spec;
  }
  std::vector<std::string_view> Args;
  while (!Rest.empty())
    Args.push_back(NextWord(Rest));
  if (Args.size() < Syntax->MinArgs || Args.size() > Syntax->MaxArgs)
    Fail(Quoted(Syntax->Usage) + " expected, not " + Quoted(Trim(Text)));

  switch (Spec.Kind) {
  case TSourceKind::Sine:
    Spec.Hz = ParseNumber<double>(Args[0], "a frequency in Hz");
    if (!(Spec.Hz > 0 && Spec.Hz < SampleRate / 2))
      Fail("a sine needs a frequency above 0 and below 22050 Hz, not " + Quoted(Args[0]));
    if (Args.size() > 1)
      Spec.Amplitude = ParseNumber<double>(Args[1], "an amplitude");
    if (!(Spec.Amplitude >= 0 && Spec.Amplitude <= 1))
      Fail("a sine's amplitude goes from 0 to 1, not " + Quoted(Args[1]));
    break;
  case TSourceKind::Chord:
  case TSourceKind::Noise:
  case TSourceKind::Pattern:
    Spec.Seed = ParseNumber<uint64_t>(Args[0], "a seed (a whole number from 0)");
    break;
  case TSourceKind::Silence:
  case TSourceKind::Wav:
    break;
  }
  return Spec;
}

class TAudioSource {
public:
  virtual ~TAudioSource() = default;
  // Fills Count sectors from sector First of the track (counted from INDEX 01) on.
  virtual void Render(uint64_t First, size_t Count, uint8_t* Out) = 0;
};

void PutFrame(uint8_t*& Out, double Left, double Right) {
  const auto Sample = [](double Value) {
    return static_cast<int16_t>(std::lrint(std::clamp(Value, -1.0, 1.0) * 32767));
  };
  const int16_t Frame[2] = {Sample(Left), Sample(Right)};
  std::memcpy(Out, Frame, sizeof Frame);
  Out += sizeof Frame;
}

// A sine by rotation, started again from the exact phase wherever it is needed: no error
// builds up, and a sector comes out the same whichever block it is made in.
class TPhasor {
public:
  void Start(double Hz, uint64_t Frame, double Offset = 0) {
    const double Turns = std::fmod(Hz * static_cast<double>(Frame) / SampleRate, 1.0);
    const double Angle = 2 * std::numbers::pi * Turns + Offset;
    const double Step = 2 * std::numbers::pi * Hz / SampleRate;
    FX = std::cos(Angle);
    FY = std::sin(Angle);
    FC = std::cos(Step);
    FS = std::sin(Step);
  }
  double Next() {
    const double Value = FY;
    const double X = FX * FC - FY * FS;
    FY = FY * FC + FX * FS;
    FX = X;
    return Value;
  }

private:
  double FX = 1, FY = 0, FC = 1, FS = 0;
};

class TSilenceSource : public TAudioSource {
public:
  void Render(uint64_t, size_t Count, uint8_t* Out) override {
    std::memset(Out, 0, Count * SectorBytes);
  }
};

class TPatternSource : public TAudioSource {
public:
  explicit TPatternSource(uint64_t Seed) : FSeed(Seed) {}
  void Render(uint64_t First, size_t Count, uint8_t* Out) override {
    FillPattern(FSeed, First * SectorBytes, {Out, Count * SectorBytes});
  }

private:
  uint64_t FSeed;
};

// Full-scale random samples halved, from a stream of its own so that it never repeats a pattern.
class TNoiseSource : public TAudioSource {
public:
  explicit TNoiseSource(uint64_t Seed) : FSeed(SplitMix(Seed, 0x6E6F697365)) {}
  void Render(uint64_t First, size_t Count, uint8_t* Out) override {
    FillPattern(FSeed, First * SectorBytes, {Out, Count * SectorBytes});
    for (size_t I = 0; I < Count * SectorBytes; I += 2) {
      int16_t Sample;
      std::memcpy(&Sample, Out + I, 2);
      Sample = static_cast<int16_t>(Sample >> 1);
      std::memcpy(Out + I, &Sample, 2);
    }
  }

private:
  uint64_t FSeed;
};

class TSineSource : public TAudioSource {
public:
  TSineSource(double Hz, double Amplitude) : FHz(Hz), FAmplitude(Amplitude) {}
  void Render(uint64_t First, size_t Count, uint8_t* Out) override {
    // The right channel leads a little, so that a swapped pair shows.
    constexpr double RightLead = std::numbers::pi / 16;
    for (uint64_t Sector = First; Sector < First + Count; ++Sector) {
      TPhasor Left, Right;
      Left.Start(FHz, Sector * FramesPerSector);
      Right.Start(FHz, Sector * FramesPerSector, RightLead);
      for (uint32_t I = 0; I < FramesPerSector; ++I)
        PutFrame(Out, FAmplitude * Left.Next(), FAmplitude * Right.Next());
    }
  }

private:
  double FHz, FAmplitude;
};

double SmoothStep(double X) {
  X = std::clamp(X, 0.0, 1.0);
  return X * X * (3 - 2 * X);
}

double NoteHz(int Midi) {
  return 440 * std::exp2((Midi - 69) / 12.0);
}

// Soft chords over a bass, with an arpeggio above. The seed picks the key, major or minor, the
// progression, the arpeggio's figure and the tempo. Chords change on sector boundaries: each
// swells in while the one before dies away, each arpeggio note rises and decays, so nothing
// clicks; the track fades out at its end.
class TChordSource : public TAudioSource {
public:
  TChordSource(uint64_t Seed, uint32_t Sectors);
  void Render(uint64_t First, size_t Count, uint8_t* Out) override;

private:
  static constexpr size_t PadTones = 3, ArpNotes = 8;
  static constexpr double Swell = 0.5 * SampleRate, Fade = 0.8 * SampleRate;
  struct TChord {
    double Bass;
    std::array<double, PadTones> Pad;
    std::array<double, PadTones + 1> Arp; // the pad an octave up, and its root two octaves up
  };
  using TMix = std::array<double, 2 * FramesPerSector>;

  template <typename TEnvelope>
  static void AddPad(const TChord& Chord, uint64_t Frame0, TEnvelope Envelope, TMix& Mix);
  void AddArpeggio(const TChord& Chord, uint64_t Frame0, uint64_t ChordStart, TMix& Mix) const;

  std::array<TChord, 4> FChords;
  std::array<uint8_t, ArpNotes> FFigure;
  uint64_t FChordFrames, FNoteFrames, FTrackFrames;
};

TChordSource::TChordSource(uint64_t Seed, uint32_t Sectors)
    : FTrackFrames(uint64_t{Sectors} * FramesPerSector) {
  constexpr std::array<int, 7> Major{0, 2, 4, 5, 7, 9, 11}, Minor{0, 2, 3, 5, 7, 8, 10};
  // Scale degrees from 0; the first three are for major keys, the rest for minor ones.
  constexpr std::array<std::array<int, 4>, 6> Progressions{
      {{0, 4, 5, 3}, {0, 5, 3, 4}, {0, 3, 4, 3}, {0, 5, 2, 6}, {0, 3, 5, 4}, {0, 6, 5, 6}}};
  constexpr std::array<std::array<uint8_t, ArpNotes>, 3> Figures{
      {{0, 1, 2, 3, 2, 1, 2, 1}, {0, 2, 1, 3, 0, 2, 1, 3}, {3, 2, 1, 0, 1, 2, 3, 2}}};
  constexpr std::array<uint32_t, 5> ChordSectors{150, 165, 180, 195, 210};

  uint64_t Draw = 0;
  const auto Pick = [&](uint64_t Choices) { return SplitMix(Seed, Draw++) % Choices; };
  const int Root = 53 + static_cast<int>(Pick(10));
  const bool IsMinor = Pick(2) == 1;
  const auto& Scale = IsMinor ? Minor : Major;
  const auto& Progression = Progressions[(IsMinor ? 3 : 0) + Pick(3)];
  FFigure = Figures[Pick(Figures.size())];
  FChordFrames = uint64_t{ChordSectors[Pick(ChordSectors.size())]} * FramesPerSector;
  FNoteFrames = FChordFrames / ArpNotes;

  const auto Degree = [&](int Step) { return Scale[Step % 7] + 12 * (Step / 7); };
  for (size_t C = 0; C < FChords.size(); ++C) {
    const int Step = Progression[C];
    TChord& Chord = FChords[C];
    Chord.Bass = NoteHz(Root + Degree(Step) - 12);
    for (size_t T = 0; T < PadTones; ++T) {
      // Within one octave above the key's root: the chord is voiced close.
      int Note = Root + Degree(Step + 2 * static_cast<int>(T));
      if (Note >= Root + 12)
        Note -= 12;
      Chord.Pad[T] = NoteHz(Note);
      Chord.Arp[T] = NoteHz(Note + 12);
    }
    Chord.Arp[PadTones] = NoteHz(Root + Degree(Step) + 24);
  }
}

template <typename TEnvelope>
void TChordSource::AddPad(const TChord& Chord, uint64_t Frame0, TEnvelope Envelope, TMix& Mix) {
  constexpr double BassGain = 0.16, PadGain = 0.09;
  constexpr std::array<double, PadTones> Pan{-0.4, 0, 0.4};
  TPhasor Bass;
  std::array<TPhasor, PadTones> Pad;
  Bass.Start(Chord.Bass, Frame0);
  for (size_t T = 0; T < PadTones; ++T)
    Pad[T].Start(Chord.Pad[T], Frame0);
  for (uint32_t I = 0; I < FramesPerSector; ++I) {
    const double Level = Envelope(Frame0 + I);
    const double B = BassGain * Level * Bass.Next();
    double Left = B, Right = B;
    for (size_t T = 0; T < PadTones; ++T) {
      const double V = PadGain * Level * Pad[T].Next();
      Left += V * (1 - Pan[T]);
      Right += V * (1 + Pan[T]);
    }
    Mix[2 * I] += Left;
    Mix[2 * I + 1] += Right;
  }
}

void TChordSource::AddArpeggio(const TChord& Chord, uint64_t Frame0, uint64_t ChordStart,
                               TMix& Mix) const {
  constexpr double Gain = 0.14, Attack = 0.005 * SampleRate, Release = 0.01 * SampleRate;
  constexpr double DecayTime = 0.25 * SampleRate;
  const double Decay = std::exp(-1 / DecayTime);
  // A chord ends on a sector boundary, so its last note does too.
  uint64_t InChord = Frame0 - ChordStart;
  uint64_t Note = std::min<uint64_t>(InChord / FNoteFrames, ArpNotes - 1);
  const auto EndOf = [&](uint64_t N) {
    return N + 1 == ArpNotes ? FChordFrames : (N + 1) * FNoteFrames;
  };
  uint64_t NoteStart = Note * FNoteFrames, NoteEnd = EndOf(Note);
  TPhasor Arp;
  Arp.Start(Chord.Arp[FFigure[Note]], Frame0);
  double Level = std::exp(-static_cast<double>(InChord - NoteStart) / DecayTime);
  for (uint32_t I = 0; I < FramesPerSector; ++I, ++InChord) {
    if (InChord == NoteEnd) {
      ++Note;
      NoteStart = NoteEnd;
      NoteEnd = EndOf(Note);
      Arp.Start(Chord.Arp[FFigure[Note]], Frame0 + I);
      Level = 1;
    }
    const double Age = static_cast<double>(InChord - NoteStart);
    const double V = Gain * Level * std::min(Age * (1 / Attack), 1.0) *
                     SmoothStep(static_cast<double>(NoteEnd - InChord) * (1 / Release)) *
                     Arp.Next();
    Level *= Decay;
    const double Pan = Note % 2 ? 0.3 : -0.3;
    Mix[2 * I] += V * (1 - Pan);
    Mix[2 * I + 1] += V * (1 + Pan);
  }
}

void TChordSource::Render(uint64_t First, size_t Count, uint8_t* Out) {
  const double PerFadeFrame = 1 / std::min(1.5 * SampleRate, static_cast<double>(FTrackFrames));
  for (uint64_t Sector = First; Sector < First + Count; ++Sector) {
    const uint64_t Frame0 = Sector * FramesPerSector;
    const uint64_t Index = Frame0 / FChordFrames, ChordStart = Index * FChordFrames;
    const TChord& Chord = FChords[Index % FChords.size()];
    TMix Mix{};
    AddPad(
        Chord, Frame0,
        [&](uint64_t Frame) {
          return SmoothStep(static_cast<double>(Frame - ChordStart) * (1 / Swell));
        },
        Mix);
    if (Index > 0 && static_cast<double>(Frame0 - ChordStart) < Fade)
      AddPad(
          FChords[(Index - 1) % FChords.size()], Frame0,
          [&](uint64_t Frame) {
            return SmoothStep(1 - static_cast<double>(Frame - ChordStart) * (1 / Fade));
          },
          Mix);
    AddArpeggio(Chord, Frame0, ChordStart, Mix);
    for (uint32_t I = 0; I < FramesPerSector; ++I) {
      const double Level =
          SmoothStep(static_cast<double>(FTrackFrames - Frame0 - I) * PerFadeFrame);
      PutFrame(Out, Level * Mix[2 * I], Level * Mix[2 * I + 1]);
    }
  }
}

uint16_t Le16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | P[1] << 8);
}

uint32_t Le32(const uint8_t* P) {
  return Le16(P) | uint32_t{Le16(P + 2)} << 16;
}

// The PCM of a RIFF WAVE file, which must be CD audio already; cut or padded with silence.
class TWavSource : public TAudioSource {
public:
  explicit TWavSource(const std::string& FileName);
  void Render(uint64_t First, size_t Count, uint8_t* Out) override;

private:
  bool ReadAt(uint64_t Offset, void* Buffer, size_t Count);
  void CheckFormat(uint64_t Offset, uint32_t Size);

  std::string FName;
  platform::TFileHandle FFile;
  uint64_t FDataStart = 0, FDataSize = 0;
};

TWavSource::TWavSource(const std::string& FileName) : FName(FileName) {
  FFile = platform::FileOpen(FName, platform::TFileAccess::Read, platform::TFileShare::Read);
  if (!FFile.Valid())
    Fail("cannot open " + FName + ": " + platform::SysErrorMessage(errno));
  const int64_t FileSize = platform::FileSize(FFile.Get());
  uint8_t Head[12];
  if (!ReadAt(0, Head, sizeof Head) || std::memcmp(Head, "RIFF", 4) != 0 ||
      std::memcmp(Head + 8, "WAVE", 4) != 0)
    Fail(FName + ": not a RIFF WAVE file");

  bool HaveFormat = false;
  for (uint64_t At = sizeof Head;;) {
    uint8_t Chunk[8];
    if (!ReadAt(At, Chunk, sizeof Chunk))
      Fail(FName + ": no data chunk");
    const uint32_t Size = Le32(Chunk + 4);
    const uint64_t Body = At + sizeof Chunk;
    if (std::memcmp(Chunk, "fmt ", 4) == 0) {
      CheckFormat(Body, Size);
      HaveFormat = true;
    } else if (std::memcmp(Chunk, "data", 4) == 0) {
      if (!HaveFormat)
        Fail(FName + ": the data chunk comes before the fmt chunk");
      if (Body + Size > static_cast<uint64_t>(FileSize))
        Fail(FName + ": the data chunk runs past the end of the file");
      if (Size % 4 != 0)
        Fail(FName + ": the data chunk ends inside a sample frame");
      FDataStart = Body;
      FDataSize = Size;
      return;
    }
    // Chunks are padded to an even size.
    At = Body + Size + (Size & 1);
  }
}

void TWavSource::CheckFormat(uint64_t Offset, uint32_t Size) {
  constexpr uint16_t Pcm = 1, Extensible = 0xFFFE;
  // The PCM sub-format of WAVE_FORMAT_EXTENSIBLE, after its first two bytes.
  constexpr uint8_t PcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  uint8_t Format[40] = {};
  if (Size < 16 || !ReadAt(Offset, Format, std::min<size_t>(Size, sizeof Format)))
    Fail(FName + ": the fmt chunk is too short");
  uint16_t Tag = Le16(Format);
  if (Tag == Extensible && Size >= 40 &&
      std::memcmp(Format + 26, PcmGuidTail, sizeof PcmGuidTail) == 0)
    Tag = Le16(Format + 24);
  const uint16_t Channels = Le16(Format + 2), BlockAlign = Le16(Format + 12);
  const uint16_t Bits = Le16(Format + 14);
  const uint32_t Rate = Le32(Format + 4);
  if (Tag == Pcm && Channels == 2 && Rate == 44100 && Bits == 16 && BlockAlign == 4)
    return;
  Fail(FName + ": format " + std::to_string(Tag) + ", " + std::to_string(Channels) + " channels, " +
       std::to_string(Rate) + " Hz, " + std::to_string(Bits) +
       "-bit; a CD track needs 16-bit stereo 44100 Hz PCM");
}

bool TWavSource::ReadAt(uint64_t Offset, void* Buffer, size_t Count) {
  return platform::FileSeek(FFile.Get(), static_cast<int64_t>(Offset),
                            platform::TSeekOrigin::Begin) >= 0 &&
         platform::FileRead(FFile.Get(), Buffer, Count) == static_cast<int64_t>(Count);
}

void TWavSource::Render(uint64_t First, size_t Count, uint8_t* Out) {
  const uint64_t Offset = First * SectorBytes, Wanted = Count * SectorBytes;
  const uint64_t Have = Offset < FDataSize ? std::min(FDataSize - Offset, Wanted) : 0;
  errno = 0;
  if (Have > 0 && !ReadAt(FDataStart + Offset, Out, Have))
    Fail("cannot read " + FName + ": " +
         (errno ? platform::SysErrorMessage(errno) : "the file got shorter"));
  std::memset(Out + Have, 0, Wanted - Have);
}

std::unique_ptr<TAudioSource> MakeSource(const TSourceSpec& Spec, uint32_t Sectors) {
  switch (Spec.Kind) {
  case TSourceKind::Sine:
    return std::make_unique<TSineSource>(Spec.Hz, Spec.Amplitude);
  case TSourceKind::Chord:
    return std::make_unique<TChordSource>(Spec.Seed, Sectors);
  case TSourceKind::Silence:
    return std::make_unique<TSilenceSource>();
  case TSourceKind::Noise:
    return std::make_unique<TNoiseSource>(Spec.Seed);
  case TSourceKind::Pattern:
    return std::make_unique<TPatternSource>(Spec.Seed);
  case TSourceKind::Wav:
    return std::make_unique<TWavSource>(Spec.File);
  }
  return nullptr;
}

uint8_t Bcd(uint64_t Value) {
  return static_cast<uint8_t>(Value / 10 << 4 | Value % 10);
}

// Blank MODE1 sectors: the sync pattern, the address on the disc and the mode; user data, EDC
// and ECC are zero.
void FillDataSectors(uint64_t Lsn, size_t Count, uint8_t* Out) {
  std::memset(Out, 0, Count * SectorBytes);
  for (size_t I = 0; I < Count; ++I, Out += SectorBytes) {
    std::memset(Out + 1, 0xFF, 10);
    const uint64_t Address = Lsn + I + LeadIn;
    Out[12] = Bcd(Address / (60 * SectorsPerSecond));
    Out[13] = Bcd(Address / SectorsPerSecond % 60);
    Out[14] = Bcd(Address % SectorsPerSecond);
    Out[15] = 1;
  }
}

// A file of the image being made. It is removed when it goes unless kept, so that a failed run
// leaves no half-made image for a later one to take as done.
class TImageFile {
public:
  explicit TImageFile(std::string Name) : FName(std::move(Name)) {
    FFile = platform::FileCreate(FName, platform::TFileShare::Exclusive);
    if (!FFile.Valid())
      Fail("cannot create " + FName + ": " + platform::SysErrorMessage(errno));
  }
  ~TImageFile() {
    if (!FKept)
      std::remove(FName.c_str());
  }
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  void Keep() { FKept = true; }
  void Write(const void* Data, size_t Count) {
    errno = 0;
    if (platform::FileWrite(FFile.Get(), Data, Count) != static_cast<int64_t>(Count))
      Fail("cannot write " + FName + ": " + platform::SysErrorMessage(errno ? errno : ENOSPC));
  }

private:
  std::string FName;
  platform::TFileHandle FFile;
  bool FKept = false;
};

// Writes Count sectors in blocks, each made by Fill(its first sector's index, Sectors, Out).
template <typename TFill>
void WriteSectors(TImageFile& Bin, std::vector<uint8_t>& Buffer, uint64_t Count, TFill Fill) {
  for (uint64_t Done = 0; Done < Count;) {
    const size_t Block = static_cast<size_t>(std::min<uint64_t>(Count - Done, BlockSectors));
    Fill(Done, Block, Buffer.data());
    Bin.Write(Buffer.data(), Block * SectorBytes);
    Done += Block;
  }
}

std::string CueSheet(const std::vector<TTrackSpec>& Tracks, const TDiscLayout& Layout) {
  std::string Cue =
      "FILE " + Quoted(std::filesystem::path(Layout.BinFile).filename().string()) + " BINARY\n";
  for (size_t I = 0; I < Tracks.size(); ++I) {
    char Number[24];
    std::snprintf(Number, sizeof Number, "%02zu", I + 1);
    Cue += "  TRACK " + std::string(Number) + (Tracks[I].Data ? " MODE1/2352\n" : " AUDIO\n");
    if (Tracks[I].Pregap > 0)
      Cue += "    INDEX 00 " + Msf(Layout.Starts[I] - Tracks[I].Pregap) + "\n";
    Cue += "    INDEX 01 " + Msf(Layout.Starts[I]) + "\n";
  }
  return Cue;
}

void WriteImage(const std::vector<TTrackSpec>& Tracks,
                const std::vector<std::unique_ptr<TAudioSource>>& Sources,
                const TDiscLayout& Layout) {
  TImageFile Bin(Layout.BinFile);
  std::vector<uint8_t> Buffer(BlockSectors * SectorBytes);
  for (size_t I = 0; I < Tracks.size(); ++I) {
    const TTrackSpec& Track = Tracks[I];
    const uint64_t Start = Layout.Starts[I], GapStart = Start - Track.Pregap;
    const auto Data = [](uint64_t Lsn) {
      return [Lsn](uint64_t Index, size_t Count, uint8_t* Out) {
        FillDataSectors(Lsn + Index, Count, Out);
      };
    };
    if (Track.Data) {
      WriteSectors(Bin, Buffer, Track.Pregap, Data(GapStart));
      WriteSectors(Bin, Buffer, Track.Sectors, Data(Start));
      continue;
    }
    WriteSectors(Bin, Buffer, Track.Pregap, [](uint64_t, size_t Count, uint8_t* Out) {
      std::memset(Out, 0, Count * SectorBytes);
    });
    WriteSectors(Bin, Buffer, Track.Sectors, [&](uint64_t Index, size_t Count, uint8_t* Out) {
      Sources[I]->Render(Index, Count, Out);
    });
  }
  const std::string Cue = CueSheet(Tracks, Layout);
  TImageFile CueFile(Layout.CueFile);
  CueFile.Write(Cue.data(), Cue.size());
  Bin.Keep();
  CueFile.Keep();
}

std::string BinFileFor(const std::string& CueFile) {
  std::filesystem::path Bin(CueFile);
  Bin.replace_extension(".bin");
  if (Bin == std::filesystem::path(CueFile))
    Fail("the CUE sheet " + CueFile + " would be overwritten by its BIN file");
  if (Bin.filename().string().find('"') != std::string::npos)
    Fail("a CUE sheet cannot name a file with a '\"' in it: " + Bin.string());
  return Bin.string();
}

TTrackSpec ParseTrack(std::string_view Line) {
  TTrackSpec Track;
  std::string_view Rest = Line;
  const std::string_view Kind = NextWord(Rest);
  if (Kind != "audio" && Kind != "data")
    Fail(Quoted("audio") + " or " + Quoted("data") + " expected, not " + Quoted(Kind));
  Track.Data = Kind == "data";
  const std::string_view Length = NextWord(Rest);
  if (Length.empty())
    Fail("the track's length in sectors is missing");
  Track.Sectors = ParseLength(Length);
  if (Track.Sectors == 0)
    Fail("a track needs at least 1 sector");
  constexpr std::string_view PregapKey = "pregap=";
  if (Rest.starts_with(PregapKey)) {
    std::string_view Pregap = NextWord(Rest);
    Track.Pregap = ParseLength(Pregap.substr(PregapKey.size()));
  }
  if (Track.Data) {
    if (!Rest.empty())
      Fail("a data track takes no audio source, but " + Quoted(Rest) + " follows");
    Track.Source.clear();
    return Track;
  }
  ParseSource(Rest);
  Track.Source = Rest;
  return Track;
}

} // namespace

void FillPattern(uint64_t Seed, uint64_t Offset, std::span<uint8_t> Bytes) {
  uint8_t* Out = Bytes.data();
  for (size_t Left = Bytes.size(); Left > 0;) {
    // Byte Offset is byte Offset % 8 of output Offset / 8, little-endian.
    const uint64_t Word = SplitMix(Seed, Offset / 8);
    uint8_t WordBytes[8];
    std::memcpy(WordBytes, &Word, sizeof Word);
    const size_t Skip = Offset % 8, Take = std::min<size_t>(8 - Skip, Left);
    std::memcpy(Out, WordBytes + Skip, Take);
    Out += Take;
    Offset += Take;
    Left -= Take;
  }
}

TDiscLayout WriteDiscImage(const std::vector<TTrackSpec>& Tracks, const std::string& CueFile) {
  if (Tracks.empty())
    Fail("a disc needs at least one track");
  if (Tracks.size() > MaxTracks)
    Fail(std::to_string(Tracks.size()) + " tracks: a disc holds at most 99");
  uint64_t Length = 0;
  for (const TTrackSpec& Track : Tracks)
    Length += uint64_t{Track.Pregap} + Track.Sectors;
  if (Length > MaxDiscSectors)
    Fail("the disc is " + Msf(Length) + " long; counting the 2 seconds before track 1 it " +
         "must end by 99:59:74, so it holds at most " + Msf(MaxDiscSectors));

  TDiscLayout Layout;
  Layout.CueFile = CueFile;
  Layout.BinFile = BinFileFor(CueFile);
  // Every source, and so every WAV file, is checked before a file is made.
  std::vector<std::unique_ptr<TAudioSource>> Sources;
  uint32_t At = 0;
  for (size_t I = 0; I < Tracks.size(); ++I) {
    const TTrackSpec& Track = Tracks[I];
    try {
      if (Track.Sectors == 0)
        Fail("a track needs at least 1 sector");
      Sources.push_back(Track.Data ? nullptr
                                   : MakeSource(ParseSource(Track.Source), Track.Sectors));
    } catch (const std::runtime_error& Error) {
      Fail("track " + std::to_string(I + 1) + ": " + Error.what());
    }
    At += Track.Pregap;
    Layout.Starts.push_back(At);
    At += Track.Sectors;
  }
  Layout.LeadOut = At;
  WriteImage(Tracks, Sources, Layout);
  return Layout;
}

std::vector<TTrackSpec> ParseDiscDescription(std::string_view Text) {
  std::vector<TTrackSpec> Tracks;
  size_t LineNumber = 0;
  while (!Text.empty()) {
    ++LineNumber;
    const size_t End = std::min(Text.find('\n'), Text.size());
    std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(std::min(End + 1, Text.size()));
    Line = Trim(Line.substr(0, Line.find('#')));
    if (Line.empty())
      continue;
    try {
      Tracks.push_back(ParseTrack(Line));
      if (Tracks.size() > MaxTracks)
        Fail("a disc holds at most 99 tracks");
    } catch (const std::runtime_error& Error) {
      Fail("line " + std::to_string(LineNumber) + ": " + Error.what());
    }
  }
  if (Tracks.empty())
    Fail("the description has no tracks");
  return Tracks;
}

} // namespace tools
