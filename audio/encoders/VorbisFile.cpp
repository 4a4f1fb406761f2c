#include "audio/encoders/VorbisFile.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("vorbisfile.dll");
TVorbisFileEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.ov_clear, "ov_clear");
  Library.Resolve(Entries.ov_open_callbacks, "ov_open_callbacks");
  Library.Resolve(Entries.ov_test_callbacks, "ov_test_callbacks");
  Library.Resolve(Entries.ov_test_open, "ov_test_open");
  Library.Resolve(Entries.ov_bitrate, "ov_bitrate");
  Library.Resolve(Entries.ov_bitrate_instant, "ov_bitrate_instant");
  Library.Resolve(Entries.ov_streams, "ov_streams");
  Library.Resolve(Entries.ov_seekable, "ov_seekable");
  Library.Resolve(Entries.ov_serialnumber, "ov_serialnumber");
  Library.Resolve(Entries.ov_raw_total, "ov_raw_total");
  Library.Resolve(Entries.ov_pcm_total, "ov_pcm_total");
  Library.Resolve(Entries.ov_time_total, "ov_time_total");
  Library.Resolve(Entries.ov_raw_seek, "ov_raw_seek");
  Library.Resolve(Entries.ov_pcm_seek, "ov_pcm_seek");
  Library.Resolve(Entries.ov_pcm_seek_page, "ov_pcm_seek_page");
  Library.Resolve(Entries.ov_time_seek, "ov_time_seek");
  Library.Resolve(Entries.ov_time_seek_page, "ov_time_seek_page");
  Library.Resolve(Entries.ov_raw_tell, "ov_raw_tell");
  Library.Resolve(Entries.ov_pcm_tell, "ov_pcm_tell");
  Library.Resolve(Entries.ov_time_tell, "ov_time_tell");
  Library.Resolve(Entries.ov_info, "ov_info");
  Library.Resolve(Entries.ov_comment, "ov_comment");
  Library.Resolve(Entries.ov_read_float, "ov_read_float");
  Library.Resolve(Entries.ov_read, "ov_read");
}

} // namespace

const TVorbisFileEntries& VorbisFile() {
  return Entries;
}

bool VorbisFileLoaded() {
  return Library.Loaded();
}

void LoadVorbisFileLibrary() {
  Library.Load(ResolveEntries);
}

void RequireVorbisFileLibrary() {
  Library.RequireLoaded();
}
