#include "audio/core/ACS_Classes.h"

#include "runtime/Application.h"
#include "runtime/Synchronize.h"
#include "runtime/Text.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The components of one test, owned by one root as the main window owns them.
class PipelineTest : public ::testing::Test {
protected:
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};

  TMemoryInput* MakeInput(size_t Bytes, uint32_t Chunk = 4096) {
    return new TMemoryInput(Root.get(), PatternBytes(Bytes), Chunk);
  }
  TTestSink* MakeSink(uint32_t ReadSize = 4096) { return new TTestSink(Root.get(), ReadSize); }
};

// Counts deliveries of one output's three events, in order.
struct TEventLog {
  std::vector<std::string> Events;
  int Count(const std::string& Kind) const {
    return static_cast<int>(std::count(Events.begin(), Events.end(), Kind));
  }
  void Attach(TAuOutput* Output) {
    Output->SetOnProgress([this](TComponent*) { Events.push_back("progress"); });
    Output->SetOnDone([this](TComponent*) { Events.push_back("done"); });
    Output->SetOnThreadException([this](TComponent*) { Events.push_back("exception"); });
  }
};

struct ProgressCase {
  const char* Name;
  bool HasInput;
  int64_t Position;
  int64_t Size;
  int32_t Expected;
};

class ProgressTest : public PipelineTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressTest, RoundsThePositionOverTheSize) {
  const ProgressCase& Case = GetParam();
  TTestSink* Sink = MakeSink();
  if (Case.HasInput) {
    TMemoryInput* Input = MakeInput(0);
    Input->SetStreamState(Case.Position, Case.Size);
    Sink->SetInput(Input);
  }
  EXPECT_EQ(Sink->Progress(), Case.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressTest,
                         ::testing::Values(ProgressCase{"NoInput", false, 0, 0, 0},
                                           ProgressCase{"UnknownSize", true, 5000, -1, -1},
                                           ProgressCase{"EmptyStream", true, 10, 0, 0},
                                           ProgressCase{"TieRoundsDownToEven", true, 100, 800, 12},
                                           ProgressCase{"TieRoundsUpToEven", true, 300, 800, 38},
                                           ProgressCase{"Whole", true, 800, 800, 100},
                                           ProgressCase{"NotClamped", true, 900, 800, 112},
                                           ProgressCase{"LargeStream", true, 3'000'000'000LL,
                                                        6'000'000'000LL, 50}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(PipelineTest, ProgressEventsFollowTheChangesOfThePercentageAcrossRuns) {
  // 800 bytes in passes of 100: the checks before each pass see 0, 12, 25, ... 100.
  TMemoryInput* Input = MakeInput(800);
  TTestSink* Sink = MakeSink(100);
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);

  // A fresh output last saw 0, so the first pass queues nothing.
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  EXPECT_EQ(Log.Count("progress"), 8);
  EXPECT_EQ(Log.Events.back(), "done");

  // The next run's first pass compares its 0 with the 100 the last run ended with.
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 2; }));
  EXPECT_EQ(Log.Count("progress"), 8 + 9);
  EXPECT_EQ(Sink->Received(), PatternBytes(800));
}

TEST_F(PipelineTest, AnUnknownSizeQueuesOneProgressEventForTheWholeRun) {
  TMemoryInput* Input = MakeInput(800);
  Input->SetReportedSize(-1);
  TTestSink* Sink = MakeSink(100);
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  // 0 -> -1 once; it stays -1.
  EXPECT_EQ((std::vector<std::string>{"progress", "done"}), Log.Events);
}

TEST_F(PipelineTest, RunWhileRunningIsRefusedAndEmptiesTheExceptionText) {
  TMemoryInput* Input = MakeInput(800, 100);
  TTestSink* Sink = MakeSink(100);
  // The run fails in its first pass and then waits in Done, still running, with its text set.
  Sink->OutputError = "pass failed";
  std::atomic<bool> InDone{false};
  std::atomic<bool> Release{false};
  Sink->OnDoneHook = [&] {
    InDone = true;
    while (!Release)
      std::this_thread::sleep_for(1ms);
  };
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return InDone.load(); }));
  EXPECT_EQ(Sink->ExceptionText(), "pass failed");

  try {
    Sink->Run();
    FAIL() << "a second Run was accepted";
  } catch (const EAuException& E) {
    EXPECT_STREQ(E.what(), "Component is Busy");
  }
  EXPECT_EQ(Sink->ExceptionText(), "");

  Release = true;
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  EXPECT_EQ(Sink->PrepareCount, 1);
  EXPECT_EQ(Sink->DoneCount, 1);
}

TEST_F(PipelineTest, RunWithoutInputIsRefused) {
  TTestSink* Sink = MakeSink();
  EXPECT_THROW(
      {
        try {
          Sink->Run();
        } catch (const EAuException& E) {
          EXPECT_STREQ(E.what(), "Input is not assigned");
          throw;
        }
      },
      EAuException);
  EXPECT_FALSE(Sink->Running());
}

TEST_F(PipelineTest, AFailingPrepareEndsTheRunButDoneAndOnDoneStillCome) {
  TMemoryInput* Input = MakeInput(400);
  TTestSink* Sink = MakeSink();
  Sink->PrepareError = "File name is not assigned.";
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  EXPECT_EQ(Sink->ExceptionText(), "File name is not assigned.");
  EXPECT_EQ(Sink->DoneCount, 1);
  EXPECT_EQ(Sink->PassCount, 0);
  // The thread-exception event of a run comes before its OnDone.
  EXPECT_EQ((std::vector<std::string>{"exception", "done"}), Log.Events);

  Sink->PrepareError.clear();
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 2; }));
  EXPECT_EQ(Sink->ExceptionText(), "");
  EXPECT_EQ(Sink->Received(), PatternBytes(400));
}

TEST_F(PipelineTest, AFailingInitArrivesAsAuExceptionAndReleasesTheDataLock) {
  TMemoryInput* Input = MakeInput(100);
  Input->SetInitError("drive gone");
  try {
    Input->Init();
    FAIL() << "Init succeeded";
  } catch (const EAuException& E) {
    EXPECT_STREQ(E.what(), "drive gone");
  }
  // The lock was released: the next Init and reads go through.
  Input->SetInitError("");
  Input->Init();
  uint8_t Byte[1];
  EXPECT_EQ(Input->ReadInto(Byte, 1), 1u);
  Input->Flush();
}

// A Done that fails (as when the last bytes or the tag of a file do not fit on the disk) fails
// the run, unless an earlier error of the run already did.
struct FailingDoneCase {
  const char* Name;
  const char* PrepareError;
  const char* OutputError;
  const char* Expected;
};

class FailingDoneTest : public PipelineTest,
                        public ::testing::WithParamInterface<FailingDoneCase> {};

TEST_P(FailingDoneTest, ReportsTheRunsFirstErrorOnceAndTheOutputRunsAgain) {
  const FailingDoneCase& Case = GetParam();
  TMemoryInput* Input = MakeInput(300, 100);
  TTestSink* Sink = MakeSink(100);
  Sink->PrepareError = Case.PrepareError;
  Sink->OutputError = Case.OutputError;
  Sink->OutputErrorAfter = 1;
  Sink->DoneRaises = true;
  TEventLog Log;
  Log.Attach(Sink);
  // Only the run's outcome is of interest here.
  Sink->SetOnProgress(nullptr);
  Sink->SetInput(Input);
  std::vector<std::string> Expected;
  for (int Run = 1; Run <= 2; ++Run) {
    SCOPED_TRACE(Run);
    Sink->Run();
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == Run; }));
    EXPECT_FALSE(Sink->Running());
    EXPECT_EQ(Sink->ExceptionText(), Case.Expected);
    Expected.insert(Expected.end(), {"exception", "done"});
    EXPECT_EQ(Log.Events, Expected);
  }
  Sink->PrepareError.clear();
  Sink->OutputError.clear();
  Sink->DoneRaises = false;
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 3; }));
  EXPECT_EQ(Sink->ExceptionText(), "");
  EXPECT_EQ(Log.Events.back(), "done");
  EXPECT_EQ(Log.Count("exception"), 2);
  EXPECT_EQ(Sink->Received(), PatternBytes(300));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingDoneTest,
    ::testing::Values(FailingDoneCase{"DoneAlone", "", "", "Done failed"},
                      FailingDoneCase{"AfterAFailedPass", "", "pass failed", "pass failed"},
                      FailingDoneCase{"AfterAFailedPrepare", "no file", "", "no file"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(PipelineTest, AFailingDoneStillClearsTheStopItSaw) {
  TMemoryInput* Input = MakeInput(100);
  TTestSink* Sink = MakeSink();
  Sink->DoneRaises = true;
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Stop(false);
  for (int Run = 1; Run <= 2; ++Run) {
    Sink->Run();
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == Run; }));
  }
  // Only the first run's Done saw the stop; the second run was not stopped.
  EXPECT_EQ(Sink->StoppedDoneCount, 1);
  EXPECT_FALSE(Sink->StopRequestedNow());
}

TEST_F(PipelineTest, AnOnDoneHandlerCanRunTheOutputAgainAtOnce) {
  TMemoryInput* Input = MakeInput(300, 100);
  TTestSink* Sink = MakeSink(100);
  int Done = 0;
  Sink->SetOnDone([&](TComponent* Sender) {
    EXPECT_EQ(Sender, Sink);
    if (++Done < 5)
      Sink->Run();
  });
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Done == 5; }));
  EXPECT_EQ(Sink->PrepareCount, 5);
}

TEST_F(PipelineTest, ARunAskedForJustAsTheWorkerParksIsNotLost) {
  TMemoryInput* Input = MakeInput(8);
  TTestSink* Sink = MakeSink();
  Sink->SetInput(Input);
  // No handlers: nothing to deliver, so Run comes the moment the running flag clears, while
  // the worker is still on its way to parking.
  constexpr int Runs = 300;
  for (int I = 0; I < Runs; ++I) {
    while (Sink->Running())
      std::this_thread::yield();
    Sink->Run();
  }
  ASSERT_TRUE(PumpUntil([&] { return Sink->DoneCount == Runs; }, 30000));
  EXPECT_EQ(Sink->PrepareCount, Runs);
}

TEST_F(PipelineTest, StopWaitsForDoneAndDiscardsTheOutputsEvents) {
  TMemoryInput* Input = MakeInput(800, 100);
  TTestSink* Sink = MakeSink(100);
  std::atomic<bool> Waiting{false};
  // Five passes queue five progress events that nobody delivers (this thread does not pump);
  // the sixth waits for the stop.
  Sink->OnPass = [Hold = HoldUntilStopped(Sink, Waiting)](int Pass) {
    if (Pass >= 6)
      Hold();
  };
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Run();
  while (!Waiting)
    std::this_thread::sleep_for(1ms);

  Sink->Stop(false);
  EXPECT_FALSE(Sink->Running());
  EXPECT_EQ(Sink->DoneCount, 1);
  EXPECT_EQ(Sink->StoppedDoneCount, 1);
  EXPECT_EQ(Input->FlushCount, 1);

  PumpFor(300);
  // At most the one event the event thread had already taken; never OnDone.
  EXPECT_LE(Log.Count("progress"), 1);
  EXPECT_EQ(Log.Count("done"), 0);

  // The output is idle and runs again, with its events delivered.
  Sink->OnPass = nullptr;
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  EXPECT_EQ(Sink->Received(), PatternBytes(800));
}

TEST_F(PipelineTest, StopOnAnIdleOutputLeavesTheStopForTheNextDoneToSee) {
  TMemoryInput* Input = MakeInput(100);
  TTestSink* Sink = MakeSink();
  Sink->SetInput(Input);
  Sink->Stop(false);
  EXPECT_TRUE(Sink->StopRequestedNow());
  TEventLog Log;
  Log.Attach(Sink);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  // Run cleared the abort flag, so the run was whole; its Done saw the old stop and cleared it.
  EXPECT_EQ(Sink->Received(), PatternBytes(100));
  EXPECT_EQ(Sink->StoppedDoneCount, 1);
  EXPECT_FALSE(Sink->StopRequestedNow());
}

TEST_F(PipelineTest, FillBufferStopsAtTheEndOfTheInput) {
  TMemoryInput* Input = MakeInput(4106, 1000);
  Input->Init();
  std::vector<uint8_t> Buffer(4096);
  bool End = true;
  EXPECT_EQ(Input->FillBuffer(Buffer.data(), 4096, End), 4096u);
  EXPECT_FALSE(End);
  int ReadsBefore = Input->ReadCount;
  // 10 bytes left: one read gives them, a second gives 0.
  EXPECT_EQ(Input->FillBuffer(Buffer.data(), 4096, End), 10u);
  EXPECT_TRUE(End);
  EXPECT_EQ(Input->ReadCount - ReadsBefore, 2);
  std::vector<uint8_t> Expected = PatternBytes(4106);
  EXPECT_TRUE(std::equal(Buffer.begin(), Buffer.begin() + 10, Expected.begin() + 4096));
  // Asking for nothing reads nothing and reports the end.
  End = false;
  EXPECT_EQ(Input->FillBuffer(Buffer.data(), 0, End), 0u);
  EXPECT_TRUE(End);
  Input->Flush();
}

TEST_F(PipelineTest, ReadIntoCopiesOneReadOnly) {
  TMemoryInput* Input = MakeInput(5000, 1000);
  Input->Init();
  std::vector<uint8_t> Buffer(4096);
  EXPECT_EQ(Input->ReadInto(Buffer.data(), 4096), 1000u);
  EXPECT_EQ(Input->Position(), 1000);
  Input->Flush();
  EXPECT_EQ(Input->Size(), 0);
}

TEST_F(PipelineTest, SetInputWhileRunningRestartsOnTheNewInputWithoutOnDoneForTheOld) {
  TMemoryInput* First = MakeInput(800, 100);
  TMemoryInput* Second = new TMemoryInput(Root.get(), PatternBytes(300, 7), 100);
  TTestSink* Sink = MakeSink(100);
  std::atomic<bool> Waiting{false};
  First->SetOnRead(HoldUntilStopped(Sink, Waiting));
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(First);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Waiting.load(); }));

  Sink->SetInput(Second);
  EXPECT_EQ(Sink->Input(), Second);
  EXPECT_EQ(First->FlushCount, 1);
  ASSERT_TRUE(PumpUntil([&] { return Log.Count("done") == 1; }));
  PumpFor(50);
  EXPECT_EQ(Log.Count("done"), 1);
  EXPECT_EQ(Sink->PrepareCount, 2);
  EXPECT_EQ(Sink->Received(), PatternBytes(300, 7));
}

TEST_F(PipelineTest, DestroyingTheInputOfARunningOutputStopsItAndClearsTheInput) {
  TMemoryInput* Input = MakeInput(800, 100);
  TTestSink* Sink = MakeSink(100);
  std::atomic<bool> Waiting{false};
  Input->SetOnRead(HoldUntilStopped(Sink, Waiting));
  TEventLog Log;
  Log.Attach(Sink);
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Waiting.load(); }));

  Input->Free();
  EXPECT_EQ(Sink->Input(), nullptr);
  EXPECT_FALSE(Sink->Running());
  EXPECT_EQ(Sink->DoneCount, 1);
  PumpFor(100);
  EXPECT_EQ(Log.Count("done"), 0);
}

TEST_F(PipelineTest, DestroyingAnInputOfAnotherOwnerClearsTheOutputsInput) {
  TTestSink* Sink = MakeSink();
  {
    TComponentPtr<TMemoryInput> Elsewhere(new TMemoryInput(nullptr, PatternBytes(10)));
    Sink->SetInput(Elsewhere.get());
  }
  EXPECT_EQ(Sink->Input(), nullptr);
}

TEST_F(PipelineTest, DestroyingARunningOutputFinishesItsRunFirst) {
  TMemoryInput* Input = MakeInput(800, 100);
  TTestSink* Sink = MakeSink(100);
  std::atomic<bool> Reading{false};
  Input->SetOnRead([&] {
    Reading = true;
    std::this_thread::sleep_for(2ms);
  });
  bool Delivered = false;
  bool DoneDelivered = false;
  Sink->SetOnProgress([&](TComponent*) { Delivered = true; });
  Sink->SetOnDone([&](TComponent*) { DoneDelivered = true; });
  std::atomic<int> DoneCount{0};
  Sink->OnDoneHook = [&] { ++DoneCount; };
  Sink->SetInput(Input);
  Sink->Run();
  while (!Reading)
    std::this_thread::sleep_for(1ms);

  Sink->Free();
  EXPECT_EQ(DoneCount, 1);
  EXPECT_EQ(Input->FlushCount, 1);
  EXPECT_FALSE(Input->Busy());
  // Nothing of the destroyed output is delivered any more.
  Delivered = false;
  PumpFor(100);
  EXPECT_FALSE(Delivered);
  EXPECT_FALSE(DoneDelivered);
}

TEST_F(PipelineTest, AnOutputCanBeDestroyedByItsOwnHandler) {
  TMemoryInput* Input = MakeInput(100);
  TTestSink* Sink = MakeSink();
  TTestSink* Other = MakeSink();
  bool Freed = false;
  Sink->SetOnDone([&](TComponent* Sender) {
    Sender->Free();
    Freed = true;
  });
  Sink->SetInput(Input);
  Sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return Freed; }));
  // The event thread goes on delivering for the others.
  bool OtherDone = false;
  Other->SetOnDone([&](TComponent*) { OtherDone = true; });
  Other->SetInput(Input);
  Other->Run();
  EXPECT_TRUE(PumpUntil([&] { return OtherDone; }));
}

TEST_F(PipelineTest, AnErrorEscapingAHandlerIsShownAndDeliveryGoesOn) {
  std::vector<std::string> Shown;
  SetErrorDisplay([&](const std::string& Text) { Shown.push_back(Text); });
  TMemoryInput* Input = MakeInput(100);
  TTestSink* Sink = MakeSink();
  int Done = 0;
  Sink->SetOnDone([&](TComponent*) {
    ++Done;
    throw EAuException("Track out of range");
  });
  Sink->SetInput(Input);
  for (int Run = 1; Run <= 2; ++Run) {
    Sink->Run();
    ASSERT_TRUE(PumpUntil([&] { return Done == Run; }));
  }
  SetErrorDisplay(nullptr);
  EXPECT_EQ((std::vector<std::string>{"Track out of range.", "Track out of range."}), Shown);
}

TEST_F(PipelineTest, RandomStopsNeitherDeadlockNorLoseNorDoubleOnDone) {
  // Two outputs on their own inputs, started and stopped at random moments while this thread
  // pumps deliveries. A run that is not stopped must deliver exactly one OnDone; a stopped one
  // at most one (when the event thread had taken it before the stop).
  struct TLane {
    TMemoryInput* Input;
    TTestSink* Sink;
    int Delivered = 0;
    int Expected = 0;
    int Stopped = 0;
    int Runs = 0;
  };
  std::mt19937 Random(20261210);
  std::vector<TLane> Lanes;
  for (int I = 0; I < 2; ++I) {
    TMemoryInput* Input = MakeInput(4000, 200);
    Input->SetOnRead([] { std::this_thread::sleep_for(std::chrono::microseconds(50)); });
    Lanes.push_back({Input, MakeSink(200)});
  }
  for (TLane& Lane : Lanes) {
    Lane.Sink->SetInput(Lane.Input);
    Lane.Sink->SetOnProgress([](TComponent*) {});
    Lane.Sink->SetOnDone([&Lane](TComponent*) { ++Lane.Delivered; });
  }
  for (int Step = 0; Step < 300; ++Step) {
    TLane& Lane = Lanes[Random() % Lanes.size()];
    if (Lane.Sink->Running())
      continue;
    int DeliveredBefore = Lane.Delivered;
    Lane.Sink->Run();
    ++Lane.Runs;
    PumpFor(static_cast<int>(Random() % 4));
    if (Random() % 2 == 0) {
      Lane.Sink->Stop(false);
      ++Lane.Stopped;
      ASSERT_FALSE(Lane.Sink->Running());
      continue;
    }
    ++Lane.Expected;
    ASSERT_TRUE(PumpUntil([&] { return Lane.Delivered > DeliveredBefore; }, 20000))
        << "OnDone lost at step " << Step;
  }
  PumpFor(100);
  for (TLane& Lane : Lanes) {
    EXPECT_GE(Lane.Delivered, Lane.Expected);
    EXPECT_LE(Lane.Delivered, Lane.Expected + Lane.Stopped);
    EXPECT_EQ(Lane.Sink->PrepareCount, Lane.Runs);
    EXPECT_EQ(Lane.Sink->DoneCount, Lane.Runs);
    EXPECT_FALSE(Lane.Input->Busy());
  }
}

class TFileWriter : public TAuFileOut {
public:
  using TAuFileOut::TAuFileOut;

protected:
  void Prepare() override {}
  bool DoOutput(bool) override { return false; }
  void Done() override {}
};

TEST_F(PipelineTest, TheBaseFileModeIsAlwaysRewrite) {
  TFileWriter* Writer = new TFileWriter(Root.get());
  EXPECT_EQ(Writer->FileMode(), foRewrite);
  Writer->SetFileMode(foAppend);
  EXPECT_EQ(Writer->FileMode(), foRewrite);
}

TEST_F(PipelineTest, TheFileNameKeepsAWideCopy) {
  TFileWriter* Writer = new TFileWriter(Root.get());
  Writer->SetFileName("/tmp/Caf\xC3\xA9 \xE2\x99\xAA.wav");
  EXPECT_EQ(Writer->FileName(), "/tmp/Caf\xC3\xA9 \xE2\x99\xAA.wav");
  EXPECT_EQ(Writer->WideFileName(), u"/tmp/Caf\u00E9 \u266A.wav");
  Writer->SetFileName("");
  EXPECT_TRUE(Writer->WideFileName().empty());
}

std::string ReadAll(const std::string& Name) {
  std::ifstream File(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(File), {}};
}

TEST(FileStreamTest, CreateReplacesAnExistingFile) {
  TTempDir Dir;
  std::string Name = Dir.File("track.wav");
  std::ofstream(Name) << "old content that is longer";
  {
    TAuFileStream Stream(Utf8ToUtf16(Name), TAuFileStream::fmCreate);
    EXPECT_EQ(Stream.Size(), 0);
    EXPECT_EQ(Stream.Write("new", 3), 3);
  }
  EXPECT_EQ(ReadAll(Name), "new");
}

TEST(FileStreamTest, OpenForAppendingReadsAndWritesTheExistingFile) {
  TTempDir Dir;
  std::string Name = Dir.File("track.wav");
  std::ofstream(Name) << "RIFF";
  {
    TAuFileStream Stream(Utf8ToUtf16(Name), 0x12);
    char Head[4];
    EXPECT_EQ(Stream.Read(Head, 4), 4);
    EXPECT_EQ(std::string(Head, 4), "RIFF");
    EXPECT_EQ(Stream.Write("WAVE", 4), 4);
  }
  EXPECT_EQ(ReadAll(Name), "RIFFWAVE");
}

struct OpenFailureCase {
  const char* Name;
  const char* Path;
  uint16_t Mode;
  const char* Message;
};

class FileStreamFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(FileStreamFailureTest, RaisesTheSystemsTextWithoutFullStop) {
  TTempDir Dir;
  const OpenFailureCase& Case = GetParam();
  try {
    TAuFileStream Stream(Utf8ToUtf16(Dir.File(Case.Path)), Case.Mode);
    FAIL() << "opened";
  } catch (const EAuException& E) {
    EXPECT_STREQ(E.what(), Case.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileStreamFailureTest,
    ::testing::Values(OpenFailureCase{"MissingFileForAppending", "missing.wav", 0x12,
                                      "No such file or directory"},
                      OpenFailureCase{"MissingFolder", "no/such/folder/a.wav",
                                      TAuFileStream::fmCreate, "No such file or directory"},
                      OpenFailureCase{"AFolderInsteadOfAFile", "", TAuFileStream::fmCreate,
                                      "Is a directory"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(FileStreamTest, AnExclusivelyHeldFileCannotBeOpenedTwice) {
  TTempDir Dir;
  std::string Name = Dir.File("held.wav");
  TAuFileStream First(Utf8ToUtf16(Name), TAuFileStream::fmCreate);
  EXPECT_EQ(First.Write("data", 4), 4);
  EXPECT_THROW(TAuFileStream(Utf8ToUtf16(Name), TAuFileStream::fmCreate), EAuException);
  EXPECT_THROW(TAuFileStream(Utf8ToUtf16(Name), 0x12), EAuException);
  // The second creator did not truncate the held file.
  EXPECT_EQ(First.Size(), 4);
}

} // namespace
