#include "platform/System.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace platform {
namespace {

std::string HomeFolder() {
  if (const char* Home = std::getenv("HOME"); Home && *Home)
    return Home;
  std::vector<char> Buffer(1024);
  passwd Entry;
  passwd* Found = nullptr;
  int Error;
  while ((Error = getpwuid_r(getuid(), &Entry, Buffer.data(), Buffer.size(), &Found)) == ERANGE)
    Buffer.resize(Buffer.size() * 2);
  if (Error != 0 || !Found || !Found->pw_dir)
    return {};
  return Found->pw_dir;
}

std::string WithoutTrailingSlash(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/')
    Path.pop_back();
  return Path;
}

struct TPipeCloser {
  void operator()(FILE* Pipe) const { pclose(Pipe); }
};

// The first line that the command prints, or empty when it fails.
std::string FirstLineOf(const char* Command) {
  std::unique_ptr<FILE, TPipeCloser> Pipe(popen(Command, "re"));
  if (!Pipe)
    return {};
  std::string Output;
  char Buffer[4096];
  while (const size_t Count = std::fread(Buffer, 1, sizeof Buffer, Pipe.get()))
    Output.append(Buffer, Count);
  const int Status = pclose(Pipe.release());
  if (Status != 0)
    return {};
  return Output.substr(0, Output.find('\n'));
}

} // namespace

std::string ProgramFolder() {
  std::string Path(PATH_MAX, '\0');
  const ssize_t Length = readlink("/proc/self/exe", Path.data(), Path.size());
  // A full buffer may be a cut-off name.
  if (Length <= 0 || static_cast<size_t>(Length) == Path.size())
    return {};
  Path.resize(static_cast<size_t>(Length));
  return Path.substr(0, Path.rfind('/') + 1);
}

std::string AppDataFolder() {
  if (const char* Config = std::getenv("XDG_CONFIG_HOME"); Config && Config[0] == '/')
    return WithoutTrailingSlash(Config);
  std::string Home = HomeFolder();
  if (Home.empty())
    return {};
  // A HOME of "/" or "/home/me/" still gives a single '/' before ".config".
  Home.erase(Home.find_last_not_of('/') + 1);
  return Home + "/.config";
}

std::string UserMusicFolder() {
  const std::string Home = WithoutTrailingSlash(HomeFolder());
  if (Home.empty())
    return {};
  const std::string Music =
      WithoutTrailingSlash(FirstLineOf("xdg-user-dir MUSIC </dev/null 2>/dev/null"));
  if (Music.size() > 1 && Music[0] == '/' && Music != Home)
    return Music;
  return (Home == "/" ? "" : Home) + "/Music";
}

bool FolderWritable(const std::string& Path) {
  return faccessat(AT_FDCWD, Path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool DirectoryExists(const std::string& Path) {
  struct stat Status;
  return stat(Path.c_str(), &Status) == 0 && S_ISDIR(Status.st_mode);
}

bool CreateDir(const std::string& Path) {
  return mkdir(Path.c_str(), 0777) == 0;
}

TOSVersionInfo GetVersionEx() {
  TOSVersionInfo Info;
  utsname Name;
  if (uname(&Name) != 0)
    return Info;
  // Up to three dot-separated numbers lead the release: "6.18.44-generic".
  const char* Next = Name.release;
  const char* End = Next + std::strlen(Next);
  for (uint32_t* Field : {&Info.MajorVersion, &Info.MinorVersion, &Info.BuildNumber}) {
    const auto [Stop, Error] = std::from_chars(Next, End, *Field);
    if (Error != std::errc() || Stop == End || *Stop != '.')
      break;
    Next = Stop + 1;
  }
  return Info;
}

int64_t QueryPerformanceCounter() {
  timespec Now;
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return static_cast<int64_t>(Now.tv_sec) * 1'000'000'000 + Now.tv_nsec;
}

int64_t QueryPerformanceFrequency() {
  return 1'000'000'000;
}

} // namespace platform
