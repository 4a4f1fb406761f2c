#pragma once

#include <vorbis/vorbisenc.h>

// The entry points of the Vorbis encoder set-up library (vorbisenc.dll), resolved by name in this
// order when it is loaded; a name the library lacks stays null.
struct TVorbisEncEntries {
  decltype(&::vorbis_encode_init) vorbis_encode_init = nullptr;
  decltype(&::vorbis_encode_setup_managed) vorbis_encode_setup_managed = nullptr;
  decltype(&::vorbis_encode_setup_vbr) vorbis_encode_setup_vbr = nullptr;
  decltype(&::vorbis_encode_init_vbr) vorbis_encode_init_vbr = nullptr;
  decltype(&::vorbis_encode_setup_init) vorbis_encode_setup_init = nullptr;
  decltype(&::vorbis_encode_ctl) vorbis_encode_ctl = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TVorbisEncEntries& VorbisEnc();
bool VorbisEncLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadVorbisEncLibrary();
// Raises EAuException "vorbisenc.dll library could not be loaded." unless it is loaded.
void RequireVorbisEncLibrary();
