// Times the window's one-second refresh on an image drive, idle and while a track plays: the
// timer runs on the user-interface thread, so every millisecond it takes is a frozen window.
//
//   build/bench/window_refresh_bench [TICKS]
#include "app/mainform.h"
#include "bench/BenchTable.h"

#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"
#include "ui/TApplication.h"
#include "ui/TStringGrid.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct TTimes {
  double Median = 0;
  double Worst = 0;
};

TTimes TimeTicks(TForm1& Form, int Ticks) {
  std::vector<double> Times;
  for (int Tick = 0; Tick < Ticks; ++Tick) {
    const auto Start = std::chrono::steady_clock::now();
    Form.Timer1Timer();
    Times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start)
            .count());
  }
  std::sort(Times.begin(), Times.end());
  return {Times[Times.size() / 2], Times.back()};
}

} // namespace

int main(int argc, char** argv) {
  const int Ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  TTempDir Folder;
  setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("TAVRUNE_LIBRARY_PATH");

  // An album of twelve four-minute tracks.
  std::vector<tools::TTrackSpec> Tracks(12);
  for (tools::TTrackSpec& Track : Tracks) {
    Track.Sectors = 4 * 60 * 75;
    Track.Source = "silence";
  }
  WriteDrivesIni(Folder.Path(), {tools::WriteDiscImage(Tracks, Folder.File("album.cue")).CueFile});

  ui::TApplication Application(argc, argv);
  TForm1 Form;
  const TTimes Idle = TimeTicks(Form, Ticks);
  Form.sgCDSrc->SetRow(3);
  Form.sgCDSrcDblClick();
  const TTimes Playing = TimeTicks(Form, Ticks);
  Form.CDPlayerCD->Stop();
  std::printf("refresh of a 12-track image drive, %d ticks each\n", Ticks);
  std::printf("idle:     median %6.2f ms, worst %6.2f ms\n", Idle.Median, Idle.Worst);
  std::printf("playing:  median %6.2f ms, worst %6.2f ms\n", Playing.Median, Playing.Worst);
  bench::AddRow("window refresh, idle / playing", "",
                bench::Figure("%.2f ms", Idle.Median) + bench::Figure(" / %.2f ms", Playing.Median),
                "under 50 ms");
  return 0;
}
