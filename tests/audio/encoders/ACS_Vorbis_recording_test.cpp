// TVorbisOut against recording stand-ins of libvorbis and libvorbisenc (over the real libogg):
// the set-up values, the comments, the conversion of samples and the order of the clean-up.
#include "audio/encoders/ACS_Vorbis.h"

#include "audio/encoders/Codec.h"
#include "platform/Module.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/audio/encoders/RecordingXiph.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A control of the stand-in, found in the very module the writer loads.
template <class F> F Control(const char* Name) {
  static const platform::TModule Module = platform::LoadModule("vorbis.dll");
  return reinterpret_cast<F>(Module.Symbol(Name));
}
#define TAVRUNE_CONTROL(Name) Control<decltype(&::Name)>(#Name)

class VorbisRecordingTest : public ::testing::Test {
protected:
  void SetUp() override { TAVRUNE_CONTROL(VorbisRecording_Reset)(); }

  TVorbisOut* MakeWriter(TAuInput* Input) {
    auto* Writer = new TVorbisOut(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(Dir.File("out.ogg"));
    return Writer;
  }
  TMemoryInput* MakeInput(size_t Bytes = 1000) {
    return new TMemoryInput(Root.get(), PatternBytes(Bytes));
  }
  static std::string Log() { return TAVRUNE_CONTROL(VorbisRecording_Log)(); }

  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", TAVRUNE_RECORDING_DIR};
  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

struct TBitRateCase {
  const char* Name;
  TVorbisBitRate Nominal;
  TVorbisBitRate Minimum;
  TVorbisBitRate Maximum;
  const char* Call;
};

TEST_F(VorbisRecordingTest, ManagedSetUpGetsTheRatesInBitsPerSecond) {
  const TBitRateCase Cases[] = {
      {"nominal alone", bitrate128, brAutoSelect, brAutoSelect,
       "vorbis_encode_init(2,44100,-1,128000,128000)"},
      {"with a minimum and a maximum", bitrate128, bitrate64, bitrate192,
       "vorbis_encode_init(2,44100,192000,128000,64000)"},
  };
  for (const TBitRateCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(VorbisRecording_Reset)();
    TVorbisOut* Writer = MakeWriter(MakeInput());
    Writer->SetDesiredNominalBitrate(Case.Nominal);
    Writer->SetMinimumBitrate(Case.Minimum);
    Writer->SetDesiredMaximumBitrate(Case.Maximum);
    ASSERT_EQ(RunToEnd(*Writer), "");
    EXPECT_THAT(Log(), HasSubstr(std::string("vorbis_info_init\n") + Case.Call + "\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("setup_vbr")));
  }
}

TEST_F(VorbisRecordingTest, QualityDrivenSetUpUsesTheCompression) {
  TVorbisOut* Writer = MakeWriter(MakeInput());
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), HasSubstr("vorbis_info_init\n"
                               "vorbis_encode_setup_vbr(2,44100,0.200000003)\n"
                               "vorbis_encode_setup_init\n"
                               "vorbis_comment_init\n"
                               "vorbis_analysis_init(2)\n"
                               "vorbis_block_init\n"
                               "vorbis_analysis_headerout\n"));
  EXPECT_THAT(Log(), Not(HasSubstr("vorbis_encode_init")));
}

TEST_F(VorbisRecordingTest, SetUpFailuresAreErrors) {
  TVorbisOut* Writer = MakeWriter(MakeInput());
  TAVRUNE_CONTROL(VorbisRecording_SetEncodeResult)(-131);
  Writer->SetDesiredNominalBitrate(bitrate499);
  EXPECT_EQ(RunToEnd(*Writer),
            "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
  EXPECT_TRUE(ReadBytes(Dir.File("out.ogg")).empty());
  Writer->SetDesiredNominalBitrate(brAutoSelect);
  EXPECT_EQ(RunToEnd(*Writer), "Vorbis codec setup with the requested quality failed.");
  EXPECT_THAT(Log(), Not(HasSubstr("vorbis_analysis_init")));
}

TEST_F(VorbisRecordingTest, CommentsGoInTheContainersOrderAsUtf8AndOnlyForOneRun) {
  TVorbisOut* Writer = MakeWriter(MakeInput());
  TVorbisTags Tags;
  Tags.SetTrack(u"3");
  Tags.SetTitle(u"Caf\u00e9 \u263a");
  Tags.SetAlbum(u"Album");
  Writer->SetComments(Tags);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), HasSubstr("vorbis_comment_init\n"
                               "vorbis_comment_add_tag(album,Album)\n"
                               "vorbis_comment_add_tag(title,Caf\xc3\xa9 \xe2\x98\xba)\n"
                               "vorbis_comment_add_tag(tracknumber,3)\n"
                               "vorbis_analysis_init"));
  EXPECT_TRUE(Writer->Comments()->Title().empty());

  TAVRUNE_CONTROL(VorbisRecording_Reset)();
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), HasSubstr("vorbis_comment_init\n"));
  EXPECT_THAT(Log(), Not(HasSubstr("vorbis_comment_add_tag")));
}

TEST_F(VorbisRecordingTest, DoneClearsTheRecordsInOrder) {
  TVorbisOut* Writer = MakeWriter(MakeInput());
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), EndsWith("vorbis_block_clear\nvorbis_dsp_clear\nvorbis_comment_clear\n"
                              "vorbis_info_clear\n"));
}

TEST_F(VorbisRecordingTest, DoneAfterAnEarlyFailureClearsNothing) {
  TVorbisOut* Writer = MakeWriter(MakeInput());
  Writer->SetFileName("");
  EXPECT_EQ(RunToEnd(*Writer), "File name is not assigned.");
  EXPECT_EQ(Log(), "");
}

struct TConversionCase {
  const char* Name;
  std::vector<uint8_t> Bytes;
  int32_t BPS;
  int32_t Channels;
  const char* Wrote;
};

TEST_F(VorbisRecordingTest, SamplesBecomeFloatsPerChannel) {
  const TConversionCase Cases[] = {
      {"16 bits",
       {0x00, 0x80, 0x00, 0x40, 0xFF, 0x7F, 0xFF, 0xFF},
       16,
       2,
       "vorbis_analysis_buffer(2)\n"
       "vorbis_analysis_wrote(2) -1 0.5 0.999969482 -3.05175781e-05"},
      {"8 bits",
       {0x00, 0xFF, 0x80},
       8,
       1,
       "vorbis_analysis_buffer(3)\n"
       "vorbis_analysis_wrote(3) -1 0.9921875"},
      {"24 bits",
       {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80},
       24,
       1,
       "vorbis_analysis_buffer(2)\n"
       "vorbis_analysis_wrote(2) -1.1920929e-07 -1"},
      {"32 bits",
       {0, 0, 0, 0x80, 0, 0, 0, 0x40},
       32,
       2,
       "vorbis_analysis_buffer(1)\n"
       "vorbis_analysis_wrote(1) -1 0.5"},
      {"less than a frame",
       {0x01, 0x02, 0x03},
       16,
       2,
       "vorbis_analysis_headerout\nvorbis_analysis_wrote(0)"},
  };
  for (const TConversionCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(VorbisRecording_Reset)();
    auto* Input = new TFormatInput(Root.get(), Case.Bytes, Case.BPS, Case.Channels);
    TVorbisOut* Writer = MakeWriter(Input);
    ASSERT_EQ(RunToEnd(*Writer), "");
    EXPECT_THAT(Log(), HasSubstr(std::string(Case.Wrote) + "\n"));
    EXPECT_THAT(Log(), HasSubstr("vorbis_analysis_wrote(0)\n"));
  }
}

TEST_F(VorbisRecordingTest, AFullReadGoesToTheAnalysisInSlices) {
  TVorbisOut* Writer = MakeWriter(MakeInput(24576 + 8));
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::string Text = Log();
  size_t Slices = 0;
  for (size_t At = Text.find("vorbis_analysis_wrote(1024)"); At != std::string::npos;
       At = Text.find("vorbis_analysis_wrote(1024)", At + 1))
    ++Slices;
  EXPECT_EQ(Slices, 6u);
  EXPECT_THAT(Text, HasSubstr("vorbis_analysis_buffer(2)\nvorbis_analysis_wrote(2)"));
}

TEST_F(VorbisRecordingTest, AnUnknownSampleWidthIsRefused) {
  auto* Input = new TFormatInput(Root.get(), PatternBytes(100), 20, 2);
  TVorbisOut* Writer = MakeWriter(Input);
  EXPECT_EQ(RunToEnd(*Writer), "The input's sample format cannot be encoded.");
  EXPECT_THAT(Log(), Not(HasSubstr("vorbis_analysis_buffer")));
}

TEST_F(VorbisRecordingTest, TheStreamCarriesTheSerialUnchanged) {
  for (int32_t Serial : {0, 12345, -2}) {
    SCOPED_TRACE(Serial);
    TVorbisOut* Writer = MakeWriter(MakeInput());
    Writer->SetSerial(Serial);
    ASSERT_EQ(RunToEnd(*Writer), "");
    const std::vector<uint8_t> File = ReadBytes(Dir.File("out.ogg"));
    ASSERT_GE(File.size(), 27u);
    EXPECT_EQ(std::string(File.begin(), File.begin() + 4), "OggS");
    const uint32_t Found = File[14] | File[15] << 8 | File[16] << 16 | uint32_t(File[17]) << 24;
    EXPECT_EQ(static_cast<int32_t>(Found), Serial);
  }
}

TEST_F(VorbisRecordingTest, NamesTheStandInLacksStayNull) {
  LoadVorbisLibrary();
  ASSERT_TRUE(VorbisLoaded());
  EXPECT_NE(Vorbis().vorbis_info_init, nullptr);
  EXPECT_EQ(Vorbis().vorbis_synthesis, nullptr);
}

TEST(VorbisOutBitRates, TheSettersKeepMinimumNominalMaximumInOrder) {
  TComponentPtr<TVorbisOut> Writer(new TVorbisOut(nullptr));
  EXPECT_FLOAT_EQ(Writer->Compression(), 0.2f);
  Writer->SetDesiredMaximumBitrate(bitrate128);
  EXPECT_EQ(Writer->DesiredMaximumBitrate(), brAutoSelect);
  Writer->SetMinimumBitrate(bitrate64);
  EXPECT_EQ(Writer->MinimumBitrate(), brAutoSelect);

  Writer->SetDesiredNominalBitrate(bitrate128);
  Writer->SetMinimumBitrate(bitrate96);
  Writer->SetDesiredMaximumBitrate(bitrate128);
  Writer->SetDesiredNominalBitrate(bitrate64);
  EXPECT_EQ(Writer->MinimumBitrate(), bitrate64);
  EXPECT_EQ(Writer->DesiredMaximumBitrate(), bitrate128);
  Writer->SetDesiredNominalBitrate(bitrate192);
  EXPECT_EQ(Writer->DesiredMaximumBitrate(), bitrate192);
  Writer->SetDesiredMaximumBitrate(bitrate160);
  EXPECT_EQ(Writer->DesiredMaximumBitrate(), bitrate192);
  Writer->SetMinimumBitrate(bitrate224);
  EXPECT_EQ(Writer->MinimumBitrate(), bitrate64);

  Writer->SetDesiredNominalBitrate(brAutoSelect);
  EXPECT_EQ(Writer->MinimumBitrate(), brAutoSelect);
  EXPECT_EQ(Writer->DesiredMaximumBitrate(), brAutoSelect);
}

TEST(VorbisOutBitRates, BitsPerSecondByTheLowSevenBits) {
  EXPECT_EQ(VorbisBitRateToBps(brAutoSelect), -1);
  EXPECT_EQ(VorbisBitRateToBps(bitrate45), 45000);
  EXPECT_EQ(VorbisBitRateToBps(bitrate499), 499000);
  EXPECT_EQ(VorbisBitRateToBps(static_cast<TVorbisBitRate>(18)), -1);
  EXPECT_EQ(VorbisBitRateToBps(static_cast<TVorbisBitRate>(128 + 10)), 128000);
}

} // namespace
