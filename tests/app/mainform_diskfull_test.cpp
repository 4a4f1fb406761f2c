// A disk that fills up during a rip, in every format: files of this process may grow only to a
// limit, as on a full disk. The track that does not fit fails with the reason, leaves no file
// under its name, and the batch goes on with the next ticked track.
#include "tests/app/RipWindow.h"

#include "tests/support/Command.h"
#include "tests/support/FileSizeLimit.h"

namespace {

// Track 1 is 20 s of noise, past the limit in every format; track 2 fits in every format.
constexpr rlim_t SizeLimit = 64 * 1024;
std::vector<tools::TTrackSpec> DiskFullDisc() {
  return {{false, 1500, 0, "pattern 1"}, {false, 10, 0, "chord 2"}};
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(DiskFullDisc());

struct DiskFullCase {
  const char* Format;
  const char* Extension;
  // The system's text, or the writer's where its library keeps only a code.
  const char* Reason;
  bool Lossless;
};

class DiskFullTest : public TRipWindowTest, public ::testing::WithParamInterface<DiskFullCase> {
protected:
  DiskFullTest() : TRipWindowTest(GetParam().Format) {}
};

TEST_P(DiskFullTest, TheTrackThatDoesNotFitFailsWithTheReasonAndLeavesNoFile) {
  const DiskFullCase& Case = GetParam();
  TickOnly({1, 2});
  {
    const TFileSizeLimit Limit(SizeLimit);
    RipAndWait();
  }
  EXPECT_NE(Grid().Cells(5, 1), "completed");
  EXPECT_EQ(Grid().CellHint(5, 1), Case.Reason);
  EXPECT_FALSE(std::filesystem::exists(TrackFile(1, Case.Extension)));

  EXPECT_EQ(Grid().Cells(5, 2), "completed");
  EXPECT_EQ(Grid().CellHint(5, 2), "");
  const TCommandResult Decoded =
      RunCommand("ffmpeg -v error -i " + ShellQuoted(TrackFile(2, Case.Extension)) +
                 " -f s16le - 2>/dev/null");
  EXPECT_EQ(Decoded.Status, 0);
  if (Case.Lossless) {
    const std::vector<uint8_t> Track = Environment->TrackBytes(2);
    EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) == Track)
        << Decoded.Output.size() << " bytes decoded of " << Track.size();
  } else {
    EXPECT_FALSE(Decoded.Output.empty());
  }
  EXPECT_TRUE(Grid().DblClickEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DiskFullTest,
    ::testing::Values(DiskFullCase{"wav", ".wav", "File too large", true},
                      DiskFullCase{"mp3", ".mp3", "File too large", false},
                      DiskFullCase{"wma", ".wma", "Failed to write data: 80520007 (File too large)", false},
                      DiskFullCase{"ape", ".ape", "APECompress.UnlockBuffer Error: I/O write error", true},
                      DiskFullCase{"ogg", ".ogg", "File too large", false},
                      DiskFullCase{"flac", ".flac", "File too large", true}),
    [](const auto& Info) { return std::string(Info.param.Format); });

} // namespace
