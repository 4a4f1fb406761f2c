#include "tests/support/TempDir.h"
#include "tools/DiscImage.h"

#include <sys/wait.h>

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/sector.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
using tools::SectorBytes;
using tools::TTrackSpec;

namespace {

// Names each case of a table by its Name.
const auto CaseName = [](const auto& Info) { return std::string(Info.param.Name); };

struct TCdioDestroy {
  void operator()(CdIo_t* Cdio) const { cdio_destroy(Cdio); }
};
using TCdio = std::unique_ptr<CdIo_t, TCdioDestroy>;

std::string ReadAll(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), {}};
}

void WriteAll(const std::string& Name, const std::string& Bytes) {
  std::ofstream(Name, std::ios::binary) << Bytes;
}

std::string Pattern(uint64_t Seed, uint64_t Offset, size_t Count) {
  std::string Bytes(Count, '\0');
  tools::FillPattern(Seed, Offset, {reinterpret_cast<uint8_t*>(Bytes.data()), Count});
  return Bytes;
}

TTrackSpec Audio(uint32_t Sectors, std::string Source, uint32_t Pregap = 0) {
  return {false, Sectors, Pregap, std::move(Source)};
}

TTrackSpec Data(uint32_t Sectors, uint32_t Pregap = 0) {
  return {true, Sectors, Pregap, ""};
}

// A RIFF WAVE file, CD audio unless a field says otherwise.
struct TWav {
  uint16_t Tag = 1, Channels = 2, Bits = 16, BlockAlign = 4;
  uint32_t Rate = 44100;
  bool Extensible = false;
  std::string Pcm = {};
  std::string BeforeData = {};           // chunks between "fmt " and "data"
  std::optional<uint32_t> DataSize = {}; // what the header claims, when not the truth

  std::string Bytes() const {
    const auto Le = [](uint64_t Value, int Count) {
      std::string Out;
      for (int I = 0; I < Count; ++I)
        Out += static_cast<char>(Value >> (8 * I) & 0xFF);
      return Out;
    };
    std::string Format = Le(Extensible ? 0xFFFE : Tag, 2) + Le(Channels, 2) + Le(Rate, 4) +
                         Le(Rate * BlockAlign, 4) + Le(BlockAlign, 2) + Le(Bits, 2);
    if (Extensible)
      Format += Le(22, 2) + Le(Bits, 2) + Le(3, 4) + Le(Tag, 2) +
                std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    const std::string Body = "WAVEfmt " + Le(Format.size(), 4) + Format + BeforeData + "data" +
                             Le(DataSize.value_or(Pcm.size()), 4) + Pcm;
    return "RIFF" + Le(Body.size(), 4) + Body;
  }
};

// A temporary folder with a CUE sheet name in it. Sources may name files in the folder as
// "@name"; libcdio's own warnings about short tracks are kept quiet.
class DiscTest : public testing::Test {
protected:
  DiscTest() { cdio_loglevel_default = CDIO_LOG_ERROR; }

  std::string Cue() const { return Folder.File("disc.cue"); }
  std::vector<TTrackSpec> InFolder(std::vector<TTrackSpec> Tracks) const {
    for (TTrackSpec& Track : Tracks)
      if (const size_t At = Track.Source.find('@'); At != std::string::npos)
        Track.Source.replace(At, 1, Folder.Path());
    return Tracks;
  }
  std::string TrackBytes(const tools::TDiscLayout& Layout, size_t Track, uint32_t Sectors) const {
    return ReadAll(Layout.BinFile)
        .substr(uint64_t{Layout.Starts[Track]} * SectorBytes, uint64_t{Sectors} * SectorBytes);
  }

  TTempDir Folder;
};

struct TLayoutCase {
  const char* Name;
  std::vector<TTrackSpec> Tracks;
  std::vector<uint32_t> Starts;
  uint32_t LeadOut;
};

void PrintTo(const TLayoutCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class LayoutTest : public DiscTest, public testing::WithParamInterface<TLayoutCase> {};

// libcdio, as the CD library will, must see the tracks where the layout says, of the right
// kind, and read back every byte of the BIN file.
TEST_P(LayoutTest, LibcdioSeesTheLayout) {
  const TLayoutCase& Case = GetParam();
  WriteAll(Folder.File("short.wav"), TWav{.Pcm = Pattern(1, 0, 1000 * 4)}.Bytes());
  WriteAll(Folder.File("long.wav"), TWav{.Pcm = Pattern(2, 0, 30 * SectorBytes)}.Bytes());

  const tools::TDiscLayout Layout = tools::WriteDiscImage(InFolder(Case.Tracks), Cue());

  EXPECT_EQ(Layout.CueFile, Cue());
  EXPECT_EQ(Layout.BinFile, Folder.File("disc.bin"));
  EXPECT_EQ(Layout.Starts, Case.Starts);
  EXPECT_EQ(Layout.LeadOut, Case.LeadOut);
  const std::string Bin = ReadAll(Layout.BinFile);
  ASSERT_EQ(Bin.size(), uint64_t{Case.LeadOut} * SectorBytes);

  const TCdio Cdio(cdio_open(Cue().c_str(), DRIVER_BINCUE));
  ASSERT_TRUE(Cdio);
  ASSERT_EQ(cdio_get_first_track_num(Cdio.get()), 1);
  ASSERT_EQ(size_t{cdio_get_num_tracks(Cdio.get())}, Case.Tracks.size());
  for (size_t I = 0; I < Case.Tracks.size(); ++I) {
    const track_t Track = static_cast<track_t>(I + 1);
    EXPECT_EQ(cdio_get_track_lsn(Cdio.get(), Track), static_cast<lsn_t>(Case.Starts[I]))
        << "track " << I + 1;
    EXPECT_EQ(cdio_get_track_format(Cdio.get(), Track),
              Case.Tracks[I].Data ? TRACK_FORMAT_DATA : TRACK_FORMAT_AUDIO)
        << "track " << I + 1;
  }
  EXPECT_EQ(cdio_get_track_lsn(Cdio.get(), CDIO_CDROM_LEADOUT_TRACK),
            static_cast<lsn_t>(Case.LeadOut));

  std::string Read(Bin.size(), '\0');
  constexpr uint32_t Chunk = 100;
  for (uint32_t Lsn = 0; Lsn < Case.LeadOut; Lsn += Chunk)
    ASSERT_EQ(cdio_read_audio_sectors(Cdio.get(), Read.data() + uint64_t{Lsn} * SectorBytes, Lsn,
                                      std::min(Chunk, Case.LeadOut - Lsn)),
              DRIVER_OP_SUCCESS);
  EXPECT_TRUE(Read == Bin);

  // A data track's sectors, pregap included, carry the sync pattern, their own address on the
  // disc as libcdio counts it, and mode 1.
  for (size_t I = 0; I < Case.Tracks.size(); ++I) {
    if (!Case.Tracks[I].Data)
      continue;
    const uint32_t End = Case.Starts[I] + Case.Tracks[I].Sectors;
    for (uint32_t Lsn = Case.Starts[I] - Case.Tracks[I].Pregap; Lsn < End; ++Lsn) {
      const char* Sector = Bin.data() + uint64_t{Lsn} * SectorBytes;
      msf_t Msf;
      cdio_lsn_to_msf(static_cast<lsn_t>(Lsn), &Msf);
      ASSERT_EQ(std::string(Sector, 16), std::string("\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                                     "\xFF\x00",
                                                     12) +
                                             static_cast<char>(Msf.m) + static_cast<char>(Msf.s) +
                                             static_cast<char>(Msf.f) + '\x01')
          << "sector " << Lsn;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    DiscImage, LayoutTest,
    testing::Values(
        TLayoutCase{"OneTrack", {Audio(1000, "sine 440")}, {0}, 1000},
        TLayoutCase{"SeveralTracks",
                    {Audio(300, "silence"), Audio(450, "noise 1"), Audio(2000, "chord 2")},
                    {0, 300, 750},
                    2750},
        // A pregap before track 1 moves it off LSN 0; a later one lies after the track before.
        TLayoutCase{
            "Pregaps",
            {Audio(500, "pattern 1", 75), Audio(400, "sine 1000", 150), Audio(200, "pattern 3", 2)},
            {75, 725, 1127},
            1327},
        TLayoutCase{"DataTrackFirst", {Data(600), Audio(400, "chord 3", 150)}, {0, 750}, 1150},
        TLayoutCase{"DataTrackInTheMiddle",
                    {Audio(300, "sine 440"), Data(500, 150), Audio(200, "pattern 4", 150)},
                    {0, 450, 1100},
                    1300},
        // A track of one sector, and one shorter than a second, between longer ones.
        TLayoutCase{"VeryShortTracks",
                    {Audio(100, "pattern 5"), Audio(1, "pattern 6"), Audio(40, "chord 7"),
                     Audio(100, "sine 440")},
                    {0, 100, 101, 141},
                    241},
        TLayoutCase{"WavShorterAndLongerThanTheTrack",
                    {Audio(10, "wav @short.wav"), Audio(20, "wav @long.wav")},
                    {0, 10},
                    30}),
    CaseName);

TEST_F(DiscTest, CueSheetNamesTheBinFileAndTheIndexes) {
  tools::WriteDiscImage({Audio(200, "silence"), Data(4500, 150), Audio(10, "silence", 75)}, Cue());

  EXPECT_EQ(ReadAll(Cue()), "FILE \"disc.bin\" BINARY\n"
                            "  TRACK 01 AUDIO\n"
                            "    INDEX 01 00:00:00\n"
                            "  TRACK 02 MODE1/2352\n"
                            "    INDEX 00 00:02:50\n"
                            "    INDEX 01 00:04:50\n"
                            "  TRACK 03 AUDIO\n"
                            "    INDEX 00 01:04:50\n"
                            "    INDEX 01 01:05:50\n");
}

// Every byte of a pattern track is the generator's; any range of it can be made on its own.
TEST_F(DiscTest, PatternTrackIsTheGeneratorsBytes) {
  const auto Layout =
      tools::WriteDiscImage({Audio(3, "silence"), Audio(1500, "pattern 7", 37)}, Cue());

  const std::string Track = TrackBytes(Layout, 1, 1500);
  ASSERT_EQ(Track.size(), 1500u * SectorBytes);
  // The pregap before it is silence.
  EXPECT_EQ(ReadAll(Layout.BinFile).substr(3 * SectorBytes, 37 * SectorBytes),
            std::string(37 * SectorBytes, '\0'));
  EXPECT_TRUE(Track == Pattern(7, 0, Track.size()));
  EXPECT_EQ(Track.substr(12345, 1001), Pattern(7, 12345, 1001));
  EXPECT_NE(Track.substr(0, 4096), Pattern(8, 0, 4096));
  // Not a constant or a short cycle: every byte value turns up.
  std::vector<bool> Seen(256);
  for (unsigned char Byte : Track.substr(0, 1 << 16))
    Seen[Byte] = true;
  EXPECT_EQ(std::count(Seen.begin(), Seen.end(), true), 256);
}

struct TWavCase {
  const char* Name;
  TWav Wav;
  uint32_t Sectors;
};

void PrintTo(const TWavCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class WavTest : public DiscTest, public testing::WithParamInterface<TWavCase> {};

// The track holds the file's PCM exactly, cut to its length or padded with silence.
TEST_P(WavTest, TrackIsTheFilesPcm) {
  const TWavCase& Case = GetParam();
  WriteAll(Folder.File("in.wav"), Case.Wav.Bytes());

  const auto Layout = tools::WriteDiscImage(
      {Audio(5, "pattern 1"), Audio(Case.Sectors, "wav " + Folder.File("in.wav"), 3)}, Cue());

  std::string Expected = Case.Wav.Pcm;
  Expected.resize(uint64_t{Case.Sectors} * SectorBytes, '\0');
  EXPECT_TRUE(TrackBytes(Layout, 1, Case.Sectors) == Expected);
}

INSTANTIATE_TEST_SUITE_P(
    DiscImage, WavTest,
    testing::Values(TWavCase{"ShorterPartSector", {.Pcm = Pattern(3, 0, 1001 * 4)}, 4},
                    TWavCase{"Longer", {.Pcm = Pattern(3, 0, 5 * SectorBytes + 8)}, 2},
                    TWavCase{"ExactlyTheTrack", {.Pcm = Pattern(3, 0, 3 * SectorBytes)}, 3},
                    TWavCase{"Empty", {}, 2},
                    // A chunk of odd size before the data is skipped with its pad byte.
                    TWavCase{"OtherChunksSkipped",
                             {.Pcm = Pattern(4, 0, 2 * SectorBytes),
                              .BeforeData = std::string("LIST\x03\x00\x00\x00"
                                                        "abc\x00",
                                                        12)},
                             2},
                    TWavCase{"Extensible", {.Extensible = true, .Pcm = Pattern(5, 0, 4000)}, 2}),
    CaseName);

struct TErrorCase {
  const char* Name;
  std::function<std::vector<TTrackSpec>()> Tracks;
  const char* Error; // a part of the message
};

void PrintTo(const TErrorCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class WriteErrorTest : public DiscTest, public testing::WithParamInterface<TErrorCase> {};

// An invalid disc is refused with a clear text before anything is written: an image already
// there stays as it was.
TEST_P(WriteErrorTest, RefusedBeforeWriting) {
  const TErrorCase& Case = GetParam();
  const TWav Good{.Pcm = Pattern(1, 0, 400)};
  const std::vector<std::pair<const char*, std::string>> Files{
      {"not-riff.wav", "RIFX" + Good.Bytes().substr(4)},
      {"not-wave.wav", Good.Bytes().replace(8, 4, "AVI ")},
      {"mono.wav", TWav{.Channels = 1, .BlockAlign = 2, .Pcm = "ab"}.Bytes()},
      {"8bit.wav", TWav{.Bits = 8, .BlockAlign = 2, .Pcm = "ab"}.Bytes()},
      {"48k.wav", TWav{.Rate = 48000, .Pcm = "abcd"}.Bytes()},
      {"float.wav", TWav{.Tag = 3, .Pcm = "abcd"}.Bytes()},
      {"truncated.wav", TWav{.Pcm = "abcd", .DataSize = 4000}.Bytes()},
      {"half-frame.wav", TWav{.Pcm = "abcdef"}.Bytes()},
      {"no-data.wav", Good.Bytes().substr(0, 36)},
      {"data-first.wav", std::string("RIFF\x1C\x00\x00\x00WAVEdata\x04\x00\x00\x00", 20) + "abcd" +
                             Good.Bytes().substr(12, 24)},
      {"short-fmt.wav", std::string("RIFF\x18\x00\x00\x00WAVEfmt \x04\x00\x00\x00\x01\x00\x02\x00"
                                    "data\x00\x00\x00\x00",
                                    32)},
      {"empty.wav", ""},
  };
  for (const auto& [Name, Bytes] : Files)
    WriteAll(Folder.File(Name), Bytes);
  tools::WriteDiscImage({Audio(10, "pattern 9")}, Cue());
  const std::string Before = ReadAll(Folder.File("disc.bin"));

  try {
    tools::WriteDiscImage(InFolder(Case.Tracks()), Cue());
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& Error) {
    EXPECT_NE(std::string(Error.what()).find(Case.Error), std::string::npos) << Error.what();
  }
  EXPECT_EQ(ReadAll(Folder.File("disc.bin")), Before);
  EXPECT_NE(ReadAll(Cue()).find("TRACK 01 AUDIO"), std::string::npos);
}

std::vector<TTrackSpec> Repeat(size_t Count, TTrackSpec Track) {
  return std::vector<TTrackSpec>(Count, Track);
}

INSTANTIATE_TEST_SUITE_P(
    DiscImage, WriteErrorTest,
    testing::Values(
        TErrorCase{"NoTracks", [] { return std::vector<TTrackSpec>{}; }, "at least one track"},
        TErrorCase{"ZeroSectors",
                   [] {
                     return std::vector{Audio(10, "silence"), Audio(0, "silence")};
                   },
                   "track 2: a track needs at least 1 sector"},
        TErrorCase{"ZeroSectorDataTrack", [] { return std::vector{Data(0)}; },
                   "track 1: a track needs at least 1 sector"},
        TErrorCase{"UnknownSource", [] { return std::vector{Audio(10, "flute 3")}; },
                   "track 1: unknown audio source \"flute\""},
        TErrorCase{"BadSineFrequency", [] { return std::vector{Audio(10, "sine 30000")}; },
                   "track 1: a sine needs a frequency above 0 and below 22050 Hz"},
        TErrorCase{"HundredTracks", [] { return Repeat(100, Audio(1, "silence")); },
                   "100 tracks: a disc holds at most 99"},
        // 99:57:74 of tracks is the most: the lead-out then starts at 99:59:74 on the disc.
        TErrorCase{"LongerThanADisc",
                   [] {
                     return std::vector{Audio(449000, "silence"), Audio(800, "silence", 50)};
                   },
                   "the disc is 99:58:00 long"},
        TErrorCase{"FarLongerThanADisc",
                   [] { return Repeat(3, Audio(UINT32_MAX, "silence", UINT32_MAX)); },
                   "must end by 99:59:74"},
        TErrorCase{"WavMissing", [] { return std::vector{Audio(10, "wav @missing.wav")}; },
                   "missing.wav: No such file or directory"},
        TErrorCase{"WavNotRiff", [] { return std::vector{Audio(10, "wav @not-riff.wav")}; },
                   "not-riff.wav: not a RIFF WAVE file"},
        TErrorCase{"WavNotWave", [] { return std::vector{Audio(10, "wav @not-wave.wav")}; },
                   "not a RIFF WAVE file"},
        TErrorCase{"WavEmpty", [] { return std::vector{Audio(10, "wav @empty.wav")}; },
                   "not a RIFF WAVE file"},
        TErrorCase{"WavMono", [] { return std::vector{Audio(10, "wav @mono.wav")}; },
                   "mono.wav: format 1, 1 channels, 44100 Hz, 16-bit; a CD track needs 16-bit "
                   "stereo 44100 Hz PCM"},
        TErrorCase{"Wav8Bit", [] { return std::vector{Audio(10, "wav @8bit.wav")}; },
                   "8-bit; a CD track needs"},
        TErrorCase{"Wav48k", [] { return std::vector{Audio(10, "wav @48k.wav")}; }, "48000 Hz"},
        TErrorCase{"WavFloat", [] { return std::vector{Audio(10, "wav @float.wav")}; }, "format 3"},
        TErrorCase{"WavDataPastTheEnd", [] { return std::vector{Audio(10, "wav @truncated.wav")}; },
                   "the data chunk runs past the end of the file"},
        TErrorCase{"WavHalfAFrame", [] { return std::vector{Audio(10, "wav @half-frame.wav")}; },
                   "ends inside a sample frame"},
        TErrorCase{"WavNoData", [] { return std::vector{Audio(10, "wav @no-data.wav")}; },
                   "no data chunk"},
        TErrorCase{"WavDataBeforeFormat",
                   [] { return std::vector{Audio(10, "wav @data-first.wav")}; },
                   "the data chunk comes before the fmt chunk"},
        TErrorCase{"WavShortFormat", [] { return std::vector{Audio(10, "wav @short-fmt.wav")}; },
                   "the fmt chunk is too short"},
        // The bad file is the second track's: nothing is written for the first either.
        TErrorCase{"LaterTrackBad",
                   [] {
                     return std::vector{Audio(10, "silence"), Audio(10, "wav @mono.wav")};
                   },
                   "track 2: "}),
    CaseName);

TEST_F(DiscTest, UnwritableFolderIsAnError) {
  try {
    tools::WriteDiscImage({Audio(10, "silence")}, Folder.File("none/disc.cue"));
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& Error) {
    EXPECT_STREQ(
        Error.what(),
        ("cannot create " + Folder.File("none/disc.bin") + ": No such file or directory").c_str());
  }
}

struct TLevelCase {
  const char* Source;
  int Lowest, Highest; // the range of the loudest sample
};

// Each source's loudest sample, over a track long enough to hold several chords; the chords
// begin and end in silence so that tracks join without a click.
TEST_F(DiscTest, SourcesKeepTheirLevel) {
  const TLevelCase Cases[] = {
      {"silence", 0, 0},        {"sine 441", 16383, 16384},  {"sine 441 1", 32766, 32767},
      {"sine 441 0", 0, 0},     {"noise 3", 16000, 16384},   {"chord 1", 6000, 26000},
      {"chord 2", 6000, 26000}, {"pattern 1", 32767, 32768},
  };
  for (const TLevelCase& Case : Cases) {
    SCOPED_TRACE(Case.Source);
    const auto Layout = tools::WriteDiscImage({Audio(1200, Case.Source)}, Cue());
    const std::string Bytes = TrackBytes(Layout, 0, 1200);
    std::vector<int16_t> Samples(Bytes.size() / 2);
    std::memcpy(Samples.data(), Bytes.data(), Bytes.size());
    int Loudest = 0;
    for (int16_t Sample : Samples)
      Loudest = std::max(Loudest, std::abs(int{Sample}));
    EXPECT_GE(Loudest, Case.Lowest);
    EXPECT_LE(Loudest, Case.Highest);
    if (std::string_view(Case.Source).starts_with("chord")) {
      EXPECT_LE(std::abs(Samples.front()) + std::abs(Samples[1]), 2);
      EXPECT_LE(std::abs(Samples.back()) + std::abs(Samples[Samples.size() - 2]), 2);
    }
  }
}

// 441 Hz repeats every 100 frames; the sine keeps its phase deep into a long track (past
// several write blocks), and the right channel leads the left.
TEST_F(DiscTest, SineKeepsItsPhase) {
  constexpr uint32_t Sectors = 5000;
  const auto Layout = tools::WriteDiscImage({Audio(Sectors, "sine 441 0.5")}, Cue());
  const std::string Bytes = TrackBytes(Layout, 0, Sectors);
  const auto Sample = [&](uint64_t Frame, int Channel) {
    int16_t Value;
    std::memcpy(&Value, Bytes.data() + Frame * 4 + Channel * 2, 2);
    return Value;
  };
  for (uint64_t Frame :
       {uint64_t{0}, uint64_t{25}, uint64_t{1234567}, uint64_t{Sectors} * 588 - 75}) {
    const double Left =
        0.5 * 32767 * std::sin(2 * std::numbers::pi * static_cast<double>(Frame % 100) / 100);
    EXPECT_NEAR(Sample(Frame, 0), Left, 1.0) << "frame " << Frame;
    const double Right = 0.5 * 32767 *
                         std::sin(2 * std::numbers::pi * static_cast<double>(Frame % 100) / 100 +
                                  std::numbers::pi / 16);
    EXPECT_NEAR(Sample(Frame, 1), Right, 1.0) << "frame " << Frame;
  }
}

// The same description makes the same bytes, whatever the source.
TEST_F(DiscTest, SameInputSameBytes) {
  WriteAll(Folder.File("in.wav"), TWav{.Pcm = Pattern(6, 0, 7000)}.Bytes());
  const auto Tracks = InFolder(
      {Audio(1500, "chord 11"), Audio(300, "noise 4", 20), Audio(200, "sine 523.25 0.3"),
       Data(100, 150), Audio(50, "pattern 2", 150), Audio(10, "wav @in.wav"), Audio(5, "silence")});
  const auto First = tools::WriteDiscImage(Tracks, Folder.File("a.cue"));
  const auto Second = tools::WriteDiscImage(Tracks, Folder.File("b.cue"));

  EXPECT_EQ(First.Starts, Second.Starts);
  EXPECT_TRUE(ReadAll(First.BinFile) == ReadAll(Second.BinFile));
  EXPECT_EQ(ReadAll(First.CueFile).substr(11), ReadAll(Second.CueFile).substr(11));
  // Seeds matter.
  const auto Other = tools::WriteDiscImage({Audio(1500, "chord 12")}, Folder.File("c.cue"));
  EXPECT_FALSE(ReadAll(Other.BinFile) == ReadAll(First.BinFile).substr(0, 1500 * SectorBytes));
}

TEST(DiscDescription, ParsesEveryForm) {
  const auto Tracks = tools::ParseDiscDescription("# a test disc\r\n"
                                                  "audio 00:30:00 chord 1   # the opener\r\n"
                                                  "\n"
                                                  "  audio 2250 pregap=150 sine 440 0.25\n"
                                                  "data 01:00:10 pregap=00:02:00\n"
                                                  "\taudio 1 wav my file.wav\n"
                                                  "audio 7 silence");
  EXPECT_EQ(Tracks, (std::vector<TTrackSpec>{
                        Audio(2250, "chord 1"),
                        Audio(2250, "sine 440 0.25", 150),
                        Data(4510, 150),
                        Audio(1, "wav my file.wav"),
                        Audio(7, "silence"),
                    }));
}

struct TParseErrorCase {
  const char* Text;
  const char* Error;
};

// A syntax error names its line.
TEST(DiscDescription, ErrorsNameTheLine) {
  const TParseErrorCase Cases[] = {
      {"", "the description has no tracks"},
      {"# only a comment\n\n", "the description has no tracks"},
      {"audio 10 silence\nvideo 10\n", "line 2: \"audio\" or \"data\" expected, not \"video\""},
      {"audio\n", "line 1: the track's length in sectors is missing"},
      {"audio ten silence", "line 1: \"ten\" is not a number of sectors"},
      {"\n\naudio 0 silence", "line 3: a track needs at least 1 sector"},
      {"audio 00:61:00 silence", "line 1: \"00:61:00\" is not a time MM:SS:FF"},
      {"audio 00:10:75 silence", "line 1: \"00:10:75\" is not a time MM:SS:FF"},
      {"audio 1:2 silence", "line 1: \"1:2\" is not a time MM:SS:FF"},
      {"audio 100:00:00 silence", "line 1: \"100:00:00\" is longer than a disc"},
      {"audio 99999999999999999999 silence", "line 1: \"99999999999999999999\" is not a number"},
      {"audio 10 pregap=x silence", "line 1: \"x\" is not a number of sectors"},
      {"audio 10\n", "line 1: the audio source is missing"},
      {"audio 10 pregap=5\n", "line 1: the audio source is missing"},
      {"audio 10 flute", "line 1: unknown audio source \"flute\""},
      {"audio 10 sine", "line 1: \"sine HZ [AMPLITUDE]\" expected, not \"sine\""},
      {"audio 10 sine 440 0.5 1", "line 1: \"sine HZ [AMPLITUDE]\" expected"},
      {"audio 10 sine 0", "line 1: a sine needs a frequency above 0 and below 22050 Hz"},
      {"audio 10 sine -5", "line 1: a sine needs a frequency above 0"},
      {"audio 10 sine 440 1.5", "line 1: a sine's amplitude goes from 0 to 1, not \"1.5\""},
      {"audio 10 sine 440 loud", "line 1: \"loud\" is not an amplitude"},
      {"audio 10 chord", "line 1: \"chord SEED\" expected"},
      {"audio 10 noise -1", "line 1: \"-1\" is not a seed"},
      {"audio 10 pattern 1 2", "line 1: \"pattern SEED\" expected"},
      {"audio 10 silence please", "line 1: \"silence\" expected"},
      {"audio 10 wav", "line 1: the file name is missing"},
      {"data 10 pattern 1", "line 1: a data track takes no audio source, but \"pattern 1\""},
  };
  for (const TParseErrorCase& Case : Cases) {
    SCOPED_TRACE(Case.Text);
    try {
      tools::ParseDiscDescription(Case.Text);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& Error) {
      EXPECT_NE(std::string(Error.what()).find(Case.Error), std::string::npos) << Error.what();
    }
  }
  std::string Hundred;
  for (int I = 0; I < 100; ++I)
    Hundred += "audio 1 silence\n";
  EXPECT_THROW(
      {
        try {
          tools::ParseDiscDescription(Hundred);
        } catch (const std::runtime_error& Error) {
          EXPECT_STREQ(Error.what(), "line 100: a disc holds at most 99 tracks");
          throw;
        }
      },
      std::runtime_error);
}

// The demo disc the build makes: a few tracks of music, 10 to 40 seconds each, no data.
TEST(DemoDisc, IsAFewShortPiecesOfMusic) {
  const auto Tracks = tools::ParseDiscDescription(ReadAll(TAVRUNE_DEMO_DISC));
  EXPECT_GE(Tracks.size(), 4u);
  EXPECT_LE(Tracks.size(), 5u);
  for (const TTrackSpec& Track : Tracks) {
    EXPECT_FALSE(Track.Data);
    EXPECT_GE(Track.Sectors, 10 * tools::SectorsPerSecond);
    EXPECT_LE(Track.Sectors, 40 * tools::SectorsPerSecond);
  }

  cdio_loglevel_default = CDIO_LOG_ERROR;
  const TCdio Cdio(cdio_open(TAVRUNE_DEMO_CUE, DRIVER_BINCUE));
  ASSERT_TRUE(Cdio);
  EXPECT_EQ(size_t{cdio_get_num_tracks(Cdio.get())}, Tracks.size());
  EXPECT_EQ(cdio_get_track_format(Cdio.get(), 1), TRACK_FORMAT_AUDIO);
}

class MkdiscTest : public DiscTest {
protected:
  // Runs mkdisc with Arguments (a shell command's tail) after the shell commands Before; its
  // exit status.
  int Run(const std::string& Arguments, const std::string& Before = "") const {
    const int Status = std::system((Before + "'" TAVRUNE_MKDISC "' " + Arguments + " >'" +
                                    Folder.File("out") + "' 2>'" + Folder.File("err") + "'")
                                       .c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }
  std::string Out() const { return ReadAll(Folder.File("out")); }
  std::string Err() const { return ReadAll(Folder.File("err")); }
};

TEST_F(MkdiscTest, MakesTheImageOfADescription) {
  WriteAll(Folder.File("disc.txt"), "audio 300 chord 1\ndata 200 pregap=150\n");

  ASSERT_EQ(Run("'" + Folder.File("disc.txt") + "' '" + Cue() + "'"), 0) << Err();

  EXPECT_EQ(Err(), "");
  EXPECT_EQ(Out(), Cue() + ": 2 tracks, 650 sectors\n");
  const TCdio Cdio(cdio_open(Cue().c_str(), DRIVER_BINCUE));
  ASSERT_TRUE(Cdio);
  EXPECT_EQ(cdio_get_num_tracks(Cdio.get()), 2);
  EXPECT_EQ(cdio_get_track_lsn(Cdio.get(), 2), 450);
  EXPECT_EQ(cdio_get_track_format(Cdio.get(), 2), TRACK_FORMAT_DATA);
}

TEST_F(MkdiscTest, ReadsStandardInput) {
  WriteAll(Folder.File("disc.txt"), "audio 10 pattern 3\n");

  ASSERT_EQ(Run("- '" + Cue() + "' <'" + Folder.File("disc.txt") + "'"), 0) << Err();

  EXPECT_TRUE(ReadAll(Folder.File("disc.bin")) == Pattern(3, 0, 10 * SectorBytes));
}

// A write that fails half-way (the file-size limit stands in for a full disk) is reported, and
// no half-made image is left behind.
TEST_F(MkdiscTest, FailedWriteLeavesNoImage) {
  WriteAll(Folder.File("disc.txt"), "audio 1000 pattern 1\n");

  EXPECT_EQ(
      Run("'" + Folder.File("disc.txt") + "' '" + Cue() + "'", "trap '' XFSZ; ulimit -f 1000;"), 1);

  EXPECT_EQ(Err(), "mkdisc: cannot write " + Folder.File("disc.bin") + ": File too large\n");
  EXPECT_FALSE(fs::exists(Folder.File("disc.bin")));
  EXPECT_FALSE(fs::exists(Cue()));
}

TEST_F(MkdiscTest, ErrorsGoToStandardErrorWithStatusOne) {
  WriteAll(Folder.File("disc.txt"), "audio 10 silence\naudio 10 flute\n");
  const struct {
    std::string Arguments, Error;
  } Cases[] = {
      {"'" + Folder.File("disc.txt") + "' '" + Cue() + "'",
       "mkdisc: " + Folder.File("disc.txt") +
           ": line 2: unknown audio source \"flute\" (sine, chord, silence, noise, pattern or "
           "wav)\n"},
      {"'" + Folder.File("none.txt") + "' '" + Cue() + "'",
       "mkdisc: cannot open " + Folder.File("none.txt") + ": No such file or directory\n"},
      {"- '" + Cue() + "' </dev/null", "mkdisc: standard input: the description has no tracks\n"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Arguments);
    EXPECT_EQ(Run(Case.Arguments), 1);
    EXPECT_EQ(Err(), Case.Error);
    EXPECT_FALSE(fs::exists(Cue()));
  }
  EXPECT_EQ(Run(""), 1);
  EXPECT_NE(Err().find("Usage: mkdisc DESCRIPTION_FILE OUT.cue"), std::string::npos);
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(Out().find("Usage: mkdisc DESCRIPTION_FILE OUT.cue"), std::string::npos);
}

} // namespace
