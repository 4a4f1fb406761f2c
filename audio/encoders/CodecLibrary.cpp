#include "audio/encoders/CodecLibrary.h"

#include "audio/core/ACS_Classes.h"

#include <mutex>
#include <string>

void TCodecLibrary::Load(void (*Resolve)()) {
  std::lock_guard Guard(CodecLoadLock);
  if (FLoaded)
    return;
  FModule = platform::LoadModule(FFileName);
  if (!FModule.Loaded())
    return;
  Resolve();
  FLoaded = true;
}

void TCodecLibrary::RequireLoaded() const {
  if (!FLoaded)
    throw EAuException(std::string(FFileName) + " library could not be loaded.");
}
