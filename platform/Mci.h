#pragma once

// The media control layer: the "cdaudio" device of the drive registry's drives, driven by
// command strings and command records, and the auxiliary audio devices.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

using MCIERROR = uint32_t;
using MCIDEVICEID = uint32_t;
using MMRESULT = uint32_t;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

// Errors of the layer, with the platform's numbers; mciGetErrorStringA has their texts.
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = 257;
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_KEYWORD = 259;
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = 261;
inline constexpr MCIERROR MCIERR_HARDWARE = 262;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = 263;
inline constexpr MCIERROR MCIERR_MISSING_COMMAND_STRING = 267;
inline constexpr MCIERROR MCIERR_MISSING_PARAMETER = 273;
inline constexpr MCIERROR MCIERR_UNSUPPORTED_FUNCTION = 274;
inline constexpr MCIERROR MCIERR_DEVICE_NOT_READY = 276;
inline constexpr MCIERROR MCIERR_INTERNAL = 277;
inline constexpr MCIERROR MCIERR_OUTOFRANGE = 282;
inline constexpr MCIERROR MCIERR_FLAGS_NOT_COMPATIBLE = 284;
inline constexpr MCIERROR MCIERR_DUPLICATE_ALIAS = 289;
inline constexpr MCIERROR MCIERR_MISSING_DEVICE_NAME = 292;
inline constexpr MCIERROR MCIERR_BAD_TIME_FORMAT = 293;
inline constexpr MCIERROR MCIERR_NULL_PARAMETER_BLOCK = 297;

// Commands.
inline constexpr uint32_t MCI_OPEN = 0x803;
inline constexpr uint32_t MCI_CLOSE = 0x804;
inline constexpr uint32_t MCI_PLAY = 0x806;
inline constexpr uint32_t MCI_STOP = 0x808;
inline constexpr uint32_t MCI_PAUSE = 0x809;
inline constexpr uint32_t MCI_SET = 0x80D;
inline constexpr uint32_t MCI_STATUS = 0x814;

// Flags.
inline constexpr uintptr_t MCI_FROM = 0x4;
inline constexpr uintptr_t MCI_TO = 0x8;
inline constexpr uintptr_t MCI_TRACK = 0x10;
inline constexpr uintptr_t MCI_STATUS_ITEM = 0x100;
inline constexpr uintptr_t MCI_SET_TIME_FORMAT = 0x400;

// Status items.
inline constexpr uint32_t MCI_STATUS_LENGTH = 1;
inline constexpr uint32_t MCI_STATUS_POSITION = 2;
inline constexpr uint32_t MCI_STATUS_NUMBER_OF_TRACKS = 3;
inline constexpr uint32_t MCI_STATUS_MODE = 4;
inline constexpr uint32_t MCI_STATUS_MEDIA_PRESENT = 5;
inline constexpr uint32_t MCI_CDA_STATUS_TYPE_TRACK = 0x4001;
inline constexpr uint32_t MCI_CDA_TRACK_AUDIO = 0x440;
inline constexpr uint32_t MCI_CDA_TRACK_OTHER = 0x441;

// Modes.
inline constexpr uint32_t MCI_MODE_NOT_READY = 524;
inline constexpr uint32_t MCI_MODE_STOP = 525;
inline constexpr uint32_t MCI_MODE_PLAY = 526;
inline constexpr uint32_t MCI_MODE_RECORD = 527;
inline constexpr uint32_t MCI_MODE_SEEK = 528;
inline constexpr uint32_t MCI_MODE_PAUSE = 529;
inline constexpr uint32_t MCI_MODE_OPEN = 530;

// Time formats. MSF packs minutes, seconds, frames from the low byte up; TMSF puts the track
// first: track, minutes, seconds, frames.
inline constexpr uint32_t MCI_FORMAT_MSF = 2;
inline constexpr uint32_t MCI_FORMAT_TMSF = 10;

struct MCI_GENERIC_PARMS {
  uintptr_t dwCallback = 0;
};

struct MCI_SET_PARMS {
  uintptr_t dwCallback = 0;
  uint32_t dwTimeFormat = 0;
  uint32_t dwAudio = 0;
};

struct MCI_STATUS_PARMS {
  uintptr_t dwCallback = 0;
  uintptr_t dwReturn = 0;
  uint32_t dwItem = 0;
  uint32_t dwTrack = 0;
};

struct MCI_PLAY_PARMS {
  uintptr_t dwCallback = 0;
  uint32_t dwFrom = 0;
  uint32_t dwTo = 0;
};

// The open command, parsed.
struct TOpenCommand {
  char Letter = 0; // A to Z
  std::string Alias;
  bool Shareable = false;
};

// Parses "open <letter>\: type cdaudio alias <alias> [shareable]": keywords in any case, words
// apart by blanks, the letter made upper case. Checks no drive. 0, or the error of the command.
MCIERROR ParseOpenCommand(std::string_view Command, TOpenCommand& Open);

// Sends a command string; only the open command above is understood, on a drive of the drive
// registry. On success the return string gets the new device's id in decimal. 0 on success,
// else an error whose text mciGetErrorStringA gives.
MCIERROR mciSendStringA(const char* Command, char* ReturnString, uint32_t ReturnLength,
                        void* Window);
// The id of an open device by its alias (in any case), 0 when none is open under that alias.
MCIDEVICEID mciGetDeviceIDA(const char* Alias);
// Sends a command with its record (MCI_SET_PARMS, MCI_STATUS_PARMS, MCI_PLAY_PARMS,
// MCI_GENERIC_PARMS) to an open device. The record may be null for a command without flags.
// Times are in the device's time format (MSF when opened). MCI_STATUS: LENGTH is the disc's
// length, or with MCI_TRACK the track's, in MSF in either format; POSITION is where play is, or
// with MCI_TRACK where the track starts. Without a disc MEDIA_PRESENT is 0, MODE is
// MCI_MODE_NOT_READY and the other items fail with MCIERR_DEVICE_NOT_READY. MCI_PLAY without
// MCI_FROM starts where play is (so it resumes after MCI_PAUSE), without MCI_TO plays to the
// end of the disc. MCI_CLOSE frees the id (ids are not used again) and the alias; what the
// drive plays goes on.
MCIERROR mciSendCommandA(MCIDEVICEID Device, uint32_t Message, uintptr_t Flags, void* Params);
// The text of an error, cut to fit and NUL-terminated within Length; false, and an empty text,
// for an unknown error.
bool mciGetErrorStringA(MCIERROR Error, char* Text, uint32_t Length);

// The capabilities of an auxiliary audio device, 48 bytes as the platform lays them out.
struct AUXCAPSA {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  char szPname[32] = {};
  uint16_t wTechnology = 0;
  uint16_t wReserved1 = 0;
  uint32_t dwSupport = 0;
};
static_assert(sizeof(AUXCAPSA) == 48);

inline constexpr uint16_t AUXCAPS_CDAUDIO = 1;
inline constexpr uint16_t AUXCAPS_AUXIN = 2;
inline constexpr uint32_t AUXCAPS_VOLUME = 1;
inline constexpr uint32_t AUXCAPS_LRVOLUME = 2;

// No device is registered unless RegisterAuxDevice adds one: playing is at full scale.
uint32_t auxGetNumDevs();
// Copies at most CapsSize bytes of the record.
MMRESULT auxGetDevCapsA(uintptr_t DeviceId, AUXCAPSA* Caps, uint32_t CapsSize);
// Left channel in the low 16 bits, right in the high 16 bits.
MMRESULT auxGetVolume(uint32_t DeviceId, uint32_t* Volume);
MMRESULT auxSetVolume(uint32_t DeviceId, uint32_t Volume);

// The absolute frame of the disc's first sector (LSN 0).
inline constexpr uint32_t CdAudioFirstFrame = 150;

// What an open "cdaudio" device does for the layer, which parses the commands, keeps the time
// format and packs the times. Times are absolute frames (75 a second) as the device counts
// them: the first sector of the disc is frame 150, so track 1 usually starts at 00:02:00.
// The layer calls a device under its own lock, one call at a time, and asks MediaPresent before
// the other queries of a command; a device must not call the layer.
class TCdAudioDevice {
public:
  virtual ~TCdAudioDevice() = default;
  // Looks at the drive again; the other queries answer for the disc found then.
  virtual bool MediaPresent() = 0;
  virtual uint32_t Mode() = 0; // MCI_MODE_*
  virtual uint32_t TrackCount() = 0;
  // Track from 1; the layer checks the range first.
  virtual uint32_t TrackStart(uint32_t Track) = 0;
  virtual bool TrackIsAudio(uint32_t Track) = 0;
  // The frame after the last track.
  virtual uint32_t Length() = 0;
  // The frame being heard while playing, else where play stopped.
  virtual uint32_t Position() = 0;
  // Plays [From, To) and returns at once; the layer has checked that
  // CdAudioFirstFrame <= From <= To <= Length().
  virtual MCIERROR Play(uint32_t From, uint32_t To) = 0;
  virtual MCIERROR Stop() = 0;
  virtual MCIERROR Pause() = 0;
};

// Makes the device that an open command opens on a drive letter; the play engine of that
// drive when none is set. Tests put a scripted device in its place; null restores the engine.
// A factory that makes no device fails the open with MCIERR_HARDWARE.
using TCdAudioDeviceFactory = std::function<std::unique_ptr<TCdAudioDevice>(char Letter)>;
void SetCdAudioDeviceFactory(TCdAudioDeviceFactory Factory);

// Adds an auxiliary device (tests: a CD-audio input holding a volume word); returns its id.
uint32_t RegisterAuxDevice(const AUXCAPSA& Caps, uint32_t Volume);
// Removes every registered auxiliary device.
void ClearAuxDevices();

} // namespace platform
