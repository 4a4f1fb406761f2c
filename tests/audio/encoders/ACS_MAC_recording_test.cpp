// TMACOut against the recording stand-in of our Monkey's Audio library: the calls it makes and
// the values it passes, how it feeds the library's buffer, when it tags, and its messages.
#include "audio/encoders/ACS_MAC.h"

#include "audio/encoders/MACDll.h"
#include "platform/Module.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/audio/encoders/RecordingMACDll.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A control of the stand-in, found in the very module the writer loads.
template <class F> F Control(const char* Name) {
  static const platform::TModule Module = platform::LoadModule("MACDll.dll");
  return reinterpret_cast<F>(Module.Symbol(Name));
}
#define TAVRUNE_CONTROL(Name) Control<decltype(&::Name)>(#Name)

std::string Log() {
  return TAVRUNE_CONTROL(MACRecording_Log)();
}

// The byte counts of every UnlockBuffer, in order.
std::vector<int> Unlocks() {
  std::vector<int> Counts;
  std::istringstream Lines(Log());
  for (std::string Line; std::getline(Lines, Line);)
    if (Line.rfind("Unlock(", 0) == 0)
      Counts.push_back(std::stoi(Line.substr(7)));
  return Counts;
}

class MACRecordingTest : public ::testing::Test {
protected:
  void SetUp() override { TAVRUNE_CONTROL(MACRecording_Reset)(); }

  TMACOut* MakeWriter(TAuInput* Input) {
    auto* Writer = new TMACOut(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(File);
    return Writer;
  }
  TMemoryInput* MakeInput(size_t Bytes, uint32_t ChunkSize = 4096) {
    return new TMemoryInput(Root.get(), PatternBytes(Bytes), ChunkSize);
  }

  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", TAVRUNE_RECORDING_DIR};
  TTempDir Dir;
  const std::string File = Dir.File("out.ape");
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

TEST_F(MACRecordingTest, TheWindowsSettingsReachTheLibraryInOrder) {
  TMACOut* Writer = MakeWriter(MakeInput(65536 + 400));
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(Log(), "Create\n"
                   "FillWaveFormatEx(44100,16,2)\n"
                   "Start(" +
                       File +
                       ";1,2,44100,176400,4,16;-1;2000;null,0)\n"
                       "Lock=294912\n"
                       "Unlock(65536,1)\n"
                       "Lock=294912\n"
                       "Unlock(400,1)\n"
                       "Finish(null,0,0)\n"
                       "Destroy\n");
  EXPECT_TRUE(ReadBytes(File) == PatternBytes(65536 + 400));
}

TEST_F(MACRecordingTest, LevelAndMaximumArePassedAsSet) {
  TMACOut* Writer = MakeWriter(MakeInput(1000));
  Writer->SetCompressionLevel(5000);
  Writer->SetMaxAudioBytes(123456);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), HasSubstr(";123456;5000;null,0)\n"));
}

struct TChunkCase {
  const char* Name;
  int32_t BPS, Channels;
  size_t Bytes;
  std::vector<int> Unlocks;
};

// Every chunk holds whole frames: the largest number of them that fits 65536 bytes.
TEST_F(MACRecordingTest, ChunksHoldWholeFrames) {
  const TChunkCase Cases[] = {
      {"16-bit stereo", 16, 2, 2 * 65536 + 1000, {65536, 65536, 1000}},
      {"24-bit stereo", 24, 2, 2 * 65532 + 600, {65532, 65532, 600}},
      {"24-bit mono", 24, 1, 65535 + 3, {65535, 3}},
      {"8-bit mono", 8, 1, 65536 + 1, {65536, 1}},
  };
  for (const TChunkCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(MACRecording_Reset)();
    auto* Input = new TFormatInput(Root.get(), PatternBytes(Case.Bytes), Case.BPS, Case.Channels,
                                   48000, 50000);
    TMACOut* Writer = MakeWriter(Input);
    ASSERT_EQ(RunToEnd(*Writer), "");
    EXPECT_EQ(Unlocks(), Case.Unlocks);
    EXPECT_THAT(Log(), HasSubstr("FillWaveFormatEx(48000," + std::to_string(Case.BPS) + "," +
                                 std::to_string(Case.Channels) + ")\n"));
    EXPECT_TRUE(ReadBytes(File) == PatternBytes(Case.Bytes));
    Writer->Free();
  }
}

TEST_F(MACRecordingTest, AChunkIsFedInSeveralRoundsWhenTheLibraryLendsLess) {
  TAVRUNE_CONTROL(MACRecording_SetLend)(10000);
  TMACOut* Writer = MakeWriter(MakeInput(65536 + 5000));
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_EQ(Unlocks(), (std::vector<int>{10000, 10000, 10000, 10000, 10000, 10000, 5536, 5000}));
  EXPECT_TRUE(ReadBytes(File) == PatternBytes(65536 + 5000));
}

// The read after the last full chunk finds nothing and feeds nothing; no read follows it.
TEST_F(MACRecordingTest, AnInputEndingAtAChunkBoundaryEndsAfterOneEmptyRead) {
  TMemoryInput* Input = MakeInput(2 * 65536, 65536);
  Input->SetOnRead([] { TAVRUNE_CONTROL(MACRecording_Note)("read"); });
  TMACOut* Writer = MakeWriter(Input);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::string Log = ::Log();
  EXPECT_EQ(Log.substr(Log.find("read")), "read\n"
                                          "Lock=294912\n"
                                          "Unlock(65536,1)\n"
                                          "read\n"
                                          "Lock=294912\n"
                                          "Unlock(65536,1)\n"
                                          "read\n"
                                          "Finish(null,0,0)\n"
                                          "Destroy\n");
  EXPECT_EQ(Input->ReadCount, 3);
}

struct TTagCase {
  const char* Name;
  void (*Set)(TAPEv2Tags&);
  std::string Call; // the arguments after the file name; empty: no tagging call
};

TEST_F(MACRecordingTest, TheFileIsTaggedOnlyWhenTheTagsHoldAValue) {
  const TTagCase Cases[] = {
      {"never set", [](TAPEv2Tags&) {}, ""},
      {"only Publisher", [](TAPEv2Tags& T) { T.SetPublisher(u"Label"); }, ";;;;;;;;1;0"},
      {"the seven, in the library's order",
       [](TAPEv2Tags& T) {
         T.SetTrack("7");
         T.SetYear("1980");
         T.SetGenre(u"Rock");
         T.SetComment(u"live");
         T.SetTitle(u"日本語");
         T.SetAlbum(u"Ace");
         T.SetArtist(u"Motörhead");
         T.SetComposer(u"never written");
       },
       ";Motörhead;Ace;日本語;live;Rock;1980;7;1;0"},
  };
  for (const TTagCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(MACRecording_Reset)();
    TMACOut* Writer = MakeWriter(MakeInput(1000));
    TAPEv2Tags Tags;
    Case.Set(Tags);
    Writer->SetAPEv2Tags(Tags);
    ASSERT_EQ(RunToEnd(*Writer), "");
    if (Case.Call.empty())
      EXPECT_THAT(Log(), Not(HasSubstr("TagFileSimple")));
    else
      EXPECT_THAT(Log(), testing::EndsWith("Destroy\nTagFileSimple(" + File + Case.Call + ")\n"));
    Writer->Free();
  }
}

struct TFailureCase {
  const char* Name;
  void (*Arrange)();
  std::string Message;
  bool Finished; // the file was started, so Done finishes it
  bool Tagged;   // and finished, so Done tags it
};

TEST_F(MACRecordingTest, FailuresHaveTheirMessagesAndFinishOnlyAStartedFile) {
  const TFailureCase Cases[] = {
      {"no compressor",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetCreateError)
         (2000);
       },
       "MACDll error: insufficient memory", false, false},
      {"start fails",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetStartResult)
         (1003);
       },
       "Error starting APECompress.\r\ninvalid output file", false, false},
      // A full disk, at the last frame or at the tag.
      {"finish fails",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetFinishResult)
         (1001);
       },
       "APECompress.Finish Error: I/O write error", true, false},
      {"tag fails",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetTagResult)
         (1001);
       },
       "TagFileSimple Error: I/O write error", true, true},
      {"unlock fails",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetUnlockResult)
         (6000);
       },
       "APECompress.UnlockBuffer Error: APE compress too much data", true, true},
      {"no room lent",
       [] {
         TAVRUNE_CONTROL(MACRecording_SetLend)
         (0);
       },
       "APECompress.LockBuffer Error: no room in the buffer", true, true},
  };
  for (const TFailureCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TAVRUNE_CONTROL(MACRecording_Reset)();
    Case.Arrange();
    TMemoryInput* Input = MakeInput(70000);
    TMACOut* Writer = MakeWriter(Input);
    TAPEv2Tags Tags;
    Tags.SetTitle(u"Title");
    Writer->SetAPEv2Tags(Tags);
    EXPECT_EQ(RunToEnd(*Writer), Case.Message);
    const std::string Log = ::Log();
    // The handle goes back to the library whatever failed.
    EXPECT_THAT(Log, HasSubstr("Destroy\n"));
    EXPECT_EQ(Log.find("Finish") != std::string::npos, Case.Finished);
    EXPECT_EQ(Log.find("TagFileSimple") != std::string::npos, Case.Tagged);
    EXPECT_EQ(Input->FlushCount, 1);
    Writer->Free();
  }
  // After a refused unlock the lock was given back before Finish.
  EXPECT_THAT(::Log(), HasSubstr("Lock=0\nUnlock(0,1)\nFinish(null,0,0)\n"));
}

TEST_F(MACRecordingTest, AnEmptyFileNameIsRefusedBeforeTheLibraryIsUsed) {
  TMACOut* Writer = MakeWriter(MakeInput(1000));
  Writer->SetFileName("");
  EXPECT_EQ(RunToEnd(*Writer), "File name is not assigned.");
  EXPECT_EQ(Log(), "");
}

// Bytes that are not UTF-8 reach the library as they are.
TEST_F(MACRecordingTest, AFileNameOutsideTheCodePageReachesTheLibraryInItsBytes) {
  const std::string Odd = Dir.File("caf\xe9 \xff.ape");
  TMACOut* Writer = MakeWriter(MakeInput(1000));
  Writer->SetFileName(Odd);
  TAPEv2Tags Tags;
  Tags.SetYear("2001");
  Writer->SetAPEv2Tags(Tags);
  ASSERT_EQ(RunToEnd(*Writer), "");
  EXPECT_THAT(Log(), HasSubstr("Start(" + Odd + ";"));
  EXPECT_THAT(Log(), HasSubstr("TagFileSimple(" + Odd + ";"));
  EXPECT_TRUE(ReadBytes(Odd) == PatternBytes(1000));
}

TEST_F(MACRecordingTest, NamesTheStandInLacksStayNull) {
  LoadMACLibrary();
  ASSERT_TRUE(MACLoaded());
  EXPECT_NE(MACDll().c_APECompress_Create, nullptr);
  EXPECT_NE(MACDll().TagFileSimple, nullptr);
  EXPECT_EQ(MACDll().c_APECompress_Kill, nullptr);
  EXPECT_EQ(MACDll().c_APEDecompress_CreateW, nullptr);
}

TEST(MACOutSettings, TheLevelTakesOnlyTheFiveLevels) {
  TComponentPtr<TMACOut> Writer(new TMACOut(nullptr));
  EXPECT_EQ(Writer->CompressionLevel(), 2000);
  EXPECT_EQ(Writer->MaxAudioBytes(), -1);
  EXPECT_TRUE(Writer->APEv2Tags()->IsBlank());
  const std::pair<int32_t, int32_t> Cases[] = {{3000, 3000}, {1000, 1000}, {5000, 5000},
                                               {2500, 2000}, {0, 2000},    {6000, 2000},
                                               {-1000, 2000}};
  for (const auto& [Set, Stored] : Cases) {
    Writer->SetCompressionLevel(4000);
    Writer->SetCompressionLevel(Set);
    EXPECT_EQ(Writer->CompressionLevel(), Stored) << Set;
  }
}

TEST(MACErrorTexts, KnownCodesHaveTheirTextsAndOthersAreUndefined) {
  const std::pair<int32_t, const char*> Cases[] = {
      {0, "OK"},
      {1000, "I/O read error"},
      {1004, "input file file too large"},
      {1013, "unsupported file type"},
      {2000, "insufficient memory"},
      {3002, "loading UnMAC.dll"},
      {4001, "skipped..."},
      {6000, "APE compress too much data"},
      {7, "undefined (7)"},
      {-1, "undefined (-1)"},
      {1014, "undefined (1014)"},
  };
  for (const auto& [Code, Text] : Cases)
    EXPECT_EQ(MACErrorText(Code), Text) << Code;
  EXPECT_STREQ(EAPEException(2000).what(), "MACDll error: insufficient memory");
  EXPECT_STREQ(EAPEException(7).what(), "MACDll error: undefined (7)");
}

} // namespace
