// TCDPlayer over the media control layer: with a scripted cdaudio device where the commands
// and values are the point, and with the play engine on a disc image where what is heard is.
#include "audio/cd/ACS_CDROM.h"

#include "platform/Mci.h"
#include "tests/support/Pump.h"
#include "tests/support/ScriptedCdAudio.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

// Three images in drives D, E and F; the demo disc stays out of the way.
class TPlayerEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", Folder.File("played.raw").c_str(), 1);
    // 8 ms a 512-frame period: faster than real time, yet with a buffer pass of most of a
    // second for the play thread to keep up on a loaded machine.
    setenv("SDL_DISKAUDIODELAY", "8", 1);
    std::vector<tools::TTrackSpec> Tracks(3);
    Tracks[0].Sectors = 150;
    Tracks[0].Source = "pattern 7";
    Tracks[1].Sectors = 300;
    Tracks[1].Source = "pattern 8";
    Tracks[2].Data = true;
    Tracks[2].Sectors = 75;
    Layout = tools::WriteDiscImage(Tracks, Folder.File("disc.cue"));
    WriteDrivesIni(Folder.Path(), {Layout.CueFile, Layout.CueFile, Layout.CueFile});
  }
  TTempDir Folder;
  tools::TDiscLayout Layout;
};
TPlayerEnvironment* Environment =
    static_cast<TPlayerEnvironment*>(::testing::AddGlobalTestEnvironment(new TPlayerEnvironment));

class ScriptedPlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    platform::SetCdAudioDeviceFactory([this](char Letter) {
      Script.Opened.push_back(Letter);
      return std::make_unique<TScriptedDevice>(Script);
    });
    Player.reset(new TCDPlayer(nullptr));
  }
  void TearDown() override {
    Player.reset();
    platform::SetCdAudioDeviceFactory(nullptr);
    platform::ClearAuxDevices();
  }

  std::string ErrorOf(const std::function<void()>& Call) {
    try {
      Call();
    } catch (const EAuException& Error) {
      return Error.Message();
    }
    return "";
  }

  TScript Script;
  TComponentPtr<TCDPlayer> Player;
};

TEST_F(ScriptedPlayerTest, DriveLettersAndTheOpenCommand) {
  EXPECT_EQ(Player->DrivesCount(), 3);
  Player->SetCurrentDrive(3);
  EXPECT_EQ(Player->CurrentDrive(), 0);
  Player->SetCurrentDrive(1);
  EXPECT_EQ(Player->CurrentDrive(), 1);
  Player->Stop();
  EXPECT_EQ(Script.Opened, std::vector<char>{'E'});
  EXPECT_EQ(Script.Closed, 1);
}

TEST_F(ScriptedPlayerTest, StatusFromTheDevicesMode) {
  struct TCase {
    bool Media;
    uint32_t Mode;
    TDriveState Expected;
  };
  const TCase Cases[] = {
      {true, platform::MCI_MODE_PLAY, drPlaying},
      {true, platform::MCI_MODE_PAUSE, drPaused},
      {true, platform::MCI_MODE_STOP, drReady},
      {true, platform::MCI_MODE_SEEK, drReady},
      {true, platform::MCI_MODE_NOT_READY, drNotReady},
      {false, platform::MCI_MODE_PLAY, drNotReady},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Mode);
    Script.Media = Case.Media;
    Script.Mode = Case.Mode;
    EXPECT_EQ(Player->Status(), Case.Expected);
    EXPECT_EQ(Player->OpenDepth(), 0);
  }
  EXPECT_EQ(Script.Opened.size(), std::size(Cases));
  EXPECT_EQ(Script.Closed, static_cast<int>(std::size(Cases)));
}

TEST_F(ScriptedPlayerTest, TrackLengthsKindsAndCount) {
  EXPECT_EQ(Player->TracksCount(), 3);
  const TTrackInfo First = Player->Tracks(1);
  EXPECT_EQ(First.Minutes, 4);
  EXPECT_EQ(First.Seconds, 3);
  EXPECT_EQ(First.Frames, 10);
  EXPECT_FALSE(First.IsData);
  EXPECT_TRUE(Player->Tracks(3).IsData);
  // The last track runs to the disc's length.
  const TTrackInfo Last = Player->Tracks(3);
  EXPECT_EQ(Last.Minutes * 4500 + Last.Seconds * 75 + Last.Frames, Frames(1, 30, 5));
  // Each operation, with all it nests, opens the device once.
  EXPECT_EQ(Script.Opened.size(), 4u);
  EXPECT_EQ(Script.Closed, 4);
}

TEST_F(ScriptedPlayerTest, WithoutADiscThereAreNoTracksAndTheDeviceIsClosed) {
  Script.Media = false;
  EXPECT_EQ(Player->TracksCount(), 0);
  EXPECT_EQ(Player->OpenDepth(), 0);
  EXPECT_EQ(Script.Closed, 1);
  EXPECT_EQ(ErrorOf([&] { Player->Play(1); }), "Device is not ready");
  EXPECT_EQ(Player->OpenDepth(), 0);
  EXPECT_EQ(Script.Closed, 2);
}

TEST_F(ScriptedPlayerTest, PlayAndItsRefusals) {
  Player->Play(1);
  Player->Play(2); // the last audio track before the data track
  Script.Audio[2] = true;
  Player->Play(3); // the last track plays to the disc's length
  EXPECT_EQ(
      Script.Calls,
      (std::vector<std::string>{
          "play " + std::to_string(Frames(0, 2, 0)) + " " + std::to_string(Frames(4, 5, 10)),
          "play " + std::to_string(Frames(4, 5, 10)) + " " + std::to_string(Frames(6, 0, 0)),
          "play " + std::to_string(Frames(6, 0, 0)) + " " + std::to_string(Frames(7, 30, 5))}));
  Script.Audio[2] = false;

  struct TCase {
    int32_t Track;
    std::string Expected;
  };
  const TCase Cases[] = {
      {3, "Trying to play a data track."}, {0, "Track out of range."}, {4, "Track out of range."}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Track);
    const size_t Opened = Script.Opened.size();
    EXPECT_EQ(ErrorOf([&] { Player->Play(Case.Track); }), Case.Expected);
    EXPECT_EQ(Player->OpenDepth(), 0);
    EXPECT_EQ(Script.Opened.size(), Opened + 1);
    EXPECT_EQ(Script.Closed, static_cast<int>(Script.Opened.size()));
  }
}

TEST_F(ScriptedPlayerTest, AFailedPlayRaisesTheDevicesErrorText) {
  Script.Result = platform::MCIERR_HARDWARE;
  char Text[256] = {};
  ASSERT_TRUE(platform::mciGetErrorStringA(platform::MCIERR_HARDWARE, Text, sizeof(Text)));
  EXPECT_EQ(ErrorOf([&] { Player->Play(1); }), Text);
  EXPECT_EQ(Player->OpenDepth(), 0);
  EXPECT_EQ(Script.Closed, 1);
}

TEST_F(ScriptedPlayerTest, PositionWithinTheTrack) {
  Script.Mode = platform::MCI_MODE_PLAY;
  const TDiscPosition Position = Player->Position();
  EXPECT_EQ(Position.Track, 2);
  EXPECT_EQ(Position.Time.Minutes, 1);
  EXPECT_EQ(Position.Time.Seconds, 7);
  EXPECT_EQ(Position.Time.Frames, 30);
  // Times read afterwards are minutes, seconds and frames again.
  EXPECT_EQ(Player->Tracks(1).Seconds, 3);
}

TEST_F(ScriptedPlayerTest, StopReachesTheDevice) {
  Player->Stop();
  EXPECT_EQ(Script.Calls, std::vector<std::string>{"stop"});
}

TEST_F(ScriptedPlayerTest, VolumesOfTheCdAudioInput) {
  // Without a CD-audio input, reads are 0 and writes do nothing.
  Player->SetLVolume(0x1234);
  EXPECT_EQ(Player->LVolume(), 0);

  platform::AUXCAPSA LineIn;
  LineIn.wTechnology = platform::AUXCAPS_AUXIN;
  platform::RegisterAuxDevice(LineIn, 0x11112222);
  platform::AUXCAPSA CdAudio;
  CdAudio.wTechnology = platform::AUXCAPS_CDAUDIO;
  const uint32_t Id = platform::RegisterAuxDevice(CdAudio, 0xFFFF1234);
  Player.reset(new TCDPlayer(nullptr));

  EXPECT_EQ(Player->LVolume(), 0x1234);
  EXPECT_EQ(Player->RVolume(), 0xFFFF);
  Player->SetLVolume(0x8000);
  uint32_t Volume = 0;
  platform::auxGetVolume(Id, &Volume);
  EXPECT_EQ(Volume, 0xFFFF8000u);
  Player->SetRVolume(0);
  platform::auxGetVolume(Id, &Volume);
  EXPECT_EQ(Volume, 0x00008000u);
  uint32_t LineVolume = 0;
  platform::auxGetVolume(0, &LineVolume);
  EXPECT_EQ(LineVolume, 0x11112222u);
}

TEST(PlayerWithoutDrives, CannotOpenTheDevice) {
  TTempDir Empty;
  WriteDrivesIni(Empty.Path(), {});
  const std::string Old = getenv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", Empty.Path().c_str(), 1);
  TComponentPtr<TCDPlayer> Player(new TCDPlayer(nullptr));
  EXPECT_EQ(Player->DrivesCount(), 0);
  try {
    Player->Stop();
    ADD_FAILURE() << "opened";
  } catch (const EAuException& Error) {
    EXPECT_EQ(Error.Message(), "Cannot open MCI audiocd device");
  }
  EXPECT_EQ(Player->OpenDepth(), 0);
  setenv("XDG_CONFIG_HOME", Old.c_str(), 1);
}

// The bytes SDL's disk driver has written so far.
std::vector<uint8_t> Played() {
  std::ifstream In(Environment->Folder.File("played.raw"), std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

TEST(PlayerOnTheEngine, PlaysTheTracksAudioThenStops) {
  TComponentPtr<TCDPlayer> Player(new TCDPlayer(nullptr));
  ASSERT_EQ(Player->TracksCount(), 3);
  const std::vector<uint8_t> Track = BinSectors(
      Environment->Layout.BinFile, Environment->Layout.Starts[1], Environment->Layout.Starts[2]);
  Player->Play(2);
  EXPECT_EQ(Player->Status(), drPlaying);
  EXPECT_TRUE(PumpUntil([&] { return Player->Status() == drReady; }));

  // The device may have written silence first; then comes the track, byte for byte.
  const std::vector<uint8_t> Bytes = Played();
  const auto Start = std::search(Bytes.begin(), Bytes.end(), Track.begin(), Track.begin() + 64);
  ASSERT_NE(Start, Bytes.end());
  ASSERT_GE(static_cast<size_t>(Bytes.end() - Start), Track.size());
  EXPECT_TRUE(std::equal(Track.begin(), Track.end(), Start));

  Player->Play(1);
  EXPECT_EQ(Player->Status(), drPlaying);
  Player->Stop();
  EXPECT_EQ(Player->Status(), drReady);
}

} // namespace
