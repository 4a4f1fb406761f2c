// TMP3Out against the recording stand-in of our MP3 encoder library: the record it hands the
// encoder, the order of its calls, what it writes around them, and the library's lifetime.
#include "audio/encoders/ACS_LAME.h"

#include "audio/encoders/lame.h"
#include "platform/Module.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/audio/encoders/RecordingLame.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A control of the stand-in, found in the very module the writer loads.
template <class F> F Control(const char* Name) {
  static const platform::TModule Module = platform::LoadModule("lame_enc.dll");
  return reinterpret_cast<F>(Module.Symbol(Name));
}
#define TAVRUNE_CONTROL(Name) Control<decltype(&::Name)>(#Name)

constexpr uint32_t StereoChunkBytes = 2304 * 2;

class LameRecordingTest : public ::testing::Test {
protected:
  void SetUp() override { TAVRUNE_CONTROL(LameRecording_Reset)(); }

  TMP3Out* MakeWriter(TAuInput* Input) {
    auto* Writer = new TMP3Out(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(File);
    return Writer;
  }
  // One GetData per chunk, so that a hook on the n-th read stands for the n-th chunk.
  TMemoryInput* MakeInput(size_t Bytes) {
    return new TMemoryInput(Root.get(), SineBytes(Bytes / 4), StereoChunkBytes);
  }
  static std::string Log() { return TAVRUNE_CONTROL(LameRecording_Log)(); }
  // What the stand-in writes for a chunk of Samples samples.
  static std::vector<uint8_t> Chunk(uint32_t Samples) {
    std::vector<uint8_t> Bytes = {'C', 'H', 'N', 'K'};
    for (int I = 0; I < 4; ++I)
      Bytes.push_back(static_cast<uint8_t>(Samples >> (8 * I)));
    return Bytes;
  }
  // The chunks' output, the flush and an empty tag.
  static std::vector<uint8_t> ExpectedFile(std::initializer_list<uint32_t> Chunks) {
    std::vector<uint8_t> Bytes;
    for (uint32_t Samples : Chunks) {
      const std::vector<uint8_t> One = Chunk(Samples);
      Bytes.insert(Bytes.end(), One.begin(), One.end());
    }
    Bytes.insert(Bytes.end(), {'F', 'L', 'S', 'H', 'T', 'A', 'G'});
    Bytes.resize(Bytes.size() + 124, 0);
    Bytes.push_back(255);
    return Bytes;
  }

  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", TAVRUNE_RECORDING_DIR};
  TTempDir Dir;
  std::string File = Dir.File("out.mp3");
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

struct TRecordCase {
  const char* Name;
  std::function<void(TMP3Out&)> Set;
  // Offsets of the 32-bit fields that are not zero, and their values.
  std::map<size_t, uint32_t> Fields;
};

// The fields every record has: the layout's marks and the input's rate.
std::map<size_t, uint32_t> With(std::map<size_t, uint32_t> Fields) {
  Fields.insert({{0, 256}, {4, 1}, {8, 331}, {12, 44100}});
  return Fields;
}

const TRecordCase RecordCases[] = {
    {"TheWindowsSettings",
     [](TMP3Out& W) {
       W.SetBitRate(static_cast<TMP3BitRate>(0xFF));
       W.SetVBRQuality(mp3ql0);
       W.SetEnableVBR(0);
       W.SetAverageBitrate(mbrAuto);
       W.SetMaximumBitrate(mbrAuto);
     },
     // 128 kb/s, stereo, original set (-1), method 2.
     With({{24, 128}, {60, 0xFFFFFFFF}, {80, 2}})},
    {"TheDefaults", [](TMP3Out&) {}, With({{24, 128}, {60, 0xFFFFFFFF}, {80, 2}})},
    {"AnAverageBitRateOf192SelectsMethod4",
     [](TMP3Out& W) {
       W.SetAverageBitrate(mbr192);
       W.SetEnableVBR(-1);
     },
     With({{24, 128}, {60, 0xFFFFFFFF}, {64, 0xFFFFFFFF}, {68, 0xFFFFFFFF}, {76, 192}, {80, 4}})},
    {"VBRWithQualityAndLimits",
     [](TMP3Out& W) {
       W.SetEnableVBR(1);
       W.SetVBRQuality(mp3ql3);
       W.SetBitRate(mbr32);
       W.SetMaximumBitrate(mbr320);
       W.SetMode(mmJointStereo);
       W.SetCRC(-1);
       W.SetCopyright(1);
       W.SetOriginal(0);
     },
     With({{20, 1},
           {24, 32},
           {28, 320},
           {52, 0xFFFFFFFF},
           {56, 1},
           {64, 1},
           {68, 1},
           {72, 3},
           {80, 2}})},
    {"QualityIsLeftOutWithoutVBR", [](TMP3Out& W) { W.SetVBRQuality(mp3ql9); },
     With({{24, 128}, {60, 0xFFFFFFFF}, {80, 2}})},
};

class LameRecordTest : public LameRecordingTest,
                       public ::testing::WithParamInterface<TRecordCase> {};

TEST_P(LameRecordTest, TheRecordHoldsTheProperties) {
  TMP3Out* Writer = MakeWriter(MakeInput(1000));
  GetParam().Set(*Writer);
  ASSERT_EQ(RunToEnd(*Writer), "");
  std::vector<uint8_t> Expected(BE_CONFIG_SIZE, 0);
  for (const auto& [Offset, Value] : GetParam().Fields)
    for (int I = 0; I < 4; ++I)
      Expected[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
  const uint8_t* Record = TAVRUNE_CONTROL(LameRecording_Config)();
  EXPECT_EQ(std::vector<uint8_t>(Record, Record + BE_CONFIG_SIZE), Expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, LameRecordTest, ::testing::ValuesIn(RecordCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(LameRecordingTest, ChunksThenFlushThenTagThenClose) {
  TMP3Out* Writer = MakeWriter(MakeInput(StereoChunkBytes * 2 + 400));
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(Log(), "init\nencode(2304)\nencode(2304)\nencode(200)\ndeinit(7)\nclose(7)\n");
  EXPECT_EQ(ReadBytes(File), ExpectedFile({2304, 2304, 200}));
}

TEST_F(LameRecordingTest, VBRAsksForThisStreamsHeaderOnceTheFileIsComplete) {
  TMP3Out* Writer = MakeWriter(MakeInput(StereoChunkBytes));
  Writer->SetEnableVBR(-1);
  ASSERT_EQ(RunToEnd(*Writer), "");
  // 8 bytes of chunk, 4 of flush, 128 of tag.
  EXPECT_EQ(Log(), "init\nencode(2304)\ndeinit(7)\ninfotag(7," + File + ",140)\nclose(7)\n");
  EXPECT_THAT(Log(), Not(HasSubstr("vbrheader")));
}

// Without its header a VBR file tells players a wrong length: the run fails.
TEST_F(LameRecordingTest, AVBRHeaderThatCannotBeWrittenFailsTheRun) {
  TAVRUNE_CONTROL(LameRecording_SetInfoTagResult)(BE_ERR_FILE);
  TMP3Out* Writer = MakeWriter(MakeInput(StereoChunkBytes));
  Writer->SetEnableVBR(-1);
  EXPECT_EQ(RunToEnd(*Writer), "WriteInfoTag Error : " + std::to_string(BE_ERR_FILE));
  EXPECT_EQ(Log(), "init\nencode(2304)\ndeinit(7)\ninfotag(7," + File + ",140)\nclose(7)\n");
}

TEST_F(LameRecordingTest, AnEmptyInputIsFlushedAndTaggedWithoutAChunk) {
  TMP3Out* Writer = MakeWriter(MakeInput(0));
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(Log(), "init\ndeinit(7)\nclose(7)\n");
  EXPECT_EQ(ReadBytes(File), ExpectedFile({}));
}

TEST_F(LameRecordingTest, StopDuringARipStillFlushesAndTags) {
  TMemoryInput* Input = MakeInput(StereoChunkBytes * 20);
  std::atomic<bool> Reached{false};
  std::atomic<bool> Release{false};
  Input->SetOnRead([&] {
    if (Input->ReadCount != 3)
      return;
    Reached = true;
    while (!Release)
      std::this_thread::yield();
  });
  TMP3Out* Writer = MakeWriter(Input);
  Writer->Run();
  ASSERT_TRUE(PumpUntil([&] { return Reached.load(); }));
  Writer->Stop(true);
  Release = true;
  ASSERT_TRUE(PumpUntil([&] { return !Writer->Running(); }));
  EXPECT_EQ(Writer->ExceptionText(), "");
  EXPECT_EQ(Log(), "init\nencode(2304)\nencode(2304)\nencode(2304)\ndeinit(7)\nclose(7)\n");
  EXPECT_EQ(ReadBytes(File), ExpectedFile({2304, 2304, 2304}));
  EXPECT_EQ(Input->FlushCount, 1);
}

TEST_F(LameRecordingTest, MonoPassesHalfAChunkAtATime) {
  auto* Input = new TFormatInput(Root.get(), std::vector<uint8_t>(1152 * 3, 1), 16, 1);
  TMP3Out* Writer = MakeWriter(Input);
  Writer->SetMode(mmMono);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(TAVRUNE_CONTROL(LameRecording_Config)()[20], 3);
  EXPECT_EQ(Log(), "init\nencode(576)\nencode(576)\nencode(576)\ndeinit(7)\nclose(7)\n");
}

struct TFormatCase {
  const char* Name;
  int32_t BPS;
  int32_t Channels;
  TMP3Mode Mode;
};
const TFormatCase FormatCases[] = {
    {"MonoIntoStereo", 16, 1, mmStereo},
    {"StereoIntoMono", 16, 2, mmMono},
    {"EightBits", 8, 2, mmStereo},
    {"SixChannels", 16, 6, mmJointStereo},
};

class LameFormatTest : public LameRecordingTest,
                       public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(LameFormatTest, AnInputTheRecordCannotDescribeIsRefused) {
  const TFormatCase& Case = GetParam();
  auto* Input =
      new TFormatInput(Root.get(), std::vector<uint8_t>(4000, 1), Case.BPS, Case.Channels);
  TMP3Out* Writer = MakeWriter(Input);
  Writer->SetMode(Case.Mode);
  EXPECT_EQ(RunToEnd(*Writer), "The input's sample format cannot be encoded.");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Input->FlushCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, LameFormatTest, ::testing::ValuesIn(FormatCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(LameRecordingTest, AnInitErrorEndsTheRunWithoutTouchingTheStream) {
  TAVRUNE_CONTROL(LameRecording_SetInitResult)(BE_ERR_INVALID_FORMAT_PARAMETERS);
  TMemoryInput* Input = MakeInput(StereoChunkBytes);
  TMP3Out* Writer = MakeWriter(Input);
  EXPECT_EQ(RunToEnd(*Writer), "InitStream Error : 2");
  EXPECT_EQ(Log(), "init\n");
  EXPECT_EQ(Input->FlushCount, 1);
}

TEST_F(LameRecordingTest, AnEncodeErrorEndsTheRunAndClosesTheStream) {
  TAVRUNE_CONTROL(LameRecording_SetEncodeResult)(BE_ERR_ENCODER);
  TMP3Out* Writer = MakeWriter(MakeInput(StereoChunkBytes * 3));
  EXPECT_EQ(RunToEnd(*Writer), "EncodeChunk Error : 8");
  EXPECT_EQ(Log(), "init\nencode(2304)\ndeinit(7)\nclose(7)\n");
}

TEST_F(LameRecordingTest, NoFileNameIsRefused) {
  TMP3Out* Writer = MakeWriter(MakeInput(StereoChunkBytes));
  Writer->SetFileName("");
  EXPECT_EQ(RunToEnd(*Writer), "File name is not assigned.");
  EXPECT_EQ(Log(), "");
}

TEST_F(LameRecordingTest, DestroyingOneWriterLeavesTheLibraryToAnother) {
  TMP3Out* First = MakeWriter(MakeInput(StereoChunkBytes));
  TMP3Out* Second = MakeWriter(MakeInput(StereoChunkBytes));
  First->Free();
  EXPECT_TRUE(LameLoaded());
  ASSERT_EQ(RunToEnd(*Second), "");
  EXPECT_EQ(Log(), "init\nencode(2304)\ndeinit(7)\nclose(7)\n");
  Second->Free();
  EXPECT_FALSE(LameLoaded());
  // The next writer loads it again.
  TMP3Out* Third = MakeWriter(MakeInput(StereoChunkBytes));
  EXPECT_TRUE(LameLoaded());
  EXPECT_EQ(RunToEnd(*Third), "");
}

struct TTagCase {
  const char* Name;
  std::function<void(TId3v1Tags&)> Set;
  // The bytes from offset 3 to 126 that are not zero.
  std::map<size_t, std::string> Texts;
};

const TTagCase TagCases[] = {
    {"Empty", [](TId3v1Tags&) {}, {}},
    {"ATitleOf40BytesIsCutTo30",
     [](TId3v1Tags& T) { T.SetTitle(std::string(30, 'a') + "bbbbbbbbbb"); },
     {{3, std::string(30, 'a')}}},
    {"ShortFieldsLeaveZeros",
     [](TId3v1Tags& T) {
       T.SetTitle("Hello");
       T.SetArtist("Art");
       T.SetAlbum("Alb");
       T.SetComment("Note");
     },
     {{3, "Hello"}, {33, "Art"}, {63, "Alb"}, {97, "Note"}}},
    {"AFourDigitYear", [](TId3v1Tags& T) { T.SetYear(1999); }, {{93, "1999"}}},
    {"AThreeDigitYearIsLeftOut", [](TId3v1Tags& T) { T.SetYear(999); }, {}},
    {"YearZeroWithAComment",
     [](TId3v1Tags& T) {
       T.SetYear(0);
       T.SetComment(std::string(30, 'c'));
     },
     {{97, std::string(30, 'c')}}},
    {"TrackAndGenreAreNotWritten",
     [](TId3v1Tags& T) {
       T.SetTrack(5);
       T.SetGenreId(17);
     },
     {}},
};

class Id3v1BlockTest : public ::testing::TestWithParam<TTagCase> {};

TEST_P(Id3v1BlockTest, TheBlockHoldsTheValues) {
  TId3v1Tags Tags;
  GetParam().Set(Tags);
  std::array<uint8_t, Id3v1BlockSize> Expected{};
  std::memcpy(Expected.data(), "TAG", 3);
  for (const auto& [Offset, Text] : GetParam().Texts)
    std::memcpy(Expected.data() + Offset, Text.data(), Text.size());
  Expected[127] = 255;
  EXPECT_EQ(BuildId3v1Block(Tags), Expected);
}

INSTANTIATE_TEST_SUITE_P(Tags, Id3v1BlockTest, ::testing::ValuesIn(TagCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(LameRecordingTest, TheWritersOwnTagObjectIsWritten) {
  TMP3Out* Writer = MakeWriter(MakeInput(0));
  TId3v1Tags Tags;
  Tags.SetTitle("Song");
  Writer->SetId3v1Tags(Tags);
  // A copy: changing the assigned object later changes nothing.
  Tags.SetTitle("Other");
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::vector<uint8_t> Bytes = ReadBytes(File);
  ASSERT_EQ(Bytes.size(), 4u + 128u);
  EXPECT_EQ(std::string(Bytes.begin() + 4, Bytes.begin() + 11), std::string("TAGSong"));
}

} // namespace
