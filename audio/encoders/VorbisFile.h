#pragma once

// The header's static callback tables would be unused here.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

// The entry points of the Vorbis file library (vorbisfile.dll), resolved by name in this order when
// it is loaded; a name the library lacks stays null.
struct TVorbisFileEntries {
  decltype(&::ov_clear) ov_clear = nullptr;
  decltype(&::ov_open_callbacks) ov_open_callbacks = nullptr;
  decltype(&::ov_test_callbacks) ov_test_callbacks = nullptr;
  decltype(&::ov_test_open) ov_test_open = nullptr;
  decltype(&::ov_bitrate) ov_bitrate = nullptr;
  decltype(&::ov_bitrate_instant) ov_bitrate_instant = nullptr;
  decltype(&::ov_streams) ov_streams = nullptr;
  decltype(&::ov_seekable) ov_seekable = nullptr;
  decltype(&::ov_serialnumber) ov_serialnumber = nullptr;
  decltype(&::ov_raw_total) ov_raw_total = nullptr;
  decltype(&::ov_pcm_total) ov_pcm_total = nullptr;
  decltype(&::ov_time_total) ov_time_total = nullptr;
  decltype(&::ov_raw_seek) ov_raw_seek = nullptr;
  decltype(&::ov_pcm_seek) ov_pcm_seek = nullptr;
  decltype(&::ov_pcm_seek_page) ov_pcm_seek_page = nullptr;
  decltype(&::ov_time_seek) ov_time_seek = nullptr;
  decltype(&::ov_time_seek_page) ov_time_seek_page = nullptr;
  decltype(&::ov_raw_tell) ov_raw_tell = nullptr;
  decltype(&::ov_pcm_tell) ov_pcm_tell = nullptr;
  decltype(&::ov_time_tell) ov_time_tell = nullptr;
  decltype(&::ov_info) ov_info = nullptr;
  decltype(&::ov_comment) ov_comment = nullptr;
  decltype(&::ov_read_float) ov_read_float = nullptr;
  decltype(&::ov_read) ov_read = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TVorbisFileEntries& VorbisFile();
bool VorbisFileLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadVorbisFileLibrary();
// Raises EAuException "vorbisfile.dll library could not be loaded." unless it is loaded.
void RequireVorbisFileLibrary();
