// A stand-in of libvorbisfile, which the Vorbis writer loads but never calls.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

extern "C" int ov_clear(OggVorbis_File*) {
  return 0;
}
