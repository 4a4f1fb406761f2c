#pragma once

#include "libs/cdrip/cdrip.h"

#include <cstdint>
#include <string>

// The entry points of the ripping library (cdrip.dll), resolved by name when it is loaded;
// a name the library lacks stays null.
struct TCDRipEntries {
  decltype(&::CR_Init) CR_Init = nullptr;
  decltype(&::CR_DeInit) CR_DeInit = nullptr;
  decltype(&::CR_GetNumCDROM) CR_GetNumCDROM = nullptr;
  decltype(&::CR_SetActiveCDROM) CR_SetActiveCDROM = nullptr;
  decltype(&::CR_GetCDROMParameters) CR_GetCDROMParameters = nullptr;
  decltype(&::CR_ReadToc) CR_ReadToc = nullptr;
  decltype(&::CR_GetNumTocEntries) CR_GetNumTocEntries = nullptr;
  decltype(&::CR_GetTocEntry) CR_GetTocEntry = nullptr;
  decltype(&::CR_IsMediaLoaded) CR_IsMediaLoaded = nullptr;
  decltype(&::CR_IsAudioPlaying) CR_IsAudioPlaying = nullptr;
  decltype(&::CR_EjectCD) CR_EjectCD = nullptr;
  decltype(&::CR_OpenRipper) CR_OpenRipper = nullptr;
  decltype(&::CR_RipChunk) CR_RipChunk = nullptr;
  decltype(&::CR_CloseRipper) CR_CloseRipper = nullptr;
  // Looked up with the others; nothing here calls them.
  void* CR_GetCDRipVersion = nullptr;
  void* CR_GetActiveCDROM = nullptr;
  void* CR_SelectCDROMType = nullptr;
  void* CR_GetCDROMType = nullptr;
  void* CR_SetCDROMParameters = nullptr;
  void* CR_GetPercentCompleted = nullptr;
  void* CR_GetPeakValue = nullptr;
  void* CR_GetNumberOfJitterErrors = nullptr;
  void* CR_GetJitterPosition = nullptr;
  void* CR_LoadSettings = nullptr;
  void* CR_SaveSettings = nullptr;
  void* CR_NormalizeChunk = nullptr;
  void* CR_ReadCDText = nullptr;
  void* CR_IsUnitReady = nullptr;
  void* CR_PlayTrack = nullptr;
  void* CR_StopPlayTrack = nullptr;
  void* CR_PauseCD = nullptr;
  void* CR_GetCDStatusInfo = nullptr;
  void* CR_LockCD = nullptr;
  void* CR_GetSubChannelTrackInfo = nullptr;
  void* CR_GetPlayPosition = nullptr;
  void* CR_SetPlayPosition = nullptr;
  void* CR_PlaySection = nullptr;
  void* CR_GetLastJitterErrorPosition = nullptr;
  void* CR_GetCurrentRipSector = nullptr;
  void* CR_SetTransportLayer = nullptr;
  void* CR_GetTransportLayer = nullptr;
  void* CR_ScanForC2Errors = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TCDRipEntries& CDRip();
bool CDRipLoaded();

// The folder of the library's settings file, ending in '/'.
std::string CDRipSettingsFolder();

// Loads the library unless it is loaded, writes its settings file ("cdr.ini") and calls
// CR_Init with that file. Nothing happens when the library cannot be loaded (CDRipLoaded stays
// false); a settings file that cannot be written raises the INI writer's error.
void LoadRipLibrary();

// What a failed read of the ripping library means to the user.
std::string CDRipErrorText(int32_t Result);

// Raises EAuException "cdrip.dll lacks <Name>": a call into a library that does not have
// the entry point.
[[noreturn]] void RaiseMissingEntry(const char* Name);

// The entry point, checked before it is called.
template <class F> F RequireEntry(F Entry, const char* Name) {
  if (!Entry)
    RaiseMissingEntry(Name);
  return Entry;
}
