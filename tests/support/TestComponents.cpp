#include "tests/support/TestComponents.h"

#include <algorithm>
#include <chrono>
#include <thread>

TMemoryInput::TMemoryInput(TComponent* AOwner, std::vector<uint8_t> Data, uint32_t ChunkSize)
    : TAuInput(AOwner), FData(std::move(Data)), FChunkSize(ChunkSize) {}

void TMemoryInput::SetStreamState(int64_t Position, int64_t Size) {
  SetStreamPosition(Position);
  SetStreamSize(Size);
}

void TMemoryInput::InitInternal() {
  ++InitCount;
  if (!FInitError.empty())
    throw std::runtime_error(FInitError);
  if (Busy())
    throw EAuException("The component is busy");
  FOffset = 0;
  SetStreamSize(FReportedSize == -2 ? static_cast<int64_t>(FData.size()) : FReportedSize);
  SetStreamPosition(0);
  SetBusy(true);
}

void TMemoryInput::FlushInternal() {
  ++FlushCount;
  SetBusy(false);
  SetStreamSize(0);
}

void TMemoryInput::GetDataInternal(const uint8_t*& Buffer, uint32_t& Bytes) {
  ++ReadCount;
  if (!Busy())
    throw EAuException("The Stream is not opened");
  if (FOnRead)
    FOnRead();
  size_t Count = std::min<size_t>({Bytes, FChunkSize, FData.size() - FOffset});
  Buffer = FData.data() + FOffset;
  Bytes = static_cast<uint32_t>(Count);
  FOffset += Count;
  AdvanceStreamPosition(static_cast<int64_t>(Count));
}

TTestSink::TTestSink(TComponent* AOwner, uint32_t ReadSize)
    : TAuOutput(AOwner), FReadSize(ReadSize), FBuffer(ReadSize) {}

std::vector<uint8_t> TTestSink::Received() const {
  std::lock_guard Guard(FLock);
  return FReceived;
}

void TTestSink::Prepare() {
  ++PrepareCount;
  {
    std::lock_guard Guard(FLock);
    FReceived.clear();
  }
  if (!PrepareError.empty())
    throw EAuException(PrepareError);
  Input()->Init();
  // Room for the whole stream up front, so that the sink's own keeping allocates nothing per
  // buffer either.
  std::lock_guard Guard(FLock);
  FReceived.reserve(static_cast<size_t>(std::max<int64_t>(Input()->Size(), 0)));
}

bool TTestSink::DoOutput(bool Abort) {
  int Pass = ++PassCount;
  if (OnPass)
    OnPass(Pass);
  if (Abort)
    return false;
  if (!OutputError.empty() && Pass > OutputErrorAfter)
    throw EAuException(OutputError);
  uint32_t Bytes = Input()->ReadInto(FBuffer.data(), FReadSize);
  std::lock_guard Guard(FLock);
  FReceived.insert(FReceived.end(), FBuffer.begin(), FBuffer.begin() + Bytes);
  return Bytes > 0;
}

void TTestSink::Done() {
  ++DoneCount;
  if (StopRequested())
    ++StoppedDoneCount;
  if (OnDoneHook)
    OnDoneHook();
  if (Input() != nullptr && Input()->Busy())
    Input()->Flush();
  if (DoneRaises)
    throw EAuException("Done failed");
}

std::function<void()> HoldUntilStopped(const TTestSink* Sink, std::atomic<bool>& Reached) {
  return [Sink, &Reached] {
    Reached = true;
    while (!Sink->StopRequestedNow())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
}

std::vector<uint8_t> PatternBytes(size_t Count, uint8_t Seed) {
  std::vector<uint8_t> Bytes(Count);
  for (size_t I = 0; I < Count; ++I)
    Bytes[I] = static_cast<uint8_t>((I + Seed) % 251);
  return Bytes;
}
