#include "platform/Mci.h"

#include "platform/CdPlayEngine.h"
#include "platform/DriveRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t FramesPerSecond = 75;
constexpr uint32_t FramesPerMinute = 60 * FramesPerSecond;

struct TErrorText {
  MCIERROR Error;
  const char* Text;
};

constexpr TErrorText ErrorTexts[] = {
    {MCIERR_INVALID_DEVICE_ID, "The device id is not that of an open device."},
    {MCIERR_UNRECOGNIZED_KEYWORD, "The command has a word or flag that the device does not know."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The command is not one that the device knows."},
    {MCIERR_HARDWARE, "The drive or the sound output is not working."},
    {MCIERR_INVALID_DEVICE_NAME, "There is no CD drive of that name."},
    {MCIERR_MISSING_COMMAND_STRING, "The command is empty."},
    {MCIERR_MISSING_PARAMETER, "The command lacks a value that it needs."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The device cannot report that."},
    {MCIERR_DEVICE_NOT_READY, "The drive is not ready: there is no disc in it."},
    {MCIERR_INTERNAL, "An internal error stopped the command."},
    {MCIERR_OUTOFRANGE, "A track or time lies outside the disc, or the range runs backwards."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The command's flags do not go together."},
    {MCIERR_DUPLICATE_ALIAS, "The alias is already taken by an open device."},
    {MCIERR_MISSING_DEVICE_NAME, "The command names no drive."},
    {MCIERR_BAD_TIME_FORMAT, "The device does not know that time format."},
    {MCIERR_NULL_PARAMETER_BLOCK, "The command needs a parameter record."},
};

// The flags each command takes; a command not listed is not known.
struct TCommandFlags {
  uint32_t Message;
  uintptr_t Flags;
};

constexpr TCommandFlags CommandFlags[] = {
    {MCI_SET, MCI_SET_TIME_FORMAT},
    {MCI_STATUS, MCI_STATUS_ITEM | MCI_TRACK},
    {MCI_PLAY, MCI_FROM | MCI_TO},
    {MCI_STOP, 0},
    {MCI_PAUSE, 0},
    {MCI_CLOSE, 0},
};

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

char Upper(char C) {
  return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C;
}

bool SameWord(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(),
                                            [](char X, char Y) { return Upper(X) == Upper(Y); });
}

std::vector<std::string_view> Words(std::string_view Text) {
  std::vector<std::string_view> Result;
  size_t At = 0;
  while (At < Text.size()) {
    if (IsBlank(Text[At])) {
      ++At;
      continue;
    }
    size_t End = At;
    while (End < Text.size() && !IsBlank(Text[End]))
      ++End;
    Result.push_back(Text.substr(At, End - At));
    At = End;
  }
  return Result;
}

uint32_t PackMsf(uint32_t Frames) {
  const uint32_t Minutes = std::min(Frames / FramesPerMinute, 255u);
  return Minutes | (Frames / FramesPerSecond % 60) << 8 | (Frames % FramesPerSecond) << 16;
}

uint32_t PackTmsf(uint32_t Track, uint32_t Frames) {
  return (Track & 0xFF) | PackMsf(Frames) << 8;
}

// Minutes, seconds and frames from the low byte up; none when a field is out of its range.
std::optional<uint32_t> UnpackMsf(uint32_t Packed) {
  const uint32_t Minutes = Packed & 0xFF, Seconds = (Packed >> 8) & 0xFF,
                 Frames = (Packed >> 16) & 0xFF;
  if (Seconds >= 60 || Frames >= FramesPerSecond)
    return std::nullopt;
  return Minutes * FramesPerMinute + Seconds * FramesPerSecond + Frames;
}

struct TOpenDevice {
  std::string Alias;
  uint32_t TimeFormat = MCI_FORMAT_MSF;
  std::unique_ptr<TCdAudioDevice> Device;
};

struct TAuxDevice {
  AUXCAPSA Caps;
  uint32_t Volume = 0;
};

struct TLayer {
  std::mutex Lock;
  // Guarded by Lock.
  TCdAudioDeviceFactory Factory;
  std::map<MCIDEVICEID, TOpenDevice> Devices;
  MCIDEVICEID NextId = 1;
  std::vector<TAuxDevice> Aux;
};

// Never destroyed: a device still open at process end is not closed after what it uses is gone.
TLayer& Layer() {
  static TLayer* const Instance = new TLayer;
  return *Instance;
}

// Where a device's time lies in absolute frames.
MCIERROR ToFrames(TCdAudioDevice& Device, uint32_t Format, uint32_t Time, uint32_t& Frames) {
  if (Format == MCI_FORMAT_TMSF) {
    const uint32_t Track = Time & 0xFF;
    const std::optional<uint32_t> Offset = UnpackMsf(Time >> 8);
    if (Track < 1 || Track > Device.TrackCount() || !Offset)
      return MCIERR_OUTOFRANGE;
    Frames = Device.TrackStart(Track) + *Offset;
    return 0;
  }
  const std::optional<uint32_t> Absolute = UnpackMsf(Time);
  if (!Absolute)
    return MCIERR_OUTOFRANGE;
  Frames = *Absolute;
  return 0;
}

// An absolute frame in the device's time format: in TMSF, the track it lies in (the first
// track before that track's start) and the time within it.
uint32_t FromFrames(TCdAudioDevice& Device, uint32_t Format, uint32_t Frames) {
  if (Format != MCI_FORMAT_TMSF)
    return PackMsf(Frames);
  uint32_t Track = 0, Start = 0;
  for (uint32_t Next = 1; Next <= Device.TrackCount(); ++Next) {
    const uint32_t NextStart = Device.TrackStart(Next);
    if (Next > 1 && NextStart > Frames)
      break;
    Track = Next;
    Start = NextStart;
  }
  return PackTmsf(Track, Frames > Start ? Frames - Start : 0);
}

// The records of the commands below are there when any flag is set.
MCIERROR SetTimeFormat(TOpenDevice& Open, uintptr_t Flags, const MCI_SET_PARMS* Params) {
  if (!(Flags & MCI_SET_TIME_FORMAT))
    return MCIERR_MISSING_PARAMETER;
  if (Params->dwTimeFormat != MCI_FORMAT_MSF && Params->dwTimeFormat != MCI_FORMAT_TMSF)
    return MCIERR_BAD_TIME_FORMAT;
  Open.TimeFormat = Params->dwTimeFormat;
  return 0;
}

MCIERROR Status(TOpenDevice& Open, uintptr_t Flags, MCI_STATUS_PARMS* Record) {
  if (!(Flags & MCI_STATUS_ITEM))
    return MCIERR_MISSING_PARAMETER;
  MCI_STATUS_PARMS& Params = *Record;
  const uint32_t Item = Params.dwItem;
  const bool TakesTrack =
      Item == MCI_STATUS_LENGTH || Item == MCI_STATUS_POSITION || Item == MCI_CDA_STATUS_TYPE_TRACK;
  if (!TakesTrack && Item != MCI_STATUS_NUMBER_OF_TRACKS && Item != MCI_STATUS_MODE &&
      Item != MCI_STATUS_MEDIA_PRESENT)
    return MCIERR_UNSUPPORTED_FUNCTION;
  const bool WithTrack = (Flags & MCI_TRACK) != 0;
  if (WithTrack && !TakesTrack)
    return MCIERR_FLAGS_NOT_COMPATIBLE;
  if (Item == MCI_CDA_STATUS_TYPE_TRACK && !WithTrack)
    return MCIERR_MISSING_PARAMETER;

  TCdAudioDevice& Device = *Open.Device;
  const bool Present = Device.MediaPresent();
  if (Item == MCI_STATUS_MEDIA_PRESENT) {
    Params.dwReturn = Present ? 1 : 0;
    return 0;
  }
  if (Item == MCI_STATUS_MODE) {
    Params.dwReturn = Present ? Device.Mode() : MCI_MODE_NOT_READY;
    return 0;
  }
  if (!Present)
    return MCIERR_DEVICE_NOT_READY;
  const uint32_t Count = Device.TrackCount();
  if (Item == MCI_STATUS_NUMBER_OF_TRACKS) {
    Params.dwReturn = Count;
    return 0;
  }
  if (!WithTrack) {
    // A length has no track, so it is minutes, seconds and frames in either format.
    Params.dwReturn = Item == MCI_STATUS_LENGTH
                          ? PackMsf(Device.Length())
                          : FromFrames(Device, Open.TimeFormat, Device.Position());
    return 0;
  }
  const uint32_t Track = Params.dwTrack;
  if (Track < 1 || Track > Count)
    return MCIERR_OUTOFRANGE;
  if (Item == MCI_CDA_STATUS_TYPE_TRACK) {
    Params.dwReturn = Device.TrackIsAudio(Track) ? MCI_CDA_TRACK_AUDIO : MCI_CDA_TRACK_OTHER;
    return 0;
  }
  const uint32_t Start = Device.TrackStart(Track);
  if (Item == MCI_STATUS_POSITION) {
    Params.dwReturn = Open.TimeFormat == MCI_FORMAT_TMSF ? PackTmsf(Track, 0) : PackMsf(Start);
    return 0;
  }
  // The last track runs to the end of the disc.
  const uint32_t End = Track == Count ? Device.Length() : Device.TrackStart(Track + 1);
  Params.dwReturn = PackMsf(End > Start ? End - Start : 0);
  return 0;
}

MCIERROR Play(TOpenDevice& Open, uintptr_t Flags, const MCI_PLAY_PARMS* Params) {
  TCdAudioDevice& Device = *Open.Device;
  if (!Device.MediaPresent())
    return MCIERR_DEVICE_NOT_READY;
  const uint32_t Length = Device.Length();
  uint32_t From = Device.Position(), To = Length;
  if (Flags & MCI_FROM)
    if (const MCIERROR Error = ToFrames(Device, Open.TimeFormat, Params->dwFrom, From))
      return Error;
  if (Flags & MCI_TO)
    if (const MCIERROR Error = ToFrames(Device, Open.TimeFormat, Params->dwTo, To))
      return Error;
  if (From < CdAudioFirstFrame || From > To || To > Length)
    return MCIERR_OUTOFRANGE;
  return Device.Play(From, To);
}

// Under the layer's lock.
MCIERROR SendCommand(TLayer& Layer, MCIDEVICEID Id, uint32_t Message, uintptr_t Flags,
                     void* Params) {
  const auto Found = Layer.Devices.find(Id);
  if (Found == Layer.Devices.end())
    return MCIERR_INVALID_DEVICE_ID;
  const auto Known = std::ranges::find(CommandFlags, Message, &TCommandFlags::Message);
  if (Known == std::end(CommandFlags))
    return MCIERR_UNRECOGNIZED_COMMAND;
  if (Flags & ~Known->Flags)
    return MCIERR_UNRECOGNIZED_KEYWORD;
  if (Flags != 0 && !Params)
    return MCIERR_NULL_PARAMETER_BLOCK;
  TOpenDevice& Open = Found->second;
  switch (Message) {
  case MCI_SET:
    return SetTimeFormat(Open, Flags, static_cast<const MCI_SET_PARMS*>(Params));
  case MCI_STATUS:
    return Status(Open, Flags, static_cast<MCI_STATUS_PARMS*>(Params));
  case MCI_PLAY:
    return Play(Open, Flags, static_cast<const MCI_PLAY_PARMS*>(Params));
  case MCI_STOP:
    return Open.Device->Stop();
  case MCI_PAUSE:
    return Open.Device->MediaPresent() ? Open.Device->Pause() : MCIERR_DEVICE_NOT_READY;
  default: // MCI_CLOSE
    Layer.Devices.erase(Found);
    return 0;
  }
}

MCIERROR OpenDevice(const TOpenCommand& Command, MCIDEVICEID& Id) {
  if (GetDriveType(Command.Letter) != DRIVE_CDROM)
    return MCIERR_INVALID_DEVICE_NAME;
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  for (const auto& [OpenId, Open] : Layer.Devices)
    if (SameWord(Open.Alias, Command.Alias))
      return MCIERR_DUPLICATE_ALIAS;
  std::unique_ptr<TCdAudioDevice> Device =
      Layer.Factory ? Layer.Factory(Command.Letter) : OpenCdPlayDevice(Command.Letter);
  if (!Device)
    return MCIERR_HARDWARE;
  Id = Layer.NextId++;
  Layer.Devices.emplace(Id, TOpenDevice{Command.Alias, MCI_FORMAT_MSF, std::move(Device)});
  return 0;
}

} // namespace

MCIERROR ParseOpenCommand(std::string_view Command, TOpenCommand& Open) {
  const std::vector<std::string_view> Word = Words(Command);
  if (Word.empty())
    return MCIERR_MISSING_COMMAND_STRING;
  if (!SameWord(Word[0], "open"))
    return MCIERR_UNRECOGNIZED_COMMAND;
  if (Word.size() < 2)
    return MCIERR_MISSING_DEVICE_NAME;
  // The element is the drive's letter, a backslash and a colon.
  const std::string_view Element = Word[1];
  const char Letter = Element.empty() ? '\0' : Upper(Element[0]);
  if (Element.size() != 3 || Letter < 'A' || Letter > 'Z' || Element.substr(1) != "\\:")
    return MCIERR_INVALID_DEVICE_NAME;
  if (Word.size() < 5 || !SameWord(Word[2], "type") || !SameWord(Word[3], "cdaudio") ||
      !SameWord(Word[4], "alias"))
    return MCIERR_UNRECOGNIZED_KEYWORD;
  if (Word.size() < 6)
    return MCIERR_MISSING_PARAMETER;
  const bool Shareable = Word.size() == 7 && SameWord(Word[6], "shareable");
  if (Word.size() > 7 || (Word.size() == 7 && !Shareable))
    return MCIERR_UNRECOGNIZED_KEYWORD;
  Open.Letter = Letter;
  Open.Alias = std::string(Word[5]);
  Open.Shareable = Shareable;
  return 0;
}

MCIERROR mciSendStringA(const char* Command, char* ReturnString, uint32_t ReturnLength, void*) {
  if (ReturnString && ReturnLength > 0)
    ReturnString[0] = '\0';
  if (!Command)
    return MCIERR_MISSING_COMMAND_STRING;
  try {
    TOpenCommand Open;
    if (const MCIERROR Error = ParseOpenCommand(Command, Open))
      return Error;
    MCIDEVICEID Id = 0;
    if (const MCIERROR Error = OpenDevice(Open, Id))
      return Error;
    if (ReturnString && ReturnLength > 0)
      std::snprintf(ReturnString, ReturnLength, "%u", Id);
    return 0;
  } catch (...) {
    return MCIERR_INTERNAL;
  }
}

MCIDEVICEID mciGetDeviceIDA(const char* Alias) {
  if (!Alias)
    return 0;
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  for (const auto& [Id, Open] : Layer.Devices)
    if (SameWord(Open.Alias, Alias))
      return Id;
  return 0;
}

MCIERROR mciSendCommandA(MCIDEVICEID Device, uint32_t Message, uintptr_t Flags, void* Params) {
  try {
    TLayer& Layer = platform::Layer();
    const std::lock_guard Guard(Layer.Lock);
    return SendCommand(Layer, Device, Message, Flags, Params);
  } catch (...) {
    return MCIERR_INTERNAL;
  }
}

bool mciGetErrorStringA(MCIERROR Error, char* Text, uint32_t Length) {
  if (!Text || Length == 0)
    return false;
  const auto Found = std::ranges::find(ErrorTexts, Error, &TErrorText::Error);
  const char* Message = Found == std::end(ErrorTexts) ? "" : Found->Text;
  std::snprintf(Text, Length, "%s", Message);
  return *Message != '\0';
}

void SetCdAudioDeviceFactory(TCdAudioDeviceFactory Factory) {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  Layer.Factory = std::move(Factory);
}

uint32_t auxGetNumDevs() {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  return static_cast<uint32_t>(Layer.Aux.size());
}

MMRESULT auxGetDevCapsA(uintptr_t DeviceId, AUXCAPSA* Caps, uint32_t CapsSize) {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  if (DeviceId >= Layer.Aux.size())
    return MMSYSERR_BADDEVICEID;
  if (!Caps)
    return MMSYSERR_INVALPARAM;
  std::memcpy(Caps, &Layer.Aux[DeviceId].Caps, std::min<size_t>(CapsSize, sizeof(AUXCAPSA)));
  return MMSYSERR_NOERROR;
}

MMRESULT auxGetVolume(uint32_t DeviceId, uint32_t* Volume) {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  if (DeviceId >= Layer.Aux.size())
    return MMSYSERR_BADDEVICEID;
  if (!Volume)
    return MMSYSERR_INVALPARAM;
  *Volume = Layer.Aux[DeviceId].Volume;
  return MMSYSERR_NOERROR;
}

MMRESULT auxSetVolume(uint32_t DeviceId, uint32_t Volume) {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  if (DeviceId >= Layer.Aux.size())
    return MMSYSERR_BADDEVICEID;
  Layer.Aux[DeviceId].Volume = Volume;
  return MMSYSERR_NOERROR;
}

uint32_t RegisterAuxDevice(const AUXCAPSA& Caps, uint32_t Volume) {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  Layer.Aux.push_back({Caps, Volume});
  return static_cast<uint32_t>(Layer.Aux.size() - 1);
}

void ClearAuxDevices() {
  TLayer& Layer = platform::Layer();
  const std::lock_guard Guard(Layer.Lock);
  Layer.Aux.clear();
}

} // namespace platform
