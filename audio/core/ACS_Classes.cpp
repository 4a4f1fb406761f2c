#include "audio/core/ACS_Classes.h"

#include "runtime/Application.h"
#include "runtime/Rounding.h"
#include "runtime/Synchronize.h"
#include "runtime/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

std::mutex CodecLoadLock;

namespace {

// How often Stop and the destructors look at the worker while they run deliveries.
constexpr int PollMs = 1;

[[noreturn]] void RaiseAsAuException(std::exception_ptr Error) {
  throw EAuException(ExceptionMessage(Error));
}

} // namespace

// ---- TAuInput

void TAuInput::Init() {
  std::lock_guard Guard(FDataLock);
  try {
    InitInternal();
  } catch (...) {
    RaiseAsAuException(std::current_exception());
  }
}

void TAuInput::Flush() {
  std::lock_guard Guard(FDataLock);
  FlushInternal();
}

void TAuInput::GetData(const uint8_t*& Buffer, uint32_t& Bytes) {
  std::lock_guard Guard(FDataLock);
  GetDataInternal(Buffer, Bytes);
}

uint32_t TAuInput::ReadInto(void* Dest, uint32_t Count) {
  const uint8_t* Buffer = nullptr;
  uint32_t Bytes = Count;
  GetData(Buffer, Bytes);
  if (Buffer != nullptr && Bytes > 0)
    std::memcpy(Dest, Buffer, Bytes);
  return Bytes;
}

uint32_t TAuInput::FillBuffer(void* Dest, uint32_t Count, bool& EndOfData) {
  uint32_t Total = 0;
  uint32_t Last = Count;
  while (Total < Count && Last != 0) {
    Last = ReadInto(static_cast<uint8_t*>(Dest) + Total, Count - Total);
    Total += Last;
  }
  EndOfData = Last == 0;
  return Total;
}

TAuInput::TStreamState TAuInput::StreamState() const {
  std::lock_guard Guard(FStreamLock);
  return {FPosition, FSize};
}

void TAuInput::SetStreamSize(int64_t Value) {
  std::lock_guard Guard(FStreamLock);
  FSize = Value;
}

void TAuInput::SetStreamPosition(int64_t Value) {
  std::lock_guard Guard(FStreamLock);
  FPosition = Value;
}

void TAuInput::AdvanceStreamPosition(int64_t Count) {
  std::lock_guard Guard(FStreamLock);
  FPosition += Count;
}

// ---- TAuThread

TAuThread::TAuThread(TAuOutput* Owner) : FOwner(Owner), FThread([this] { Execute(); }) {}

TAuThread::~TAuThread() {
  {
    std::lock_guard Guard(FLock);
    FTerminated = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TAuThread::RequestRun() {
  {
    std::lock_guard Guard(FLock);
    FRunRequested = true;
  }
  FChanged.notify_all();
}

bool TAuThread::Idle() const {
  std::lock_guard Guard(FLock);
  return FParked && !FRunRequested;
}

uint64_t TAuThread::ParkCount() const {
  std::lock_guard Guard(FLock);
  return FParkCount;
}

bool TAuThread::WaitParkedAfter(uint64_t Count, int TimeoutMs) const {
  std::unique_lock Guard(FLock);
  return FChanged.wait_for(Guard, std::chrono::milliseconds(TimeoutMs),
                           [&] { return FParkCount > Count; });
}

void TAuThread::Execute() {
  FAbort = false;
  while (WaitForRun())
    RunOnce();
}

bool TAuThread::WaitForRun() {
  std::unique_lock Guard(FLock);
  FParked = true;
  ++FParkCount;
  FChanged.notify_all();
  FChanged.wait(Guard, [this] { return FRunRequested || FTerminated; });
  FParked = false;
  if (FTerminated)
    return false;
  FRunRequested = false;
  return true;
}

void TAuThread::RunOnce() {
  TAuOutput& Output = *FOwner;
  Output.FRunning = true;
  // The first error of a run is the one reported, by text and by one thread-exception event.
  bool Failed = false;
  const auto Fail = [&] {
    if (std::exchange(Failed, true))
      return;
    Output.SetExceptionText(ExceptionMessage(std::current_exception()));
    if (Output.FOnThreadException)
      EventHandler()->QueueThreadException(&Output, Output.FOnThreadException);
  };
  try {
    Output.Prepare();
    Output.FPrepared = true;
    bool More = true;
    while (More && !FAbort) {
      int32_t Percent = Output.Progress();
      if (Percent != Output.FLastProgress) {
        Output.FLastProgress = Percent;
        if (Output.FOnProgress)
          EventHandler()->QueueProgress(&Output, Output.FOnProgress);
      }
      More = Output.DoOutput(FAbort);
    }
  } catch (...) {
    Fail();
  }
  FAbort = false;
  if (Output.FRunning) {
    Output.FPrepared = false;
    // A file that could not be finished (its last bytes or its tag) fails the run; the
    // output still runs again.
    try {
      Output.Done();
    } catch (...) {
      Fail();
    }
    Output.FStopRequested = false;
    Output.FRunning = false;
  }
  if (FNotify && Output.FOnDone)
    EventHandler()->QueueDone(&Output, this, Output.FOnDone);
}

// ---- TAuOutput

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  AcquireEventHandler();
  FThread = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput() {
  Shutdown();
  ReleaseEventHandler();
}

void TAuOutput::BeforeDestruction() {
  Shutdown();
}

// Stops the run and ends the worker while every part of the output is still there.
void TAuOutput::Shutdown() {
  if (!FThread)
    return;
  Stop(false);
  TEventHandler* Events = EventHandler();
  Events->Forget(this);
  // A handler of this output's own event that destroys it cannot wait for itself.
  while (Events->Delivering(this) && !Events->Handling(this))
    CheckSynchronize(PollMs);
  FThread.reset();
  Events->UnmuteSender(this);
}

void TAuOutput::AttachInput(TAuInput* Value) {
  TAuInput* Old = FInput;
  if (Old == Value)
    return;
  if (Old != nullptr)
    RemoveFreeNotification(Old);
  FInput = Value;
  if (Value != nullptr)
    FreeNotification(Value);
}

void TAuOutput::SetInput(TAuInput* Value) {
  if (!FRunning) {
    AttachInput(Value);
    return;
  }
  Stop(false);
  AttachInput(Value);
  Run();
}

void TAuOutput::Notification(TComponent* AComponent, TOperation Operation) {
  // The input goes: stop pulling from it and forget it. No new run is started.
  if (Operation == opRemove && AComponent != nullptr && AComponent == FInput.load()) {
    if (FRunning && FThread)
      Stop(false);
    AttachInput(nullptr);
  }
  TComponent::Notification(AComponent, Operation);
}

void TAuOutput::Run() {
  SetExceptionText({});
  if (FRunning)
    throw EAuException("Component is Busy");
  if (FInput == nullptr)
    throw EAuException("Input is not assigned");
  FRunning = true;
  FThread->SetAbort(false);
  FThread->RequestRun();
}

void TAuOutput::Stop(bool Async) {
  FStopRequested = true;
  FThread->SetNotify(Async);
  FThread->SetAbort(true);
  if (Async)
    return;
  TEventHandler* Events = EventHandler();
  Events->MuteSender(this);
  Events->DropEventsOf(this);
  // Deliveries keep running here, so a handler the event thread is waiting on can finish.
  while (!FThread->Idle())
    CheckSynchronize(PollMs);
  Events->UnmuteSender(this);
  FThread->SetNotify(true);
}

int32_t TAuOutput::Progress() const {
  TAuInput* In = FInput;
  if (In == nullptr)
    return 0;
  TAuInput::TStreamState State = In->StreamState();
  if (State.Size == -1)
    return -1;
  if (State.Size == 0)
    return 0;
  long double Ratio = static_cast<long double>(State.Position) / State.Size;
  return static_cast<int32_t>(RoundHalfEven(Ratio * 100));
}

std::string TAuOutput::ExceptionText() const {
  std::lock_guard Guard(FExceptionLock);
  return FExceptionText;
}

void TAuOutput::SetExceptionText(std::string Value) {
  std::lock_guard Guard(FExceptionLock);
  FExceptionText = std::move(Value);
}

// ---- TEventHandler

TEventHandler::TEventHandler() : FThread([this] { Execute(); }) {}

TEventHandler::~TEventHandler() {
  {
    std::lock_guard Guard(FLock);
    FTerminated = true;
  }
  FWake.notify_all();
  // The thread may be waiting for the user-interface thread to run a delivery.
  while (!FFinished)
    CheckSynchronize(PollMs);
  FThread.join();
}

void TEventHandler::QueueProgress(TAuOutput* Sender, const TOutputProgressEvent& Handler) {
  TQueue Item;
  Item.emplace_back(ekProgress, Sender, Handler);
  QueueEvent(std::move(Item));
}

void TEventHandler::QueueDone(TAuOutput* Sender, TAuThread* Worker,
                              const TOutputDoneEvent& Handler) {
  TQueue Item;
  Item.emplace_back(ekDone, Sender, Handler, Worker, Worker->ParkCount());
  QueueEvent(std::move(Item));
}

void TEventHandler::QueueThreadException(TAuOutput* Sender, const TThreadExceptionEvent& Handler) {
  TQueue Item;
  Item.emplace_back(ekThreadException, Sender, Handler);
  QueueEvent(std::move(Item));
}

// The record is made by the caller, so nothing is allocated under the lock; a discarded
// record is freed after it.
void TEventHandler::QueueEvent(TQueue Item) {
  {
    std::lock_guard Guard(FLock);
    bool Muted = std::find(FMuted.begin(), FMuted.end(), Item.front().Sender) != FMuted.end();
    if (!Muted)
      FQueue.splice(FQueue.end(), Item);
  }
  FWake.notify_all();
}

void TEventHandler::DropEventsOf(TAuOutput* Sender) {
  TQueue Dropped;
  std::lock_guard Guard(FLock);
  for (auto It = FQueue.begin(); It != FQueue.end();) {
    auto Next = std::next(It);
    if (It->Sender == Sender)
      Dropped.splice(Dropped.end(), FQueue, It);
    It = Next;
  }
}

void TEventHandler::MuteSender(TAuOutput* Sender) {
  std::lock_guard Guard(FLock);
  FMuted.push_back(Sender);
}

void TEventHandler::UnmuteSender(TAuOutput* Sender) {
  std::lock_guard Guard(FLock);
  auto It = std::find(FMuted.begin(), FMuted.end(), Sender);
  if (It != FMuted.end())
    FMuted.erase(It);
}

void TEventHandler::Forget(TAuOutput* Sender) {
  MuteSender(Sender);
  DropEventsOf(Sender);
  std::lock_guard Guard(FLock);
  if (FCurrent != nullptr && FCurrent->Sender == Sender)
    FCurrent->Cancelled = true;
}

bool TEventHandler::Delivering(TAuOutput* Sender) const {
  std::lock_guard Guard(FLock);
  return FCurrent != nullptr && FCurrent->Sender == Sender;
}

bool TEventHandler::Handling(TAuOutput* Sender) const {
  return std::any_of(FHandling.begin(), FHandling.end(),
                     [Sender](const TAuEventRecord* Record) { return Record->Sender == Sender; });
}

void TEventHandler::Execute() {
  for (;;) {
    TQueue Item;
    {
      std::unique_lock Guard(FLock);
      FWake.wait(Guard, [this] { return FTerminated || !FQueue.empty(); });
      if (FTerminated)
        break;
      Item.splice(Item.end(), FQueue, FQueue.begin());
      FCurrent = &Item.front();
    }
    Deliver(Item.front());
    std::lock_guard Guard(FLock);
    FCurrent = nullptr;
  }
  FFinished = true;
}

void TEventHandler::Deliver(TAuEventRecord& Record) {
  if (Record.Kind == ekDone) {
    // OnDone comes only after the run's worker has parked, so its handler may run it again.
    for (;;) {
      if (Record.Cancelled)
        return;
      if (Record.Worker->WaitParkedAfter(Record.ParkCount, 10))
        break;
    }
    DropEventsOf(Record.Sender);
  }
  try {
    Synchronize([this, &Record] {
      if (Record.Cancelled)
        return;
      FHandling.push_back(&Record);
      try {
        Record.Handler(Record.Sender);
      } catch (...) {
        HandleException(std::current_exception());
      }
      FHandling.pop_back();
    });
  } catch (...) {
    // Nothing that happens in a delivery ends the event thread.
  }
}

namespace {
// User-interface thread only.
int EventHandlerUsers = 0;
std::unique_ptr<TEventHandler> TheEventHandler;
} // namespace

void AcquireEventHandler() {
  if (EventHandlerUsers++ == 0)
    TheEventHandler = std::make_unique<TEventHandler>();
}

void ReleaseEventHandler() {
  if (--EventHandlerUsers == 0)
    TheEventHandler.reset();
}

TEventHandler* EventHandler() {
  return TheEventHandler.get();
}

// ---- File outputs

void TAuFileOut::SetFileName(const std::string& Value) {
  FWideFileName = Utf8ToUtf16(Value);
  FFileName = Value;
}

void TAuFileOut::SetFileMode(TFileOutputMode) {
  FFileMode = foRewrite;
}

namespace {

platform::TFileShare ShareOfMode(uint16_t Mode) {
  switch ((Mode >> 4) & 0xF) {
  case 2:
    return platform::TFileShare::Read;
  case 3:
    return platform::TFileShare::Write;
  case 4:
    return platform::TFileShare::ReadWrite;
  default:
    return platform::TFileShare::Exclusive;
  }
}

platform::TFileAccess AccessOfMode(uint16_t Mode) {
  switch (Mode & 3) {
  case 0:
    return platform::TFileAccess::Read;
  case 1:
    return platform::TFileAccess::Write;
  default:
    return platform::TFileAccess::ReadWrite;
  }
}

// The system's text without trailing blanks, line ends and full stops.
std::string TrimmedSystemMessage(int Error) {
  std::string Text = platform::SysErrorMessage(Error);
  while (!Text.empty() && std::strchr(" \t\r\n.", Text.back()) != nullptr)
    Text.pop_back();
  return Text;
}

} // namespace

TAuFileStream::TAuFileStream(const std::u16string& FileName, uint16_t Mode, uint32_t)
    : platform::THandleStream(platform::InvalidHandle) {
  std::string Name = Utf16ToUtf8(FileName);
  FFile = Mode == fmCreate ? platform::FileCreate(Name, platform::TFileShare::Exclusive)
                           : platform::FileOpen(Name, AccessOfMode(Mode), ShareOfMode(Mode));
  if (!FFile.Valid())
    throw EAuException(TrimmedSystemMessage(errno));
  FHandle = FFile.Get();
}
