#include "app/mainform.h"

#include "app/uRename.h"
#include "audio/encoders/ACS_FLAC.h"
#include "audio/encoders/ACS_LAME.h"
#include "audio/encoders/ACS_MAC.h"
#include "audio/encoders/ACS_Vorbis.h"
#include "audio/encoders/ACS_Wave.h"
#include "audio/encoders/ACS_WinMedia.h"
#include "audio/output/ACS_DXAudio.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "ui/ErrorDisplay.h"
#include "ui/Pictures.h"
#include "ui/TGlowButton.h"
#include "ui/TGradientPanel.h"
#include "ui/TStringGrid.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace {

constexpr int ClientWidth = 679;
constexpr int ClientHeight = 442;
constexpr int ColumnWidth = 153;
constexpr int TopBarHeight = 40;
constexpr int BottomBarTop = 393;

struct TColumn {
  int Width;
  const char* Header;
};
// The grid's columns; FormCreate writes the first four headers again.
constexpr TColumn Columns[] = {{18, ""},       {35, "Num"},    {81, "Title"},
                               {65, "Length"}, {65, "Output"}, {245, "Track Status"}};

struct TButton {
  ui::TGlowButton* TForm1::*Field;
  const char* Text;
  const char* Hint;
  ui::TPicture Picture;
  int Top;
  int Height;
};
constexpr TButton Buttons[] = {
    {&TForm1::AdvGlowButton6, "Refresh", "show format convert window", ui::TPicture::Disc, 0, 72},
    {&TForm1::AdvGlowButton1, "Rename", "show format convert window", ui::TPicture::Pencil, 72, 72},
    {&TForm1::AdvGlowButton2, "Rip", "show cd rip window", ui::TPicture::Rip, 144, 80},
    {&TForm1::AdvGlowButton8, "Find Target", "show format convert window", ui::TPicture::Folder,
     224, 72},
    {&TForm1::AdvGlowButton7, "Help", "help of du vadivuvi", ui::TPicture::Question, 296, 72},
    {&TForm1::AdvGlowButton5, "Exit", "exit from du vadivuvi", ui::TPicture::Door, 368, 72},
};

const char* const Formats[] = {"mp3", "wma", "wav", "ape", "ogg", "flac"};

// Minutes and seconds as the grid and the labels show them: 4:05, 12:30.
std::string MinutesSeconds(int Minutes, int Seconds) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), Seconds <= 9 ? "%d:0%d" : "%d:%d", Minutes, Seconds);
  return Text;
}

std::string TrackTitle(int Track) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), Track < 10 ? "Track0%d" : "Track%d", Track);
  return Text;
}

// A text as one part of a file name: '/' would name a folder.
std::string FileNamePart(std::string Text) {
  std::replace(Text.begin(), Text.end(), '/', '-');
  return Text;
}

// When File was last written; none when it does not exist.
std::optional<std::filesystem::file_time_type> LastWritten(const std::string& File) {
  std::error_code Error;
  const auto Time = std::filesystem::last_write_time(File, Error);
  return Error ? std::nullopt : std::optional(Time);
}

// The bottom bar's labels sit close together: a small bold face keeps "Playing Track03",
// the position and "/4:05" apart.
QLabel* BoldLabel(QWidget* Parent, int Left) {
  auto* Label = new QLabel(Parent);
  QFont Font = Label->font();
  Font.setBold(true);
  Font.setPointSize(8);
  Label->setFont(Font);
  Label->move(Left, 17);
  return Label;
}

// The folder that holds the batch folders. An installed program cannot write into its own
// folder, so its batches go to the user's music folder.
std::string BatchBaseFolder() {
  const std::string Program = platform::ProgramFolder();
  const std::string Music = platform::UserMusicFolder();
  if (platform::FolderWritable(Program) || Music.empty())
    return Program + "music/";
  return Music + "/Tavrune/";
}

} // namespace

std::string HelpPage() {
  return platform::ProgramFolder() + "../share/tavrune/help/index.html";
}

TForm1::TForm1(QWidget* Parent) : QWidget(Parent), FComponents(new TComponent(nullptr)) {
  // The components first: a missing library ends the start-up before the window exists.
  CDInCD = new TCDIn(FComponents.get());
  CDInCD->SetName("CDInCD");
  CDPlayerCD = new TCDPlayer(FComponents.get());
  CDPlayerCD->SetName("CDPlayerCD");
  CDPlayerCD->SetCurrentDrive(0);
  CDPlayerCD->SetLVolume(0);
  CDPlayerCD->SetRVolume(0);

  DXAudioOutPY = new TDXAudioOut(FComponents.get());
  DXAudioOutPY->SetName("DXAudioOutPY");
  DXAudioOutPY->SetDeviceNumber(0);
  DXAudioOutPY->SetFramesInBuffer(65536);
  DXAudioOutPY->SetPollingInterval(200);

  MP3OutCD = new TMP3Out(FComponents.get());
  MP3OutCD->SetName("MP3OutCD");
  // The window's stored bit rate names no value of the list, which leaves the byte all ones:
  // 128 kb/s.
  MP3OutCD->SetBitRate(static_cast<TMP3BitRate>(0xFF));
  MP3OutCD->SetVBRQuality(mp3ql0);
  MP3OutCD->SetEnableVBR(0);
  MP3OutCD->SetAverageBitrate(mbrAuto);
  MP3OutCD->SetMaximumBitrate(mbrAuto);
  AddWriter(MP3OutCD, "mp3", ".mp3");

  WMAOutCD = new TWMAOut(FComponents.get());
  WMAOutCD->SetName("WMAOutCD");
  AddWriter(WMAOutCD, "wma", ".wma",
            [](TAuFileOut& Writer) { static_cast<TWMAOut&>(Writer).SetDesiredBitrate(256); });

  WaveOutCD = new TWaveOut(FComponents.get());
  WaveOutCD->SetName("WaveOutCD");
  WaveOutCD->SetWavType(wtPCM);
  WaveOutCD->SetBlockSize(512);
  WaveOutCD->SetCreateNonMsHeaders(false);
  WaveOutCD->SetFileMode(foRewrite);
  AddWriter(WaveOutCD, "wav", ".wav");

  MACOutCD = new TMACOut(FComponents.get());
  MACOutCD->SetName("MACOutCD");
  MACOutCD->SetCompressionLevel(2000);
  MACOutCD->SetMaxAudioBytes(-1);
  AddWriter(MACOutCD, "ape", ".ape");

  VorbisOutCD = new TVorbisOut(FComponents.get());
  VorbisOutCD->SetName("VorbisOutCD");
  VorbisOutCD->SetCompression(0.2f);
  VorbisOutCD->SetDesiredNominalBitrate(brAutoSelect);
  VorbisOutCD->SetDesiredMaximumBitrate(brAutoSelect);
  VorbisOutCD->SetMinimumBitrate(brAutoSelect);
  VorbisOutCD->SetFileMode(foRewrite);
  VorbisOutCD->SetSerial(0);
  AddWriter(VorbisOutCD, "ogg", ".ogg");

  FLACOutCD = new TFLACOut(FComponents.get());
  FLACOutCD->SetName("FLACOutCD");
  FLACOutCD->SetBlockSize(4608);
  FLACOutCD->SetCompressionLevel(-1);
  FLACOutCD->SetEnableMidSideStereo(true);
  FLACOutCD->SetEnableLooseMidSideStereo(false);
  FLACOutCD->SetBestModelSearch(false);
  FLACOutCD->SetMaxLPCOrder(0);
  FLACOutCD->SetMaxResidualPartitionOrder(0);
  FLACOutCD->SetMinResidualPartitionOrder(0);
  FLACOutCD->SetQLPCoeffPrecision(0);
  FLACOutCD->SetQLPCoeffPrecisionSearch(false);
  FLACOutCD->SetVerify(false);
  FLACOutCD->Tags()->SetTrack(u"0");
  AddWriter(FLACOutCD, "flac", ".flac");

  BuildWindow();
  FormCreate();
  Timer1->start();
}

TForm1::~TForm1() = default;

void TForm1::BuildWindow() {
  setWindowTitle("Tavrune v2.1");
  setWindowIcon(ui::PictureIcon(ui::TPicture::Application));
  setFixedSize(ClientWidth, ClientHeight);
  if (const QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->availableGeometry().center() - rect().center());

  auto* ButtonColumn = new ui::TGradientPanel(this);
  ButtonColumn->setGeometry(0, 0, ColumnWidth, ClientHeight);
  for (const TButton& Spec : Buttons) {
    auto* Button = new ui::TGlowButton(ButtonColumn);
    Button->setText(Spec.Text);
    Button->setToolTip(Spec.Hint);
    Button->setIcon(ui::PictureIcon(Spec.Picture));
    Button->setIconSize(QSize(40, 40));
    Button->setGeometry(1, Spec.Top, ColumnWidth - 2, Spec.Height);
    this->*Spec.Field = Button;
  }
  AdvGlowButton1->SetOnClick([this] { AdvGlowButton1Click(); });
  AdvGlowButton2->SetOnClick([this] { AdvGlowButton2Click(); });
  AdvGlowButton5->SetOnClick([this] { AdvGlowButton5Click(); });
  AdvGlowButton7->SetOnClick([this] { AdvGlowButton7Click(); });
  AdvGlowButton8->SetOnClick([this] { AdvGlowButton8Click(); });

  auto* TopBar = new ui::TGradientPanel(this);
  TopBar->setGeometry(ColumnWidth, 0, ClientWidth - ColumnWidth, TopBarHeight);
  const auto Centre = [](QWidget* Widget, int Left, int Width) {
    Widget->setGeometry(Left - ColumnWidth, (TopBarHeight - Widget->sizeHint().height()) / 2,
                        Width > 0 ? Width : Widget->sizeHint().width(),
                        Widget->sizeHint().height());
  };
  Centre(new QLabel("Device:", TopBar), 161, 0);
  ComboBox2 = new QComboBox(TopBar);
  ComboBox2->setEditable(true);
  // The box shows the drive's name; what the user types there is not used.
  ComboBox2->lineEdit()->setReadOnly(true);
  Centre(ComboBox2, 209, 185);
  Centre(new QLabel("Output:", TopBar), 404, 0);
  ComboBox1 = new QComboBox(TopBar);
  for (const char* Format : Formats)
    ComboBox1->addItem(Format);
  ComboBox1->setCurrentIndex(-1);
  Centre(ComboBox1, 458, 97);
  connect(ComboBox1, &QComboBox::currentIndexChanged, this,
          [this] { ui::Guarded([this] { ComboBox1Change(); }); });

  sgCDSrc = new ui::TStringGrid(this);
  sgCDSrc->setGeometry(ColumnWidth, TopBarHeight, ClientWidth - ColumnWidth,
                       BottomBarTop - TopBarHeight);
  sgCDSrc->SetColCount(static_cast<int>(std::size(Columns)));
  sgCDSrc->SetRowCount(2);
  for (int Col = 0; Col < sgCDSrc->ColCount(); ++Col) {
    sgCDSrc->SetColWidths(Col, Columns[Col].Width);
    sgCDSrc->SetCells(Col, 0, Columns[Col].Header);
  }
  sgCDSrc->SetRow(1);
  sgCDSrc->SetOnClickCell([this](int Col, int Row) { sgCDSrcClickCell(Col, Row); });
  sgCDSrc->SetOnDblClick([this] { sgCDSrcDblClick(); });

  auto* BottomBar = new ui::TGradientPanel(this);
  BottomBar->setGeometry(ColumnWidth, BottomBarTop, ClientWidth - ColumnWidth,
                         ClientHeight - BottomBarTop);
  Label1 = BoldLabel(BottomBar, 328 - ColumnWidth);
  // The position ends where the length begins, however wide it is.
  Label2 = BoldLabel(BottomBar, 432 - ColumnWidth);
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label2->setGeometry(400 - ColumnWidth, 17, 456 - 400, Label2->sizeHint().height());
  Label5 = BoldLabel(BottomBar, 456 - ColumnWidth);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { ui::Guarded([this] { Timer1Timer(); }); });
}

void TForm1::FormCreate() {
  for (int32_t Drive = 0; Drive < CDInCD->DrivesCount(); ++Drive)
    CDInCD->SetCurrentDrive(Drive);
  CDInCD->SetCurrentDrive(0);
  RefreshTrackList();
  for (int Col = 0; Col <= 3; ++Col)
    sgCDSrc->SetCells(Col, 0, Columns[Col].Header);
  for (int Row = 1; Row < sgCDSrc->RowCount(); ++Row) {
    sgCDSrc->SetCells(4, Row, ComboBox1->currentText().toStdString());
    sgCDSrc->SetCells(5, Row, "Prepared");
  }
  ComboBox2->setEditText(QString::fromStdString(CDInCD->DriveName()));
  ComboBox1->setCurrentIndex(0);
  ComboBox1Change();
}

bool TForm1::Playing() {
  return CDPlayerCD->DrivesCount() > 0 && CDPlayerCD->Status() == drPlaying;
}

void TForm1::RefreshTrackList() {
  if (CDInCD->TracksCount() > 0 && sgCDSrc->Cells(1, 1).empty()) {
    const int32_t Count = CDInCD->TracksCount();
    sgCDSrc->SetRowCount(Count + 1);
    const std::string Format = ComboBox1->currentText().toStdString();
    for (int32_t Row = 1; Row <= Count; ++Row) {
      sgCDSrc->AddCheckBox(0, Row, true);
      const TTrackInfo Info = CDInCD->Tracks(Row);
      sgCDSrc->SetCells(1, Row, std::to_string(Row));
      sgCDSrc->SetCells(2, Row, TrackTitle(Row));
      sgCDSrc->SetCells(3, Row, MinutesSeconds(Info.Minutes, Info.Seconds));
      sgCDSrc->SetCells(4, Row, Format);
      sgCDSrc->SetCells(5, Row, "Prepared");
    }
  }
  if (CDInCD->TracksCount() <= 0 && !Playing()) {
    sgCDSrc->SetRowCount(2);
    sgCDSrc->ClearRow(1);
  }
}

void TForm1::Timer1Timer() {
  RefreshTrackList();
  if (Playing()) {
    const TDiscPosition Position = CDPlayerCD->Position();
    Label2->setText(
        QString::fromStdString(MinutesSeconds(Position.Time.Minutes, Position.Time.Seconds)));
  }
}

void TForm1::ComboBox1Change() {
  const std::string Format = ComboBox1->currentText().toStdString();
  for (int Row = 1; Row < sgCDSrc->RowCount(); ++Row)
    sgCDSrc->SetCells(4, Row, Format);
}

void TForm1::sgCDSrcClickCell(int ACol, int ARow) {
  if (ACol != 0 || ARow < 1)
    return;
  bool State = false;
  // Only a row with a tick box has a tick to turn over.
  if (sgCDSrc->GetCheckBoxState(0, ARow, State))
    sgCDSrc->AddCheckBox(0, ARow, !State);
}

void TForm1::sgCDSrcDblClick() {
  CDPlayerCD->Stop();
  if (CDPlayerCD->TracksCount() <= 0)
    return;
  const int Row = sgCDSrc->Row();
  CDPlayerCD->Play(Row);
  Label1->setText(QString::fromStdString("Playing " + sgCDSrc->Cells(2, Row)));
  Label1->adjustSize();
  Label5->setText(QString::fromStdString("/" + sgCDSrc->Cells(3, Row)));
  Label5->adjustSize();
}

void TForm1::AdvGlowButton1Click() {
  if (FRenameDialog)
    FRenameDialog->exec();
}

void TForm1::AddWriter(TAuFileOut* Writer, std::string Format, std::string Extension,
                       std::function<void(TAuFileOut&)> StartSetting) {
  const size_t Index = FWriters.size();
  FWriters.push_back({std::move(Format), Writer, std::move(Extension), std::move(StartSetting)});
  Writer->SetOnProgress([this, Index](TComponent*) { WriterProgress(FWriters[Index]); });
  Writer->SetOnDone([this, Index](TComponent*) { WriterDone(FWriters[Index]); });
}

bool TForm1::CollectTickedRows() {
  TickedRows.assign(static_cast<size_t>(sgCDSrc->RowCount()), 0);
  bool Any = false;
  for (int32_t Row = 1; Row < sgCDSrc->RowCount(); ++Row) {
    bool Ticked = false;
    if (sgCDSrc->GetCheckBoxState(0, Row, Ticked) && Ticked) {
      TickedRows[static_cast<size_t>(Row)] = Row;
      Any = true;
    }
  }
  return Any;
}

void TForm1::AdvGlowButton2Click() {
  // A second batch would take the CD input from the running track: refuse before anything
  // of the running batch changes.
  if (Ripping)
    throw EAuException("The component is busy");
  const QDateTime Now = QDateTime::currentDateTime();
  const std::string Date =
      FileNamePart(QLocale::system().toString(Now.date(), QLocale::ShortFormat).toStdString());
  const std::string Time = Now.time().toString("hh-mm-ss").toStdString();
  if (!CollectTickedRows()) {
    ShowMessage("Please select a track to rip!");
    return;
  }
  RipRow = static_cast<int32_t>(
      std::find_if(TickedRows.begin() + 1, TickedRows.end(), [](int32_t R) { return R != 0; }) -
      TickedRows.begin());
  sgCDSrc->SetRow(RipRow);
  const std::string Batch = BatchBaseFolder() + Date + " " + Time + "/";
  // Without its folder every track would fail alike: one error says why, and nothing starts.
  std::error_code Error;
  std::filesystem::create_directories(Batch, Error);
  if (Error)
    throw EAuException("The folder " + Batch + " cannot be made: " + Error.message());
  OutputFolder = Batch;
  sgCDSrc->SetDblClickEnabled(false);
  const std::string Format = ComboBox1->currentText().toStdString();
  for (const TWriterMember& Member : FWriters)
    if (Member.Format == Format) {
      Ripping = true;
      StartBatchTrack(Member);
    }
}

void TForm1::StartBatchTrack(const TWriterMember& Member) {
  try {
    StartTrack(Member);
  } catch (...) {
    // The batch cannot go on: the window is left as after a batch, and the error is shown.
    Ripping = false;
    sgCDSrc->SetDblClickEnabled(true);
    throw;
  }
}

std::string TForm1::TrackFileName(const TWriterMember& Member, int32_t Row) const {
  // A name holds at most 255 bytes: a longer title is shortened, since the user wants the
  // track ripped and the title's beginning names it well enough.
  constexpr size_t MaxNameBytes = 255;
  return OutputFolder +
         Utf8Prefix(FileNamePart(sgCDSrc->Cells(2, Row)), MaxNameBytes - Member.Extension.size()) +
         Member.Extension;
}

void TForm1::StartTrack(const TWriterMember& Member) {
  sgCDSrc->SetCells(5, RipRow, "");
  sgCDSrc->SetCellHint(5, RipRow, "");
  sgCDSrc->AddProgress(5, RipRow);
  RipTrack = TickedRows[static_cast<size_t>(RipRow)];
  if (RipTrack == 0)
    return;
  if (Playing())
    CDPlayerCD->Stop();
  CDInCD->SetStartTrack(RipTrack);
  CDInCD->SetEndTrack(CDInCD->StartTrack());
  Member.Writer->SetFileName(TrackFileName(Member, RipTrack));
  FTrackFileWritten = LastWritten(Member.Writer->FileName());
  RunningWriter = Member.Writer;
  Member.Writer->SetInput(CDInCD);
  if (Member.StartSetting)
    Member.StartSetting(*Member.Writer);
  Member.Writer->Run();
}

void TForm1::WriterProgress(const TWriterMember& Member) {
  sgCDSrc->SetCells(5, RipRow, std::to_string(Member.Writer->Progress()));
}

void TForm1::WriterDone(const TWriterMember& Member) {
  const std::string Error = Member.Writer->ExceptionText();
  if (Error.empty()) {
    sgCDSrc->RemoveProgress(5, RipRow);
    sgCDSrc->SetCells(5, RipRow, "completed");
  } else {
    // The row keeps its bar; the reason is there for the user who points at it.
    sgCDSrc->SetCellHint(5, RipRow, Error);
    // What the writer left is not the whole track, so no file may claim to be it. A file the
    // track did not write (another row's of the same title) stays.
    const std::string& File = Member.Writer->FileName();
    const auto Written = LastWritten(File);
    if (Written && Written != FTrackFileWritten) {
      std::error_code Ignored;
      std::filesystem::remove(File, Ignored);
    }
  }
  const auto Next = std::find_if(TickedRows.begin() + RipRow + 1, TickedRows.end(),
                                 [](int32_t R) { return R != 0; });
  if (Next == TickedRows.end()) {
    EndBatch(Member);
    return;
  }
  RipRow = static_cast<int32_t>(Next - TickedRows.begin());
  sgCDSrc->SetRow(RipRow);
  StartBatchTrack(Member);
}

void TForm1::EndBatch(const TWriterMember& Member) {
  Ripping = false;
  platform::WinExec("Explorer /select, " + TrackFileName(Member, RipRow), 1);
  sgCDSrc->SetDblClickEnabled(true);
}

void TForm1::AdvGlowButton5Click() {
  close();
}

void TForm1::AdvGlowButton7Click() {
  platform::ShellExecuteOpen(HelpPage());
}

void TForm1::AdvGlowButton8Click() {
  platform::ShellExecuteOpen(OutputFolder);
}

void TForm1::closeEvent(QCloseEvent* Event) {
  ui::Guarded([this] { FormClose(); });
  Event->accept();
}

void TForm1::FormClose() {
  if (FClosed)
    return;
  FClosed = true;
  Timer1->stop();
  DXAudioOutPY->Stop(false);
  if (CDPlayerCD->DrivesCount() > 0)
    CDPlayerCD->Stop();
  // The running track's file is finished before the window goes.
  if (RunningWriter)
    RunningWriter->Stop(false);
}
