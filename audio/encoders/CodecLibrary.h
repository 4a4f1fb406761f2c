#pragma once

#include "platform/Module.h"

#include <atomic>

// A codec library loaded at run time by its Windows file name. It is loaded and its entry
// points resolved once, under CodecLoadLock, and it stays loaded until the process ends.
class TCodecLibrary {
public:
  explicit TCodecLibrary(const char* FileName) : FFileName(FileName) {}
  TCodecLibrary(const TCodecLibrary&) = delete;
  TCodecLibrary& operator=(const TCodecLibrary&) = delete;

  // Loads the library unless it is loaded and then calls Resolve; a failed load leaves it
  // unloaded, to be tried again at the next call.
  void Load(void (*Resolve)());
  // Set only after the entry points have been resolved, so a reader sees a complete table.
  bool Loaded() const { return FLoaded; }
  // Raises EAuException "<file name> library could not be loaded." unless it is loaded.
  void RequireLoaded() const;

  template <class F> void Resolve(F& Slot, const char* Name) const {
    Slot = reinterpret_cast<F>(FModule.Symbol(Name));
  }

private:
  const char* FFileName;
  // Guarded by CodecLoadLock; never replaced once loaded.
  platform::TModule FModule;
  std::atomic<bool> FLoaded{false};
};
