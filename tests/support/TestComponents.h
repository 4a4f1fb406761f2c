#pragma once

#include "audio/core/ACS_Classes.h"
#include "tests/support/Pump.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A source of bytes held in memory, 16-bit stereo at 44100 Hz, handing out at most ChunkSize
// bytes per GetData.
class TMemoryInput : public TAuInput {
public:
  TMemoryInput(TComponent* AOwner, std::vector<uint8_t> Data, uint32_t ChunkSize = 4096);

  int32_t GetBPS() override { return 16; }
  int32_t GetCh() override { return 2; }
  int32_t GetSR() override { return 44100; }

  // The size InitInternal reports; the data's length unless set (-1: cannot tell).
  void SetReportedSize(int64_t Value) { FReportedSize = Value; }
  // InitInternal raises this message when it is not empty.
  void SetInitError(std::string Value) { FInitError = std::move(Value); }
  // Called on the reading thread before every GetData is served.
  void SetOnRead(std::function<void()> Value) { FOnRead = std::move(Value); }
  // Puts the stream position and size as a source would.
  void SetStreamState(int64_t Position, int64_t Size);

  std::atomic<int> InitCount{0};
  std::atomic<int> FlushCount{0};
  std::atomic<int> ReadCount{0};

protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(const uint8_t*& Buffer, uint32_t& Bytes) override;

private:
  std::vector<uint8_t> FData;
  uint32_t FChunkSize;
  size_t FOffset = 0;
  int64_t FReportedSize = -2;
  std::string FInitError;
  std::function<void()> FOnRead;
};

// TMemoryInput with a sample format of the test's choosing.
class TFormatInput : public TMemoryInput {
public:
  TFormatInput(TComponent* AOwner, std::vector<uint8_t> Data, int32_t BPS, int32_t Channels,
               int32_t Rate = 44100, uint32_t ChunkSize = 4096)
      : TMemoryInput(AOwner, std::move(Data), ChunkSize), FBPS(BPS), FChannels(Channels),
        FRate(Rate) {}
  int32_t GetBPS() override { return FBPS; }
  int32_t GetCh() override { return FChannels; }
  int32_t GetSR() override { return FRate; }

private:
  int32_t FBPS;
  int32_t FChannels;
  int32_t FRate;
};

// A sink that keeps what it pulls, counts its hooks and can be made to fail or wait in them.
class TTestSink : public TAuOutput {
public:
  explicit TTestSink(TComponent* AOwner, uint32_t ReadSize = 4096);

  // Raised by Prepare before it opens the input, when not empty.
  std::string PrepareError;
  // Raised by DoOutput after this many passes, when not empty.
  std::string OutputError;
  int OutputErrorAfter = 0;
  bool DoneRaises = false;
  // Called on the worker at the start of every DoOutput (with the pass number from 1) and of
  // every Done.
  std::function<void(int Pass)> OnPass;
  std::function<void()> OnDoneHook;

  std::atomic<int> PrepareCount{0};
  std::atomic<int> DoneCount{0};
  std::atomic<int> StoppedDoneCount{0};
  std::atomic<int> PassCount{0};

  // Everything pulled in the last run.
  std::vector<uint8_t> Received() const;
  bool StopRequestedNow() const { return StopRequested(); }

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  uint32_t FReadSize;
  std::vector<uint8_t> FBuffer;
  mutable std::mutex FLock;
  std::vector<uint8_t> FReceived;
};

// A hook for a worker that holds it until Sink is stopped; Reached turns true once it holds.
std::function<void()> HoldUntilStopped(const TTestSink* Sink, std::atomic<bool>& Reached);

// Bytes 0, 1, 2, ... wrapping at 251, so that a shifted or repeated buffer shows.
std::vector<uint8_t> PatternBytes(size_t Count, uint8_t Seed = 0);
