// A stand-in of our Monkey's Audio library that records the calls made to it. Start creates the
// output file and every UnlockBuffer appends the bytes added to it, so the file holds exactly
// the PCM the writer fed, in the order it fed it.
#include "tests/audio/encoders/RecordingMACDll.h"

#include "libs/MACDll/MACDll.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The most the real library lends: one frame of CD stereo.
constexpr int32_t FrameBytes = 73728 * 4;

std::mutex Lock;
std::string Log;
std::string LogCopy;
int32_t Lend = FrameBytes;
int32_t CreateError = 0;
int32_t StartResult = 0;
int32_t UnlockResult = 0;
int32_t FinishResult = 0;
int32_t TagResult = 0;
std::vector<uint8_t> Buffer(FrameBytes);
FILE* Output = nullptr;
int Compressor = 0;

void Record(const std::string& Line) {
  std::lock_guard Guard(Lock);
  Log += Line;
  Log += '\n';
}

std::string Text(const char* Value) {
  return Value ? Value : "null";
}

void CloseOutput() {
  if (Output)
    std::fclose(Output);
  Output = nullptr;
}

} // namespace

extern "C" {

void MACRecording_Reset(void) {
  std::lock_guard Guard(Lock);
  Log.clear();
  Lend = FrameBytes;
  CreateError = 0;
  StartResult = 0;
  UnlockResult = 0;
  FinishResult = 0;
  TagResult = 0;
}

const char* MACRecording_Log(void) {
  std::lock_guard Guard(Lock);
  LogCopy = Log;
  return LogCopy.c_str();
}

void MACRecording_Note(const char* Line) {
  Record(Line);
}

void MACRecording_SetLend(int32_t Bytes) {
  Lend = Bytes < FrameBytes ? Bytes : FrameBytes;
}

void MACRecording_SetCreateError(int32_t Error) {
  CreateError = Error;
}

void MACRecording_SetStartResult(int32_t Result) {
  StartResult = Result;
}

void MACRecording_SetUnlockResult(int32_t Result) {
  UnlockResult = Result;
}

void MACRecording_SetFinishResult(int32_t Result) {
  FinishResult = Result;
}

void MACRecording_SetTagResult(int32_t Result) {
  TagResult = Result;
}

intptr_t c_APECompress_Create(int32_t* errorCode) {
  Record("Create");
  *errorCode = CreateError;
  return reinterpret_cast<intptr_t>(&Compressor);
}

void c_APECompress_Destroy(intptr_t handle) {
  Record(handle == reinterpret_cast<intptr_t>(&Compressor) ? "Destroy" : "Destroy(unknown)");
  CloseOutput();
}

int32_t FillWaveFormatEx(WAVEFORMATEX* format, int32_t sampleRate, int32_t bitsPerSample,
                         int32_t channels) {
  Record("FillWaveFormatEx(" + std::to_string(sampleRate) + "," + std::to_string(bitsPerSample) +
         "," + std::to_string(channels) + ")");
  const int32_t BlockAlign = bitsPerSample / 8 * channels;
  *format = {1,
             static_cast<uint16_t>(channels),
             static_cast<uint32_t>(sampleRate),
             static_cast<uint32_t>(sampleRate * BlockAlign),
             static_cast<uint16_t>(BlockAlign),
             static_cast<uint16_t>(bitsPerSample),
             0};
  return 0;
}

int32_t c_APECompress_Start(intptr_t, const char* outputFile, const WAVEFORMATEX* format,
                            int32_t maxAudioBytes, int32_t compressionLevel, const void* headerData,
                            int32_t headerBytes) {
  Record("Start(" + Text(outputFile) + ";" + std::to_string(format->wFormatTag) + "," +
         std::to_string(format->nChannels) + "," + std::to_string(format->nSamplesPerSec) + "," +
         std::to_string(format->nAvgBytesPerSec) + "," + std::to_string(format->nBlockAlign) + "," +
         std::to_string(format->wBitsPerSample) + ";" + std::to_string(maxAudioBytes) + ";" +
         std::to_string(compressionLevel) + ";" + (headerData ? "data" : "null") + "," +
         std::to_string(headerBytes) + ")");
  if (StartResult != 0)
    return StartResult;
  Output = std::fopen(outputFile, "wb");
  return Output ? 0 : 1003;
}

uint8_t* c_APECompress_LockBuffer(intptr_t, int32_t* bytesAvailable) {
  Record("Lock=" + std::to_string(Lend));
  *bytesAvailable = Lend;
  return Buffer.data();
}

int32_t c_APECompress_UnlockBuffer(intptr_t, int32_t bytesAdded, int32_t process) {
  Record("Unlock(" + std::to_string(bytesAdded) + "," + std::to_string(process) + ")");
  if (Output && bytesAdded > 0)
    std::fwrite(Buffer.data(), 1, static_cast<size_t>(bytesAdded), Output);
  return UnlockResult;
}

int32_t c_APECompress_Finish(intptr_t, const void* terminatingData, int32_t terminatingBytes,
                             int32_t wavTerminatingBytes) {
  Record("Finish(" + std::string(terminatingData ? "data" : "null") + "," +
         std::to_string(terminatingBytes) + "," + std::to_string(wavTerminatingBytes) + ")");
  CloseOutput();
  return FinishResult;
}

int32_t TagFileSimple(const char* file, const char* artist, const char* album, const char* title,
                      const char* comment, const char* genre, const char* year, const char* track,
                      int32_t clearBuffer, int32_t useOldID3) {
  Record("TagFileSimple(" + Text(file) + ";" + Text(artist) + ";" + Text(album) + ";" +
         Text(title) + ";" + Text(comment) + ";" + Text(genre) + ";" + Text(year) + ";" +
         Text(track) + ";" + std::to_string(clearBuffer) + ";" + std::to_string(useOldID3) + ")");
  return TagResult;
}
}
