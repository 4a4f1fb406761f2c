#include "ui/TApplication.h"

#include "runtime/Exception.h"
#include "runtime/Synchronize.h"
#include "tests/ui/RecordedErrors.h"

#include <QEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
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

} // namespace
