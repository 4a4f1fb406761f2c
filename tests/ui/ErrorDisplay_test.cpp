#include "ui/ErrorDisplay.h"

#include "runtime/Exception.h"
#include "tests/ui/RecordedErrors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

namespace {

// What the error box showed, read by a timer while the box runs its own event loop, and the
// box closed with its OK button.
struct TShownBox {
  QString Caption;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons;
  bool Closed = false;
};

class TBoxReader {
public:
  TBoxReader() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] { ReadAndClose(); });
    FTimer.start(10);
  }
  const TShownBox& Shown() const { return FShown; }

private:
  void ReadAndClose() {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!Box)
      return;
    FTimer.stop();
    FShown = {Box->windowTitle(), Box->text(), Box->icon(), Box->standardButtons(), true};
    Box->button(QMessageBox::Ok)->click();
  }

  QTimer FTimer;
  TShownBox FShown;
};

// The application's error display for the length of one test.
class TErrorDisplayTest : public testing::Test {
protected:
  TErrorDisplayTest() { ui::InstallErrorDisplay(); }
  ~TErrorDisplayTest() override { SetErrorDisplay(nullptr); }
};

struct TMessageCase {
  const char* Message;
  const char* Shown;
};

class TErrorBoxTest : public TErrorDisplayTest, public testing::WithParamInterface<TMessageCase> {};

TEST_P(TErrorBoxTest, AnErrorIsShownInTheApplicationsErrorBox) {
  TBoxReader Reader;
  HandleException(std::make_exception_ptr(Exception(GetParam().Message)));
  ASSERT_TRUE(Reader.Shown().Closed);
  EXPECT_EQ(Reader.Shown().Caption, "Tavrune");
  EXPECT_EQ(Reader.Shown().Text.toStdString(), GetParam().Shown);
  EXPECT_EQ(Reader.Shown().Icon, QMessageBox::Critical);
  EXPECT_EQ(Reader.Shown().Buttons, QMessageBox::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TErrorBoxTest,
    testing::Values(TMessageCase{"Device is not ready", "Device is not ready."},
                    TMessageCase{"Track out of range.", "Track out of range."},
                    TMessageCase{"The component is busy", "The component is busy."},
                    TMessageCase{"Überlänge", "Überlänge."}));

TEST_F(TErrorDisplayTest, AGuardedErrorIsShownAndTheCallerGoesOn) {
  TBoxReader Reader;
  bool After = false;
  ui::Guarded([] { throw Exception("Trying to play a data track."); });
  After = true;
  ASSERT_TRUE(Reader.Shown().Closed);
  EXPECT_EQ(Reader.Shown().Text, "Trying to play a data track.");
  EXPECT_TRUE(After);
}

TEST(GuardedTest, CatchesWhatIsNotAStandardException) {
  TRecordedErrors Errors;
  ui::Guarded([] { throw 42; });
  EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"Unknown error."});
}

TEST(GuardedTest, ACallThatSucceedsShowsNothing) {
  TRecordedErrors Errors;
  int Ran = 0;
  ui::Guarded([&] { ++Ran; });
  EXPECT_EQ(Ran, 1);
  EXPECT_TRUE(Errors.Texts().empty());
}

} // namespace
