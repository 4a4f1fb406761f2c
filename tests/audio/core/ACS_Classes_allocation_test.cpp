// The pipeline allocates nothing per buffer, and one small record per queued event. This
// program counts every allocation each thread makes.
#include "audio/core/ACS_Classes.h"

#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {
thread_local long Allocations = 0;
}

void* operator new(std::size_t Size) {
  ++Allocations;
  if (void* P = std::malloc(Size ? Size : 1))
    return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
  std::free(P);
}

namespace {

struct TCountedRun {
  long WorkerAllocations = 0;
  int ProgressEvents = 0;
};

// Runs a sink over 1024 buffers of 100 bytes and counts what the worker allocates between its
// second and its last pass.
TCountedRun CountRun(bool WithProgressHandler) {
  TComponentPtr<TComponent> Root(new TComponent(nullptr));
  auto* Input = new TMemoryInput(Root.get(), PatternBytes(1024 * 100), 100);
  auto* Sink = new TTestSink(Root.get(), 100);
  TCountedRun Result;
  long AtSecondPass = 0;
  long AtLastPass = 0;
  Sink->OnPass = [&](int Pass) {
    if (Pass == 2)
      AtSecondPass = Allocations;
    AtLastPass = Allocations;
  };
  if (WithProgressHandler)
    Sink->SetOnProgress([&](TComponent*) { ++Result.ProgressEvents; });
  bool Finished = false;
  Sink->SetOnDone([&](TComponent*) { Finished = true; });
  Sink->SetInput(Input);
  Sink->Run();
  EXPECT_TRUE(PumpUntil([&] { return Finished; }));
  Result.WorkerAllocations = AtLastPass - AtSecondPass;
  return Result;
}

TEST(PipelineAllocationTest, ABufferPassAllocatesNothing) {
  EXPECT_EQ(CountRun(false).WorkerAllocations, 0);
}

TEST(PipelineAllocationTest, AQueuedEventAllocatesOneRecord) {
  TCountedRun Run = CountRun(true);
  EXPECT_GT(Run.ProgressEvents, 90);
  EXPECT_LE(Run.WorkerAllocations, Run.ProgressEvents);
  EXPECT_GE(Run.WorkerAllocations, Run.ProgressEvents - 2);
}

} // namespace
