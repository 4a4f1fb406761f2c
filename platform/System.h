#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The folder of the running program's executable, ending in '/'.
std::string ProgramFolder();

// The user's application-data folder: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config (HOME from the password database when unset). No trailing '/'. Empty when
// neither can be found.
std::string AppDataFolder();

// The user's music folder: what `xdg-user-dir MUSIC` prints when that is an absolute folder
// other than the home folder (which it prints when no music folder is set), else $HOME/Music.
// No trailing '/'. Empty when there is no home folder.
std::string UserMusicFolder();

// Whether this process may create files in the folder, by its effective user and group: the
// folder of an installed program is not writable.
bool FolderWritable(const std::string& Path);

bool DirectoryExists(const std::string& Path);
// Creates one folder (its parent must exist). False with errno set on failure.
bool CreateDir(const std::string& Path);

inline constexpr uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

struct TOSVersionInfo {
  uint32_t MajorVersion = 0;
  uint32_t MinorVersion = 0;
  uint32_t BuildNumber = 0;
  uint32_t PlatformId = VER_PLATFORM_WIN32_NT;
};

// Always the NT family; the numbers are the kernel's release.
TOSVersionInfo GetVersionEx();

// A monotonic counter and its ticks per second.
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();

} // namespace platform
