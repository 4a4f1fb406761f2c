#include "tests/support/RefusedLibraries.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace {

std::mutex LoaderLock;
std::set<std::string> Refused;
std::map<std::string, int> Opened;

std::string BaseName(const char* File) {
  const std::string Name = File;
  return Name.substr(Name.rfind('/') + 1);
}

} // namespace

void RefuseLibraries(std::set<std::string> Files) {
  std::lock_guard Guard(LoaderLock);
  Refused = std::move(Files);
}

int LibraryOpenCount(const std::string& File) {
  std::lock_guard Guard(LoaderLock);
  return Opened[File];
}

// Every dlopen of the process comes here first; the program's own definition wins over the C
// library's.
extern "C" void* dlopen(const char* File, int Mode) {
  using TDlopen = void* (*)(const char*, int);
  static const auto Real = reinterpret_cast<TDlopen>(dlsym(RTLD_NEXT, "dlopen"));
  if (File != nullptr) {
    std::lock_guard Guard(LoaderLock);
    const std::string Name = BaseName(File);
    if (Refused.count(Name) != 0)
      return nullptr;
    ++Opened[Name];
  }
  return Real(File, Mode);
}
