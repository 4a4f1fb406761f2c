#pragma once

#include <vorbis/codec.h>

// The entry points of the Vorbis codec library (vorbis.dll), resolved by name in this order when it
// is loaded; a name the library lacks stays null.
struct TVorbisEntries {
  decltype(&::vorbis_info_init) vorbis_info_init = nullptr;
  decltype(&::vorbis_info_clear) vorbis_info_clear = nullptr;
  decltype(&::vorbis_info_blocksize) vorbis_info_blocksize = nullptr;
  decltype(&::vorbis_comment_init) vorbis_comment_init = nullptr;
  decltype(&::vorbis_comment_add) vorbis_comment_add = nullptr;
  decltype(&::vorbis_comment_add_tag) vorbis_comment_add_tag = nullptr;
  decltype(&::vorbis_comment_query) vorbis_comment_query = nullptr;
  decltype(&::vorbis_comment_query_count) vorbis_comment_query_count = nullptr;
  decltype(&::vorbis_comment_clear) vorbis_comment_clear = nullptr;
  decltype(&::vorbis_block_init) vorbis_block_init = nullptr;
  decltype(&::vorbis_block_clear) vorbis_block_clear = nullptr;
  decltype(&::vorbis_dsp_clear) vorbis_dsp_clear = nullptr;
  decltype(&::vorbis_analysis_init) vorbis_analysis_init = nullptr;
  decltype(&::vorbis_commentheader_out) vorbis_commentheader_out = nullptr;
  decltype(&::vorbis_analysis_headerout) vorbis_analysis_headerout = nullptr;
  decltype(&::vorbis_analysis_buffer) vorbis_analysis_buffer = nullptr;
  decltype(&::vorbis_analysis_wrote) vorbis_analysis_wrote = nullptr;
  decltype(&::vorbis_analysis_blockout) vorbis_analysis_blockout = nullptr;
  decltype(&::vorbis_analysis) vorbis_analysis = nullptr;
  decltype(&::vorbis_bitrate_addblock) vorbis_bitrate_addblock = nullptr;
  decltype(&::vorbis_bitrate_flushpacket) vorbis_bitrate_flushpacket = nullptr;
  decltype(&::vorbis_synthesis_headerin) vorbis_synthesis_headerin = nullptr;
  decltype(&::vorbis_synthesis_init) vorbis_synthesis_init = nullptr;
  decltype(&::vorbis_synthesis) vorbis_synthesis = nullptr;
  decltype(&::vorbis_synthesis_blockin) vorbis_synthesis_blockin = nullptr;
  decltype(&::vorbis_synthesis_pcmout) vorbis_synthesis_pcmout = nullptr;
  decltype(&::vorbis_synthesis_read) vorbis_synthesis_read = nullptr;
  decltype(&::vorbis_packet_blocksize) vorbis_packet_blocksize = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TVorbisEntries& Vorbis();
bool VorbisLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadVorbisLibrary();
// Raises EAuException "vorbis.dll library could not be loaded." unless it is loaded.
void RequireVorbisLibrary();
