// A stand-in of our MP3 encoder library that records the calls made to it. A chunk of N samples
// comes out as "CHNK" and N as four little-endian bytes; the flush as "FLSH". The stream handle
// is 7; a chunk is 1152 samples per channel, mono for mode 3.
#include "tests/audio/encoders/RecordingLame.h"

#include "libs/lame_enc/lame_enc.h"

#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr uint32_t Handle = 7;
constexpr uint32_t OutputSize = 16;

std::mutex Lock;
std::string Log;
std::string LogCopy;
uint8_t Config[BE_CONFIG_SIZE];
uint32_t InitResult = 0;
uint32_t EncodeResult = 0;
uint32_t InfoTagResult = 0;

void Record(const std::string& Line) {
  std::lock_guard Guard(Lock);
  Log += Line;
  Log += '\n';
}

uint32_t Put(uint8_t* Output, uint32_t* OutputBytes, const char* Marker, uint32_t Count,
             bool WithCount) {
  std::memcpy(Output, Marker, 4);
  for (int I = 0; I < 4; ++I)
    Output[4 + I] = static_cast<uint8_t>(Count >> (8 * I));
  *OutputBytes = WithCount ? 8 : 4;
  return 0;
}

} // namespace

extern "C" {

void LameRecording_Reset(void) {
  std::lock_guard Guard(Lock);
  Log.clear();
  std::memset(Config, 0, sizeof Config);
  InitResult = 0;
  EncodeResult = 0;
  InfoTagResult = 0;
}

const char* LameRecording_Log(void) {
  std::lock_guard Guard(Lock);
  LogCopy = Log;
  return LogCopy.c_str();
}

const uint8_t* LameRecording_Config(void) {
  return Config;
}

void LameRecording_SetInitResult(uint32_t Result) {
  InitResult = Result;
}

void LameRecording_SetEncodeResult(uint32_t Result) {
  EncodeResult = Result;
}

void LameRecording_SetInfoTagResult(uint32_t Result) {
  InfoTagResult = Result;
}

uint32_t beInitStream(BE_CONFIG* config, uint32_t* samplesPerChunk, uint32_t* outputBufferSize,
                      uint32_t* stream) {
  Record("init");
  std::memcpy(Config, config, sizeof Config);
  if (InitResult != 0)
    return InitResult;
  *samplesPerChunk = config->nMode == BE_MP3_MODE_MONO ? 1152 : 2304;
  *outputBufferSize = OutputSize;
  *stream = Handle;
  return 0;
}

uint32_t beEncodeChunk(uint32_t stream, uint32_t numSamples, const int16_t*, uint8_t* output,
                       uint32_t* outputBytes) {
  Record("encode(" + std::to_string(numSamples) + ")");
  *outputBytes = 0;
  if (stream != Handle || EncodeResult != 0)
    return stream != Handle ? BE_ERR_INVALID_HANDLE : EncodeResult;
  return Put(output, outputBytes, "CHNK", numSamples, true);
}

uint32_t beDeinitStream(uint32_t stream, uint8_t* output, uint32_t* outputBytes) {
  Record("deinit(" + std::to_string(stream) + ")");
  return Put(output, outputBytes, "FLSH", 0, false);
}

uint32_t beCloseStream(uint32_t stream) {
  Record("close(" + std::to_string(stream) + ")");
  return 0;
}

uint32_t beWriteVBRHeader(const char* fileName) {
  Record(std::string("vbrheader(") + fileName + ")");
  return 0;
}

uint32_t beFlushNoGap(uint32_t stream, uint8_t*, uint32_t* outputBytes) {
  Record("flushnogap(" + std::to_string(stream) + ")");
  *outputBytes = 0;
  return 0;
}

uint32_t beWriteInfoTag(uint32_t stream, const char* fileName) {
  struct stat Status {};
  const long long Size = stat(fileName, &Status) == 0 ? Status.st_size : -1;
  Record("infotag(" + std::to_string(stream) + "," + fileName + "," + std::to_string(Size) + ")");
  return InfoTagResult;
}

} // extern "C"
