#pragma once

#include "audio/cd/ACS_CDROM.h"
#include "runtime/Component.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class TDXAudioOut;
class TAuFileOut;
class TFLACOut;
class TVorbisOut;
class TMP3Out;
class TMACOut;
class TWaveOut;
class TWMAOut;
class QLabel;
class QTimer;
class TForm3;

namespace ui {
class TGlowButton;
class TStringGrid;
} // namespace ui

// The main window: the disc's tracks in a grid, the output format, the buttons.
class TForm1 : public QWidget {
  Q_OBJECT

public:
  // Creates the components; raises when one of them cannot start (a library that is missing).
  explicit TForm1(QWidget* Parent = nullptr);
  ~TForm1() override;

  void SetRenameDialog(TForm3* Dialog) { FRenameDialog = Dialog; }

  // The handlers, public so that tests can drive the window as its events would.
  void FormCreate();
  void Timer1Timer();
  void ComboBox1Change();
  void sgCDSrcClickCell(int ACol, int ARow);
  void sgCDSrcDblClick();
  void AdvGlowButton1Click();
  void AdvGlowButton2Click();
  void AdvGlowButton5Click();
  void AdvGlowButton7Click();
  void AdvGlowButton8Click();
  void RefreshTrackList();

  ui::TStringGrid* sgCDSrc = nullptr;
  QComboBox* ComboBox1 = nullptr; // the output format
  QComboBox* ComboBox2 = nullptr; // the drive's name
  QLabel* Label1 = nullptr;       // play status
  QLabel* Label2 = nullptr;       // play position
  QLabel* Label5 = nullptr;       // length of the track being played
  QTimer* Timer1 = nullptr;
  ui::TGlowButton* AdvGlowButton1 = nullptr; // Rename
  ui::TGlowButton* AdvGlowButton2 = nullptr; // Rip
  ui::TGlowButton* AdvGlowButton5 = nullptr; // Exit
  ui::TGlowButton* AdvGlowButton6 = nullptr; // Refresh
  ui::TGlowButton* AdvGlowButton7 = nullptr; // Help
  ui::TGlowButton* AdvGlowButton8 = nullptr; // Find Target

  TCDIn* CDInCD = nullptr;
  TCDPlayer* CDPlayerCD = nullptr;
  TDXAudioOut* DXAudioOutPY = nullptr;
  TWaveOut* WaveOutCD = nullptr;
  TVorbisOut* VorbisOutCD = nullptr;
  TFLACOut* FLACOutCD = nullptr;
  TMP3Out* MP3OutCD = nullptr;
  TMACOut* MACOutCD = nullptr;
  TWMAOut* WMAOutCD = nullptr;

  // One member of the writer family: the format box's text picks it.
  struct TWriterMember {
    std::string Format;
    TAuFileOut* Writer = nullptr;
    std::string Extension;
    // Applied before every run, for the one member that has one.
    std::function<void(TAuFileOut&)> StartSetting;
  };
  const std::vector<TWriterMember>& Writers() const { return FWriters; }

  // The batch: element r is r when row r is ticked, else 0.
  std::vector<int32_t> TickedRows;
  int32_t RipRow = 0;
  int32_t RipTrack = 0;
  TAuFileOut* RunningWriter = nullptr;
  // From "Rip" until the last ticked track has been handled.
  bool Ripping = false;
  // The output folder of the latest rip batch, ending in '/'; empty before the first.
  std::string OutputFolder;

protected:
  void closeEvent(QCloseEvent* Event) override;

private:
  void FormClose();
  void BuildWindow();
  // Whether the player plays; a machine without a drive has nothing to play.
  bool Playing();
  void AddWriter(TAuFileOut* Writer, std::string Format, std::string Extension,
                 std::function<void(TAuFileOut&)> StartSetting = nullptr);
  bool CollectTickedRows();
  // The start routine, progress handler and completion handler of every member.
  void StartTrack(const TWriterMember& Member);
  void WriterProgress(const TWriterMember& Member);
  void WriterDone(const TWriterMember& Member);
  std::string TrackFileName(const TWriterMember& Member, int32_t Row) const;
  void EndBatch(const TWriterMember& Member);
  // Starts a track of the batch; an error ends the batch and is raised again.
  void StartBatchTrack(const TWriterMember& Member);

  std::vector<TWriterMember> FWriters;
  // When the running track's file was last written before the track started; none when it
  // did not exist.
  std::optional<std::filesystem::file_time_type> FTrackFileWritten;

  // Owns every component of the window; freed with it.
  TComponentPtr<TComponent> FComponents;
  TForm3* FRenameDialog = nullptr;
  bool FClosed = false;
};

// The help page installed with the program.
std::string HelpPage();
