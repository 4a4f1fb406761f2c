#pragma once

#include "audio/tags/ACS_Tags.h"
#include "platform/File.h"
#include "runtime/Component.h"
#include "runtime/Exception.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The error type of every pipeline, CD and writer component.
class EAuException : public Exception {
public:
  using Exception::Exception;
};

// Taken only by the run-time loaders of codec libraries, so that each library is loaded and
// its entry points resolved exactly once.
extern std::mutex CodecLoadLock;

// A source of raw interleaved little-endian PCM, handed out in buffers the source owns.
class TAuInput : public TComponent {
public:
  explicit TAuInput(TComponent* AOwner) : TComponent(AOwner) {}

  virtual int32_t GetBPS() = 0;
  virtual int32_t GetCh() = 0;
  virtual int32_t GetSR() = 0;
  virtual int32_t GetTotalTime() { return 0; }
  virtual int64_t GetTotalSamples() { return 0; }

  // Opens the source for a run. Any failure of the source arrives as EAuException.
  void Init();
  void Flush();
  // Points Buffer at the source's next bytes and lowers Bytes to their count; 0 bytes is the end
  // of the stream. The bytes stay valid until the next GetData, Flush or Init of this input.
  virtual void GetData(const uint8_t*& Buffer, uint32_t& Bytes);
  // One GetData copied into Dest; the count the input reported.
  uint32_t ReadInto(void* Dest, uint32_t Count);
  // ReadInto until Dest is full or the input is exhausted; below Count only at the end.
  uint32_t FillBuffer(void* Dest, uint32_t Count, bool& EndOfData);

  // The stream position and size (-1 when the source cannot tell), read as one pair.
  struct TStreamState {
    int64_t Position = 0;
    int64_t Size = 0;
  };
  TStreamState StreamState() const;
  int64_t Position() const { return StreamState().Position; }
  int64_t Size() const { return StreamState().Size; }
  bool Busy() const { return FBusy; }

protected:
  // The source opens its stream: sets the size, position 0 and the busy flag.
  virtual void InitInternal() = 0;
  // The source closes its stream: clears the busy flag, size 0.
  virtual void FlushInternal() = 0;
  virtual void GetDataInternal(const uint8_t*& Buffer, uint32_t& Bytes) = 0;

  void SetStreamSize(int64_t Value);
  void SetStreamPosition(int64_t Value);
  void AdvanceStreamPosition(int64_t Count);
  void SetBusy(bool Value) { FBusy = Value; }

  // First and last index of the bytes waiting in a descendant's own buffer.
  uint32_t FBufStart = 1;
  uint32_t FBufEnd = 0;

private:
  // Written by the worker, read by Progress on the user-interface thread.
  mutable std::mutex FStreamLock;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  std::atomic<bool> FBusy{false};
  // Serialises Init, Flush and GetData.
  std::mutex FDataLock;
};

// Every event carries only its sender; handlers read what they need from it.
using TOutputDoneEvent = std::function<void(TComponent* Sender)>;
using TOutputProgressEvent = std::function<void(TComponent* Sender)>;
using TThreadExceptionEvent = std::function<void(TComponent* Sender)>;

class TAuOutput;

// The worker thread of one output: parks between runs and is woken by Run.
class TAuThread {
public:
  explicit TAuThread(TAuOutput* Owner);
  // Tells the thread to terminate and joins it.
  ~TAuThread();
  TAuThread(const TAuThread&) = delete;
  TAuThread& operator=(const TAuThread&) = delete;

  void SetAbort(bool Value) { FAbort = Value; }
  bool Abort() const { return FAbort; }
  void SetNotify(bool Value) { FNotify = Value; }

  // Asks for one run; a request that comes while the thread is still on its way to parking is
  // kept, not lost.
  void RequestRun();
  // Parked with no run asked for.
  bool Idle() const;
  // How often the thread has parked so far.
  uint64_t ParkCount() const;
  // Waits up to TimeoutMs for the thread to park more often than Count times.
  bool WaitParkedAfter(uint64_t Count, int TimeoutMs) const;

private:
  void Execute();
  bool WaitForRun();
  void RunOnce();

  TAuOutput* FOwner;
  std::atomic<bool> FAbort{false};
  std::atomic<bool> FNotify{true};
  // Guards the four fields below.
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FRunRequested = false;
  bool FTerminated = false;
  bool FParked = false;
  uint64_t FParkCount = 0;
  std::thread FThread;
};

// A sink: pulls its input on its own worker thread, from Run until the input is exhausted or
// the sink is stopped, and reports through events delivered on the user-interface thread.
// Handlers and the input are set on the user-interface thread while the output is idle.
class TAuOutput : public TComponent {
public:
  explicit TAuOutput(TComponent* AOwner);
  ~TAuOutput() override;

  TAuInput* Input() const { return FInput; }
  virtual void SetInput(TAuInput* Value);
  const TOutputDoneEvent& OnDone() const { return FOnDone; }
  void SetOnDone(TOutputDoneEvent Value) { FOnDone = std::move(Value); }
  const TOutputProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TOutputProgressEvent Value) { FOnProgress = std::move(Value); }
  const TThreadExceptionEvent& OnThreadException() const { return FOnThreadException; }
  void SetOnThreadException(TThreadExceptionEvent Value) { FOnThreadException = std::move(Value); }

  // Starts one run. Raises "Component is Busy" or "Input is not assigned".
  void Run();
  // Ends the run after the current buffer. Stop(false) returns once Done has finished, and
  // neither OnDone of that run nor any still-queued event of this output is delivered.
  void Stop(bool Async);
  // Percentage of the input consumed: 0 without input, -1 when the input cannot tell its size.
  int32_t Progress() const;
  // The message of the error that ended the last run; empty after a good run.
  std::string ExceptionText() const;
  bool Running() const { return FRunning; }

protected:
  // Opens the sink and calls Init on the input.
  virtual void Prepare() = 0;
  // Processes one buffer; true while there is more to do.
  virtual bool DoOutput(bool Abort) = 0;
  // Finishes the sink, releases what Prepare made (which may be only part of it) and calls
  // Flush on the input.
  virtual void Done() = 0;

  bool Prepared() const { return FPrepared; }
  // Set by every Stop; cleared after the next Done, so that Done can see a stopped run.
  bool StopRequested() const { return FStopRequested; }

  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TAuThread;
  void AttachInput(TAuInput* Value);
  void SetExceptionText(std::string Value);
  void Shutdown();

  std::unique_ptr<TAuThread> FThread;
  // Read by the worker during a run, changed only while the output is idle.
  std::atomic<TAuInput*> FInput{nullptr};
  TOutputDoneEvent FOnDone;
  TOutputProgressEvent FOnProgress;
  TThreadExceptionEvent FOnThreadException;
  // Shared between the user-interface thread and the worker.
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FPrepared{false};
  std::atomic<bool> FStopRequested{false};
  // Worker only; kept across runs.
  int32_t FLastProgress = 0;
  mutable std::mutex FExceptionLock;
  std::string FExceptionText;
};

enum TAuEventKind : uint8_t { ekProgress = 0, ekDone = 1, ekThreadException = 2 };

struct TAuEventRecord {
  TAuEventRecord(TAuEventKind AKind, TAuOutput* ASender, std::function<void(TComponent*)> AHandler,
                 TAuThread* AWorker = nullptr, uint64_t AParkCount = 0)
      : Kind(AKind), Sender(ASender), Handler(std::move(AHandler)), Worker(AWorker),
        ParkCount(AParkCount) {}

  TAuEventKind Kind;
  TAuOutput* Sender;
  std::function<void(TComponent*)> Handler;
  // For ekDone: the worker, and how often it had parked when the event was queued.
  TAuThread* Worker = nullptr;
  uint64_t ParkCount = 0;
  // Set when the sender goes away while this record is being delivered.
  std::atomic<bool> Cancelled{false};
};

// The process's event thread: hands the outputs' events, one at a time and in order, to the
// user-interface thread.
class TEventHandler {
public:
  TEventHandler();
  // Tells the thread to terminate and waits for it, running handed-over deliveries meanwhile.
  ~TEventHandler();
  TEventHandler(const TEventHandler&) = delete;
  TEventHandler& operator=(const TEventHandler&) = delete;

  void QueueProgress(TAuOutput* Sender, const TOutputProgressEvent& Handler);
  void QueueDone(TAuOutput* Sender, TAuThread* Worker, const TOutputDoneEvent& Handler);
  void QueueThreadException(TAuOutput* Sender, const TThreadExceptionEvent& Handler);
  void DropEventsOf(TAuOutput* Sender);
  // A muted sender's events are discarded when queued. Mutes nest.
  void MuteSender(TAuOutput* Sender);
  void UnmuteSender(TAuOutput* Sender);
  // For a sender that goes away: mutes it, drops its queued events and cancels the delivery
  // of its event that may be under way.
  void Forget(TAuOutput* Sender);
  // True while an event of Sender has been taken from the queue and not finished.
  bool Delivering(TAuOutput* Sender) const;
  // True while a handler of Sender's event runs on this (the main) thread's stack.
  bool Handling(TAuOutput* Sender) const;

private:
  using TQueue = std::list<TAuEventRecord>;
  void QueueEvent(TQueue Item);
  void Execute();
  void Deliver(TAuEventRecord& Record);

  // Guards the queue, the muted senders, the record being delivered and the flag.
  mutable std::mutex FLock;
  std::condition_variable FWake;
  TQueue FQueue;
  std::vector<TAuOutput*> FMuted;
  TAuEventRecord* FCurrent = nullptr;
  bool FTerminated = false;
  // Main thread only: the records whose handlers are running, innermost last.
  std::vector<const TAuEventRecord*> FHandling;
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};

// The event thread, which exists while at least one output exists; user-interface thread only.
void AcquireEventHandler();
void ReleaseEventHandler();
TEventHandler* EventHandler();

// An output that writes to a stream it creates in Prepare and destroys in Done.
class TAuStreamedOutput : public TAuOutput {
public:
  using TAuOutput::TAuOutput;

protected:
  std::unique_ptr<platform::THandleStream> FStream;
};

enum TFileOutputMode : uint8_t { foRewrite = 0, foAppend = 1 };

// An output that writes one named file per run.
class TAuFileOut : public TAuStreamedOutput {
public:
  using TAuStreamedOutput::TAuStreamedOutput;

  const std::string& FileName() const { return FFileName; }
  // Keeps a wide copy, by which the writers open the file.
  void SetFileName(const std::string& Value);
  const std::u16string& WideFileName() const { return FWideFileName; }
  TFileOutputMode FileMode() const { return FFileMode; }
  // Writers that can append override this; the base always rewrites.
  virtual void SetFileMode(TFileOutputMode Value);

protected:
  std::string FFileName;
  std::u16string FWideFileName;
  TFileOutputMode FFileMode = foRewrite;
};

// A file output whose files carry a tag of one of the kinds ID3v1, ID3v2 or APEv2. It owns one
// tag object of each kind; a writer publishes the one it writes (with `using`). The objects are
// set on the user-interface thread between runs and read by the worker while it runs.
class TAuTaggedFileOut : public TAuFileOut {
public:
  using TAuFileOut::TAuFileOut;

protected:
  TId3v1Tags* Id3v1Tags() { return &FId3v1Tags; }
  // Copies the values in; the writer keeps its own object and never takes Value.
  void SetId3v1Tags(const TId3v1Tags& Value) { FId3v1Tags.CopyFrom(&Value); }
  TId3v2Tags* Id3v2Tags() { return &FId3v2Tags; }
  void SetId3v2Tags(const TId3v2Tags& Value) { FId3v2Tags.CopyFrom(&Value); }
  TAPEv2Tags* APEv2Tags() { return &FAPEv2Tags; }
  void SetAPEv2Tags(const TAPEv2Tags& Value) { FAPEv2Tags.CopyFrom(&Value); }

private:
  TId3v1Tags FId3v1Tags;
  TId3v2Tags FId3v2Tags;
  TAPEv2Tags FAPEv2Tags;
};

// The file stream the writers open on their file name.
class TAuFileStream : public platform::THandleStream {
public:
  static constexpr uint16_t fmCreate = 0xFFFF;
  static constexpr uint16_t fmOpenRead = 0x0000;
  static constexpr uint16_t fmOpenWrite = 0x0001;
  static constexpr uint16_t fmOpenReadWrite = 0x0002;
  static constexpr uint16_t fmShareCompat = 0x0000;
  static constexpr uint16_t fmShareExclusive = 0x0010;
  static constexpr uint16_t fmShareDenyWrite = 0x0020;
  static constexpr uint16_t fmShareDenyRead = 0x0030;
  static constexpr uint16_t fmShareDenyNone = 0x0040;

  // Mode fmCreate creates or truncates; any other mode opens an existing file with the access
  // of bits 0-1 and the sharing of bits 4-7. Rights is ignored. Raises EAuException with the
  // system's message when the file cannot be opened.
  TAuFileStream(const std::u16string& FileName, uint16_t Mode, uint32_t Rights = 0);

private:
  platform::TFileHandle FFile;
};
