// A disc image in a virtual drive of the drive registry: the first four bytes are the size of
// the BIN file (little-endian, sparse), the rest is the cue sheet. Whatever libcdio makes of
// them, a disc that opens has a table of contents in order and within the image, and its
// sectors read or fail as the table says.
#include "platform/DriveRegistry.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"

#include <cdio/cdio.h>

#include <algorithm>
#include <filesystem>
#include <optional>

using namespace platform;

namespace {

// Sizes up to a 100-minute disc, and a little beyond.
constexpr uint32_t SizeLimit = 100 * 60 * 75 * CDSectorBytes + 5000;

// One folder for the process: drives.ini names its cue sheet, which every input rewrites.
struct TImageDrive {
  TTempDir Dir;
  const std::string Cue = Dir.File("disc.cue");
  const std::string Bin = Dir.File("disc.bin");
  char Letter = 0;

  TImageDrive() {
    setenv("XDG_CONFIG_HOME", Dir.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Dir.File("no-demo.cue").c_str(), 1);
    WriteDrivesIni(Dir.Path(), {Cue});
    for (const TDriveInfo& Drive : CDDrives())
      if (Drive.Virtual && Drive.Path == Cue)
        Letter = Drive.Letter;
    Check(Letter != 0, "the image's drive is listed");
  }
};

void CheckToc(const TDiscToc& Toc, uint32_t BinSize, bool OneFile) {
  Check(!Toc.Tracks.empty(), "a disc has a track");
  Check(Toc.Tracks.front().Number == Toc.FirstTrack,
        "the first track is numbered as the disc says");
  Check(Toc.FirstTrack + Toc.Tracks.size() - 1 <= 99, "tracks are numbered up to 99");
  Check(Toc.Tracks.front().Lsn >= 0, "the first track starts on the disc");
  for (size_t I = 1; I < Toc.Tracks.size(); ++I) {
    Check(Toc.Tracks[I].Number == Toc.Tracks[I - 1].Number + 1, "tracks are numbered in turn");
    Check(Toc.Tracks[I].Lsn > Toc.Tracks[I - 1].Lsn, "tracks start in ascending order");
  }
  Check(Toc.LeadOut > Toc.Tracks.back().Lsn, "the lead-out follows the last track");
  // A disc read from one BIN file ends where the file does (a part of a sector counts).
  if (OneFile)
    Check(int64_t{Toc.LeadOut} * CDSectorBytes < int64_t{BinSize} + CDSectorBytes,
          "the disc lies within its BIN file");
}

void CheckReads(TDisc& Disc) {
  const TDiscToc& Toc = Disc.Toc();
  std::vector<uint8_t> Buffer(2 * CDSectorBytes);
  // Within the disc a read may fail (libcdio may not reach a sector), past it never succeeds.
  Disc.ReadAudioSectors(Toc.Tracks.front().Lsn, 2, Buffer.data());
  Disc.ReadAudioSectors(Toc.LeadOut - 1, 1, Buffer.data());
  Check(!Disc.ReadAudioSectors(Toc.LeadOut - 1, 2, Buffer.data()), "no read runs past the disc");
  Check(!Disc.ReadAudioSectors(Toc.LeadOut, 1, Buffer.data()), "no read starts at the lead-out");
  Check(!Disc.ReadAudioSectors(-1, 1, Buffer.data()), "no read starts before the disc");
}

// The cue sheet names one file when "FILE" occurs once in it, in any case.
bool NamesOneFile(std::string Text) {
  std::ranges::transform(Text, Text.begin(), [](unsigned char C) { return std::toupper(C); });
  const size_t First = Text.find("FILE");
  return First != std::string::npos && Text.find("FILE", First + 1) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 4)
    return 0;
  static const TImageDrive Drive;
  const uint32_t BinSize =
      (Data[0] | Data[1] << 8 | Data[2] << 16 | uint32_t{Data[3]} << 24) % SizeLimit;
  const std::string Text(reinterpret_cast<const char*>(Data) + 4, Size - 4);
  NothingEscapes(
      [&] {
        WriteFile(Drive.Cue, Data + 4, Size - 4);
        WriteFile(Drive.Bin, nullptr, 0);
        std::filesystem::resize_file(Drive.Bin, BinSize);
        Check(GetDriveType(Drive.Letter) == DRIVE_CDROM, "the drive stays listed");
        const std::unique_ptr<TDisc> Disc = OpenDisc(Drive.Letter);
        if (!Disc)
          return;
        Check(Disc->Letter() == Drive.Letter && Disc->Virtual(), "the disc is the image's");
        const char* Source = cdio_get_arg(Disc->Handle(), "source");
        CheckToc(Disc->Toc(), BinSize, Source && Source == Drive.Bin && NamesOneFile(Text));
        Check(!Disc->Changed(), "a disc just opened is the one in the drive");
        CheckReads(*Disc);
        Check(EjectDrive(Drive.Letter, true) && Disc->Changed() && !OpenDisc(Drive.Letter),
              "an ejected disc is gone");
        Check(EjectDrive(Drive.Letter, false), "the tray closes");
      },
      "no exception escapes the drive registry");
  return 0;
}
