#include "platform/WMWriter.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr int Channels = 2;
constexpr int Rate = 44100;
constexpr int Bits = 16;
// 80 ms of CD audio, the writer's sample size.
constexpr uint32_t ChunkBytes = Channels * Bits * Rate / 100;
constexpr uint8_t AsfHeaderStart[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};

struct TPipeCloser {
  void operator()(FILE* Pipe) const { pclose(Pipe); }
};

std::string RunCommand(const std::string& Command) {
  std::unique_ptr<FILE, TPipeCloser> Pipe(popen(Command.c_str(), "r"));
  std::string Out;
  if (!Pipe)
    return Out;
  char Buffer[65536];
  size_t Got;
  while ((Got = fread(Buffer, 1, sizeof Buffer, Pipe.get())) > 0)
    Out.append(Buffer, Got);
  return Out;
}

// "key=value" lines of ffprobe's flat output.
std::map<std::string, std::string> Probe(const std::string& Input, const std::string& Entries) {
  std::map<std::string, std::string> Values;
  std::istringstream Lines(RunCommand("ffprobe -v error -show_entries " + Entries +
                                      " -of default=nw=1 '" + Input + "' 2>&1"));
  for (std::string Line; std::getline(Lines, Line);)
    if (auto Equals = Line.find('='); Equals != std::string::npos)
      Values[Line.substr(0, Equals)] = Line.substr(Equals + 1);
  return Values;
}

std::vector<int16_t> DecodeLeft(const std::string& File) {
  const std::string Raw = RunCommand("ffmpeg -v error -i '" + File + "' -f s16le -ac 2 -");
  std::vector<int16_t> Left(Raw.size() / 4);
  for (size_t I = 0; I < Left.size(); ++I)
    std::memcpy(&Left[I], Raw.data() + I * 4, 2);
  return Left;
}

// Stereo 16-bit frames: a sweep from 200 to 4200 Hz each second over a quiet chord on the left,
// which lines up with its decoded copy at one lag only, and a chord on the right.
std::vector<int16_t> MakePcm(size_t Frames) {
  std::vector<int16_t> Pcm(Frames * Channels);
  for (size_t I = 0; I < Frames; ++I) {
    const double T = static_cast<double>(I) / Rate;
    const double Sweep = std::fmod(T, 1.0);
    const double Left = 0.4 * std::sin(2 * M_PI * (200 + 2000 * Sweep) * Sweep) +
                        0.1 * std::sin(2 * M_PI * 440 * T);
    const double Right = 0.3 * std::sin(2 * M_PI * 550 * T) + 0.2 * std::sin(2 * M_PI * 330 * T);
    Pcm[I * 2] = static_cast<int16_t>(std::lround(Left * 32767));
    Pcm[I * 2 + 1] = static_cast<int16_t>(std::lround(Right * 32767));
  }
  return Pcm;
}

TWaveFormatEx WaveOf(IWMMediaProps* Props, TGuid* Subtype = nullptr) {
  uint32_t Size = 0;
  EXPECT_EQ(Props->GetMediaType(nullptr, &Size), S_OK);
  std::vector<uint64_t> Block((Size + 7) / 8);
  auto* Type = reinterpret_cast<WM_MEDIA_TYPE*>(Block.data());
  EXPECT_EQ(Props->GetMediaType(Type, &Size), S_OK);
  EXPECT_TRUE(Type->formattype == WMFORMAT_WaveFormatEx);
  if (Subtype)
    *Subtype = Type->subtype;
  TWaveFormatEx Wave;
  std::memcpy(&Wave, Type->pbFormat, sizeof Wave);
  return Wave;
}

TWaveFormatEx WaveOf(IWMStreamConfig* Config) {
  TWMPtr<IWMMediaProps> Props;
  EXPECT_EQ(Config->QueryMediaProps(Props.Put()), S_OK);
  return WaveOf(Props.Get());
}

// The writer's choice of format: the closest bit rate among formats of the input's channels
// and sample width, and then the closest sample rate.
TWMPtr<IWMStreamConfig> ChooseFormat(int C, int B, int R, int32_t Target, bool Vbr) {
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMCodecInfo3> Info;
  WMCreateProfileManager(Manager.Put());
  Manager->QueryCodecInfo3(Info.Put());
  TWMPtr<IWMStreamConfig> Best;
  int32_t BestBitrate = 0, BestRate = 0, Current = 0;
  uint32_t Codecs = 0;
  Info->GetCodecInfoCount(WMMEDIATYPE_Audio, &Codecs);
  for (uint32_t Codec = 0; Codec < Codecs; ++Codec) {
    if (Vbr) {
      const uint32_t True = 0xFFFFFFFF;
      if (Info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, Codec, u"_VBRENABLED", WMT_TYPE_BOOL,
                                           reinterpret_cast<const uint8_t*>(&True), 4) != S_OK)
        continue;
    }
    uint32_t Formats = 0;
    Info->GetCodecFormatCount(WMMEDIATYPE_Audio, Codec, &Formats);
    for (uint32_t Format = 0; Format < Formats; ++Format) {
      TWMPtr<IWMStreamConfig> Config;
      if (Info->GetCodecFormat(WMMEDIATYPE_Audio, Codec, Format, Config.Put()) != S_OK)
        break;
      const TWaveFormatEx Wave = WaveOf(Config.Get());
      uint32_t Bitrate = 0;
      Config->GetBitrate(&Bitrate);
      Current = static_cast<int32_t>(Bitrate);
      if (!(std::abs(Current - Target) < std::abs(BestBitrate - Target)))
        continue;
      if (Wave.Channels == C && Wave.BitsPerSample == B &&
          std::abs(static_cast<int32_t>(Wave.SamplesPerSec) - R) <= std::abs(BestRate - R)) {
        BestBitrate = Current;
        BestRate = static_cast<int32_t>(Wave.SamplesPerSec);
        Best = Config;
      }
    }
  }
  return Best;
}

struct TAttributeCase {
  const char16_t* Name;
  std::u16string Value;
  const char* ProbeKey;
  const char* Expected;
};

struct TWriteResult {
  HRESULT Begin = S_OK;
  HRESULT Write = S_OK;
  HRESULT End = S_OK;
  uint32_t ChosenBitrate = 0;
  // What the file sink gives for a failed write.
  int WriteError = 0;
};

// Builds the one-stream profile on the chosen format, sets up the PCM input and the attributes
// and begins, as the writer does.
HRESULT BeginStream(IWMWriter* Writer, int32_t Target,
                    const std::vector<TAttributeCase>& Attributes,
                    uint32_t* ChosenBitrate = nullptr) {
  TWMPtr<IWMStreamConfig> Config = ChooseFormat(Channels, Bits, Rate, Target, false);
  if (!Config)
    return WM_E_INVALIDFORMAT;
  if (ChosenBitrate)
    Config->GetBitrate(ChosenBitrate);
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMProfile> Profile;
  WMCreateProfileManager(Manager.Put());
  EXPECT_EQ(Manager->CreateEmptyProfile(WMT_VER_9_0, Profile.Put()), S_OK);
  Config->SetStreamNumber(1);
  Config->SetStreamName(u"NAAudioStream");
  Config->SetConnectionName(u"NAAudioConnection");
  EXPECT_EQ(Profile->AddStream(Config.Get()), S_OK);
  EXPECT_EQ(Writer->SetProfile(Profile.Get()), S_OK);
  uint32_t Inputs = 0;
  Writer->GetInputCount(&Inputs);
  EXPECT_EQ(Inputs, 1u);
  TWMPtr<IWMInputMediaProps> Props;
  EXPECT_EQ(Writer->GetInputProps(0, Props.Put()), S_OK);
  uint32_t Size = 0;
  Props->GetMediaType(nullptr, &Size);
  std::vector<uint64_t> Block((Size + 7) / 8);
  auto* Type = reinterpret_cast<WM_MEDIA_TYPE*>(Block.data());
  Props->GetMediaType(Type, &Size);
  EXPECT_TRUE(Type->majortype == WMMEDIATYPE_Audio);
  TWaveFormatEx Wave;
  std::memcpy(&Wave, Type->pbFormat, sizeof Wave);
  Wave.FormatTag = WAVE_FORMAT_PCM;
  Wave.Channels = Channels;
  Wave.SamplesPerSec = Rate;
  Wave.BlockAlign = Bits * Channels / 8;
  Wave.AvgBytesPerSec = Wave.BlockAlign * Rate;
  Wave.BitsPerSample = Bits;
  std::memcpy(Type->pbFormat, &Wave, sizeof Wave);
  Props->SetMediaType(Type);
  EXPECT_EQ(Writer->SetInputProps(0, Props.Get()), S_OK);
  TWMPtr<IWMHeaderInfo> Header;
  Writer->QueryHeaderInfo(Header.Put());
  for (const auto& Attribute : Attributes)
    EXPECT_EQ(Header->SetAttribute(0, Attribute.Name, WMT_TYPE_STRING,
                                   reinterpret_cast<const uint8_t*>(Attribute.Value.data()),
                                   static_cast<uint16_t>(Attribute.Value.size() * 2)),
              S_OK);
  return Writer->BeginWriting();
}

// One sample of up to ChunkBytes, stamped with the time at its end in 100-ns units.
HRESULT WriteChunk(IWMWriter* Writer, const uint8_t* Bytes, uint32_t Size, uint64_t& Time) {
  TWMPtr<INSSBuffer> Sample;
  if (HRESULT Result = Writer->AllocateSample(Size, Sample.Put()))
    return Result;
  uint8_t* Buffer = nullptr;
  Sample->GetBuffer(&Buffer);
  if (Size)
    std::memcpy(Buffer, Bytes, Size);
  Sample->SetLength(Size);
  Time += static_cast<uint64_t>(std::llrint(Size / double(Rate * Channels * 2) / 0.0000001));
  return Writer->WriteSample(0, Time, 0, Sample.Get());
}

TWriteResult WriteFile(const std::string& File, const std::vector<int16_t>& Pcm, int32_t Target,
                       const std::vector<TAttributeCase>& Attributes = {}) {
  TWriteResult Result;
  TWMPtr<IWMWriterFileSink> Sink;
  TWMPtr<IWMWriter> Writer;
  TWMPtr<IWMWriterAdvanced> Advanced;
  EXPECT_EQ(WMCreateWriterFileSink(Sink.Put()), S_OK);
  EXPECT_EQ(WMCreateWriter(nullptr, Writer.Put()), S_OK);
  Writer->QueryWriterAdvanced(Advanced.Put());
  Advanced->AddSink(Sink.Get());
  const std::u16string Name(File.begin(), File.end());
  EXPECT_EQ(Sink->Open(Name.c_str()), S_OK);
  Result.Begin = BeginStream(Writer.Get(), Target, Attributes, &Result.ChosenBitrate);
  if (Result.Begin)
    return Result;
  const auto* Bytes = reinterpret_cast<const uint8_t*>(Pcm.data());
  const size_t Total = Pcm.size() * 2;
  uint64_t Time = 0;
  for (size_t Done = 0; Done < Total && !Result.Write; Done += ChunkBytes)
    Result.Write =
        WriteChunk(Writer.Get(), Bytes + Done,
                   static_cast<uint32_t>(std::min<size_t>(ChunkBytes, Total - Done)), Time);
  Result.End = Writer->EndWriting();
  Result.WriteError = Sink->GetWriteError();
  return Result;
}

// Where the source's left channel sits in the decoded one: the lag of the best correlation,
// from -MaxLag (the decoder starts late) to MaxLag (it starts with the codec's delay).
long FindLag(const std::vector<int16_t>& Decoded, const std::vector<int16_t>& Pcm, long MaxLag) {
  const long Frames = std::min<long>(static_cast<long>(Pcm.size() / 2), 8192);
  long BestLag = 0;
  double Best = -1e300;
  for (long Lag = -MaxLag; Lag <= MaxLag; ++Lag) {
    double Sum = 0;
    for (long I = std::max(0L, -Lag); I < Frames && I + Lag < static_cast<long>(Decoded.size());
         ++I)
      Sum += double(Decoded[I + Lag]) * Pcm[I * 2];
    if (Sum > Best) {
      Best = Sum;
      BestLag = Lag;
    }
  }
  return BestLag;
}

// Signal-to-noise ratio in dB of the decoded left channel against the source's, over Frames
// frames from First; a sample the decoder lacks counts as silence.
double Snr(const std::vector<int16_t>& Decoded, long Lag, const std::vector<int16_t>& Pcm,
           size_t First, size_t Frames) {
  double Signal = 0, Noise = 0;
  for (size_t I = First; I < First + Frames; ++I) {
    const double Source = Pcm[I * 2];
    const long At = static_cast<long>(I) + Lag;
    const bool Present = At >= 0 && At < static_cast<long>(Decoded.size());
    const double Error = (Present ? Decoded[At] : 0) - Source;
    Signal += Source * Source;
    Noise += Error * Error;
  }
  return 10 * std::log10(Signal / std::max(Noise, 1.0));
}

TEST(WMWriterCodecInfo, ListsEachWmaCodecWithItsFormats) {
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMCodecInfo3> Info;
  ASSERT_EQ(WMCreateProfileManager(Manager.Put()), S_OK);
  ASSERT_EQ(Manager->QueryCodecInfo3(Info.Put()), S_OK);
  uint32_t Codecs = 0;
  ASSERT_EQ(Info->GetCodecInfoCount(WMMEDIATYPE_Audio, &Codecs), S_OK);
  EXPECT_EQ(Codecs, 2u);
  // 7 sample rates x 2 channel counts x 10 bit rates from 32 to 320 kb/s.
  for (uint32_t Codec = 0; Codec < Codecs; ++Codec) {
    uint32_t Formats = 0;
    ASSERT_EQ(Info->GetCodecFormatCount(WMMEDIATYPE_Audio, Codec, &Formats), S_OK);
    EXPECT_EQ(Formats, 140u);
    TWMPtr<IWMStreamConfig> Config;
    EXPECT_EQ(Info->GetCodecFormat(WMMEDIATYPE_Audio, Codec, Formats, Config.Put()),
              WM_E_INVALIDARG);
  }
  uint32_t None = 1;
  EXPECT_EQ(Info->GetCodecInfoCount(WMFORMAT_WaveFormatEx, &None), S_OK);
  EXPECT_EQ(None, 0u);
  EXPECT_EQ(Info->GetCodecFormatCount(WMMEDIATYPE_Audio, Codecs, &None), WM_E_INVALIDARG);
}

// The bit rate is the stream's own: block size x 8 x rate / frame length.
TEST(WMWriterCodecInfo, GivesEachFormatItsExactBitrate) {
  struct TCase {
    uint32_t Codec;
    uint32_t Rate;
    uint16_t Channels;
    uint32_t Bitrate;
    uint16_t Tag;
    uint16_t BlockAlign;
  } Cases[] = {
      {0, 44100, 2, 255987, WAVE_FORMAT_WMAUDIO2, 1486}, // 256 kb/s
      {0, 44100, 2, 127993, WAVE_FORMAT_WMAUDIO2, 743},  // 128 kb/s
      {0, 44100, 2, 319897, WAVE_FORMAT_WMAUDIO2, 1857}, // 320 kb/s
      {0, 48000, 1, 63938, WAVE_FORMAT_WMAUDIO2, 341},   // 64 kb/s
      {0, 32000, 2, 256000, WAVE_FORMAT_WMAUDIO2, 2048}, // divides evenly
      {0, 8000, 1, 32000, WAVE_FORMAT_WMAUDIO2, 256},    // 512-sample frames
      {1, 44100, 2, 191904, WAVE_FORMAT_WMAUDIO1, 1114}, // wmav1, 192 kb/s
      {1, 32000, 2, 96000, WAVE_FORMAT_WMAUDIO1, 384},   // wmav1 uses 1024 samples here
  };
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMCodecInfo3> Info;
  WMCreateProfileManager(Manager.Put());
  Manager->QueryCodecInfo3(Info.Put());
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message()
                 << C.Codec << " " << C.Rate << " " << C.Channels << " " << C.Bitrate);
    uint32_t Formats = 0;
    Info->GetCodecFormatCount(WMMEDIATYPE_Audio, C.Codec, &Formats);
    bool Found = false;
    for (uint32_t F = 0; F < Formats && !Found; ++F) {
      TWMPtr<IWMStreamConfig> Config;
      ASSERT_EQ(Info->GetCodecFormat(WMMEDIATYPE_Audio, C.Codec, F, Config.Put()), S_OK);
      uint32_t Bitrate = 0;
      ASSERT_EQ(Config->GetBitrate(&Bitrate), S_OK);
      TWMPtr<IWMMediaProps> Props;
      Config->QueryMediaProps(Props.Put());
      TGuid Subtype;
      const TWaveFormatEx Wave = WaveOf(Props.Get(), &Subtype);
      if (Wave.SamplesPerSec != C.Rate || Wave.Channels != C.Channels || Bitrate != C.Bitrate)
        continue;
      Found = true;
      EXPECT_EQ(Wave.FormatTag, C.Tag);
      EXPECT_EQ(Subtype.D1, C.Tag);
      EXPECT_EQ(Wave.BlockAlign, C.BlockAlign);
      EXPECT_EQ(Wave.BitsPerSample, 16);
      EXPECT_EQ(Wave.AvgBytesPerSec, (C.Bitrate + 4) / 8);
    }
    EXPECT_TRUE(Found);
  }
}

// FFmpeg has no VBR or lossless WMA encoder: the writer's VBR and lossless choices find none.
TEST(WMWriterCodecInfo, RefusesVbrEnumeration) {
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMCodecInfo3> Info;
  WMCreateProfileManager(Manager.Put());
  Manager->QueryCodecInfo3(Info.Put());
  const uint32_t True = 0xFFFFFFFF, False = 0;
  for (uint32_t Codec = 0; Codec < 2; ++Codec) {
    EXPECT_EQ(Info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, Codec, u"_VBRENABLED",
                                               WMT_TYPE_BOOL,
                                               reinterpret_cast<const uint8_t*>(&True), 4),
              WM_E_UNSUPPORTED);
    EXPECT_EQ(Info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, Codec, u"_VBRENABLED",
                                               WMT_TYPE_BOOL,
                                               reinterpret_cast<const uint8_t*>(&False), 4),
              S_OK);
    WMT_ATTR_DATATYPE Type;
    uint32_t Quality = 0, Size = 4;
    EXPECT_EQ(Info->GetCodecFormatProp(WMMEDIATYPE_Audio, Codec, 0, u"_VBRQUALITY", &Type,
                                       reinterpret_cast<uint8_t*>(&Quality), &Size),
              WM_E_UNSUPPORTED);
    uint32_t Vbr = 1;
    EXPECT_EQ(Info->GetCodecFormatProp(WMMEDIATYPE_Audio, Codec, 0, u"_VBR", &Type,
                                       reinterpret_cast<uint8_t*>(&Vbr), &Size),
              S_OK);
    EXPECT_EQ(Type, WMT_TYPE_BOOL);
    EXPECT_EQ(Vbr, 0u);
  }
  EXPECT_FALSE(ChooseFormat(2, 16, 44100, 90, true));
}

// CD audio finds 44100 Hz stereo at the target's bit rate for every bit rate offered; a target
// of 0 finds nothing.
TEST(WMWriterCodecInfo, TheWritersWalkFindsCdAudioFormats) {
  for (int32_t Target : {32000, 48000, 64000, 96000, 128000, 160000, 192000, 256000, 320000}) {
    SCOPED_TRACE(Target);
    TWMPtr<IWMStreamConfig> Config = ChooseFormat(2, 16, 44100, Target, false);
    ASSERT_TRUE(Config);
    const TWaveFormatEx Wave = WaveOf(Config.Get());
    EXPECT_EQ(Wave.SamplesPerSec, 44100u);
    EXPECT_EQ(Wave.Channels, 2);
    EXPECT_EQ(Wave.FormatTag, WAVE_FORMAT_WMAUDIO2);
    uint32_t Bitrate = 0;
    Config->GetBitrate(&Bitrate);
    EXPECT_NEAR(Bitrate, Target, Target / 200.0);
  }
  EXPECT_FALSE(ChooseFormat(2, 16, 44100, 0, false));
  EXPECT_FALSE(ChooseFormat(2, 24, 44100, 256000, false));
}

// Lengths in frames: 10 s, 17 CD sectors, exactly 10 codec frames, one frame past them,
// 18 CD sectors.
class WMWriterFile : public testing::TestWithParam<size_t> {
protected:
  TTempDir Dir;
};

TEST_P(WMWriterFile, KeepsEverySampleCloseToTheSource) {
  const size_t Frames = GetParam();
  const std::string File = Dir.File("out.wma");
  const std::vector<int16_t> Pcm = MakePcm(Frames);
  const TWriteResult Result = WriteFile(File, Pcm, 256000);
  ASSERT_EQ(Result.Begin, S_OK);
  ASSERT_EQ(Result.Write, S_OK);
  ASSERT_EQ(Result.End, S_OK);
  EXPECT_EQ(Result.WriteError, 0);

  auto Stream = Probe(File, "stream=codec_name,sample_rate,channels,bit_rate:format=duration");
  EXPECT_EQ(Stream["codec_name"], "wmav2");
  EXPECT_EQ(Stream["sample_rate"], "44100");
  EXPECT_EQ(Stream["channels"], "2");
  EXPECT_NEAR(std::stod(Stream["bit_rate"]), Result.ChosenBitrate, 1000);
  // The header's sizes were filled in at the end: the length is the sound's and a few frames.
  EXPECT_NEAR(std::stod(Stream["duration"]), double(Frames) / Rate, 0.15);

  constexpr long FrameSize = 2048;
  const std::vector<int16_t> Decoded = DecodeLeft(File);
  const long Lag = FindLag(Decoded, Pcm, 2 * FrameSize);
  const long Length = static_cast<long>(Decoded.size()) - Lag;
  const double Whole = Snr(Decoded, Lag, Pcm, 0, Frames);
  const double Tail = Snr(Decoded, Lag, Pcm, Frames - FrameSize, FrameSize);
  std::printf("%zu frames: duration %s s, decoded %zu, codec delay %ld, SNR %.1f dB, last 2048 "
              "frames %.1f dB\n",
              Frames, Stream["duration"].c_str(), Decoded.size(), Lag, Whole, Tail);
  RecordProperty("SnrDb", std::to_string(Whole));
  // Every sample, then the silence that pads the last frame and one frame of silence after it:
  // FFmpeg's decoder gives whole frames only, and the last one only half overlapped.
  const long Padded = (static_cast<long>(Frames) + FrameSize - 1) / FrameSize * FrameSize;
  EXPECT_EQ(Lag, 0);
  EXPECT_EQ(Length, Padded + FrameSize);
  EXPECT_GT(Whole, 30.0);
  EXPECT_GT(Tail, 30.0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WMWriterFile, testing::Values(441000, 9996, 20480, 20481, 10584));

TEST(WMWriterAttributes, BecomeTheFilesMetadata) {
  const std::vector<TAttributeCase> Attributes = {
      {u"Author", u"The Art\u00EFst", "artist", "The Art\xC3\xAFst"},
      {u"WM/AlbumTitle", u"An Album", "album", "An Album"},
      {u"WM/Genre", u"Jazz", "genre", "Jazz"},
      {u"WM/Year", u"1999", "WM/Year", "1999"},
      {u"WM/Track", u"7", "WM/Track", "7"},
      {u"Title", u"A Title", "title", "A Title"},
      {u"Copyright", u"A comment", "copyright", "A comment"},
  };
  TTempDir Dir;
  const std::string File = Dir.File("tags.wma");
  const TWriteResult Result = WriteFile(File, MakePcm(Rate / 2), 128000, Attributes);
  ASSERT_EQ(Result.End, S_OK);
  auto Tags = Probe(File, "format_tags");
  // Nothing but what was set: no "encoder" of the muxer's own.
  EXPECT_EQ(Tags.size(), Attributes.size());
  for (const auto& Attribute : Attributes)
    EXPECT_EQ(Tags[std::string("TAG:") + Attribute.ProbeKey], Attribute.Expected)
        << Attribute.ProbeKey;
}

TEST(WMWriterErrors, CallsOutOfOrderOrWrongFormatsFail) {
  TWMPtr<IWMWriter> Writer;
  WMCreateWriter(nullptr, Writer.Put());
  EXPECT_EQ(Writer->BeginWriting(), WM_E_INVALIDSTATE);
  TWMPtr<INSSBuffer> Sample;
  Writer->AllocateSample(4, Sample.Put());
  EXPECT_EQ(Writer->WriteSample(0, 0, 0, Sample.Get()), WM_E_INVALIDSTATE);
  EXPECT_EQ(Writer->EndWriting(), WM_E_INVALIDSTATE);
  uint32_t Inputs = 1;
  Writer->GetInputCount(&Inputs);
  EXPECT_EQ(Inputs, 0u);

  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMProfile> Profile;
  WMCreateProfileManager(Manager.Put());
  EXPECT_EQ(Manager->CreateEmptyProfile(0x80000, Profile.Put()), WM_E_INVALIDARG);
  ASSERT_EQ(Manager->CreateEmptyProfile(WMT_VER_9_0, Profile.Put()), S_OK);
  EXPECT_EQ(Writer->SetProfile(Profile.Get()), WM_E_INVALIDFORMAT);
  TWMPtr<IWMStreamConfig> Config = ChooseFormat(2, 16, 44100, 128000, false);
  ASSERT_EQ(Profile->AddStream(Config.Get()), S_OK);
  EXPECT_EQ(Profile->AddStream(Config.Get()), WM_E_UNSUPPORTED);
  ASSERT_EQ(Writer->SetProfile(Profile.Get()), S_OK);

  // 48000 Hz PCM on a 44100 Hz stream would play at the wrong speed: refused, and writing
  // does not begin.
  TWMPtr<IWMInputMediaProps> Props;
  ASSERT_EQ(Writer->GetInputProps(0, Props.Put()), S_OK);
  uint32_t Size = 0;
  Props->GetMediaType(nullptr, &Size);
  std::vector<uint64_t> Block((Size + 7) / 8);
  auto* Type = reinterpret_cast<WM_MEDIA_TYPE*>(Block.data());
  Props->GetMediaType(Type, &Size);
  reinterpret_cast<TWaveFormatEx*>(Type->pbFormat)->SamplesPerSec = 48000;
  Props->SetMediaType(Type);
  EXPECT_EQ(Writer->SetInputProps(0, Props.Get()), WM_E_INVALIDFORMAT);

  TTempDir Dir;
  TWMPtr<IWMWriterFileSink> Sink;
  TWMPtr<IWMWriterAdvanced> Advanced;
  WMCreateWriterFileSink(Sink.Put());
  Writer->QueryWriterAdvanced(Advanced.Put());
  EXPECT_EQ(Advanced->AddSink(Sink.Get()), S_OK);
  EXPECT_EQ(Sink->Open(u"/nonexistent-folder/out.wma"), WM_E_OPENFAILED);
  const std::string File = Dir.File("a.wma");
  ASSERT_EQ(Sink->Open(std::u16string(File.begin(), File.end()).c_str()), S_OK);
  EXPECT_EQ(Writer->BeginWriting(), WM_E_INVALIDFORMAT);
  EXPECT_EQ(Advanced->RemoveSink(Sink.Get()), S_OK);
  EXPECT_EQ(Advanced->RemoveSink(Sink.Get()), WM_E_INVALIDARG);
}

// A file that cannot grow, as on a full disk, fails the writing; the sink keeps the reason.
TEST(WMWriterErrors, AFileThatCannotGrowFailsWithTheSystemsReason) {
  TTempDir Dir;
  const std::vector<int16_t> Pcm = MakePcm(441000);
  TWriteResult Result;
  {
    const TFileSizeLimit Limit(64 * 1024);
    Result = WriteFile(Dir.File("full.wma"), Pcm, 256000);
  }
  EXPECT_EQ(Result.Begin, S_OK);
  EXPECT_EQ(Result.Write, WM_E_WRITEFAILED);
  EXPECT_EQ(Result.WriteError, EFBIG);
}

// Records the statuses a network sink reports, from its thread.
class TStatusRecorder : public IWMStatusCallback {
public:
  uint32_t AddRef() override { return ++FCount; }
  uint32_t Release() override { return --FCount; }
  HRESULT OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE Type, const uint8_t* Value,
                   void* Context) override {
    std::lock_guard Lock(FLock);
    FStatuses.push_back(Status);
    EXPECT_EQ(Context, this);
    EXPECT_EQ(Type, WMT_TYPE_BINARY);
    WM_CLIENT_PROPERTIES Client;
    std::memcpy(&Client, Value, sizeof Client);
    EXPECT_EQ(Client.dwIPAddress, 0x7F000001u);
    FChanged.notify_all();
    return S_OK;
  }
  // Waits until Count statuses have come (a minute at most, for a broken sink).
  std::vector<WMT_STATUS> WaitFor(size_t Count) {
    std::unique_lock Lock(FLock);
    FChanged.wait_for(Lock, std::chrono::minutes(1), [&] { return FStatuses.size() >= Count; });
    return FStatuses;
  }
  uint32_t References() const { return FCount; }

private:
  std::atomic<uint32_t> FCount{1};
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<WMT_STATUS> FStatuses;
};

int Connect(uint32_t Port) {
  const int Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<uint16_t>(Port));
  EXPECT_EQ(connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  const std::string Request = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  EXPECT_EQ(send(Socket, Request.data(), Request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(Request.size()));
  return Socket;
}

// Everything up to the server's end of the connection.
std::string ReadAll(int Socket) {
  std::string Out;
  char Buffer[65536];
  ssize_t Got;
  while ((Got = recv(Socket, Buffer, sizeof Buffer, 0)) > 0)
    Out.append(Buffer, static_cast<size_t>(Got));
  close(Socket);
  return Out;
}

class WMWriterNetwork : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(WMCreateWriterNetworkSink(Sink.Put()), S_OK);
    ASSERT_EQ(WMCreateWriter(nullptr, Writer.Put()), S_OK);
    Sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
    ASSERT_EQ(Sink->Open(&Port), S_OK);
    ASSERT_NE(Port, 0u);
    Sink->SetMaximumClients(1);
    TWMPtr<IWMWriterAdvanced> Advanced;
    Writer->QueryWriterAdvanced(Advanced.Put());
    ASSERT_EQ(Advanced->AddSink(Sink.Get()), S_OK);
    TWMPtr<IWMRegisterCallback> Register;
    Sink->QueryRegisterCallback(Register.Put());
    Register->Advise(&Recorder, &Recorder);
    ASSERT_EQ(BeginStream(Writer.Get(), 128000, {{u"Title", u"Live", "title", "Live"}}), S_OK);
  }
  void TearDown() override {
    TWMPtr<IWMWriterAdvanced> Advanced;
    Writer->QueryWriterAdvanced(Advanced.Put());
    Sink->Close();
    Advanced->RemoveSink(Sink.Get());
    Sink.Reset();
    Writer.Reset();
    EXPECT_EQ(Recorder.References(), 1u);
  }
  HRESULT WriteSeconds(double Seconds) {
    const std::vector<int16_t> Pcm = MakePcm(static_cast<size_t>(Seconds * Rate));
    for (size_t Done = 0; Done < Pcm.size() * 2; Done += ChunkBytes)
      if (HRESULT Result = WriteChunk(
              Writer.Get(), reinterpret_cast<const uint8_t*>(Pcm.data()) + Done,
              static_cast<uint32_t>(std::min<size_t>(ChunkBytes, Pcm.size() * 2 - Done)), Time))
        return Result;
    return S_OK;
  }

  TStatusRecorder Recorder;
  TWMPtr<IWMWriterNetworkSink> Sink;
  TWMPtr<IWMWriter> Writer;
  uint32_t Port = 0;
  uint64_t Time = 0;
};

// A client joining the live stream gets the header and whole packets; a second one is refused
// while the first is there; both statuses come, in order.
TEST_F(WMWriterNetwork, ServesTheLiveStreamToOneClient) {
  ASSERT_EQ(WriteSeconds(1), S_OK);
  std::string First;
  std::thread Reader([&, Socket = Connect(Port)] { First = ReadAll(Socket); });
  EXPECT_EQ(Recorder.WaitFor(1), std::vector<WMT_STATUS>{WMT_CLIENT_CONNECTED});
  const std::string Refused = ReadAll(Connect(Port));
  EXPECT_EQ(Refused.rfind("HTTP/1.0 503", 0), 0u) << Refused;
  EXPECT_EQ(WriteSeconds(2), S_OK);
  // The end of the stream lets the client go.
  EXPECT_EQ(Writer->EndWriting(), S_OK);
  Reader.join();
  EXPECT_EQ(Recorder.WaitFor(2),
            (std::vector<WMT_STATUS>{WMT_CLIENT_CONNECTED, WMT_CLIENT_DISCONNECTED}));

  ASSERT_EQ(First.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  const size_t Body = First.find("\r\n\r\n") + 4;
  ASSERT_GT(First.size(), Body + 16);
  for (size_t I = 0; I < std::size(AsfHeaderStart); ++I)
    EXPECT_EQ(static_cast<uint8_t>(First[Body + I]), AsfHeaderStart[I]);
  // The client joined a second into the stream, yet after the header object and the data
  // object's head come whole 3200-byte packets, each opening with its error-correction flags.
  uint64_t HeaderSize = 0;
  std::memcpy(&HeaderSize, First.data() + Body + 16, 8);
  const size_t Packets = Body + HeaderSize + 50;
  ASSERT_GT(First.size(), Packets + 3200 * 10);
  for (size_t Packet = 0; Packet < 10; ++Packet)
    EXPECT_EQ(static_cast<uint8_t>(First[Packets + Packet * 3200]), 0x82) << Packet;
}

// ffprobe reads the stream while it is being written.
TEST_F(WMWriterNetwork, FfprobeReadsTheLiveStream) {
  std::atomic<bool> Done{false};
  std::map<std::string, std::string> Stream;
  std::thread Prober([&] {
    Stream = Probe("http://127.0.0.1:" + std::to_string(Port),
                   "stream=codec_name,sample_rate,channels:format_tags=title");
    Done = true;
  });
  EXPECT_EQ(Recorder.WaitFor(1), std::vector<WMT_STATUS>{WMT_CLIENT_CONNECTED});
  // At most ten minutes of sound while ffprobe reads, for a broken sink.
  HRESULT Written = S_OK;
  for (int Second = 0; Second < 600 && !Done && !Written; ++Second)
    Written = WriteSeconds(1);
  EXPECT_EQ(Written, S_OK);
  EXPECT_TRUE(Done);
  EXPECT_EQ(Writer->EndWriting(), S_OK);
  Prober.join();
  EXPECT_EQ(Stream["codec_name"], "wmav2");
  EXPECT_EQ(Stream["sample_rate"], "44100");
  EXPECT_EQ(Stream["channels"], "2");
  EXPECT_EQ(Stream["TAG:title"], "Live");
  EXPECT_EQ(Recorder.WaitFor(2),
            (std::vector<WMT_STATUS>{WMT_CLIENT_CONNECTED, WMT_CLIENT_DISCONNECTED}));
}

} // namespace
