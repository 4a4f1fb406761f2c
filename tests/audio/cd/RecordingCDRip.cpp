// A stand-in of the ripping library that records the calls made to it and answers from what
// the test set.
#include "tests/audio/cd/RecordingCDRip.h"

#include "libs/cdrip/cdrip.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct TState {
  int32_t Drives = 1;
  std::string Name = "D: Recording drive";
  std::vector<TOCENTRY> Toc;
  int32_t ReadTocResult = 0;
  int32_t MediaState = 0;
  int32_t Playing = 0;
  std::vector<int32_t> Chunks;
  size_t NextChunk = 0;
  uint64_t Delivered = 0;
  std::string Log;
  std::string LogCopy;
};

std::mutex Lock;
TState State;

void Record(const std::string& Call) {
  State.Log += Call;
  State.Log += '\n';
}

} // namespace

extern "C" {

void Recording_Reset(void) {
  std::lock_guard Guard(Lock);
  State = TState();
}

void Recording_SetDrives(int32_t Count, const char* Name) {
  std::lock_guard Guard(Lock);
  State.Drives = Count;
  State.Name = Name;
}

void Recording_SetToc(const uint32_t* Starts, const uint8_t* Flags, int32_t Tracks) {
  std::lock_guard Guard(Lock);
  State.Toc.clear();
  for (int32_t I = 0; I <= Tracks; ++I)
    State.Toc.push_back({Starts[I], Flags[I], static_cast<uint8_t>(I + 1)});
}

void Recording_SetReadTocResult(int32_t Result) {
  std::lock_guard Guard(Lock);
  State.ReadTocResult = Result;
}

void Recording_SetMediaState(int32_t MediaState) {
  std::lock_guard Guard(Lock);
  State.MediaState = MediaState;
}

void Recording_SetPlaying(int32_t Playing) {
  std::lock_guard Guard(Lock);
  State.Playing = Playing;
}

void Recording_SetChunks(const int32_t* Sizes, int32_t Count) {
  std::lock_guard Guard(Lock);
  State.Chunks.assign(Sizes, Sizes + Count);
  State.NextChunk = 0;
  State.Delivered = 0;
}

const char* Recording_Log(void) {
  std::lock_guard Guard(Lock);
  State.LogCopy = State.Log;
  return State.LogCopy.c_str();
}

void Recording_ClearLog(void) {
  std::lock_guard Guard(Lock);
  State.Log.clear();
}

int32_t CR_Init(const char* IniPath) {
  std::lock_guard Guard(Lock);
  Record(std::string("CR_Init(") + IniPath + ")");
  return 0;
}

int32_t CR_DeInit(void) {
  std::lock_guard Guard(Lock);
  Record("CR_DeInit");
  return 0;
}

int32_t CR_GetNumCDROM(void) {
  std::lock_guard Guard(Lock);
  Record("CR_GetNumCDROM");
  return State.Drives;
}

int32_t CR_SetActiveCDROM(int32_t Index) {
  std::lock_guard Guard(Lock);
  Record("CR_SetActiveCDROM(" + std::to_string(Index) + ")");
  return 0;
}

int32_t CR_GetCDROMParameters(void* Record364) {
  std::lock_guard Guard(Lock);
  Record("CR_GetCDROMParameters");
  // Bytes after the name that a reader must not take for part of it.
  std::memset(Record364, 'x', 364);
  std::memcpy(Record364, State.Name.c_str(), State.Name.size() + 1);
  return 0;
}

int32_t CR_ReadToc(void) {
  std::lock_guard Guard(Lock);
  Record("CR_ReadToc");
  return State.ReadTocResult;
}

int32_t CR_GetNumTocEntries(void) {
  std::lock_guard Guard(Lock);
  Record("CR_GetNumTocEntries");
  return State.Toc.empty() ? 0 : static_cast<int32_t>(State.Toc.size()) - 1;
}

TOCENTRY CR_GetTocEntry(int32_t Index) {
  std::lock_guard Guard(Lock);
  Record("CR_GetTocEntry(" + std::to_string(Index) + ")");
  if (Index < 0 || static_cast<size_t>(Index) >= State.Toc.size())
    return {0, 0, 0};
  return State.Toc[static_cast<size_t>(Index)];
}

int32_t CR_IsMediaLoaded(int32_t* MediaState) {
  std::lock_guard Guard(Lock);
  Record("CR_IsMediaLoaded(" + std::to_string(*MediaState) + ")");
  *MediaState = State.MediaState;
  return 0;
}

int32_t CR_IsAudioPlaying(void) {
  std::lock_guard Guard(Lock);
  Record("CR_IsAudioPlaying");
  return State.Playing;
}

int32_t CR_EjectCD(int32_t Eject) {
  std::lock_guard Guard(Lock);
  Record("CR_EjectCD(" + std::to_string(Eject) + ")");
  return 0;
}

int32_t CR_OpenRipper(int32_t* BufferSize, int32_t StartSector, int32_t EndSector) {
  std::lock_guard Guard(Lock);
  Record("CR_OpenRipper(" + std::to_string(*BufferSize) + "," + std::to_string(StartSector) + "," +
         std::to_string(EndSector) + ")");
  return 0;
}

int32_t CR_RipChunk(uint8_t* Buffer, int32_t* NumBytes, int32_t* Abort) {
  std::lock_guard Guard(Lock);
  Record("CR_RipChunk(" + std::to_string(*Abort) + ")");
  const int32_t Size = State.NextChunk < State.Chunks.size() ? State.Chunks[State.NextChunk++] : 0;
  if (Size < 0) {
    *NumBytes = 0;
    return -Size;
  }
  // A count beyond the buffer may be reported, to test the reader; never written.
  const int32_t Written = std::clamp(Size, 0, 176400);
  for (int32_t I = 0; I < Written; ++I)
    Buffer[I] = static_cast<uint8_t>((State.Delivered + static_cast<uint64_t>(I)) % 251);
  State.Delivered += static_cast<uint64_t>(Written);
  *NumBytes = Size;
  return 0;
}

int32_t CR_CloseRipper(void) {
  std::lock_guard Guard(Lock);
  Record("CR_CloseRipper");
  return 0;
}
}
