#pragma once

// The rip batch's tests drive the window on a generated disc in a virtual drive.
#include "app/mainform.h"
#include "app/uRename.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"
#include "ui/TStringGrid.h"

#include <QComboBox>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

class TRipEnvironment : public ::testing::Environment {
public:
  explicit TRipEnvironment(std::vector<tools::TTrackSpec> Tracks) : FTracks(std::move(Tracks)) {}

  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("TAVRUNE_LIBRARY_PATH");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    Disc = tools::WriteDiscImage(FTracks, Folder.File("disc.cue"));
    WriteDrivesIni(Folder.Path(), {Disc.CueFile});
  }

  // The image's bytes of a track: from its start to the next track's.
  std::vector<uint8_t> TrackBytes(int Track) const {
    const size_t I = static_cast<size_t>(Track - 1);
    const uint32_t End = I + 1 < Disc.Starts.size() ? Disc.Starts[I + 1] : Disc.LeadOut;
    return BinSectors(Disc.BinFile, Disc.Starts[I], End);
  }
  std::vector<int16_t> TrackSamples(int Track) const {
    const std::vector<uint8_t> Bytes = TrackBytes(Track);
    std::vector<int16_t> Samples(Bytes.size() / 2);
    std::memcpy(Samples.data(), Bytes.data(), Samples.size() * 2);
    return Samples;
  }

  TTempDir Folder;
  TFakeDesktop Desktop{Folder.Path()};
  tools::TDiscLayout Disc;

private:
  std::vector<tools::TTrackSpec> FTracks;
};

// The disc most rip tests use: a data track first, then audio of different lengths, one
// with a pregap and one shorter than a second.
inline std::vector<tools::TTrackSpec> SixTracks() {
  const uint32_t Lengths[6] = {300, 150, 75, 1, 40, 2250};
  std::vector<tools::TTrackSpec> Tracks(6);
  for (size_t I = 0; I < Tracks.size(); ++I) {
    Tracks[I].Sectors = Lengths[I];
    Tracks[I].Source = "pattern " + std::to_string(I + 1);
  }
  Tracks[0].Data = true;
  Tracks[4].Pregap = 30;
  return Tracks;
}

// The test program's disc: the one environment its window tests see.
inline TRipEnvironment* Environment = nullptr;
inline TRipEnvironment* AddRipEnvironment(std::vector<tools::TTrackSpec> Tracks) {
  Environment = static_cast<TRipEnvironment*>(
      ::testing::AddGlobalTestEnvironment(new TRipEnvironment(std::move(Tracks))));
  return Environment;
}

inline std::vector<uint8_t> FileBytes(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// A window and its rename dialog for each test, the format box at the test's format.
class TRipWindowTest : public ::testing::Test {
protected:
  explicit TRipWindowTest(const char* Format) : FFormat(Format) {}

  void SetUp() override {
    Environment->Desktop.Clear();
    Form1 = std::make_unique<TForm1>();
    Form3 = std::make_unique<TForm3>(Form1.get());
    Form1->SetRenameDialog(Form3.get());
    Form1->show();
    Form1->ComboBox1->setCurrentText(FFormat);
  }
  void TearDown() override {
    Form1->close();
    if (!Form1->OutputFolder.empty())
      std::filesystem::remove_all(Form1->OutputFolder);
    Form3.reset();
    Form1.reset();
  }

  ui::TStringGrid& Grid() { return *Form1->sgCDSrc; }

  void TickOnly(std::initializer_list<int> Rows) {
    for (int Row = 1; Row < Grid().RowCount(); ++Row)
      Grid().AddCheckBox(0, Row, std::find(Rows.begin(), Rows.end(), Row) != Rows.end());
  }

  // Presses "Rip" and waits until the batch has ended.
  void RipAndWait() {
    Form1->AdvGlowButton2Click();
    ASSERT_TRUE(PumpUntil([&] { return !Form1->Ripping; }, 120000));
  }

  // The batch's file of a track, named by its title.
  std::string TrackFile(int Row, const char* Extension) {
    return Form1->OutputFolder + Grid().Cells(2, Row) + Extension;
  }

  // The names in the batch folder, sorted.
  std::vector<std::string> BatchFiles() const {
    std::vector<std::string> Files;
    for (const auto& Entry : std::filesystem::directory_iterator(Form1->OutputFolder))
      Files.push_back(Entry.path().filename().string());
    std::sort(Files.begin(), Files.end());
    return Files;
  }

  // Whether the cell is drawn as a progress bar: its trough's grey frame runs along it.
  bool ShowsABar(int Col, int Row) {
    const QRect Cell = Grid().visualRect(Grid().model()->index(Row, Col));
    const QImage Image = Grid().viewport()->grab(Cell).toImage();
    int Frame = 0;
    for (int X = 0; X < Image.width(); ++X)
      for (int Y = 0; Y < Image.height(); ++Y)
        Frame += Image.pixel(X, Y) == qRgb(0x90, 0x9c, 0xaa);
    return Frame > Cell.width();
  }

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm3> Form3;

private:
  const char* FFormat;
};
