#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A loaded shared library; unloaded when the owner goes.
class TModule {
public:
  TModule() = default;
  TModule(void* Handle, std::string Path);
  ~TModule();
  TModule(TModule&& Other) noexcept;
  TModule& operator=(TModule&& Other) noexcept;
  TModule(const TModule&) = delete;
  TModule& operator=(const TModule&) = delete;

  bool Loaded() const { return FHandle != nullptr; }
  // The file that was loaded.
  const std::string& Path() const { return FPath; }
  // The address of an export, null when the library lacks it or nothing is loaded.
  void* Symbol(const char* Name) const;

private:
  void* FHandle = nullptr;
  std::string FPath;
};

// The Linux file names that stand for a library known by its Windows file name
// ("cdrip.dll" -> "libcdrip.so", "libFLAC.dll" -> "libFLAC.so.12", then "libFLAC.so.8"). A
// name the map does not know is its own only candidate.
std::vector<std::string> ModuleFileNames(std::string_view Name);

// Loads a library by its Windows file name. The search: every folder of the environment variable
// TAVRUNE_LIBRARY_PATH (colon-separated; tests put stand-in libraries there), then for our own
// libraries (cdrip, lame_enc, MACDll) the program's library folder, then the system's search.
// Returns an unloaded module when no candidate loads.
TModule LoadModule(std::string_view Name);

// The dynamic loader's text for the last failed load, empty when there was none.
std::string LastModuleError();

} // namespace platform
