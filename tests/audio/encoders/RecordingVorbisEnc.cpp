// A stand-in of libvorbisenc that records the set-up calls into the vorbis stand-in's log.
#include "tests/audio/encoders/RecordingXiph.h"

#include <vorbis/vorbisenc.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

namespace {

// The vorbis stand-in beside this file keeps the log. A dependency by name would bind to the
// real libvorbis that the process may hold already, so it is opened by its path, once, and
// stays open for the process.
void* Recorder(const char* Name) {
  static void* Handle = [] {
    Dl_info Info{};
    dladdr(reinterpret_cast<void*>(&Recorder), &Info);
    std::string Path = Info.dli_fname;
    Path = Path.substr(0, Path.rfind('/') + 1) + "libvorbis.so.0";
    return dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }();
  return dlsym(Handle, Name);
}

void Record(const std::string& Line) {
  reinterpret_cast<decltype(&VorbisRecording_Record)>(Recorder("VorbisRecording_Record"))(
      Line.c_str());
}

int EncodeResult() {
  return reinterpret_cast<decltype(&VorbisRecording_EncodeResult)>(
      Recorder("VorbisRecording_EncodeResult"))();
}

} // namespace

extern "C" {

int vorbis_encode_init(vorbis_info* vi, long channels, long rate, long max_bitrate,
                       long nominal_bitrate, long min_bitrate) {
  vi->channels = static_cast<int>(channels);
  vi->rate = rate;
  Record("vorbis_encode_init(" + std::to_string(channels) + "," + std::to_string(rate) + "," +
         std::to_string(max_bitrate) + "," + std::to_string(nominal_bitrate) + "," +
         std::to_string(min_bitrate) + ")");
  return EncodeResult();
}

int vorbis_encode_setup_vbr(vorbis_info* vi, long channels, long rate, float quality) {
  vi->channels = static_cast<int>(channels);
  vi->rate = rate;
  char Line[96];
  std::snprintf(Line, sizeof Line, "vorbis_encode_setup_vbr(%ld,%ld,%.9g)", channels, rate,
                static_cast<double>(quality));
  Record(Line);
  return EncodeResult();
}

int vorbis_encode_setup_init(vorbis_info*) {
  Record("vorbis_encode_setup_init");
  return 0;
}
}
