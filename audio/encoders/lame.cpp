#include "audio/encoders/lame.h"

#include "platform/Module.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace {

template <class F> void Resolve(const platform::TModule& Module, F& Slot, const char* Name) {
  Slot = reinterpret_cast<F>(Module.Symbol(Name));
}

// Guards the module, the reference count and the table; the flag is set only while the table
// is complete.
std::mutex LameLock;
platform::TModule Module;
uint32_t References = 0;
TLameEntries Entries;
std::atomic<bool> Loaded{false};

} // namespace

const TLameEntries& Lame() {
  return Entries;
}

bool LameLoaded() {
  return Loaded;
}

bool LoadLameLibrary() {
  const std::lock_guard Guard(LameLock);
  if (References == 0) {
    platform::TModule Loading = platform::LoadModule("lame_enc.dll");
    if (!Loading.Loaded())
      return false;
    Module = std::move(Loading);
    Resolve(Module, Entries.beInitStream, "beInitStream");
    Resolve(Module, Entries.beEncodeChunk, "beEncodeChunk");
    Resolve(Module, Entries.beDeinitStream, "beDeinitStream");
    Resolve(Module, Entries.beCloseStream, "beCloseStream");
    Resolve(Module, Entries.beWriteVBRHeader, "beWriteVBRHeader");
    Resolve(Module, Entries.beFlushNoGap, "beFlushNoGap");
    Resolve(Module, Entries.beWriteInfoTag, "beWriteInfoTag");
    Loaded = true;
  }
  ++References;
  return true;
}

void UnloadLameLibrary() {
  const std::lock_guard Guard(LameLock);
  if (References == 0 || --References > 0)
    return;
  Loaded = false;
  Entries = {};
  Module = {};
}
