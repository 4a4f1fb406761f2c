#pragma once

#include <ogg/ogg.h>

// The entry points of the Ogg framing library (ogg.dll), resolved by name in this order when it is
// loaded; a name the library lacks stays null.
struct TOggEntries {
  decltype(&::ogg_stream_init) ogg_stream_init = nullptr;
  decltype(&::ogg_stream_clear) ogg_stream_clear = nullptr;
  decltype(&::ogg_stream_reset) ogg_stream_reset = nullptr;
  decltype(&::ogg_stream_destroy) ogg_stream_destroy = nullptr;
  decltype(&::ogg_stream_eos) ogg_stream_eos = nullptr;
  decltype(&::ogg_page_checksum_set) ogg_page_checksum_set = nullptr;
  decltype(&::ogg_page_version) ogg_page_version = nullptr;
  decltype(&::ogg_page_continued) ogg_page_continued = nullptr;
  decltype(&::ogg_page_bos) ogg_page_bos = nullptr;
  decltype(&::ogg_page_eos) ogg_page_eos = nullptr;
  decltype(&::ogg_page_granulepos) ogg_page_granulepos = nullptr;
  decltype(&::ogg_page_serialno) ogg_page_serialno = nullptr;
  decltype(&::ogg_page_pageno) ogg_page_pageno = nullptr;
  decltype(&::ogg_page_packets) ogg_page_packets = nullptr;
  decltype(&::ogg_packet_clear) ogg_packet_clear = nullptr;
  decltype(&::oggpack_writeinit) oggpack_writeinit = nullptr;
  decltype(&::oggpack_reset) oggpack_reset = nullptr;
  decltype(&::oggpack_writeclear) oggpack_writeclear = nullptr;
  decltype(&::oggpack_readinit) oggpack_readinit = nullptr;
  decltype(&::oggpack_write) oggpack_write = nullptr;
  decltype(&::oggpack_look) oggpack_look = nullptr;
  decltype(&::oggpack_look1) oggpack_look1 = nullptr;
  decltype(&::oggpack_adv) oggpack_adv = nullptr;
  decltype(&::oggpack_adv1) oggpack_adv1 = nullptr;
  decltype(&::oggpack_read) oggpack_read = nullptr;
  decltype(&::oggpack_read1) oggpack_read1 = nullptr;
  decltype(&::oggpack_bytes) oggpack_bytes = nullptr;
  decltype(&::oggpack_bits) oggpack_bits = nullptr;
  decltype(&::oggpack_get_buffer) oggpack_get_buffer = nullptr;
  decltype(&::ogg_stream_packetin) ogg_stream_packetin = nullptr;
  decltype(&::ogg_stream_pageout) ogg_stream_pageout = nullptr;
  decltype(&::ogg_stream_flush) ogg_stream_flush = nullptr;
  decltype(&::ogg_sync_init) ogg_sync_init = nullptr;
  decltype(&::ogg_sync_clear) ogg_sync_clear = nullptr;
  decltype(&::ogg_sync_reset) ogg_sync_reset = nullptr;
  decltype(&::ogg_sync_destroy) ogg_sync_destroy = nullptr;
  decltype(&::ogg_sync_buffer) ogg_sync_buffer = nullptr;
  decltype(&::ogg_sync_wrote) ogg_sync_wrote = nullptr;
  decltype(&::ogg_sync_pageseek) ogg_sync_pageseek = nullptr;
  decltype(&::ogg_sync_pageout) ogg_sync_pageout = nullptr;
  decltype(&::ogg_stream_pagein) ogg_stream_pagein = nullptr;
  decltype(&::ogg_stream_packetout) ogg_stream_packetout = nullptr;
  decltype(&::ogg_stream_packetpeek) ogg_stream_packetpeek = nullptr;
  // Looked up with the others; the header declares no such names, so they have no type here.
  void* oggpack_look_huff = nullptr;
  void* oggpack_adv_huff = nullptr;
};

// The process's entry points; all null until the library has been loaded.
const TOggEntries& Ogg();
bool OggLoaded();
// Loads the library under CodecLoadLock unless it is loaded; a failed load is retried at the
// next call. The library stays loaded until the process ends.
void LoadOggLibrary();
// Raises EAuException "ogg.dll library could not be loaded." unless it is loaded.
void RequireOggLibrary();
