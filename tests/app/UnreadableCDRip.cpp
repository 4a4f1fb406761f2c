// A stand-in of the ripping library whose disc has sectors that cannot be read. Every call goes
// to the real library (TAVRUNE_REAL_CDRIP), except that CR_RipChunk fails with CDRIP_ERR_READ,
// and no bytes, once the chunk it would deliver touches the sectors named by the environment
// variable TAVRUNE_UNREADABLE_SECTORS, "First-Last" (LSNs, both unreadable), as a drive fails
// a rip. The variable is read at every CR_OpenRipper; unset, every sector reads.
#include "libs/cdrip/cdrip.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

void* RealSymbol(const char* Name) {
  // Never closed: the program calls CR_DeInit at its very end.
  static void* const Library = dlopen(TAVRUNE_REAL_CDRIP, RTLD_NOW | RTLD_LOCAL);
  void* Symbol = Library ? dlsym(Library, Name) : nullptr;
  if (!Symbol) {
    std::fprintf(stderr, "UnreadableCDRip: %s\n", dlerror());
    std::abort();
  }
  return Symbol;
}
#define REAL(Name) reinterpret_cast<decltype(&::Name)>(RealSymbol(#Name))

std::mutex Lock;
int64_t FirstUnreadable = -1;
int64_t LastUnreadable = -2;
// The first sector of the chunk that CR_RipChunk delivers next.
int64_t NextSector = 0;
// A drive's rip fails for good: every later chunk too.
bool Failed = false;

} // namespace

extern "C" {

int32_t CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
  const int32_t Result = REAL(CR_OpenRipper)(bufferSize, startSector, endSector);
  std::lock_guard Guard(Lock);
  NextSector = startSector;
  Failed = false;
  long long First = -1;
  long long Last = -2;
  if (const char* Range = std::getenv("TAVRUNE_UNREADABLE_SECTORS"))
    std::sscanf(Range, "%lld-%lld", &First, &Last);
  FirstUnreadable = First;
  LastUnreadable = Last;
  return Result;
}

int32_t CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t* abort) {
  const int32_t Result = REAL(CR_RipChunk)(buffer, numBytes, abort);
  if (Result != CDRIP_OK)
    return Result;
  std::lock_guard Guard(Lock);
  const int64_t First = NextSector;
  NextSector += *numBytes / 2352;
  if (Failed || (NextSector > First && First <= LastUnreadable && NextSector > FirstUnreadable)) {
    Failed = true;
    std::memset(buffer, 0, static_cast<size_t>(*numBytes));
    *numBytes = 0;
    return CDRIP_ERR_READ;
  }
  return CDRIP_OK;
}

int32_t CR_Init(const char* iniPath) {
  return REAL(CR_Init)(iniPath);
}
int32_t CR_SetActiveCDROM(int32_t index) {
  return REAL(CR_SetActiveCDROM)(index);
}
int32_t CR_GetCDROMParameters(void* record364) {
  return REAL(CR_GetCDROMParameters)(record364);
}
TOCENTRY CR_GetTocEntry(int32_t index) {
  return REAL(CR_GetTocEntry)(index);
}
int32_t CR_IsMediaLoaded(int32_t* state) {
  return REAL(CR_IsMediaLoaded)(state);
}
int32_t CR_EjectCD(int32_t eject) {
  return REAL(CR_EjectCD)(eject);
}

// The entry points without arguments.
#define FORWARD(Name)                                                                              \
  int32_t Name(void) {                                                                             \
    return REAL(Name)();                                                                           \
  }
FORWARD(CR_DeInit)
FORWARD(CR_GetNumCDROM)
FORWARD(CR_ReadToc)
FORWARD(CR_GetNumTocEntries)
FORWARD(CR_IsAudioPlaying)
FORWARD(CR_CloseRipper)
FORWARD(CR_GetCDRipVersion)
FORWARD(CR_GetActiveCDROM)
FORWARD(CR_SelectCDROMType)
FORWARD(CR_GetCDROMType)
FORWARD(CR_SetCDROMParameters)
FORWARD(CR_GetPercentCompleted)
FORWARD(CR_GetPeakValue)
FORWARD(CR_GetNumberOfJitterErrors)
FORWARD(CR_GetJitterPosition)
FORWARD(CR_LoadSettings)
FORWARD(CR_SaveSettings)
FORWARD(CR_NormalizeChunk)
FORWARD(CR_ReadCDText)
FORWARD(CR_IsUnitReady)
FORWARD(CR_PlayTrack)
FORWARD(CR_StopPlayTrack)
FORWARD(CR_PauseCD)
FORWARD(CR_GetCDStatusInfo)
FORWARD(CR_LockCD)
FORWARD(CR_GetSubChannelTrackInfo)
FORWARD(CR_GetPlayPosition)
FORWARD(CR_SetPlayPosition)
FORWARD(CR_PlaySection)
FORWARD(CR_GetLastJitterErrorPosition)
FORWARD(CR_GetCurrentRipSector)
FORWARD(CR_SetTransportLayer)
FORWARD(CR_GetTransportLayer)
FORWARD(CR_ScanForC2Errors)
}
