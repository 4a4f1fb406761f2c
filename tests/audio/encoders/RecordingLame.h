#pragma once

// The control side of the recording stand-in of our MP3 encoder library (liblame_enc.so):
// tests set what it answers and read back every call made to it, one per line.

#include <cstdint>

extern "C" {

// Every call, e.g. "init", "encode(2304)", "deinit", "infotag(7,/tmp/x.mp3,4325)" (the file's
// size when the header is asked for), "close(7)".
void LameRecording_Reset(void);
const char* LameRecording_Log(void);
// The record of the last beInitStream, 331 bytes.
const uint8_t* LameRecording_Config(void);
// What beInitStream, beEncodeChunk and beWriteInfoTag return.
void LameRecording_SetInitResult(uint32_t Result);
void LameRecording_SetEncodeResult(uint32_t Result);
void LameRecording_SetInfoTagResult(uint32_t Result);
}
