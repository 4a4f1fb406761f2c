#include "audio/encoders/VorbisEnc.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("vorbisenc.dll");
TVorbisEncEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.vorbis_encode_init, "vorbis_encode_init");
  Library.Resolve(Entries.vorbis_encode_setup_managed, "vorbis_encode_setup_managed");
  Library.Resolve(Entries.vorbis_encode_setup_vbr, "vorbis_encode_setup_vbr");
  Library.Resolve(Entries.vorbis_encode_init_vbr, "vorbis_encode_init_vbr");
  Library.Resolve(Entries.vorbis_encode_setup_init, "vorbis_encode_setup_init");
  Library.Resolve(Entries.vorbis_encode_ctl, "vorbis_encode_ctl");
}

} // namespace

const TVorbisEncEntries& VorbisEnc() {
  return Entries;
}

bool VorbisEncLoaded() {
  return Library.Loaded();
}

void LoadVorbisEncLibrary() {
  Library.Load(ResolveEntries);
}

void RequireVorbisEncLibrary() {
  Library.RequireLoaded();
}
