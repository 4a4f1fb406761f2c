// "ogg" and "flac" from the window: files that Xiph's own tools and ffmpeg read, the FLAC ones
// decoding to the disc's bytes; a missing libFLAC or libvorbisenc fails the track, not the
// program.
#include "tests/app/RipWindow.h"

#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/RefusedLibraries.h"

#include <gmock/gmock.h>

namespace {

[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(SixTracks());

using ::testing::HasSubstr;

class FlacRipTest : public TRipWindowTest {
protected:
  FlacRipTest() : TRipWindowTest("flac") {}
};

class OggRipTest : public TRipWindowTest {
protected:
  OggRipTest() : TRipWindowTest("ogg") {}
};

// One test: once loaded, the library stays loaded for the process.
TEST_F(FlacRipTest, AMissingLibraryFailsTheTrackAndTheNextBatchWritesExactFiles) {
  RefuseLibraries({"libFLAC.so.12", "libFLAC.so.8"});
  TickOnly({3});
  RipAndWait();
  RefuseLibraries({});
  EXPECT_NE(Grid().Cells(5, 3), "completed");
  EXPECT_EQ(Grid().CellHint(5, 3), "libFLAC.dll library could not be loaded.");

  TickOnly({2, 4, 5});
  RipAndWait();
  for (int Row : {2, 4, 5}) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Grid().Cells(5, Row), "completed");
    const std::string File = TrackFile(Row, ".flac");
    EXPECT_EQ(RunCommand("flac -s -t '" + File + "' 2>&1").Status, 0);
    const TCommandResult Decoded = RunCommand(FlacToRawCommand(File));
    const std::vector<uint8_t> Track = Environment->TrackBytes(Row);
    EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) == Track);
    const std::string List = RunCommand("metaflac --list '" + File + "'").Output;
    EXPECT_THAT(List, HasSubstr("vendor string: VENDOR=Zivera"));
    EXPECT_THAT(List, HasSubstr("comments: 1\n"));
    EXPECT_THAT(List, HasSubstr("comment[0]: tracknumber=0"));
    EXPECT_THAT(List, HasSubstr("total samples: " + std::to_string(Track.size() / 4) + "\n"));
  }
}

// Before any other Ogg test, since a library once loaded stays loaded.
TEST_F(OggRipTest, AMissingLibraryFailsTheTrackAndTheNextBatchRips) {
  RefuseLibraries({"libvorbisenc.so.2"});
  TickOnly({3});
  RipAndWait();
  RefuseLibraries({});
  EXPECT_NE(Grid().Cells(5, 3), "completed");
  EXPECT_EQ(Grid().CellHint(5, 3), "vorbisenc.dll library could not be loaded.");
  EXPECT_FALSE(std::filesystem::exists(TrackFile(3, ".ogg")));

  TickOnly({3});
  RipAndWait();
  EXPECT_EQ(Grid().Cells(5, 3), "completed");
  EXPECT_EQ(RunCommand("ogginfo -q '" + TrackFile(3, ".ogg") + "' 2>&1").Status, 0);
}

TEST_F(OggRipTest, FilesPassOggInfoAndKeepEverySampleOfTheTrack) {
  TickOnly({2, 4, 6});
  RipAndWait();
  for (int Row : {2, 4, 6}) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Grid().Cells(5, Row), "completed");
    const std::string File = TrackFile(Row, ".ogg");
    const TCommandResult Info = RunCommand("ogginfo '" + File + "' 2>&1");
    EXPECT_EQ(Info.Status, 0) << Info.Output;
    EXPECT_THAT(Info.Output, Not(HasSubstr("WARNING"))) << Info.Output;
    EXPECT_THAT(Info.Output, HasSubstr("serial: 00000000")) << Info.Output;
    const TCommandResult Decoded = RunCommand("ffmpeg -v error -i '" + File + "' -f s16le -");
    EXPECT_EQ(Decoded.Status, 0);
    EXPECT_EQ(Decoded.Output.size(), Environment->TrackBytes(Row).size());
  }
}

} // namespace
