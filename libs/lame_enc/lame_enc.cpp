#include "libs/lame_enc/lame_enc.h"

#include "libs/LibraryState.h"
#include "libs/lame_enc/LameStream.h"

#include <array>
#include <memory>
#include <mutex>

namespace {

using lame_enc::TLameStream;

constexpr uint32_t MaxStreams = 64;

// A stream with the lock that keeps its calls one after another.
struct TOpenStream {
  std::mutex Lock;
  std::unique_ptr<TLameStream> Stream; // guarded by Lock
};

struct TLibrary {
  std::mutex TableLock;
  // Guarded by TableLock. A handle is its slot plus MaxStreams times a serial number, so that
  // the handle of a closed stream does not reach the next stream in its slot.
  std::array<std::shared_ptr<TOpenStream>, MaxStreams> Slots;
  std::array<uint32_t, MaxStreams> Handles{};
  uint32_t Serial = 0;
  // The last stream closed, when it was flushed, for beWriteVBRHeader; guarded by TableLock.
  std::shared_ptr<TOpenStream> LastClosed;
};

using TState = libs::TLibraryState<TLibrary>;

TLibrary& Library() {
  return TState::Get();
}

std::shared_ptr<TOpenStream> FindStream(uint32_t Handle) {
  TLibrary& L = Library();
  const std::lock_guard Guard(L.TableLock);
  const uint32_t Slot = Handle % MaxStreams;
  if (!L.Slots[Slot] || L.Handles[Slot] != Handle)
    return nullptr;
  return L.Slots[Slot];
}

// Runs Body on the stream under its lock; a close waits for it.
template <class TBody> uint32_t WithStream(uint32_t Handle, TBody Body) {
  const std::shared_ptr<TOpenStream> Open = FindStream(Handle);
  if (!Open)
    return BE_ERR_INVALID_HANDLE;
  const std::lock_guard Guard(Open->Lock);
  return Body(*Open->Stream);
}

template <class TBody> uint32_t Guarded(TBody Body) noexcept {
  return TState::Guarded(uint32_t{BE_ERR_INTERNAL}, Body);
}

} // namespace

extern "C" {

uint32_t beInitStream(BE_CONFIG* config, uint32_t* samplesPerChunk, uint32_t* outputBufferSize,
                      uint32_t* stream) {
  return Guarded([&]() -> uint32_t {
    if (!config || !samplesPerChunk || !outputBufferSize || !stream)
      return BE_ERR_NULL_POINTER;
    uint32_t Result = BE_ERR_SUCCESSFUL;
    auto Open = std::make_shared<TOpenStream>();
    Open->Stream = TLameStream::Open(*config, &Result);
    if (!Open->Stream)
      return Result;

    TLibrary& L = Library();
    const std::lock_guard Guard(L.TableLock);
    for (uint32_t Slot = 0; Slot < MaxStreams; ++Slot) {
      if (L.Slots[Slot])
        continue;
      L.Serial = (L.Serial + 1) % (UINT32_MAX / MaxStreams);
      L.Handles[Slot] = Slot + MaxStreams * L.Serial;
      L.Slots[Slot] = Open;
      *samplesPerChunk = Open->Stream->SamplesPerChunk();
      *outputBufferSize = Open->Stream->OutputBufferSize();
      *stream = L.Handles[Slot];
      return BE_ERR_SUCCESSFUL;
    }
    return BE_ERR_NO_MORE_HANDLES;
  });
}

uint32_t beEncodeChunk(uint32_t stream, uint32_t numSamples, const int16_t* samples,
                       uint8_t* output, uint32_t* outputBytes) {
  return Guarded([&]() -> uint32_t {
    if (!outputBytes || !output || (numSamples > 0 && !samples))
      return BE_ERR_NULL_POINTER;
    *outputBytes = 0;
    return WithStream(
        stream, [&](TLameStream& S) { return S.Encode(numSamples, samples, output, outputBytes); });
  });
}

uint32_t beDeinitStream(uint32_t stream, uint8_t* output, uint32_t* outputBytes) {
  return Guarded([&]() -> uint32_t {
    if (!outputBytes || !output)
      return BE_ERR_NULL_POINTER;
    *outputBytes = 0;
    return WithStream(stream, [&](TLameStream& S) { return S.Flush(false, output, outputBytes); });
  });
}

uint32_t beFlushNoGap(uint32_t stream, uint8_t* output, uint32_t* outputBytes) {
  return Guarded([&]() -> uint32_t {
    if (!outputBytes || !output)
      return BE_ERR_NULL_POINTER;
    *outputBytes = 0;
    return WithStream(stream, [&](TLameStream& S) { return S.Flush(true, output, outputBytes); });
  });
}

uint32_t beCloseStream(uint32_t stream) {
  return Guarded([&]() -> uint32_t {
    TLibrary& L = Library();
    std::shared_ptr<TOpenStream> Open;
    {
      const std::lock_guard Guard(L.TableLock);
      const uint32_t Slot = stream % MaxStreams;
      if (!L.Slots[Slot] || L.Handles[Slot] != stream)
        return BE_ERR_INVALID_HANDLE;
      Open = std::move(L.Slots[Slot]);
    }
    bool Finished = false;
    {
      // Waits for a call still running on the stream.
      const std::lock_guard Guard(Open->Lock);
      Finished = Open->Stream->Finished();
    }
    // A stream closed before its flush has no header to write, and must not leave the one of
    // an older stream for the caller's file.
    std::shared_ptr<TOpenStream> Kept = Finished ? std::move(Open) : nullptr;
    {
      const std::lock_guard Guard(L.TableLock);
      std::swap(Kept, L.LastClosed);
    }
    // The encoders released here go outside every lock.
    return BE_ERR_SUCCESSFUL;
  });
}

uint32_t beWriteVBRHeader(const char* fileName) {
  return Guarded([&]() -> uint32_t {
    if (!fileName)
      return BE_ERR_NULL_POINTER;
    std::shared_ptr<TOpenStream> Closed;
    {
      TLibrary& L = Library();
      const std::lock_guard Guard(L.TableLock);
      Closed = L.LastClosed;
    }
    if (!Closed)
      return BE_ERR_NO_VBR_HEADER;
    const std::lock_guard Guard(Closed->Lock);
    return Closed->Stream->WriteVbrHeader(fileName);
  });
}

uint32_t beWriteInfoTag(uint32_t stream, const char* fileName) {
  return Guarded([&]() -> uint32_t {
    if (!fileName)
      return BE_ERR_NULL_POINTER;
    return WithStream(stream, [&](TLameStream& S) { return S.WriteVbrHeader(fileName); });
  });
}

} // extern "C"
