// The compressor library end to end: files it writes are decoded by ffmpeg with CRC checking
// and must give back the input bit for bit.
#include "libs/MACDll/MACDll.h"
#include "libs/MACDll/Md5.h"
#include "libs/MACDll/NNFilter.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

constexpr int Levels[] = {1000, 2000, 3000, 4000, 5000};
constexpr uint32_t SampleRate = 44100;
constexpr int32_t WriterChunk = 65536;

uint32_t BlocksPerFrame(int Level) {
  return Level == 5000 ? 1179648 : Level == 4000 ? 294912 : 73728;
}

// --- Signals, as 16-bit samples per channel ------------------------------------------------

using TChannel = std::vector<int16_t>;

int16_t Clip(double Value) {
  return static_cast<int16_t>(std::clamp(std::lround(Value), -32768L, 32767L));
}

TChannel Silence(size_t Blocks) {
  return TChannel(Blocks, 0);
}

// Pink noise (Paul Kellet's filter over white noise).
TChannel PinkNoise(size_t Blocks, uint32_t Seed, double Amplitude) {
  std::mt19937 Random(Seed);
  std::uniform_real_distribution<double> White(-1, 1);
  double B[7] = {};
  TChannel Out(Blocks);
  for (size_t t = 0; t < Blocks; ++t) {
    const double W = White(Random);
    B[0] = 0.99886 * B[0] + W * 0.0555179;
    B[1] = 0.99332 * B[1] + W * 0.0750759;
    B[2] = 0.96900 * B[2] + W * 0.1538520;
    B[3] = 0.86650 * B[3] + W * 0.3104856;
    B[4] = 0.55000 * B[4] + W * 0.5329522;
    B[5] = -0.7616 * B[5] - W * 0.0168980;
    const double Pink = B[0] + B[1] + B[2] + B[3] + B[4] + B[5] + B[6] + W * 0.5362;
    B[6] = W * 0.115926;
    Out[t] = Clip(Pink * 0.11 * Amplitude);
  }
  return Out;
}

// A few tones whose notes swell and decay, over a little pink noise.
TChannel Music(size_t Blocks, uint32_t Seed) {
  const TChannel Noise = PinkNoise(Blocks, Seed, 400);
  const double Tones[] = {110.0, 220.5, 329.6, 440.0, 587.3, 880.0};
  TChannel Out(Blocks);
  for (size_t t = 0; t < Blocks; ++t) {
    const double Time = static_cast<double>(t) / SampleRate;
    double Mix = Noise[t];
    for (size_t i = 0; i < std::size(Tones); ++i) {
      const double Note = std::fmod(Time * (1 + 0.3 * i) + 0.1 * Seed, 1.0);
      const double Envelope = std::min(1.0, Note * 40) * std::exp(-3 * Note);
      Mix += 3000 / (1 + 0.5 * i) * Envelope *
             std::sin(2 * M_PI * Tones[i] * (1 + 0.01 * Seed) * Time);
    }
    Out[t] = Clip(Mix);
  }
  return Out;
}

// Full-scale white noise, clipped: the widest residuals.
TChannel LoudNoise(size_t Blocks, uint32_t Seed) {
  std::mt19937 Random(Seed);
  std::normal_distribution<double> White(0, 20000);
  TChannel Out(Blocks);
  for (int16_t& Sample : Out)
    Sample = Clip(White(Random));
  return Out;
}

TBytes Interleave(const TChannel& Left, const TChannel* Right) {
  TBytes Pcm;
  Pcm.reserve(Left.size() * (Right ? 4 : 2));
  const auto Put = [&](int16_t S) {
    Pcm.push_back(static_cast<uint8_t>(S));
    Pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(S) >> 8));
  };
  for (size_t t = 0; t < Left.size(); ++t) {
    Put(Left[t]);
    if (Right)
      Put((*Right)[t]);
  }
  return Pcm;
}

// --- The library, used the way the APE writer uses it -------------------------------------

struct THandleCloser {
  void operator()(void* Handle) const { c_APECompress_Destroy(reinterpret_cast<intptr_t>(Handle)); }
};
using TCompressorPtr = std::unique_ptr<void, THandleCloser>;

TCompressorPtr Create() {
  int32_t Error = -1;
  TCompressorPtr Compressor(reinterpret_cast<void*>(c_APECompress_Create(&Error)));
  EXPECT_EQ(Error, MAC_ERROR_SUCCESS);
  EXPECT_NE(Compressor, nullptr);
  return Compressor;
}

intptr_t Handle(const TCompressorPtr& Compressor) {
  return reinterpret_cast<intptr_t>(Compressor.get());
}

WAVEFORMATEX Format(int Channels) {
  WAVEFORMATEX F;
  EXPECT_EQ(FillWaveFormatEx(&F, SampleRate, 16, Channels), MAC_ERROR_SUCCESS);
  return F;
}

// Lock, copy at most what is free, unlock with processing, in chunks of Chunk bytes; then
// Finish(nullptr, 0, 0). The result of Finish.
int32_t Compress(const std::string& File, const TBytes& Pcm, int Channels, int Level,
                 int32_t Chunk = WriterChunk) {
  TCompressorPtr Compressor = Create();
  const WAVEFORMATEX F = Format(Channels);
  EXPECT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &F, -1, Level, nullptr, 0),
            MAC_ERROR_SUCCESS);
  for (size_t Pos = 0; Pos < Pcm.size();) {
    const size_t ChunkEnd = std::min(Pcm.size(), Pos + Chunk);
    while (Pos < ChunkEnd) {
      int32_t Available = 0;
      uint8_t* Buffer = c_APECompress_LockBuffer(Handle(Compressor), &Available);
      EXPECT_NE(Buffer, nullptr);
      EXPECT_GT(Available, 0);
      if (Buffer == nullptr || Available <= 0)
        return -1;
      const size_t Count = std::min<size_t>(Available, ChunkEnd - Pos);
      std::memcpy(Buffer, Pcm.data() + Pos, Count);
      Pos += Count;
      EXPECT_EQ(c_APECompress_UnlockBuffer(Handle(Compressor), static_cast<int32_t>(Count), 1),
                MAC_ERROR_SUCCESS);
    }
  }
  return c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0);
}

// Output of a command and its exit status.
std::pair<TBytes, int> Run(const std::string& Command) {
  TBytes Out;
  FILE* Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr)
    return {Out, -1};
  uint8_t Buffer[65536];
  for (size_t Got; (Got = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0;)
    Out.insert(Out.end(), Buffer, Buffer + Got);
  return {Out, pclose(Pipe)};
}

TBytes Decode(const std::string& File) {
  const auto [Pcm, Status] = Run("ffmpeg -v error -err_detect crccheck+explode -i '" + File +
                                 "' -f s16le - 2>&1 >'" + File + ".pcm' && cat '" + File + ".pcm'");
  EXPECT_EQ(Status, 0) << "ffmpeg failed: " << std::string(Pcm.begin(), Pcm.end());
  return Pcm;
}

TBytes ReadFile(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), {});
}

uint32_t U32(const TBytes& B, size_t Offset) {
  return B[Offset] | (B[Offset + 1] << 8) | (B[Offset + 2] << 16) | (uint32_t{B[Offset + 3]} << 24);
}
uint16_t U16(const TBytes& B, size_t Offset) {
  return static_cast<uint16_t>(B[Offset] | (B[Offset + 1] << 8));
}

// Where the first byte of Got differs from Want, for a readable failure.
std::string Mismatch(const TBytes& Got, const TBytes& Want) {
  if (Got == Want)
    return "";
  const auto [G, W] = std::mismatch(Got.begin(), Got.end(), Want.begin(), Want.end());
  return "decoded " + std::to_string(Got.size()) + " bytes, want " + std::to_string(Want.size()) +
         "; first difference at byte " + std::to_string(G - Got.begin());
}

// --- MD5 --------------------------------------------------------------------------------

std::string Hex(const std::array<uint8_t, 16>& Digest) {
  std::string Out;
  char Two[3];
  for (uint8_t Byte : Digest) {
    std::snprintf(Two, sizeof Two, "%02x", Byte);
    Out += Two;
  }
  return Out;
}

std::string Md5Of(const std::string& Text, size_t Piece) {
  mac::TMd5 Md5;
  for (size_t Pos = 0; Pos < Text.size(); Pos += Piece)
    Md5.Update(
        {reinterpret_cast<const uint8_t*>(Text.data()) + Pos, std::min(Piece, Text.size() - Pos)});
  return Hex(Md5.Final());
}

TEST(MACDllMd5, GivesTheRfc1321Digests) {
  const struct {
    std::string Text, Digest;
  } Cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& Case : Cases)
    for (size_t Piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1} << 20})
      EXPECT_EQ(Md5Of(Case.Text, Piece), Case.Digest)
          << Case.Text.substr(0, 20) << " in pieces of " << Piece;
}

// --- NN filters --------------------------------------------------------------------------

// The NN filter step by step as the format describes it, one tap at a time.
class TPlainNNFilter {
public:
  TPlainNNFilter(int Order, int Shift)
      : FShift(Shift), FCoef(Order), FInput(Order), FDelta(Order) {}
  int32_t Compress(int32_t Input) {
    uint32_t Dot = 0;
    for (size_t i = 0; i < FCoef.size(); ++i)
      Dot += static_cast<uint32_t>(FInput[i] * FCoef[i]);
    const int64_t Rounded = static_cast<int32_t>(Dot) + (int64_t{1} << (FShift - 1));
    const auto Output = static_cast<int32_t>(static_cast<uint32_t>(Input) -
                                             static_cast<uint32_t>(Rounded >> FShift));
    for (size_t i = 0; i < FCoef.size(); ++i)
      FCoef[i] = static_cast<int16_t>(Output > 0   ? FCoef[i] - FDelta[i]
                                      : Output < 0 ? FCoef[i] + FDelta[i]
                                                   : FCoef[i]);
    FInput.erase(FInput.begin());
    FInput.push_back(static_cast<int16_t>(std::clamp(Input, -32768, 32767)));
    const int32_t Magnitude = std::abs(Input);
    const int16_t Step = Magnitude == 0                   ? 0
                         : Magnitude > 3 * FAverage       ? 32
                         : Magnitude > (4 * FAverage) / 3 ? 16
                                                          : 8;
    FDelta.erase(FDelta.begin());
    FDelta.push_back(static_cast<int16_t>(Input < 0 ? Step : -Step));
    FAverage += (Magnitude - FAverage) / 16;
    for (size_t Back : {2, 3, 9})
      FDelta[FDelta.size() - Back] = static_cast<int16_t>(FDelta[FDelta.size() - Back] >> 1);
    return Output;
  }

private:
  int FShift;
  int32_t FAverage = 0;
  std::vector<int16_t> FCoef, FInput, FDelta;
};

// Both vector paths against the plain filter, over quiet and over saturating input, for more
// samples than the history window holds.
TEST(MACDllNNFilter, VectorLoopsMatchThePlainFilter) {
  const struct {
    int Order, Shift;
  } Filters[] = {{16, 11}, {32, 10}, {64, 11}, {256, 13}, {1280, 15}};
  std::vector<bool> Paths = {false};
  if (mac::HasAvx2())
    Paths.push_back(true);
  for (const auto& Filter : Filters)
    for (bool Avx2 : Paths) {
      mac::TNNFilter Vector(Filter.Order, Filter.Shift, Avx2);
      TPlainNNFilter Plain(Filter.Order, Filter.Shift);
      std::mt19937 Random(Filter.Order);
      std::normal_distribution<double> Quiet(0, 300), Loud(0, 60000);
      const TChannel Tone = Music(6000, 1);
      for (int t = 0; t < 6000; ++t) {
        const int32_t Input = t < 2000   ? static_cast<int32_t>(Quiet(Random))
                              : t < 4000 ? static_cast<int32_t>(Loud(Random))
                                         : Tone[t];
        const int32_t Want = Plain.Compress(Input);
        ASSERT_EQ(Vector.Compress(Input), Want)
            << "order " << Filter.Order << (Avx2 ? " AVX2" : " SSE2") << " at sample " << t;
      }
    }
}

// --- Round trips through ffmpeg -----------------------------------------------------------

struct TSignalCase {
  const char* Name;
  int Channels;
  // Blocks: Frames whole frames of the level plus Extra.
  uint32_t Frames;
  uint32_t Extra;
  // The interleaved PCM of that many blocks.
  TBytes (*Make)(size_t Blocks);
};

const TSignalCase SignalCases[] = {
    {"Silence", 2, 0, 100000,
     [](size_t N) {
       const TChannel S = Silence(N);
       return Interleave(S, &S);
     }},
    {"PinkNoise", 2, 0, 100000,
     [](size_t N) {
       const TChannel L = PinkNoise(N, 1, 8000), R = PinkNoise(N, 2, 8000);
       return Interleave(L, &R);
     }},
    {"Music", 2, 0, 132300,
     [](size_t N) {
       const TChannel L = Music(N, 1), R = Music(N, 2);
       return Interleave(L, &R);
     }},
    {"Mono", 1, 0, 132300, [](size_t N) { return Interleave(Music(N, 3), nullptr); }},
    {"PseudoStereo", 2, 0, 100000,
     [](size_t N) {
       const TChannel M = Music(N, 4);
       return Interleave(M, &M);
     }},
    {"LeftSilent", 2, 0, 100000,
     [](size_t N) {
       const TChannel S = Silence(N), M = Music(N, 5);
       return Interleave(S, &M);
     }},
    {"RightSilent", 2, 0, 100000,
     [](size_t N) {
       const TChannel S = Silence(N), M = Music(N, 6);
       return Interleave(M, &S);
     }},
    {"LoudNoise", 2, 0, 50000,
     [](size_t N) {
       const TChannel L = LoudNoise(N, 7), R = LoudNoise(N, 8);
       return Interleave(L, &R);
     }},
    {"OneBlock", 2, 0, 1,
     [](size_t N) {
       const TChannel L(N, 1234), R(N, -4321);
       return Interleave(L, &R);
     }},
    {"SevenBlocks", 2, 0, 7,
     [](size_t N) {
       const TChannel L = Music(N, 9), R = LoudNoise(N, 10);
       return Interleave(L, &R);
     }},
    {"FramePlusSome", 2, 1, 12345,
     [](size_t N) {
       const TChannel L = Music(N, 11), R = Music(N, 12);
       return Interleave(L, &R);
     }},
    {"TwoFrames", 2, 2, 0,
     [](size_t N) {
       const TChannel L = Music(N, 13), R = PinkNoise(N, 14, 3000);
       return Interleave(L, &R);
     }},
    // Frames of every kind in one file: silent, then pseudo-stereo, then stereo.
    {"MixedFrames", 2, 2, 5000,
     [](size_t N) {
       TChannel L = Music(N, 15), R = L;
       const size_t Third = N / 3;
       std::fill(L.begin(), L.begin() + Third, 0);
       std::fill(R.begin(), R.begin() + Third, 0);
       const TChannel Other = Music(N, 16);
       std::copy(Other.begin() + 2 * Third, Other.end(), R.begin() + 2 * Third);
       return Interleave(L, &R);
     }},
    // A mono file with a silent frame between sound.
    {"MonoSilentFrame", 1, 2, 3000,
     [](size_t N) {
       TChannel M = Music(N, 17);
       std::fill(M.begin() + N / 3, M.begin() + 2 * N / 3, 0);
       return Interleave(M, nullptr);
     }},
};

class MACDllRoundTrip : public testing::TestWithParam<std::tuple<size_t, int>> {
protected:
  TTempDir FDir;
};

TEST_P(MACDllRoundTrip, FfmpegDecodesTheInputExactly) {
  const auto [Index, Level] = GetParam();
  const TSignalCase& Case = SignalCases[Index];
  const size_t Blocks = size_t{Case.Frames} * BlocksPerFrame(Level) + Case.Extra;
  const TBytes Pcm = Case.Make(Blocks);
  const std::string File = FDir.File("x.ape");
  ASSERT_EQ(Compress(File, Pcm, Case.Channels, Level), MAC_ERROR_SUCCESS);
  const TBytes Decoded = Decode(File);
  EXPECT_TRUE(Decoded == Pcm) << Mismatch(Decoded, Pcm);

  // The header describes the frames written.
  const TBytes Ape = ReadFile(File);
  ASSERT_GE(Ape.size(), 76u);
  const uint32_t PerFrame = BlocksPerFrame(Level);
  const uint32_t Frames = static_cast<uint32_t>((Blocks + PerFrame - 1) / PerFrame);
  EXPECT_EQ(U16(Ape, 52), Level);
  EXPECT_EQ(U16(Ape, 54), 0x20);
  EXPECT_EQ(U32(Ape, 56), PerFrame);
  EXPECT_EQ(U32(Ape, 60), Blocks - size_t{Frames - 1} * PerFrame);
  EXPECT_EQ(U32(Ape, 64), Frames);
  EXPECT_EQ(U16(Ape, 70), Case.Channels);
}

INSTANTIATE_TEST_SUITE_P(Cases, MACDllRoundTrip,
                         testing::Combine(testing::Range<size_t>(0, std::size(SignalCases)),
                                          testing::ValuesIn(Levels)),
                         [](const auto& Info) {
                           return std::string(SignalCases[std::get<0>(Info.param)].Name) + "_" +
                                  std::to_string(std::get<1>(Info.param));
                         });

// --- The file's structure ----------------------------------------------------------------

class MACDllFile : public testing::Test {
protected:
  TTempDir FDir;
  const std::string FFile = FDir.File("x.ape");
};

// The descriptor's MD5 covers the WAV header, the frame data, the WAV tail, the header and
// the seek table, in that order; the seek table points at the frames.
TEST_F(MACDllFile, DescriptorCarriesTheMd5AndSeekTableOfTheFile) {
  const TChannel L = Music(2 * 73728 + 999, 20), R = Music(2 * 73728 + 999, 21);
  const TBytes Pcm = Interleave(L, &R);
  TBytes WavHeader(44, 0);
  std::memcpy(WavHeader.data(), "RIFF", 4);
  const TBytes Tail = {'t', 'a', 'i', 'l', 0, 1, 2, 3, 4, 5};

  TCompressorPtr Compressor = Create();
  const WAVEFORMATEX F = Format(2);
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), FFile.c_str(), &F,
                                static_cast<int32_t>(Pcm.size()), 2000, WavHeader.data(),
                                static_cast<int32_t>(WavHeader.size())),
            MAC_ERROR_SUCCESS);
  ASSERT_EQ(c_APECompress_AddData(Handle(Compressor), Pcm.data(), static_cast<int32_t>(Pcm.size())),
            MAC_ERROR_SUCCESS);
  ASSERT_EQ(c_APECompress_Finish(Handle(Compressor), Tail.data(), 10, 10), MAC_ERROR_SUCCESS);

  const TBytes Ape = ReadFile(FFile);
  ASSERT_GE(Ape.size(), 76u);
  EXPECT_EQ(std::string(Ape.begin(), Ape.begin() + 4), "MAC ");
  EXPECT_EQ(U16(Ape, 4), 3990);
  EXPECT_EQ(U32(Ape, 8), 52u);
  EXPECT_EQ(U32(Ape, 12), 24u);
  const uint32_t SeekBytes = U32(Ape, 16), HeaderData = U32(Ape, 20), FrameData = U32(Ape, 24);
  EXPECT_EQ(SeekBytes, 4u * 3); // sized from maxAudioBytes: three frames
  EXPECT_EQ(HeaderData, 44u);
  EXPECT_EQ(U32(Ape, 28), 0u);
  EXPECT_EQ(U32(Ape, 32), 10u);
  EXPECT_EQ(FrameData % 4, 0u);
  EXPECT_EQ(U16(Ape, 54), 0); // a WAV header is stored
  EXPECT_EQ(U32(Ape, 64), 3u);
  const size_t FirstFrame = 76 + SeekBytes + HeaderData;
  ASSERT_EQ(Ape.size(), FirstFrame + FrameData + Tail.size());
  EXPECT_TRUE(std::equal(WavHeader.begin(), WavHeader.end(), Ape.begin() + 76 + SeekBytes));
  EXPECT_TRUE(std::equal(Tail.begin(), Tail.end(), Ape.end() - Tail.size()));
  EXPECT_EQ(U32(Ape, 76), FirstFrame);
  EXPECT_GT(U32(Ape, 80), U32(Ape, 76));
  EXPECT_GT(U32(Ape, 84), U32(Ape, 80));

  mac::TMd5 Md5;
  Md5.Update({Ape.data() + 76 + SeekBytes, HeaderData});
  Md5.Update({Ape.data() + FirstFrame, FrameData + Tail.size()});
  Md5.Update({Ape.data() + 52, 24});
  Md5.Update({Ape.data() + 76, SeekBytes});
  const std::array<uint8_t, 16> Digest = Md5.Final();
  EXPECT_TRUE(std::equal(Digest.begin(), Digest.end(), Ape.begin() + 36));

  const TBytes Decoded = Decode(FFile);
  EXPECT_TRUE(Decoded == Pcm) << Mismatch(Decoded, Pcm);
}

// The buffer lent in pieces that split blocks, and data added without processing, still make
// the same file as the writer's chunks.
TEST_F(MACDllFile, BufferFedInOddPiecesGivesTheSameFile) {
  const TChannel L = Music(80000, 22), R = Music(80000, 23);
  const TBytes Pcm = Interleave(L, &R);
  ASSERT_EQ(Compress(FFile, Pcm, 2, 3000), MAC_ERROR_SUCCESS);
  const TBytes Reference = ReadFile(FFile);
  for (int32_t Chunk : {3, 4099, 300001}) {
    const std::string Other = FDir.File("odd" + std::to_string(Chunk) + ".ape");
    ASSERT_EQ(Compress(Other, Pcm, 2, 3000, Chunk), MAC_ERROR_SUCCESS);
    EXPECT_TRUE(ReadFile(Other) == Reference) << "pieces of " << Chunk;
  }

  // Filling the whole buffer without processing: the next unlock with processing codes it.
  const std::string Unprocessed = FDir.File("unprocessed.ape");
  TCompressorPtr Compressor = Create();
  const WAVEFORMATEX F = Format(2);
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), Unprocessed.c_str(), &F, -1, 3000, nullptr, 0),
            MAC_ERROR_SUCCESS);
  for (size_t Pos = 0; Pos < Pcm.size();) {
    int32_t Available = 0;
    uint8_t* Buffer = c_APECompress_LockBuffer(Handle(Compressor), &Available);
    ASSERT_NE(Buffer, nullptr);
    if (Available == 0) {
      ASSERT_EQ(c_APECompress_UnlockBuffer(Handle(Compressor), 0, 1), MAC_ERROR_SUCCESS);
      continue;
    }
    const size_t Count = std::min<size_t>(Available, Pcm.size() - Pos);
    std::memcpy(Buffer, Pcm.data() + Pos, Count);
    Pos += Count;
    ASSERT_EQ(c_APECompress_UnlockBuffer(Handle(Compressor), static_cast<int32_t>(Count), 0),
              MAC_ERROR_SUCCESS);
  }
  ASSERT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0), MAC_ERROR_SUCCESS);
  EXPECT_TRUE(ReadFile(Unprocessed) == Reference);
}

TEST_F(MACDllFile, MusicAtLevel2000IsWellBelowItsPcmSize) {
  const size_t Blocks = 10 * SampleRate;
  const TChannel L = Music(Blocks, 24), R = Music(Blocks, 25);
  const TBytes Pcm = Interleave(L, &R);
  ASSERT_EQ(Compress(FFile, Pcm, 2, 2000), MAC_ERROR_SUCCESS);
  const size_t Wav = Pcm.size() + 44;
  const size_t Ape = ReadFile(FFile).size();
  EXPECT_LT(Ape, Wav * 6 / 10) << Ape << " bytes for " << Wav << " bytes of WAV";
}

// --- Tags --------------------------------------------------------------------------------

// The format tags ffprobe reads, keys in lower case.
std::map<std::string, std::string> ProbeTags(const std::string& File) {
  const auto [Out, Status] = Run("ffprobe -v error -show_entries format_tags "
                                 "-of default=noprint_wrappers=1 '" +
                                 File + "'");
  EXPECT_EQ(Status, 0);
  std::map<std::string, std::string> Tags;
  const std::string Text(Out.begin(), Out.end());
  size_t Pos = 0;
  for (size_t End; (End = Text.find('\n', Pos)) != std::string::npos; Pos = End + 1) {
    const std::string Line = Text.substr(Pos, End - Pos);
    const size_t Equals = Line.find('=');
    if (Line.rfind("TAG:", 0) != 0 || Equals == std::string::npos)
      continue;
    std::string Key = Line.substr(4, Equals - 4);
    std::transform(Key.begin(), Key.end(), Key.begin(), ::tolower);
    Tags[Key] = Line.substr(Equals + 1);
  }
  return Tags;
}

TEST_F(MACDllFile, TagFileSimpleWritesAnApeTagAndReplacesIt) {
  const TChannel M = Music(20000, 26);
  const TBytes Pcm = Interleave(M, &M);
  ASSERT_EQ(Compress(FFile, Pcm, 2, 2000), MAC_ERROR_SUCCESS);
  const size_t Untagged = ReadFile(FFile).size();

  ASSERT_EQ(TagFileSimple(FFile.c_str(), "Motörhead", "Ace of Spades", "日本語のタイトル",
                          "a comment", "Rock", "1980", "1", 1, 0),
            MAC_ERROR_SUCCESS);
  const std::map<std::string, std::string> First = {{"artist", "Motörhead"},
                                                    {"album", "Ace of Spades"},
                                                    {"title", "日本語のタイトル"},
                                                    {"comment", "a comment"},
                                                    {"genre", "Rock"},
                                                    {"year", "1980"},
                                                    {"track", "1"}};
  EXPECT_EQ(ProbeTags(FFile), First);
  const TBytes Tagged = ReadFile(FFile);
  ASSERT_GT(Tagged.size(), Untagged + 64);
  EXPECT_EQ(std::string(Tagged.end() - 32, Tagged.end() - 24), "APETAGEX");

  // A second call replaces the tag; empty values leave their fields out.
  ASSERT_EQ(
      TagFileSimple(FFile.c_str(), "Ünïcode Ärtist", "", "Second", "", "", "2001", "12", 1, 0),
      MAC_ERROR_SUCCESS);
  const std::map<std::string, std::string> Second = {
      {"artist", "Ünïcode Ärtist"}, {"title", "Second"}, {"year", "2001"}, {"track", "12"}};
  EXPECT_EQ(ProbeTags(FFile), Second);
  const TBytes Retagged = ReadFile(FFile);
  EXPECT_TRUE(std::equal(Tagged.begin(), Tagged.begin() + Untagged, Retagged.begin()));

  // Without clearing, the fields already there stay unless a value replaces or removes them.
  ASSERT_EQ(
      TagFileSimple(FFile.c_str(), "Third", nullptr, "Second", nullptr, "Jazz", "2001", "12", 0, 0),
      MAC_ERROR_SUCCESS);
  const std::map<std::string, std::string> Third = {{"artist", "Third"},
                                                    {"title", "Second"},
                                                    {"genre", "Jazz"},
                                                    {"year", "2001"},
                                                    {"track", "12"}};
  EXPECT_EQ(ProbeTags(FFile), Third);

  const TBytes Decoded = Decode(FFile);
  EXPECT_TRUE(Decoded == Pcm) << Mismatch(Decoded, Pcm);

  // No field left: no tag, the file as it was.
  ASSERT_EQ(TagFileSimple(FFile.c_str(), "", "", "", "", "", "", "", 1, 0), MAC_ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(FFile).size(), Untagged);
}

TEST_F(MACDllFile, TagFileSimpleCanWriteAnId3v1TagInstead) {
  const TChannel M = Music(5000, 27);
  ASSERT_EQ(Compress(FFile, Interleave(M, &M), 2, 1000), MAC_ERROR_SUCCESS);
  ASSERT_EQ(TagFileSimple(FFile.c_str(), "Artist", "Album", "Title", "", "", "1999", "5", 1, 0),
            MAC_ERROR_SUCCESS);
  const size_t ApeTagged = ReadFile(FFile).size();
  ASSERT_EQ(TagFileSimple(FFile.c_str(), "Artist", "Album", "Café", "", "", "1999", "5", 1, 1),
            MAC_ERROR_SUCCESS);
  const TBytes Tagged = ReadFile(FFile);
  ASSERT_GE(Tagged.size(), 128u);
  const uint8_t* Id3 = Tagged.data() + Tagged.size() - 128;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Id3), 3), "TAG");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Id3 + 3), 4), "Caf\xE9");
  EXPECT_EQ(Id3[7], 0);
  EXPECT_EQ(Id3[126], 5);
  // The APE tag went: the ID3v1 tag follows the audio directly.
  EXPECT_LT(Tagged.size(), ApeTagged);
}

// --- Errors ------------------------------------------------------------------------------

TEST(MACDllErrors, StartRefusesBadArguments) {
  TTempDir Dir;
  const std::string File = Dir.File("x.ape");
  const WAVEFORMATEX Good = Format(2);
  const struct {
    const char* What;
    void (*Change)(WAVEFORMATEX&);
    const char* File;
    int32_t Level, MaxBytes, HeaderBytes;
    int32_t Expected;
  } Cases[] = {
      {"24 bits",
       [](WAVEFORMATEX& F) {
         F.wBitsPerSample = 24;
         F.nBlockAlign = 6;
       },
       "", 2000, -1, 0, MAC_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH},
      {"3 channels",
       [](WAVEFORMATEX& F) {
         F.nChannels = 3;
         F.nBlockAlign = 6;
       },
       "", 2000, -1, 0, MAC_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT},
      {"0 channels", [](WAVEFORMATEX& F) { F.nChannels = 0; }, "", 2000, -1, 0,
       MAC_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT},
      {"float", [](WAVEFORMATEX& F) { F.wFormatTag = 3; }, "", 2000, -1, 0,
       MAC_ERROR_INVALID_INPUT_FILE},
      {"rate 0", [](WAVEFORMATEX& F) { F.nSamplesPerSec = 0; }, "", 2000, -1, 0,
       MAC_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE},
      {"level 2500", [](WAVEFORMATEX&) {}, "", 2500, -1, 0, MAC_ERROR_BAD_PARAMETER},
      {"level 0", [](WAVEFORMATEX&) {}, "", 0, -1, 0, MAC_ERROR_BAD_PARAMETER},
      {"level 6000", [](WAVEFORMATEX&) {}, "", 6000, -1, 0, MAC_ERROR_BAD_PARAMETER},
      {"max bytes -2", [](WAVEFORMATEX&) {}, "", 2000, -2, 0, MAC_ERROR_BAD_PARAMETER},
      {"header bytes without data", [](WAVEFORMATEX&) {}, "", 2000, -1, 44,
       MAC_ERROR_BAD_PARAMETER},
      {"no folder", [](WAVEFORMATEX&) {}, "/no/such/folder/x.ape", 2000, -1, 0,
       MAC_ERROR_INVALID_OUTPUT_FILE},
      {"disk full", [](WAVEFORMATEX&) {}, "/dev/full", 2000, -1, 0, MAC_ERROR_IO_WRITE},
  };
  for (const auto& Case : Cases) {
    TCompressorPtr Compressor = Create();
    WAVEFORMATEX F = Good;
    Case.Change(F);
    const std::string Name = *Case.File ? Case.File : File;
    EXPECT_EQ(c_APECompress_Start(Handle(Compressor), Name.c_str(), &F, Case.MaxBytes, Case.Level,
                                  nullptr, Case.HeaderBytes),
              Case.Expected)
        << Case.What;
  }
  TCompressorPtr Compressor = Create();
  EXPECT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), nullptr, -1, 2000, nullptr, 0),
            MAC_ERROR_BAD_PARAMETER);
  EXPECT_EQ(c_APECompress_Start(Handle(Compressor), nullptr, &Good, -1, 2000, nullptr, 0),
            MAC_ERROR_INVALID_OUTPUT_FILE);
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &Good, -1, 2000, nullptr, 0),
            MAC_ERROR_SUCCESS);
  EXPECT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &Good, -1, 2000, nullptr, 0),
            MAC_ERROR_BAD_PARAMETER);
}

TEST(MACDllErrors, UnknownHandlesAreRefused) {
  int Local = 0;
  for (intptr_t Bad : {intptr_t{0}, intptr_t{12345}, reinterpret_cast<intptr_t>(&Local)}) {
    const WAVEFORMATEX F = Format(2);
    EXPECT_EQ(c_APECompress_Start(Bad, "/tmp/never.ape", &F, -1, 2000, nullptr, 0),
              MAC_ERROR_BAD_PARAMETER);
    int32_t Available = 7;
    EXPECT_EQ(c_APECompress_LockBuffer(Bad, &Available), nullptr);
    EXPECT_EQ(Available, 0);
    EXPECT_EQ(c_APECompress_UnlockBuffer(Bad, 0, 1), MAC_ERROR_BAD_PARAMETER);
    EXPECT_EQ(c_APECompress_Finish(Bad, nullptr, 0, 0), MAC_ERROR_BAD_PARAMETER);
    c_APECompress_Destroy(Bad);
  }
  // A destroyed handle is unknown from then on.
  int32_t Error = -1;
  const intptr_t Gone = c_APECompress_Create(&Error);
  c_APECompress_Destroy(Gone);
  EXPECT_EQ(c_APECompress_UnlockBuffer(Gone, 0, 1), MAC_ERROR_BAD_PARAMETER);
}

TEST(MACDllErrors, BufferProtocolIsEnforced) {
  TTempDir Dir;
  const std::string File = Dir.File("x.ape");
  TCompressorPtr Compressor = Create();
  int32_t Available = 7;
  EXPECT_EQ(c_APECompress_LockBuffer(Handle(Compressor), &Available), nullptr) << "not started";
  EXPECT_EQ(Available, 0);
  EXPECT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0), MAC_ERROR_BAD_PARAMETER);

  const WAVEFORMATEX F = Format(1);
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &F, -1, 1000, nullptr, 0),
            MAC_ERROR_SUCCESS);
  EXPECT_EQ(c_APECompress_UnlockBuffer(Handle(Compressor), 0, 1), MAC_ERROR_BAD_PARAMETER)
      << "not locked";
  ASSERT_NE(c_APECompress_LockBuffer(Handle(Compressor), &Available), nullptr);
  EXPECT_EQ(Available, 73728 * 2);
  EXPECT_EQ(c_APECompress_GetBufferBytesAvailable(Handle(Compressor)), 73728 * 2);
  EXPECT_EQ(c_APECompress_LockBuffer(Handle(Compressor), &Available), nullptr) << "locked twice";
  EXPECT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0), MAC_ERROR_BAD_PARAMETER)
      << "finished while locked";
  EXPECT_EQ(c_APECompress_UnlockBuffer(Handle(Compressor), 73728 * 2 + 1, 1),
            MAC_ERROR_BAD_PARAMETER);
  // Nothing was added: there is no frame to write.
  EXPECT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0),
            MAC_ERROR_INPUT_FILE_TOO_SMALL);
  EXPECT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0), MAC_ERROR_BAD_PARAMETER)
      << "finished twice";
  EXPECT_EQ(c_APECompress_LockBuffer(Handle(Compressor), &Available), nullptr) << "finished";
}

// A partial block at the end cannot be coded: the file keeps the whole blocks and Finish says
// the input was not whole.
TEST(MACDllErrors, PartialLastBlockIsDroppedAndReported) {
  TTempDir Dir;
  const std::string File = Dir.File("x.ape");
  const TChannel L = Music(1000, 30), R = Music(1000, 31);
  TBytes Pcm = Interleave(L, &R);
  TCompressorPtr Compressor = Create();
  const WAVEFORMATEX F = Format(2);
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &F, -1, 2000, nullptr, 0),
            MAC_ERROR_SUCCESS);
  Pcm.push_back(1);
  Pcm.push_back(2);
  ASSERT_EQ(c_APECompress_AddData(Handle(Compressor), Pcm.data(), static_cast<int32_t>(Pcm.size())),
            MAC_ERROR_SUCCESS);
  EXPECT_EQ(c_APECompress_Finish(Handle(Compressor), nullptr, 0, 0), MAC_ERROR_BAD_PARAMETER);
  Pcm.resize(Pcm.size() - 2);
  const TBytes Decoded = Decode(File);
  EXPECT_TRUE(Decoded == Pcm) << Mismatch(Decoded, Pcm);
}

TEST(MACDllErrors, MoreDataThanTheSeekTableHoldsIsRefused) {
  TTempDir Dir;
  const std::string File = Dir.File("x.ape");
  TCompressorPtr Compressor = Create();
  const WAVEFORMATEX F = Format(2);
  // Room for one frame only.
  ASSERT_EQ(c_APECompress_Start(Handle(Compressor), File.c_str(), &F, 4 * 73728, 2000, nullptr, 0),
            MAC_ERROR_SUCCESS);
  const TBytes Frame(4 * 73728, 1);
  EXPECT_EQ(c_APECompress_AddData(Handle(Compressor), Frame.data(), 4 * 73728), MAC_ERROR_SUCCESS);
  EXPECT_EQ(c_APECompress_AddData(Handle(Compressor), Frame.data(), 4 * 73728),
            MAC_ERROR_APE_COMPRESS_TOO_MUCH_DATA);
}

TEST(MACDllErrors, OtherCallsRefuseBadArguments) {
  int32_t Error = -1;
  const intptr_t Handle = c_APECompress_Create(&Error);
  EXPECT_NE(Handle, 0);
  EXPECT_EQ(Error, MAC_ERROR_SUCCESS);
  c_APECompress_Destroy(Handle);
  EXPECT_NE(c_APECompress_Create(nullptr), 0) << "the error code is optional";

  WAVEFORMATEX F;
  EXPECT_EQ(FillWaveFormatEx(nullptr, 44100, 16, 2), MAC_ERROR_BAD_PARAMETER);
  EXPECT_EQ(FillWaveFormatEx(&F, 0, 16, 2), MAC_ERROR_BAD_PARAMETER);
  EXPECT_EQ(FillWaveFormatEx(&F, 44100, 12, 2), MAC_ERROR_BAD_PARAMETER);
  EXPECT_EQ(FillWaveFormatEx(&F, 44100, 16, 0), MAC_ERROR_BAD_PARAMETER);
  ASSERT_EQ(FillWaveFormatEx(&F, 48000, 24, 2), MAC_ERROR_SUCCESS);
  EXPECT_EQ(F.wFormatTag, 1);
  EXPECT_EQ(F.nChannels, 2);
  EXPECT_EQ(F.nSamplesPerSec, 48000u);
  EXPECT_EQ(F.nAvgBytesPerSec, 288000u);
  EXPECT_EQ(F.nBlockAlign, 6);
  EXPECT_EQ(F.wBitsPerSample, 24);
  EXPECT_EQ(F.cbSize, 0);

  EXPECT_EQ(TagFileSimple(nullptr, "a", "", "", "", "", "", "", 1, 0), MAC_ERROR_BAD_PARAMETER);
  EXPECT_EQ(TagFileSimple("/no/such/file.ape", "a", "", "", "", "", "", "", 1, 0),
            MAC_ERROR_INVALID_INPUT_FILE);
  EXPECT_EQ(CompressFile("a", "b", 2000, nullptr, nullptr, nullptr), MAC_ERROR_UNDEFINED);
  EXPECT_EQ(GetVersionNumber(), 3990);
}

} // namespace
