// TFLACOut with the real libFLAC: the files pass the flac tool's test, decode bit-exactly, and
// carry our comment block and the exact sample count.
#include "audio/encoders/ACS_FLAC.h"

#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

namespace {

struct TFLACCase {
  const char* Name;
  std::vector<uint8_t> Bytes;
  int32_t BPS;
  int32_t Channels;
  int32_t Level;
  bool SizeKnown;
};

std::vector<uint8_t> Signed8(std::vector<uint8_t> Bytes) {
  for (uint8_t& Byte : Bytes)
    Byte = static_cast<uint8_t>(Byte - 128);
  return Bytes;
}

class FLACFileTest : public ::testing::TestWithParam<TFLACCase> {
protected:
  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

TEST_P(FLACFileTest, DecodesBitExactlyWithOurComments) {
  const TFLACCase& Case = GetParam();
  auto* Input = new TFormatInput(Root.get(), Case.Bytes, Case.BPS, Case.Channels);
  if (!Case.SizeKnown)
    Input->SetReportedSize(-1);
  auto* Writer = new TFLACOut(Root.get());
  Writer->SetInput(Input);
  Writer->SetCompressionLevel(Case.Level);
  TVorbisTags Tags;
  Tags.SetTrack(u"0");
  Writer->SetTags(Tags);
  const std::string File = Dir.File("out.flac");
  Writer->SetFileName(File);
  ASSERT_EQ(RunToEnd(*Writer), "");

  EXPECT_EQ(RunCommand("flac -s -t '" + File + "' 2>&1").Status, 0);
  const TCommandResult Decoded = RunCommand(FlacToRawCommand(File));
  ASSERT_EQ(Decoded.Status, 0);
  const size_t FrameSize = static_cast<size_t>(Case.BPS / 8 * Case.Channels);
  const size_t Frames = Case.Bytes.size() / FrameSize;
  std::vector<uint8_t> Expected(Case.Bytes.begin(), Case.Bytes.begin() + Frames * FrameSize);
  if (Case.BPS == 8)
    Expected = Signed8(Expected);
  EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) == Expected)
      << Decoded.Output.size() << " bytes decoded, " << Expected.size() << " expected";

  const std::string List = RunCommand("metaflac --list '" + File + "'").Output;
  EXPECT_THAT(List, HasSubstr("vendor string: VENDOR=Zivera"));
  EXPECT_THAT(List, HasSubstr("comments: 1"));
  EXPECT_THAT(List, HasSubstr("comment[0]: tracknumber=0"));
  EXPECT_THAT(List, HasSubstr("total samples: " + std::to_string(Frames) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FLACFileTest,
    ::testing::Values(TFLACCase{"WindowsSettingsOnPattern", PatternBytes(4608 * 4 * 3 + 1000), 16,
                                2, -1, true},
                      TFLACCase{"WindowsSettingsOnSine", SineBytes(44100), 16, 2, -1, true},
                      TFLACCase{"Level8OnSine", SineBytes(30000), 16, 2, 8, true},
                      TFLACCase{"SizeUntold", SineBytes(10000), 16, 2, 5, false},
                      TFLACCase{"OddByteAtTheEnd", PatternBytes(4001, 3), 16, 2, 5, true},
                      TFLACCase{"TwentyFourBitMono", PatternBytes(3 * 5000), 24, 1, 5, true},
                      TFLACCase{"EightBitStereo", PatternBytes(2 * 5000), 8, 2, -1, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(FLACFile, RewritesAnExistingFile) {
  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
  const std::string File = Dir.File("out.flac");
  {
    std::ofstream Old(File, std::ios::binary);
    Old << std::string(1 << 20, 'x');
  }
  auto* Writer = new TFLACOut(Root.get());
  Writer->SetInput(new TMemoryInput(Root.get(), SineBytes(2000)));
  Writer->SetFileName(File);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(RunCommand("flac -s -t '" + File + "' 2>&1").Status, 0);
  EXPECT_LT(ReadBytes(File).size(), 100000u);
}

} // namespace
