#include "platform/Module.h"

#include "platform/System.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace platform {
namespace {

struct TModuleName {
  std::string_view Windows;
  // Shipped with the program, in its library folder.
  bool Ours;
  std::array<std::string_view, 2> Linux;
};

constexpr TModuleName ModuleNames[] = {
    {"cdrip.dll", true, {"libcdrip.so"}},
    {"lame_enc.dll", true, {"liblame_enc.so"}},
    {"MACDll.dll", true, {"libMACDll.so"}},
    {"ogg.dll", false, {"libogg.so.0"}},
    {"vorbis.dll", false, {"libvorbis.so.0"}},
    {"vorbisenc.dll", false, {"libvorbisenc.so.2"}},
    {"vorbisfile.dll", false, {"libvorbisfile.so.3"}},
    {"libFLAC.dll", false, {"libFLAC.so.12", "libFLAC.so.8"}},
};

thread_local std::string LastError;

char LowerAscii(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

// Windows file names ignore letter case.
const TModuleName* FindModuleName(std::string_view Name) {
  const auto Same = [](char A, char B) { return LowerAscii(A) == LowerAscii(B); };
  for (const TModuleName& Entry : ModuleNames)
    if (std::ranges::equal(Entry.Windows, Name, Same))
      return &Entry;
  return nullptr;
}

// The loader's own idea of the file, so that a bare name found by the system search reports
// where it was found.
std::string LoadedPath(void* Handle, const std::string& Tried) {
  link_map* Map = nullptr;
  if (dlinfo(Handle, RTLD_DI_LINKMAP, &Map) != 0 || !Map || !Map->l_name || !*Map->l_name)
    return Tried;
  return Map->l_name;
}

TModule TryLoad(const std::string& File) {
  void* Handle = dlopen(File.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    const char* Error = dlerror();
    LastError = Error ? Error : File + ": cannot be loaded";
    return {};
  }
  return TModule(Handle, LoadedPath(Handle, File));
}

std::string InFolder(std::string_view Folder, const std::string& File) {
  std::string Path(Folder);
  if (Path.back() != '/')
    Path += '/';
  return Path + File;
}

} // namespace

TModule::TModule(void* Handle, std::string Path) : FHandle(Handle), FPath(std::move(Path)) {}

TModule::~TModule() {
  if (FHandle)
    dlclose(FHandle);
}

TModule::TModule(TModule&& Other) noexcept
    : FHandle(std::exchange(Other.FHandle, nullptr)), FPath(std::exchange(Other.FPath, {})) {}

TModule& TModule::operator=(TModule&& Other) noexcept {
  // Our old library goes with Taken, right here.
  TModule Taken(std::move(Other));
  std::swap(FHandle, Taken.FHandle);
  std::swap(FPath, Taken.FPath);
  return *this;
}

void* TModule::Symbol(const char* Name) const {
  return FHandle ? dlsym(FHandle, Name) : nullptr;
}

std::vector<std::string> ModuleFileNames(std::string_view Name) {
  const TModuleName* Entry = FindModuleName(Name);
  if (!Entry)
    return {std::string(Name)};
  std::vector<std::string> Names;
  for (std::string_view File : Entry->Linux)
    if (!File.empty())
      Names.emplace_back(File);
  return Names;
}

TModule LoadModule(std::string_view Name) {
  const std::vector<std::string> Candidates = ModuleFileNames(Name);
  std::vector<std::string> Files;
  if (const char* Folders = std::getenv("TAVRUNE_LIBRARY_PATH")) {
    std::string_view Rest = Folders;
    while (!Rest.empty()) {
      const size_t Colon = std::min(Rest.find(':'), Rest.size());
      const std::string_view Folder = Rest.substr(0, Colon);
      Rest.remove_prefix(std::min(Colon + 1, Rest.size()));
      if (Folder.empty())
        continue;
      for (const std::string& Candidate : Candidates)
        Files.push_back(InFolder(Folder, Candidate));
    }
  }
  if (const TModuleName* Entry = FindModuleName(Name); Entry && Entry->Ours) {
    // Without a program folder, "../lib/" would be taken from the working folder.
    if (const std::string Program = ProgramFolder(); !Program.empty())
      for (const std::string& Candidate : Candidates)
        Files.push_back(Program + "../lib/" + Candidate);
  }
  Files.insert(Files.end(), Candidates.begin(), Candidates.end());

  for (const std::string& File : Files)
    if (TModule Module = TryLoad(File); Module.Loaded())
      return Module;
  return {};
}

std::string LastModuleError() {
  return LastError;
}

} // namespace platform
