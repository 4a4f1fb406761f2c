#pragma once

// The MP3 encoder library: LAME's chunk interface over libmp3lame. A caller opens a stream
// with a BE_CONFIG record, passes interleaved 16-bit samples one chunk at a time, flushes,
// closes, and for a reserved VBR header has it written into the finished file.
//
// Streams are handles of this library. Every call is thread-safe; calls on different
// streams run at the same time, calls on one stream one after another.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LAME_ENC_EXPORT __attribute__((visibility("default")))

// dwConfig: the only record kind this library takes.
#define BE_CONFIG_LAME 256
// dwStructVersion and dwStructSize of the version-1 layout.
#define BE_CONFIG_VERSION 1
#define BE_CONFIG_SIZE 331

// nMode: the channel mode of the frames.
#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

// dwMpegVersion: 0 takes the version of the output sample rate; any other value must match it.
#define BE_MPEG_AUTO 0
#define BE_MPEG1 1
#define BE_MPEG2 2
#define BE_MPEG25 3

// nVbrMethod, read only when bEnableVBR is set. ABR is the average bit rate dwVbrAbr_bps.
#define BE_VBR_METHOD_DEFAULT 0
#define BE_VBR_METHOD_OLD 1
#define BE_VBR_METHOD_NEW 2
#define BE_VBR_METHOD_MTRH 3
#define BE_VBR_METHOD_ABR 4

// The encoder record, version-1 layout, packed, little-endian.
//
// dwSampleRate    the input's sample rate in Hz
// dwReSampleRate  the output's sample rate in Hz; 0 lets LAME pick one for the bit rate
// nMode           BE_MP3_MODE_*; mono takes one channel of input, the others two, interleaved
// dwBitrate       kbps: the constant bit rate, or the minimum under VBR and ABR; 0 is LAME's
//                 default (CBR) or no minimum
// dwMaxBitrate    kbps: the maximum under VBR and ABR; 0 is none
// nPreset         must be 0: the fields say everything
// dwMpegVersion   BE_MPEG_*
// dwPsyModel      must be 0
// dwEmphasis      0 none, 1 50/15 us, 3 CCITT J.17
// bPrivate, bCRC, bCopyright, bOriginal  the frame header's bits; non-zero is set
// bWriteVBRHeader reserve the first frame for the Xing/Info header (see beWriteVBRHeader)
// bEnableVBR      variable bit rate by nVbrMethod; otherwise constant
// nVBRQuality     VBR quality 0 (best) to 9
// dwVbrAbr_bps    ABR's average in kbps (128, not 128000), 8 to 320
// bNoRes          no bit reservoir
// bStrictIso      strict ISO compliance
// nQuality        the low byte is LAME's quality 0 (best) to 9 when the high byte is its
//                 complement; any other value (0 included) leaves LAME's default
#pragma pack(push, 1)
typedef struct {
  uint32_t dwConfig;
  uint32_t dwStructVersion;
  uint32_t dwStructSize;
  uint32_t dwSampleRate;
  uint32_t dwReSampleRate;
  int32_t nMode;
  uint32_t dwBitrate;
  uint32_t dwMaxBitrate;
  int32_t nPreset;
  uint32_t dwMpegVersion;
  uint32_t dwPsyModel;
  uint32_t dwEmphasis;
  int32_t bPrivate;
  int32_t bCRC;
  int32_t bCopyright;
  int32_t bOriginal;
  int32_t bWriteVBRHeader;
  int32_t bEnableVBR;
  int32_t nVBRQuality;
  uint32_t dwVbrAbr_bps;
  int32_t nVbrMethod;
  int32_t bNoRes;
  int32_t bStrictIso;
  uint16_t nQuality;
  uint8_t btReserved[237];
} BE_CONFIG;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(BE_CONFIG) == BE_CONFIG_SIZE);
static_assert(offsetof(BE_CONFIG, dwStructVersion) == 4);
static_assert(offsetof(BE_CONFIG, dwStructSize) == 8);
static_assert(offsetof(BE_CONFIG, dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, dwReSampleRate) == 16);
static_assert(offsetof(BE_CONFIG, nMode) == 20);
static_assert(offsetof(BE_CONFIG, dwBitrate) == 24);
static_assert(offsetof(BE_CONFIG, dwMaxBitrate) == 28);
static_assert(offsetof(BE_CONFIG, nPreset) == 32);
static_assert(offsetof(BE_CONFIG, dwMpegVersion) == 36);
static_assert(offsetof(BE_CONFIG, dwPsyModel) == 40);
static_assert(offsetof(BE_CONFIG, dwEmphasis) == 44);
static_assert(offsetof(BE_CONFIG, bPrivate) == 48);
static_assert(offsetof(BE_CONFIG, bCRC) == 52);
static_assert(offsetof(BE_CONFIG, bCopyright) == 56);
static_assert(offsetof(BE_CONFIG, bOriginal) == 60);
static_assert(offsetof(BE_CONFIG, bWriteVBRHeader) == 64);
static_assert(offsetof(BE_CONFIG, bEnableVBR) == 68);
static_assert(offsetof(BE_CONFIG, nVBRQuality) == 72);
static_assert(offsetof(BE_CONFIG, dwVbrAbr_bps) == 76);
static_assert(offsetof(BE_CONFIG, nVbrMethod) == 80);
static_assert(offsetof(BE_CONFIG, bNoRes) == 84);
static_assert(offsetof(BE_CONFIG, bStrictIso) == 88);
static_assert(offsetof(BE_CONFIG, nQuality) == 92);
static_assert(offsetof(BE_CONFIG, btReserved) == 94);
#endif

// Results: 0 is success.
#define BE_ERR_SUCCESSFUL 0
#define BE_ERR_INVALID_FORMAT 1            // not a BE_CONFIG_LAME record of the version-1 layout
#define BE_ERR_INVALID_FORMAT_PARAMETERS 2 // a field the encoder cannot take
#define BE_ERR_NO_MORE_HANDLES 3           // every stream of the table is open
#define BE_ERR_INVALID_HANDLE 4            // no open stream has that handle
#define BE_ERR_BUFFER_TOO_SMALL 5          // more samples than one chunk
#define BE_ERR_NULL_POINTER 6              // a pointer argument was null
#define BE_ERR_SEQUENCE 7       // a chunk or a flush after beDeinitStream, or a tag before it
#define BE_ERR_ENCODER 8        // libmp3lame refused the data
#define BE_ERR_FILE 9           // the file could not be opened, read or written, or holds no frame
#define BE_ERR_NO_VBR_HEADER 10 // the stream reserved no header, or no flushed stream was closed
#define BE_ERR_INTERNAL 11      // an unexpected failure, such as memory running out

// Opens a stream. *samplesPerChunk: the most samples (all channels counted) one
// beEncodeChunk takes, one frame's worth (1152 per channel for MPEG-1). *outputBufferSize:
// the bytes any call of a stream may produce.
LAME_ENC_EXPORT uint32_t beInitStream(BE_CONFIG* config, uint32_t* samplesPerChunk,
                                      uint32_t* outputBufferSize, uint32_t* stream);
// Encodes numSamples interleaved samples, at most one chunk; fewer are fine. An odd sample of
// a two-channel stream waits for its partner in the next call.
LAME_ENC_EXPORT uint32_t beEncodeChunk(uint32_t stream, uint32_t numSamples, const int16_t* samples,
                                       uint8_t* output, uint32_t* outputBytes);
// Encodes what the encoder holds, padded to whole frames; no chunk may follow.
LAME_ENC_EXPORT uint32_t beDeinitStream(uint32_t stream, uint8_t* output, uint32_t* outputBytes);
// Releases a stream. It becomes the last closed one for beWriteVBRHeader; one closed before
// beDeinitStream leaves no header to write.
LAME_ENC_EXPORT uint32_t beCloseStream(uint32_t stream);
// Writes the Xing/Info header of the last stream closed, after its beDeinitStream, over the
// frame it reserved at the start of the file (after any ID3v2 tag). The process's last closed
// stream is meant: a caller with several streams at once uses beWriteInfoTag instead.
LAME_ENC_EXPORT uint32_t beWriteVBRHeader(const char* fileName);
// Encodes what the encoder holds without padding, for a gapless next track; the stream goes
// on taking chunks into the same bit stream.
LAME_ENC_EXPORT uint32_t beFlushNoGap(uint32_t stream, uint8_t* output, uint32_t* outputBytes);
// As beWriteVBRHeader, with the header of a stream after its beDeinitStream; the stream stays
// open until beCloseStream.
LAME_ENC_EXPORT uint32_t beWriteInfoTag(uint32_t stream, const char* fileName);

#ifdef __cplusplus
}
#endif
