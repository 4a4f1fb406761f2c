// TCDIn against the recording stand-in of the ripping library: what it calls, in which order,
// and what it makes of the answers.
#include "audio/cd/ACS_CDROM.h"

#include "audio/cd/CDRip.h"
#include "libs/cdrip/cdrip.h"
#include "platform/Module.h"
#include "runtime/IniFile.h"
#include "tests/audio/cd/RecordingCDRip.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace {

constexpr uint8_t Audio = 0x10;
constexpr uint8_t Data = 0x14;

// The stand-in is found first on the library path; the settings go to a folder of the test's.
class TRecordingEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("TAVRUNE_LIBRARY_PATH", TAVRUNE_RECORDING_DIR, 1);
    setenv("XDG_CONFIG_HOME", Config.Path().c_str(), 1);
  }
  TTempDir Config;
};
TRecordingEnvironment* Environment = static_cast<TRecordingEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new TRecordingEnvironment));

std::vector<std::string> Log() {
  std::vector<std::string> Lines;
  std::istringstream In(Recording_Log());
  for (std::string Line; std::getline(In, Line);)
    Lines.push_back(Line);
  return Lines;
}

int CountOf(const std::vector<std::string>& Lines, const std::string& Call) {
  return static_cast<int>(std::count(Lines.begin(), Lines.end(), Call));
}

struct TTrack {
  uint32_t Start;
  uint8_t Flag;
};

// A disc of the given tracks, then the lead-out.
void SetDisc(std::vector<TTrack> Tracks, uint32_t LeadOut) {
  std::vector<uint32_t> Starts;
  std::vector<uint8_t> Flags;
  for (const TTrack& Track : Tracks) {
    Starts.push_back(Track.Start);
    Flags.push_back(Track.Flag);
  }
  Starts.push_back(LeadOut);
  Flags.push_back(Audio);
  Recording_SetToc(Starts.data(), Flags.data(), static_cast<int32_t>(Tracks.size()));
}

void SetChunks(std::vector<int32_t> Sizes) {
  Recording_SetChunks(Sizes.data(), static_cast<int32_t>(Sizes.size()));
}

class CDInTest : public ::testing::Test {
protected:
  void SetUp() override {
    Recording_Reset();
    // Three audio tracks and a data track.
    SetDisc({{0, Audio}, {1000, Audio}, {3000, Audio}, {4500, Data}}, 6000);
    Input.reset(new TCDIn(nullptr));
    Recording_ClearLog();
  }

  void SelectTrack(int32_t Track) {
    Input->SetStartTrack(Track);
    Input->SetEndTrack(Track);
  }

  std::string InitError() {
    try {
      Input->Init();
    } catch (const EAuException& Error) {
      return Error.Message();
    }
    return "";
  }

  std::vector<uint8_t> Read(uint32_t Count) {
    const uint8_t* Buffer = nullptr;
    uint32_t Bytes = Count;
    Input->GetData(Buffer, Bytes);
    return {Buffer, Buffer + Bytes};
  }

  TComponentPtr<TCDIn> Input;
};

TEST_F(CDInTest, LoaderWritesTheSettingsAndInitialisesTheLibraryWithThem) {
  const std::string Folder = CDRipSettingsFolder();
  EXPECT_EQ(Folder, Environment->Config.Path() + "tavrune/");
  const std::string IniFile = Folder + "cdr.ini";
  {
    // A setting of the library's own, which the rewrite at every start keeps.
    std::ofstream Out(IniFile);
    Out << "[CD-ROM]\nnActive=3\nParanoiaMode=full\n";
  }
  Recording_ClearLog();
  TComponentPtr<TCDIn> Second(new TCDIn(nullptr));
  EXPECT_EQ(Log(), std::vector<std::string>{"CR_Init(" + IniFile + ")"});

  std::ifstream In(IniFile);
  const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Text, "[CD-ROM]\nnActive=0\nParanoiaMode=full\nnTransportLayer=1\n");

  Recording_ClearLog();
  Second.reset();
  EXPECT_EQ(Log(), std::vector<std::string>{"CR_DeInit"});
}

TEST_F(CDInTest, SettingsThatCannotBeWrittenFailTheConstructor) {
  const std::string IniFile = CDRipSettingsFolder() + "cdr.ini";
  std::remove(IniFile.c_str());
  ASSERT_EQ(mkdir(IniFile.c_str(), 0700), 0);
  try {
    TComponentPtr<TCDIn> Failing(new TCDIn(nullptr));
    ADD_FAILURE() << "constructed";
  } catch (const EIniFileException& Error) {
    EXPECT_EQ(Error.Message(), "Unable to write to " + IniFile);
  }
  rmdir(IniFile.c_str());
}

TEST_F(CDInTest, TheActiveDriveIsSetOnlyWhenTheOutermostLevelIsTaken) {
  Recording_SetDrives(2, "D: Recording drive");
  Input->SetCurrentDrive(1);
  EXPECT_EQ(Input->CurrentDrive(), 1);
  // The drive the setter asked under is still the old one.
  EXPECT_EQ(Log(), (std::vector<std::string>{"CR_SetActiveCDROM(0)", "CR_GetNumCDROM"}));

  Recording_ClearLog();
  EXPECT_EQ(Input->Tracks(2).Minutes, 0);
  // Tracks reads the TOC at one level and the entries at another.
  EXPECT_EQ(Log(), (std::vector<std::string>{"CR_SetActiveCDROM(1)", "CR_ReadToc",
                                             "CR_GetNumTocEntries", "CR_SetActiveCDROM(1)",
                                             "CR_GetTocEntry(1)", "CR_GetTocEntry(2)"}));

  // While a rip holds its level, queries choose no drive.
  SelectTrack(1);
  Input->Init();
  Recording_ClearLog();
  Input->TracksCount();
  Input->Status();
  Input->DriveName();
  EXPECT_EQ(CountOf(Log(), "CR_SetActiveCDROM(1)"), 0);
  Input->Flush();

  Recording_ClearLog();
  Input->DrivesCount();
  EXPECT_EQ(CountOf(Log(), "CR_SetActiveCDROM(1)"), 1);
}

TEST_F(CDInTest, ADriveOutsideTheListIsIgnored) {
  Recording_SetDrives(2, "D: Recording drive");
  for (int32_t Value : {5, 2, -1}) {
    SCOPED_TRACE(Value);
    Input->SetCurrentDrive(Value);
    EXPECT_EQ(Input->CurrentDrive(), 0);
  }
}

TEST_F(CDInTest, DriveNameIsTheTextBeforeTheFirstNul) {
  Recording_SetDrives(1, "E: My drive");
  EXPECT_EQ(Input->DriveName(), "E: My drive");
  // A name filling the record stops at 255 bytes.
  Recording_SetDrives(1, std::string(300, 'n').c_str());
  EXPECT_EQ(Input->DriveName(), std::string(255, 'n'));
}

TEST_F(CDInTest, StatusFromMediaAndPlaying) {
  struct TCase {
    int32_t MediaState;
    int32_t Playing;
    TDriveState Expected;
  };
  const TCase Cases[] = {
      {0, 0, drReady}, {0, 1, drPlaying}, {1, 0, drNotReady}, {-1, 1, drNotReady}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.MediaState * 10 + Case.Playing);
    Recording_SetMediaState(Case.MediaState);
    Recording_SetPlaying(Case.Playing);
    Recording_ClearLog();
    EXPECT_EQ(Input->Status(), Case.Expected);
    // The state word is preset to 0.
    EXPECT_EQ(Log(), (std::vector<std::string>{"CR_SetActiveCDROM(0)", "CR_IsMediaLoaded(0)",
                                               "CR_IsAudioPlaying"}));
  }
}

TEST_F(CDInTest, TrackLengthsAndKinds) {
  SetDisc({{0, Audio}, {18000, Audio}, {36074, 0x00}, {54149, Data}, {54150, Audio}}, 60000);
  struct TCase {
    int32_t Track;
    TTrackInfo Expected;
  };
  const TCase Cases[] = {
      {1, {4, 0, 0, false}},                          // exactly four minutes
      {2, {4, 0, 74, false}},                         // 74 sectors more
      {3, {4, 1, 0, true}},                           // 75 more; any flag but 0x10 is data
      {4, {0, 0, 1, true}},   {5, {1, 18, 0, false}}, // the last track ends at the lead-out
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Track);
    const TTrackInfo Info = Input->Tracks(Case.Track);
    EXPECT_EQ(Info.Minutes, Case.Expected.Minutes);
    EXPECT_EQ(Info.Seconds, Case.Expected.Seconds);
    EXPECT_EQ(Info.Frames, Case.Expected.Frames);
    EXPECT_EQ(Info.IsData, Case.Expected.IsData);
  }
}

TEST_F(CDInTest, TracksOutsideTheDiscOrAnUnreadableTocRaise) {
  for (int32_t Track : {0, 5, -1}) {
    SCOPED_TRACE(Track);
    EXPECT_THROW(
        {
          try {
            Input->Tracks(Track);
          } catch (const EAuException& Error) {
            EXPECT_STREQ(Error.what(), "Track out of range.");
            throw;
          }
        },
        EAuException);
  }
  Recording_SetReadTocResult(1);
  EXPECT_EQ(Input->TracksCount(), -1);
  EXPECT_THROW(Input->Tracks(1), EAuException);
}

TEST_F(CDInTest, InitChecksInTheirOrder) {
  struct TCase {
    const char* Name;
    int32_t Start, End;
    int32_t MediaState;
    int32_t ReadTocResult;
    std::string Expected;
  };
  const TCase Cases[] = {
      {"no disc comes before any track check", 0, 0, 1, 0, "The drive is not ready"},
      {"start track 0", 0, 1, 0, 0, "The start track out of range"},
      {"start track after the last", 5, 5, 0, 0, "The start track out of range"},
      {"unreadable TOC", 1, 1, 0, 1, "The start track out of range"},
      {"data track", 4, 4, 0, 0, "Trying to rip a data track"},
      {"end track after the last", 1, 5, 0, 0, "The end track out of range"},
      {"end track before the first", 1, -1, 0, 0, "The end track out of range"},
      {"the last track", 3, 4, 0, 0, ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Recording_SetMediaState(Case.MediaState);
    Recording_SetReadTocResult(Case.ReadTocResult);
    Input->SetStartTrack(Case.Start);
    Input->SetEndTrack(Case.End);
    EXPECT_EQ(InitError(), Case.Expected);
    EXPECT_EQ(Input->Busy(), Case.Expected.empty());
    Input->Flush();
  }
}

TEST_F(CDInTest, ASecondInitWhileRippingIsRefused) {
  SelectTrack(1);
  Input->Init();
  EXPECT_EQ(InitError(), "The component is busy");
  EXPECT_TRUE(Input->Busy());
  Input->Flush();
}

TEST_F(CDInTest, InitOpensExactlyTheTrackAndFlushClosesIt) {
  struct TCase {
    int32_t Track;
    std::string Open;
  };
  const TCase Cases[] = {{1, "CR_OpenRipper(176400,0,1000)"},
                         {2, "CR_OpenRipper(176400,1000,3000)"},
                         {3, "CR_OpenRipper(176400,3000,4500)"}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Track);
    SelectTrack(Case.Track);
    Recording_ClearLog();
    Input->Init();
    EXPECT_EQ(Log().back(), Case.Open);
    Input->Flush();
    EXPECT_EQ(Log().back(), "CR_CloseRipper");
    EXPECT_FALSE(Input->Busy());
    EXPECT_EQ(Input->Size(), 0);
  }
}

TEST_F(CDInTest, TheStreamSizeIsTheRangeExactlyBeforeAndWhileRipping) {
  SetDisc({{0, Audio}, {18000, Audio}}, 18001);
  SelectTrack(1);
  EXPECT_EQ(Input->GetTotalSamples(), 18000 * 588);
  EXPECT_EQ(Input->GetTotalTime(), 240);
  Input->Init();
  EXPECT_EQ(Input->Size(), 18000 * 2352);
  EXPECT_EQ(Input->GetTotalSamples(), 18000 * 588);
  EXPECT_EQ(Input->GetTotalTime(), 240);
  Input->Flush();

  // A one-sector track.
  SelectTrack(2);
  EXPECT_EQ(Input->GetTotalSamples(), 588);
  EXPECT_EQ(Input->GetTotalTime(), 0);
}

TEST_F(CDInTest, RefusedWhileRippingButCloseTray) {
  SelectTrack(1);
  Input->Init();
  Recording_ClearLog();
  const std::function<void()> Refused[] = {[&] { Input->SetStartTrack(2); },
                                           [&] { Input->SetEndTrack(2); }, [&] { Input->Eject(); }};
  for (const auto& Call : Refused) {
    try {
      Call();
      ADD_FAILURE() << "not refused";
    } catch (const EAuException& Error) {
      EXPECT_EQ(Error.Message(), "The component is busy");
    }
  }
  EXPECT_EQ(Input->StartTrack(), 1);
  EXPECT_EQ(Input->EndTrack(), 1);
  Input->CloseTray();
  EXPECT_EQ(Log(), std::vector<std::string>{"CR_EjectCD(0)"});
  Input->Flush();

  Recording_ClearLog();
  Input->Eject();
  EXPECT_EQ(Log(), std::vector<std::string>{"CR_EjectCD(-1)"});
}

TEST_F(CDInTest, ChunksAreHandedOutOfTheRipBufferWithoutCopies) {
  SetChunks({176400, 0});
  SelectTrack(1);
  Input->Init();
  Recording_ClearLog();

  const std::vector<uint8_t> Expected = PatternBytes(176400);
  const uint8_t* First = nullptr;
  uint32_t Offset = 0;
  for (int Request = 1; Request <= 18; ++Request) {
    SCOPED_TRACE(Request);
    const uint8_t* Buffer = nullptr;
    uint32_t Bytes = 10000;
    Input->GetData(Buffer, Bytes);
    EXPECT_EQ(Bytes, Request < 18 ? 10000u : 6400u);
    if (Request == 1)
      First = Buffer;
    EXPECT_EQ(Buffer, First + Offset);
    EXPECT_TRUE(std::equal(Buffer, Buffer + Bytes, Expected.begin() + Offset));
    Offset += Bytes;
    EXPECT_EQ(Input->Position(), Offset);
    EXPECT_EQ(CountOf(Log(), "CR_RipChunk(0)"), 1);
  }
  // The next request asks the library again, which has nothing more: the end of the stream.
  EXPECT_TRUE(Read(10000).empty());
  EXPECT_EQ(CountOf(Log(), "CR_RipChunk(0)"), 2);
  EXPECT_EQ(Input->Position(), 176400);
  Input->Flush();
}

TEST_F(CDInTest, ShortAndOversizedChunks) {
  // Short chunks pass as they come; a count beyond the buffer gives only the buffer.
  SetChunks({3, 176404, 0});
  SelectTrack(1);
  Input->Init();
  EXPECT_EQ(Read(10).size(), 3u);
  uint32_t Total = 0;
  for (std::vector<uint8_t> Bytes = Read(100000); !Bytes.empty(); Bytes = Read(100000))
    Total += static_cast<uint32_t>(Bytes.size());
  EXPECT_EQ(Total, 176400u);
  Input->Flush();
}

TEST_F(CDInTest, AFailedReadIsAnErrorNotTheEndOfTheTrack) {
  struct TCase {
    int32_t Result;
    std::string Expected;
  };
  const TCase Cases[] = {
      {CDRIP_ERR_MEDIUM_CHANGED, "The disc was removed or changed during the rip"},
      {CDRIP_ERR_READ, "The disc could not be read"},
      {CDRIP_ERR_NO_DISC, "The drive is not ready"},
      {CDRIP_ERR_NOT_OPEN, "The CD library failed with error 6"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Result);
    SetChunks({176400, -Case.Result});
    SelectTrack(1);
    Input->Init();
    EXPECT_EQ(Read(176400).size(), 176400u);
    try {
      Read(176400);
      ADD_FAILURE() << "no error";
    } catch (const EAuException& Error) {
      EXPECT_EQ(Error.Message(), Case.Expected);
    }
    Input->Flush();
  }
}

TEST_F(CDInTest, GetDataNeedsAnOpenStream) {
  try {
    Read(100);
    ADD_FAILURE() << "read without a stream";
  } catch (const EAuException& Error) {
    EXPECT_EQ(Error.Message(), "The Stream is not opened");
  }
}

TEST_F(CDInTest, FlushWithoutInitTouchesNothing) {
  Input->Flush();
  EXPECT_TRUE(Log().empty());
  // A failed Init holds no drive level: the next query chooses the drive again.
  SelectTrack(4);
  EXPECT_EQ(InitError(), "Trying to rip a data track");
  Input->Flush();
  Recording_ClearLog();
  Input->DrivesCount();
  EXPECT_EQ(CountOf(Log(), "CR_SetActiveCDROM(0)"), 1);
}

TEST_F(CDInTest, AWriterRipsWhileTheWindowPollsTheDisc) {
  std::vector<int32_t> Sizes(20, 176400);
  Sizes.push_back(4704);
  SetChunks(Sizes);
  SelectTrack(1);
  TComponentPtr<TTestSink> Sink(new TTestSink(nullptr, 9000));
  Sink->SetInput(Input.get());
  Sink->Run();
  // The timer's refresh runs against the same library while the worker rips.
  while (Sink->Running()) {
    EXPECT_EQ(Input->TracksCount(), 4);
    EXPECT_NE(Input->Status(), drNotReady);
    Input->Tracks(2);
  }
  const std::vector<uint8_t> Received = Sink->Received();
  EXPECT_EQ(Received, PatternBytes(20 * 176400 + 4704));
  EXPECT_EQ(Sink->ExceptionText(), "");
  EXPECT_FALSE(Input->Busy());
}

} // namespace
