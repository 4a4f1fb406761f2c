// Rips a 60-minute disc image track by track to WAV files through the CD input and the WAV
// writer, and compares the time with copying the image's BIN file with cp into the same
// folder: the floor for any ripper that writes the audio out again.
//
//   build/bench/wav_bench [ROUNDS]
#include "audio/cd/ACS_CDROM.h"
#include "audio/encoders/ACS_Wave.h"

#include "bench/BenchTable.h"
#include "bench/HourImage.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration Duration) {
  return std::chrono::duration<double>(Duration).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

double TimeCopy(const std::string& BinFile, const std::string& Folder) {
  const std::string Command = "cp '" + BinFile + "' '" + Folder + "copy.bin'";
  const TClock::time_point Start = TClock::now();
  if (std::system(Command.c_str()) != 0) {
    std::fprintf(stderr, "cp failed\n");
    std::exit(1);
  }
  return Seconds(TClock::now() - Start);
}

double TimeRip(TCDIn& Input, int32_t Tracks, const std::string& Folder, uint64_t ExpectedBytes) {
  TComponentPtr<TWaveOut> Out(new TWaveOut(nullptr));
  Out->SetInput(&Input);
  uint64_t Bytes = 0;
  const TClock::time_point Start = TClock::now();
  for (int32_t Track = 1; Track <= Tracks; ++Track) {
    Input.SetStartTrack(Track);
    Input.SetEndTrack(Track);
    Out->SetFileName(Folder + "track" + std::to_string(Track) + ".wav");
    Out->Run();
    PumpUntil([&] { return !Out->Running(); }, 600000);
    if (!Out->ExceptionText().empty()) {
      std::fprintf(stderr, "track %d: %s\n", Track, Out->ExceptionText().c_str());
      std::exit(1);
    }
    Bytes += std::filesystem::file_size(Out->FileName()) - 44;
  }
  const double Elapsed = Seconds(TClock::now() - Start);
  if (Bytes != ExpectedBytes) {
    std::fprintf(stderr, "rip wrote %llu of %llu bytes\n", static_cast<unsigned long long>(Bytes),
                 static_cast<unsigned long long>(ExpectedBytes));
    std::exit(1);
  }
  return Elapsed;
}

} // namespace

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  TTempDir Folder;
  const tools::TDiscLayout Layout = bench::WriteHourImage(Folder);
  constexpr int32_t TrackCount = bench::HourTracks;
  const uint64_t Bytes = uint64_t{Layout.LeadOut} * tools::SectorBytes;
  const std::string Out = Folder.File("out/");
  std::filesystem::create_directory(Out);

  TComponentPtr<TCDIn> Input(new TCDIn(nullptr));
  // Both read the image from the page cache and replace last round's files: one of each
  // first, then the rounds side by side.
  TimeCopy(Layout.BinFile, Out);
  TimeRip(*Input, TrackCount, Out, Bytes);
  std::vector<double> Copy, Rip;
  for (int Round = 0; Round < Rounds; ++Round) {
    Copy.push_back(TimeCopy(Layout.BinFile, Out));
    Rip.push_back(TimeRip(*Input, TrackCount, Out, Bytes));
  }
  const double CopySeconds = Median(Copy);
  const double RipSeconds = Median(Rip);
  std::printf("image: 60:00.00 in %d tracks, %.0f MB; median of %d rounds\n", TrackCount,
              static_cast<double>(Bytes) / 1e6, Rounds);
  std::printf("cp image.bin:             %7.3f s\n", CopySeconds);
  std::printf("rip to WAV through TCDIn: %7.3f s  = %.2f x the time of cp (%.0f%% of its speed)\n",
              RipSeconds, RipSeconds / CopySeconds, 100 * CopySeconds / RipSeconds);
  bench::AddRow("60-minute image to WAV", "cp image.bin",
                bench::Figure("%.2f", RipSeconds / CopySeconds), "at most 2 (half cp's speed)");
  return 0;
}
