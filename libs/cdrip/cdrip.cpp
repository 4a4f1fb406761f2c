#include "libs/cdrip/cdrip.h"

#include "libs/LibraryState.h"
#include "libs/cdrip/Ripper.h"
#include "platform/DriveRegistry.h"
#include "platform/IniReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

constexpr int32_t MaxChunkSectors = CDRIP_MAX_CHUNK_BYTES / platform::CDSectorBytes;
constexpr size_t ParametersBytes = 364;
constexpr size_t NameBytes = 255;

struct TLibrary {
  // The calls of the user interface: settings, the selected drive, the kept table.
  std::mutex StateLock;
  // Guarded by StateLock.
  int32_t Active = 0;
  int32_t ChunkSectors = MaxChunkSectors;
  std::unique_ptr<platform::TDisc> Disc; // opened again only when its medium changed
  std::optional<platform::TDiscToc> Toc; // as the last CR_ReadToc found it

  // The calls of the ripping worker. Taken before StateLock where both are needed; the table
  // and status calls never take it, so they do not wait for a chunk being read.
  std::mutex RipLock;
  std::unique_ptr<cdrip::TRipper> Ripper; // guarded by RipLock
};

using TState = libs::TLibraryState<TLibrary>;

TLibrary& Library() {
  return TState::Get();
}

// Under StateLock.
std::optional<platform::TDriveInfo> ActiveDrive() {
  std::vector<platform::TDriveInfo> Drives = platform::CDDrives();
  const int32_t Active = Library().Active;
  if (Active < 0 || static_cast<size_t>(Active) >= Drives.size())
    return std::nullopt;
  return Drives[static_cast<size_t>(Active)];
}

// Under StateLock.
platform::TDisc* CurrentDisc() {
  std::unique_ptr<platform::TDisc>& Disc = Library().Disc;
  const std::optional<platform::TDriveInfo> Drive = ActiveDrive();
  if (Disc && (!Drive || Disc->Letter() != Drive->Letter || Disc->Changed()))
    Disc.reset();
  if (!Disc && Drive)
    Disc = platform::OpenDisc(Drive->Letter);
  return Disc.get();
}

} // namespace

extern "C" {

int32_t CR_Init(const char* iniPath) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (!iniPath)
      return CDRIP_ERR_NULL_POINTER;
    const platform::TIniReader Settings(iniPath);
    const std::lock_guard Guard(L.StateLock);
    L.Active = static_cast<int32_t>(
        std::clamp<int64_t>(Settings.ReadInteger("CD-ROM", "nActive", 0), 0, INT32_MAX));
    L.ChunkSectors = static_cast<int32_t>(std::clamp<int64_t>(
        Settings.ReadInteger("CD-ROM", "nReadSectors", MaxChunkSectors), 1, MaxChunkSectors));
    L.Disc.reset();
    L.Toc.reset();
    return CDRIP_OK;
  });
}

int32_t CR_DeInit(void) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, []() -> int32_t {
    TLibrary& L = Library();
    const std::lock_guard RipGuard(L.RipLock);
    L.Ripper.reset();
    const std::lock_guard Guard(L.StateLock);
    L.Disc.reset();
    L.Toc.reset();
    return CDRIP_OK;
  });
}

int32_t CR_GetNumCDROM(void) {
  return TState::Guarded(0, [] { return static_cast<int32_t>(platform::CDDrives().size()); });
}

int32_t CR_SetActiveCDROM(int32_t index) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (index < 0 || static_cast<size_t>(index) >= platform::CDDrives().size())
      return CDRIP_ERR_NO_DRIVE;
    const std::lock_guard Guard(L.StateLock);
    if (index != L.Active) {
      L.Active = index;
      L.Disc.reset();
      L.Toc.reset();
    }
    return CDRIP_OK;
  });
}

int32_t CR_GetCDROMParameters(void* record364) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (!record364)
      return CDRIP_ERR_NULL_POINTER;
    char* Record = static_cast<char*>(record364);
    std::memset(Record, 0, ParametersBytes);
    const std::lock_guard Guard(L.StateLock);
    const std::optional<platform::TDriveInfo> Drive = ActiveDrive();
    if (!Drive)
      return CDRIP_ERR_NO_DRIVE;
    Drive->Name.copy(Record, NameBytes - 1);
    return CDRIP_OK;
  });
}

int32_t CR_ReadToc(void) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, []() -> int32_t {
    TLibrary& L = Library();
    const std::lock_guard Guard(L.StateLock);
    L.Toc.reset();
    const platform::TDisc* Current = CurrentDisc();
    if (!Current)
      return CDRIP_ERR_NO_DISC;
    L.Toc = Current->Toc();
    return CDRIP_OK;
  });
}

int32_t CR_GetNumTocEntries(void) {
  return TState::Guarded(0, [] {
    TLibrary& L = Library();
    const std::lock_guard Guard(L.StateLock);
    return L.Toc ? static_cast<int32_t>(L.Toc->Tracks.size()) : 0;
  });
}

TOCENTRY CR_GetTocEntry(int32_t index) {
  return TState::Guarded(TOCENTRY{}, [&] {
    TLibrary& L = Library();
    const std::lock_guard Guard(L.StateLock);
    if (!L.Toc || index < 0 || static_cast<size_t>(index) > L.Toc->Tracks.size())
      return TOCENTRY{};
    if (static_cast<size_t>(index) == L.Toc->Tracks.size())
      return TOCENTRY{static_cast<uint32_t>(L.Toc->LeadOut), CDRIP_TOC_AUDIO, CDRIP_LEADOUT_TRACK};
    const platform::TTocTrack& Track = L.Toc->Tracks[static_cast<size_t>(index)];
    return TOCENTRY{static_cast<uint32_t>(Track.Lsn),
                    static_cast<uint8_t>(Track.Audio ? CDRIP_TOC_AUDIO : CDRIP_TOC_DATA),
                    Track.Number};
  });
}

int32_t CR_IsMediaLoaded(int32_t* state) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (!state)
      return CDRIP_ERR_NULL_POINTER;
    const std::lock_guard Guard(L.StateLock);
    *state = CurrentDisc() ? 0 : 1;
    return CDRIP_OK;
  });
}

int32_t CR_IsAudioPlaying(void) {
  return TState::Guarded(0, []() -> int32_t {
    TLibrary& L = Library();
    const std::lock_guard Guard(L.StateLock);
    const std::optional<platform::TDriveInfo> Drive = ActiveDrive();
    return Drive && platform::DrivePlaying(Drive->Letter);
  });
}

int32_t CR_EjectCD(int32_t eject) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    const std::lock_guard Guard(L.StateLock);
    const std::optional<platform::TDriveInfo> Drive = ActiveDrive();
    if (!Drive)
      return CDRIP_ERR_NO_DRIVE;
    return platform::EjectDrive(Drive->Letter, eject != 0) ? CDRIP_OK : CDRIP_ERR_EJECT;
  });
}

int32_t CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (!bufferSize)
      return CDRIP_ERR_NULL_POINTER;
    const std::lock_guard RipGuard(L.RipLock);
    L.Ripper.reset();
    std::optional<platform::TDriveInfo> Drive;
    int32_t Sectors;
    {
      const std::lock_guard Guard(L.StateLock);
      Drive = ActiveDrive();
      Sectors = std::min(L.ChunkSectors, *bufferSize / platform::CDSectorBytes);
    }
    if (!Drive)
      return CDRIP_ERR_NO_DRIVE;
    if (Sectors < 1)
      return CDRIP_ERR_BUFFER_TOO_SMALL;
    // A handle of the rip's own, so that table reads meanwhile need not wait for a chunk.
    std::unique_ptr<platform::TDisc> RipDisc = platform::OpenDisc(Drive->Letter);
    if (!RipDisc)
      return CDRIP_ERR_NO_DISC;
    if (const int32_t Error = cdrip::TRipper::CheckRange(RipDisc->Toc(), startSector, endSector))
      return Error;
    L.Ripper = cdrip::TRipper::Open(std::move(RipDisc), startSector, endSector,
                                    static_cast<uint32_t>(Sectors));
    if (!L.Ripper)
      return CDRIP_ERR_READ;
    *bufferSize = Sectors * platform::CDSectorBytes;
    return CDRIP_OK;
  });
}

int32_t CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t* abort) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, [&]() -> int32_t {
    TLibrary& L = Library();
    if (numBytes)
      *numBytes = 0;
    if (!buffer || !numBytes || !abort)
      return CDRIP_ERR_NULL_POINTER;
    const std::lock_guard RipGuard(L.RipLock);
    if (!L.Ripper)
      return CDRIP_ERR_NOT_OPEN;
    if (*abort)
      return CDRIP_ERR_ABORTED;
    return L.Ripper->ReadChunk(buffer, *numBytes);
  });
}

int32_t CR_CloseRipper(void) {
  return TState::Guarded(CDRIP_ERR_INTERNAL, []() -> int32_t {
    TLibrary& L = Library();
    const std::lock_guard RipGuard(L.RipLock);
    L.Ripper.reset();
    return CDRIP_OK;
  });
}

#define CDRIP_NOT_SUPPORTED(Name)                                                                  \
  int32_t Name(void) {                                                                             \
    return CDRIP_ERR_NOT_SUPPORTED;                                                                \
  }

CDRIP_NOT_SUPPORTED(CR_GetCDRipVersion)
CDRIP_NOT_SUPPORTED(CR_GetActiveCDROM)
CDRIP_NOT_SUPPORTED(CR_SelectCDROMType)
CDRIP_NOT_SUPPORTED(CR_GetCDROMType)
CDRIP_NOT_SUPPORTED(CR_SetCDROMParameters)
CDRIP_NOT_SUPPORTED(CR_GetPercentCompleted)
CDRIP_NOT_SUPPORTED(CR_GetPeakValue)
CDRIP_NOT_SUPPORTED(CR_GetNumberOfJitterErrors)
CDRIP_NOT_SUPPORTED(CR_GetJitterPosition)
CDRIP_NOT_SUPPORTED(CR_LoadSettings)
CDRIP_NOT_SUPPORTED(CR_SaveSettings)
CDRIP_NOT_SUPPORTED(CR_NormalizeChunk)
CDRIP_NOT_SUPPORTED(CR_ReadCDText)
CDRIP_NOT_SUPPORTED(CR_IsUnitReady)
CDRIP_NOT_SUPPORTED(CR_PlayTrack)
CDRIP_NOT_SUPPORTED(CR_StopPlayTrack)
CDRIP_NOT_SUPPORTED(CR_PauseCD)
CDRIP_NOT_SUPPORTED(CR_GetCDStatusInfo)
CDRIP_NOT_SUPPORTED(CR_LockCD)
CDRIP_NOT_SUPPORTED(CR_GetSubChannelTrackInfo)
CDRIP_NOT_SUPPORTED(CR_GetPlayPosition)
CDRIP_NOT_SUPPORTED(CR_SetPlayPosition)
CDRIP_NOT_SUPPORTED(CR_PlaySection)
CDRIP_NOT_SUPPORTED(CR_GetLastJitterErrorPosition)
CDRIP_NOT_SUPPORTED(CR_GetCurrentRipSector)
CDRIP_NOT_SUPPORTED(CR_SetTransportLayer)
CDRIP_NOT_SUPPORTED(CR_GetTransportLayer)
CDRIP_NOT_SUPPORTED(CR_ScanForC2Errors)

} // extern "C"
