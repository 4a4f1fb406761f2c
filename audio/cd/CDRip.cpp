#include "audio/cd/CDRip.h"

#include "audio/core/ACS_Classes.h"
#include "platform/Module.h"
#include "platform/System.h"
#include "runtime/Exception.h"
#include "runtime/IniFile.h"

#include <mutex>

namespace {

// Guards the module and the table; the library is loaded by the user-interface thread, but
// nothing stops a second caller.
std::mutex LoadLock;
TCDRipEntries Entries;
bool Loaded = false;

// Shuts the library down at process end, after every component has gone.
struct TRipModule {
  platform::TModule Module;
  ~TRipModule() {
    if (Loaded && Entries.CR_DeInit)
      Entries.CR_DeInit();
  }
};
TRipModule RipModule;

template <class F> void Resolve(F& Slot, const char* Name) {
  Slot = reinterpret_cast<F>(RipModule.Module.Symbol(Name));
}

void ResolveEntries() {
#define TAVRUNE_RESOLVE(Name) Resolve(Entries.Name, #Name)
  TAVRUNE_RESOLVE(CR_Init);
  TAVRUNE_RESOLVE(CR_DeInit);
  TAVRUNE_RESOLVE(CR_GetNumCDROM);
  TAVRUNE_RESOLVE(CR_SetActiveCDROM);
  TAVRUNE_RESOLVE(CR_GetCDROMParameters);
  TAVRUNE_RESOLVE(CR_ReadToc);
  TAVRUNE_RESOLVE(CR_GetNumTocEntries);
  TAVRUNE_RESOLVE(CR_GetTocEntry);
  TAVRUNE_RESOLVE(CR_IsMediaLoaded);
  TAVRUNE_RESOLVE(CR_IsAudioPlaying);
  TAVRUNE_RESOLVE(CR_EjectCD);
  TAVRUNE_RESOLVE(CR_OpenRipper);
  TAVRUNE_RESOLVE(CR_RipChunk);
  TAVRUNE_RESOLVE(CR_CloseRipper);
  TAVRUNE_RESOLVE(CR_GetCDRipVersion);
  TAVRUNE_RESOLVE(CR_GetActiveCDROM);
  TAVRUNE_RESOLVE(CR_SelectCDROMType);
  TAVRUNE_RESOLVE(CR_GetCDROMType);
  TAVRUNE_RESOLVE(CR_SetCDROMParameters);
  TAVRUNE_RESOLVE(CR_GetPercentCompleted);
  TAVRUNE_RESOLVE(CR_GetPeakValue);
  TAVRUNE_RESOLVE(CR_GetNumberOfJitterErrors);
  TAVRUNE_RESOLVE(CR_GetJitterPosition);
  TAVRUNE_RESOLVE(CR_LoadSettings);
  TAVRUNE_RESOLVE(CR_SaveSettings);
  TAVRUNE_RESOLVE(CR_NormalizeChunk);
  TAVRUNE_RESOLVE(CR_ReadCDText);
  TAVRUNE_RESOLVE(CR_IsUnitReady);
  TAVRUNE_RESOLVE(CR_PlayTrack);
  TAVRUNE_RESOLVE(CR_StopPlayTrack);
  TAVRUNE_RESOLVE(CR_PauseCD);
  TAVRUNE_RESOLVE(CR_GetCDStatusInfo);
  TAVRUNE_RESOLVE(CR_LockCD);
  TAVRUNE_RESOLVE(CR_GetSubChannelTrackInfo);
  TAVRUNE_RESOLVE(CR_GetPlayPosition);
  TAVRUNE_RESOLVE(CR_SetPlayPosition);
  TAVRUNE_RESOLVE(CR_PlaySection);
  TAVRUNE_RESOLVE(CR_GetLastJitterErrorPosition);
  TAVRUNE_RESOLVE(CR_GetCurrentRipSector);
  TAVRUNE_RESOLVE(CR_SetTransportLayer);
  TAVRUNE_RESOLVE(CR_GetTransportLayer);
  TAVRUNE_RESOLVE(CR_ScanForC2Errors);
#undef TAVRUNE_RESOLVE
}

// The transport layer the library should use on this platform family; empty for none.
const char* TransportLayer(uint32_t PlatformId) {
  switch (PlatformId) {
  case platform::VER_PLATFORM_WIN32s:
    return nullptr;
  case platform::VER_PLATFORM_WIN32_WINDOWS:
    return "0";
  default:
    return "1";
  }
}

} // namespace

const TCDRipEntries& CDRip() {
  return Entries;
}

bool CDRipLoaded() {
  std::lock_guard Guard(LoadLock);
  return Loaded;
}

std::string CDRipSettingsFolder() {
  // Our settings live in the program's own folder below the user's configuration folder; the
  // program's folder when that cannot be made.
  const std::string Config = platform::AppDataFolder();
  if (!Config.empty()) {
    const std::string Folder = Config + "/tavrune";
    if ((platform::DirectoryExists(Config) || platform::CreateDir(Config)) &&
        (platform::DirectoryExists(Folder) || platform::CreateDir(Folder)))
      return Folder + "/";
  }
  return platform::ProgramFolder();
}

void LoadRipLibrary() {
  std::lock_guard Guard(LoadLock);
  const std::string Folder = CDRipSettingsFolder();
  if (!Loaded) {
    RipModule.Module = platform::LoadModule("cdrip.dll");
    if (!RipModule.Module.Loaded())
      return;
    Loaded = true;
    ResolveEntries();
  }
  const std::string IniFile = Folder + "cdr.ini";
  TIniFile Settings(IniFile);
  Settings.WriteString("CD-ROM", "nActive", "0");
  if (const char* Layer = TransportLayer(platform::GetVersionEx().PlatformId))
    Settings.WriteString("CD-ROM", "nTransportLayer", Layer);
  if (Entries.CR_Init)
    Entries.CR_Init(IniFile.c_str());
}

void RaiseMissingEntry(const char* Name) {
  throw EAuException(FormatMessage("cdrip.dll lacks %s", {Name}));
}

std::string CDRipErrorText(int32_t Result) {
  switch (Result) {
  case CDRIP_ERR_NO_DISC:
    return "The drive is not ready";
  case CDRIP_ERR_MEDIUM_CHANGED:
    return "The disc was removed or changed during the rip";
  case CDRIP_ERR_READ:
    return "The disc could not be read";
  default:
    return FormatMessage("The CD library failed with error %s", {std::to_string(Result)});
  }
}
