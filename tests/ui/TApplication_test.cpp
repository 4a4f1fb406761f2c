#include "ui/TApplication.h"

#include "runtime/Exception.h"
#include "runtime/Synchronize.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"
#include "tests/ui/RecordedErrors.h"

#include <QEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// An object whose event handler fails, unguarded: only the application's last line is left.
class TFailingObject : public QObject {
public:
  bool event(QEvent* Event) override {
    if (Event->type() == QEvent::User)
      throw Exception("Device is not ready");
    return QObject::event(Event);
  }
};

TEST(TApplicationTest, AnErrorEscapingAnEventHandlerIsShown) {
  TRecordedErrors Errors;
  TFailingObject Object;
  QEvent Event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&Object, &Event));
  EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"Device is not ready."});
}

TEST(TApplicationTest, TheEventLoopGoesOnAfterAnEscapedError) {
  TRecordedErrors Errors;
  TFailingObject Object;
  bool Later = false;
  QCoreApplication::postEvent(&Object, new QEvent(QEvent::User));
  QMetaObject::invokeMethod(
      &Object, [&] { Later = true; }, Qt::QueuedConnection);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Later; }));
  EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"Device is not ready."});
}

// The wake-up, installed for the rest of the program: these tests only run Qt's event loop,
// never CheckSynchronize themselves.
class TWakeUpTest : public testing::Test {
protected:
  TWakeUpTest() { ui::InstallSynchronizeWakeUp(); }

  // Waits in Qt's loop; a failed wake-up must still let the threads go before they are joined.
  bool WaitInEventLoop(const std::function<bool()>& Condition) {
    bool Met = QTest::qWaitFor(Condition, 20000);
    while (!Met && !Condition())
      CheckSynchronize(10);
    return Met;
  }
};

TEST_F(TWakeUpTest, ACallHandedOverByAnotherThreadRunsOnTheMainThread) {
  std::thread::id RanOn;
  std::atomic<bool> Returned{false};
  std::thread Worker([&] {
    Synchronize([&] { RanOn = std::this_thread::get_id(); });
    Returned = true;
  });
  EXPECT_TRUE(WaitInEventLoop([&] { return Returned.load(); }));
  Worker.join();
  EXPECT_EQ(RanOn, std::this_thread::get_id());
}

TEST_F(TWakeUpTest, CallsFromManyThreadsAllRunInTurn) {
  constexpr int Threads = 4, Calls = 50;
  int Ran = 0; // main thread only
  std::atomic<int> Finished{0};
  std::vector<std::thread> Workers;
  for (int I = 0; I < Threads; ++I)
    Workers.emplace_back([&] {
      for (int Call = 0; Call < Calls; ++Call)
        Synchronize([&] { ++Ran; });
      ++Finished;
    });
  EXPECT_TRUE(WaitInEventLoop([&] { return Finished == Threads; }));
  for (std::thread& Worker : Workers)
    Worker.join();
  EXPECT_EQ(Ran, Threads * Calls);
}

// Qt aborts where it finds no display; the program asks first.
TEST(DisplayProblemTest, NamesWhatIsMissingAndTrustsAChosenPlatform) {
  TTempDir Runtime;
  { std::ofstream Socket(Runtime.File("wayland-1")); }
  TXvfb Server;
  ASSERT_FALSE(Server.Display().empty()) << "Xvfb did not start";
  struct TCase {
    const char* Platform;
    const char* Display;
    const char* Wayland;
    const char* Argument;
    std::string Problem;
  };
  const TCase Cases[] = {
      {nullptr, nullptr, nullptr, nullptr, "no display: DISPLAY and WAYLAND_DISPLAY are not set"},
      {nullptr, ":97", nullptr, nullptr, "cannot connect to the X display \":97\""},
      {nullptr, Server.Display().c_str(), nullptr, nullptr, ""},
      {nullptr, nullptr, "wayland-0", nullptr, "the Wayland display \"wayland-0\" is not there"},
      {nullptr, nullptr, "wayland-1", nullptr, ""},
      {"offscreen", nullptr, nullptr, nullptr, ""},
      {nullptr, nullptr, nullptr, "-platform", ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Problem);
    TScopedEnv Platform("QT_QPA_PLATFORM", Case.Platform);
    TScopedEnv Display("DISPLAY", Case.Display);
    TScopedEnv Wayland("WAYLAND_DISPLAY", Case.Wayland);
    TScopedEnv RuntimeDir("XDG_RUNTIME_DIR", Runtime.Path().c_str());
    char Program[] = "tavrune";
    char Argument[] = "-platform";
    char* Argv[] = {Program, Argument, nullptr};
    EXPECT_EQ(ui::DisplayProblem(Case.Argument ? 2 : 1, Argv), Case.Problem);
  }
}

} // namespace
