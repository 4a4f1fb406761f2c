#include "audio/cd/ACS_CDROM.h"

#include "audio/cd/CDRip.h"
#include "platform/DriveRegistry.h"
#include "platform/Mci.h"
#include "runtime/Rounding.h"

#include <algorithm>
#include <cstring>

// Calls an entry point of the ripping library, refusing one the library lacks.
#define CDRIP(Name) RequireEntry(CDRip().Name, #Name)

namespace {

constexpr int32_t AudioTrackFlag = 0x10;
constexpr size_t DriveParametersBytes = 364;
constexpr size_t DriveNameBytes = 255;

} // namespace

uint32_t DiscTimeSectors(const TDiscTime& Time) {
  return (Time.Minutes * 60u + Time.Seconds) * CD_SECTORS_PER_SECOND + Time.Frames;
}

TTrackInfo SectorsToTrackInfo(uint32_t Sectors, bool IsData) {
  TTrackInfo Info;
  Info.Minutes = static_cast<uint8_t>(Sectors / (60 * CD_SECTORS_PER_SECOND));
  Info.Seconds = static_cast<uint8_t>(Sectors / CD_SECTORS_PER_SECOND % 60);
  Info.Frames = static_cast<uint8_t>(Sectors % CD_SECTORS_PER_SECOND);
  Info.IsData = IsData;
  return Info;
}

// One level of the drive lock for the length of a scope.
class TCDIn::TDriveLock {
public:
  explicit TDriveLock(TCDIn& Owner) : FOwner(Owner) { FOwner.AcquireDrive(); }
  ~TDriveLock() { FOwner.ReleaseDrive(); }
  TDriveLock(const TDriveLock&) = delete;
  TDriveLock& operator=(const TDriveLock&) = delete;

private:
  TCDIn& FOwner;
};

TCDIn::TCDIn(TComponent* AOwner) : TAuInput(AOwner) {
  LoadRipLibrary();
  if (!CDRipLoaded())
    throw EAuException("cdrip.dll could not be loaded.");
}

TCDIn::~TCDIn() {
  if (CDRip().CR_DeInit)
    CDRip().CR_DeInit();
}

void TCDIn::AcquireDrive() {
  std::lock_guard Guard(FDriveLock);
  if (FDriveLockDepth == 0)
    CDRIP(CR_SetActiveCDROM)(FCurrentDrive);
  ++FDriveLockDepth;
}

void TCDIn::ReleaseDrive() {
  std::lock_guard Guard(FDriveLock);
  if (FDriveLockDepth > 0)
    --FDriveLockDepth;
}

int32_t TCDIn::DrivesCount() {
  TDriveLock Lock(*this);
  return CDRIP(CR_GetNumCDROM)();
}

void TCDIn::SetCurrentDrive(int32_t Value) {
  TDriveLock Lock(*this);
  const int32_t Count = CDRIP(CR_GetNumCDROM)();
  if (Value >= 0 && Value <= Count - 1)
    FCurrentDrive = Value;
}

std::string TCDIn::DriveName() {
  TDriveLock Lock(*this);
  std::array<char, DriveParametersBytes> Record{};
  CDRIP(CR_GetCDROMParameters)(Record.data());
  return std::string(Record.data(), strnlen(Record.data(), DriveNameBytes));
}

TDriveState TCDIn::Status() {
  int32_t State = 0;
  int32_t Playing = 0;
  {
    TDriveLock Lock(*this);
    CDRIP(CR_IsMediaLoaded)(&State);
    Playing = CDRIP(CR_IsAudioPlaying)();
  }
  if (State != 0)
    return drNotReady;
  return Playing != 0 ? drPlaying : drReady;
}

int32_t TCDIn::TracksCount() {
  TDriveLock Lock(*this);
  if (CDRIP(CR_ReadToc)() != 0)
    return -1;
  return CDRIP(CR_GetNumTocEntries)();
}

TTrackInfo TCDIn::Tracks(int32_t Track) {
  const int32_t Count = TracksCount();
  if (Track < 1 || Track > Count)
    throw EAuException("Track out of range.");
  TDriveLock Lock(*this);
  const TOCENTRY First = CDRIP(CR_GetTocEntry)(Track - 1);
  const TOCENTRY Next = CDRIP(CR_GetTocEntry)(Track);
  // A table whose next entry lies before this one gives an empty track, not a huge one.
  const uint32_t Sectors =
      Next.dwStartSector > First.dwStartSector ? Next.dwStartSector - First.dwStartSector : 0;
  return SectorsToTrackInfo(Sectors, First.btFlag != AudioTrackFlag);
}

int32_t TCDIn::StartTrack() const {
  std::lock_guard Guard(FRangeLock);
  return FStartTrack;
}

void TCDIn::SetStartTrack(int32_t Value) {
  RaiseIfBusy();
  std::lock_guard Guard(FRangeLock);
  FStartTrack = Value;
  FStartPos = {Value, {}};
}

int32_t TCDIn::EndTrack() const {
  std::lock_guard Guard(FRangeLock);
  return FEndTrack;
}

void TCDIn::SetEndTrack(int32_t Value) {
  RaiseIfBusy();
  std::lock_guard Guard(FRangeLock);
  FEndTrack = Value;
  FEndPos = {Value + 1, {}};
}

void TCDIn::Eject() {
  RaiseIfBusy();
  CDRIP(CR_EjectCD)(-1);
}

void TCDIn::CloseTray() {
  CDRIP(CR_EjectCD)(0);
}

void TCDIn::RaiseIfBusy() const {
  if (Busy())
    throw EAuException("The component is busy");
}

std::pair<TDiscPosition, TDiscPosition> TCDIn::Positions() const {
  std::lock_guard Guard(FRangeLock);
  return {FStartPos, FEndPos};
}

TCDIn::TSectorRange TCDIn::RangeSectors() {
  const auto [Start, End] = Positions();
  const auto Sector = [](const TDiscPosition& Position) {
    return int64_t{CDRIP(CR_GetTocEntry)(Position.Track - 1).dwStartSector} +
           DiscTimeSectors(Position.Time);
  };
  return {Sector(Start), Sector(End)};
}

// The exact byte count of the range: the sectors from its start up to the first one after it.
int64_t TCDIn::RangeBytes() {
  if (Busy())
    return FOpenRangeSize;
  TDriveLock Lock(*this);
  CDRIP(CR_ReadToc)();
  const TSectorRange Range = RangeSectors();
  return (Range.End - Range.Start) * CD_SECTOR_BYTES;
}

int64_t TCDIn::GetTotalSamples() {
  return RangeBytes() / 4;
}

int32_t TCDIn::GetTotalTime() {
  return static_cast<int32_t>(RoundHalfEven(static_cast<long double>(GetTotalSamples()) / 44100));
}

void TCDIn::InitInternal() {
  RaiseIfBusy();
  if (Status() == drNotReady)
    throw EAuException("The drive is not ready");
  const auto [Start, End] = Positions();
  const int32_t Count = TracksCount();
  if (Start.Track < 1 || Start.Track > Count)
    throw EAuException("The start track out of range");
  if (Tracks(Start.Track).IsData)
    throw EAuException("Trying to rip a data track");
  if (End.Track < 1 || End.Track > Count + 1)
    throw EAuException("The end track out of range");

  SetStreamSize(RangeBytes());
  SetBusy(true);
  FBufStart = 1;
  FBufEnd = 0;
  SetStreamPosition(0);
  AcquireDrive();
  try {
    const TSectorRange Range = RangeSectors();
    FOpenRangeSize = (Range.End - Range.Start) * CD_SECTOR_BYTES;
    FBufSize = RipBufferSize;
    CDRIP(CR_OpenRipper)
    (&FBufSize, static_cast<int32_t>(Range.Start), static_cast<int32_t>(Range.End));
  } catch (...) {
    // A failed Init leaves the input idle.
    ReleaseDrive();
    SetBusy(false);
    SetStreamSize(0);
    throw;
  }
}

void TCDIn::GetDataInternal(const uint8_t*& Buffer, uint32_t& Bytes) {
  if (!Busy())
    throw EAuException("The Stream is not opened");
  if (FBufStart > FBufEnd) {
    FBufStart = 1;
    int32_t Abort = 0;
    int32_t Delivered = 0;
    const int32_t Result = CDRIP(CR_RipChunk)(RipBuffer.data(), &Delivered, &Abort);
    // A failed read must not pass for the end of the track: the file would be cut short.
    if (Result != CDRIP_OK)
      throw EAuException(CDRipErrorText(Result));
    // A count beyond the buffer would hand out bytes that are not ours.
    FBufEnd = static_cast<uint32_t>(std::clamp<int32_t>(Delivered, 0, RipBufferSize));
  }
  const uint32_t Available = FBufEnd - FBufStart + 1;
  Bytes = std::min(Bytes, Available);
  Buffer = RipBuffer.data() + (FBufStart - 1);
  FBufStart += Bytes;
  AdvanceStreamPosition(Bytes);
}

void TCDIn::FlushInternal() {
  // Only a rip that Init opened holds a drive level and a reader to close.
  if (!Busy())
    return;
  if (CDRip().CR_CloseRipper)
    CDRip().CR_CloseRipper();
  ReleaseDrive();
  SetBusy(false);
  SetStreamSize(0);
}

// ---- TCDPlayer

namespace {

constexpr const char* DeviceAlias = "cd2";
constexpr size_t MciErrorTextLength = 255;

// Stopped, seeking, open and recording all count as ready.
TDriveState StateOfMode(uintptr_t Mode) {
  switch (Mode) {
  case platform::MCI_MODE_NOT_READY:
    return drNotReady;
  case platform::MCI_MODE_PLAY:
    return drPlaying;
  case platform::MCI_MODE_PAUSE:
    return drPaused;
  default:
    return drReady;
  }
}

uint32_t PackMsf(const TDiscTime& Time) {
  return Time.Minutes | Time.Seconds << 8 | Time.Frames << 16;
}

} // namespace

TCDPlayer::TCDPlayer(TComponent* AOwner) : TComponent(AOwner) {
  const uint32_t AuxCount = platform::auxGetNumDevs();
  for (uint32_t Id = 0; Id < AuxCount; ++Id) {
    platform::AUXCAPSA Caps;
    if (platform::auxGetDevCapsA(Id, &Caps, sizeof(Caps)) == platform::MMSYSERR_NOERROR &&
        Caps.wTechnology == platform::AUXCAPS_CDAUDIO) {
      FAuxDevice = static_cast<int32_t>(Id);
      break;
    }
  }
  for (char Letter = 'A'; Letter <= 'Z'; ++Letter)
    if (platform::GetDriveType(Letter) == platform::DRIVE_CDROM)
      FDriveLetters += Letter;
}

TCDPlayer::~TCDPlayer() {
  while (FOpenDepth > 0)
    CloseDevice();
}

void TCDPlayer::SetCurrentDrive(int32_t Value) {
  if (Value >= 0 && Value < DrivesCount())
    FCurrentDrive = Value;
}

void TCDPlayer::OpenDevice() {
  if (FOpenDepth == 0) {
    // Without a drive the letter is NUL, which no device answers to.
    const char Letter = FDriveLetters.empty() ? '\0' : FDriveLetters[FCurrentDrive];
    std::string Command = "open ";
    Command += Letter;
    Command += "\\:";
    Command += " type cdaudio alias ";
    Command += DeviceAlias;
    Command += " shareable";
    if (platform::mciSendStringA(Command.c_str(), nullptr, 0, nullptr) != 0)
      throw EAuException("Cannot open MCI audiocd device");
    FDeviceId = platform::mciGetDeviceIDA(DeviceAlias);
    SetTimeFormat(platform::MCI_FORMAT_MSF);
  }
  ++FOpenDepth;
}

void TCDPlayer::CloseDevice() {
  if (FOpenDepth <= 1) {
    platform::MCI_GENERIC_PARMS Params;
    platform::mciSendCommandA(FDeviceId, platform::MCI_CLOSE, 0, &Params);
  }
  // A close after a forced one must not leave the bracket below zero: the next open would
  // then not open the device.
  if (FOpenDepth > 0)
    --FOpenDepth;
}

void TCDPlayer::ForceCloseDevice() {
  platform::MCI_GENERIC_PARMS Params;
  platform::mciSendCommandA(FDeviceId, platform::MCI_CLOSE, 0, &Params);
  FOpenDepth = 0;
}

void TCDPlayer::SetTimeFormat(uint32_t Format) {
  platform::MCI_SET_PARMS Params;
  Params.dwTimeFormat = Format;
  platform::mciSendCommandA(FDeviceId, platform::MCI_SET, platform::MCI_SET_TIME_FORMAT, &Params);
}

bool TCDPlayer::TryStatus(uint32_t Item, uintptr_t& Result, int32_t Track) {
  platform::MCI_STATUS_PARMS Params;
  Params.dwItem = Item;
  uintptr_t Flags = platform::MCI_STATUS_ITEM;
  if (Track != 0) {
    Params.dwTrack = static_cast<uint32_t>(Track);
    Flags |= platform::MCI_TRACK;
  }
  if (platform::mciSendCommandA(FDeviceId, platform::MCI_STATUS, Flags, &Params) != 0)
    return false;
  Result = Params.dwReturn;
  return true;
}

uintptr_t TCDPlayer::QueryStatus(uint32_t Item, int32_t Track) {
  uintptr_t Result = 0;
  TryStatus(Item, Result, Track);
  return Result;
}

TDriveState TCDPlayer::Status() {
  OpenDevice();
  // A query the device refuses leaves the drive counted as ready.
  TDriveState Result = drReady;
  uintptr_t Present = 0;
  uintptr_t Mode = 0;
  if (TryStatus(platform::MCI_STATUS_MEDIA_PRESENT, Present)) {
    if (Present == 0)
      Result = drNotReady;
    else if (TryStatus(platform::MCI_STATUS_MODE, Mode))
      Result = StateOfMode(Mode);
  }
  CloseDevice();
  return Result;
}

int32_t TCDPlayer::TracksCount() {
  OpenDevice();
  if (Status() == drNotReady) {
    ForceCloseDevice();
    return 0;
  }
  const auto Count = static_cast<int32_t>(QueryStatus(platform::MCI_STATUS_NUMBER_OF_TRACKS));
  CloseDevice();
  return Count;
}

TDiscTime TCDPlayer::TrackStart(int32_t Track) {
  OpenDevice();
  const uintptr_t Packed = Track > TracksCount()
                               ? QueryStatus(platform::MCI_STATUS_LENGTH)
                               : QueryStatus(platform::MCI_STATUS_POSITION, Track);
  CloseDevice();
  TDiscTime Time;
  Time.Minutes = static_cast<uint8_t>(Packed);
  Time.Seconds = static_cast<uint8_t>(Packed >> 8);
  Time.Frames = static_cast<uint8_t>(Packed >> 16);
  return Time;
}

TTrackInfo TCDPlayer::Tracks(int32_t Track) {
  OpenDevice();
  if (Status() == drNotReady) {
    CloseDevice();
    return {};
  }
  if (Track < 1 || Track > TracksCount()) {
    ForceCloseDevice();
    throw EAuException("Track out of range.");
  }
  const uint32_t Start = DiscTimeSectors(TrackStart(Track));
  const uint32_t Next = DiscTimeSectors(TrackStart(Track + 1));
  const bool IsData =
      QueryStatus(platform::MCI_CDA_STATUS_TYPE_TRACK, Track) != platform::MCI_CDA_TRACK_AUDIO;
  CloseDevice();
  return SectorsToTrackInfo(Next > Start ? Next - Start : 0, IsData);
}

void TCDPlayer::Play(int32_t Track) {
  OpenDevice();
  if (Status() == drNotReady) {
    ForceCloseDevice();
    throw EAuException("Device is not ready");
  }
  if (Tracks(Track).IsData) {
    ForceCloseDevice();
    throw EAuException("Trying to play a data track.");
  }
  platform::MCI_PLAY_PARMS Params;
  Params.dwFrom = PackMsf(TrackStart(Track));
  Params.dwTo = PackMsf(TrackStart(Track + 1));
  const platform::MCIERROR Error = platform::mciSendCommandA(
      FDeviceId, platform::MCI_PLAY, platform::MCI_FROM | platform::MCI_TO, &Params);
  if (Error != 0) {
    std::array<char, MciErrorTextLength> Text{};
    platform::mciGetErrorStringA(Error, Text.data(), static_cast<uint32_t>(Text.size()));
    ForceCloseDevice();
    throw EAuException(std::string(Text.data(), strnlen(Text.data(), Text.size())));
  }
  CloseDevice();
}

void TCDPlayer::Stop() {
  OpenDevice();
  platform::MCI_GENERIC_PARMS Params;
  platform::mciSendCommandA(FDeviceId, platform::MCI_STOP, 0, &Params);
  CloseDevice();
}

TDiscPosition TCDPlayer::Position() {
  OpenDevice();
  SetTimeFormat(platform::MCI_FORMAT_TMSF);
  const uintptr_t Packed = QueryStatus(platform::MCI_STATUS_POSITION);
  TDiscPosition Result;
  Result.Track = static_cast<uint8_t>(Packed);
  Result.Time.Minutes = static_cast<uint8_t>(Packed >> 8);
  Result.Time.Seconds = static_cast<uint8_t>(Packed >> 16);
  Result.Time.Frames = static_cast<uint8_t>(Packed >> 24);
  SetTimeFormat(platform::MCI_FORMAT_MSF);
  CloseDevice();
  return Result;
}

uint16_t TCDPlayer::VolumeBits(uint32_t Shift) {
  if (FAuxDevice < 0)
    return 0;
  uint32_t Volume = 0;
  platform::auxGetVolume(static_cast<uint32_t>(FAuxDevice), &Volume);
  return static_cast<uint16_t>(Volume >> Shift);
}

void TCDPlayer::SetVolumeBits(uint16_t Value, uint32_t Shift) {
  if (FAuxDevice < 0)
    return;
  uint32_t Volume = 0;
  platform::auxGetVolume(static_cast<uint32_t>(FAuxDevice), &Volume);
  Volume = (Volume & ~(0xFFFFu << Shift)) | uint32_t{Value} << Shift;
  platform::auxSetVolume(static_cast<uint32_t>(FAuxDevice), Volume);
}

uint16_t TCDPlayer::LVolume() {
  return VolumeBits(0);
}

void TCDPlayer::SetLVolume(uint16_t Value) {
  SetVolumeBits(Value, 0);
}

uint16_t TCDPlayer::RVolume() {
  return VolumeBits(16);
}

void TCDPlayer::SetRVolume(uint16_t Value) {
  SetVolumeBits(Value, 16);
}
