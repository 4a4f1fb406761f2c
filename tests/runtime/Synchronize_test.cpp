#include "runtime/Synchronize.h"

#include "runtime/Application.h"
#include "runtime/Exception.h"
#include "tests/support/Pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(SynchronizeTest, ACallFromAnotherThreadRunsOnTheMainThread) {
  std::thread::id RanOn;
  std::atomic<bool> Returned{false};
  std::thread Worker([&] {
    Synchronize([&] { RanOn = std::this_thread::get_id(); });
    Returned = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return Returned.load(); }));
  Worker.join();
  EXPECT_EQ(RanOn, std::this_thread::get_id());
  EXPECT_TRUE(IsMainThread());
}

TEST(SynchronizeTest, TheCallerWaitsUntilTheCallHasRun) {
  std::atomic<bool> Returned{false};
  std::thread Worker([&] {
    Synchronize([] {});
    Returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(Returned);
  EXPECT_TRUE(PumpUntil([&] { return Returned.load(); }));
  Worker.join();
}

TEST(SynchronizeTest, AnErrorOfTheCallReachesTheCaller) {
  std::string Caught;
  std::atomic<bool> Returned{false};
  std::thread Worker([&] {
    try {
      Synchronize([] { throw Exception("Device is not ready"); });
    } catch (const Exception& E) {
      Caught = E.Message();
    }
    Returned = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return Returned.load(); }));
  Worker.join();
  EXPECT_EQ(Caught, "Device is not ready");
}

TEST(SynchronizeTest, OnTheMainThreadACallRunsAtOnce) {
  int Ran = 0;
  Synchronize([&] { ++Ran; });
  EXPECT_EQ(Ran, 1);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(SynchronizeTest, ACallThatPumpsRunsTheCallsHandedOverMeanwhile) {
  // As a delivery does that stops an output: it waits, running what others hand over.
  std::vector<std::string> Order;
  std::atomic<bool> FirstStarted{false};
  std::atomic<bool> SecondRan{false};
  std::thread First([&] {
    Synchronize([&] {
      Order.push_back("first begins");
      FirstStarted = true;
      while (!SecondRan)
        CheckSynchronize(5);
      Order.push_back("first ends");
    });
  });
  std::thread Second([&] {
    while (!FirstStarted)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Synchronize([&] {
      Order.push_back("second");
      SecondRan = true;
    });
  });
  EXPECT_TRUE(PumpUntil([&] { return Order.size() == 3; }));
  First.join();
  Second.join();
  EXPECT_EQ(Order, (std::vector<std::string>{"first begins", "second", "first ends"}));
}

TEST(SynchronizeTest, TheWakeUpIsCalledForEachHandOver) {
  std::atomic<int> Wakes{0};
  SetWakeMainThread([&] { ++Wakes; });
  std::atomic<bool> Returned{false};
  std::thread Worker([&] {
    Synchronize([] {});
    Synchronize([] {});
    Returned = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return Returned.load(); }));
  Worker.join();
  SetWakeMainThread(nullptr);
  EXPECT_EQ(Wakes, 2);
}

TEST(SynchronizeTest, CheckSynchronizeOffTheMainThreadRunsNothing) {
  bool Ran = true;
  std::thread Other([&] { Ran = CheckSynchronize(1); });
  Other.join();
  EXPECT_FALSE(Ran);
}

struct DisplayCase {
  const char* Message;
  const char* Shown;
};

TEST(ErrorDisplayTest, AFullStopIsAddedUnlessTheTextEndsAtOrBelowIt) {
  for (DisplayCase C :
       {DisplayCase{"Track out of range", "Track out of range."},
        DisplayCase{"cdrip.dll could not be loaded.", "cdrip.dll could not be loaded."},
        DisplayCase{"Please select a track to rip!", "Please select a track to rip!"},
        DisplayCase{"ends in a blank ", "ends in a blank "},
        DisplayCase{"ends in a comma,", "ends in a comma,"},
        DisplayCase{"ends in a slash/", "ends in a slash/."}, DisplayCase{"", ""}})
    EXPECT_EQ(ErrorDisplayText(C.Message), C.Shown) << C.Message;
}

TEST(ErrorDisplayTest, HandleExceptionShowsTheTextThroughTheInstalledDisplay) {
  std::string Shown;
  SetErrorDisplay([&](const std::string& Text) { Shown = Text; });
  HandleException(std::make_exception_ptr(Exception("The component is busy")));
  SetErrorDisplay(nullptr);
  EXPECT_EQ(Shown, "The component is busy.");
}

} // namespace
