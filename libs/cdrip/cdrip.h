#pragma once

// The CD ripping library: the drives of the process's drive registry, their tables of contents,
// and exact reading of a sector range as 16-bit little-endian stereo PCM. Physical drives are
// read through paranoia, disc images directly. Sectors are LSNs (the first track normally at 0)
// of 2352 bytes. Every call is thread-safe: the table and status calls of the user interface
// do not wait for a chunk being ripped by a worker.
//
// Settings, in the file given to CR_Init, section [CD-ROM]:
//   nActive       the drive selected at start (default 0)
//   nReadSectors  sectors per chunk, 1 to 75 (default 75, one second of audio)
// Other keys and sections are left to the program that writes the file.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CDRIP_EXPORT __attribute__((visibility("default")))

// One entry of the table of contents, returned by value. Entry n - 1 is track n; the entry
// at index CR_GetNumTocEntries() is the lead-out (track number 0xAA).
typedef struct {
  uint32_t dwStartSector;
  uint8_t btFlag; // CDRIP_TOC_AUDIO or CDRIP_TOC_DATA
  uint8_t btTrackNumber;
} TOCENTRY;

#ifdef __cplusplus
static_assert(sizeof(TOCENTRY) == 8, "TOCENTRY is passed by value with natural alignment");
#else
_Static_assert(sizeof(TOCENTRY) == 8, "TOCENTRY is passed by value with natural alignment");
#endif

#define CDRIP_TOC_AUDIO 0x10
#define CDRIP_TOC_DATA 0x14
#define CDRIP_LEADOUT_TRACK 0xAA

// The most bytes one CR_RipChunk delivers: one second of audio.
#define CDRIP_MAX_CHUNK_BYTES 176400

// Results: 0 is success.
enum {
  CDRIP_OK = 0,
  CDRIP_ERR_NULL_POINTER = 1,     // a pointer argument was null
  CDRIP_ERR_NO_DRIVE = 2,         // no drive at that index (or no drives at all)
  CDRIP_ERR_NO_DISC = 3,          // no disc, the tray is open, or the image does not open
  CDRIP_ERR_RANGE = 4,            // a range outside the disc, inverted, or over a data track
  CDRIP_ERR_BUFFER_TOO_SMALL = 5, // the buffer cannot hold one sector
  CDRIP_ERR_NOT_OPEN = 6,         // CR_RipChunk without an open ripper
  CDRIP_ERR_ABORTED = 7,          // the abort flag was set
  CDRIP_ERR_READ = 8,             // the drive or the image could not be read
  CDRIP_ERR_MEDIUM_CHANGED = 9,   // the disc was taken out, changed or removed during the rip
  CDRIP_ERR_EJECT = 10,           // the drive did not open or close its tray
  CDRIP_ERR_NOT_SUPPORTED = 11,   // an entry point this library does not offer
  CDRIP_ERR_INTERNAL = 12,        // an unexpected failure, such as memory running out
};

// Reads the settings; a missing file leaves the defaults. Forgets the kept table.
CDRIP_EXPORT int32_t CR_Init(const char* iniPath);
// Ends any rip and forgets the kept table.
CDRIP_EXPORT int32_t CR_DeInit(void);

CDRIP_EXPORT int32_t CR_GetNumCDROM(void);
// Selects the drive of later calls, from 0.
CDRIP_EXPORT int32_t CR_SetActiveCDROM(int32_t index);
// Fills a record of 364 bytes: the drive's name, NUL-terminated within its first 255 bytes,
// then zeros.
CDRIP_EXPORT int32_t CR_GetCDROMParameters(void* record364);

// Reads the table of contents, kept while the medium has not changed.
CDRIP_EXPORT int32_t CR_ReadToc(void);
// The tracks of the last table read; 0 after a failed CR_ReadToc.
CDRIP_EXPORT int32_t CR_GetNumTocEntries(void);
// An index outside 0 to CR_GetNumTocEntries() gives an entry of zeros.
CDRIP_EXPORT TOCENTRY CR_GetTocEntry(int32_t index);
// Writes 0 to *state when a disc is present, 1 otherwise.
CDRIP_EXPORT int32_t CR_IsMediaLoaded(int32_t* state);
// Non-zero while the drive plays audio.
CDRIP_EXPORT int32_t CR_IsAudioPlaying(void);
// Non-zero opens the tray, 0 closes it.
CDRIP_EXPORT int32_t CR_EjectCD(int32_t eject);

// Prepares reading of the sectors from startSector up to, not including, endSector of the
// active drive. *bufferSize gives the bytes the caller's buffer holds and receives the most
// that one chunk will deliver. A range that is not wholly audio of the disc opens nothing.
CDRIP_EXPORT int32_t CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector);
// Places the next sectors in buffer and their byte count in *numBytes: 0 when the range is
// exhausted, and 0 with an error result when reading failed (the buffer holds no audio then,
// and every later chunk fails too). A non-zero *abort gives 0 bytes and CDRIP_ERR_ABORTED.
CDRIP_EXPORT int32_t CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t* abort);
CDRIP_EXPORT int32_t CR_CloseRipper(void);

// Exported for loaders that look them up; each returns CDRIP_ERR_NOT_SUPPORTED.
CDRIP_EXPORT int32_t CR_GetCDRipVersion(void);
CDRIP_EXPORT int32_t CR_GetActiveCDROM(void);
CDRIP_EXPORT int32_t CR_SelectCDROMType(void);
CDRIP_EXPORT int32_t CR_GetCDROMType(void);
CDRIP_EXPORT int32_t CR_SetCDROMParameters(void);
CDRIP_EXPORT int32_t CR_GetPercentCompleted(void);
CDRIP_EXPORT int32_t CR_GetPeakValue(void);
CDRIP_EXPORT int32_t CR_GetNumberOfJitterErrors(void);
CDRIP_EXPORT int32_t CR_GetJitterPosition(void);
CDRIP_EXPORT int32_t CR_LoadSettings(void);
CDRIP_EXPORT int32_t CR_SaveSettings(void);
CDRIP_EXPORT int32_t CR_NormalizeChunk(void);
CDRIP_EXPORT int32_t CR_ReadCDText(void);
CDRIP_EXPORT int32_t CR_IsUnitReady(void);
CDRIP_EXPORT int32_t CR_PlayTrack(void);
CDRIP_EXPORT int32_t CR_StopPlayTrack(void);
CDRIP_EXPORT int32_t CR_PauseCD(void);
CDRIP_EXPORT int32_t CR_GetCDStatusInfo(void);
CDRIP_EXPORT int32_t CR_LockCD(void);
CDRIP_EXPORT int32_t CR_GetSubChannelTrackInfo(void);
CDRIP_EXPORT int32_t CR_GetPlayPosition(void);
CDRIP_EXPORT int32_t CR_SetPlayPosition(void);
CDRIP_EXPORT int32_t CR_PlaySection(void);
CDRIP_EXPORT int32_t CR_GetLastJitterErrorPosition(void);
CDRIP_EXPORT int32_t CR_GetCurrentRipSector(void);
CDRIP_EXPORT int32_t CR_SetTransportLayer(void);
CDRIP_EXPORT int32_t CR_GetTransportLayer(void);
CDRIP_EXPORT int32_t CR_ScanForC2Errors(void);

#ifdef __cplusplus
}
#endif
