#include "libs/lame_enc/lame_enc.h"

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

BE_CONFIG MakeConfig(uint32_t SampleRate, int32_t Mode, uint32_t Kbps) {
  BE_CONFIG Config;
  std::memset(&Config, 0, sizeof Config);
  Config.dwConfig = BE_CONFIG_LAME;
  Config.dwStructVersion = BE_CONFIG_VERSION;
  Config.dwStructSize = BE_CONFIG_SIZE;
  Config.dwSampleRate = SampleRate;
  Config.nMode = Mode;
  Config.dwBitrate = Kbps;
  Config.bOriginal = -1;
  Config.nVbrMethod = BE_VBR_METHOD_NEW;
  return Config;
}

BE_CONFIG MakeVbr(BE_CONFIG Config, int32_t Quality) {
  Config.bEnableVBR = -1;
  Config.bWriteVBRHeader = -1;
  Config.nVBRQuality = Quality;
  return Config;
}

BE_CONFIG MakeAbr(BE_CONFIG Config, uint32_t AverageKbps) {
  Config = MakeVbr(Config, 0);
  Config.dwVbrAbr_bps = AverageKbps;
  Config.nVbrMethod = BE_VBR_METHOD_ABR;
  return Config;
}

// A mix of sines under a slow swell, a different mix on each channel. The tones share no short
// period, so the alignment of a decoded copy is found without ambiguity.
std::vector<int16_t> SineMix(uint32_t Rate, int Channels, double Seconds) {
  const size_t Frames = static_cast<size_t>(Seconds * Rate);
  std::vector<int16_t> Pcm(Frames * static_cast<size_t>(Channels));
  constexpr double Tau = 2 * std::numbers::pi;
  for (size_t I = 0; I < Frames; ++I) {
    const double T = static_cast<double>(I) / Rate;
    const double Swell = 0.6 + 0.4 * std::sin(Tau * 0.37 * T);
    const double Left = 0.3 * std::sin(Tau * 440 * T) + 0.2 * std::sin(Tau * 1234.5 * T);
    const double Right = 0.3 * std::sin(Tau * 660 * T + 0.5) + 0.15 * std::sin(Tau * 2345.6 * T);
    Pcm[I * Channels] = static_cast<int16_t>(std::lround(32767 * Swell * Left));
    if (Channels == 2)
      Pcm[I * 2 + 1] = static_cast<int16_t>(std::lround(32767 * Swell * Right));
  }
  return Pcm;
}

std::vector<uint8_t> ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

struct TEncoding {
  uint32_t SamplesPerChunk = 0;
  uint32_t OutputBufferSize = 0;
  uint32_t SamplesPerCall = 0;
};

// Encodes into a file as the MP3 writer does: its buffer holds channels x samplesPerChunk bytes
// (one chunk for stereo, half a chunk for mono), the last call takes what is left, and the VBR
// header goes into the closed file.
TEncoding EncodeFile(BE_CONFIG Config, const std::vector<int16_t>& Pcm, int Channels,
                     const std::string& Path) {
  TEncoding E;
  uint32_t Stream = 0;
  EXPECT_EQ(beInitStream(&Config, &E.SamplesPerChunk, &E.OutputBufferSize, &Stream),
            BE_ERR_SUCCESSFUL);
  E.SamplesPerCall = static_cast<uint32_t>(Channels) * E.SamplesPerChunk / 2;
  std::vector<uint8_t> Output(E.OutputBufferSize);
  std::ofstream File(Path, std::ios::binary);
  for (size_t At = 0; At < Pcm.size() && E.SamplesPerCall > 0; At += E.SamplesPerCall) {
    const uint32_t Count =
        static_cast<uint32_t>(std::min<size_t>(E.SamplesPerCall, Pcm.size() - At));
    uint32_t Bytes = 0;
    EXPECT_EQ(beEncodeChunk(Stream, Count, Pcm.data() + At, Output.data(), &Bytes),
              BE_ERR_SUCCESSFUL);
    EXPECT_LE(Bytes, E.OutputBufferSize);
    File.write(reinterpret_cast<const char*>(Output.data()), Bytes);
  }
  uint32_t Bytes = 0;
  EXPECT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
  File.write(reinterpret_cast<const char*>(Output.data()), Bytes);
  File.close();
  EXPECT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
  if (Config.bWriteVBRHeader) {
    EXPECT_EQ(beWriteVBRHeader(Path.c_str()), BE_ERR_SUCCESSFUL);
  }
  return E;
}

// The MPEG audio frames of a file, read from their headers.
struct TFrame {
  size_t Offset = 0;
  int Version = 0; // 1, 2, or 25 for MPEG-2.5
  int Layer = 0;
  bool Crc = false, Private = false, Copyright = false, Original = false;
  int Mode = 0; // the header's channel mode, as nMode
  uint32_t Kbps = 0, Rate = 0;
  size_t Bytes = 0;
};

// Every frame from the start of the file on; stops at the first bytes that are no frame.
std::vector<TFrame> ReadFrames(const std::vector<uint8_t>& File) {
  constexpr std::array<uint32_t, 15> Mpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                  112, 128, 160, 192, 224, 256, 320};
  constexpr std::array<uint32_t, 15> Mpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                  64, 80, 96, 112, 128, 144, 160};
  constexpr std::array<uint32_t, 3> Mpeg1Rates = {44100, 48000, 32000};
  std::vector<TFrame> Frames;
  for (size_t At = 0; At + 4 <= File.size();) {
    const uint8_t* H = File.data() + At;
    const int VersionBits = (H[1] >> 3) & 3;
    const int BitrateIndex = H[2] >> 4;
    const int RateIndex = (H[2] >> 2) & 3;
    if (H[0] != 0xFF || (H[1] & 0xE0) != 0xE0 || VersionBits == 1 || BitrateIndex == 0 ||
        BitrateIndex == 15 || RateIndex == 3)
      break;
    TFrame F;
    F.Offset = At;
    F.Version = VersionBits == 3 ? 1 : VersionBits == 2 ? 2 : 25;
    F.Layer = 4 - ((H[1] >> 1) & 3);
    F.Crc = (H[1] & 1) == 0;
    F.Private = H[2] & 1;
    F.Mode = H[3] >> 6;
    F.Copyright = (H[3] >> 3) & 1;
    F.Original = (H[3] >> 2) & 1;
    F.Kbps = (F.Version == 1 ? Mpeg1Kbps : Mpeg2Kbps)[BitrateIndex];
    F.Rate = Mpeg1Rates[RateIndex] / (F.Version == 1 ? 1 : F.Version == 2 ? 2 : 4);
    F.Bytes = (F.Version == 1 ? 144 : 72) * F.Kbps * 1000 / F.Rate + ((H[2] >> 1) & 1);
    Frames.push_back(F);
    At += F.Bytes;
  }
  return Frames;
}

uint32_t BigEndian32(const uint8_t* P) {
  return uint32_t{P[0]} << 24 | uint32_t{P[1]} << 16 | uint32_t{P[2]} << 8 | P[3];
}

// The frame count of the Xing/Info tag in the first frame, or -1 without one.
int64_t XingFrames(const std::vector<uint8_t>& File, const TFrame& First) {
  const size_t SideInfo = First.Version == 1 ? (First.Mode == BE_MP3_MODE_MONO ? 17 : 32)
                                             : (First.Mode == BE_MP3_MODE_MONO ? 9 : 17);
  const size_t At = First.Offset + 4 + (First.Crc ? 2 : 0) + SideInfo;
  if (At + 12 > File.size())
    return -1;
  const uint8_t* Tag = File.data() + At;
  if (std::memcmp(Tag, "Xing", 4) != 0 && std::memcmp(Tag, "Info", 4) != 0)
    return -1;
  if ((BigEndian32(Tag + 4) & 1) == 0)
    return -1;
  return BigEndian32(Tag + 8);
}

// Decodes with ffmpeg to interleaved 16-bit samples.
std::vector<int16_t> Decode(const std::string& Path) {
  const std::string Bytes = CheckedOutput("ffmpeg -v error -i '" + Path + "' -f s16le -");
  std::vector<int16_t> Pcm(Bytes.size() / 2);
  std::memcpy(Pcm.data(), Bytes.data(), Pcm.size() * 2);
  return Pcm;
}

// Where Reference starts in Decoded, in frames: the best match of a stretch one second in.
size_t FindOffset(const std::vector<int16_t>& Reference, const std::vector<int16_t>& Decoded,
                  int Channels, uint32_t Rate) {
  const size_t From = Rate * static_cast<size_t>(Channels);
  const size_t Length = 4096 * static_cast<size_t>(Channels);
  size_t Best = 0;
  double BestError = INFINITY;
  for (size_t Offset = 0; Offset < 4000; ++Offset) {
    const size_t Shift = Offset * static_cast<size_t>(Channels);
    if (From + Shift + Length > Decoded.size() || From + Length > Reference.size())
      break;
    double Error = 0;
    for (size_t I = 0; I < Length; ++I) {
      const double D = static_cast<double>(Decoded[From + Shift + I]) - Reference[From + I];
      Error += D * D;
    }
    if (Error < BestError) {
      BestError = Error;
      Best = Offset;
    }
  }
  return Best;
}

double SnrDb(const std::vector<int16_t>& Reference, const std::vector<int16_t>& Decoded,
             size_t Shift) {
  double Signal = 0, Noise = 0;
  for (size_t I = 0; I < Reference.size() && Shift + I < Decoded.size(); ++I) {
    const double D = static_cast<double>(Decoded[Shift + I]) - Reference[I];
    Signal += static_cast<double>(Reference[I]) * Reference[I];
    Noise += D * D;
  }
  return 10 * std::log10(Signal / std::max(Noise, 1.0));
}

// Signal to noise after the best gain: LAME lowers the level of constant and average bit rate
// encodings by a few per cent, which plain SNR counts as noise.
double ShapeSnrDb(const std::vector<int16_t>& Reference, const std::vector<int16_t>& Decoded,
                  size_t Shift) {
  double Cross = 0, Power = 0;
  for (size_t I = 0; I < Reference.size() && Shift + I < Decoded.size(); ++I) {
    Cross += static_cast<double>(Reference[I]) * Decoded[Shift + I];
    Power += static_cast<double>(Decoded[Shift + I]) * Decoded[Shift + I];
  }
  const double Gain = Cross / std::max(Power, 1.0);
  double Signal = 0, Noise = 0;
  for (size_t I = 0; I < Reference.size() && Shift + I < Decoded.size(); ++I) {
    const double D = Gain * Decoded[Shift + I] - Reference[I];
    Signal += static_cast<double>(Reference[I]) * Reference[I];
    Noise += D * D;
  }
  return 10 * std::log10(Signal / std::max(Noise, 1.0));
}

// The average bit rate of the audio frames, after the header frame if there is one.
double AverageKbps(const std::vector<TFrame>& Frames, bool Header) {
  double Total = 0;
  for (size_t I = Header ? 1 : 0; I < Frames.size(); ++I)
    Total += Frames[I].Kbps;
  return Total / static_cast<double>(Frames.size() - (Header ? 1 : 0));
}

// The average bit rate of the lame command's encoding of the same samples (with its header).
double LameCommandKbps(const std::vector<int16_t>& Pcm, uint32_t Rate, int Channels,
                       const std::string& Options, const TTempDir& Dir) {
  const std::string Raw = Dir.File("lame-input.raw"), Mp3 = Dir.File("lame-output.mp3");
  std::ofstream(Raw, std::ios::binary)
      .write(reinterpret_cast<const char*>(Pcm.data()),
             static_cast<std::streamsize>(Pcm.size() * 2));
  char KHz[16];
  std::snprintf(KHz, sizeof KHz, "%g", Rate / 1000.0);
  CheckedOutput("lame --quiet -r --bitwidth 16 --little-endian -s " + std::string(KHz) +
                (Channels == 1 ? " -m m " : " ") + Options + " '" + Raw + "' '" + Mp3 +
                "' 2>/dev/null");
  return AverageKbps(ReadFrames(ReadFile(Mp3)), true);
}

class LameEncTest : public testing::Test {
protected:
  TTempDir Dir;
};

TEST(LameEncRecord, HasTheVersionOneLayout) {
  // The offsets are checked at compile time in the header; the bytes of a filled record are
  // checked here, as another program would lay them out.
  BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_JSTEREO, 128);
  Config.dwVbrAbr_bps = 192;
  Config.nQuality = 0x1234;
  Config.btReserved[236] = 0x5A;
  uint8_t Bytes[BE_CONFIG_SIZE];
  static_assert(sizeof Bytes == sizeof Config);
  std::memcpy(Bytes, &Config, sizeof Bytes);
  auto At = [&](size_t Offset) {
    return uint32_t{Bytes[Offset]} | uint32_t{Bytes[Offset + 1]} << 8 |
           uint32_t{Bytes[Offset + 2]} << 16 | uint32_t{Bytes[Offset + 3]} << 24;
  };
  EXPECT_EQ(At(0), 256u);
  EXPECT_EQ(At(4), 1u);
  EXPECT_EQ(At(8), 331u);
  EXPECT_EQ(At(12), 44100u);
  EXPECT_EQ(At(20), 1u);
  EXPECT_EQ(At(24), 128u);
  EXPECT_EQ(At(60), 0xFFFFFFFFu);
  EXPECT_EQ(At(76), 192u);
  EXPECT_EQ(At(80), 2u);
  EXPECT_EQ(Bytes[92], 0x34);
  EXPECT_EQ(Bytes[93], 0x12);
  EXPECT_EQ(Bytes[330], 0x5A);
}

struct TInitCase {
  const char* Name;
  void (*Change)(BE_CONFIG&);
  uint32_t Result;
};

const TInitCase InitCases[] = {
    {"OtherConfigKind", [](BE_CONFIG& C) { C.dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
    {"StructVersion2", [](BE_CONFIG& C) { C.dwStructVersion = 2; }, BE_ERR_INVALID_FORMAT},
    {"StructSize330", [](BE_CONFIG& C) { C.dwStructSize = 330; }, BE_ERR_INVALID_FORMAT},
    {"Mode4", [](BE_CONFIG& C) { C.nMode = 4; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"ModeNegative", [](BE_CONFIG& C) { C.nMode = -1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"SampleRate0", [](BE_CONFIG& C) { C.dwSampleRate = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"ResampleTo12345", [](BE_CONFIG& C) { C.dwReSampleRate = 12345; },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"Bitrate130", [](BE_CONFIG& C) { C.dwBitrate = 130; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"Bitrate320AtMpeg2Rate",
     [](BE_CONFIG& C) {
       C.dwSampleRate = 22050;
       C.dwBitrate = 320;
     },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"MaxBitrate999", [](BE_CONFIG& C) { C.dwMaxBitrate = 999; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"Mpeg2At44100", [](BE_CONFIG& C) { C.dwMpegVersion = BE_MPEG2; },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"Preset", [](BE_CONFIG& C) { C.nPreset = 1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"PsyModel", [](BE_CONFIG& C) { C.dwPsyModel = 1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"ReservedEmphasis", [](BE_CONFIG& C) { C.dwEmphasis = 2; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"Quality10", [](BE_CONFIG& C) { C.nQuality = 0xF50A; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"VbrQuality10", [](BE_CONFIG& C) { C = MakeVbr(C, 10); }, BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"VbrMethod5",
     [](BE_CONFIG& C) {
       C = MakeVbr(C, 2);
       C.nVbrMethod = 5;
     },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"VbrMinAboveMax",
     [](BE_CONFIG& C) {
       C = MakeVbr(C, 2);
       C.dwMaxBitrate = 96;
     },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"AbrWithoutAverage", [](BE_CONFIG& C) { C = MakeAbr(C, 0); },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
    {"AbrInBitsPerSecond", [](BE_CONFIG& C) { C = MakeAbr(C, 128000); },
     BE_ERR_INVALID_FORMAT_PARAMETERS},
};

TEST(LameEncInit, RefusesRecordsItCannotHonour) {
  for (const TInitCase& Case : InitCases) {
    SCOPED_TRACE(Case.Name);
    BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
    Case.Change(Config);
    uint32_t Samples = 7, OutputSize = 7, Stream = 7;
    EXPECT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), Case.Result);
    EXPECT_EQ(Samples, 7u);
    EXPECT_EQ(Stream, 7u);
  }
}

TEST(LameEncInit, RefusesNullPointers) {
  BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
  uint32_t Samples = 0, OutputSize = 0, Stream = 0;
  EXPECT_EQ(beInitStream(nullptr, &Samples, &OutputSize, &Stream), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beInitStream(&Config, nullptr, &OutputSize, &Stream), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beInitStream(&Config, &Samples, nullptr, &Stream), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beInitStream(&Config, &Samples, &OutputSize, nullptr), BE_ERR_NULL_POINTER);
}

TEST(LameEncInit, RunsOutOfHandlesAndFreesThem) {
  BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
  uint32_t Samples = 0, OutputSize = 0, Stream = 0;
  std::vector<uint32_t> Streams;
  while (beInitStream(&Config, &Samples, &OutputSize, &Stream) == BE_ERR_SUCCESSFUL)
    Streams.push_back(Stream);
  EXPECT_EQ(Streams.size(), 64u);
  EXPECT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), BE_ERR_NO_MORE_HANDLES);
  for (const uint32_t S : Streams)
    EXPECT_EQ(beCloseStream(S), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
}

class LameEncStreamTest : public testing::Test {
protected:
  void SetUp() override {
    BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
    ASSERT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), BE_ERR_SUCCESSFUL);
    Output.resize(OutputSize);
  }
  void TearDown() override { beCloseStream(Stream); }

  uint32_t Samples = 0, OutputSize = 0, Stream = 0, Bytes = 0;
  std::vector<uint8_t> Output;
  const std::vector<int16_t> Pcm = SineMix(44100, 2, 0.2);
  TTempDir Dir;
};

TEST_F(LameEncStreamTest, ReportsOneFrameOfStereoPerChunk) {
  EXPECT_EQ(Samples, 2304u);
  EXPECT_GE(OutputSize, 1152 * 5 / 4 + 7200u);
}

TEST_F(LameEncStreamTest, RefusesUnknownAndClosedHandles) {
  uint32_t Other = 0, Unused = 0;
  BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
  ASSERT_EQ(beInitStream(&Config, &Unused, &Unused, &Other), BE_ERR_SUCCESSFUL);
  ASSERT_EQ(beCloseStream(Other), BE_ERR_SUCCESSFUL);
  // The next stream may take the closed one's slot; the old handle still reaches nothing.
  uint32_t Next = 0;
  ASSERT_EQ(beInitStream(&Config, &Unused, &Unused, &Next), BE_ERR_SUCCESSFUL);
  const std::string File = Dir.File("x.mp3");
  for (const uint32_t Bad : {Other, Stream + 1000000u}) {
    SCOPED_TRACE(Bad);
    EXPECT_EQ(beEncodeChunk(Bad, 4, Pcm.data(), Output.data(), &Bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beDeinitStream(Bad, Output.data(), &Bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beFlushNoGap(Bad, Output.data(), &Bytes), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beWriteInfoTag(Bad, File.c_str()), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beCloseStream(Bad), BE_ERR_INVALID_HANDLE);
  }
  EXPECT_EQ(beCloseStream(Next), BE_ERR_SUCCESSFUL);
}

TEST_F(LameEncStreamTest, RefusesCallsOutOfOrderAndOversizedChunks) {
  EXPECT_EQ(beEncodeChunk(Stream, Samples + 1, Pcm.data(), Output.data(), &Bytes),
            BE_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(beEncodeChunk(Stream, 4, nullptr, Output.data(), &Bytes), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beEncodeChunk(Stream, 4, Pcm.data(), nullptr, &Bytes), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beEncodeChunk(Stream, 4, Pcm.data(), Output.data(), nullptr), BE_ERR_NULL_POINTER);
  EXPECT_EQ(beWriteInfoTag(Stream, Dir.File("x.mp3").c_str()), BE_ERR_SEQUENCE);
  EXPECT_EQ(beEncodeChunk(Stream, Samples, Pcm.data(), Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
  EXPECT_GT(Bytes, 0u);
  EXPECT_EQ(beEncodeChunk(Stream, Samples, Pcm.data(), Output.data(), &Bytes), BE_ERR_SEQUENCE);
  EXPECT_EQ(Bytes, 0u);
  EXPECT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SEQUENCE);
  EXPECT_EQ(beFlushNoGap(Stream, Output.data(), &Bytes), BE_ERR_SEQUENCE);
}

TEST_F(LameEncStreamTest, WritesNoHeaderItDidNotReserve) {
  ASSERT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
  const std::string File = Dir.File("cbr.mp3");
  std::ofstream(File, std::ios::binary).write(reinterpret_cast<char*>(Output.data()), Bytes);
  EXPECT_EQ(beWriteInfoTag(Stream, File.c_str()), BE_ERR_NO_VBR_HEADER);
  ASSERT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beWriteVBRHeader(File.c_str()), BE_ERR_NO_VBR_HEADER);
  EXPECT_EQ(beWriteVBRHeader(nullptr), BE_ERR_NULL_POINTER);
}

TEST_F(LameEncTest, WritesTheVbrHeaderOnlyOverItsReservedFrame) {
  BE_CONFIG Config = MakeVbr(MakeConfig(44100, BE_MP3_MODE_JSTEREO, 0), 4);
  const std::string File = Dir.File("vbr.mp3");
  EncodeFile(Config, SineMix(44100, 2, 1), 2, File);
  const std::string Missing = Dir.File("missing.mp3");
  EXPECT_EQ(beWriteVBRHeader(Missing.c_str()), BE_ERR_FILE);
  EXPECT_FALSE(std::filesystem::exists(Missing));
  const std::string Text = Dir.File("notes.txt");
  const std::string Notes(4000, 'n');
  std::ofstream(Text) << Notes;
  EXPECT_EQ(beWriteVBRHeader(Text.c_str()), BE_ERR_FILE);
  const std::vector<uint8_t> After = ReadFile(Text);
  EXPECT_EQ(std::string(After.begin(), After.end()), Notes);
  // A stream closed without its flush leaves no header, not the older stream's.
  uint32_t Samples = 0, OutputSize = 0, Stream = 0;
  ASSERT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), BE_ERR_SUCCESSFUL);
  ASSERT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
  EXPECT_EQ(beWriteVBRHeader(File.c_str()), BE_ERR_NO_VBR_HEADER);
}

TEST_F(LameEncTest, SplitsOddChunksWithoutChangingTheStream) {
  // The same samples in chunks of 1001 (an odd sample waiting for its partner each time)
  // give the same bytes as whole chunks.
  const std::vector<int16_t> Pcm = SineMix(44100, 2, 2);
  const BE_CONFIG Config = MakeConfig(44100, BE_MP3_MODE_STEREO, 128);
  const std::string Whole = Dir.File("whole.mp3");
  EncodeFile(Config, Pcm, 2, Whole);

  BE_CONFIG Copy = Config;
  uint32_t Samples = 0, OutputSize = 0, Stream = 0, Bytes = 0;
  ASSERT_EQ(beInitStream(&Copy, &Samples, &OutputSize, &Stream), BE_ERR_SUCCESSFUL);
  std::vector<uint8_t> Output(OutputSize), Odd;
  for (size_t At = 0; At < Pcm.size(); At += 1001) {
    const uint32_t Count = static_cast<uint32_t>(std::min<size_t>(1001, Pcm.size() - At));
    ASSERT_EQ(beEncodeChunk(Stream, Count, Pcm.data() + At, Output.data(), &Bytes),
              BE_ERR_SUCCESSFUL);
    Odd.insert(Odd.end(), Output.begin(), Output.begin() + Bytes);
  }
  ASSERT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
  Odd.insert(Odd.end(), Output.begin(), Output.begin() + Bytes);
  EXPECT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
  EXPECT_TRUE(Odd == ReadFile(Whole));
}

TEST_F(LameEncTest, EncodesStreamsOnSeveralThreadsAsOneAtATime) {
  const std::vector<int16_t> Pcm = SineMix(44100, 2, 3);
  const std::array<BE_CONFIG, 3> Configs = {MakeConfig(44100, BE_MP3_MODE_STEREO, 128),
                                            MakeVbr(MakeConfig(44100, BE_MP3_MODE_JSTEREO, 0), 2),
                                            MakeConfig(44100, BE_MP3_MODE_JSTEREO, 192)};
  std::vector<std::vector<uint8_t>> Alone;
  for (size_t I = 0; I < Configs.size(); ++I) {
    const std::string File = Dir.File("alone" + std::to_string(I) + ".mp3");
    EncodeFile(Configs[I], Pcm, 2, File);
    Alone.push_back(ReadFile(File));
  }
  // The VBR header goes to the last closed stream, so the threads leave their reserved frames
  // blank and the rest is compared.
  std::vector<std::thread> Threads;
  for (size_t I = 0; I < Configs.size(); ++I)
    Threads.emplace_back([&, I] {
      BE_CONFIG Config = Configs[I];
      uint32_t Samples = 0, OutputSize = 0, Stream = 0, Bytes = 0;
      ASSERT_EQ(beInitStream(&Config, &Samples, &OutputSize, &Stream), BE_ERR_SUCCESSFUL);
      std::vector<uint8_t> Output(OutputSize);
      std::ofstream File(Dir.File("together" + std::to_string(I) + ".mp3"), std::ios::binary);
      for (size_t At = 0; At < Pcm.size(); At += Samples) {
        const uint32_t Count = static_cast<uint32_t>(std::min<size_t>(Samples, Pcm.size() - At));
        EXPECT_EQ(beEncodeChunk(Stream, Count, Pcm.data() + At, Output.data(), &Bytes),
                  BE_ERR_SUCCESSFUL);
        File.write(reinterpret_cast<char*>(Output.data()), Bytes);
      }
      EXPECT_EQ(beDeinitStream(Stream, Output.data(), &Bytes), BE_ERR_SUCCESSFUL);
      File.write(reinterpret_cast<char*>(Output.data()), Bytes);
      EXPECT_EQ(beCloseStream(Stream), BE_ERR_SUCCESSFUL);
    });
  for (std::thread& T : Threads)
    T.join();
  for (size_t I = 0; I < Configs.size(); ++I) {
    SCOPED_TRACE(I);
    std::vector<uint8_t> Together = ReadFile(Dir.File("together" + std::to_string(I) + ".mp3"));
    const std::vector<TFrame> Frames = ReadFrames(Alone[I]);
    ASSERT_FALSE(Frames.empty());
    const size_t Skip = Configs[I].bWriteVBRHeader ? Frames[0].Bytes : 0;
    ASSERT_EQ(Together.size(), Alone[I].size());
    EXPECT_TRUE(std::equal(Together.begin() + Skip, Together.end(), Alone[I].begin() + Skip));
  }
}

struct THeaderBitsCase {
  const char* Name;
  int32_t Crc, Copyright, Original, Private;
  int32_t Mode;
};

const THeaderBitsCase HeaderBitsCases[] = {
    {"Plain", 0, 0, 0, 0, BE_MP3_MODE_STEREO},
    {"Crc", -1, 0, 0, 0, BE_MP3_MODE_STEREO},
    {"CopyrightOriginal", 0, -1, 1, 0, BE_MP3_MODE_JSTEREO},
    {"PrivateDualChannel", 0, 0, 0, -1, BE_MP3_MODE_DUALCHANNEL},
};

TEST_F(LameEncTest, SetsTheFrameHeaderBitsOfTheRecord) {
  for (const THeaderBitsCase& Case : HeaderBitsCases) {
    SCOPED_TRACE(Case.Name);
    BE_CONFIG Config = MakeConfig(44100, Case.Mode, 128);
    Config.bCRC = Case.Crc;
    Config.bCopyright = Case.Copyright;
    Config.bOriginal = Case.Original;
    Config.bPrivate = Case.Private;
    const std::string File = Dir.File(std::string(Case.Name) + ".mp3");
    EncodeFile(Config, SineMix(44100, 2, 1), 2, File);
    const std::vector<TFrame> Frames = ReadFrames(ReadFile(File));
    ASSERT_GT(Frames.size(), 30u);
    for (const TFrame& F : Frames) {
      ASSERT_EQ(F.Crc, Case.Crc != 0);
      ASSERT_EQ(F.Copyright, Case.Copyright != 0);
      ASSERT_EQ(F.Original, Case.Original != 0);
      ASSERT_EQ(F.Private, Case.Private != 0);
      if (Case.Mode != BE_MP3_MODE_JSTEREO) {
        ASSERT_EQ(F.Mode, Case.Mode);
      }
    }
  }
}

// One encoding, checked by ffprobe, by the frame headers and by ffmpeg's decoding.
struct TEncodeCase {
  const char* Name;
  BE_CONFIG Config;
  int Channels;
  double Seconds;
  uint32_t OutRate;
  int Version;
  uint32_t Kbps; // every frame's, for constant bit rate
  // The lame command's options for the same encoding, whose average bit rate ours must match.
  const char* LameOptions;
};

const TEncodeCase EncodeCases[] = {
    {"Cbr128Stereo", MakeConfig(44100, BE_MP3_MODE_STEREO, 128), 2, 30, 44100, 1, 128, ""},
    {"Cbr192JointStereo", MakeConfig(44100, BE_MP3_MODE_JSTEREO, 192), 2, 10, 44100, 1, 192, ""},
    {"Cbr64MonoHalfChunks", MakeConfig(44100, BE_MP3_MODE_MONO, 64), 1, 10, 44100, 1, 64, ""},
    {"Cbr96At32kHz", MakeConfig(32000, BE_MP3_MODE_JSTEREO, 96), 2, 10, 32000, 1, 96, ""},
    {"Cbr160At48kHz", MakeConfig(48000, BE_MP3_MODE_STEREO, 160), 2, 10, 48000, 1, 160, ""},
    {"Resample48kTo44k",
     [] {
       BE_CONFIG C = MakeConfig(48000, BE_MP3_MODE_JSTEREO, 128);
       C.dwReSampleRate = 44100;
       return C;
     }(),
     2, 10, 44100, 1, 128, ""},
    {"Cbr128WithInfoHeader",
     [] {
       BE_CONFIG C = MakeConfig(44100, BE_MP3_MODE_JSTEREO, 128);
       C.bWriteVBRHeader = -1;
       return C;
     }(),
     2, 10, 44100, 1, 128, ""},
    {"Mpeg2At22kHzMono", MakeConfig(22050, BE_MP3_MODE_MONO, 32), 1, 10, 22050, 2, 32, ""},
    {"VbrQuality2", MakeVbr(MakeConfig(44100, BE_MP3_MODE_JSTEREO, 0), 2), 2, 10, 44100, 1, 0,
     "-V 2"},
    {"VbrBetween128And192",
     [] {
       BE_CONFIG C = MakeVbr(MakeConfig(44100, BE_MP3_MODE_JSTEREO, 128), 0);
       C.dwMaxBitrate = 192;
       return C;
     }(),
     2, 10, 44100, 1, 0, "-V 0 -b 128 -B 192"},
    {"Abr160", MakeAbr(MakeConfig(44100, BE_MP3_MODE_JSTEREO, 0), 160), 2, 10, 44100, 1, 0,
     "--abr 160"},
};

TEST_F(LameEncTest, EncodesWhatTheRecordSays) {
  for (const TEncodeCase& Case : EncodeCases) {
    SCOPED_TRACE(Case.Name);
    const BE_CONFIG& Config = Case.Config;
    const std::vector<int16_t> Pcm = SineMix(Config.dwSampleRate, Case.Channels, Case.Seconds);
    const std::string File = Dir.File(std::string(Case.Name) + ".mp3");
    const TEncoding E = EncodeFile(Config, Pcm, Case.Channels, File);
    const uint32_t FrameSamples = Case.Version == 1 ? 1152 : 576;
    EXPECT_EQ(E.SamplesPerChunk, FrameSamples * static_cast<uint32_t>(Case.Channels));

    const std::string Probe =
        CheckedOutput("ffprobe -v error -select_streams a:0 -show_entries "
                      "stream=codec_name,sample_rate,channels -of default=nw=1 '" +
                      File + "'");
    EXPECT_EQ(Probe, "codec_name=mp3\nsample_rate=" + std::to_string(Case.OutRate) +
                         "\nchannels=" + std::to_string(Case.Channels) + "\n");

    // Every byte of the file is a frame of the asked layer, version, rate and bit rate.
    const std::vector<uint8_t> Bytes = ReadFile(File);
    const std::vector<TFrame> Frames = ReadFrames(Bytes);
    ASSERT_FALSE(Frames.empty());
    EXPECT_EQ(Frames.back().Offset + Frames.back().Bytes, Bytes.size());
    for (const TFrame& F : Frames) {
      ASSERT_EQ(F.Layer, 3);
      ASSERT_EQ(F.Version, Case.Version);
      ASSERT_EQ(F.Rate, Case.OutRate);
      ASSERT_EQ(F.Mode == BE_MP3_MODE_MONO, Case.Channels == 1);
      if (Case.Kbps) {
        ASSERT_EQ(F.Kbps, Case.Kbps);
      }
      if (Config.bEnableVBR && Config.dwBitrate) {
        ASSERT_GE(F.Kbps, Config.dwBitrate);
      }
      if (Config.bEnableVBR && Config.dwMaxBitrate) {
        ASSERT_LE(F.Kbps, Config.dwMaxBitrate);
      }
    }
    const double Kbps = AverageKbps(Frames, Config.bWriteVBRHeader);
    if (*Case.LameOptions) {
      const double LameKbps =
          LameCommandKbps(Pcm, Config.dwSampleRate, Case.Channels, Case.LameOptions, Dir);
      EXPECT_NEAR(Kbps, LameKbps, LameKbps * 0.02);
    }

    // The header frame counts the frames after it.
    const int64_t Tagged = XingFrames(Bytes, Frames[0]);
    EXPECT_EQ(Tagged, Config.bWriteVBRHeader ? static_cast<int64_t>(Frames.size()) - 1 : -1);

    // ffmpeg takes the delay and padding from the header and trims them; without one, the
    // source begins after the encoder's and decoder's delay.
    const std::vector<int16_t> Reference = SineMix(Case.OutRate, Case.Channels, Case.Seconds);
    const std::vector<int16_t> Decoded = Decode(File);
    const size_t Offset = FindOffset(Reference, Decoded, Case.Channels, Case.OutRate);
    const size_t Shift = Offset * static_cast<size_t>(Case.Channels);
    const double Snr = SnrDb(Reference, Decoded, Shift);
    std::printf("%-22s %4zu frames, %5.1f kb/s, delay %4zu, SNR %.1f dB (after gain %.1f dB)\n",
                Case.Name, Frames.size(), Kbps, Offset, Snr, ShapeSnrDb(Reference, Decoded, Shift));
    EXPECT_GT(Snr, 20.0);
    const size_t Audio = Frames.size() - (Config.bWriteVBRHeader ? 1 : 0);
    if (Config.bWriteVBRHeader) {
      EXPECT_EQ(Offset, 0u);
      EXPECT_NEAR(static_cast<double>(Decoded.size()), static_cast<double>(Reference.size()),
                  Case.Channels);
    } else {
      EXPECT_EQ(Decoded.size(), Audio * FrameSamples * static_cast<size_t>(Case.Channels));
      EXPECT_GE(Decoded.size(), Shift + Reference.size());
      EXPECT_LT(Decoded.size(), Shift + Reference.size() + 2 * FrameSamples * Case.Channels);
    }
  }
}

} // namespace
