// The C interface: every entry point catches everything and answers with a result code.
#include "libs/MACDll/MACDll.h"

#include "libs/MACDll/ApeTag.h"
#include "libs/MACDll/Compressor.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace {

// The live compressors by handle, so that a stale or made-up handle is refused.
std::mutex HandlesLock;
std::map<intptr_t, std::unique_ptr<mac::TCompressor>> Handles;

mac::TCompressor* Find(intptr_t Handle) {
  const std::lock_guard Lock(HandlesLock);
  const auto Found = Handles.find(Handle);
  return Found == Handles.end() ? nullptr : Found->second.get();
}

template <typename TCall> int32_t Guarded(TCall Call) {
  try {
    return Call();
  } catch (const std::bad_alloc&) {
    return MAC_ERROR_INSUFFICIENT_MEMORY;
  } catch (...) {
    return MAC_ERROR_UNDEFINED;
  }
}

template <typename TCall> int32_t WithCompressor(intptr_t Handle, TCall Call) {
  return Guarded([&] {
    mac::TCompressor* Compressor = Find(Handle);
    return Compressor == nullptr ? MAC_ERROR_BAD_PARAMETER : Call(*Compressor);
  });
}

std::string Text(const char* Value) {
  return Value == nullptr ? std::string() : Value;
}

} // namespace

extern "C" {

intptr_t c_APECompress_Create(int32_t* errorCode) {
  intptr_t Handle = 0;
  const int32_t Error = Guarded([&] {
    auto Compressor = std::make_unique<mac::TCompressor>();
    Handle = reinterpret_cast<intptr_t>(Compressor.get());
    const std::lock_guard Lock(HandlesLock);
    Handles.emplace(Handle, std::move(Compressor));
    return MAC_ERROR_SUCCESS;
  });
  if (Error != MAC_ERROR_SUCCESS)
    Handle = 0;
  if (errorCode != nullptr)
    *errorCode = Error;
  return Handle;
}

void c_APECompress_Destroy(intptr_t handle) {
  Guarded([&] {
    std::unique_ptr<mac::TCompressor> Compressor;
    const std::lock_guard Lock(HandlesLock);
    const auto Found = Handles.find(handle);
    if (Found != Handles.end()) {
      Compressor = std::move(Found->second);
      Handles.erase(Found);
    }
    return MAC_ERROR_SUCCESS;
  });
}

int32_t c_APECompress_Start(intptr_t handle, const char* outputFile, const WAVEFORMATEX* format,
                            int32_t maxAudioBytes, int32_t compressionLevel, const void* headerData,
                            int32_t headerBytes) {
  return WithCompressor(handle, [&](mac::TCompressor& C) {
    return C.Start(outputFile, format, maxAudioBytes, compressionLevel, headerData, headerBytes);
  });
}

uint8_t* c_APECompress_LockBuffer(intptr_t handle, int32_t* bytesAvailable) {
  uint8_t* Buffer = nullptr;
  if (bytesAvailable != nullptr)
    *bytesAvailable = 0;
  WithCompressor(handle, [&](mac::TCompressor& C) {
    Buffer = C.LockBuffer(bytesAvailable);
    return MAC_ERROR_SUCCESS;
  });
  return Buffer;
}

int32_t c_APECompress_UnlockBuffer(intptr_t handle, int32_t bytesAdded, int32_t process) {
  return WithCompressor(
      handle, [&](mac::TCompressor& C) { return C.UnlockBuffer(bytesAdded, process != 0); });
}

int32_t c_APECompress_AddData(intptr_t handle, const uint8_t* data, int32_t bytes) {
  return WithCompressor(handle, [&](mac::TCompressor& C) {
    if (bytes < 0 || (bytes > 0 && data == nullptr))
      return int32_t{MAC_ERROR_BAD_PARAMETER};
    for (int32_t Done = 0; Done < bytes;) {
      int32_t Available = 0;
      uint8_t* Buffer = C.LockBuffer(&Available);
      if (Buffer == nullptr)
        return int32_t{MAC_ERROR_BAD_PARAMETER};
      const int32_t Count = std::min(Available, bytes - Done);
      std::copy(data + Done, data + Done + Count, Buffer);
      Done += Count;
      if (const int32_t Error = C.UnlockBuffer(Count, true))
        return Error;
    }
    return int32_t{MAC_ERROR_SUCCESS};
  });
}

int32_t c_APECompress_GetBufferBytesAvailable(intptr_t handle) {
  int32_t Available = 0;
  WithCompressor(handle, [&](mac::TCompressor& C) {
    Available = C.BytesAvailable();
    return MAC_ERROR_SUCCESS;
  });
  return Available;
}

int32_t c_APECompress_Finish(intptr_t handle, const void* terminatingData, int32_t terminatingBytes,
                             int32_t wavTerminatingBytes) {
  return WithCompressor(handle, [&](mac::TCompressor& C) {
    return C.Finish(terminatingData, terminatingBytes, wavTerminatingBytes);
  });
}

int32_t c_APECompress_Kill(intptr_t) {
  return MAC_ERROR_UNDEFINED;
}

int32_t FillWaveFormatEx(WAVEFORMATEX* format, int32_t sampleRate, int32_t bitsPerSample,
                         int32_t channels) {
  if (format == nullptr || sampleRate <= 0 || bitsPerSample <= 0 || bitsPerSample % 8 != 0 ||
      channels <= 0 || channels > 0xFFFF || bitsPerSample / 8 * channels > 0xFFFF)
    return MAC_ERROR_BAD_PARAMETER;
  const int32_t BlockAlign = bitsPerSample / 8 * channels;
  format->wFormatTag = MAC_WAVE_FORMAT_PCM;
  format->nChannels = static_cast<uint16_t>(channels);
  format->nSamplesPerSec = static_cast<uint32_t>(sampleRate);
  format->nAvgBytesPerSec = static_cast<uint32_t>(sampleRate) * static_cast<uint32_t>(BlockAlign);
  format->nBlockAlign = static_cast<uint16_t>(BlockAlign);
  format->wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
  format->cbSize = 0;
  return MAC_ERROR_SUCCESS;
}

int32_t TagFileSimple(const char* file, const char* artist, const char* album, const char* title,
                      const char* comment, const char* genre, const char* year, const char* track,
                      int32_t clearBuffer, int32_t useOldID3) {
  if (file == nullptr || *file == '\0')
    return MAC_ERROR_BAD_PARAMETER;
  return Guarded([&] {
    const mac::TTagFields Fields = {{"Artist", Text(artist)}, {"Album", Text(album)},
                                    {"Title", Text(title)},   {"Comment", Text(comment)},
                                    {"Genre", Text(genre)},   {"Year", Text(year)},
                                    {"Track", Text(track)}};
    return mac::RewriteTag(file, Fields, clearBuffer != 0, useOldID3 != 0);
  });
}

int32_t GetVersionNumber(void) {
  return MAC_FILE_VERSION;
}

int32_t ProgressCallback(int32_t) {
  return MAC_ERROR_UNDEFINED;
}
int32_t RemoveTag(const char*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t CompressFile(const char*, const char*, int32_t, int32_t*, void*, int32_t*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t ConvertFile(const char*, const char*, int32_t, int32_t*, void*, int32_t*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t DecompressFile(const char*, const char*, int32_t*, void*, int32_t*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t VerifyFile(const char*, int32_t*, void*, int32_t*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t FillWaveHeader(void*, int32_t, const WAVEFORMATEX*, int32_t) {
  return MAC_ERROR_UNDEFINED;
}
int32_t GetID3Tag(const char*, void*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t GetInterfaceCompatibility(int32_t, int32_t, void*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t ShowFileInfoDialog(const char*, void*) {
  return MAC_ERROR_UNDEFINED;
}
int32_t c_APEDecompress_Destroy(intptr_t) {
  return MAC_ERROR_UNDEFINED;
}
int32_t c_APEDecompress_GetData(intptr_t, char*, int32_t, int32_t*) {
  return MAC_ERROR_UNDEFINED;
}
intptr_t c_APEDecompress_GetInfo(intptr_t, int32_t, intptr_t, intptr_t) {
  return MAC_ERROR_UNDEFINED;
}
int32_t c_APEDecompress_Seek(intptr_t, int32_t) {
  return MAC_ERROR_UNDEFINED;
}

} // extern "C"
