#include "audio/encoders/Codec.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("vorbis.dll");
TVorbisEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.vorbis_info_init, "vorbis_info_init");
  Library.Resolve(Entries.vorbis_info_clear, "vorbis_info_clear");
  Library.Resolve(Entries.vorbis_info_blocksize, "vorbis_info_blocksize");
  Library.Resolve(Entries.vorbis_comment_init, "vorbis_comment_init");
  Library.Resolve(Entries.vorbis_comment_add, "vorbis_comment_add");
  Library.Resolve(Entries.vorbis_comment_add_tag, "vorbis_comment_add_tag");
  Library.Resolve(Entries.vorbis_comment_query, "vorbis_comment_query");
  Library.Resolve(Entries.vorbis_comment_query_count, "vorbis_comment_query_count");
  Library.Resolve(Entries.vorbis_comment_clear, "vorbis_comment_clear");
  Library.Resolve(Entries.vorbis_block_init, "vorbis_block_init");
  Library.Resolve(Entries.vorbis_block_clear, "vorbis_block_clear");
  Library.Resolve(Entries.vorbis_dsp_clear, "vorbis_dsp_clear");
  Library.Resolve(Entries.vorbis_analysis_init, "vorbis_analysis_init");
  Library.Resolve(Entries.vorbis_commentheader_out, "vorbis_commentheader_out");
  Library.Resolve(Entries.vorbis_analysis_headerout, "vorbis_analysis_headerout");
  Library.Resolve(Entries.vorbis_analysis_buffer, "vorbis_analysis_buffer");
  Library.Resolve(Entries.vorbis_analysis_wrote, "vorbis_analysis_wrote");
  Library.Resolve(Entries.vorbis_analysis_blockout, "vorbis_analysis_blockout");
  Library.Resolve(Entries.vorbis_analysis, "vorbis_analysis");
  Library.Resolve(Entries.vorbis_bitrate_addblock, "vorbis_bitrate_addblock");
  Library.Resolve(Entries.vorbis_bitrate_flushpacket, "vorbis_bitrate_flushpacket");
  Library.Resolve(Entries.vorbis_synthesis_headerin, "vorbis_synthesis_headerin");
  Library.Resolve(Entries.vorbis_synthesis_init, "vorbis_synthesis_init");
  Library.Resolve(Entries.vorbis_synthesis, "vorbis_synthesis");
  Library.Resolve(Entries.vorbis_synthesis_blockin, "vorbis_synthesis_blockin");
  Library.Resolve(Entries.vorbis_synthesis_pcmout, "vorbis_synthesis_pcmout");
  Library.Resolve(Entries.vorbis_synthesis_read, "vorbis_synthesis_read");
  Library.Resolve(Entries.vorbis_packet_blocksize, "vorbis_packet_blocksize");
}

} // namespace

const TVorbisEntries& Vorbis() {
  return Entries;
}

bool VorbisLoaded() {
  return Library.Loaded();
}

void LoadVorbisLibrary() {
  Library.Load(ResolveEntries);
}

void RequireVorbisLibrary() {
  Library.RequireLoaded();
}
