#pragma once

#include "libs/lame_enc/lame_enc.h"

// The entry points of the MP3 encoder library (lame_enc.dll), resolved by name in this order
// when it is loaded; a name the library lacks stays null.
struct TLameEntries {
  decltype(&::beInitStream) beInitStream = nullptr;
  decltype(&::beEncodeChunk) beEncodeChunk = nullptr;
  decltype(&::beDeinitStream) beDeinitStream = nullptr;
  decltype(&::beCloseStream) beCloseStream = nullptr;
  decltype(&::beWriteVBRHeader) beWriteVBRHeader = nullptr;
  decltype(&::beFlushNoGap) beFlushNoGap = nullptr;
  decltype(&::beWriteInfoTag) beWriteInfoTag = nullptr;
};

// The process's entry points; all null while the library is not loaded.
const TLameEntries& Lame();
bool LameLoaded();
// Takes one reference on the library, loading it at the first; true when the caller now holds
// a reference. A failed load takes none and is tried again at the next call.
bool LoadLameLibrary();
// Gives back a reference that LoadLameLibrary gave; the last one unloads the library, so one
// writer going away never pulls it from under another.
void UnloadLameLibrary();
