// TVorbisOut with the real Xiph libraries: the files pass ogginfo, decode to the input's length
// and carry serial 0; appending chains a second stream.
#include "audio/encoders/ACS_Vorbis.h"

#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string Lower(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return Text;
}

size_t Count(const std::string& Text, const std::string& Part) {
  size_t Found = 0;
  for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
    ++Found;
  return Found;
}

class VorbisFileTest : public ::testing::Test {
protected:
  TVorbisOut* MakeWriter(TAuInput* Input) {
    auto* Writer = new TVorbisOut(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(File);
    return Writer;
  }
  // Frames ffmpeg decodes from the file, at Channels 16-bit channels.
  size_t DecodedFrames(int Channels) const {
    const TCommandResult Decoded = RunCommand("ffmpeg -v error -i '" + File + "' -f s16le -");
    EXPECT_EQ(Decoded.Status, 0);
    return Decoded.Output.size() / (2 * static_cast<size_t>(Channels));
  }
  // The same through libvorbisfile (oggdec), which ends every stream at its last granule
  // position; ffmpeg does not for some short streams, oggenc's as much as ours.
  size_t ReferenceFrames(int Channels) const {
    const TCommandResult Decoded = RunCommand("oggdec -Q -R -o - '" + File + "'");
    EXPECT_EQ(Decoded.Status, 0);
    return Decoded.Output.size() / (2 * static_cast<size_t>(Channels));
  }
  std::string OggInfo() const {
    const TCommandResult Info = RunCommand("ogginfo '" + File + "' 2>&1");
    EXPECT_EQ(Info.Status, 0) << Info.Output;
    EXPECT_THAT(Lower(Info.Output), Not(HasSubstr("warning"))) << Info.Output;
    EXPECT_THAT(Lower(Info.Output), Not(HasSubstr("error"))) << Info.Output;
    return Info.Output;
  }

  TTempDir Dir;
  std::string File = Dir.File("out.ogg");
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

struct TVorbisCase {
  const char* Name;
  std::vector<uint8_t> Bytes;
  int32_t BPS;
  int32_t Channels;
  TVorbisBitRate Nominal;
};

class VorbisFormatTest : public VorbisFileTest,
                         public ::testing::WithParamInterface<TVorbisCase> {};

TEST_P(VorbisFormatTest, PassesOggInfoAndKeepsTheLength) {
  const TVorbisCase& Case = GetParam();
  TVorbisOut* Writer =
      MakeWriter(new TFormatInput(Root.get(), Case.Bytes, Case.BPS, Case.Channels));
  Writer->SetDesiredNominalBitrate(Case.Nominal);
  TVorbisTags Tags;
  Tags.SetTitle(u"Caf\u00e9");
  Writer->SetComments(Tags);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::string Info = OggInfo();
  EXPECT_THAT(Info, HasSubstr("serial: 00000000"));
  EXPECT_THAT(Info, HasSubstr("title=Caf\xc3\xa9"));
  const size_t FrameSize = static_cast<size_t>(Case.BPS / 8 * Case.Channels);
  EXPECT_EQ(DecodedFrames(Case.Channels), Case.Bytes.size() / FrameSize);
  EXPECT_EQ(ReferenceFrames(Case.Channels), Case.Bytes.size() / FrameSize);
}

TEST_F(VorbisFileTest, ShortStreamsKeepTheirLength) {
  for (size_t Frames : {1, 588, 5000, 18228}) {
    SCOPED_TRACE(Frames);
    TVorbisOut* Writer = MakeWriter(new TMemoryInput(Root.get(), SineBytes(Frames)));
    ASSERT_EQ(RunToEnd(*Writer), "");
    OggInfo();
    EXPECT_EQ(ReferenceFrames(2), Frames);
    // One sample makes a single audio page, which ffmpeg cannot trim.
    if (Frames > 1) {
      EXPECT_EQ(DecodedFrames(2), Frames);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, VorbisFormatTest,
    ::testing::Values(
        TVorbisCase{"QualityOnSine", SineBytes(3 * 44100 + 17), 16, 2, brAutoSelect},
        TVorbisCase{"QualityOnPattern", PatternBytes(100000), 16, 2, brAutoSelect},
        TVorbisCase{"ManagedOnSine", SineBytes(44100), 16, 2, bitrate128},
        TVorbisCase{"EightBitMono", PatternBytes(30000), 8, 1, brAutoSelect},
        TVorbisCase{"TwentyFourBitMono", PatternBytes(3 * 30000), 24, 1, brAutoSelect},
        TVorbisCase{"ChunksEndingInsideFrames", PatternBytes(6 * 30000), 24, 2, brAutoSelect}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(VorbisFileTest, AppendingChainsASecondStream) {
  TVorbisOut* Writer = MakeWriter(new TMemoryInput(Root.get(), SineBytes(44100)));
  ASSERT_EQ(RunToEnd(*Writer), "");
  const size_t FirstSize = ReadBytes(File).size();
  // The window's writer appends with serial 0 again; the new stream takes the next free one.
  Writer->SetFileMode(foAppend);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_GT(ReadBytes(File).size(), FirstSize);
  EXPECT_EQ(Writer->Serial(), 0);
  const std::string Info = OggInfo();
  EXPECT_EQ(Count(Info, "New logical stream"), 2u) << Info;
  EXPECT_THAT(Info, HasSubstr("New logical stream (#2, serial: 00000001)"));
  // ffmpeg's Ogg demuxer may drop up to one block at the end of the last stream, as it does
  // with oggenc's files.
  EXPECT_NEAR(static_cast<double>(DecodedFrames(2)), 88200, 2048);
}

TEST_F(VorbisFileTest, AppendingToAMissingFileCreatesIt) {
  TVorbisOut* Writer = MakeWriter(new TMemoryInput(Root.get(), SineBytes(44100)));
  Writer->SetFileMode(foAppend);
  ASSERT_EQ(RunToEnd(*Writer), "");
  OggInfo();
  EXPECT_EQ(ReferenceFrames(2), 44100u);
}

TEST_F(VorbisFileTest, ARateTheEncoderCannotServeIsAnError) {
  TVorbisOut* Writer = MakeWriter(new TFormatInput(Root.get(), PatternBytes(4000), 16, 2, 400000));
  EXPECT_EQ(RunToEnd(*Writer), "Vorbis codec setup with the requested quality failed.");
  Writer->SetDesiredNominalBitrate(bitrate128);
  EXPECT_EQ(RunToEnd(*Writer),
            "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
}

TEST_F(VorbisFileTest, AStoppedRunEndsAtTheLastCompletePage) {
  auto* Input = new TMemoryInput(Root.get(), SineBytes(44100 * 20));
  TVorbisOut* Writer = MakeWriter(Input);
  std::atomic<bool> Reached{false};
  Input->SetOnRead([&] {
    if (Input->ReadCount == 50)
      Reached = true;
  });
  bool Finished = false;
  Writer->SetOnDone([&](TComponent*) { Finished = true; });
  Writer->Run();
  ASSERT_TRUE(PumpUntil([&] { return Reached.load(); }));
  Writer->Stop(false);
  EXPECT_EQ(Writer->ExceptionText(), "");
  const std::vector<uint8_t> Bytes = ReadBytes(File);
  ASSERT_GT(Bytes.size(), 4u);
  // Every page is whole: ogginfo finds no broken page, only the missing end of the stream.
  const std::string Info = RunCommand("ogginfo '" + File + "' 2>&1").Output;
  EXPECT_THAT(Info, Not(HasSubstr("corrupt"))) << Info;
  EXPECT_THAT(Info, Not(HasSubstr("Hole"))) << Info;
}

} // namespace
