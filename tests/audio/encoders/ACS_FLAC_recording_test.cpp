// TFLACOut against the recording stand-in of libFLAC: the values it hands the encoder, the
// comment block it writes in place of the encoder's, and what it does with failures.
#include "audio/encoders/ACS_FLAC.h"

#include "audio/encoders/FLAC.h"
#include "platform/Module.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/audio/encoders/RecordingXiph.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A control of the stand-in, found in the very module the writer loads.
template <class F> F Control(const char* Name) {
  static const platform::TModule Module = platform::LoadModule("libFLAC.dll");
  return reinterpret_cast<F>(Module.Symbol(Name));
}
#define TAVRUNE_CONTROL(Name) Control<decltype(&::Name)>(#Name)

class FLACRecordingTest : public ::testing::Test {
protected:
  void SetUp() override { TAVRUNE_CONTROL(FLACRecording_Reset)(); }

  TFLACOut* MakeWriter(TAuInput* Input) {
    auto* Writer = new TFLACOut(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(Dir.File("out.flac"));
    return Writer;
  }
  TMemoryInput* MakeInput(size_t Bytes = 4608 * 4 + 400) {
    return new TMemoryInput(Root.get(), PatternBytes(Bytes));
  }
  // The calls Prepare makes to set the encoder up, between "new" and "init_stream".
  static std::string SetUpCalls() {
    const std::string Log = TAVRUNE_CONTROL(FLACRecording_Log)();
    const size_t Start = Log.find("new\n") + 4;
    return Log.substr(Start, Log.find("init_stream") - Start);
  }
  // The bytes written after the stand-in's marker and STREAMINFO block.
  std::vector<uint8_t> CommentBlock() {
    const std::vector<uint8_t> File = ReadBytes(Dir.File("out.flac"));
    const size_t Start = 4 + 38;
    const size_t Length = 4 + (File[Start + 1] << 16 | File[Start + 2] << 8 | File[Start + 3]);
    return {File.begin() + Start, File.begin() + Start + Length};
  }

  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", TAVRUNE_RECORDING_DIR};
  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

TEST_F(FLACRecordingTest, TheWindowsSettingsRunInExplicitMode) {
  TFLACOut* Writer = MakeWriter(MakeInput());
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(SetUpCalls(), "set_verify(0)\n"
                          "set_channels(2)\n"
                          "set_bits_per_sample(16)\n"
                          "set_sample_rate(44100)\n"
                          "set_do_mid_side_stereo(-1)\n"
                          "set_loose_mid_side_stereo(0)\n"
                          "set_blocksize(4608)\n"
                          "set_max_lpc_order(0)\n"
                          "set_qlp_coeff_precision(0)\n"
                          "set_do_qlp_coeff_prec_search(0)\n"
                          "set_min_residual_partition_order(0)\n"
                          "set_max_residual_partition_order(0)\n"
                          "set_do_exhaustive_model_search(0)\n"
                          "set_total_samples_estimate(4708)\n");
}

TEST_F(FLACRecordingTest, ALevelReplacesTheExplicitParameters) {
  TFLACOut* Writer = MakeWriter(MakeInput(4000));
  Writer->SetCompressionLevel(5);
  Writer->SetVerify(true);
  Writer->SetBlockSize(1152);
  Writer->SetEnableLooseMidSideStereo(true);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(SetUpCalls(), "set_verify(-1)\n"
                          "set_channels(2)\n"
                          "set_bits_per_sample(16)\n"
                          "set_sample_rate(44100)\n"
                          "set_do_mid_side_stereo(-1)\n"
                          "set_loose_mid_side_stereo(-1)\n"
                          "set_blocksize(1152)\n"
                          "set_compression_level(5)\n"
                          "set_total_samples_estimate(1000)\n");
}

TEST_F(FLACRecordingTest, MonoMakesNoMidSideCallsAndEightBitsAreCentred) {
  std::vector<uint8_t> Bytes = {0x00, 0xFF, 0x80, 0x7F, 0x01};
  auto* Input = new TFormatInput(Root.get(), Bytes, 8, 1);
  TFLACOut* Writer = MakeWriter(Input);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(SetUpCalls(), Not(HasSubstr("mid_side")));
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(),
              HasSubstr("process_interleaved(5;-128,127,0,-1)"));
}

TEST_F(FLACRecordingTest, TwentyFourBitSamplesAreSignExtended) {
  std::vector<uint8_t> Bytes = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0, 0};
  auto* Input = new TFormatInput(Root.get(), Bytes, 24, 2);
  TFLACOut* Writer = MakeWriter(Input);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(),
              HasSubstr("process_interleaved(2;-1,-8388608,8388607,1)"));
}

TEST_F(FLACRecordingTest, TheLastShortBlockKeepsItsFrameCount) {
  TFLACOut* Writer = MakeWriter(MakeInput(4608 * 4 * 2 + 40));
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::string Log = TAVRUNE_CONTROL(FLACRecording_Log)();
  EXPECT_THAT(Log, HasSubstr("process_interleaved(4608;"));
  EXPECT_THAT(Log, HasSubstr("process_interleaved(10;"));
  EXPECT_THAT(Log, HasSubstr("finish tell=0:"));
  EXPECT_THAT(Log, HasSubstr("seek=0"));
  EXPECT_THAT(Log, Not(HasSubstr(")=1")));
}

TEST_F(FLACRecordingTest, HighPrecisionIsClampedAndStaysClamped) {
  TFLACOut* Writer = MakeWriter(MakeInput(400));
  Writer->SetQLPCoeffPrecision(20);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(SetUpCalls(), HasSubstr("set_qlp_coeff_precision(15)\n"));
  EXPECT_EQ(Writer->QLPCoeffPrecision(), 15);
}

TEST_F(FLACRecordingTest, ThirtyTwoBitsClampThePrecisionToNothing) {
  auto* Input = new TFormatInput(Root.get(), PatternBytes(64), 32, 2);
  TFLACOut* Writer = MakeWriter(Input);
  Writer->SetQLPCoeffPrecision(3);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(SetUpCalls(), HasSubstr("set_qlp_coeff_precision(0)\n"));
}

TEST_F(FLACRecordingTest, AnUntoldSizeGivesNoEstimate) {
  TMemoryInput* Input = MakeInput(400);
  Input->SetReportedSize(-1);
  TFLACOut* Writer = MakeWriter(Input);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(SetUpCalls(), Not(HasSubstr("estimate")));
}

TEST_F(FLACRecordingTest, BlockSizeZeroStillEncodesEverything) {
  TFLACOut* Writer = MakeWriter(MakeInput(4000));
  Writer->SetBlockSize(0);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(), HasSubstr("process_interleaved(1000;"));
}

struct TCommentCase {
  const char* Name;
  bool Last;
  std::u16string Title;
  std::u16string Track;
  std::vector<uint8_t> Expected;
};

std::vector<uint8_t> Bytes(std::initializer_list<std::string_view> Parts) {
  std::vector<uint8_t> Out;
  for (std::string_view Part : Parts)
    Out.insert(Out.end(), Part.begin(), Part.end());
  return Out;
}

TEST_F(FLACRecordingTest, TheCommentBlockReplacesTheEncoders) {
  using namespace std::string_view_literals;
  const TCommentCase Cases[] = {
      {"empty", true, u"", u"",
       Bytes({"\x84\x00\x00\x15"sv, "\x0d\x00\x00\x00VENDOR=Zivera"sv, "\x00\x00\x00\x00"sv})},
      {"track 0, last", true, u"", u"0",
       Bytes({"\x84\x00\x00\x26"sv, "\x0d\x00\x00\x00VENDOR=Zivera"sv, "\x01\x00\x00\x00"sv,
              "\x0d\x00\x00\x00tracknumber=0"sv})},
      {"track 0, not last", false, u"", u"0",
       Bytes({"\x04\x00\x00\x26"sv, "\x0d\x00\x00\x00VENDOR=Zivera"sv, "\x01\x00\x00\x00"sv,
              "\x0d\x00\x00\x00tracknumber=0"sv})},
      {"title by UTF-8 length, before the track", true, u"Caf\u00e9", u"7",
       Bytes({"\x84\x00\x00\x35"sv, "\x0d\x00\x00\x00VENDOR=Zivera"sv, "\x02\x00\x00\x00"sv,
              "\x0b\x00\x00\x00title=Caf\xc3\xa9"sv, "\x0d\x00\x00\x00tracknumber=7"sv})},
  };
  for (const TCommentCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(FLACRecording_Reset)();
    TAVRUNE_CONTROL(FLACRecording_SetCommentLast)(Case.Last);
    TFLACOut* Writer = MakeWriter(MakeInput(400));
    TVorbisTags Tags;
    Tags.SetTitle(Case.Title);
    Tags.SetTrack(Case.Track);
    Writer->SetTags(Tags);
    ASSERT_EQ(RunToEnd(*Writer), "");
    EXPECT_EQ(CommentBlock(), Case.Expected);
    // Later metadata and every frame pass unchanged.
    const std::vector<uint8_t> File = ReadBytes(Dir.File("out.flac"));
    EXPECT_EQ(File.size(), 42 + Case.Expected.size() + (Case.Last ? 0 : 4) + 4);
    Writer->Free();
  }
}

// A write that fails (here past a file-size limit, as on a full disk) is a status to the
// encoder, never an exception through it, and the run fails with the system's reason.
struct WriteFailureCase {
  const char* Name;
  rlim_t SizeLimit;
  int32_t FinishFails;
  const char* Expected;
  const char* Logged;
};

class FLACWriteFailureTest : public FLACRecordingTest,
                             public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(FLACWriteFailureTest, FailsTheRunWithTheReason) {
  const WriteFailureCase& Case = GetParam();
  TAVRUNE_CONTROL(FLACRecording_SetFinishFails)(Case.FinishFails);
  TFLACOut* Writer = MakeWriter(MakeInput());
  {
    const TFileSizeLimit Limit(Case.SizeLimit);
    EXPECT_EQ(RunToEnd(*Writer), Case.Expected);
  }
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(), HasSubstr(Case.Logged));
  // The writer runs again.
  TAVRUNE_CONTROL(FLACRecording_Reset)();
  EXPECT_EQ(RunToEnd(*Writer), "");
}

// The stand-in's header is 42 bytes and the writer's comment block 25; each frame is 4.
INSTANTIATE_TEST_SUITE_P(
    Cases, FLACWriteFailureTest,
    ::testing::Values(
        WriteFailureCase{"InTheHeader", 10, 0, "File too large", "write(4)=0\nwrite(38)=1\n"},
        WriteFailureCase{"InTheSecondFrame", 42 + 25 + 4, 0, "File too large",
                         "write(4)=1\n"},
        WriteFailureCase{"InFinish", RLIM_INFINITY, 1, "Failed to finish the FLAC file.",
                         "finish tell=0:75"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FLACRecordingTest, EncoderFailuresHaveTheirMessages) {
  TMemoryInput* Input = MakeInput(400);
  TFLACOut* Writer = MakeWriter(Input);
  TAVRUNE_CONTROL(FLACRecording_SetNewFails)(1);
  EXPECT_EQ(RunToEnd(*Writer), "Failed to initialize FLAC encoder.");
  EXPECT_EQ(Input->InitCount, 0);

  TAVRUNE_CONTROL(FLACRecording_Reset)();
  TAVRUNE_CONTROL(FLACRecording_SetInitStatus)(FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR);
  EXPECT_EQ(RunToEnd(*Writer), "Failed to initialize FLAC encoder.");
  EXPECT_EQ(Input->InitCount, 1);
  EXPECT_GE(Input->FlushCount, 1);
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(), HasSubstr("delete"));

  TAVRUNE_CONTROL(FLACRecording_Reset)();
  TAVRUNE_CONTROL(FLACRecording_SetProcessFails)(1);
  EXPECT_EQ(RunToEnd(*Writer), "Failed to encode data.");
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(), HasSubstr("finish tell"));
}

TEST_F(FLACRecordingTest, AnEmptyFileNameIsRefused) {
  TFLACOut* Writer = MakeWriter(MakeInput(400));
  Writer->SetFileName("");
  EXPECT_EQ(RunToEnd(*Writer), "File name is not assigned.");
  EXPECT_THAT(TAVRUNE_CONTROL(FLACRecording_Log)(), Not(HasSubstr("new")));
}

TEST_F(FLACRecordingTest, NamesTheStandInLacksStayNull) {
  LoadFLACLibrary();
  ASSERT_TRUE(FLACLoaded());
  EXPECT_NE(FLAC().FLAC__stream_encoder_new, nullptr);
  EXPECT_EQ(FLAC().FLAC__stream_decoder_new, nullptr);
  EXPECT_EQ(FLAC().FLAC__Metadata_simple_iterator_status, nullptr);
}

TEST(FLACOutSetters, FollowTheirRules) {
  TComponentPtr<TFLACOut> Writer(new TFLACOut(nullptr));
  EXPECT_EQ(Writer->CompressionLevel(), -1);
  EXPECT_EQ(Writer->BlockSize(), 4608);
  EXPECT_TRUE(Writer->EnableMidSideStereo());
  Writer->SetCompressionLevel(12);
  EXPECT_EQ(Writer->CompressionLevel(), 8);
  Writer->SetCompressionLevel(-5);
  EXPECT_EQ(Writer->CompressionLevel(), -5);
  Writer->SetEnableMidSideStereo(false);
  Writer->SetEnableLooseMidSideStereo(true);
  EXPECT_TRUE(Writer->EnableMidSideStereo());
  Writer->SetEnableMidSideStereo(false);
  Writer->SetBestModelSearch(true);
  EXPECT_TRUE(Writer->EnableMidSideStereo());
  EXPECT_FALSE(Writer->EnableLooseMidSideStereo());
  Writer->SetBestModelSearch(false);
  Writer->SetEnableLooseMidSideStereo(false);
  EXPECT_TRUE(Writer->EnableMidSideStereo());
  EXPECT_FALSE(Writer->BestModelSearch());
}

} // namespace
