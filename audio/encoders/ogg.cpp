#include "audio/encoders/ogg.h"

#include "audio/encoders/CodecLibrary.h"

namespace {

TCodecLibrary Library("ogg.dll");
TOggEntries Entries;

void ResolveEntries() {
  Library.Resolve(Entries.ogg_stream_init, "ogg_stream_init");
  Library.Resolve(Entries.ogg_stream_clear, "ogg_stream_clear");
  Library.Resolve(Entries.ogg_stream_reset, "ogg_stream_reset");
  Library.Resolve(Entries.ogg_stream_destroy, "ogg_stream_destroy");
  Library.Resolve(Entries.ogg_stream_eos, "ogg_stream_eos");
  Library.Resolve(Entries.ogg_page_checksum_set, "ogg_page_checksum_set");
  Library.Resolve(Entries.ogg_page_version, "ogg_page_version");
  Library.Resolve(Entries.ogg_page_continued, "ogg_page_continued");
  Library.Resolve(Entries.ogg_page_bos, "ogg_page_bos");
  Library.Resolve(Entries.ogg_page_eos, "ogg_page_eos");
  Library.Resolve(Entries.ogg_page_granulepos, "ogg_page_granulepos");
  Library.Resolve(Entries.ogg_page_serialno, "ogg_page_serialno");
  Library.Resolve(Entries.ogg_page_pageno, "ogg_page_pageno");
  Library.Resolve(Entries.ogg_page_packets, "ogg_page_packets");
  Library.Resolve(Entries.ogg_packet_clear, "ogg_packet_clear");
  Library.Resolve(Entries.oggpack_writeinit, "oggpack_writeinit");
  Library.Resolve(Entries.oggpack_reset, "oggpack_reset");
  Library.Resolve(Entries.oggpack_writeclear, "oggpack_writeclear");
  Library.Resolve(Entries.oggpack_readinit, "oggpack_readinit");
  Library.Resolve(Entries.oggpack_write, "oggpack_write");
  Library.Resolve(Entries.oggpack_look, "oggpack_look");
  Library.Resolve(Entries.oggpack_look_huff, "oggpack_look_huff");
  Library.Resolve(Entries.oggpack_look1, "oggpack_look1");
  Library.Resolve(Entries.oggpack_adv, "oggpack_adv");
  Library.Resolve(Entries.oggpack_adv_huff, "oggpack_adv_huff");
  Library.Resolve(Entries.oggpack_adv1, "oggpack_adv1");
  Library.Resolve(Entries.oggpack_read, "oggpack_read");
  Library.Resolve(Entries.oggpack_read1, "oggpack_read1");
  Library.Resolve(Entries.oggpack_bytes, "oggpack_bytes");
  Library.Resolve(Entries.oggpack_bits, "oggpack_bits");
  Library.Resolve(Entries.oggpack_get_buffer, "oggpack_get_buffer");
  Library.Resolve(Entries.ogg_stream_packetin, "ogg_stream_packetin");
  Library.Resolve(Entries.ogg_stream_pageout, "ogg_stream_pageout");
  Library.Resolve(Entries.ogg_stream_flush, "ogg_stream_flush");
  Library.Resolve(Entries.ogg_sync_init, "ogg_sync_init");
  Library.Resolve(Entries.ogg_sync_clear, "ogg_sync_clear");
  Library.Resolve(Entries.ogg_sync_reset, "ogg_sync_reset");
  Library.Resolve(Entries.ogg_sync_destroy, "ogg_sync_destroy");
  Library.Resolve(Entries.ogg_sync_buffer, "ogg_sync_buffer");
  Library.Resolve(Entries.ogg_sync_wrote, "ogg_sync_wrote");
  Library.Resolve(Entries.ogg_sync_pageseek, "ogg_sync_pageseek");
  Library.Resolve(Entries.ogg_sync_pageout, "ogg_sync_pageout");
  Library.Resolve(Entries.ogg_stream_pagein, "ogg_stream_pagein");
  Library.Resolve(Entries.ogg_stream_packetout, "ogg_stream_packetout");
  Library.Resolve(Entries.ogg_stream_packetpeek, "ogg_stream_packetpeek");
}

} // namespace

const TOggEntries& Ogg() {
  return Entries;
}

bool OggLoaded() {
  return Library.Loaded();
}

void LoadOggLibrary() {
  Library.Load(ResolveEntries);
}

void RequireOggLibrary() {
  Library.RequireLoaded();
}
