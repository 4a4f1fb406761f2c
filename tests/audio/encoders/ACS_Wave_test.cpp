// The WAV writer on memory inputs: headers, the IMA ADPCM coder, appending, and Done fitting
// the header to the data. Every file the writer makes is read back by sox and ffprobe, and the
// ADPCM files are decoded by ffmpeg.
#include "audio/encoders/ACS_Wave.h"

#include "runtime/Text.h"
#include "tests/support/Command.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

TBytes ReadFile(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), {});
}

void WriteFile(const std::string& Name, const TBytes& Bytes) {
  std::ofstream Out(Name, std::ios::binary);
  Out.write(reinterpret_cast<const char*>(Bytes.data()),
            static_cast<std::streamsize>(Bytes.size()));
}

uint32_t U32(const TBytes& Bytes, size_t At) {
  return Bytes[At] | Bytes[At + 1] << 8 | Bytes[At + 2] << 16 | uint32_t{Bytes[At + 3]} << 24;
}

uint16_t U16(const TBytes& Bytes, size_t At) {
  return static_cast<uint16_t>(Bytes[At] | Bytes[At + 1] << 8);
}

std::string Id(const TBytes& Bytes, size_t At) {
  return std::string(Bytes.begin() + static_cast<std::ptrdiff_t>(At),
                     Bytes.begin() + static_cast<std::ptrdiff_t>(At) + 4);
}

void Put32(TBytes& Bytes, uint32_t Value) {
  for (int I = 0; I < 4; ++I)
    Bytes.push_back(static_cast<uint8_t>(Value >> (8 * I)));
}

void Put16(TBytes& Bytes, uint16_t Value) {
  Bytes.push_back(static_cast<uint8_t>(Value));
  Bytes.push_back(static_cast<uint8_t>(Value >> 8));
}

void PutChunk(TBytes& Bytes, const std::string& ChunkId, const TBytes& Body) {
  Bytes.insert(Bytes.end(), ChunkId.begin(), ChunkId.end());
  Put32(Bytes, static_cast<uint32_t>(Body.size()));
  Bytes.insert(Bytes.end(), Body.begin(), Body.end());
  if (Body.size() % 2 != 0)
    Bytes.push_back(0);
}

// A "fmt " body: tag, channels, rate, block align, bits.
TBytes FormatBody(uint16_t Tag, uint16_t Channels, uint32_t Rate, uint16_t Bits) {
  TBytes Body;
  const uint16_t Align = static_cast<uint16_t>(Bits * Channels / 8);
  Put16(Body, Tag);
  Put16(Body, Channels);
  Put32(Body, Rate);
  Put32(Body, Rate * Align);
  Put16(Body, Align);
  Put16(Body, Bits);
  return Body;
}

// A RIFF file of the given chunks, its size field right.
TBytes RiffFile(const std::vector<std::pair<std::string, TBytes>>& Chunks,
                const std::string& Riff = "RIFF", const std::string& Wave = "WAVE") {
  TBytes File(Riff.begin(), Riff.end());
  Put32(File, 0);
  File.insert(File.end(), Wave.begin(), Wave.end());
  for (const auto& [ChunkId, Body] : Chunks)
    PutChunk(File, ChunkId, Body);
  const uint32_t Size = static_cast<uint32_t>(File.size() - 8);
  for (int I = 0; I < 4; ++I)
    File[4 + I] = static_cast<uint8_t>(Size >> (8 * I));
  return File;
}

// Interleaved 16-bit sines, one frequency per channel, at half of full scale.
TBytes Sines(size_t Frames, const std::vector<double>& Hertz, int32_t Rate = 44100) {
  TBytes Bytes;
  Bytes.reserve(Frames * Hertz.size() * 2);
  for (size_t Frame = 0; Frame < Frames; ++Frame)
    for (double Frequency : Hertz)
      Put16(Bytes, static_cast<uint16_t>(static_cast<int16_t>(
                       std::lround(16000 * std::sin(2 * M_PI * Frequency * Frame / Rate)))));
  return Bytes;
}

std::vector<int16_t> Samples(const TBytes& Bytes) {
  std::vector<int16_t> Result(Bytes.size() / 2);
  for (size_t I = 0; I < Result.size(); ++I)
    Result[I] = static_cast<int16_t>(U16(Bytes, 2 * I));
  return Result;
}

// Signal to noise of one channel of Decoded against Source, in dB, over Source's frames.
double SnrDb(const TBytes& Source, const TBytes& Decoded, size_t Channels, size_t Channel) {
  const std::vector<int16_t> A = Samples(Source), B = Samples(Decoded);
  double Signal = 0, Noise = 0;
  for (size_t I = Channel; I < A.size() && I < B.size(); I += Channels) {
    const double Error = static_cast<double>(A[I]) - B[I];
    Signal += static_cast<double>(A[I]) * A[I];
    Noise += Error * Error;
  }
  return 10 * std::log10(Signal / std::max(Noise, 1.0));
}

// Lets a test wait for a run to be stopped from inside the input.
class TStoppableWaveOut : public TWaveOut {
public:
  using TWaveOut::TWaveOut;
  bool StopRequestedNow() const { return StopRequested(); }
};

class WaveOutTest : public ::testing::Test {
protected:
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
  TTempDir Dir;
  // Runs Out on Input and returns once the worker is held in the input's read number Reads,
  // where it stays until a stop is asked.
  void RunUntilHeld(TStoppableWaveOut* Out, TMemoryInput* Input, int Reads) {
    Input->SetOnRead([this, Out, Reads] {
      if (++HeldReads < Reads)
        return;
      Holding = true;
      while (!Out->StopRequestedNow())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    Out->SetInput(Input);
    Out->Run();
    ASSERT_TRUE(PumpUntil([&] { return Holding.load(); }));
  }
  std::atomic<int> HeldReads{0};
  std::atomic<bool> Holding{false};
  // Files the writer made, for sox and ffprobe to read when the test ends.
  std::vector<std::string> Made;
  int DoneCount = 0;

  TStoppableWaveOut* MakeOut(const std::string& Name) {
    auto* Out = new TStoppableWaveOut(Root.get());
    Out->SetFileName(Dir.File(Name));
    Out->SetOnDone([this](TComponent*) { ++DoneCount; });
    Made.push_back(Dir.File(Name));
    return Out;
  }
  TMemoryInput* MakeInput(TBytes Data) { return new TMemoryInput(Root.get(), std::move(Data)); }
  TMemoryInput* MakeInput(TBytes Data, int32_t Channels, int32_t Bits) {
    return new TFormatInput(Root.get(), std::move(Data), Bits, Channels);
  }

  // One run to its OnDone; the file's bytes.
  TBytes Run(TWaveOut* Out, TAuInput* Input) {
    const int Before = DoneCount;
    Out->SetInput(Input);
    Out->Run();
    EXPECT_TRUE(PumpUntil([&] { return DoneCount > Before; }));
    return ReadFile(Out->FileName());
  }

  // What ffmpeg's decoder makes of a file, as 16-bit samples.
  TBytes Decode(const std::string& File) {
    const TCommandResult Decoded =
        RunCommand("ffmpeg -v error -i " + ShellQuoted(File) + " -f s16le -acodec pcm_s16le -");
    EXPECT_EQ(Decoded.Status, 0) << File;
    return TBytes(Decoded.Output.begin(), Decoded.Output.end());
  }

  void TearDown() override {
    for (const std::string& File : Made) {
      if (!std::ifstream(File))
        continue;
      const TCommandResult Sox = RunCommand("sox -V1 " + ShellQuoted(File) + " -n 2>&1");
      EXPECT_EQ(Sox.Status, 0) << "sox refuses " << File << ": " << Sox.Output;
      const TCommandResult Probe = RunCommand("ffprobe -v error " + ShellQuoted(File) + " 2>&1");
      EXPECT_TRUE(Probe.Status == 0 && Probe.Output.empty())
          << "ffprobe refuses " << File << ": " << Probe.Output;
    }
  }
};

// ---- PCM

TEST_F(WaveOutTest, CdAudioGetsTheCanonicalHeaderAndAnExactCopyOfTheData) {
  const TBytes Audio = PatternBytes(10 * 2352);
  TWaveOut* Out = MakeOut("track.wav");
  const TBytes File = Run(Out, MakeInput(Audio));
  ASSERT_EQ(File.size(), 44 + Audio.size());
  struct {
    size_t At;
    uint32_t Value;
  } Fields32[] = {{4, 23520 + 36}, {16, 16}, {24, 44100}, {28, 176400}, {40, 23520}};
  for (const auto& Field : Fields32)
    EXPECT_EQ(U32(File, Field.At), Field.Value) << "offset " << Field.At;
  struct {
    size_t At;
    uint16_t Value;
  } Fields16[] = {{20, 1}, {22, 2}, {32, 4}, {34, 16}};
  for (const auto& Field : Fields16)
    EXPECT_EQ(U16(File, Field.At), Field.Value) << "offset " << Field.At;
  EXPECT_EQ(Id(File, 0) + Id(File, 8) + Id(File, 12) + Id(File, 36), "RIFFWAVEfmt data");
  EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(), File.begin() + 44));
  EXPECT_EQ(Out->WavType(), wtPCM);
  EXPECT_EQ(Out->ExceptionText(), "");
}

struct FitCase {
  const char* Name;
  int64_t Reported; // the input's stream size
  size_t Delivered; // the bytes it hands out
  uint32_t DataSize;
  size_t FileLength;
};

class WaveOutFitTest : public WaveOutTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(WaveOutFitTest, DoneMakesTheHeaderAgreeWithTheFile) {
  const FitCase& Case = GetParam();
  TMemoryInput* Input = MakeInput(PatternBytes(Case.Delivered));
  Input->SetReportedSize(Case.Reported);
  const TBytes File = Run(MakeOut("fit.wav"), Input);
  ASSERT_EQ(File.size(), Case.FileLength);
  EXPECT_EQ(U32(File, 40), Case.DataSize);
  EXPECT_EQ(U32(File, 4), Case.DataSize + 36);
  // Whatever follows the input's bytes is silence.
  EXPECT_TRUE(std::all_of(File.begin() + 44 + static_cast<std::ptrdiff_t>(Case.Delivered),
                          File.end(), [](uint8_t B) { return B == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutFitTest,
    ::testing::Values(
        // A short input is padded to the size its header declares.
        FitCase{"OneSectorShortIsPadded", 4 * 2352, 3 * 2352, 4 * 2352, 44 + 4 * 2352},
        FitCase{"UnknownSizeIsPatched", -1, 5000, 5000, 44 + 5000},
        // An input that hands out more than it declared gets the header fitted to the data.
        FitCase{"LongerThanDeclaredIsPatched", 1000, 3000, 3000, 44 + 3000},
        FitCase{"EmptyInput", 0, 0, 0, 44}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(WaveOutTest, StoppedHalfWayPatchesTheSizes) {
  TStoppableWaveOut* Out = MakeOut("stopped.wav");
  TMemoryInput* Input = MakeInput(PatternBytes(100 * 4096));
  RunUntilHeld(Out, Input, 10);
  Out->Stop(false);
  const TBytes File = ReadFile(Out->FileName());
  ASSERT_GT(File.size(), 44u + 8 * 4096);
  ASSERT_LT(File.size(), 44u + 100 * 4096);
  EXPECT_EQ(U32(File, 40), File.size() - 44);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
  EXPECT_EQ(Input->FlushCount, 1);
}

struct ReadFailureCase {
  const char* Name;
  TWavType Type;
  size_t DataStart;
};

class WaveOutReadFailureTest : public WaveOutTest,
                               public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(WaveOutReadFailureTest, EndsTheRunWithTheErrorAndAHeaderThatFitsTheFile) {
  const ReadFailureCase& Case = GetParam();
  TWaveOut* Out = MakeOut("failed.wav");
  Out->SetWavType(Case.Type);
  TMemoryInput* Input = MakeInput(PatternBytes(100 * 4096));
  std::atomic<int> Reads{0};
  Input->SetOnRead([&] {
    if (++Reads > 5)
      throw EAuException("The disc could not be read");
  });
  const TBytes File = Run(Out, Input);
  EXPECT_EQ(Out->ExceptionText(), "The disc could not be read");
  EXPECT_EQ(Reads, 6) << "the run goes on reading after a failed read";
  EXPECT_EQ(U32(File, Case.DataStart - 4), File.size() - Case.DataStart);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
  EXPECT_EQ(Input->FlushCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaveOutReadFailureTest,
                         ::testing::Values(ReadFailureCase{"PCM", wtPCM, 44},
                                           ReadFailureCase{"ImaAdpcm", wtDVIADPCM, 60}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(WaveOutTest, AFailedWriteEndsTheRunWithTheSystemsMessage) {
  TWaveOut* Out = MakeOut("full.wav");
  TMemoryInput* Input = MakeInput(PatternBytes(64 * 4096));
  TBytes File;
  {
    // Room for the header and twelve buffers of 4096 bytes, and a part of the thirteenth.
    TFileSizeLimit Limit(44 + 12 * 4096 + 100);
    File = Run(Out, Input);
  }
  EXPECT_EQ(Out->ExceptionText(), "File too large");
  EXPECT_EQ(Input->ReadCount, 13) << "the run goes on after a failed write";
  EXPECT_EQ(U32(File, 40), File.size() - 44);
}

// ---- Header kinds

struct KindCase {
  const char* Name;
  int32_t Channels;
  int32_t Bits;
  TWavType Requested;
  bool NonMs;
  size_t HeaderSize;
  uint16_t Tag;
  uint32_t Mask; // the extensible header's channel mask
};

class WaveOutKindTest : public WaveOutTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(WaveOutKindTest, PicksTheHeaderByTheInputsFormat) {
  const KindCase& Case = GetParam();
  const size_t Frame = static_cast<size_t>(Case.Channels * Case.Bits / 8);
  const TBytes Audio = PatternBytes(Frame * 1000);
  TWaveOut* Out = MakeOut("kind.wav");
  Out->SetWavType(Case.Requested);
  Out->SetCreateNonMsHeaders(Case.NonMs);
  const TBytes File = Run(Out, MakeInput(Audio, Case.Channels, Case.Bits));
  ASSERT_EQ(File.size(), Case.HeaderSize + Audio.size());
  EXPECT_EQ(Out->WavType(), Case.HeaderSize == 68 ? wtExtPCM : wtPCM);
  EXPECT_EQ(U16(File, 20), Case.Tag);
  EXPECT_EQ(U16(File, 22), Case.Channels);
  EXPECT_EQ(U16(File, 32), Frame);
  EXPECT_EQ(U32(File, 28), 44100 * Frame);
  EXPECT_EQ(U16(File, 34), Case.Bits);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
  EXPECT_EQ(U32(File, Case.HeaderSize - 4), Audio.size());
  EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(),
                         File.begin() + static_cast<std::ptrdiff_t>(Case.HeaderSize)));
  if (Case.HeaderSize != 68)
    return;
  EXPECT_EQ(U32(File, 16), 40u);
  EXPECT_EQ(U16(File, 36), 22);
  EXPECT_EQ(U16(File, 38), Case.Bits);
  EXPECT_EQ(U32(File, 40), Case.Mask);
  const TBytes Guid = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  EXPECT_TRUE(std::equal(Guid.begin(), Guid.end(), File.begin() + 44));
  EXPECT_EQ(Id(File, 60), "data");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutKindTest,
    ::testing::Values(KindCase{"SixChannels", 6, 16, wtPCM, false, 68, 0xFFFE, 0x3F},
                      KindCase{"SixChannelsWhenAdpcmWasAsked", 6, 16, wtDVIADPCM, false, 68, 0xFFFE,
                               0x3F},
                      KindCase{"SixChannelsNonMs", 6, 16, wtPCM, true, 44, 1, 0},
                      KindCase{"EightChannels", 8, 16, wtPCM, false, 68, 0xFFFE, 0xFF},
                      KindCase{"StereoOf24Bits", 2, 24, wtPCM, false, 68, 0xFFFE, 0x3},
                      KindCase{"MonoOf24Bits", 1, 24, wtPCM, false, 68, 0xFFFE, 0x1},
                      KindCase{"MonoOf8Bits", 1, 8, wtPCM, false, 44, 1, 0},
                      KindCase{"FourChannelsHaveNoMask", 4, 16, wtPCM, false, 68, 0xFFFE, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---- Setters

TEST_F(WaveOutTest, SettersKeepTheirRules) {
  TWaveOut* Out = MakeOut("unused.wav");
  EXPECT_EQ(Out->WavType(), wtPCM);
  EXPECT_EQ(Out->BlockSize(), 512);
  EXPECT_FALSE(Out->CreateNonMsHeaders());
  EXPECT_EQ(Out->FileMode(), foRewrite);
  struct {
    uint16_t Value;
    uint16_t Expected;
  } Sizes[] = {{510, 512}, {0, 512}, {508, 508}, {2, 508}, {1024, 1024}};
  for (const auto& Size : Sizes) {
    Out->SetBlockSize(Size.Value);
    EXPECT_EQ(Out->BlockSize(), Size.Expected) << Size.Value;
  }
  struct {
    TWavType Value;
    TWavType Expected;
  } Types[] = {{wtDVIADPCM, wtDVIADPCM},
               {wtMSADPCM, wtDVIADPCM},
               {wtExtPCM, wtDVIADPCM},
               {wtPCM, wtPCM},
               {wtIEEEFloat, wtPCM}};
  for (const auto& Type : Types) {
    Out->SetWavType(Type.Value);
    EXPECT_EQ(Out->WavType(), Type.Expected) << int{Type.Value};
  }
  Out->SetFileMode(foAppend);
  EXPECT_EQ(Out->FileMode(), foAppend);
}

TEST_F(WaveOutTest, TypeAndBlockSizeStayWhileRunning) {
  TStoppableWaveOut* Out = MakeOut("running.wav");
  RunUntilHeld(Out, MakeInput(PatternBytes(40 * 4096)), 1);
  Out->SetWavType(wtDVIADPCM);
  Out->SetBlockSize(1024);
  Out->Stop(false);
  EXPECT_EQ(Out->WavType(), wtPCM);
  EXPECT_EQ(Out->BlockSize(), 512);
}

// ---- Errors

TEST_F(WaveOutTest, NoFileNameOpensNothing) {
  auto* Out = new TWaveOut(Root.get());
  Out->SetOnDone([this](TComponent*) { ++DoneCount; });
  TMemoryInput* Input = MakeInput(PatternBytes(100));
  Out->SetInput(Input);
  Out->Run();
  ASSERT_TRUE(PumpUntil([&] { return DoneCount == 1; }));
  EXPECT_EQ(Out->ExceptionText(), "File name is not assigned.");
  EXPECT_EQ(Input->InitCount, 0);
}

struct ErrorCase {
  const char* Name;
  TBytes Existing; // the file before the run; empty for none
  int32_t Channels;
  int32_t Bits;
  TWavType Requested;
  bool NonMs;
  const char* Message;
  uint16_t BlockSize = 512;
};

class WaveOutErrorTest : public WaveOutTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(WaveOutErrorTest, RaisesInPrepareAndLeavesTheFileAsItWas) {
  const ErrorCase& Case = GetParam();
  const std::string Name = Dir.File("error.wav");
  if (!Case.Existing.empty())
    WriteFile(Name, Case.Existing);
  auto* Out = new TWaveOut(Root.get());
  Out->SetFileName(Name);
  Out->SetOnDone([this](TComponent*) { ++DoneCount; });
  Out->SetFileMode(foAppend);
  Out->SetWavType(Case.Requested);
  Out->SetCreateNonMsHeaders(Case.NonMs);
  Out->SetBlockSize(Case.BlockSize);
  TMemoryInput* Input = MakeInput(PatternBytes(4000), Case.Channels, Case.Bits);
  const TBytes File = Run(Out, Input);
  EXPECT_EQ(Out->ExceptionText(), Case.Message);
  EXPECT_EQ(Input->InitCount, 1);
  EXPECT_EQ(Input->FlushCount, 1);
  if (!Case.Existing.empty()) {
    EXPECT_EQ(File, Case.Existing);
  }
  // The writer can run again.
  Out->SetFileMode(foRewrite);
  Out->SetWavType(wtPCM);
  Out->SetCreateNonMsHeaders(false);
  Run(Out, Input);
  EXPECT_EQ(Out->ExceptionText(), "");
}

const TBytes PcmData = PatternBytes(400);
const TBytes Stereo16 = RiffFile({{"fmt ", FormatBody(1, 2, 44100, 16)}, {"data", PcmData}});

TBytes WithTrailing(TBytes File, const std::string& ChunkId, const TBytes& Body) {
  PutChunk(File, ChunkId, Body);
  return File;
}

// Stereo IMA ADPCM in blocks of 512 bytes (505 frames).
const TBytes AdpcmFormat = [] {
  TBytes Body = FormatBody(17, 2, 44100, 4);
  Body[12] = 0; // block align 512
  Body[13] = 2;
  Put16(Body, 2);
  Put16(Body, 505);
  return Body;
}();

const char* const NotAppendable = "Cannot append data to this .wav file.";
const char* const OtherFormat = "Cannot append data in different audio format.";
const char* const NotSixteenBits = "Cannot encode 8 bit sound into ADPCM.";
const char* const BadBlock = "The block size does not suit the number of channels.";

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutErrorTest,
    ::testing::Values(
        // The message is the same whatever the width.
        ErrorCase{"AdpcmOf24Bits", {}, 2, 24, wtDVIADPCM, true, NotSixteenBits},
        ErrorCase{"AdpcmOf8Bits", {}, 1, 8, wtDVIADPCM, false, NotSixteenBits},
        ErrorCase{"AdpcmBlockBelowTheHeaders", {}, 2, 16, wtDVIADPCM, false, BadBlock, 4},
        // Stereo codes come in pairs of 4-byte words.
        ErrorCase{"AdpcmStereoBlockOfHalfAWord", {}, 2, 16, wtDVIADPCM, false, BadBlock, 508},
        ErrorCase{"AdpcmOfSixChannels",
                  {},
                  6,
                  16,
                  wtDVIADPCM,
                  true,
                  "Cannot encode more than 2 channels into ADPCM."},
        ErrorCase{"FloatFile", RiffFile({{"fmt ", FormatBody(3, 2, 44100, 32)}, {"data", PcmData}}),
                  2, 16, wtPCM, false, NotAppendable},
        ErrorCase{"NotRiff", PatternBytes(3000), 2, 16, wtPCM, false, NotAppendable},
        ErrorCase{"NoDataChunk", RiffFile({{"fmt ", FormatBody(1, 2, 44100, 16)}}), 2, 16, wtPCM,
                  false, NotAppendable},
        ErrorCase{"ShortFormatChunk", RiffFile({{"fmt ", TBytes(8, 1)}, {"data", PcmData}}), 2, 16,
                  wtPCM, false, NotAppendable},
        ErrorCase{"ChunkSizeBeyondTheFile",
                  RiffFile({{"LIST", TBytes(10, 0)}, {"fmt ", FormatBody(1, 2, 44100, 16)}}), 2, 16,
                  wtPCM, false, NotAppendable},
        ErrorCase{"ChunkAfterTheData", WithTrailing(Stereo16, "LIST", TBytes(20, 'x')), 2, 16,
                  wtPCM, false, NotAppendable},
        ErrorCase{"AdpcmWithoutFact", RiffFile({{"fmt ", AdpcmFormat}, {"data", TBytes(512, 0)}}),
                  2, 16, wtPCM, false, NotAppendable},
        // New blocks behind a cut-off one would not start on a block boundary.
        ErrorCase{
            "AdpcmEndingInPartOfABlock",
            RiffFile({{"fmt ", AdpcmFormat}, {"fact", {249, 1, 0, 0}}, {"data", TBytes(700, 0)}}),
            2, 16, wtPCM, false, NotAppendable},
        ErrorCase{"OtherRate", RiffFile({{"fmt ", FormatBody(1, 2, 48000, 16)}, {"data", PcmData}}),
                  2, 16, wtPCM, false, OtherFormat},
        ErrorCase{"OtherChannels", Stereo16, 1, 16, wtPCM, false, OtherFormat},
        ErrorCase{"OtherBits", RiffFile({{"fmt ", FormatBody(1, 2, 44100, 8)}, {"data", PcmData}}),
                  2, 16, wtPCM, false, OtherFormat}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---- Appending

struct AppendCase {
  const char* Name;
  TBytes Existing;
  size_t RiffStart;
  size_t DataSizeAt;
  bool ToolsRead = true; // sox and ffprobe take the file as RIFF WAVE
};

class WaveOutAppendTest : public WaveOutTest, public ::testing::WithParamInterface<AppendCase> {};

TEST_P(WaveOutAppendTest, AddsBehindTheDataAndPatchesItsSizes) {
  const AppendCase& Case = GetParam();
  const TBytes More = PatternBytes(8000, 7);
  TWaveOut* Out = MakeOut("append.wav");
  if (!Case.ToolsRead)
    Made.pop_back();
  WriteFile(Out->FileName(), Case.Existing);
  Out->SetFileMode(foAppend);
  const TBytes File = Run(Out, MakeInput(More));
  EXPECT_EQ(Out->ExceptionText(), "");
  ASSERT_EQ(File.size(), Case.Existing.size() + More.size());
  // Only the two size fields change in what was there.
  TBytes Before(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(Case.Existing.size()));
  for (size_t At : {Case.RiffStart + 4, Case.DataSizeAt})
    std::copy_n(Case.Existing.begin() + static_cast<std::ptrdiff_t>(At), 4,
                Before.begin() + static_cast<std::ptrdiff_t>(At));
  EXPECT_EQ(Before, Case.Existing);
  EXPECT_TRUE(
      std::equal(More.begin(), More.end(), File.end() - static_cast<std::ptrdiff_t>(More.size())));
  EXPECT_EQ(U32(File, Case.DataSizeAt), File.size() - Case.DataSizeAt - 4);
  EXPECT_EQ(U32(File, Case.RiffStart + 4), File.size() - Case.RiffStart - 8);
  EXPECT_EQ(Out->WavType(), wtPCM);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutAppendTest,
    ::testing::Values(
        AppendCase{"Canonical", Stereo16, 0, 40},
        AppendCase{
            "LowerCaseIds",
            RiffFile({{"fmt ", FormatBody(1, 2, 44100, 16)}, {"data", PcmData}}, "riff", "wave"), 0,
            40, false},
        AppendCase{"UpperCaseChunkIds",
                   RiffFile({{"FMT ", FormatBody(1, 2, 44100, 16)}, {"DATA", PcmData}}), 0, 40,
                   false},
        // An odd-sized chunk is followed by its pad byte.
        AppendCase{"ChunksBeforeTheFormatAndTheData",
                   RiffFile({{"junk", TBytes(13, 1)},
                             {"fmt ", FormatBody(1, 2, 44100, 16)},
                             {"LIST", TBytes(31, 2)},
                             {"data", PcmData}}),
                   0, 12 + 22 + 24 + 40 + 4}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(WaveOutTest, AppendsToWhatAnEarlierRunWrote) {
  const TBytes First = PatternBytes(30000, 1), Second = PatternBytes(20000, 2);
  TWaveOut* Out = MakeOut("two.wav");
  Run(Out, MakeInput(First));
  Out->SetFileMode(foAppend);
  const TBytes File = Run(Out, MakeInput(Second));
  ASSERT_EQ(File.size(), 44 + First.size() + Second.size());
  EXPECT_TRUE(std::equal(First.begin(), First.end(), File.begin() + 44));
  EXPECT_TRUE(std::equal(Second.begin(), Second.end(), File.begin() + 44 + 30000));
  EXPECT_EQ(U32(File, 40), 50000u);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
}

TEST_F(WaveOutTest, AppendingToNoFileOrAnEmptyOneWritesAFreshHeader) {
  for (bool Empty : {false, true}) {
    TWaveOut* Out = MakeOut(Empty ? "empty.wav" : "missing.wav");
    if (Empty)
      WriteFile(Out->FileName(), {});
    Out->SetFileMode(foAppend);
    const TBytes File = Run(Out, MakeInput(PatternBytes(1000)));
    ASSERT_EQ(File.size(), 1044u) << Empty;
    EXPECT_EQ(U32(File, 40), 1000u);
    EXPECT_EQ(Out->ExceptionText(), "");
  }
}

// ---- IMA ADPCM

// The blocks of PerBlock frames that hold Frames.
size_t Blocks(size_t Frames, size_t PerBlock) {
  return (Frames + PerBlock - 1) / PerBlock;
}

struct AdpcmCase {
  const char* Name;
  int32_t Channels;
  uint16_t BlockSize;
  size_t Frames;
  uint16_t SamplesPerBlock;
  uint32_t BytesPerSecond;
};

class WaveOutAdpcmTest : public WaveOutTest, public ::testing::WithParamInterface<AdpcmCase> {};

TEST_P(WaveOutAdpcmTest, WritesBlocksThatFfmpegDecodesCloseToTheSource) {
  const AdpcmCase& Case = GetParam();
  const std::vector<double> Tones = {440, 1250, 330, 2000, 550, 880};
  const std::vector<double> Hertz(Tones.begin(), Tones.begin() + Case.Channels);
  const TBytes Audio = Sines(Case.Frames, Hertz);
  TWaveOut* Out = MakeOut("adpcm.wav");
  Out->SetWavType(wtDVIADPCM);
  Out->SetBlockSize(Case.BlockSize);
  Out->SetCreateNonMsHeaders(true);
  const TBytes File = Run(Out, MakeInput(Audio, Case.Channels, 16));
  EXPECT_EQ(Out->ExceptionText(), "");
  const size_t BlockCount = Blocks(Case.Frames, Case.SamplesPerBlock);
  ASSERT_EQ(File.size(), 60 + BlockCount * Case.BlockSize);
  EXPECT_EQ(Id(File, 0) + Id(File, 8) + Id(File, 12) + Id(File, 40) + Id(File, 52),
            "RIFFWAVEfmt factdata");
  EXPECT_EQ(U32(File, 4), BlockCount * Case.BlockSize + 52);
  EXPECT_EQ(U32(File, 16), 20u);
  EXPECT_EQ(U16(File, 20), 17);
  EXPECT_EQ(U16(File, 22), Case.Channels);
  EXPECT_EQ(U32(File, 24), 44100u);
  EXPECT_EQ(U32(File, 28), Case.BytesPerSecond);
  EXPECT_EQ(U16(File, 32), Case.BlockSize);
  EXPECT_EQ(U16(File, 34), 4);
  EXPECT_EQ(U16(File, 36), 2);
  EXPECT_EQ(U16(File, 38), Case.SamplesPerBlock);
  EXPECT_EQ(U32(File, 44), 4u);
  EXPECT_EQ(U32(File, 48), Case.Frames);
  EXPECT_EQ(U32(File, 56), BlockCount * Case.BlockSize);

  // Each block's header holds its first frame exactly, and the step index goes on from the
  // block before.
  const std::vector<int16_t> Source = Samples(Audio);
  for (size_t Block = 0; Block < BlockCount; ++Block) {
    for (int32_t Channel = 0; Channel < Case.Channels; ++Channel) {
      const size_t At = 60 + Block * Case.BlockSize + 4 * static_cast<size_t>(Channel);
      EXPECT_EQ(static_cast<int16_t>(U16(File, At)),
                Source[Block * Case.SamplesPerBlock * Case.Channels + Channel]);
      EXPECT_LE(File[At + 2], 88);
      EXPECT_EQ(File[At + 3], 0);
      if (Block == 0) {
        EXPECT_EQ(File[At + 2], 0);
      } else {
        EXPECT_GT(File[At + 2], 20) << "a loud sine keeps a large step";
      }
    }
  }

  // ffmpeg decodes whole blocks: the source, then the silence that fills the last block.
  const TBytes Decoded = Decode(Out->FileName());
  ASSERT_EQ(Decoded.size(), BlockCount * Case.SamplesPerBlock * Case.Channels * 2);
  for (int32_t Channel = 0; Channel < Case.Channels; ++Channel) {
    const double Snr = SnrDb(Audio, Decoded, Case.Channels, Channel);
    std::printf("%s channel %d: SNR %.1f dB\n", Case.Name, Channel, Snr);
    EXPECT_GT(Snr, 30.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaveOutAdpcmTest,
    ::testing::Values(AdpcmCase{"StereoThreeSeconds", 2, 512, 3 * 44100, 505, 87 * 512},
                      // Ending on a block boundary adds no block of silence.
                      AdpcmCase{"StereoWholeBlocks", 2, 512, 200 * 505, 505, 87 * 512},
                      AdpcmCase{"StereoOneFrameMore", 2, 512, 200 * 505 + 1, 505, 87 * 512},
                      AdpcmCase{"MonoOneSecond", 1, 512, 44100, 1017, 43 * 512},
                      AdpcmCase{"StereoBlockOf1024", 2, 1024, 44100, 1017, 43 * 1024}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(WaveOutTest, AppendsToAnAdpcmFileInItsOwnBlockSize) {
  const TBytes First = Sines(1000, {440, 1250}), Second = Sines(2000, {440, 1250});
  TWaveOut* Writer = MakeOut("adpcm-append.wav");
  Writer->SetWavType(wtDVIADPCM);
  Writer->SetBlockSize(256);
  Run(Writer, MakeInput(First, 2, 16));
  // A writer left at its defaults takes the kind and the block size from the file.
  TWaveOut* Appender = MakeOut("adpcm-append.wav");
  Appender->SetFileMode(foAppend);
  const TBytes File = Run(Appender, MakeInput(Second, 2, 16));
  EXPECT_EQ(Appender->ExceptionText(), "");
  EXPECT_EQ(Appender->WavType(), wtDVIADPCM);
  EXPECT_EQ(Appender->BlockSize(), 256);
  const size_t PerBlock = 249, FirstBlocks = Blocks(1000, PerBlock),
               SecondBlocks = Blocks(2000, PerBlock);
  ASSERT_EQ(File.size(), 60 + (FirstBlocks + SecondBlocks) * 256);
  EXPECT_EQ(U32(File, 56), (FirstBlocks + SecondBlocks) * 256);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
  // The silence that filled the first run's last block now lies inside the stream.
  EXPECT_EQ(U32(File, 48), FirstBlocks * PerBlock + 2000);
  const TBytes Decoded = Decode(Appender->FileName());
  ASSERT_EQ(Decoded.size(), (FirstBlocks + SecondBlocks) * PerBlock * 4);
  const TBytes Tail(Decoded.begin() + static_cast<std::ptrdiff_t>(FirstBlocks * PerBlock * 4),
                    Decoded.end());
  // A new writer's step index starts from 0, so a short run has more noise at its start.
  EXPECT_GT(SnrDb(Second, Tail, 2, 0), 20.0);
  EXPECT_GT(SnrDb(Second, Tail, 2, 1), 20.0);
}

TEST_F(WaveOutTest, AdpcmStoppedHalfWayCountsTheBlocksWritten) {
  TStoppableWaveOut* Out = MakeOut("adpcm-stopped.wav");
  Out->SetWavType(wtDVIADPCM);
  RunUntilHeld(Out, MakeInput(Sines(100 * 505, {440, 1250}), 2, 16), 6);
  Out->Stop(false);
  const TBytes File = ReadFile(Out->FileName());
  const size_t BlockCount = (File.size() - 60) / 512;
  ASSERT_EQ(File.size(), 60 + BlockCount * 512);
  ASSERT_LT(BlockCount, 100u);
  EXPECT_EQ(U32(File, 56), BlockCount * 512);
  EXPECT_EQ(U32(File, 48), BlockCount * 505);
  EXPECT_EQ(U32(File, 4), File.size() - 8);
}

} // namespace
