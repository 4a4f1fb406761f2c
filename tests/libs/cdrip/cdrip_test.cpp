#include "libs/cdrip/cdrip.h"

#include "platform/DriveRegistry.h"
#include "platform/Module.h"
#include "runtime/IniFile.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int32_t Sector = platform::CDSectorBytes;
constexpr int32_t ChunkBytes = CDRIP_MAX_CHUNK_BYTES;

static_assert(offsetof(TOCENTRY, btFlag) == 4 && offsetof(TOCENTRY, btTrackNumber) == 5);

// Twelve audio tracks of different lengths, every other one after a pregap, each a pattern of
// its own so that a byte from a wrong place shows.
std::vector<tools::TTrackSpec> TwelveTracks() {
  std::vector<tools::TTrackSpec> Tracks;
  for (uint32_t I = 0; I < 12; ++I)
    Tracks.push_back({false, 150 + 37 * I, I % 2 ? 10 + I : 0, "pattern " + std::to_string(I + 1)});
  return Tracks;
}

// Two audio tracks around a data track.
const std::vector<tools::TTrackSpec> MixedDisc = {
    {false, 100, 0, "pattern 21"},
    {true, 60, 0, ""},
    {false, 80, 5, "pattern 22"},
};

struct TRip {
  int32_t OpenResult = CDRIP_OK;
  int32_t LastResult = CDRIP_OK; // of the chunk that ended the rip
  int32_t BufferSize = 0;        // as CR_OpenRipper left it
  std::vector<uint8_t> Bytes;
  std::vector<int32_t> Chunks;
};

class CDRipTest : public testing::Test {
protected:
  TTempDir Dir;
  const TScopedEnv ConfigHome{"XDG_CONFIG_HOME", Dir.Path().c_str()};
  const std::string NoDemo = Dir.File("no-demo.cue");
  const TScopedEnv Demo{"TAVRUNE_DEMO_DISC", NoDemo.c_str()};
  // A machine with CD drives lists them before the images.
  const int32_t Physical = static_cast<int32_t>(
      std::ranges::count(platform::CDDrives(), false, &platform::TDriveInfo::Virtual));
  const std::string Settings = Dir.File("cdr.ini");

  void TearDown() override { CR_DeInit(); }

  // As the CD input's loader does: the two keys it writes, then CR_Init.
  void Init(std::string_view Before = "") {
    if (!Before.empty())
      std::ofstream(Settings, std::ios::binary) << Before;
    TIniFile(Settings).WriteString("CD-ROM", "nActive", "0");
    TIniFile(Settings).WriteString("CD-ROM", "nTransportLayer", "1");
    ASSERT_EQ(CR_Init(Settings.c_str()), CDRIP_OK);
  }

  tools::TDiscLayout MakeDisc(const std::string& Name,
                              const std::vector<tools::TTrackSpec>& Tracks) {
    return tools::WriteDiscImage(Tracks, Dir.File(Name + ".cue"));
  }

  void Insert(const std::vector<std::string>& Images) { WriteDrivesIni(Dir.Path(), Images); }

  void Select(int32_t Image) { ASSERT_EQ(CR_SetActiveCDROM(Physical + Image), CDRIP_OK); }

  static TRip Rip(int32_t Start, int32_t End, int32_t BufferSize = ChunkBytes,
                  const std::function<void(int)>& AfterChunk = {}) {
    TRip Result;
    Result.BufferSize = BufferSize;
    Result.OpenResult = CR_OpenRipper(&Result.BufferSize, Start, End);
    std::vector<uint8_t> Buffer(ChunkBytes);
    for (;;) {
      int32_t Bytes = -1, Abort = 0;
      Result.LastResult = CR_RipChunk(Buffer.data(), &Bytes, &Abort);
      if (Bytes <= 0 || Result.LastResult != CDRIP_OK)
        break;
      Result.Chunks.push_back(Bytes);
      Result.Bytes.insert(Result.Bytes.end(), Buffer.begin(), Buffer.begin() + Bytes);
      if (AfterChunk)
        AfterChunk(static_cast<int>(Result.Chunks.size()));
    }
    CR_CloseRipper();
    return Result;
  }

  static int32_t MediaState() {
    int32_t State = -1;
    EXPECT_EQ(CR_IsMediaLoaded(&State), CDRIP_OK);
    return State;
  }

  static std::string DriveName() {
    char Record[364];
    std::memset(Record, 'x', sizeof Record);
    if (CR_GetCDROMParameters(Record) != CDRIP_OK)
      return "(none)";
    EXPECT_EQ(std::count(Record, Record + 364, '\0'), 364 - static_cast<long>(std::strlen(Record)));
    return Record;
  }
};

// What track I of the twelve holds from its start to the next track's: its pattern, then the
// pregap of the next track in silence.
std::vector<uint8_t> TrackBytes(const std::vector<tools::TTrackSpec>& Tracks, size_t I) {
  const uint32_t NextPregap = I + 1 < Tracks.size() ? Tracks[I + 1].Pregap : 0;
  std::vector<uint8_t> Bytes(size_t{Tracks[I].Sectors + NextPregap} * Sector, 0);
  tools::FillPattern(I + 1, 0, std::span(Bytes).first(size_t{Tracks[I].Sectors} * Sector));
  return Bytes;
}

TEST_F(CDRipTest, ReadsTheTableOfTwelveTracks) {
  const std::vector<tools::TTrackSpec> Tracks = TwelveTracks();
  const tools::TDiscLayout Layout = MakeDisc("twelve", Tracks);
  Insert({Layout.CueFile});
  Init();
  Select(0);

  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  ASSERT_EQ(CR_GetNumTocEntries(), 12);
  EXPECT_EQ(CR_GetTocEntry(0).dwStartSector, 0u) << "the first track starts the disc";
  for (int32_t I = 0; I < 12; ++I) {
    SCOPED_TRACE(I);
    const TOCENTRY Entry = CR_GetTocEntry(I), Next = CR_GetTocEntry(I + 1);
    EXPECT_EQ(Entry.dwStartSector, Layout.Starts[I]);
    EXPECT_EQ(Entry.btFlag, 0x10);
    EXPECT_EQ(Entry.btTrackNumber, I + 1);
    const uint32_t NextPregap = I < 11 ? Tracks[I + 1].Pregap : 0;
    EXPECT_EQ(Next.dwStartSector - Entry.dwStartSector, Tracks[I].Sectors + NextPregap);
  }
  const TOCENTRY LeadOut = CR_GetTocEntry(12);
  EXPECT_EQ(LeadOut.dwStartSector, Layout.LeadOut);
  EXPECT_EQ(LeadOut.btTrackNumber, 0xAA);
  for (const int32_t Outside : {-1, 13, 1000}) {
    const TOCENTRY Entry = CR_GetTocEntry(Outside);
    EXPECT_EQ(Entry.dwStartSector, 0u);
    EXPECT_EQ(Entry.btFlag, 0);
    EXPECT_EQ(Entry.btTrackNumber, 0);
  }
}

TEST_F(CDRipTest, EveryAudioTrackRipsBitExactly) {
  const std::vector<tools::TTrackSpec> Tracks = TwelveTracks();
  const tools::TDiscLayout Layout = MakeDisc("twelve", Tracks);
  Insert({Layout.CueFile});
  Init();
  Select(0);
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  for (int32_t I = 0; I < 12; ++I) {
    SCOPED_TRACE(I);
    const int32_t Start = static_cast<int32_t>(CR_GetTocEntry(I).dwStartSector);
    const int32_t End = static_cast<int32_t>(CR_GetTocEntry(I + 1).dwStartSector);
    const TRip Result = Rip(Start, End);
    EXPECT_EQ(Result.OpenResult, CDRIP_OK);
    EXPECT_EQ(Result.LastResult, CDRIP_OK) << "the range ends with 0 bytes and success";
    EXPECT_EQ(Result.BufferSize, ChunkBytes);
    EXPECT_TRUE(Result.Bytes == TrackBytes(Tracks, static_cast<size_t>(I)));
    EXPECT_TRUE(Result.Bytes == BinSectors(Layout.BinFile, Start, End));
    for (const int32_t Chunk : Result.Chunks)
      EXPECT_TRUE(Chunk > 0 && Chunk <= ChunkBytes && Chunk % Sector == 0) << Chunk;
  }
}

TEST_F(CDRipTest, ADataTrackIsFlaggedAndNotRipped) {
  const tools::TDiscLayout Layout = MakeDisc("mixed", MixedDisc);
  Insert({Layout.CueFile});
  Init();
  Select(0);
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  ASSERT_EQ(CR_GetNumTocEntries(), 3);
  EXPECT_EQ(CR_GetTocEntry(0).btFlag, 0x10);
  EXPECT_EQ(CR_GetTocEntry(1).btFlag, 0x14);
  EXPECT_EQ(CR_GetTocEntry(2).btFlag, 0x10);

  const int32_t Data = static_cast<int32_t>(Layout.Starts[1]);
  const int32_t After = static_cast<int32_t>(Layout.Starts[2]);
  const struct {
    const char* Name;
    int32_t Start, End;
  } Cases[] = {
      {"the data track", Data, After},
      {"into it", Data - 1, Data + 1},
      {"across it", 0, static_cast<int32_t>(Layout.LeadOut)},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TRip Result = Rip(Case.Start, Case.End);
    EXPECT_EQ(Result.OpenResult, CDRIP_ERR_RANGE);
    EXPECT_EQ(Result.LastResult, CDRIP_ERR_NOT_OPEN);
    EXPECT_TRUE(Result.Bytes.empty());
  }
  // The audio right before and after the data track still rips.
  EXPECT_EQ(Rip(0, Data).Bytes, BinSectors(Layout.BinFile, 0, Data));
  EXPECT_EQ(Rip(After, static_cast<int32_t>(Layout.LeadOut)).Bytes,
            BinSectors(Layout.BinFile, After, Layout.LeadOut));
}

TEST_F(CDRipTest, RangesAtTheEdgesOfTheDisc) {
  const std::vector<tools::TTrackSpec> Tracks = {{false, 200, 0, "pattern 5"}};
  const tools::TDiscLayout Layout = MakeDisc("one", Tracks);
  Insert({Layout.CueFile});
  Init();
  Select(0);
  const int32_t LeadOut = static_cast<int32_t>(Layout.LeadOut);
  ASSERT_EQ(LeadOut, 200);
  const struct {
    const char* Name;
    int32_t Start, End;
    int32_t OpenResult;
  } Cases[] = {
      {"first sector", 0, 1, CDRIP_OK},
      {"last sector", LeadOut - 1, LeadOut, CDRIP_OK},
      {"whole disc", 0, LeadOut, CDRIP_OK},
      {"empty", 7, 7, CDRIP_OK},
      {"empty at the lead-out", LeadOut, LeadOut, CDRIP_OK},
      {"before the disc", -1, 5, CDRIP_ERR_RANGE},
      {"past the lead-out", LeadOut - 1, LeadOut + 1, CDRIP_ERR_RANGE},
      {"far outside", LeadOut + 10, LeadOut + 20, CDRIP_ERR_RANGE},
      {"inverted", 10, 5, CDRIP_ERR_RANGE},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TRip Result = Rip(Case.Start, Case.End);
    EXPECT_EQ(Result.OpenResult, Case.OpenResult);
    if (Case.OpenResult == CDRIP_OK) {
      EXPECT_EQ(Result.LastResult, CDRIP_OK);
      EXPECT_EQ(Result.Bytes, BinSectors(Layout.BinFile, Case.Start, Case.End));
    } else {
      EXPECT_TRUE(Result.Bytes.empty());
    }
  }
}

TEST_F(CDRipTest, ARemovedImageMeansNoDisc) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  Insert({Layout.CueFile});
  Init();
  Select(0);
  EXPECT_EQ(MediaState(), 0);
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  EXPECT_EQ(CR_GetNumTocEntries(), 1);

  fs::remove(Layout.BinFile);
  EXPECT_NE(MediaState(), 0);
  EXPECT_EQ(CR_ReadToc(), CDRIP_ERR_NO_DISC);
  EXPECT_EQ(CR_GetNumTocEntries(), 0);
  EXPECT_EQ(CR_GetNumCDROM(), Physical + 1) << "the drive stays, without its disc";

  // Taken out of drives.ini, the drive goes too.
  Insert({});
  EXPECT_EQ(CR_GetNumCDROM(), Physical);
  if (Physical == 0) {
    EXPECT_NE(MediaState(), 0);
  }
}

TEST_F(CDRipTest, TheTableFollowsTheActiveDriveAndADiscPutInItsPlace) {
  const tools::TDiscLayout One = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  const tools::TDiscLayout Twelve = MakeDisc("twelve", TwelveTracks());
  const tools::TDiscLayout Mixed = MakeDisc("mixed", MixedDisc);
  Insert({One.CueFile, Twelve.CueFile});
  Init();
  ASSERT_EQ(CR_GetNumCDROM(), Physical + 2);
  Select(0);
  EXPECT_EQ(DriveName(), std::string(1, static_cast<char>('D' + Physical)) + ": one");
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  EXPECT_EQ(CR_GetNumTocEntries(), 1);
  Select(1);
  EXPECT_EQ(DriveName(), std::string(1, static_cast<char>('E' + Physical)) + ": twelve");
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  EXPECT_EQ(CR_GetNumTocEntries(), 12);
  EXPECT_EQ(CR_SetActiveCDROM(Physical + 2), CDRIP_ERR_NO_DRIVE);
  EXPECT_EQ(CR_SetActiveCDROM(-1), CDRIP_ERR_NO_DRIVE);

  Insert({One.CueFile, Mixed.CueFile});
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  EXPECT_EQ(CR_GetNumTocEntries(), 3);
  EXPECT_EQ(DriveName(), std::string(1, static_cast<char>('E' + Physical)) + ": mixed");
}

TEST_F(CDRipTest, AnImageRemovedOrShortenedDuringARipEndsItWithAnError) {
  const std::vector<tools::TTrackSpec> Tracks = {{false, 400, 0, "pattern 9"}};
  const struct {
    const char* Name;
    std::function<void(const tools::TDiscLayout&)> Change;
  } Cases[] = {
      {"data file shortened", [](auto& Layout) { fs::resize_file(Layout.BinFile, 2352 * 100); }},
      {"data file removed", [](auto& Layout) { fs::remove(Layout.BinFile); }},
      {"cue sheet removed", [](auto& Layout) { fs::remove(Layout.CueFile); }},
      {"taken out of drives.ini", [&](auto&) { Insert({}); }},
      {"tray opened", [](auto&) { ASSERT_EQ(CR_EjectCD(-1), CDRIP_OK); }},
  };
  Init();
  int Disc = 0;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const tools::TDiscLayout Layout = MakeDisc("disc" + std::to_string(++Disc), Tracks);
    Insert({Layout.CueFile});
    Select(0);
    const TRip Result = Rip(0, 400, ChunkBytes, [&](int Chunk) {
      if (Chunk == 1)
        Case.Change(Layout);
    });
    EXPECT_EQ(Result.OpenResult, CDRIP_OK);
    EXPECT_EQ(Result.LastResult, CDRIP_ERR_MEDIUM_CHANGED);
    ASSERT_EQ(Result.Chunks.size(), 1u) << "only the chunk before the change";
    std::vector<uint8_t> First(ChunkBytes);
    tools::FillPattern(9, 0, First);
    EXPECT_TRUE(Result.Bytes == First);
    CR_EjectCD(0);
  }
}

TEST_F(CDRipTest, AFailedRipKeepsFailingWithNoBytes) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 400, 0, "pattern 9"}});
  Insert({Layout.CueFile});
  Init();
  Select(0);
  int32_t Size = ChunkBytes;
  ASSERT_EQ(CR_OpenRipper(&Size, 0, 400), CDRIP_OK);
  fs::resize_file(Layout.BinFile, 2352 * 10);
  std::vector<uint8_t> Buffer(ChunkBytes);
  for (int I = 0; I < 3; ++I) {
    int32_t Bytes = -1, Abort = 0;
    EXPECT_EQ(CR_RipChunk(Buffer.data(), &Bytes, &Abort), CDRIP_ERR_MEDIUM_CHANGED);
    EXPECT_EQ(Bytes, 0);
  }
  EXPECT_EQ(CR_CloseRipper(), CDRIP_OK);
}

TEST_F(CDRipTest, RefusesNullPointersAndChunksWithoutARipper) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  Insert({Layout.CueFile});
  Init();
  Select(0);
  std::vector<uint8_t> Buffer(ChunkBytes);
  int32_t Bytes = -1, Abort = 0, Size = ChunkBytes;

  EXPECT_EQ(CR_Init(nullptr), CDRIP_ERR_NULL_POINTER);
  EXPECT_EQ(CR_GetCDROMParameters(nullptr), CDRIP_ERR_NULL_POINTER);
  EXPECT_EQ(CR_IsMediaLoaded(nullptr), CDRIP_ERR_NULL_POINTER);
  EXPECT_EQ(CR_OpenRipper(nullptr, 0, 10), CDRIP_ERR_NULL_POINTER);

  EXPECT_EQ(CR_RipChunk(Buffer.data(), &Bytes, &Abort), CDRIP_ERR_NOT_OPEN);
  EXPECT_EQ(Bytes, 0);

  ASSERT_EQ(CR_OpenRipper(&Size, 0, 100), CDRIP_OK);
  Bytes = -1;
  EXPECT_EQ(CR_RipChunk(nullptr, &Bytes, &Abort), CDRIP_ERR_NULL_POINTER);
  EXPECT_EQ(Bytes, 0);
  EXPECT_EQ(CR_RipChunk(Buffer.data(), nullptr, &Abort), CDRIP_ERR_NULL_POINTER);
  Bytes = -1;
  EXPECT_EQ(CR_RipChunk(Buffer.data(), &Bytes, nullptr), CDRIP_ERR_NULL_POINTER);
  EXPECT_EQ(Bytes, 0);
  Abort = 1;
  EXPECT_EQ(CR_RipChunk(Buffer.data(), &Bytes, &Abort), CDRIP_ERR_ABORTED);
  EXPECT_EQ(Bytes, 0);
  // None of that moved the rip on.
  Abort = 0;
  ASSERT_EQ(CR_RipChunk(Buffer.data(), &Bytes, &Abort), CDRIP_OK);
  ASSERT_EQ(Bytes, 75 * Sector);
  Buffer.resize(static_cast<size_t>(Bytes));
  EXPECT_EQ(Buffer, BinSectors(Layout.BinFile, 0, 75));

  EXPECT_EQ(CR_CloseRipper(), CDRIP_OK);
  Bytes = -1;
  EXPECT_EQ(CR_RipChunk(Buffer.data(), &Bytes, &Abort), CDRIP_ERR_NOT_OPEN);
  EXPECT_EQ(Bytes, 0);

  Size = Sector - 1;
  EXPECT_EQ(CR_OpenRipper(&Size, 0, 10), CDRIP_ERR_BUFFER_TOO_SMALL);
}

TEST_F(CDRipTest, ASmallerBufferGetsSmallerChunks) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  Insert({Layout.CueFile});
  Init();
  Select(0);
  const TRip Result = Rip(0, 100, 10 * Sector + 100);
  EXPECT_EQ(Result.BufferSize, 10 * Sector);
  EXPECT_EQ(Result.Chunks, std::vector<int32_t>(10, 10 * Sector));
  EXPECT_EQ(Result.Bytes, BinSectors(Layout.BinFile, 0, 100));
}

TEST_F(CDRipTest, KeepsItsOwnSettingsThroughTheLoadersRewrite) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  const tools::TDiscLayout Second = MakeDisc("second", {{false, 50, 0, "pattern 6"}});
  Insert({Layout.CueFile});
  Init("; read in small pieces\n[CD-ROM]\nnReadSectors=7\n[Ripping]\nMode=fast\n");

  std::ifstream In(Settings);
  const std::string Text(std::istreambuf_iterator<char>(In), {});
  EXPECT_EQ(Text, "; read in small pieces\n[CD-ROM]\nnReadSectors=7\nnActive=0\n"
                  "nTransportLayer=1\n[Ripping]\nMode=fast\n");
  Select(0);
  const TRip Result = Rip(0, 100);
  EXPECT_EQ(Result.BufferSize, 7 * Sector);
  ASSERT_EQ(Result.Chunks.size(), 15u);
  EXPECT_EQ(Result.Chunks.front(), 7 * Sector);
  EXPECT_EQ(Result.Chunks.back(), 2 * Sector);
  EXPECT_EQ(Result.Bytes, BinSectors(Layout.BinFile, 0, 100));

  // nActive picks the drive at start; chunk sizes beyond one second are held to one second.
  Insert({Layout.CueFile, Second.CueFile});
  std::ofstream(Settings) << "[CD-ROM]\nnActive=" << Physical + 1 << "\nnReadSectors=500\n";
  ASSERT_EQ(CR_Init(Settings.c_str()), CDRIP_OK);
  EXPECT_EQ(DriveName(), std::string(1, static_cast<char>('E' + Physical)) + ": second");
  EXPECT_EQ(Rip(0, 50).BufferSize, ChunkBytes);
}

TEST_F(CDRipTest, EjectAndThePlayingMark) {
  const tools::TDiscLayout Layout = MakeDisc("one", {{false, 100, 0, "pattern 5"}});
  Insert({Layout.CueFile});
  Init();
  Select(0);
  const char Letter = static_cast<char>('D' + Physical);
  EXPECT_EQ(MediaState(), 0);
  EXPECT_EQ(CR_EjectCD(-1), CDRIP_OK);
  EXPECT_NE(MediaState(), 0);
  EXPECT_EQ(CR_ReadToc(), CDRIP_ERR_NO_DISC);
  EXPECT_EQ(CR_EjectCD(0), CDRIP_OK);
  EXPECT_EQ(MediaState(), 0);
  EXPECT_EQ(CR_ReadToc(), CDRIP_OK);

  EXPECT_EQ(CR_IsAudioPlaying(), 0);
  platform::SetDrivePlaying(Letter, true);
  EXPECT_NE(CR_IsAudioPlaying(), 0);
  platform::SetDrivePlaying(Letter, false);
  EXPECT_EQ(CR_IsAudioPlaying(), 0);
}

TEST_F(CDRipTest, WithoutDrivesEveryDriveCallFails) {
  if (Physical > 0)
    GTEST_SKIP() << "this machine has CD drives";
  Init();
  EXPECT_EQ(CR_GetNumCDROM(), 0);
  EXPECT_EQ(CR_SetActiveCDROM(0), CDRIP_ERR_NO_DRIVE);
  EXPECT_EQ(DriveName(), "(none)");
  EXPECT_NE(MediaState(), 0);
  EXPECT_EQ(CR_ReadToc(), CDRIP_ERR_NO_DISC);
  EXPECT_EQ(CR_EjectCD(-1), CDRIP_ERR_NO_DRIVE);
  EXPECT_EQ(CR_IsAudioPlaying(), 0);
  int32_t Size = ChunkBytes;
  EXPECT_EQ(CR_OpenRipper(&Size, 0, 10), CDRIP_ERR_NO_DRIVE);
}

TEST_F(CDRipTest, TableReadsFromAnotherThreadDuringARipChangeNothing) {
  const std::vector<tools::TTrackSpec> Tracks = TwelveTracks();
  const tools::TDiscLayout Layout = MakeDisc("twelve", Tracks);
  Insert({Layout.CueFile});
  // Small chunks, so that the two threads meet often.
  Init("[CD-ROM]\nnReadSectors=3\n");
  Select(0);
  ASSERT_EQ(CR_ReadToc(), CDRIP_OK);
  const int32_t Start = static_cast<int32_t>(Layout.Starts[0]);
  const int32_t End = static_cast<int32_t>(Layout.LeadOut);

  std::atomic<bool> Stop{false};
  std::atomic<int> Reads{0}, WrongAnswers{0};
  std::thread Timer([&] {
    // What the main window's timer asks, as often as it can.
    while (!Stop) {
      int32_t State = -1;
      const bool Right = CR_ReadToc() == CDRIP_OK && CR_GetNumTocEntries() == 12 &&
                         CR_GetTocEntry(12).dwStartSector == Layout.LeadOut &&
                         CR_IsMediaLoaded(&State) == CDRIP_OK && State == 0 &&
                         CR_IsAudioPlaying() == 0 && CR_GetNumCDROM() == Physical + 1 &&
                         !DriveName().empty();
      WrongAnswers += Right ? 0 : 1;
      ++Reads;
    }
  });
  const TRip Result = Rip(Start, End);
  Stop = true;
  Timer.join();

  EXPECT_EQ(Result.LastResult, CDRIP_OK);
  EXPECT_TRUE(Result.Bytes == BinSectors(Layout.BinFile, Start, End));
  EXPECT_GT(Reads, 0);
  EXPECT_EQ(WrongAnswers, 0);
}

TEST_F(CDRipTest, ExportsEveryNameTheLoaderLooksUp) {
  const platform::TModule Library = platform::LoadModule("cdrip.dll");
  ASSERT_TRUE(Library.Loaded()) << platform::LastModuleError();
  for (const char* Name :
       {"CR_Init", "CR_DeInit", "CR_GetNumCDROM", "CR_SetActiveCDROM", "CR_GetCDROMParameters",
        "CR_ReadToc", "CR_GetNumTocEntries", "CR_GetTocEntry", "CR_IsMediaLoaded",
        "CR_IsAudioPlaying", "CR_EjectCD", "CR_OpenRipper", "CR_RipChunk", "CR_CloseRipper"})
    EXPECT_NE(Library.Symbol(Name), nullptr) << Name;
  for (const char* Name : {"CR_GetCDRipVersion",
                           "CR_GetActiveCDROM",
                           "CR_SelectCDROMType",
                           "CR_GetCDROMType",
                           "CR_SetCDROMParameters",
                           "CR_GetPercentCompleted",
                           "CR_GetPeakValue",
                           "CR_GetNumberOfJitterErrors",
                           "CR_GetJitterPosition",
                           "CR_LoadSettings",
                           "CR_SaveSettings",
                           "CR_NormalizeChunk",
                           "CR_ReadCDText",
                           "CR_IsUnitReady",
                           "CR_PlayTrack",
                           "CR_StopPlayTrack",
                           "CR_PauseCD",
                           "CR_GetCDStatusInfo",
                           "CR_LockCD",
                           "CR_GetSubChannelTrackInfo",
                           "CR_GetPlayPosition",
                           "CR_SetPlayPosition",
                           "CR_PlaySection",
                           "CR_GetLastJitterErrorPosition",
                           "CR_GetCurrentRipSector",
                           "CR_SetTransportLayer",
                           "CR_GetTransportLayer",
                           "CR_ScanForC2Errors"}) {
    const auto Stub = reinterpret_cast<int32_t (*)()>(Library.Symbol(Name));
    ASSERT_NE(Stub, nullptr) << Name;
    EXPECT_EQ(Stub(), CDRIP_ERR_NOT_SUPPORTED) << Name;
  }
}

} // namespace
