#pragma once

// The control side of the recording stand-in of our Monkey's Audio library (libMACDll.so):
// tests set what the stand-in answers and read back every call made to it, one per line.

#include <cstdint>

extern "C" {

void MACRecording_Reset(void);
// Every call, e.g. "Lock=65536", "Unlock(65536,1)", "Finish(null,0,0)".
const char* MACRecording_Log(void);
// Puts a line of the test's own into the log, between the library's calls.
void MACRecording_Note(const char* Line);
// LockBuffer lends at most this many bytes (0: lends none).
void MACRecording_SetLend(int32_t Bytes);
// The error code that c_APECompress_Create reports, and the results of Start, UnlockBuffer,
// Finish and TagFileSimple.
void MACRecording_SetCreateError(int32_t Error);
void MACRecording_SetStartResult(int32_t Result);
void MACRecording_SetUnlockResult(int32_t Result);
void MACRecording_SetFinishResult(int32_t Result);
void MACRecording_SetTagResult(int32_t Result);
}
