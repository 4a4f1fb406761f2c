#include "platform/Sound.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace platform {

namespace {

const char DefaultDescription[] = "Default audio device";

thread_local std::string LastError;

HRESULT DeviceFailed(const char* Text) {
  LastError = Text && *Text ? Text : "SDL audio failed";
  return DSERR_DEVICEFAILED;
}

// Guards the count of users of SDL's audio.
std::mutex AudioLock;
int AudioUsers = 0;

// SDL keeps a little storage for each thread that calls it and frees it by itself only for
// the threads it started; each of ours gives it back when it ends.
struct TSdlThreadStorage {
  ~TSdlThreadStorage() { SDL_TLSCleanup(); }
};

// SDL's audio is started for the first object that needs it and stopped after the last one
// goes, so that a later start reads SDL_AUDIODRIVER again.
class TAudioUse {
public:
  TAudioUse() {
    thread_local TSdlThreadStorage Storage;
    (void)Storage;
    std::lock_guard Guard(AudioLock);
    if (AudioUsers == 0) {
      // The event part that SDL starts with its audio would take SIGINT and SIGTERM from us.
      SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        DeviceFailed(SDL_GetError());
        return;
      }
    }
    ++AudioUsers;
    FUp = true;
  }
  ~TAudioUse() {
    if (!FUp)
      return;
    std::lock_guard Guard(AudioLock);
    if (--AudioUsers == 0)
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  TAudioUse(const TAudioUse&) = delete;
  TAudioUse& operator=(const TAudioUse&) = delete;

  bool Up() const { return FUp; }

private:
  bool FUp = false;
};

// An open SDL audio device, closed when the owner goes.
class TSdlDevice {
public:
  TSdlDevice() = default;
  ~TSdlDevice() {
    if (FId != 0)
      SDL_CloseAudioDevice(FId);
  }
  TSdlDevice(const TSdlDevice&) = delete;
  TSdlDevice& operator=(const TSdlDevice&) = delete;

  void Own(SDL_AudioDeviceID Id) { FId = Id; }
  SDL_AudioDeviceID Id() const { return FId; }

private:
  SDL_AudioDeviceID FId = 0;
};

// Holds off the device's callback.
class TDeviceLock {
public:
  explicit TDeviceLock(const TSdlDevice& Device) : FId(Device.Id()) { SDL_LockAudioDevice(FId); }
  ~TDeviceLock() { SDL_UnlockAudioDevice(FId); }
  TDeviceLock(const TDeviceLock&) = delete;
  TDeviceLock& operator=(const TDeviceLock&) = delete;

private:
  SDL_AudioDeviceID FId;
};

// FNV-1a over the name in 128 bits, marked as a name-based id of our own (RFC 9562 version 8),
// which also keeps it from being the default device's all-zero id.
TGuid GuidOfName(const std::string& Name) {
  using U128 = unsigned __int128;
  U128 Hash = U128(0x6c62272e07bb0142ULL) << 64 | 0x62b821756295c58dULL;
  const U128 Prime = U128(1) << 88 | 0x13B;
  for (unsigned char C : Name) {
    Hash ^= C;
    Hash *= Prime;
  }
  TGuid Id;
  Id.D1 = static_cast<uint32_t>(Hash >> 96);
  Id.D2 = static_cast<uint16_t>(Hash >> 80);
  Id.D3 = static_cast<uint16_t>(((Hash >> 64) & 0x0FFF) | 0x8000);
  for (int I = 0; I < 8; ++I)
    Id.D4[I] = static_cast<uint8_t>(Hash >> (56 - 8 * I));
  Id.D4[0] = static_cast<uint8_t>((Id.D4[0] & 0x3F) | 0x80);
  return Id;
}

// SDL's output devices; SDL's audio must be up.
std::vector<std::string> OutputDeviceNames() {
  std::vector<std::string> Names;
  const int Count = SDL_GetNumAudioDevices(0);
  for (int I = 0; I < Count; ++I)
    if (const char* Name = SDL_GetAudioDeviceName(I, 0))
      Names.emplace_back(Name);
  return Names;
}

// A checked format, and how it reaches SDL.
struct TLayout {
  uint32_t Rate = 0;
  uint16_t Channels = 0;
  uint16_t Bits = 0;
  uint32_t BlockAlign = 0;
  SDL_AudioFormat Format = 0;
  // Bytes of a frame in SDL's format: SDL has no 24-bit samples, so those go as 32-bit.
  uint32_t OutFrame = 0;
  uint8_t Silence = 0;
};

// The bytes that the extensible record adds to TWaveFormatEx, as its writers count them.
constexpr uint16_t ExtensibleExtensionSize = 22;

HRESULT CheckFormat(const TWaveFormatEx* Format, TLayout& Layout) {
  if (!Format)
    return DSERR_INVALIDPARAM;
  const TWaveFormatEx& F = *Format;
  if (F.FormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (F.ExtensionSize < ExtensibleExtensionSize)
      return DSERR_BADFORMAT;
    const auto& X = reinterpret_cast<const TWaveFormatExtensible&>(F);
    if (!(X.SubFormat == KSDATAFORMAT_SUBTYPE_PCM) || X.ValidBitsPerSample > F.BitsPerSample)
      return DSERR_BADFORMAT;
  } else if (F.FormatTag != WAVE_FORMAT_PCM) {
    return DSERR_BADFORMAT;
  }
  const uint32_t Bits = F.BitsPerSample;
  if ((Bits != 8 && Bits != 16 && Bits != 24 && Bits != 32) || F.Channels < 1 || F.Channels > 8)
    return DSERR_BADFORMAT;
  const uint32_t BlockAlign = F.Channels * Bits / 8;
  if (F.BlockAlign != BlockAlign || F.SamplesPerSec == 0 || F.SamplesPerSec > INT32_MAX ||
      F.AvgBytesPerSec != uint64_t(BlockAlign) * F.SamplesPerSec)
    return DSERR_BADFORMAT;
  Layout.Rate = F.SamplesPerSec;
  Layout.Channels = F.Channels;
  Layout.Bits = static_cast<uint16_t>(Bits);
  Layout.BlockAlign = BlockAlign;
  Layout.Format = Bits == 8 ? AUDIO_U8 : Bits == 16 ? AUDIO_S16LSB : AUDIO_S32LSB;
  Layout.OutFrame = F.Channels * (Bits == 24 ? 4 : Bits / 8);
  Layout.Silence = Bits == 8 ? 0x80 : 0;
  return DS_OK;
}

// Frames SDL asks for at a time: the largest power of two within 20 ms (some drivers want
// powers of two), and at most half the buffer, so that the write cursor stays ahead.
Uint16 PeriodFrames(uint32_t Rate, uint32_t Frames) {
  uint32_t Period = 1;
  while (Period < 32768 && Period * 2 <= Rate / 50 && Period * 2 <= Frames / 2)
    Period *= 2;
  return static_cast<Uint16>(Period);
}

class TPrimaryBuffer final : public IDirectSoundBuffer {
public:
  HRESULT SetFormat(const TWaveFormatEx* Format) override {
    TLayout Layout;
    return CheckFormat(Format, Layout);
  }
  HRESULT GetCurrentPosition(uint32_t*, uint32_t*) override { return DSERR_INVALIDCALL; }
  HRESULT Lock(uint32_t, uint32_t, void**, uint32_t*, void**, uint32_t*, uint32_t) override {
    return DSERR_INVALIDCALL;
  }
  HRESULT Unlock(void*, uint32_t, void*, uint32_t) override { return DSERR_INVALIDCALL; }
  HRESULT SetCurrentPosition(uint32_t) override { return DSERR_INVALIDCALL; }
  HRESULT Play(uint32_t) override { return DSERR_INVALIDCALL; }
  HRESULT Stop() override { return DSERR_INVALIDCALL; }
  HRESULT GetStatus(uint32_t* Status) override {
    if (!Status)
      return DSERR_INVALIDPARAM;
    *Status = 0;
    return DS_OK;
  }
};

// A looping buffer on an SDL device of its own. Lock hands out the caller's side; Unlock
// copies what was written into the ring that the device's callback plays, under the device's
// lock, so the callback never reads bytes that are being written.
class TStreamBuffer final : public IDirectSoundBuffer {
public:
  TStreamBuffer(const TLayout& Layout, uint32_t Size)
      : FLayout(Layout), FSize(Size), FCallerSide(Size, Layout.Silence),
        FRing(Size, Layout.Silence) {}

  // Opens the device (null for SDL's default) and starts its callback, silent until Play.
  HRESULT Open(const char* DeviceName) {
    if (!FAudio.Up())
      return DSERR_DEVICEFAILED;
    SDL_AudioSpec Wanted{}, Got{};
    Wanted.freq = static_cast<int>(FLayout.Rate);
    Wanted.format = FLayout.Format;
    Wanted.channels = static_cast<Uint8>(FLayout.Channels);
    Wanted.samples = PeriodFrames(FLayout.Rate, FSize / FLayout.BlockAlign);
    Wanted.callback = &TStreamBuffer::Callback;
    Wanted.userdata = this;
    // No changes allowed: SDL converts to whatever the device takes.
    const SDL_AudioDeviceID Id = SDL_OpenAudioDevice(DeviceName, 0, &Wanted, &Got, 0);
    if (Id == 0)
      return DeviceFailed(SDL_GetError());
    FPeriod = Got.samples * FLayout.BlockAlign;
    FDevice.Own(Id);
    SDL_PauseAudioDevice(Id, 0);
    return DS_OK;
  }

  HRESULT SetFormat(const TWaveFormatEx*) override { return DSERR_INVALIDCALL; }

  HRESULT GetCurrentPosition(uint32_t* Play, uint32_t* Write) override {
    const uint32_t Position = FPlay.load();
    if (Play)
      *Play = Position;
    if (Write)
      *Write = (Position + FPeriod) % FSize;
    return DS_OK;
  }

  HRESULT Lock(uint32_t Offset, uint32_t Bytes, void** Ptr1, uint32_t* Bytes1, void** Ptr2,
               uint32_t* Bytes2, uint32_t Flags) override {
    if (!Ptr1 || !Bytes1 || (Ptr2 && !Bytes2))
      return DSERR_INVALIDPARAM;
    if (Lost())
      return DSERR_BUFFERLOST;
    if (Flags & DSBLOCK_FROMWRITECURSOR)
      GetCurrentPosition(nullptr, &Offset);
    if (Flags & DSBLOCK_ENTIREBUFFER)
      Bytes = FSize;
    if (Offset >= FSize || Bytes == 0 || Bytes > FSize)
      return DSERR_INVALIDPARAM;
    const uint32_t First = std::min(Bytes, FSize - Offset);
    *Ptr1 = FCallerSide.data() + Offset;
    *Bytes1 = First;
    if (Ptr2) {
      *Ptr2 = First < Bytes ? FCallerSide.data() : nullptr;
      *Bytes2 = Bytes - First;
    } else if (Bytes2) {
      *Bytes2 = 0;
    }
    return DS_OK;
  }

  HRESULT Unlock(void* Ptr1, uint32_t Bytes1, void* Ptr2, uint32_t Bytes2) override {
    const std::optional<uint32_t> At1 = OffsetOf(Ptr1, Bytes1);
    const std::optional<uint32_t> At2 = OffsetOf(Ptr2, Bytes2);
    if (!At1 || (Ptr2 && !At2))
      return DSERR_INVALIDPARAM;
    TDeviceLock Guard(FDevice);
    std::memcpy(FRing.data() + *At1, FCallerSide.data() + *At1, Bytes1);
    if (Ptr2)
      std::memcpy(FRing.data() + *At2, FCallerSide.data() + *At2, Bytes2);
    return DS_OK;
  }

  HRESULT SetCurrentPosition(uint32_t Position) override {
    if (Position >= FSize)
      return DSERR_INVALIDPARAM;
    TDeviceLock Guard(FDevice);
    FPlay = Position - Position % FLayout.BlockAlign;
    return DS_OK;
  }

  HRESULT Play(uint32_t Flags) override {
    if (Lost())
      return DSERR_BUFFERLOST;
    TDeviceLock Guard(FDevice);
    FLooping = (Flags & DSBPLAY_LOOPING) != 0;
    FPlaying = true;
    return DS_OK;
  }

  HRESULT Stop() override {
    TDeviceLock Guard(FDevice);
    FPlaying = false;
    return DS_OK;
  }

  HRESULT GetStatus(uint32_t* Status) override {
    if (!Status)
      return DSERR_INVALIDPARAM;
    *Status = 0;
    if (FPlaying)
      *Status |= FLooping ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : DSBSTATUS_PLAYING;
    if (Lost())
      *Status |= DSBSTATUS_BUFFERLOST;
    return DS_OK;
  }

private:
  // A device that failed (a file that cannot be written, a card unplugged) is stopped by SDL;
  // ours are never paused.
  bool Lost() const { return SDL_GetAudioDeviceStatus(FDevice.Id()) == SDL_AUDIO_STOPPED; }

  // Where a region handed out by Lock lies in the buffer; none when it lies outside.
  std::optional<uint32_t> OffsetOf(const void* Ptr, uint32_t Bytes) const {
    const uintptr_t At =
        reinterpret_cast<uintptr_t>(Ptr) - reinterpret_cast<uintptr_t>(FCallerSide.data());
    if (!Ptr || At > FSize || Bytes > FSize - At)
      return std::nullopt;
    return static_cast<uint32_t>(At);
  }

  // SDL's thread, with the device's lock held.
  static void SDLCALL Callback(void* Self, Uint8* Out, int Length) {
    static_cast<TStreamBuffer*>(Self)->Render(Out, static_cast<uint32_t>(Length));
  }

  void Render(uint8_t* Out, uint32_t Length) {
    uint32_t Done = 0;
    uint32_t Position = FPlay;
    while (FPlaying && Length - Done >= FLayout.OutFrame) {
      const uint32_t Frames =
          std::min((Length - Done) / FLayout.OutFrame, (FSize - Position) / FLayout.BlockAlign);
      Convert(FRing.data() + Position, Out + Done, Frames);
      Done += Frames * FLayout.OutFrame;
      Position += Frames * FLayout.BlockAlign;
      if (Position == FSize) {
        Position = 0;
        if (!FLooping)
          FPlaying = false;
      }
    }
    FPlay = Position;
    std::memset(Out + Done, FLayout.Silence, Length - Done);
  }

  // 24-bit samples become the top three bytes of 32-bit ones; the rest is SDL's already.
  void Convert(const uint8_t* From, uint8_t* To, uint32_t Frames) const {
    if (FLayout.Bits != 24) {
      std::memcpy(To, From, size_t(Frames) * FLayout.BlockAlign);
      return;
    }
    for (uint32_t I = 0; I < Frames * FLayout.Channels; ++I, From += 3, To += 4) {
      To[0] = 0;
      To[1] = From[0];
      To[2] = From[1];
      To[3] = From[2];
    }
  }

  TAudioUse FAudio;
  const TLayout FLayout;
  const uint32_t FSize;
  // Write cursor minus play cursor; set before the callback starts.
  uint32_t FPeriod = 0;
  // The caller's thread only.
  std::vector<uint8_t> FCallerSide;
  // Written under the device's lock, read by the callback.
  std::vector<uint8_t> FRing;
  // Changed under the device's lock, read anywhere.
  std::atomic<uint32_t> FPlay{0};
  std::atomic<bool> FPlaying{false};
  std::atomic<bool> FLooping{false};
  // Last, so that it is closed first and no callback outlives the ring.
  TSdlDevice FDevice;
};

class TDirectSound final : public IDirectSound {
public:
  // A device name, or none for SDL's default device.
  explicit TDirectSound(std::optional<std::string> Name) : FName(std::move(Name)) {}

  bool Up() const { return FAudio.Up(); }

  HRESULT SetCooperativeLevel(void*, uint32_t Level) override {
    return Level >= DSSCL_NORMAL && Level <= DSSCL_WRITEPRIMARY ? DS_OK : DSERR_INVALIDPARAM;
  }

  HRESULT CreateSoundBuffer(const TDSBufferDesc& Desc,
                            std::unique_ptr<IDirectSoundBuffer>& Buffer) override {
    Buffer.reset();
    try {
      return Create(Desc, Buffer);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
  }

private:
  HRESULT Create(const TDSBufferDesc& Desc, std::unique_ptr<IDirectSoundBuffer>& Buffer) {
    if (Desc.Flags & DSBCAPS_PRIMARYBUFFER) {
      if (Desc.BufferBytes != 0 || Desc.Format)
        return DSERR_INVALIDPARAM;
      Buffer = std::make_unique<TPrimaryBuffer>();
      return DS_OK;
    }
    if (!Desc.Format)
      return DSERR_INVALIDPARAM;
    TLayout Layout;
    if (const HRESULT Result = CheckFormat(Desc.Format, Layout))
      return Result;
    const uint32_t Size = Desc.BufferBytes;
    if (Size < DSBSIZE_MIN || Size > DSBSIZE_MAX || Size % Layout.BlockAlign != 0 ||
        Size / Layout.BlockAlign < 2)
      return DSERR_INVALIDPARAM;
    auto Stream = std::make_unique<TStreamBuffer>(Layout, Size);
    if (const HRESULT Result = Stream->Open(FName ? FName->c_str() : nullptr))
      return Result;
    Buffer = std::move(Stream);
    return DS_OK;
  }

  // Keeps SDL's names valid for the buffers opened on them.
  TAudioUse FAudio;
  const std::optional<std::string> FName;
};

} // namespace

std::string LastSoundError() {
  return LastError;
}

HRESULT DirectSoundEnumerate(const TDSEnumCallback& Callback) {
  if (!Callback)
    return DSERR_INVALIDPARAM;
  std::vector<std::string> Names;
  try {
    TAudioUse Audio;
    if (!Audio.Up())
      return DSERR_DEVICEFAILED;
    Names = OutputDeviceNames();
  } catch (const std::bad_alloc&) {
    return DSERR_OUTOFMEMORY;
  }
  if (!Callback(nullptr, DefaultDescription))
    return DS_OK;
  for (const std::string& Name : Names) {
    const TGuid Id = GuidOfName(Name);
    if (!Callback(&Id, Name))
      break;
  }
  return DS_OK;
}

HRESULT DirectSoundCreate(const TGuid* Guid, std::unique_ptr<IDirectSound>& Device) {
  Device.reset();
  try {
    std::optional<std::string> Name;
    if (Guid && !(*Guid == TGuid{})) {
      TAudioUse Audio;
      if (!Audio.Up())
        return DSERR_DEVICEFAILED;
      const std::vector<std::string> Names = OutputDeviceNames();
      const auto Found = std::find_if(Names.begin(), Names.end(), [&](const std::string& Listed) {
        return GuidOfName(Listed) == *Guid;
      });
      if (Found == Names.end())
        return DSERR_NODRIVER;
      Name = *Found;
    }
    auto Made = std::make_unique<TDirectSound>(std::move(Name));
    if (!Made->Up())
      return DSERR_DEVICEFAILED;
    Device = std::move(Made);
    return DS_OK;
  } catch (const std::bad_alloc&) {
    return DSERR_OUTOFMEMORY;
  }
}

} // namespace platform
