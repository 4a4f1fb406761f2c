// The window closed while a track is being ripped, in every format: the file written so far is
// finished by its writer and plays in the tools others wrote, up to where the rip stopped.
#include "tests/app/RipWindow.h"

#include "tests/support/Command.h"

#include <gmock/gmock.h>

namespace {

// One long track of music, so that the window closes well inside it.
std::vector<tools::TTrackSpec> LongTrack() {
  return {{false, 4 * 60 * 75, 0, "chord 4"}};
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(LongTrack());

struct TCloseCase {
  const char* Format;
  const char* Extension;
  bool Lossless;
  // A check of the file's own structure by its format's tool, or empty.
  const char* Tester;
};

const TCloseCase CloseCases[] = {
    {"mp3", ".mp3", false, ""},        {"wma", ".wma", false, ""},
    {"wav", ".wav", true, ""},         {"ape", ".ape", true, ""},
    {"ogg", ".ogg", false, "ogginfo"}, {"flac", ".flac", true, "flac -s -t"},
};

class CloseTest : public TRipWindowTest, public ::testing::WithParamInterface<TCloseCase> {
protected:
  CloseTest() : TRipWindowTest(GetParam().Format) {}
};

TEST_P(CloseTest, TheFileWrittenSoFarIsFinishedAndPlays) {
  const TCloseCase& Case = GetParam();
  Form1->AdvGlowButton2Click();
  ASSERT_TRUE(Form1->Ripping);
  const std::string File = TrackFile(1, Case.Extension);
  // Closed once a part of the track is in the file, the rest still to come.
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::string Percent = Grid().Cells(5, 1);
        return !Percent.empty() && Percent != "completed" && std::stoi(Percent) >= 20;
      },
      120000));
  Form1->close();
  EXPECT_FALSE(Form1->RunningWriter->Running());
  EXPECT_NE(Grid().Cells(5, 1), "completed");
  ASSERT_TRUE(std::filesystem::exists(File)) << File;

  // Decoded without a single complaint from the decoder.
  const TCommandResult Decoded = RunCommand("ffmpeg -v error -xerror -i " + ShellQuoted(File) +
                                            " -f s16le -ac 2 - 2>" + ShellQuoted(File + ".log"));
  EXPECT_EQ(Decoded.Status, 0);
  const std::vector<uint8_t> Complaints = FileBytes(File + ".log");
  EXPECT_TRUE(Complaints.empty()) << std::string(Complaints.begin(), Complaints.end());
  const std::vector<uint8_t> Track = Environment->TrackBytes(1);
  const size_t Bytes = Decoded.Output.size();
  // Most of the fifth that was read before the close (the writer may hold some of it), and
  // not the whole track.
  EXPECT_GE(Bytes, Track.size() * 15 / 100);
  EXPECT_LT(Bytes, Track.size());
  if (Case.Lossless) {
    EXPECT_TRUE(std::equal(Decoded.Output.begin(), Decoded.Output.end(), Track.begin(),
                           [](char A, uint8_t B) { return static_cast<uint8_t>(A) == B; }))
        << "the decoded sound is not the start of the track";
  }
  if (*Case.Tester) {
    const TCommandResult Tested =
        RunCommand(std::string(Case.Tester) + " " + ShellQuoted(File) + " 2>&1");
    EXPECT_EQ(Tested.Status, 0) << Tested.Output;
    EXPECT_THAT(Tested.Output, ::testing::Not(::testing::HasSubstr("WARNING"))) << Tested.Output;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, CloseTest, ::testing::ValuesIn(CloseCases),
                         [](const auto& Info) { return std::string(Info.param.Format); });

} // namespace
