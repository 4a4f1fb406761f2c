// The window under load: a full disc of 99 tracks and 79:59 ripped whole in each format through
// the real event loop. It measures the resident memory after every track (it must not grow
// from track to track) and how long an event posted to the window waits before it is handled:
// a click waits as long, so that is the window's answer time.
//
//   build/bench/load_bench [FORMAT...]      (default: every format of the format box)
#include "app/mainform.h"
#include "bench/BenchTable.h"

#include "runtime/Application.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"
#include "ui/ErrorDisplay.h"
#include "ui/TApplication.h"
#include "ui/TStringGrid.h"

#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int TrackCount = 99;
constexpr uint32_t DiscSectors = (79 * 60 + 59) * 75;

double ResidentMegabytes() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0, Resident = 0;
  Statm >> Pages >> Resident;
  return static_cast<double>(Resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// Posts an event to itself every 50 ms and records how long each waited for the loop,
// counted from when its timer was due: a loop blocked for a while makes the timer late too.
class TAnswerProbe : public QObject {
public:
  TAnswerProbe() {
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, [this] {
      const TClock::time_point Now = TClock::now();
      FDue = FLastFire == TClock::time_point{} ? Now : std::min(Now, FLastFire + Interval);
      FLastFire = Now;
      QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    });
    FTimer.start(Interval);
  }

  std::vector<double> Waits; // milliseconds

protected:
  bool event(QEvent* Event) override {
    if (Event->type() != QEvent::User)
      return QObject::event(Event);
    Waits.push_back(std::chrono::duration<double, std::milli>(TClock::now() - FDue).count());
    return true;
  }

private:
  static constexpr std::chrono::milliseconds Interval{50};
  QTimer FTimer;
  TClock::time_point FLastFire, FDue;
};

struct TLoadResult {
  int Completed = 0;
  double Seconds = 0;
  std::vector<double> Resident; // after each completed track, MB
  double WorstWait = 0;
  double Wait999 = 0; // the 99.9th percentile
};

TLoadResult RipWholeDisc(TForm1& Form, const QString& Format) {
  Form.ComboBox1->setCurrentText(Format);
  ui::TStringGrid& Grid = *Form.sgCDSrc;
  TLoadResult Result;
  TAnswerProbe Probe;
  QEventLoop Loop;
  int NextRow = 1;
  QTimer Watch;
  QObject::connect(&Watch, &QTimer::timeout, [&] {
    for (; NextRow < Grid.RowCount() && Grid.Cells(5, NextRow) == "completed"; ++NextRow)
      Result.Resident.push_back(ResidentMegabytes());
    if (!Form.Ripping)
      Loop.quit();
  });
  const auto Start = TClock::now();
  Form.AdvGlowButton2Click();
  Watch.start(10);
  Loop.exec();
  Result.Seconds = std::chrono::duration<double>(TClock::now() - Start).count();
  for (int Row = 1; Row < Grid.RowCount(); ++Row)
    Result.Completed += Grid.Cells(5, Row) == "completed";
  std::vector<double> Waits = Probe.Waits;
  std::sort(Waits.begin(), Waits.end());
  if (!Waits.empty()) {
    Result.WorstWait = Waits.back();
    Result.Wait999 = Waits[Waits.size() * 999 / 1000];
  }
  return Result;
}

// Growth per track from the tenth track on, once caches and the encoder are warm.
double GrowthPerTrackKb(const std::vector<double>& Resident) {
  if (Resident.size() < 20)
    return 0;
  return (Resident.back() - Resident[9]) * 1000 / static_cast<double>(Resident.size() - 10);
}

} // namespace

int main(int argc, char** argv) {
  TTempDir Folder;
  setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
  setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("TAVRUNE_LIBRARY_PATH");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  const TFakeDesktop Desktop(Folder.Path());

  // Music to the encoders: every track its own chords, 99 tracks filling 79:59.
  std::vector<tools::TTrackSpec> Tracks(TrackCount);
  for (int I = 0; I < TrackCount; ++I) {
    Tracks[I].Sectors = DiscSectors / TrackCount;
    Tracks[I].Source = "chord " + std::to_string(I + 1);
  }
  Tracks.back().Sectors += DiscSectors % TrackCount;
  WriteDrivesIni(Folder.Path(), {tools::WriteDiscImage(Tracks, Folder.File("full.cue")).CueFile});

  ui::TApplication Application(argc, argv);
  ui::InstallErrorDisplay();
  ui::InstallSynchronizeWakeUp();
  TForm1 Form;
  Form.show();

  std::vector<QString> Formats;
  for (int I = 1; I < argc; ++I)
    Formats.push_back(argv[I]);
  if (Formats.empty())
    for (int I = 0; I < Form.ComboBox1->count(); ++I)
      Formats.push_back(Form.ComboBox1->itemText(I));

  std::printf("disc: %d tracks, 79:59.00, synthesised chords; one rip of the whole disc each\n",
              TrackCount);
  std::printf("format  completed  x realtime  RSS track 1 / 10 / %d MB  growth KB/track  "
              "event wait 99.9%% / worst ms\n",
              TrackCount);
  for (const QString& Format : Formats) {
    const TLoadResult Result = RipWholeDisc(Form, Format);
    const auto At = [&](size_t Track) {
      return Result.Resident.size() >= Track ? Result.Resident[Track - 1] : 0.0;
    };
    const double Realtime = (79 * 60 + 59) / Result.Seconds;
    const double Growth = GrowthPerTrackKb(Result.Resident);
    std::printf("%-6s  %9d  %10.1f  %8.1f / %5.1f / %5.1f  %15.1f  %12.1f / %6.1f\n",
                Format.toUtf8().constData(), Result.Completed, Realtime, At(1), At(10),
                At(TrackCount), Growth, Result.Wait999, Result.WorstWait);
    std::fflush(stdout);
    bench::AddRow("load: 99 tracks, 79:59, " + Format.toStdString(), "",
                  bench::Figure("%.0f completed", Result.Completed) +
                      bench::Figure(", %.0f x realtime", Realtime) +
                      bench::Figure(", %+.1f KB/track", Growth) +
                      bench::Figure(", worst wait %.0f ms", Result.WorstWait),
                  "99 completed, no growth, under 100 ms");
    if (!Form.OutputFolder.empty())
      std::filesystem::remove_all(Form.OutputFolder);
  }
  return 0;
}
