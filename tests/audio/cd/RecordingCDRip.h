#pragma once

// The control side of the recording stand-in of the ripping library: tests set what the
// "drive" answers and read back every call made to it.

#include <cstdint>

extern "C" {

// Forgets the log and the settings: 1 drive, a disc of no tracks, media loaded, not playing.
void Recording_Reset(void);
void Recording_SetDrives(int32_t Count, const char* Name);
// Entries is Tracks + 1 records: the tracks, then the lead-out.
void Recording_SetToc(const uint32_t* Starts, const uint8_t* Flags, int32_t Tracks);
void Recording_SetReadTocResult(int32_t Result);
void Recording_SetMediaState(int32_t State);
void Recording_SetPlaying(int32_t Playing);
// The byte counts CR_RipChunk reports, one per call; 0 after the last. The bytes delivered are
// the running byte index of the range, modulo 251. A negative count -E fails that call with
// result E and no bytes.
void Recording_SetChunks(const int32_t* Sizes, int32_t Count);
// Every call since the last reset, one per line, e.g. "CR_OpenRipper(176400,0,2250)".
const char* Recording_Log(void);
void Recording_ClearLog(void);
}
