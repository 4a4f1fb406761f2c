// Ripping to "ape" through the window, on a generated disc in a virtual drive: the file our
// Monkey's Audio library writes decodes to the disc's bytes, and a missing library fails the
// track with its message.
#include "tests/app/RipWindow.h"

#include "audio/encoders/ACS_MAC.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/RefusedLibraries.h"

namespace {

// Two short tracks and one of more than one compressor frame.
std::vector<tools::TTrackSpec> ApeTracks() {
  std::vector<tools::TTrackSpec> Tracks(3);
  const uint32_t Lengths[3] = {75, 2250, 150};
  for (size_t I = 0; I < Tracks.size(); ++I) {
    Tracks[I].Sectors = Lengths[I];
    Tracks[I].Source = "chord " + std::to_string(I + 1);
  }
  return Tracks;
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(ApeTracks());

class ApeRipTest : public TRipWindowTest {
protected:
  ApeRipTest() : TRipWindowTest("ape") {}

  void RipOnly(std::initializer_list<int> Rows) {
    TickOnly(Rows);
    RipAndWait();
  }
};

TEST_F(ApeRipTest, TheWindowsMemberCarriesItsSettings) {
  EXPECT_EQ(Form1->MACOutCD->CompressionLevel(), 2000);
  EXPECT_EQ(Form1->MACOutCD->MaxAudioBytes(), -1);
  EXPECT_TRUE(Form1->MACOutCD->APEv2Tags()->IsBlank());
}

// Kept in one test: once loaded, the library stays loaded for the process.
TEST_F(ApeRipTest, AMissingLibraryFailsTheTrackAndALoadedOneRipsItExactly) {
  RefuseLibraries({"libMACDll.so"});
  RipOnly({1});
  RefuseLibraries({});
  EXPECT_NE(Grid().Cells(5, 1), "completed");
  EXPECT_EQ(Grid().CellHint(5, 1), "MACDll.dll library could not be loaded.");
  EXPECT_FALSE(std::filesystem::exists(Form1->OutputFolder + "Track01.ape"));

  RipOnly({1, 2, 3});
  for (int Track = 1; Track <= 3; ++Track) {
    SCOPED_TRACE(Track);
    const std::string File = TrackFile(Track, ".ape");
    EXPECT_EQ(Grid().Cells(5, Track), "completed");
    const TCommandResult Decoded =
        RunCommand("ffmpeg -v error -err_detect crccheck+explode -i '" + File + "' -f s16le -");
    EXPECT_EQ(Decoded.Status, 0);
    EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) ==
                Environment->TrackBytes(Track))
        << Decoded.Output.size() << " bytes";
  }
  // No tag value was set, so no file carries a tag.
  const std::vector<uint8_t> Bytes = ReadBytes(TrackFile(2, ".ape"));
  ASSERT_GE(Bytes.size(), 32u);
  EXPECT_NE(std::string(Bytes.end() - 32, Bytes.end() - 24), "APETAGEX");
}

} // namespace
