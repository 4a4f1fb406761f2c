// Rips a 60-minute disc image track by track through the CD input and compares the time with
// reading the image's BIN file with cat, the floor any ripper of an image stands on.
//
//   build/bench/cd_rip_bench [ROUNDS]
#include "audio/cd/ACS_CDROM.h"

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
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// Pulls its input and keeps nothing, as a writer that encodes for free would.
class TDiscardOut : public TAuOutput {
public:
  using TAuOutput::TAuOutput;
  uint64_t Bytes = 0;

protected:
  void Prepare() override { Input()->Init(); }
  bool DoOutput(bool Abort) override {
    if (Abort)
      return false;
    const uint8_t* Buffer = nullptr;
    uint32_t Count = TCDIn::RipBufferSize;
    Input()->GetData(Buffer, Count);
    Bytes += Count;
    return Count > 0;
  }
  void Done() override { Input()->Flush(); }
};

double Seconds(TClock::duration Duration) {
  return std::chrono::duration<double>(Duration).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

double TimeCat(const std::string& BinFile) {
  const std::string Command = "cat '" + BinFile + "' > /dev/null";
  const TClock::time_point Start = TClock::now();
  if (std::system(Command.c_str()) != 0) {
    std::fprintf(stderr, "cat failed\n");
    std::exit(1);
  }
  return Seconds(TClock::now() - Start);
}

double TimeRip(TCDIn& Input, int32_t Tracks, uint64_t ExpectedBytes) {
  TComponentPtr<TDiscardOut> Out(new TDiscardOut(nullptr));
  Out->SetInput(&Input);
  const TClock::time_point Start = TClock::now();
  for (int32_t Track = 1; Track <= Tracks; ++Track) {
    Input.SetStartTrack(Track);
    Input.SetEndTrack(Track);
    Out->Run();
    PumpUntil([&] { return !Out->Running(); }, 600000);
  }
  const double Elapsed = Seconds(TClock::now() - Start);
  if (Out->Bytes != ExpectedBytes || !Out->ExceptionText().empty()) {
    std::fprintf(stderr, "rip delivered %llu of %llu bytes: %s\n",
                 static_cast<unsigned long long>(Out->Bytes),
                 static_cast<unsigned long long>(ExpectedBytes), Out->ExceptionText().c_str());
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

  TComponentPtr<TCDIn> Input(new TCDIn(nullptr));
  // Both read from the page cache: one read of each first, then the rounds side by side.
  TimeCat(Layout.BinFile);
  TimeRip(*Input, TrackCount, Bytes);
  std::vector<double> Cat, Rip;
  for (int Round = 0; Round < Rounds; ++Round) {
    Cat.push_back(TimeCat(Layout.BinFile));
    Rip.push_back(TimeRip(*Input, TrackCount, Bytes));
  }
  const double CatSeconds = Median(Cat);
  const double RipSeconds = Median(Rip);
  std::printf("image: 60:00.00 in %d tracks, %.0f MB; median of %d rounds\n", TrackCount,
              static_cast<double>(Bytes) / 1e6, Rounds);
  std::printf("cat image.bin:      %7.3f s\n", CatSeconds);
  std::printf("rip through TCDIn:  %7.3f s  = %.2f x the time of cat, %.0f x realtime\n",
              RipSeconds, RipSeconds / CatSeconds, 3600.0 / RipSeconds);
  bench::AddRow("60-minute image through TCDIn", "cat image.bin",
                bench::Figure("%.2f", RipSeconds / CatSeconds) +
                    bench::Figure(" (%.0f x realtime)", 3600.0 / RipSeconds),
                "");
  return 0;
}
