// The whole path of a user through the window, for every format: pick the format in its box
// with the mouse, click "Rip", wait until the file manager is asked to show the files, and read
// every file back with the tools others wrote.
#include "tests/app/RipWindow.h"

#include "tests/audio/encoders/Mp3Frames.h"
#include "tests/audio/encoders/WmaTestSupport.h"
#include "tests/ui/RecordedErrors.h"
#include "ui/TApplication.h"
#include "ui/TGlowButton.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QTest>

#include <functional>

namespace {

// A mixed-mode disc: the data track first, then music. Track 3 is a sine shorter than a second
// (with the 30 sectors of track 4's pregap at its end, still under 75 sectors). The longer
// tracks are chords: the lag of the MP3 decoding is found by matching, which a long pure sine
// would make ambiguous by whole periods.
std::vector<tools::TTrackSpec> UserDisc() {
  return {{true, 150, 0, ""},
          {false, 300, 0, "chord 1"},
          {false, 40, 0, "sine 440 0.4"},
          {false, 225, 30, "chord 2"},
          {false, 150, 0, "chord 3"}};
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(UserDisc());

constexpr int DataRow = 1;
constexpr int AudioRows[] = {2, 3, 4, 5};

void ExpectDecodesToTheTrack(const std::string& Command, int Track) {
  const TCommandResult Decoded = RunCommand(Command);
  EXPECT_EQ(Decoded.Status, 0) << Command;
  const std::vector<uint8_t> Bytes = Environment->TrackBytes(Track);
  EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) == Bytes)
      << Decoded.Output.size() << " bytes decoded of " << Bytes.size();
}

void ExpectFfmpegDecodesExactly(const std::string& File, int Track) {
  ExpectDecodesToTheTrack("ffmpeg -v error -i " + ShellQuoted(File) + " -f s16le -", Track);
}

void ExpectFlacDecodesExactly(const std::string& File, int Track) {
  ExpectDecodesToTheTrack(
      "flac -s -d -c --force-raw-format --endian=little --sign=signed " + ShellQuoted(File), Track);
}

// LAME's 576 samples of encoder delay and the decoder's 529 lead the sound; less than one frame
// of padding follows it.
void ExpectMp3Sound(const std::string& File, int Track) {
  const std::vector<int16_t> Source = Environment->TrackSamples(Track);
  const std::vector<int16_t> Decoded = DecodeWithFfmpeg(File);
  const TAlignment Match = Align(Source, Decoded, 2, 3000);
  std::printf("mp3 track %d: lag %zu, SNR %.1f dB\n", Track, Match.Lag, Match.SnrDb);
  EXPECT_EQ(Match.Lag, 1105u);
  EXPECT_GT(Match.SnrDb, 20);
  ASSERT_GE(Decoded.size(), 2 * Match.Lag + Source.size());
  EXPECT_LT(Decoded.size() - 2 * Match.Lag - Source.size(), 2 * 1152u);
}

// Vorbis keeps every sample and nothing more.
void ExpectOggSound(const std::string& File, int Track) {
  const TDecodedSound Sound = CompareDecoded(File, Environment->TrackBytes(Track));
  std::printf("ogg track %d: %ld extra frames, SNR %.1f dB\n", Track, Sound.Extra, Sound.SnrDb);
  EXPECT_EQ(Sound.Extra, 0);
  EXPECT_GT(Sound.SnrDb, 15);
}

// The encoder's last frame is padded with silence, and at most one codec frame of 2048 samples
// may follow it.
void ExpectWmaSound(const std::string& File, int Track) {
  constexpr long CodecFrame = 2048;
  const std::vector<uint8_t> Source = Environment->TrackBytes(Track);
  const long Frames = static_cast<long>(Source.size() / 4);
  const long Padding = (CodecFrame - Frames % CodecFrame) % CodecFrame;
  const TDecodedSound Sound = CompareDecoded(File, Source);
  std::printf("wma track %d: %ld extra frames, SNR %.1f dB\n", Track, Sound.Extra, Sound.SnrDb);
  EXPECT_GE(Sound.Extra, 0);
  EXPECT_LE(Sound.Extra, Padding + CodecFrame);
  EXPECT_GT(Sound.SnrDb, 30);
}

struct TFormatCase {
  const char* Format;
  const char* Extension;
  std::function<void(const std::string& File, int Track)> Check;
};

const TFormatCase FormatCases[] = {
    {"mp3", ".mp3", ExpectMp3Sound},
    {"wma", ".wma", ExpectWmaSound},
    {"wav", ".wav", ExpectFfmpegDecodesExactly},
    {"ape", ".ape", ExpectFfmpegDecodesExactly},
    {"ogg", ".ogg", ExpectOggSound},
    {"flac", ".flac", ExpectFlacDecodesExactly},
};

// The format that the box shows before the user picks one: the next one in the box.
const char* AnotherFormat(const std::string& Format) {
  const auto Case = std::find_if(std::begin(FormatCases), std::end(FormatCases),
                                 [&](const TFormatCase& C) { return C.Format == Format; });
  return FormatCases[(Case - std::begin(FormatCases) + 1) % std::size(FormatCases)].Format;
}

class UserRipTest : public TRipWindowTest, public ::testing::WithParamInterface<TFormatCase> {
protected:
  UserRipTest() : TRipWindowTest(AnotherFormat(GetParam().Format)) {}

  // As in the program: deliveries from the workers wake Qt's loop, and only that loop runs.
  static void SetUpTestSuite() { ui::InstallSynchronizeWakeUp(); }

  void SetUp() override {
    TRipWindowTest::SetUp();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.get()));
  }

  // Opens the format box with a click and clicks the format's entry in its list.
  void PickFormat(const std::string& Format) {
    QComboBox* Box = Form1->ComboBox1;
    QTest::mouseClick(Box, Qt::LeftButton);
    QAbstractItemView* List = Box->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return List->isVisible(); }));
    const int Entry = Box->findText(QString::fromStdString(Format));
    ASSERT_GE(Entry, 0);
    const QPoint Centre = List->visualRect(List->model()->index(Entry, 0)).center();
    QTest::mouseMove(List->viewport(), Centre);
    // The box ignores a release that comes within a double-click of its opening press.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !List->isVisible(); }));
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
};

TEST_P(UserRipTest, PickingTheFormatAndClickingRipMakesAFileOfEveryAudioTrack) {
  const TFormatCase& Case = GetParam();
  const TRecordedErrors Errors;
  ASSERT_NE(Form1->ComboBox1->currentText().toStdString(), Case.Format);
  PickFormat(Case.Format);
  EXPECT_EQ(Form1->ComboBox1->currentText().toStdString(), Case.Format);
  for (int Row = 1; Row < Grid().RowCount(); ++Row)
    EXPECT_EQ(Grid().Cells(4, Row), Case.Format) << Row;

  QTest::mouseClick(Form1->AdvGlowButton2, Qt::LeftButton);
  // No session bus here: the file manager is asked to open the batch folder.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Environment->Desktop.Log().empty(); }, 120000));
  EXPECT_FALSE(Form1->Ripping);
  EXPECT_EQ(Environment->Desktop.Log(), "xdg-open [" + Form1->OutputFolder + "]\n");
  EXPECT_TRUE(Errors.Texts().empty());

  EXPECT_NE(Grid().Cells(5, DataRow), "completed");
  EXPECT_EQ(Grid().CellHint(5, DataRow), "Trying to rip a data track");
  EXPECT_TRUE(ShowsABar(5, DataRow));
  for (int Row : AudioRows) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Grid().Cells(5, Row), "completed");
    EXPECT_FALSE(ShowsABar(5, Row));
    const std::string File = Form1->OutputFolder + Grid().Cells(2, Row) + Case.Extension;
    ASSERT_TRUE(std::filesystem::exists(File)) << File;
    Case.Check(File, Row);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, UserRipTest, ::testing::ValuesIn(FormatCases),
                         [](const auto& Info) { return std::string(Info.param.Format); });

} // namespace
