#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Sound output over SDL2 audio in the shape of DirectSound: a device list, device objects, and
// looping buffers with a play and a write cursor, written through Lock and Unlock.
//
// A buffer's play cursor is where its device reads next; the write cursor is one device period
// (the bytes SDL asks for at a time) past it, modulo the buffer size. Bytes from the play cursor
// up to the write cursor are about to be played: write after the write cursor.
namespace platform {

// 0 for success, negative for the errors below.
using HRESULT = int32_t;

inline constexpr HRESULT DS_OK = 0;
// A null pointer, a size, offset or level out of range.
inline constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80510001);
// The format is not integer PCM of 8, 16, 24 or 32 bits in 1..8 channels, or its fields disagree.
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x80510002);
// No sound device has that id.
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x80510003);
// SDL's audio or the device would not open; LastSoundError() has SDL's reason.
inline constexpr HRESULT DSERR_DEVICEFAILED = static_cast<HRESULT>(0x80510004);
// The device went away; the buffer's cursors go on, but nothing is heard.
inline constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x80510005);
// The call does not apply to this buffer (Lock on the primary, SetFormat on a stream buffer).
inline constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x80510006);
inline constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x80510007);

// SDL's text for the last DSERR_DEVICEFAILED on this thread, empty when there was none.
std::string LastSoundError();

struct TGuid {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};
  bool operator==(const TGuid&) const = default;
};
static_assert(sizeof(TGuid) == 16);

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
inline constexpr TGuid KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct TWaveFormatEx {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  // Bytes of extension after this record: 22 for the extensible record.
  uint16_t ExtensionSize = 0;
};

// With FormatTag WAVE_FORMAT_EXTENSIBLE, a TWaveFormatEx is the Format of one of these.
struct TWaveFormatExtensible {
  TWaveFormatEx Format;
  uint16_t ValidBitsPerSample = 0;
  // SDL's own layout for the channel count is used whatever the mask says.
  uint32_t ChannelMask = 0;
  TGuid SubFormat;
};

inline constexpr uint32_t DSSCL_NORMAL = 1;
inline constexpr uint32_t DSSCL_PRIORITY = 2;
inline constexpr uint32_t DSSCL_EXCLUSIVE = 3;
inline constexpr uint32_t DSSCL_WRITEPRIMARY = 4;

// Buffer flags. Only the primary flag changes anything; there are no volume, pan or frequency
// controls.
inline constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
inline constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x20;
inline constexpr uint32_t DSBCAPS_CTRLPAN = 0x40;
inline constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x80;
inline constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
inline constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

// A stream buffer's size in bytes, a whole number of at least two frames.
inline constexpr uint32_t DSBSIZE_MIN = 4;
inline constexpr uint32_t DSBSIZE_MAX = 0x0FFFFFFF;

inline constexpr uint32_t DSBPLAY_LOOPING = 0x1;

inline constexpr uint32_t DSBLOCK_FROMWRITECURSOR = 0x1;
inline constexpr uint32_t DSBLOCK_ENTIREBUFFER = 0x2;

inline constexpr uint32_t DSBSTATUS_PLAYING = 0x1;
inline constexpr uint32_t DSBSTATUS_BUFFERLOST = 0x2;
inline constexpr uint32_t DSBSTATUS_LOOPING = 0x4;

struct TDSBufferDesc {
  uint32_t Flags = 0;
  // Zero for the primary buffer.
  uint32_t BufferBytes = 0;
  // Null for the primary buffer, which takes its format with SetFormat.
  const TWaveFormatEx* Format = nullptr;
};

// The primary buffer only takes a format, a wish SDL need not honour: each stream buffer opens
// its SDL device with its own format. The other calls of a primary buffer give
// DSERR_INVALIDCALL, except GetStatus. Every call may come from any thread; the regions that
// Lock hands out are the caller's until Unlock.
class IDirectSoundBuffer {
public:
  IDirectSoundBuffer() = default;
  virtual ~IDirectSoundBuffer() = default;
  IDirectSoundBuffer(const IDirectSoundBuffer&) = delete;
  IDirectSoundBuffer& operator=(const IDirectSoundBuffer&) = delete;

  // Primary buffer only.
  virtual HRESULT SetFormat(const TWaveFormatEx* Format) = 0;
  // Either pointer may be null.
  virtual HRESULT GetCurrentPosition(uint32_t* Play, uint32_t* Write) = 0;
  // Hands out Bytes from Offset as one region, or two when they run past the end (the second
  // from offset 0; Ptr2 may be null to take the first only). DSBLOCK_FROMWRITECURSOR starts at
  // the write cursor, DSBLOCK_ENTIREBUFFER takes the whole buffer. The regions hold what was
  // last unlocked there (silence at first); nothing reaches the device before Unlock.
  virtual HRESULT Lock(uint32_t Offset, uint32_t Bytes, void** Ptr1, uint32_t* Bytes1, void** Ptr2,
                       uint32_t* Bytes2, uint32_t Flags) = 0;
  // Hands the bytes written back, each region with the length actually written.
  virtual HRESULT Unlock(void* Ptr1, uint32_t Bytes1, void* Ptr2, uint32_t Bytes2) = 0;
  // Moves the play cursor, rounded down to a whole frame.
  virtual HRESULT SetCurrentPosition(uint32_t Position) = 0;
  // Plays from the play cursor: round and round with DSBPLAY_LOOPING, else to the end of the
  // buffer, where it stops with the play cursor at 0.
  virtual HRESULT Play(uint32_t Flags) = 0;
  // Plays silence from the next device period on; the play cursor stays.
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetStatus(uint32_t* Status) = 0;
};

class IDirectSound {
public:
  IDirectSound() = default;
  virtual ~IDirectSound() = default;
  IDirectSound(const IDirectSound&) = delete;
  IDirectSound& operator=(const IDirectSound&) = delete;

  // Checks the level, which changes nothing; there is no window.
  virtual HRESULT SetCooperativeLevel(void* Window, uint32_t Level) = 0;
  // A buffer keeps what it needs of the device: buffers and device may go in any order.
  virtual HRESULT CreateSoundBuffer(const TDSBufferDesc& Desc,
                                    std::unique_ptr<IDirectSoundBuffer>& Buffer) = 0;
};

// Gets the device's id (null for the default device) and description; false stops the list.
using TDSEnumCallback = std::function<bool(const TGuid* Guid, const std::string& Description)>;

// The default device (SDL's default, with a null id), then SDL's output devices, each with an
// id made from its name, the same on every call.
HRESULT DirectSoundEnumerate(const TDSEnumCallback& Callback);

// The device of that id; a null or all-zero id is the default device.
HRESULT DirectSoundCreate(const TGuid* Guid, std::unique_ptr<IDirectSound>& Device);

} // namespace platform
