// The media control layer: commands parsed and answered over a scripted cdaudio device where
// the values passed are the point, and over the play engine on a generated disc image where
// what the drive reports and plays is.
#include "platform/Mci.h"

#include "platform/DriveRegistry.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/Pump.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScriptedCdAudio.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <thread>

using namespace platform;

namespace {

constexpr uint32_t Msf(uint32_t Minutes, uint32_t Seconds, uint32_t Frame) {
  return Minutes | Seconds << 8 | Frame << 16;
}
constexpr uint32_t Tmsf(uint32_t Track, uint32_t Minutes, uint32_t Seconds, uint32_t Frame) {
  return Track | Minutes << 8 | Seconds << 16 | Frame << 24;
}
constexpr uint32_t MsfOf(uint32_t Count) {
  return Msf(Count / 4500, Count / 75 % 60, Count % 75);
}
constexpr size_t SectorBytes = 2352;
// The engine's buffer: a second of sound.
constexpr size_t BufferBytes = 75 * SectorBytes;

// Packed times do not compare as numbers (the frames are the high byte): these unpack them.
constexpr uint32_t FramesOfMsf(uintptr_t Packed) {
  return Frames(Packed & 0xFF, (Packed >> 8) & 0xFF, (Packed >> 16) & 0xFF);
}
constexpr uint32_t FramesIntoTrack(uintptr_t Tmsf) {
  return FramesOfMsf(Tmsf >> 8);
}

// What a player without drives sends: the letter is a NUL.
const char NulCommand[] = "open \0\\: type cdaudio alias cd2 shareable";
const std::string NulLetter(NulCommand, sizeof NulCommand - 1);

TEST(MciOpenCommand, ParsesTheOpenCommandAndNothingElse) {
  struct TCase {
    std::string Command;
    MCIERROR Expected;
    char Letter = 0;
    std::string Alias = "";
    bool Shareable = false;
  };
  const TCase Cases[] = {
      {"open E\\: type cdaudio alias cd2 shareable", 0, 'E', "cd2", true},
      {"OPEN e\\: Type CDAudio ALIAS Cd2 SHAREABLE", 0, 'E', "Cd2", true},
      {"  open\tZ\\:  type cdaudio   alias x  ", 0, 'Z', "x", false},
      {"", MCIERR_MISSING_COMMAND_STRING},
      {" \t ", MCIERR_MISSING_COMMAND_STRING},
      {"play cd2 from 1", MCIERR_UNRECOGNIZED_COMMAND},
      {"opencd E\\: type cdaudio alias cd2", MCIERR_UNRECOGNIZED_COMMAND},
      {"\xff\xfe\x01", MCIERR_UNRECOGNIZED_COMMAND},
      {"open", MCIERR_MISSING_DEVICE_NAME},
      {NulLetter, MCIERR_INVALID_DEVICE_NAME},
      {"open E:\\ type cdaudio alias cd2", MCIERR_INVALID_DEVICE_NAME},
      {"open E: type cdaudio alias cd2", MCIERR_INVALID_DEVICE_NAME},
      {"open EE\\: type cdaudio alias cd2", MCIERR_INVALID_DEVICE_NAME},
      {"open 1\\: type cdaudio alias cd2", MCIERR_INVALID_DEVICE_NAME},
      {"open \\: type cdaudio alias cd2", MCIERR_INVALID_DEVICE_NAME},
      {"open E\\: type waveaudio alias cd2", MCIERR_UNRECOGNIZED_KEYWORD},
      {"open E\\: alias cd2 type cdaudio", MCIERR_UNRECOGNIZED_KEYWORD},
      {"open E\\: type cdaudio", MCIERR_UNRECOGNIZED_KEYWORD},
      {"open E\\: type cdaudio alias", MCIERR_MISSING_PARAMETER},
      {"open E\\: type cdaudio alias cd2 wait", MCIERR_UNRECOGNIZED_KEYWORD},
      {"open E\\: type cdaudio alias cd2 shareable notify", MCIERR_UNRECOGNIZED_KEYWORD},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Command);
    TOpenCommand Open;
    EXPECT_EQ(ParseOpenCommand(Case.Command, Open), Case.Expected);
    if (Case.Expected != 0)
      continue;
    EXPECT_EQ(Open.Letter, Case.Letter);
    EXPECT_EQ(Open.Alias, Case.Alias);
    EXPECT_EQ(Open.Shareable, Case.Shareable);
  }
}

// Commands made of the open command's own pieces and of stray bytes, so that many get far into
// the parser: none may read outside the text, and what passes is a well-formed command.
TEST(MciOpenCommand, AnyBytesAreParsedSafely) {
  const std::string Pieces[] = {"open",
                                " ",
                                "E",
                                "e",
                                "\\",
                                ":",
                                "\\:",
                                "type",
                                "cdaudio",
                                "alias",
                                "cd2",
                                "shareable",
                                std::string(1, '\0'),
                                "\t",
                                "\xff",
                                "x"};
  std::mt19937 Random(7);
  for (int Round = 0; Round < 20000; ++Round) {
    std::string Command;
    const size_t Count = Random() % 14;
    for (size_t I = 0; I < Count; ++I)
      Command += Random() % 4 ? Pieces[Random() % std::size(Pieces)]
                              : std::string(1, static_cast<char>(Random()));
    // Exactly as long as the pieces, so that a read past the end is caught.
    const std::vector<char> Bytes(Command.begin(), Command.end());
    TOpenCommand Open;
    if (ParseOpenCommand(std::string_view(Bytes.data(), Bytes.size()), Open) != 0)
      continue;
    SCOPED_TRACE(Command);
    EXPECT_TRUE(Open.Letter >= 'A' && Open.Letter <= 'Z');
    EXPECT_FALSE(Open.Alias.empty());
    EXPECT_EQ(Open.Alias.find_first_of(" \t"), std::string::npos);
  }
}

// The disc of the image drive, documented as the tests read it: track 1 from LSN 0 (00:02:00);
// track 2 after a pregap of 33 sectors, which lies in track 1's range; a data track after a
// pregap of 10; then a longer audio track after a pregap of two seconds.
const std::vector<tools::TTrackSpec> MixedDisc = {
    {false, 150, 0, "pattern 1"},
    {false, 120, 33, "pattern 2"},
    {true, 75, 10, ""},
    {false, 1500, 150, "pattern 4"},
};

// Drive letters after the physical drives: the image above, then an image that does not open,
// which is a drive without a disc.
class MciTest : public testing::Test {
protected:
  void SetUp() override {
    Disc = tools::WriteDiscImage(MixedDisc, Dir.File("disc.cue"));
    WriteDrivesIni(Dir.Path(), {Disc.CueFile, Dir.File("missing.cue")});
  }

  void TearDown() override {
    for (const MCIDEVICEID Id : Opened)
      mciSendCommandA(Id, MCI_CLOSE, 0, nullptr);
    SetCdAudioDeviceFactory(nullptr);
    ClearAuxDevices();
    // The engine outlives the test: leave it stopped.
    if (const MCIDEVICEID Id = Open(DiscDrive(), "teardown")) {
      mciSendCommandA(Id, MCI_STOP, 0, nullptr);
      mciSendCommandA(Id, MCI_CLOSE, 0, nullptr);
    }
  }

  char DiscDrive() const { return static_cast<char>('D' + Physical); }
  char EmptyDrive() const { return static_cast<char>('D' + Physical + 1); }
  // The absolute frame where a track of the image starts, from 1; the lead-out after the last.
  uint32_t StartOf(size_t Track) const {
    return (Track > Disc.Starts.size() ? Disc.LeadOut : Disc.Starts[Track - 1]) + 150;
  }

  MCIDEVICEID Open(char Letter, const std::string& Alias) {
    const std::string Command =
        std::string("open ") + Letter + "\\: type cdaudio alias " + Alias + " shareable";
    if (mciSendStringA(Command.c_str(), nullptr, 0, nullptr) != 0)
      return 0;
    const MCIDEVICEID Id = mciGetDeviceIDA(Alias.c_str());
    Opened.push_back(Id);
    return Id;
  }

  static MCIERROR Query(MCIDEVICEID Id, uint32_t Item, uint32_t Track, uintptr_t& Result) {
    MCI_STATUS_PARMS Params;
    Params.dwItem = Item;
    Params.dwTrack = Track;
    const MCIERROR Error =
        mciSendCommandA(Id, MCI_STATUS, MCI_STATUS_ITEM | (Track ? MCI_TRACK : 0), &Params);
    Result = Params.dwReturn;
    return Error;
  }

  static uintptr_t StatusOf(MCIDEVICEID Id, uint32_t Item, uint32_t Track = 0) {
    uintptr_t Result = 0;
    EXPECT_EQ(Query(Id, Item, Track, Result), 0u) << "item " << Item << " track " << Track;
    return Result;
  }

  static MCIERROR SetFormat(MCIDEVICEID Id, uint32_t Format) {
    MCI_SET_PARMS Params;
    Params.dwTimeFormat = Format;
    return mciSendCommandA(Id, MCI_SET, MCI_SET_TIME_FORMAT, &Params);
  }

  static MCIERROR Play(MCIDEVICEID Id, uintptr_t Flags, uint32_t From, uint32_t To) {
    MCI_PLAY_PARMS Params;
    Params.dwFrom = From;
    Params.dwTo = To;
    return mciSendCommandA(Id, MCI_PLAY, Flags, &Params);
  }

  TTempDir Dir;
  const TScopedEnv ConfigHome{"XDG_CONFIG_HOME", Dir.Path().c_str()};
  const std::string NoDemo = Dir.File("no-demo.cue");
  const TScopedEnv Demo{"TAVRUNE_DEMO_DISC", NoDemo.c_str()};
  // A machine with CD drives lists them first.
  const size_t Physical = std::ranges::count(CDDrives(), false, &TDriveInfo::Virtual);
  tools::TDiscLayout Disc;
  std::vector<MCIDEVICEID> Opened;
};

class ScriptedMciTest : public MciTest {
protected:
  void SetUp() override {
    MciTest::SetUp();
    SetCdAudioDeviceFactory([this](char Letter) {
      Script.Opened.push_back(Letter);
      return std::make_unique<TScriptedDevice>(Script);
    });
  }

  TScript Script;
};

TEST_F(ScriptedMciTest, OpensTheDeviceOnDriveEUnderItsAlias) {
  // Two images at least, so there is a drive E whatever drives come first.
  ASSERT_EQ(GetDriveType('E'), DRIVE_CDROM);
  char Returned[16] = "garbage";
  ASSERT_EQ(mciSendStringA("open E\\: type cdaudio alias cd2 shareable", Returned, sizeof Returned,
                           nullptr),
            0u);
  const MCIDEVICEID Id = mciGetDeviceIDA("cd2");
  Opened.push_back(Id);
  EXPECT_NE(Id, 0u);
  EXPECT_EQ(std::string(Returned), std::to_string(Id));
  EXPECT_EQ(mciGetDeviceIDA("CD2"), Id);
  EXPECT_EQ(mciGetDeviceIDA("cd3"), 0u);
  EXPECT_EQ(mciGetDeviceIDA(nullptr), 0u);
  EXPECT_EQ(Script.Opened, std::vector<char>{'E'});

  // An alias is one device's, in any case; another alias opens another device on the drive.
  EXPECT_EQ(mciSendStringA("open E\\: type cdaudio alias cd2 shareable", Returned, sizeof Returned,
                           nullptr),
            MCIERR_DUPLICATE_ALIAS);
  EXPECT_EQ(std::string(Returned), "");
  EXPECT_EQ(mciSendStringA("open d\\: type cdaudio alias CD2", nullptr, 0, nullptr),
            MCIERR_DUPLICATE_ALIAS);
  const MCIDEVICEID Other = Open('e', "other");
  EXPECT_NE(Other, 0u);
  EXPECT_NE(Other, Id);
  EXPECT_EQ(Script.Opened, (std::vector<char>{'E', 'E'}));
}

TEST_F(ScriptedMciTest, RefusesLettersThatAreNoDriveAndOtherCommands) {
  const char AfterTheLast = static_cast<char>(EmptyDrive() + 1);
  const struct {
    std::string Command;
    MCIERROR Expected;
  } Cases[] = {
      // The NUL ends the text.
      {NulLetter, MCIERR_MISSING_DEVICE_NAME},
      {"open C\\: type cdaudio alias cd2 shareable", MCIERR_INVALID_DEVICE_NAME},
      {std::string("open ") + AfterTheLast + "\\: type cdaudio alias cd2",
       MCIERR_INVALID_DEVICE_NAME},
      {"close cd2", MCIERR_UNRECOGNIZED_COMMAND},
      {"status cd2 mode", MCIERR_UNRECOGNIZED_COMMAND},
      {"open D\\: type cdaudio alias", MCIERR_MISSING_PARAMETER},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Command);
    EXPECT_EQ(mciSendStringA(Case.Command.c_str(), nullptr, 0, nullptr), Case.Expected);
  }
  EXPECT_EQ(mciSendStringA(nullptr, nullptr, 0, nullptr), MCIERR_MISSING_COMMAND_STRING);
  EXPECT_TRUE(Script.Opened.empty());
  EXPECT_EQ(mciGetDeviceIDA("cd2"), 0u);
}

TEST_F(ScriptedMciTest, CloseFreesTheIdAndTheAlias) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  EXPECT_EQ(mciSendCommandA(Id, MCI_CLOSE, 0, nullptr), 0u);
  EXPECT_EQ(Script.Closed, 1);
  EXPECT_EQ(mciGetDeviceIDA("cd2"), 0u);
  uintptr_t Result = 0;
  EXPECT_EQ(Query(Id, MCI_STATUS_MODE, 0, Result), MCIERR_INVALID_DEVICE_ID);
  EXPECT_EQ(mciSendCommandA(Id, MCI_CLOSE, 0, nullptr), MCIERR_INVALID_DEVICE_ID);
  EXPECT_EQ(Script.Closed, 1);

  // The alias opens again, with an id of its own.
  const MCIDEVICEID Again = Open(DiscDrive(), "cd2");
  EXPECT_NE(Again, 0u);
  EXPECT_NE(Again, Id);
  EXPECT_EQ(Query(Id, MCI_STATUS_MODE, 0, Result), MCIERR_INVALID_DEVICE_ID);
  EXPECT_EQ(Query(Again, MCI_STATUS_MODE, 0, Result), 0u);
}

TEST_F(ScriptedMciTest, RefusesUnknownIdsCommandsFlagsAndMissingRecords) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  MCI_SET_PARMS Set;
  Set.dwTimeFormat = MCI_FORMAT_MSF;
  MCI_STATUS_PARMS Status;
  Status.dwItem = MCI_STATUS_MODE;
  MCI_PLAY_PARMS Play;
  MCI_GENERIC_PARMS Generic;
  const struct {
    const char* Name;
    MCIDEVICEID Device;
    uint32_t Message;
    uintptr_t Flags;
    void* Record;
    MCIERROR Expected;
  } Cases[] = {
      {"id 0", 0, MCI_STATUS, MCI_STATUS_ITEM, &Status, MCIERR_INVALID_DEVICE_ID},
      {"an id never given", Id + 1000, MCI_STOP, 0, &Generic, MCIERR_INVALID_DEVICE_ID},
      {"open by record", Id, MCI_OPEN, 0, &Generic, MCIERR_UNRECOGNIZED_COMMAND},
      {"an unknown command", Id, 0x999, 0, &Generic, MCIERR_UNRECOGNIZED_COMMAND},
      {"status with a play flag", Id, MCI_STATUS, MCI_STATUS_ITEM | MCI_FROM, &Status,
       MCIERR_UNRECOGNIZED_KEYWORD},
      {"stop with the notify flag", Id, MCI_STOP, 0x1, &Generic, MCIERR_UNRECOGNIZED_KEYWORD},
      {"play of a track", Id, MCI_PLAY, MCI_TRACK, &Play, MCIERR_UNRECOGNIZED_KEYWORD},
      {"status without its record", Id, MCI_STATUS, MCI_STATUS_ITEM, nullptr,
       MCIERR_NULL_PARAMETER_BLOCK},
      {"set without its record", Id, MCI_SET, MCI_SET_TIME_FORMAT, nullptr,
       MCIERR_NULL_PARAMETER_BLOCK},
      {"play from without its record", Id, MCI_PLAY, MCI_FROM, nullptr,
       MCIERR_NULL_PARAMETER_BLOCK},
      {"status without an item", Id, MCI_STATUS, 0, nullptr, MCIERR_MISSING_PARAMETER},
      {"set without a time format", Id, MCI_SET, 0, &Set, MCIERR_MISSING_PARAMETER},
      {"stop without a record", Id, MCI_STOP, 0, nullptr, 0},
      {"pause without a record", Id, MCI_PAUSE, 0, nullptr, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(mciSendCommandA(Case.Device, Case.Message, Case.Flags, Case.Record), Case.Expected);
  }
  EXPECT_EQ(Script.Calls, (std::vector<std::string>{"stop", "pause"}));
}

TEST_F(ScriptedMciTest, TakesMsfAndTmsfAndNoOtherTimeFormat) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2"), Other = Open(DiscDrive(), "other");
  for (const uint32_t Refused : {0u, 1u, 3u, 8u, 11u})
    EXPECT_EQ(SetFormat(Id, Refused), MCIERR_BAD_TIME_FORMAT) << Refused;
  EXPECT_EQ(SetFormat(Id, MCI_FORMAT_TMSF), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Tmsf(2, 1, 7, 30));
  // A refused format leaves the one set; each device has its own.
  EXPECT_EQ(SetFormat(Id, 0), MCIERR_BAD_TIME_FORMAT);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Tmsf(2, 1, 7, 30));
  EXPECT_EQ(StatusOf(Other, MCI_STATUS_POSITION), Msf(5, 12, 40));
  EXPECT_EQ(SetFormat(Id, MCI_FORMAT_MSF), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Msf(5, 12, 40));
}

TEST_F(ScriptedMciTest, StatusItemsInEachTimeFormat) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  Script.Mode = MCI_MODE_PAUSE;
  const uint32_t Playing = Script.Position;
  struct TCase {
    const char* Name;
    uint32_t Format, Item, Track, Position;
    uintptr_t Expected;
  };
  const TCase Cases[] = {
      {"disc length", MCI_FORMAT_MSF, MCI_STATUS_LENGTH, 0, Playing, Msf(7, 30, 5)},
      {"disc length, TMSF", MCI_FORMAT_TMSF, MCI_STATUS_LENGTH, 0, Playing, Msf(7, 30, 5)},
      {"track length", MCI_FORMAT_MSF, MCI_STATUS_LENGTH, 1, Playing, Msf(4, 3, 10)},
      {"track length, TMSF", MCI_FORMAT_TMSF, MCI_STATUS_LENGTH, 2, Playing, Msf(1, 54, 65)},
      {"last track to the end", MCI_FORMAT_MSF, MCI_STATUS_LENGTH, 3, Playing, Msf(1, 30, 5)},
      {"track start", MCI_FORMAT_MSF, MCI_STATUS_POSITION, 2, Playing, Msf(4, 5, 10)},
      {"track start, TMSF", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 2, Playing, Tmsf(2, 0, 0, 0)},
      {"position", MCI_FORMAT_MSF, MCI_STATUS_POSITION, 0, Playing, Msf(5, 12, 40)},
      {"position, TMSF", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 0, Playing, Tmsf(2, 1, 7, 30)},
      {"at a track's start", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 0, Frames(6, 0, 0),
       Tmsf(3, 0, 0, 0)},
      {"a frame before it", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 0, Frames(5, 59, 74),
       Tmsf(2, 1, 54, 64)},
      {"before track 1", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 0, Frames(0, 1, 0),
       Tmsf(1, 0, 0, 0)},
      {"at the disc's end", MCI_FORMAT_TMSF, MCI_STATUS_POSITION, 0, Frames(7, 30, 5),
       Tmsf(3, 1, 30, 5)},
      {"tracks", MCI_FORMAT_MSF, MCI_STATUS_NUMBER_OF_TRACKS, 0, Playing, 3},
      {"mode", MCI_FORMAT_MSF, MCI_STATUS_MODE, 0, Playing, MCI_MODE_PAUSE},
      {"media", MCI_FORMAT_MSF, MCI_STATUS_MEDIA_PRESENT, 0, Playing, 1},
      {"audio track", MCI_FORMAT_MSF, MCI_CDA_STATUS_TYPE_TRACK, 2, Playing, MCI_CDA_TRACK_AUDIO},
      {"data track", MCI_FORMAT_TMSF, MCI_CDA_STATUS_TYPE_TRACK, 3, Playing, MCI_CDA_TRACK_OTHER},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ASSERT_EQ(SetFormat(Id, Case.Format), 0u);
    Script.Position = Case.Position;
    EXPECT_EQ(StatusOf(Id, Case.Item, Case.Track), Case.Expected);
  }

  const struct {
    const char* Name;
    uintptr_t Flags;
    uint32_t Item, Track;
    MCIERROR Expected;
  } Refused[] = {
      {"track 0", MCI_STATUS_ITEM | MCI_TRACK, MCI_STATUS_LENGTH, 0, MCIERR_OUTOFRANGE},
      {"track after the last", MCI_STATUS_ITEM | MCI_TRACK, MCI_STATUS_POSITION, 4,
       MCIERR_OUTOFRANGE},
      {"kind of no track", MCI_STATUS_ITEM, MCI_CDA_STATUS_TYPE_TRACK, 1, MCIERR_MISSING_PARAMETER},
      {"count of a track", MCI_STATUS_ITEM | MCI_TRACK, MCI_STATUS_NUMBER_OF_TRACKS, 1,
       MCIERR_FLAGS_NOT_COMPATIBLE},
      {"an item not known", MCI_STATUS_ITEM, 6, 0, MCIERR_UNSUPPORTED_FUNCTION},
      {"no item", 0, MCI_STATUS_MODE, 0, MCIERR_MISSING_PARAMETER},
  };
  for (const auto& Case : Refused) {
    SCOPED_TRACE(Case.Name);
    MCI_STATUS_PARMS Params;
    Params.dwItem = Case.Item;
    Params.dwTrack = Case.Track;
    EXPECT_EQ(mciSendCommandA(Id, MCI_STATUS, Case.Flags, &Params), Case.Expected);
  }
}

TEST_F(ScriptedMciTest, PlaysRangesGivenInEachTimeFormat) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  struct TCase {
    const char* Name;
    uint32_t Format;
    uintptr_t Flags;
    uint32_t From, To;
    MCIERROR Expected;
    std::string Call; // none when the layer refuses
  };
  const uintptr_t Both = MCI_FROM | MCI_TO;
  const TCase Cases[] = {
      {"a track", MCI_FORMAT_MSF, Both, Msf(0, 2, 0), Msf(4, 5, 10), 0, "play 150 18385"},
      {"a track, TMSF", MCI_FORMAT_TMSF, Both, Tmsf(2, 0, 0, 0), Tmsf(3, 0, 0, 0), 0,
       "play 18385 27000"},
      {"within a track, TMSF", MCI_FORMAT_TMSF, Both, Tmsf(2, 0, 1, 0), Tmsf(2, 0, 2, 5), 0,
       "play 18460 18540"},
      {"to the end", MCI_FORMAT_MSF, MCI_FROM, Msf(6, 0, 0), 0, 0, "play 27000 33755"},
      {"from where play is", MCI_FORMAT_MSF, MCI_TO, 0, Msf(7, 0, 0), 0, "play 23440 31500"},
      {"resume", MCI_FORMAT_MSF, 0, 0, 0, 0, "play 23440 33755"},
      {"nothing", MCI_FORMAT_MSF, Both, Msf(1, 0, 0), Msf(1, 0, 0), 0, "play 4500 4500"},
      {"up to the disc's end", MCI_FORMAT_MSF, Both, Msf(7, 0, 0), Msf(7, 30, 5), 0,
       "play 31500 33755"},
      {"backwards", MCI_FORMAT_MSF, Both, Msf(4, 0, 0), Msf(3, 0, 0), MCIERR_OUTOFRANGE, ""},
      {"past the end", MCI_FORMAT_MSF, Both, Msf(7, 0, 0), Msf(7, 30, 6), MCIERR_OUTOFRANGE, ""},
      {"before the disc", MCI_FORMAT_MSF, MCI_FROM, Msf(0, 1, 74), 0, MCIERR_OUTOFRANGE, ""},
      {"second 60", MCI_FORMAT_MSF, MCI_FROM, Msf(1, 60, 0), 0, MCIERR_OUTOFRANGE, ""},
      {"frame 75", MCI_FORMAT_MSF, MCI_FROM, Msf(1, 0, 75), 0, MCIERR_OUTOFRANGE, ""},
      {"track 0", MCI_FORMAT_TMSF, MCI_FROM, Tmsf(0, 0, 0, 0), 0, MCIERR_OUTOFRANGE, ""},
      {"track after the last", MCI_FORMAT_TMSF, Both, Tmsf(1, 0, 0, 0), Tmsf(4, 0, 0, 0),
       MCIERR_OUTOFRANGE, ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Script.Calls.clear();
    ASSERT_EQ(SetFormat(Id, Case.Format), 0u);
    EXPECT_EQ(Play(Id, Case.Flags, Case.From, Case.To), Case.Expected);
    EXPECT_EQ(Script.Calls,
              Case.Call.empty() ? std::vector<std::string>{} : std::vector<std::string>{Case.Call});
  }

  // The device's own error comes back as it is.
  Script.Result = MCIERR_HARDWARE;
  EXPECT_EQ(Play(Id, 0, 0, 0), MCIERR_HARDWARE);
  EXPECT_EQ(mciSendCommandA(Id, MCI_STOP, 0, nullptr), MCIERR_HARDWARE);
}

TEST_F(ScriptedMciTest, WithoutADiscOnlyPresenceAndModeAnswer) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  Script.Media = false;
  Script.Mode = MCI_MODE_PLAY;
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MEDIA_PRESENT), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_NOT_READY);
  uintptr_t Result = 0;
  EXPECT_EQ(Query(Id, MCI_STATUS_NUMBER_OF_TRACKS, 0, Result), MCIERR_DEVICE_NOT_READY);
  EXPECT_EQ(Query(Id, MCI_STATUS_POSITION, 1, Result), MCIERR_DEVICE_NOT_READY);
  EXPECT_EQ(Play(Id, MCI_FROM, Msf(0, 2, 0), 0), MCIERR_DEVICE_NOT_READY);
  EXPECT_EQ(mciSendCommandA(Id, MCI_PAUSE, 0, nullptr), MCIERR_DEVICE_NOT_READY);
  // Stopping is always safe.
  EXPECT_EQ(mciSendCommandA(Id, MCI_STOP, 0, nullptr), 0u);
  EXPECT_EQ(Script.Calls, std::vector<std::string>{"stop"});
}

TEST_F(MciTest, ReportsTheImagesTracksWithTheirPregapsAndKinds) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  EXPECT_NE(StatusOf(Id, MCI_STATUS_MEDIA_PRESENT), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_STOP);
  ASSERT_EQ(StatusOf(Id, MCI_STATUS_NUMBER_OF_TRACKS), MixedDisc.size());
  EXPECT_EQ(StartOf(1), Frames(0, 2, 0));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_LENGTH), MsfOf(StartOf(5)));
  // Before any play the drive is at the first track.
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Msf(0, 2, 0));
  const uint32_t Kinds[] = {MCI_CDA_TRACK_AUDIO, MCI_CDA_TRACK_AUDIO, MCI_CDA_TRACK_OTHER,
                            MCI_CDA_TRACK_AUDIO};
  for (uint32_t Track = 1; Track <= MixedDisc.size(); ++Track) {
    SCOPED_TRACE(Track);
    EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION, Track), MsfOf(StartOf(Track)));
    // A track runs to the next one's start, over the next one's pregap.
    EXPECT_EQ(StatusOf(Id, MCI_STATUS_LENGTH, Track), MsfOf(StartOf(Track + 1) - StartOf(Track)));
    EXPECT_EQ(StatusOf(Id, MCI_CDA_STATUS_TYPE_TRACK, Track), Kinds[Track - 1]);
  }
  // The track 2 start the image has, and the last track's length as the player works it out.
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION, 2), MsfOf(150 + 150 + 33));
  EXPECT_EQ(StartOf(5) - StartOf(4), 1500u);

  ASSERT_EQ(SetFormat(Id, MCI_FORMAT_TMSF), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Tmsf(1, 0, 0, 0));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION, 3), Tmsf(3, 0, 0, 0));
  uintptr_t Result = 0;
  EXPECT_EQ(Query(Id, MCI_STATUS_LENGTH, 5, Result), MCIERR_OUTOFRANGE);
}

TEST_F(MciTest, ADriveWithoutADiscIsNotReady) {
  const MCIDEVICEID Id = Open(EmptyDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MEDIA_PRESENT), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_NOT_READY);
  for (const uint32_t Item :
       {MCI_STATUS_NUMBER_OF_TRACKS, MCI_STATUS_LENGTH, MCI_STATUS_POSITION}) {
    uintptr_t Result = 0;
    EXPECT_EQ(Query(Id, Item, 0, Result), MCIERR_DEVICE_NOT_READY) << Item;
  }
  uintptr_t Result = 0;
  EXPECT_EQ(Query(Id, MCI_CDA_STATUS_TYPE_TRACK, 1, Result), MCIERR_DEVICE_NOT_READY);
  EXPECT_EQ(Play(Id, MCI_FROM, Msf(0, 2, 0), 0), MCIERR_DEVICE_NOT_READY);
  EXPECT_FALSE(DrivePlaying(EmptyDrive()));
}

TEST(MciErrorText, HasATextForEachOfItsErrors) {
  const MCIERROR Errors[] = {
      MCIERR_INVALID_DEVICE_ID,    MCIERR_UNRECOGNIZED_KEYWORD,
      MCIERR_UNRECOGNIZED_COMMAND, MCIERR_HARDWARE,
      MCIERR_INVALID_DEVICE_NAME,  MCIERR_MISSING_COMMAND_STRING,
      MCIERR_MISSING_PARAMETER,    MCIERR_UNSUPPORTED_FUNCTION,
      MCIERR_DEVICE_NOT_READY,     MCIERR_INTERNAL,
      MCIERR_OUTOFRANGE,           MCIERR_FLAGS_NOT_COMPATIBLE,
      MCIERR_DUPLICATE_ALIAS,      MCIERR_MISSING_DEVICE_NAME,
      MCIERR_BAD_TIME_FORMAT,      MCIERR_NULL_PARAMETER_BLOCK,
  };
  std::set<std::string> Texts;
  for (const MCIERROR Error : Errors) {
    char Text[255];
    EXPECT_TRUE(mciGetErrorStringA(Error, Text, sizeof Text)) << Error;
    EXPECT_GT(std::strlen(Text), 10u) << Error;
    Texts.insert(Text);
  }
  EXPECT_EQ(Texts.size(), std::size(Errors));

  // Cut to fit, and always terminated.
  char Full[255], Short[8];
  std::memset(Short, 'x', sizeof Short);
  ASSERT_TRUE(mciGetErrorStringA(MCIERR_DEVICE_NOT_READY, Full, sizeof Full));
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_DEVICE_NOT_READY, Short, sizeof Short));
  EXPECT_EQ(std::string(Short), std::string(Full).substr(0, 7));

  for (const MCIERROR Unknown : {0u, 1u, 258u, 999u, 0xFFFFFFFFu}) {
    char Text[32] = "left over";
    EXPECT_FALSE(mciGetErrorStringA(Unknown, Text, sizeof Text)) << Unknown;
    EXPECT_EQ(Text[0], '\0') << Unknown;
  }
  char Untouched[4] = "abc";
  EXPECT_FALSE(mciGetErrorStringA(MCIERR_DEVICE_NOT_READY, nullptr, 10));
  EXPECT_FALSE(mciGetErrorStringA(MCIERR_DEVICE_NOT_READY, Untouched, 0));
  EXPECT_EQ(std::string(Untouched), "abc");
}

class AuxDeviceTest : public testing::Test {
protected:
  void TearDown() override { ClearAuxDevices(); }
};

TEST_F(AuxDeviceTest, NoneUntilRegisteredThenEachHoldsItsCapsAndVolume) {
  EXPECT_EQ(auxGetNumDevs(), 0u);
  AUXCAPSA Line;
  Line.wTechnology = AUXCAPS_AUXIN;
  std::strcpy(Line.szPname, "Line in");
  AUXCAPSA Cd;
  Cd.wMid = 1;
  Cd.wPid = 2;
  Cd.vDriverVersion = 0x0501;
  std::strcpy(Cd.szPname, "CD audio");
  Cd.wTechnology = AUXCAPS_CDAUDIO;
  Cd.dwSupport = AUXCAPS_VOLUME | AUXCAPS_LRVOLUME;
  EXPECT_EQ(RegisterAuxDevice(Line, 0x11112222), 0u);
  EXPECT_EQ(RegisterAuxDevice(Cd, 0xFFFF1234), 1u);
  ASSERT_EQ(auxGetNumDevs(), 2u);

  AUXCAPSA Caps;
  ASSERT_EQ(auxGetDevCapsA(1, &Caps, sizeof Caps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::memcmp(&Caps, &Cd, sizeof Caps), 0);
  // A shorter record gets only its own bytes.
  unsigned char Short[sizeof(AUXCAPSA)];
  std::memset(Short, 0xAB, sizeof Short);
  ASSERT_EQ(auxGetDevCapsA(1, reinterpret_cast<AUXCAPSA*>(Short), 4), MMSYSERR_NOERROR);
  EXPECT_EQ(std::memcmp(Short, &Cd, 4), 0);
  EXPECT_TRUE(std::all_of(Short + 4, std::end(Short), [](unsigned char B) { return B == 0xAB; }));

  uint32_t Volume = 0;
  ASSERT_EQ(auxGetVolume(1, &Volume), MMSYSERR_NOERROR);
  EXPECT_EQ(Volume, 0xFFFF1234u);
  ASSERT_EQ(auxSetVolume(1, 0x8000FFFF), MMSYSERR_NOERROR);
  ASSERT_EQ(auxGetVolume(1, &Volume), MMSYSERR_NOERROR);
  EXPECT_EQ(Volume & 0xFFFF, 0xFFFFu); // left
  EXPECT_EQ(Volume >> 16, 0x8000u);    // right
  ASSERT_EQ(auxGetVolume(0, &Volume), MMSYSERR_NOERROR);
  EXPECT_EQ(Volume, 0x11112222u);

  const struct {
    const char* Name;
    MMRESULT Result, Expected;
  } Refused[] = {
      {"caps of id 2", auxGetDevCapsA(2, &Caps, sizeof Caps), MMSYSERR_BADDEVICEID},
      {"caps of a huge id", auxGetDevCapsA(~uintptr_t{0}, &Caps, sizeof Caps),
       MMSYSERR_BADDEVICEID},
      {"caps into null", auxGetDevCapsA(0, nullptr, sizeof Caps), MMSYSERR_INVALPARAM},
      {"volume of id 2", auxGetVolume(2, &Volume), MMSYSERR_BADDEVICEID},
      {"volume into null", auxGetVolume(0, nullptr), MMSYSERR_INVALPARAM},
      {"set the volume of id 2", auxSetVolume(2, 0), MMSYSERR_BADDEVICEID},
  };
  for (const auto& Case : Refused)
    EXPECT_EQ(Case.Result, Case.Expected) << Case.Name;

  ClearAuxDevices();
  EXPECT_EQ(auxGetNumDevs(), 0u);
  EXPECT_EQ(auxGetVolume(0, &Volume), MMSYSERR_BADDEVICEID);
}

// SDL's disk driver writes what the engine plays to a file, a few times faster than real time
// (a period of 11.6 ms every 5 ms), which a poll every few milliseconds keeps ahead of.
class MciPlaybackTest : public MciTest {
protected:
  std::vector<uint8_t> Played() const {
    std::ifstream In(Output, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  }

  // How far the last play, which opened the file anew, followed the image's sectors
  // [First, End) byte for byte, after the silence before them; all after them is silence.
  size_t PlayedRun(uint32_t First, uint32_t End) const {
    const std::vector<uint8_t> Expected = BinSectors(Disc.BinFile, First, End);
    const std::vector<uint8_t> Bytes = Played();
    const auto Silent = [](uint8_t B) { return B == 0; };
    const auto Start =
        std::search(Bytes.begin(), Bytes.end(), Expected.begin(), Expected.begin() + 256);
    if (Start == Bytes.end()) {
      ADD_FAILURE() << "sector " << First << " was not played";
      return 0;
    }
    EXPECT_TRUE(std::all_of(Bytes.begin(), Start, Silent));
    const auto Run = std::mismatch(Expected.begin(), Expected.end(), Start, Bytes.end());
    EXPECT_TRUE(std::all_of(Run.second, Bytes.end(), Silent))
        << "after " << (Run.first - Expected.begin()) << " bytes of the range";
    return static_cast<size_t>(Run.first - Expected.begin());
  }

  void ExpectPlayed(uint32_t First, uint32_t End) const {
    EXPECT_EQ(PlayedRun(First, End), size_t{End - First} * SectorBytes);
  }

  uintmax_t PlayedSize() const {
    std::error_code Ignored;
    const uintmax_t Size = std::filesystem::file_size(Output, Ignored);
    return Ignored ? 0 : Size;
  }

  bool WaitForMode(MCIDEVICEID Id, uint32_t Mode) {
    return PumpUntil([&] { return StatusOf(Id, MCI_STATUS_MODE) == Mode; }, 60000);
  }

  const std::string Output = Dir.File("played.raw");
  const TScopedEnv Driver{"SDL_AUDIODRIVER", "disk"};
  const TScopedEnv DiskFile{"SDL_DISKAUDIOFILE", Output.c_str()};
  const TScopedEnv Delay{"SDL_DISKAUDIODELAY", "5"};
};

TEST_F(MciPlaybackTest, PlaysATrackBitExactlyAndStopsAtItsEnd) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  ASSERT_EQ(Play(Id, MCI_FROM | MCI_TO, MsfOf(StartOf(2)), MsfOf(StartOf(3))), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_PLAY);
  EXPECT_TRUE(DrivePlaying(DiscDrive()));
  ASSERT_TRUE(WaitForMode(Id, MCI_MODE_STOP));
  EXPECT_FALSE(DrivePlaying(DiscDrive()));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), MsfOf(StartOf(3)));
  // Track 2 and the data track's pregap, which lies in its range.
  ExpectPlayed(Disc.Starts[1], Disc.Starts[2]);
}

TEST_F(MciPlaybackTest, PositionAdvancesPauseResumesAndStopStops) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  ASSERT_EQ(SetFormat(Id, MCI_FORMAT_TMSF), 0u);
  ASSERT_EQ(Play(Id, MCI_FROM, Tmsf(4, 0, 0, 0), 0), 0u);
  EXPECT_TRUE(PumpUntil([&] { return FramesIntoTrack(StatusOf(Id, MCI_STATUS_POSITION)) > 0; }));

  ASSERT_EQ(mciSendCommandA(Id, MCI_PAUSE, 0, nullptr), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_PAUSE);
  EXPECT_FALSE(DrivePlaying(DiscDrive()));
  const uintptr_t Paused = StatusOf(Id, MCI_STATUS_POSITION);
  EXPECT_EQ(Paused & 0xFF, 4u);
  PumpFor(50);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Paused);
  // The position is what was heard, not what was read ahead.
  const uint32_t Track4 = Disc.Starts[3], PausedAt = Track4 + FramesIntoTrack(Paused);
  EXPECT_LE(PausedAt - Track4, PlayedRun(Track4, Disc.LeadOut) / SectorBytes);

  // Play without a start goes on from the pause.
  ASSERT_EQ(mciSendCommandA(Id, MCI_PLAY, 0, nullptr), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_PLAY);
  EXPECT_TRUE(DrivePlaying(DiscDrive()));
  EXPECT_TRUE(PumpUntil([&] {
    return FramesIntoTrack(StatusOf(Id, MCI_STATUS_POSITION)) > FramesIntoTrack(Paused);
  }));

  ASSERT_EQ(mciSendCommandA(Id, MCI_STOP, 0, nullptr), 0u);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_STOP);
  EXPECT_FALSE(DrivePlaying(DiscDrive()));
  const uintptr_t Stopped = StatusOf(Id, MCI_STATUS_POSITION);
  EXPECT_GT(FramesIntoTrack(Stopped), FramesIntoTrack(Paused));
  EXPECT_EQ(Stopped & 0xFF, 4u);
  const size_t Resumed = PlayedRun(PausedAt, Disc.LeadOut);
  EXPECT_LE(FramesIntoTrack(Stopped) - FramesIntoTrack(Paused), Resumed / SectorBytes);
  // Nothing plays on: the file is complete.
  const uintmax_t Size = PlayedSize();
  PumpFor(50);
  EXPECT_EQ(PlayedSize(), Size);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), Stopped);
}

TEST_F(MciPlaybackTest, GoesOnAfterTheDeviceIsClosed) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  ASSERT_EQ(Play(Id, MCI_FROM | MCI_TO, MsfOf(StartOf(1)), MsfOf(StartOf(2))), 0u);
  ASSERT_EQ(mciSendCommandA(Id, MCI_CLOSE, 0, nullptr), 0u);
  EXPECT_TRUE(DrivePlaying(DiscDrive()));
  ASSERT_TRUE(PumpUntil([&] { return !DrivePlaying(DiscDrive()); }, 60000));
  ExpectPlayed(Disc.Starts[0], Disc.Starts[1]);

  const MCIDEVICEID Again = Open(DiscDrive(), "cd2");
  ASSERT_NE(Again, 0u);
  EXPECT_EQ(StatusOf(Again, MCI_STATUS_MODE), MCI_MODE_STOP);
  EXPECT_EQ(StatusOf(Again, MCI_STATUS_POSITION), MsfOf(StartOf(2)));
}

TEST_F(MciPlaybackTest, ADiscTakenOutStopsThePlay) {
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  ASSERT_EQ(Play(Id, MCI_FROM, MsfOf(StartOf(4)), 0), 0u);
  ASSERT_TRUE(EjectDrive(DiscDrive(), true));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_NOT_READY);
  EXPECT_FALSE(DrivePlaying(DiscDrive()));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MEDIA_PRESENT), 0u);
  EXPECT_EQ(Play(Id, MCI_FROM, MsfOf(StartOf(4)), 0), MCIERR_DEVICE_NOT_READY);

  // Back in, it is a disc read afresh: stopped at its first track.
  ASSERT_TRUE(EjectDrive(DiscDrive(), false));
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_MODE), MCI_MODE_STOP);
  EXPECT_EQ(StatusOf(Id, MCI_STATUS_POSITION), MsfOf(StartOf(1)));
}

// A sound device that fails, at once or while playing, ends the play.
TEST_F(MciPlaybackTest, ASoundDeviceThatFailsEndsThePlay) {
  // SDL stops a device whose writes fail: to /dev/full at once, and past a file-size limit
  // (with SIGXFSZ ignored, so that the write fails instead of ending the process) once the
  // file has grown to it, long after the buffer was first filled.
  const rlim_t Limit = 3 * BufferBytes;
  const struct {
    const char* Name;
    std::string File;
    rlim_t SizeLimit;
  } Cases[] = {{"at once", "/dev/full", RLIM_INFINITY}, {"while playing", Output, Limit}};
  const MCIDEVICEID Id = Open(DiscDrive(), "cd2");
  ASSERT_NE(Id, 0u);
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TScopedEnv File("SDL_DISKAUDIOFILE", Case.File.c_str());
    const TFileSizeLimit SizeLimit(Case.SizeLimit);
    EXPECT_EQ(Play(Id, MCI_FROM, MsfOf(StartOf(4)), 0), 0u);
    EXPECT_TRUE(WaitForMode(Id, MCI_MODE_STOP));
    EXPECT_FALSE(DrivePlaying(DiscDrive()));
  }
  // The limit ended it before the end of the track.
  EXPECT_LT(FramesOfMsf(StatusOf(Id, MCI_STATUS_POSITION)), StartOf(5));
}

// The user interface's thread plays and stops while another thread (a rip about to start)
// queries the same drive through a device of its own.
TEST_F(MciPlaybackTest, CommandsFromTwoThreadsAtOnce) {
  const MCIDEVICEID Player = Open(DiscDrive(), "player"), Watcher = Open(DiscDrive(), "watcher");
  ASSERT_NE(Player, 0u);
  ASSERT_NE(Watcher, 0u);
  std::atomic<bool> Done{false};
  std::atomic<int> Failures{0};
  std::thread Watching([&] {
    while (!Done) {
      uintptr_t Result = 0;
      for (const uint32_t Item : {MCI_STATUS_MODE, MCI_STATUS_POSITION, MCI_STATUS_LENGTH})
        if (Query(Watcher, Item, 0, Result) != 0)
          ++Failures;
      if (mciGetDeviceIDA("player") != Player)
        ++Failures;
      DrivePlaying(DiscDrive());
    }
  });
  for (int Round = 0; Round < 8; ++Round) {
    EXPECT_EQ(Play(Player, MCI_FROM, MsfOf(StartOf(4) + 75 * Round), 0), 0u);
    PumpUntil([&] { return FramesOfMsf(StatusOf(Player, MCI_STATUS_POSITION)) > StartOf(4); },
              2000);
    EXPECT_EQ(mciSendCommandA(Player, Round % 2 ? MCI_PAUSE : MCI_STOP, 0, nullptr), 0u);
  }
  Done = true;
  Watching.join();
  EXPECT_EQ(Failures, 0);
  EXPECT_FALSE(DrivePlaying(DiscDrive()));
}

} // namespace
