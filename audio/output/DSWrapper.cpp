#include "audio/output/DSWrapper.h"

#include "runtime/Text.h"

#include <cstring>

using namespace platform;

namespace {

// The result of a stream operation on a state that holds no stream buffer.
constexpr HRESULT NoStreamBuffer = -1;

constexpr uint32_t StreamBufferFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 |
                                       DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;

// Bytes from From forward to To in a ring of Size bytes.
uint32_t Ahead(uint32_t From, uint32_t To, uint32_t Size) {
  return To >= From ? To - From : To + Size - From;
}

// Passes of the buffer that the clock says went by beyond the Moved bytes the cursors show.
uint64_t UnseenPasses(TStreamBufferState& State, uint32_t Moved) {
  if (State.TicksPerBuffer <= 0)
    return 0;
  const int64_t Now = SoundSystem().Counter();
  const int64_t Elapsed = Now - State.LastCounter;
  State.LastCounter = Now;
  // 128 bits: a long delay times a large buffer does not fit in 64.
  const __int128 Expected =
      static_cast<__int128>(Elapsed) * State.BufferSize / State.TicksPerBuffer;
  if (Expected <= Moved)
    return 0;
  return static_cast<uint64_t>((Expected - Moved) / State.BufferSize);
}

// Locks Count bytes at the write position, lets Fill write both regions and moves the write
// position past them.
template <typename TFill>
HRESULT WriteRegions(TStreamBufferState& State, uint32_t Count, TFill Fill) {
  void *Ptr1 = nullptr, *Ptr2 = nullptr;
  uint32_t Bytes1 = 0, Bytes2 = 0;
  if (const HRESULT Result =
          State.StreamBuffer->Lock(State.WritePosition, Count, &Ptr1, &Bytes1, &Ptr2, &Bytes2, 0))
    return Result;
  Fill(static_cast<uint8_t*>(Ptr1), Bytes1, 0u);
  if (Ptr2)
    Fill(static_cast<uint8_t*>(Ptr2), Bytes2, Bytes1);
  State.WritePosition = (State.WritePosition + Bytes1 + Bytes2) % State.BufferSize;
  return State.StreamBuffer->Unlock(Ptr1, Bytes1, Ptr2, Bytes2);
}

} // namespace

TSoundSystem& SoundSystem() {
  static TSoundSystem System;
  return System;
}

HRESULT EnumerateSoundDevices(TSoundDevices& Devices) {
  Devices.Count = 0;
  return SoundSystem().Enumerate([&](const TGuid* Guid, const std::string& Description) {
    if (Devices.Count >= MaxSoundDevices)
      return false;
    TSoundDevice& Entry = Devices.Devices[Devices.Count++];
    Entry.Guid = Guid ? *Guid : TGuid{};
    Entry.Description = Utf8Prefix(Description, MaxDescriptionLength);
    return true;
  });
}

HRESULT OpenSoundDevice(TStreamBufferState& State, const TGuid& Guid) {
  return SoundSystem().Create(&Guid, State.SoundDevice);
}

HRESULT CreateStreamBuffer(TStreamBufferState& State, const TWaveFormatEx& Format, uint32_t Size) {
  State.BufferSize = Size;
  State.Playing = false;
  State.UnderrunCount = 0;
  State.BlockAlign = Format.BlockAlign;
  if (!State.SoundDevice)
    return NoStreamBuffer;
  // The sound layer follows no window's focus.
  if (const HRESULT Result = State.SoundDevice->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE))
    return Result;

  TDSBufferDesc Primary;
  Primary.Flags = DSBCAPS_PRIMARYBUFFER;
  if (const HRESULT Result = State.SoundDevice->CreateSoundBuffer(Primary, State.PrimaryBuffer))
    return Result;
  if (const HRESULT Result = State.PrimaryBuffer->SetFormat(&Format))
    return Result;

  TDSBufferDesc Stream;
  Stream.Flags = StreamBufferFlags;
  Stream.BufferBytes = Size;
  Stream.Format = &Format;
  if (const HRESULT Result = State.SoundDevice->CreateSoundBuffer(Stream, State.StreamBuffer))
    return Result;

  // The format's own silence: zero bytes are a full negative level in 8-bit samples.
  const uint8_t Silence = Format.BitsPerSample == 8 ? 0x80 : 0;
  void* Whole = nullptr;
  uint32_t WholeBytes = 0;
  if (const HRESULT Result =
          State.StreamBuffer->Lock(0, Size, &Whole, &WholeBytes, nullptr, nullptr, 0))
    return Result;
  std::memset(Whole, Silence, WholeBytes);
  if (const HRESULT Result = State.StreamBuffer->Unlock(Whole, WholeBytes, nullptr, 0))
    return Result;

  const int64_t Frequency = QueryPerformanceFrequency();
  if (Frequency > 0)
    State.TicksPerBuffer = Frequency * (Size / State.BlockAlign) / Format.SamplesPerSec;

  uint32_t Play = 0;
  if (const HRESULT Result = State.StreamBuffer->GetCurrentPosition(&Play, nullptr))
    return Result;
  // A buffer that does not play takes nothing from between its cursors, so the first bytes go
  // where the play will start.
  State.WritePosition = Play;
  return DS_OK;
}

HRESULT StartStream(TStreamBufferState& State) {
  if (!State.StreamBuffer)
    return NoStreamBuffer;
  State.LastCounter = SoundSystem().Counter();
  State.LastPlayCursor = 0;
  HRESULT Result = State.StreamBuffer->SetCurrentPosition(0);
  if (Result == DS_OK)
    Result = State.StreamBuffer->Play(DSBPLAY_LOOPING);
  State.Playing = true;
  return Result;
}

HRESULT StopStream(TStreamBufferState& State) {
  State.Playing = false;
  return State.StreamBuffer ? State.StreamBuffer->Stop() : DS_OK;
}

HRESULT ResumeStream(TStreamBufferState& State) {
  if (!State.StreamBuffer)
    return NoStreamBuffer;
  const HRESULT Result = State.StreamBuffer->Play(DSBPLAY_LOOPING);
  State.Playing = true;
  return Result;
}

HRESULT QueryWritableBytes(TStreamBufferState& State, uint32_t& Free) {
  Free = 0;
  if (!State.StreamBuffer)
    return NoStreamBuffer;
  uint32_t Play = 0, Write = 0;
  if (const HRESULT Result = State.StreamBuffer->GetCurrentPosition(&Play, &Write))
    return Result;
  const uint32_t Size = State.BufferSize;
  // The bytes from the play cursor to the write cursor are the device's already.
  const uint32_t Gap = Ahead(Play, Write, Size);
  uint64_t Writable = Ahead(State.WritePosition, Play, Size);
  if (State.Playing) {
    // What was free at the last look grew by all the cursor moved since, seen or unseen; the
    // cursors alone cannot tell a cursor that ran past the write position from one short of it.
    const uint32_t Moved = Ahead(State.LastPlayCursor, Play, Size);
    Writable = Ahead(State.WritePosition, State.LastPlayCursor, Size) + uint64_t(Moved) +
               UnseenPasses(State, Moved) * Size;
    State.LastPlayCursor = Play;
  }
  if (Writable > Size - Gap) {
    if (State.Playing)
      ++State.UnderrunCount;
    State.WritePosition = Write;
    Writable = Size - Gap;
  }
  Free = static_cast<uint32_t>(Writable);
  return DS_OK;
}

HRESULT WriteStream(TStreamBufferState& State, const uint8_t* Bytes, uint32_t Count) {
  if (!State.StreamBuffer)
    return NoStreamBuffer;
  if (Count == 0)
    return DS_OK;
  return WriteRegions(State, Count, [Bytes](uint8_t* To, uint32_t Length, uint32_t From) {
    std::memcpy(To, Bytes + From, Length);
  });
}

HRESULT FillSilence(TStreamBufferState& State, uint8_t Silence) {
  uint32_t Free = 0;
  if (const HRESULT Result = QueryWritableBytes(State, Free))
    return Result;
  if (Free == 0)
    return DS_OK;
  return WriteRegions(State, Free, [Silence](uint8_t* To, uint32_t Length, uint32_t) {
    std::memset(To, Silence, Length);
  });
}

void CloseSoundDevice(TStreamBufferState& State) {
  if (State.StreamBuffer)
    State.StreamBuffer->Stop();
  State.StreamBuffer.reset();
  State.PrimaryBuffer.reset();
  State.SoundDevice.reset();
  State.Playing = false;
}
