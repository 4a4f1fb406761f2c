#pragma once

// Monkey's Audio compressor library: libMACDll.so. Writes APE files of version 3990 from 16-bit
// mono or stereo PCM at the levels 1000 to 5000, through the buffer interface: Start creates
// the file, LockBuffer lends the free part of a one-frame buffer, UnlockBuffer compresses every
// frame completed, Finish writes the last frame and completes the file. TagFileSimple writes an
// APEv2 tag at the end of a file. No call throws; every failure is one of the codes below.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MACDLL_EXPORT __attribute__((visibility("default")))

// The platform's PCM format record: 18 bytes, packed.
#pragma pack(push, 1)
typedef struct {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
} WAVEFORMATEX;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is the packed 18-byte record");
#else
_Static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is the packed 18-byte record");
#endif

#define MAC_WAVE_FORMAT_PCM 1
#define MAC_FILE_VERSION 3990

// Compression levels.
enum {
  MAC_COMPRESSION_FAST = 1000,
  MAC_COMPRESSION_NORMAL = 2000,
  MAC_COMPRESSION_HIGH = 3000,
  MAC_COMPRESSION_EXTRA_HIGH = 4000,
  MAC_COMPRESSION_INSANE = 5000,
};

// Results: 0 is success.
enum {
  MAC_ERROR_SUCCESS = 0,
  MAC_ERROR_IO_READ = 1000,
  MAC_ERROR_IO_WRITE = 1001,
  MAC_ERROR_INVALID_INPUT_FILE = 1002,
  MAC_ERROR_INVALID_OUTPUT_FILE = 1003,
  MAC_ERROR_INPUT_FILE_TOO_LARGE = 1004,
  MAC_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH = 1005,
  MAC_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE = 1006,
  MAC_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT = 1007,
  MAC_ERROR_INPUT_FILE_TOO_SMALL = 1008,
  MAC_ERROR_INVALID_CHECKSUM = 1009,
  MAC_ERROR_INSUFFICIENT_MEMORY = 2000,
  MAC_ERROR_BAD_PARAMETER = 5000,
  MAC_ERROR_APE_COMPRESS_TOO_MUCH_DATA = 6000,
  MAC_ERROR_UNDEFINED = -1, // an entry point this library does not offer
};

// The compressor. A handle is the address of a compressor this library made and has not yet
// destroyed; any other value is refused (0 from Create, MAC_ERROR_BAD_PARAMETER elsewhere).
// Different handles may be used on different threads at once, one handle by one at a time.
MACDLL_EXPORT intptr_t c_APECompress_Create(int32_t* errorCode);
MACDLL_EXPORT void c_APECompress_Destroy(intptr_t handle);
// maxAudioBytes sizes the seek table (-1: unknown, up to 2 GiB). With no header data (null,
// 0) the file stores no WAV header and a decoder makes one.
MACDLL_EXPORT int32_t c_APECompress_Start(intptr_t handle, const char* outputFile,
                                          const WAVEFORMATEX* format, int32_t maxAudioBytes,
                                          int32_t compressionLevel, const void* headerData,
                                          int32_t headerBytes);
// Null (and 0 available) when not started or already locked.
MACDLL_EXPORT uint8_t* c_APECompress_LockBuffer(intptr_t handle, int32_t* bytesAvailable);
MACDLL_EXPORT int32_t c_APECompress_UnlockBuffer(intptr_t handle, int32_t bytesAdded,
                                                 int32_t process);
MACDLL_EXPORT int32_t c_APECompress_AddData(intptr_t handle, const uint8_t* data, int32_t bytes);
MACDLL_EXPORT int32_t c_APECompress_GetBufferBytesAvailable(intptr_t handle);
// terminatingData follows the frames in the file; its first wavTerminatingBytes bytes are the
// source WAV's tail.
MACDLL_EXPORT int32_t c_APECompress_Finish(intptr_t handle, const void* terminatingData,
                                           int32_t terminatingBytes, int32_t wavTerminatingBytes);
MACDLL_EXPORT int32_t c_APECompress_Kill(intptr_t handle);

MACDLL_EXPORT int32_t FillWaveFormatEx(WAVEFORMATEX* format, int32_t sampleRate,
                                       int32_t bitsPerSample, int32_t channels);
// Sets the fields (UTF-8; null or empty removes one), keeping the file's other APEv2 items
// unless clearBuffer; with useOldID3 writes an ID3v1.1 tag instead. Writes no tag when no
// field remains.
MACDLL_EXPORT int32_t TagFileSimple(const char* file, const char* artist, const char* album,
                                    const char* title, const char* comment, const char* genre,
                                    const char* year, const char* track, int32_t clearBuffer,
                                    int32_t useOldID3);
MACDLL_EXPORT int32_t GetVersionNumber(void);

// Entry points of the library's other interfaces, not offered: each returns
// MAC_ERROR_UNDEFINED (the decompressor's Create returns 0).
MACDLL_EXPORT int32_t ProgressCallback(int32_t percentageDone);
MACDLL_EXPORT int32_t RemoveTag(const char* file);
MACDLL_EXPORT int32_t CompressFile(const char* inputFile, const char* outputFile,
                                   int32_t compressionLevel, int32_t* percentageDone,
                                   void* progressCallback, int32_t* killFlag);
MACDLL_EXPORT int32_t ConvertFile(const char* inputFile, const char* outputFile,
                                  int32_t compressionLevel, int32_t* percentageDone,
                                  void* progressCallback, int32_t* killFlag);
MACDLL_EXPORT int32_t DecompressFile(const char* inputFile, const char* outputFile,
                                     int32_t* percentageDone, void* progressCallback,
                                     int32_t* killFlag);
MACDLL_EXPORT int32_t VerifyFile(const char* inputFile, int32_t* percentageDone,
                                 void* progressCallback, int32_t* killFlag);
MACDLL_EXPORT int32_t FillWaveHeader(void* wavHeader, int32_t audioBytes,
                                     const WAVEFORMATEX* format, int32_t terminatingBytes);
MACDLL_EXPORT int32_t GetID3Tag(const char* file, void* tag);
MACDLL_EXPORT int32_t GetInterfaceCompatibility(int32_t version, int32_t displayWarnings,
                                                void* window);
MACDLL_EXPORT int32_t ShowFileInfoDialog(const char* file, void* window);
MACDLL_EXPORT int32_t c_APEDecompress_Destroy(intptr_t handle);
MACDLL_EXPORT int32_t c_APEDecompress_GetData(intptr_t handle, char* buffer, int32_t blocks,
                                              int32_t* blocksRetrieved);
MACDLL_EXPORT intptr_t c_APEDecompress_GetInfo(intptr_t handle, int32_t field, intptr_t param1,
                                               intptr_t param2);
MACDLL_EXPORT int32_t c_APEDecompress_Seek(intptr_t handle, int32_t blockOffset);

#ifdef __cplusplus
}
#endif
