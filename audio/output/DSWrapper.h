#pragma once

#include "platform/Sound.h"
#include "platform/System.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The stream operations of the sound output over the sound layer: one looping stream buffer,
// refilled behind its play cursor, with underrun detection from the cursors and the clock.
// Every operation returns 0 or the sound layer's error code.

inline constexpr uint32_t MaxSoundDevices = 16;
inline constexpr size_t MaxDescriptionLength = 127;

struct TSoundDevice {
  // All zero for the default device.
  platform::TGuid Guid;
  std::string Description;
};

struct TSoundDevices {
  uint32_t Count = 0;
  TSoundDevice Devices[MaxSoundDevices];
};

// The state of one stream; the worker's only.
struct TStreamBufferState {
  std::unique_ptr<platform::IDirectSound> SoundDevice;
  std::unique_ptr<platform::IDirectSoundBuffer> PrimaryBuffer;
  std::unique_ptr<platform::IDirectSoundBuffer> StreamBuffer;
  // Offset at which the next bytes are written.
  uint32_t WritePosition = 0;
  uint32_t BufferSize = 0;
  uint32_t BlockAlign = 0;
  // Counter ticks that one pass of the buffer lasts; 0 without a counter.
  int64_t TicksPerBuffer = 0;
  int64_t LastCounter = 0;
  uint32_t LastPlayCursor = 0;
  uint32_t UnderrunCount = 0;
  bool Playing = false;
};

// Where the operations reach the sound layer and the clock. Tests put stand-ins here while no
// stream is open.
struct TSoundSystem {
  std::function<platform::HRESULT(const platform::TDSEnumCallback&)> Enumerate =
      platform::DirectSoundEnumerate;
  std::function<platform::HRESULT(const platform::TGuid*, std::unique_ptr<platform::IDirectSound>&)>
      Create = platform::DirectSoundCreate;
  std::function<int64_t()> Counter = platform::QueryPerformanceCounter;
};
TSoundSystem& SoundSystem();

// The default device first, then the others; at most MaxSoundDevices, each description cut to
// MaxDescriptionLength bytes.
platform::HRESULT EnumerateSoundDevices(TSoundDevices& Devices);
platform::HRESULT OpenSoundDevice(TStreamBufferState& State, const platform::TGuid& Guid);
// Sets up the primary buffer with Format and a silent stream buffer of Size bytes.
platform::HRESULT CreateStreamBuffer(TStreamBufferState& State,
                                     const platform::TWaveFormatEx& Format, uint32_t Size);
// Plays the buffer round and round from offset 0.
platform::HRESULT StartStream(TStreamBufferState& State);
platform::HRESULT StopStream(TStreamBufferState& State);
platform::HRESULT ResumeStream(TStreamBufferState& State);
// The bytes that may be written now without overtaking the play cursor. A play cursor that has
// passed the write position counts an underrun and moves the write position to the write
// cursor. Free is 0 when the cursors cannot be read.
platform::HRESULT QueryWritableBytes(TStreamBufferState& State, uint32_t& Free);
platform::HRESULT WriteStream(TStreamBufferState& State, const uint8_t* Bytes, uint32_t Count);
// Fills all the writable bytes with Silence.
platform::HRESULT FillSilence(TStreamBufferState& State, uint8_t Silence);
void CloseSoundDevice(TStreamBufferState& State);
